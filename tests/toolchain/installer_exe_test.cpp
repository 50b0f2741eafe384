// The built installer is a real Windows program: it starts, ends, and
// carries its version resource, read back through the Windows version API.
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "ui_driver.h"

namespace {

std::wstring installer_path()
{
    return test_support::build_file(L"src\\Quillmar3Setup.exe");
}

struct version_block {
    std::vector<unsigned char> data;

    explicit version_block(const std::wstring& path)
    {
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        if (size == 0)
            return;
        data.resize(size);
        if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()))
            data.clear();
    }

    std::wstring string_value(const wchar_t* name)
    {
        std::wstring sub_block = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data.data(), sub_block.c_str(), &value, &length) || length == 0)
            return {};
        std::wstring text(static_cast<const wchar_t*>(value), length);
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        return text;
    }
};

TEST(InstallerExecutable, CarriesItsVersionResource)
{
    version_block version(installer_path());
    ASSERT_FALSE(version.data.empty()) << "no version resource";

    EXPECT_EQ(version.string_value(L"ProductName"), L"Install");
    EXPECT_EQ(version.string_value(L"ProductVersion"), L"3.01");
    EXPECT_EQ(version.string_value(L"ApplicationId"), L"Quillmar3");
    EXPECT_EQ(version.string_value(L"SpecialBuild"), L"");

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(version.data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00030001u);
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);

    void* translations = nullptr;
    ASSERT_TRUE(VerQueryValueW(version.data.data(), L"\\VarFileInfo\\Translation", &translations, &length));
    ASSERT_EQ(length, 4u);
    auto pair = static_cast<const WORD*>(translations);
    EXPECT_EQ(pair[0], 0x0409);
    EXPECT_EQ(pair[1], 1200);
}

// What Windows shows in a shipped program's properties: every value there.
TEST(ShippedPrograms, VersionResourcesAreComplete)
{
    const wchar_t* const programs[] = {L"src\\Quillmar3Setup.exe", L"src\\product\\Quillmar.exe",
                                       L"src\\product\\Uninstall.exe"};
    const wchar_t* const names[] = {L"CompanyName",    L"FileDescription", L"LegalCopyright",
                                    L"ProductName",    L"ProductVersion",  L"FileVersion"};
    for (const wchar_t* program : programs) {
        SCOPED_TRACE(std::string(program, program + wcslen(program)));
        version_block version(test_support::build_file(program));
        ASSERT_FALSE(version.data.empty()) << "no version resource";
        for (const wchar_t* name : names)
            EXPECT_NE(version.string_value(name), L"") << std::string(name, name + wcslen(name));
    }
    version_block installer(installer_path());
    EXPECT_EQ(installer.string_value(L"CompanyName"), L"Halden & Voss");
    EXPECT_EQ(installer.string_value(L"FileDescription"), L"Quillmar 3 Setup");
    EXPECT_EQ(installer.string_value(L"FileVersion"), L"3.1.0.0");
}

TEST(InstallerExecutable, CarriesItsIconAndManifest)
{
    HMODULE module = LoadLibraryExW(installer_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(128), RT_GROUP_ICON), nullptr);
    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(manifest, nullptr);
    std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                     SizeofResource(module, manifest));
    EXPECT_NE(text.find("requireAdministrator"), std::string::npos);
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(text.find("PerMonitorV2"), std::string::npos);
    FreeLibrary(module);
}

TEST(InstallerExecutable, StartsAndEndsWithExitCodeZero)
{
    using namespace std::chrono_literals;
    // It opens the wizard and waits for the user: Exit, confirmed, ends it.
    ui_driver::process installer(installer_path(), L"");
    const HWND frame = ui_driver::wait_for_dialog(installer.id(), 30s);
    PostMessageW(ui_driver::control(frame, IDCANCEL), BM_CLICK, 0, 0);
    ui_driver::answer_message_box(ui_driver::wait_for_message_box(installer.id(), frame, 10s), IDYES);
    const auto code = installer.wait_for_exit(30s);
    ASSERT_TRUE(code) << "the installer did not end";
    EXPECT_EQ(*code, 0u);
}

}
