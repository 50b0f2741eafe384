#include "platform/known_folders.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(KnownFolders, FoundFolderWithoutReport)
{
    std::vector<HRESULT> reported;
    const std::wstring folder = known_folder(FOLDERID_ProgramFiles, [&](HRESULT hr) { reported.push_back(hr); });
    EXPECT_FALSE(folder.empty());
    EXPECT_TRUE(reported.empty());

    std::wstring direct;
    ASSERT_EQ(query_known_folder(FOLDERID_ProgramFiles, direct), S_OK);
    EXPECT_EQ(folder, direct);
}

TEST(KnownFolders, UnknownFolderIsReportedAndEmpty)
{
    // {6b1d2f5e-...}: an id the shell does not know.
    constexpr KNOWNFOLDERID unknown{0x6b1d2f5e, 0x1c0a, 0x4c2b, {0x9a, 0x3e, 0x61, 0x2d, 0x7f, 0x40, 0x11, 0x05}};
    std::wstring path = L"unchanged";
    EXPECT_TRUE(FAILED(query_known_folder(unknown, path)));
    EXPECT_EQ(path, L"unchanged");

    std::vector<HRESULT> reported;
    EXPECT_EQ(known_folder(unknown, [&](HRESULT hr) { reported.push_back(hr); }), L"");
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_TRUE(FAILED(reported[0]));
}

TEST(KnownFolders, FailureFromTheSourceWithAndWithoutReport)
{
    const known_folder_source failing = [](const KNOWNFOLDERID&, std::wstring&) { return E_ACCESSDENIED; };
    std::vector<HRESULT> reported;
    EXPECT_EQ(known_folder(FOLDERID_ProgramFiles, [&](HRESULT hr) { reported.push_back(hr); }, failing), L"");
    EXPECT_EQ(reported, std::vector<HRESULT>{E_ACCESSDENIED});
    EXPECT_EQ(known_folder(FOLDERID_ProgramFiles, {}, failing), L"");
}

}
