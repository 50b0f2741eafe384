#include "payload/placeholders.h"

#include "archive_builder.h"
#include "payload/compress_error.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <map>

namespace fs = std::filesystem;

namespace {

using payload_test::narrow;

// Folder lookups with fixed answers; codes not listed have no folder.
folder_lookup folders(std::map<int, std::wstring> table)
{
    return [table](int csidl) {
        const auto it = table.find(csidl);
        return it == table.end() ? std::wstring{} : it->second;
    };
}

const std::map<int, std::wstring> machine = {
    {CSIDL_PROGRAM_FILES, L"C:\\PF"},         {CSIDL_PROGRAM_FILES_COMMON, L"C:\\PF\\Common"},
    {CSIDL_COMMON_APPDATA, L"C:\\CD"},        {CSIDL_APPDATA, L"C:\\U\\AD"},
    {CSIDL_COMMON_DOCUMENTS, L"C:\\CDoc"},    {CSIDL_PERSONAL, L"C:\\U\\Doc"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, L"C:\\CDesk"}, {CSIDL_DESKTOPDIRECTORY, L"C:\\U\\Desk"},
    {CSIDL_WINDOWS, L"C:\\W"},                {CSIDL_SYSTEM, L"C:\\W\\S"},
};

path_placeholders inputs(std::wstring samples = L"Quillmar Examples", std::wstring temporary = L"C:\\T\\halden")
{
    return {L"D:\\Apps\\Q", std::move(samples), std::move(temporary), {}, folders(machine)};
}

std::vector<std::wstring> recorded(const path_placeholders& p)
{
    std::vector<std::wstring> folders;
    for (const auto& f : p.shared_folders)
        folders.push_back(f.folder.native());
    return folders;
}

TEST(ExpandPlaceholders, TokenTable)
{
    const struct {
        const wchar_t* destination;
        const wchar_t* folder;
        std::vector<std::wstring> shared;
    } cases[] = {
        {L"<InstallPath>", L"D:\\Apps\\Q", {}},
        {L"<InstallPath>\\Lang", L"D:\\Apps\\Q\\Lang", {}},
        {L"<InstallPath>/Lang", L"D:\\Apps\\Q\\Lang", {}},
        {L"<ProgramFiles>\\X", L"C:\\PF\\X", {}},
        {L"<ProgramCommon>", L"C:\\PF\\Common", {}},
        {L"<CommonData>\\Halden & Voss\\Quillmar", L"C:\\CD\\Halden & Voss\\Quillmar",
         {L"C:\\CD\\Halden & Voss", L"C:\\CD\\Halden & Voss\\Quillmar"}},
        {L"<UserData>\\Halden & Voss\\Quillmar", L"C:\\U\\AD\\Halden & Voss\\Quillmar", {}},
        {L"<CommonDocuments>\\A\\B", L"C:\\CDoc\\A\\B", {L"C:\\CDoc\\A", L"C:\\CDoc\\A\\B"}},
        {L"<Documents>\\A", L"C:\\U\\Doc\\A", {}},
        {L"<CommonDesktop>\\A", L"C:\\CDesk\\A", {L"C:\\CDesk\\A"}},
        {L"<CommonDesktop>", L"C:\\CDesk", {}},
        {L"<Desktop>\\A", L"C:\\U\\Desk\\A", {}},
        {L"<WinDir>\\Fonts", L"C:\\W\\Fonts", {}},
        {L"<System>", L"C:\\W\\S", {}},
        {L"<Temporary>\\x", L"C:\\T\\halden\\x", {}},
        {L"<installpath>\\Lang", L"Lang", {}},
        {L"<InstallPath>x\\Lang", L"<InstallPath>x\\Lang", {}},
        {L"Lang\\<InstallPath>", L"Lang\\<InstallPath>", {}},
        {L"C:\\Data", L"C:\\Data", {}},
        {L"<Nowhere>\\A", L"A", {}},
        {L"<>", L"", {}},
        {L"", L"", {}},
    };
    for (const auto& c : cases) {
        auto p = inputs();
        EXPECT_EQ(p.expand_placeholders(c.destination).native(), c.folder) << narrow(c.destination);
        EXPECT_EQ(recorded(p), c.shared) << narrow(c.destination);
    }
}


TEST(ExpandPlaceholders, TemporaryFallsBackToTheInstallFolder)
{
    auto p = inputs(L"Quillmar Examples", L"");
    EXPECT_EQ(p.expand_placeholders(L"<Temporary>").native(), L"D:\\Apps\\Q");
}

TEST(ExpandPlaceholders, SamplePathRules)
{
    const struct {
        const wchar_t* samples;
        const wchar_t* destination;
        const wchar_t* folder;
        std::vector<std::wstring> shared;
    } cases[] = {
        {L"", L"<SamplePath>", L"C:\\CDesk", {}},
        {L"", L"<SamplePath>\\A", L"C:\\CDesk\\A", {}},
        {L"E:\\Samples", L"<SamplePath>\\A", L"E:\\Samples\\A", {}},
        {L"Quillmar Examples", L"<SamplePath>", L"C:\\CDesk\\Quillmar Examples", {L"C:\\CDesk\\Quillmar Examples"}},
        {L"Quillmar Examples", L"<SamplePath>\\A\\B", L"C:\\CDesk\\Quillmar Examples\\A\\B",
         {L"C:\\CDesk\\Quillmar Examples"}},
    };
    for (const auto& c : cases) {
        auto p = inputs(c.samples);
        EXPECT_EQ(p.expand_placeholders(c.destination).native(), c.folder) << narrow(c.samples);
        EXPECT_EQ(recorded(p), c.shared) << narrow(c.samples);
    }
}

TEST(ExpandPlaceholders, FallbackFolderIsUsedWhenTheFirstIsMissing)
{
    auto table = machine;
    table.erase(CSIDL_COMMON_APPDATA);
    table.erase(CSIDL_COMMON_DESKTOPDIRECTORY);
    path_placeholders p{L"D:\\Q", L"S", L"", {}, folders(table)};
    EXPECT_EQ(p.expand_placeholders(L"<CommonData>\\H").native(), L"C:\\U\\AD\\H");
    EXPECT_EQ(p.expand_placeholders(L"<SamplePath>").native(), L"C:\\U\\Desk\\S");
    EXPECT_EQ(recorded(p), (std::vector<std::wstring>{L"C:\\U\\AD\\H", L"C:\\U\\Desk\\S"}));
}

TEST(ExpandPlaceholders, MissingFolderIsAnUnexpectedError)
{
    const struct {
        const wchar_t* destination;
        std::vector<int> missing;
    } cases[] = {
        {L"<ProgramFiles>", {CSIDL_PROGRAM_FILES}},
        {L"<CommonData>", {CSIDL_COMMON_APPDATA, CSIDL_APPDATA}},
        {L"<SamplePath>", {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY}},
        {L"<System>\\x", {CSIDL_SYSTEM}},
    };
    for (const auto& c : cases) {
        auto table = machine;
        for (int m : c.missing)
            table.erase(m);
        path_placeholders p{L"D:\\Q", L"S", L"", {}, folders(table)};
        try {
            p.expand_placeholders(c.destination);
            ADD_FAILURE() << narrow(c.destination) << ": no error";
        }
        catch (const std::system_error& e) {
            EXPECT_EQ(e.code(), make_error_code(compress_errc::unexpected_error)) << narrow(c.destination);
        }
    }
}

TEST(ExpandPlaceholders, SharedFoldersAreRecordedOnceInOrder)
{
    auto p = inputs();
    p.expand_placeholders(L"<CommonDocuments>\\A\\B");
    p.expand_placeholders(L"<CommonDocuments>\\A\\B");
    p.expand_placeholders(L"<CommonDocuments>/A/B/");
    p.expand_placeholders(L"<CommonDocuments>\\A\\.\\B\\C");
    p.expand_placeholders(L"<SamplePath>");
    p.expand_placeholders(L"<SamplePath>\\x");
    EXPECT_EQ(recorded(p), (std::vector<std::wstring>{
                               L"C:\\CDoc\\A",
                               L"C:\\CDoc\\A\\B",
                               L"C:\\CDoc\\A\\.\\B\\C", // A\. and A\.\B are A and A\B
                               L"C:\\CDesk\\Quillmar Examples",
                           }));
}

TEST(SameFolder, PathsAndExistingObjects)
{
    payload_test::scratch_folder scratch;
    fs::create_directories(scratch.path() / L"Real");
    const auto real = scratch.path() / L"Real";
    EXPECT_TRUE(same_folder(L"C:\\A\\B", L"C:/A/B"));
    EXPECT_TRUE(same_folder(L"C:\\A\\.\\B", L"C:\\A\\B"));
    EXPECT_TRUE(same_folder(L"C:\\A\\X\\..\\B", L"C:\\A\\B"));
    EXPECT_FALSE(same_folder(L"C:\\A\\B", L"C:\\A\\C"));
    EXPECT_TRUE(same_folder(real, scratch.path() / L"REAL")) << "the file system knows both as one folder";
    EXPECT_FALSE(same_folder(real, scratch.path()));
}

// Each spelling of one folder has one identity; a folder missing at one
// question is found once it was made.
TEST(FolderIdentities, SpellingsOfOneFolderAndFoldersMadeLater)
{
    payload_test::scratch_folder scratch;
    const auto real = scratch.path() / L"Real";
    const auto later = scratch.path() / L"Later";
    fs::create_directories(real);
    folder_identities identities;
    ASSERT_TRUE(identities.of(real));
    EXPECT_EQ(identities.of(real), identities.of(scratch.path() / L"REAL"));
    EXPECT_EQ(identities.of(real), identities.of(scratch.path() / L"Real\\.\\"));
    EXPECT_NE(identities.of(real), identities.of(scratch.path()));
    EXPECT_FALSE(identities.of(later));
    fs::create_directories(later);
    ASSERT_TRUE(identities.of(later));
    EXPECT_NE(identities.of(later), identities.of(real));
}

TEST(ShellFolder, AnswersForTheTokensFolders)
{
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_COMMON_APPDATA, CSIDL_APPDATA, CSIDL_WINDOWS, CSIDL_SYSTEM})
        EXPECT_FALSE(shell_folder(csidl).empty()) << csidl;
    EXPECT_TRUE(shell_folder(0x7F).empty()) << "an unknown code gives no folder";
}

}
