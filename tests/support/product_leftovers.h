// Taking away what an installation of the product left when its own
// uninstallation did not run to the end.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace test_support {

// A folder and everything below it, read-only files included.
inline void remove_tree(const std::filesystem::path& folder)
{
    std::error_code ignored;
    for (auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored))
        SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(folder, ignored);
}

// The product's links, its Uninstall entry, its document type and its
// registered path (`expand` resolves %NAME% in the link paths).
template <class Expand>
void remove_product_entries(Expand expand)
{
    std::error_code ignored;
    for (const wchar_t* link : {L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Quillmar 3.05c.lnk",
                                L"%PUBLIC%\\Desktop\\Quillmar 3.05c.lnk"})
        std::filesystem::remove(expand(link), ignored);
    for (const wchar_t* key : {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3",
                               L"Software\\Classes\\.qmd", L"Software\\Classes\\Quillmar.Document.3"}) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    }
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Halden & Voss", L"Quillmar 3 Path");
}

}
