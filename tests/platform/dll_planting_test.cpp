// A DLL named like a system DLL the programs use, dropped beside a copy of
// the program (a download folder): the programs must not load it, not for
// an import and not at run time. Each case first shows that the attack
// works against a program importing that DLL statically, in the same folder
// with the same loader settings, so a clean result means something.
#include "payload/archive_builder.h"
#include "support/test_support.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

// Under Wine, built-in DLLs win over DLLs beside the program unless told
// otherwise; "native first" for a program gives the search order of
// Windows. Wine reads this per program name from the registry (an
// environment block handed to CreateProcessW does not reach its loader).
class native_first {
public:
    native_first(std::wstring program, const std::wstring& module)
        : key_(L"Software\\Wine\\AppDefaults\\" + std::move(program))
    {
        HKEY overrides = nullptr;
        const std::wstring path = key_ + L"\\DllOverrides";
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &overrides,
                            nullptr) != ERROR_SUCCESS) {
            ADD_FAILURE() << "cannot create the loader overrides";
            return;
        }
        RegSetValueExW(overrides, module.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(L"native,builtin"),
                       sizeof L"native,builtin");
        RegCloseKey(overrides);
    }
    native_first(const native_first&) = delete;
    native_first& operator=(const native_first&) = delete;
    ~native_first() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }

private:
    std::wstring key_;
};

// Starts the program in its folder, lets it run until it ends or waits for
// input (a window on screen), and ends it then. The exit code when it ended
// on its own.
std::optional<DWORD> run_in_folder(const fs::path& program, const wchar_t* arguments = L"")
{
    std::wstring command_line = L"\"" + program.native() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        program.parent_path().c_str(), &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW failed with error " << GetLastError();
        return std::nullopt;
    }
    CloseHandle(process.hThread);
    // A program showing a window (or a message box) has done its loading.
    const bool waits_for_input = WaitForInputIdle(process.hProcess, 20000) == 0;
    std::optional<DWORD> exit_code;
    if (WaitForSingleObject(process.hProcess, waits_for_input ? 2000 : 20000) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        exit_code = code;
    }
    else {
        TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, 10000);
    }
    CloseHandle(process.hProcess);
    return exit_code;
}

struct program_case {
    const char* name;
    const wchar_t* build_path;
    // A program importing the same system DLLs and running no code: a
    // planted DLL it loads is pulled in by those system DLLs themselves.
    const wchar_t* same_imports;
    bool must_end_with_zero;
    const wchar_t* arguments = L"";
};

void PrintTo(const program_case& c, std::ostream* out) { *out << c.name; }

const program_case programs[] = {
    {"installer", L"src\\Quillmar3Setup.exe", L"tests\\platform\\planting\\system_imports_probe.exe", false},
    {"startup_probe", L"tests\\core\\startup_probe.exe", L"tests\\platform\\planting\\system_imports_probe.exe",
     false},
    {"hardened_probe", L"tests\\platform\\planting\\hardened_probe.exe", nullptr, true},
    {"product", L"src\\product\\Quillmar.exe", L"tests\\platform\\planting\\system_imports_probe.exe", false},
    // An unknown option ends the uninstaller right after its start-up, before
    // it could look for an installation to remove.
    {"uninstaller", L"src\\product\\Uninstall.exe", L"tests\\platform\\planting\\system_imports_probe.exe", false,
     L"/hv-unknown-option"},
};

// The system DLLs outside KnownDLLs that the programs use.
const wchar_t* const planted_names[] = {L"version", L"bcrypt"};

class planted_dll : public testing::TestWithParam<std::tuple<program_case, const wchar_t*>> {
protected:
    void SetUp() override
    {
        module_ = std::get<1>(GetParam());
        fs::copy_file(test_support::build_file(L"tests\\platform\\planting\\planted.dll"),
                      folder_.path() / (module_ + L".dll"));
    }

    // A copy of the program beside the planted DLL, under a name of this
    // test process, with the loader overrides for that name.
    fs::path place(const wchar_t* build_path)
    {
        const fs::path source = test_support::build_file(build_path);
        const std::wstring name = L"hv-" + std::to_wstring(GetCurrentProcessId()) + L"-" + source.filename().native();
        overrides_.push_back(std::make_unique<native_first>(name, module_));
        const fs::path copy = folder_.path() / name;
        fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
        return copy;
    }

    // Whether the planted DLL ran (its marker is named as the loader was
    // asked for the DLL, e.g. "VERSION.dll.loaded"); removes the marker.
    bool take_marker()
    {
        bool found = false;
        for (const auto& entry : fs::directory_iterator(folder_.path()))
            if (entry.path().extension() == L".loaded") {
                found = true;
                fs::remove(entry.path());
            }
        return found;
    }

    payload_test::scratch_folder folder_;
    std::wstring module_;
    std::vector<std::unique_ptr<native_first>> overrides_;
};

TEST_P(planted_dll, IsNotLoaded)
{
    const program_case& program = std::get<0>(GetParam());
    const std::string module(module_.begin(), module_.end());

    run_in_folder(place(L"tests\\platform\\planting\\static_import_probe.exe"));
    ASSERT_TRUE(take_marker()) << "a static import must take the planted " << module
                               << ".dll, or this folder proves nothing";

    if (program.same_imports) {
        run_in_folder(place(program.same_imports));
        if (take_marker())
            GTEST_SKIP() << "the system DLLs of this loader load the planted " << module
                         << ".dll through their own imports before any code of the program runs (Wine's "
                            "user32 imports version.dll; Windows' user32 does not), so the program cannot be "
                            "checked here";
    }

    const auto exit_code = run_in_folder(place(program.build_path), program.arguments);
    EXPECT_FALSE(take_marker()) << "the program loaded the planted " << module << ".dll";
    if (program.must_end_with_zero) {
        EXPECT_EQ(exit_code, std::optional<DWORD>{0}) << "the real system functions answer";
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, planted_dll,
                         testing::Combine(testing::ValuesIn(programs), testing::ValuesIn(planted_names)),
                         [](const auto& info) {
                             const wchar_t* module = std::get<1>(info.param);
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::string(module, module + wcslen(module));
                         });

}
