#include "platform/private_folder.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include <gtest/gtest.h>

#include "records/log_test_support.h"

namespace fs = std::filesystem;

namespace {

std::error_code error_of(const std::function<void()>& step)
{
    try {
        step();
    }
    catch (const std::system_error& e) {
        return e.code();
    }
    return {};
}

std::vector<BYTE> well_known(WELL_KNOWN_SID_TYPE type)
{
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    EXPECT_TRUE(CreateWellKnownSid(type, nullptr, sid.data(), &size));
    return sid;
}

TEST(PrivateFolder, IsMadeNewAndNeverTakenOverWhenItExists)
{
    scratch_folder scratch(L"private folder");
    const fs::path folder = scratch / L"run";
    EXPECT_EQ(error_of([&] { create_private_folder(folder.wstring()); }), std::error_code());
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(error_of([&] { create_private_folder(folder.wstring()); }),
              std::error_code(ERROR_ALREADY_EXISTS, std::system_category()))
        << "a folder somebody made first is not ours";
}

TEST(PrivateFolder, AnExistingStorageIsTakenOnlyWhenItIsAFolderOfATrustedOwner)
{
    scratch_folder scratch(L"private folder");
    const fs::path mine = scratch / L"made by this user";
    fs::create_directories(mine);
    EXPECT_EQ(error_of([&] { ensure_private_folder(mine.wstring()); }), std::error_code());
    const fs::path missing = scratch / L"not there yet";
    EXPECT_EQ(error_of([&] { ensure_private_folder(missing.wstring()); }), std::error_code());
    EXPECT_TRUE(fs::is_directory(missing));
    const fs::path file = scratch / L"a file";
    std::ofstream(file) << "x";
    EXPECT_NE(error_of([&] { ensure_private_folder(file.wstring()); }), std::error_code());

    // A link standing where the storage goes, made by another user to have
    // the elevated programs work in a folder of that user's choosing.
    const fs::path elsewhere = scratch / L"elsewhere";
    fs::create_directories(elsewhere);
    const fs::path link = scratch / L"link";
    if (!CreateSymbolicLinkW(link.c_str(), elsewhere.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
        GTEST_SKIP() << "this system makes no symbolic link here (error " << GetLastError() << ")";
    const DWORD attributes = GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "CreateSymbolicLinkW reported success but no link shows at its path (attributes "
                     << attributes << "); Wine makes no Windows symbolic links, so the refusal of a link is "
                     << "only read here";
    EXPECT_EQ(error_of([&] { ensure_private_folder(link.wstring()); }),
              std::error_code(ERROR_CANT_ACCESS_FILE, std::system_category()));
}

TEST(PrivateFolder, TrustedOwnersAreTheAdministratorsTheSystemAndTheUserItself)
{
    auto administrators = well_known(WinBuiltinAdministratorsSid);
    auto system = well_known(WinLocalSystemSid);
    auto users = well_known(WinBuiltinUsersSid);
    auto everyone = well_known(WinWorldSid);
    auto authenticated = well_known(WinAuthenticatedUserSid);
    EXPECT_TRUE(is_trusted_owner(administrators.data(), nullptr));
    EXPECT_TRUE(is_trusted_owner(system.data(), nullptr));
    EXPECT_FALSE(is_trusted_owner(users.data(), nullptr));
    EXPECT_FALSE(is_trusted_owner(everyone.data(), nullptr));
    EXPECT_FALSE(is_trusted_owner(authenticated.data(), administrators.data()));
    EXPECT_TRUE(is_trusted_owner(users.data(), users.data())) << "the process's own user";
    EXPECT_FALSE(is_trusted_owner(nullptr, users.data()));
}

}
