// Modules from the system folder, the loader's search limit, and the random
// numbers of the system's generator.
#include "platform/system_library.h"
#include "platform/system_random.h"
#include "payload/archive_builder.h"
#include "support/test_support.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

namespace {

std::wstring folder_of(HMODULE module)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L'\\'));
}

std::wstring system_folder()
{
    wchar_t folder[MAX_PATH];
    return {folder, GetSystemDirectoryW(folder, MAX_PATH)};
}

TEST(SystemModule, ComesFromTheSystemFolderAndIsFreedWithItsOwner)
{
    ASSERT_EQ(GetModuleHandleW(L"version.dll"), nullptr) << "this test loads version.dll itself";
    {
        system_module version(L"version.dll");
        ASSERT_TRUE(version);
        EXPECT_EQ(_wcsicmp(folder_of(version.get()).c_str(), system_folder().c_str()), 0);
        EXPECT_EQ(reinterpret_cast<void*>(version.function<decltype(VerQueryValueW)>("VerQueryValueW")),
                  reinterpret_cast<void*>(GetProcAddress(version.get(), "VerQueryValueW")));

        system_module moved = std::move(version);
        EXPECT_FALSE(version);
        EXPECT_TRUE(moved);
    }
    EXPECT_EQ(GetModuleHandleW(L"version.dll"), nullptr);
}

TEST(SystemModule, RaisesTheSystemErrorOfAMissingLibraryOrFunction)
{
    struct failure_case {
        const wchar_t* library;
        const char* function;
        int error;
    };
    const failure_case cases[] = {
        {L"hv-no-such-library.dll", nullptr, ERROR_MOD_NOT_FOUND},
        {L"version.dll", "HvNoSuchFunction", ERROR_PROC_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.library, c.library + wcslen(c.library)));
        try {
            system_module module(c.library);
            if (c.function)
                module.function<void()>(c.function);
            ADD_FAILURE() << "no error raised";
        }
        catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), std::error_code(c.error, std::system_category()));
        }
    }
}

// A library in the current folder (where a program started from a
// download folder often runs) is no system library.
TEST(DllSearch, LeavesOutTheCurrentFolder)
{
    payload_test::scratch_folder folder;
    const std::filesystem::path planted = test_support::build_file(L"tests\\platform\\planting\\planted.dll");
    std::filesystem::copy_file(planted, folder.path() / L"hv-beside.dll");
    const auto saved = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    struct restore {
        std::filesystem::path path;
        ~restore() { std::filesystem::current_path(path); }
    } const restore_current{saved};

    try {
        system_module module(L"hv-beside.dll");
        ADD_FAILURE() << "loaded from the current folder";
    }
    catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(ERROR_MOD_NOT_FOUND, std::system_category()));
    }
    EXPECT_TRUE(restrict_dll_search());
    const HMODULE plain = LoadLibraryW(L"hv-beside.dll");
    EXPECT_EQ(plain, nullptr) << "the plain search still looks in the current folder";
    if (plain)
        FreeLibrary(plain);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / L"hv-beside.dll.loaded"));
}

TEST(SystemRandom, GivesDistinctVersion4Uuids)
{
    std::set<boost::uuids::uuid> seen;
    for (int i = 0; i < 200; ++i) {
        const auto id = random_uuid();
        EXPECT_EQ(id.version(), boost::uuids::uuid::version_random_number_based);
        EXPECT_EQ(id.variant(), boost::uuids::uuid::variant_rfc_4122);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(SystemRandom, FillsTheWholeBufferAndDrivesStandardDistributions)
{
    // 4096 bytes with a byte value that never occurs would be a broken fill.
    std::array<unsigned char, 4096> bytes{};
    system_random_bytes(bytes.data(), bytes.size());
    std::set<unsigned char> values(bytes.begin(), bytes.end());
    EXPECT_GT(values.size(), 200u);

    system_random_engine engine;
    std::uniform_int_distribution<int> digit(0, 15);
    std::set<int> digits;
    for (int i = 0; i < 1000; ++i)
        digits.insert(digit(engine));
    EXPECT_EQ(digits.size(), 16u);
}

}
