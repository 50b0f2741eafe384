#include "records/owned_folders.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

namespace {

owned_folders sample_folders()
{
    owned_folders folders;
    folders.install_folder = L"C:\\Program Files\\Halden & Voss\\Quillmar 3";
    folders.data_folders = {folders.install_folder, L"C:\\ProgramData\\Halden & Voss",
                            L"C:\\users\\ann\\AppData\\Roaming\\Halden & Voss"};
    folders.desktop_folders = {L"C:\\users\\Public\\Desktop", L"C:\\users\\ann\\Desktop"};
    folders.menu_folders = {L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"};
    return folders;
}

TEST(link_check_root, StartsWhereTheInstallationStartsAndElseAtTheDrive)
{
    const struct {
        const wchar_t* path;
        const wchar_t* root;
    } cases[] = {
        {L"C:\\Program Files\\Halden & Voss\\Quillmar 3\\Lang\\Quillmar.de.dll",
         L"C:\\Program Files\\Halden & Voss\\Quillmar 3"},
        {L"C:\\ProgramData\\Halden & Voss\\Quillmar\\Styles.ini", L"C:\\ProgramData\\Halden & Voss"},
        {L"c:\\programdata\\halden & voss\\Styles.ini", L"C:\\ProgramData\\Halden & Voss"},
        {L"C:\\users\\ann\\AppData\\Roaming\\Halden & Voss\\user.ini",
         L"C:\\users\\ann\\AppData\\Roaming\\Halden & Voss"},
        {L"C:\\users\\Public\\Desktop\\Quillmar Examples\\Letter.qmd",
         L"C:\\users\\Public\\Desktop\\Quillmar Examples"},
        {L"C:\\users\\ann\\Desktop\\Quillmar 3.05c.lnk", L"C:\\users\\ann\\Desktop"},
        {L"C:\\users\\ann\\Desktop\\a\\b\\deep.qmd", L"C:\\"},
        {L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quillmar 3\\Quillmar 3.05c.lnk",
         L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
        {L"D:\\Elsewhere\\file.txt", L"D:\\"},
        {L"\\\\server\\share\\folder\\file.txt", L"\\\\server\\share"},
        // The data folder itself is no file of the installation's.
        {L"C:\\ProgramData\\Halden & Voss", L"C:\\"},
    };
    const owned_folders folders = sample_folders();
    for (const auto& c : cases)
        EXPECT_EQ(link_check_root(c.path, folders), c.root) << testing::PrintToString(std::wstring(c.path));
}

TEST(link_check_root, AnUnknownInstallationFolderIsNoRoot)
{
    owned_folders folders = sample_folders();
    folders.data_folders[0].clear();
    EXPECT_EQ(link_check_root(L"C:\\Program Files\\Halden & Voss\\Quillmar 3\\Quillmar.exe", folders), L"C:\\");
}

}
