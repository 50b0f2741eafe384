#include "platform/string_table.h"

#include <array>

#include "identity/product.h"

namespace {

constexpr LANGID no_language = 0;
constexpr LANGID english_langid = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

struct candidates {
    LANGID wanted;
    std::array<LANGID, 4> slots{};
};

BOOL CALLBACK collect_candidate(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR parameter)
{
    auto& search = *reinterpret_cast<candidates*>(parameter);
    const int slot = string_candidate_slot(search.wanted, language);
    if (slot >= 0)
        search.slots[static_cast<std::size_t>(slot)] = language;
    return TRUE;
}

LPCWSTR block_name(unsigned id)
{
    return MAKEINTRESOURCEW((id >> 4) + 1);
}

bool is_placeholder(string_ref text)
{
    return text == L"#";
}

}

int string_candidate_slot(LANGID wanted, LANGID found)
{
    const LANGID primary = wanted & 0x3FF;
    if (found == wanted)
        return 0;
    if (found == (primary | 0x400))
        return 1;
    if (found == primary)
        return 2;
    if (found == 0x400)
        return 3;
    return -1;
}

string_ref resource_string(HMODULE module, LANGID language, unsigned id)
{
    HRSRC resource = FindResourceExW(module, RT_STRING, block_name(id), language);
    if (!resource)
        return {};
    HGLOBAL loaded = LoadResource(module, resource);
    const auto* position = loaded ? static_cast<const wchar_t*>(LockResource(loaded)) : nullptr;
    const DWORD size = SizeofResource(module, resource);
    if (!position || size == 0)
        return {};
    const wchar_t* end = position + size / sizeof(wchar_t);
    for (unsigned entry = id & 15; entry > 0 && position < end; --entry)
        position += 1 + *position;
    if (position >= end || *position == 0)
        return {};
    const std::size_t length = *position;
    // A damaged block must not make a text run past its end.
    if (length > static_cast<std::size_t>(end - position - 1))
        return {};
    return {position + 1, length};
}

string_ref find_string(language_index index, unsigned id)
{
    HMODULE module = resource_module();
    candidates search{language_langid(index)};
    EnumResourceLanguagesW(module, RT_STRING, block_name(id), collect_candidate,
                           reinterpret_cast<LONG_PTR>(&search));

    string_ref text;
    for (LANGID language : search.slots) {
        if (language == no_language)
            continue;
        text = resource_string(module, language, id);
        if (!text.empty())
            break;
    }
    if (text.empty())
        text = resource_string(module, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), id);
    return is_placeholder(text) ? string_ref{} : text;
}

std::wstring load_string(unsigned id)
{
    language_index language = locale_state::instance().current;
    if (!is_installer_language(language))
        language = 1;
    string_ref text = find_string(language, id);
    if (text.empty() && language != 0) {
        if (language != 1) {
            text = find_string(1, id);
            if (!text.empty())
                return std::wstring(text);
        }
        text = find_string(0, id);
    }
    return std::wstring(text);
}

string_ref load_module_string(unsigned id)
{
    auto lookup = [id](HMODULE module) -> string_ref {
        const wchar_t* text = nullptr;
        // With no buffer the system hands out the text inside the resource.
        const int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
        string_ref found;
        if (length > 0 && text)
            found = {text, static_cast<std::size_t>(length)};
        // A language whose table marks the text absent shows the English one.
        if (found.empty() || is_placeholder(found))
            found = resource_string(module, english_langid, id);
        return is_placeholder(found) ? string_ref{} : found;
    };
    HMODULE module = resource_module();
    string_ref text = lookup(module);
    HMODULE executable = GetModuleHandleW(nullptr);
    if (text.empty() && module != executable)
        text = lookup(executable);
    return text;
}

std::wstring installer_title(bool with_product)
{
    std::wstring title = load_string(1000);
    if (with_product) {
        title += L" \u2013 ";
        title += product_name(false);
    }
    return title;
}
