#include "records/owned_folders.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "records/log_test_support.h"

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

TEST(access_for_new_folder, InstallationFoldersOutsideProgramFilesAndSharedDataAreProtectedFromTheStart)
{
    using access = new_folder_access;
    new_folder_places places{L"D:\\Apps\\Quillmar 3", L"C:\\Program Files", L"C:\\ProgramData\\Halden & Voss",
                             {L"C:\\users\\Public\\Desktop", L"C:\\users\\ann\\Desktop"}};
    const struct {
        const wchar_t* install_folder;
        const wchar_t* folder;
        access expected;
    } cases[] = {
        {L"D:\\Apps\\Quillmar 3", L"D:\\Apps\\Quillmar 3", access::installation},
        {L"D:\\Apps\\Quillmar 3", L"d:\\apps", access::installation},
        {L"D:\\Apps\\Quillmar 3", L"D:\\Apps\\Quillmar 3\\Lang", access::inherited},
        {L"C:\\Program Files\\Halden & Voss\\Quillmar 3", L"C:\\Program Files\\Halden & Voss\\Quillmar 3",
         access::inherited},
        {L"C:\\Program Files\\Halden & Voss\\Quillmar 3", L"C:\\Program Files\\Halden & Voss", access::inherited},
        {L"D:\\Apps\\Quillmar 3", L"C:\\ProgramData\\Halden & Voss", access::shared_data},
        {L"D:\\Apps\\Quillmar 3", L"C:\\ProgramData\\Halden & Voss\\Quillmar", access::shared_data},
        {L"D:\\Apps\\Quillmar 3", L"C:\\ProgramData\\Other", access::inherited},
        {L"D:\\Apps\\Quillmar 3", L"C:\\users\\Public\\Desktop\\Quillmar Examples", access::shared_data},
        {L"D:\\Apps\\Quillmar 3", L"C:\\users\\ann\\Desktop\\Quillmar Examples", access::shared_data},
        {L"D:\\Apps\\Quillmar 3", L"C:\\users\\ann\\Desktop\\Quillmar Examples\\Deeper", access::inherited},
        {L"D:\\Apps\\Quillmar 3", L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quillmar 3",
         access::inherited},
        // Installed into the maker's data folder: the installation's own list wins.
        {L"C:\\ProgramData\\Halden & Voss\\Quillmar 3", L"C:\\ProgramData\\Halden & Voss\\Quillmar 3",
         access::installation},
    };
    for (const auto& c : cases) {
        places.install_folder = c.install_folder;
        EXPECT_EQ(access_for_new_folder(c.folder, places), c.expected)
            << testing::PrintToString(std::wstring(c.folder)) << " for "
            << testing::PrintToString(std::wstring(c.install_folder));
    }
    places.program_files.clear();
    places.install_folder = L"C:\\Program Files\\Quillmar 3";
    EXPECT_EQ(access_for_new_folder(L"C:\\Program Files\\Quillmar 3", places), access::installation)
        << "without a known Program Files every installation folder is protected";
}

TEST(new_folder_access_rule, GivesTheListsOfProtectedFolders)
{
    const auto rule = new_folder_access_rule({L"D:\\Apps\\Quillmar 3", L"C:\\Program Files",
                                              L"C:\\ProgramData\\Halden & Voss", {}});
    EXPECT_EQ(rule(L"D:\\Apps\\Quillmar 3"), program_files_access());
    EXPECT_EQ(rule(L"C:\\ProgramData\\Halden & Voss\\Quillmar"), shared_data_access());
    EXPECT_EQ(rule(L"D:\\Apps\\Quillmar 3\\Lang"), std::nullopt);
}

// Every folder the log creates is asked for its list, and only those.
TEST(uninstall_log_folders, EachNewFolderIsMadeWithTheListItsRuleGives)
{
    scratch_folder scratch{L"new folders"};
    uninstall_log log;
    std::vector<std::wstring> asked;
    log.access_for_new_folder = [&](const std::wstring& folder) -> std::optional<access_list> {
        asked.push_back(folder);
        if (folder.ends_with(L"protected"))
            return program_files_access();
        return std::nullopt;
    };
    const std::filesystem::path deepest = scratch / L"protected" / L"inner";
    ASSERT_TRUE(log.create_directories(deepest));
    EXPECT_EQ(asked, (std::vector<std::wstring>{(scratch / L"protected").wstring(), deepest.wstring()}));
    EXPECT_TRUE(std::filesystem::is_directory(deepest));
    ASSERT_EQ(log.current.size(), 2u);
    EXPECT_EQ(log.current[0].path, (scratch / L"protected").wstring());
    asked.clear();
    EXPECT_TRUE(log.create_directories(deepest));
    EXPECT_TRUE(asked.empty()) << "an existing folder is left as it is";
}

}
