#include "product/product_language.h"

#include <array>
#include <utility>

#include "platform/registry.h"
#include "platform/string_table.h"

namespace {

constexpr std::array<std::pair<language_index, const wchar_t*>, 9> library_codes{{
    {1, L"en"}, {2, L"de"}, {3, L"es"}, {4, L"pt"}, {7, L"tk"}, {9, L"ro"}, {11, L"it"}, {15, L"pl"}, {19, L"hu"},
}};

constexpr language_index french = 0;
constexpr language_index english = 1;

}

language_index product_language()
{
    try {
        reg_key key = open_key(registry_root::local_machine, product_uninstall_key().c_str());
        std::int32_t index = -1;
        if (key && read_dword(key, L"HvLanguage", index) && index >= 0 && index < language_count)
            return index;
    }
    catch (const std::exception&) {
        // An unreadable entry leaves the choice to the user's language.
    }
    return language_for_user(GetUserDefaultLangID(), product_language_mask);
}

std::wstring language_library_name(language_index index)
{
    if (index == french)
        return {};
    for (const auto& [language, code] : library_codes)
        if (language == index)
            return std::wstring(L"Quillmar.") + code + L".dll";
    return language_library_name(english);
}

product_texts::product_texts(const std::wstring& program_folder, language_index index)
{
    const std::wstring name = language_library_name(index);
    if (!name.empty()) {
        const std::wstring path = program_folder + L"\\Lang\\" + name;
        library_ = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        language_ = language_langid(index);
        if (library_ && resource_string(library_, language_, 1).data() == nullptr)
            language_ = language_langid(english);
    }
    if (!library_)
        language_ = language_langid(french);
}

product_texts::~product_texts()
{
    if (library_)
        FreeLibrary(library_);
}

std::wstring product_texts::text(unsigned id) const
{
    const string_ref found = resource_string(library_ ? library_ : GetModuleHandleW(nullptr), language_, id);
    return std::wstring(found);
}
