#include "platform/language.h"

#include <clocale>
#include <locale>
#include <stdexcept>
#include <system_error>

#include <locale.h>

#include "identity/product.h"
#include "platform/registry.h"

namespace {


constexpr LANGID primary_of(LANGID language) { return language & 0x3FF; }
constexpr LANGID sub_language_of(LANGID language) { return language >> 10; }

// -1 when the language has no index, or only sub-languages the installer does not take.
language_index index_of_user_language(LANGID user_language)
{
    const LANGID sub = sub_language_of(user_language);
    switch (primary_of(user_language)) {
    case 0x01: return 21;
    case 0x02: return 8;
    case 0x04: return sub == 2 || sub == 4 ? 10 : -1;
    case 0x05: return 12;
    case 0x06: return 6;
    case 0x07: return 2;
    case 0x08: return 14;
    case 0x09: return 1;
    case 0x0A: return 3;
    case 0x0C: return 0;
    case 0x0D: return 16;
    case 0x0E: return 19;
    case 0x10: return 11;
    case 0x11: return 18;
    case 0x13: return 5;
    case 0x14: return 13;
    case 0x15: return 15;
    case 0x16: return 4;
    case 0x18: return 9;
    case 0x19: return 23;
    case 0x1A:
        if (sub == 1 || sub == 4)
            return 24;
        if (sub == 5 || sub == 8)
            return -1;
        return 20;
    case 0x1F: return 7;
    case 0x24: return 22;
    case 0x2A: return 17;
    default: return -1;
    }
}

std::string narrow_ascii(const wchar_t* text)
{
    std::string result;
    for (; *text; ++text)
        result += static_cast<char>(*text);
    return result;
}

std::wstring locale_text(LCID lcid, LCTYPE type)
{
    wchar_t buffer[85];
    if (GetLocaleInfoW(lcid, type, buffer, 85) == 0)
        return {};
    return buffer;
}

// The older form of a runtime locale name, "FRA_FRA.1252", for runtime
// libraries that refuse names such as "fr-FR".
std::string abbreviated_locale_name(LCID lcid)
{
    std::wstring language = locale_text(lcid, LOCALE_SABBREVLANGNAME);
    std::wstring country = locale_text(lcid, LOCALE_SABBREVCTRYNAME);
    std::wstring code_page = locale_text(lcid, LOCALE_IDEFAULTANSICODEPAGE);
    if (language.empty() || country.empty() || code_page.empty())
        return {};
    return narrow_ascii((language + L'_' + country + L'.' + code_page).c_str());
}

bool set_runtime_categories(const std::string& name)
{
    std::setlocale(LC_ALL, "C");
    if (name.empty())
        return false;
    for (int category : {LC_CTYPE, LC_COLLATE, LC_TIME, LC_MONETARY}) {
        if (!std::setlocale(category, name.c_str())) {
            std::setlocale(LC_ALL, "C");
            return false;
        }
    }
    return true;
}

LCID locale_name_lcid_of(language_index index)
{
    return locale_name_lcid(language_langid(index), GetUserDefaultLangID(), GetUserDefaultLCID());
}

UINT ansi_code_page(LCID lcid)
{
    DWORD code_page = 0;
    if (GetLocaleInfoW(lcid, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&code_page), sizeof code_page / sizeof(wchar_t)) == 0 ||
        code_page == 0)
        return GetACP();
    return code_page;
}

}

std::size_t language_change_signal::connect(std::function<void()> receiver)
{
    receivers_.emplace_back(next_, std::move(receiver));
    return next_++;
}

void language_change_signal::disconnect(std::size_t connection)
{
    std::erase_if(receivers_, [&](const auto& entry) { return entry.first == connection; });
}

void language_change_signal::emit() const
{
    for (const auto& [connection, receiver] : receivers_)
        receiver();
}

locale_state::locale_state() : lcid(language_lcid(0))
{
    _configthreadlocale(_DISABLE_PER_THREAD_LOCALE);
    apply_runtime_locale(0);
    SetThreadLocale(language_lcid(0));
}

locale_state& locale_state::instance()
{
    static locale_state state;
    return state;
}

LANGID language_langid(language_index index)
{
    return language_table.at(static_cast<std::size_t>(index)).langid;
}

LCID language_lcid(language_index index, LCID user_lcid)
{
    const LANGID language = language_langid(index);
    return LANGIDFROMLCID(user_lcid) == language ? user_lcid : MAKELCID(language, SORT_DEFAULT);
}

LCID language_lcid(language_index index)
{
    return language_lcid(index, GetUserDefaultLCID());
}

bool is_installer_language(language_index index)
{
    return index >= 0 && index < language_count &&
           language_table[static_cast<std::size_t>(index)].installer_texts;
}

language_index language_for_user(LANGID user_language, std::uint32_t mask)
{
    const language_index index = index_of_user_language(user_language);
    if (index >= 0 && (mask >> index & 1))
        return index;
    return mask & 2 ? 1 : 0;
}

language_index default_language(std::uint32_t mask, const user_language_source& user_language)
{
    if (mask == 0)
        mask = locale_state::instance().available;
    return language_for_user(user_language(), mask);
}

void set_language(language_index index)
{
    locale_state& state = locale_state::instance();
    const bool changed = index != state.current;
    if (changed)
        apply_runtime_locale(index);
    state.current = index;
    state.lcid = language_lcid(index);
    state.code_page = ansi_code_page(state.lcid);
    state.resource_module = nullptr;
    state.right_to_left = is_right_to_left(index);
    if (changed)
        state.language_changed.emit();
}

void select_initial_language(const user_language_source& user_language)
{
    set_language(default_language(product_language_mask, user_language));

    try {
        const std::wstring entry = product_uninstall_key();
        if (reg_key key = open_key(registry_root::local_machine, entry.c_str())) {
            std::uint32_t recorded = 0;
            // A value from outside the table would index past it.
            if (read_dword(key, L"HvLanguage", recorded) && recorded < language_count)
                set_language(static_cast<language_index>(recorded));
        }
    }
    catch (...) {
        // Whatever goes wrong with the earlier entry leaves the user's language.
    }

    if (!is_installer_language(locale_state::instance().current))
        set_language(1);
}

LCID locale_name_lcid(LANGID language, LANGID user_language, LCID user_lcid)
{
    if (primary_of(user_language) == primary_of(language))
        return LOCALE_USER_DEFAULT;
    if (LANGIDFROMLCID(user_lcid) == language)
        return user_lcid;
    return MAKELCID(language, SORT_DEFAULT);
}

std::string language_locale_name(language_index index)
{
    wchar_t name[85];
    if (LCIDToLocaleName(locale_name_lcid_of(index), name, 85, 0) == 0)
        return {};
    return narrow_ascii(name);
}

void apply_runtime_locale(language_index index)
{
    const std::string name = language_locale_name(index);

    std::locale named = std::locale::classic();
    if (!name.empty()) {
        try {
            named = std::locale(name.c_str());
        }
        catch (const std::runtime_error&) {
            // Not supported by the library: those categories stay classic.
        }
    }
    std::locale::global(std::locale(std::locale(), named,
                                    std::locale::collate | std::locale::ctype |
                                        std::locale::monetary | std::locale::time));

    // The numeric category stays "C" so numbers are always written and read
    // with a full stop.
    if (!set_runtime_categories(name) && !name.empty())
        set_runtime_categories(abbreviated_locale_name(locale_name_lcid_of(index)));
}

bool is_right_to_left(language_index index)
{
    LOCALESIGNATURE signature{};
    static_assert(sizeof signature == 16 * sizeof(wchar_t));
    if (GetLocaleInfoW(language_langid(index), LOCALE_FONTSIGNATURE,
                       reinterpret_cast<LPWSTR>(&signature), 16) == 0)
        return index == 16 || index == 21;
    // Unicode subset bit 123: the locale's script is written right to left.
    return signature.lsUsb[3] >> 27 & 1;
}

std::wstring native_language_name(LCID lcid)
{
    const int length = GetLocaleInfoW(lcid, LOCALE_SNATIVELANGNAME, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring name(static_cast<std::size_t>(length), L'\0');
    const int written = GetLocaleInfoW(lcid, LOCALE_SNATIVELANGNAME, name.data(), length);
    if (written <= 0)
        return {};
    name.resize(static_cast<std::size_t>(written) - 1);
    return name;
}

std::wstring language_list_text(language_index index)
{
    std::wstring name = native_language_name(language_lcid(index));
    if (!name.empty()) {
        const auto first = static_cast<DWORD>(CharNextW(name.c_str()) - name.c_str());
        CharUpperBuffW(name.data(), first);
    }
    return name;
}

HMODULE resource_module()
{
    locale_state& state = locale_state::instance();
    if (!state.resource_module)
        state.resource_module = GetModuleHandleW(nullptr);
    return state.resource_module;
}
