// DLLs named like system DLLs, dropped beside a copy of the program (a
// download folder): the programs must not load them, not for an import and
// not at run time. Each case first shows that the attack works against a
// program loading each of them by name, in the same folder with the same
// loader settings, so a clean result means something; what the system's own
// libraries load by themselves (seen with programs that import the same
// DLLs, and that limit the search first as ours do) is told apart.
#include "payload/archive_builder.h"
#include "support/test_support.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <iostream>
#include <iterator>
#include <set>
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
    template <std::size_t count>
    native_first(std::wstring program, const wchar_t* const (&modules)[count])
        : key_(L"Software\\Wine\\AppDefaults\\" + std::move(program))
    {
        HKEY overrides = nullptr;
        const std::wstring path = key_ + L"\\DllOverrides";
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &overrides,
                            nullptr) != ERROR_SUCCESS) {
            ADD_FAILURE() << "cannot create the loader overrides";
            return;
        }
        for (const wchar_t* module : modules)
            RegSetValueExW(overrides, module, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"native,builtin"),
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

constexpr const wchar_t* system_imports = L"tests\\platform\\planting\\system_imports_probe.exe";

const program_case programs[] = {
    {"installer", L"src\\Quillmar3Setup.exe", system_imports, false},
    {"startup_probe", L"tests\\core\\startup_probe.exe", system_imports, false},
    {"hardened_probe", L"tests\\platform\\planting\\hardened_probe.exe", nullptr, true},
    {"product", L"src\\product\\Quillmar.exe", system_imports, false},
    // An unknown option ends the uninstaller right after its start-up, before
    // it could look for an installation to remove.
    {"uninstaller", L"src\\product\\Uninstall.exe", system_imports, false, L"/hv-unknown-option"},
    // No log beside it: it says so in a message box, which the test ends.
    {"uninstaller_message", L"src\\product\\Uninstall.exe", system_imports, false},
    // The temporary copy that removes the uninstaller, here with a process
    // that does not exist and a program that is not there.
    {"uninstaller_copy", L"src\\product\\Uninstall.exe", system_imports, false,
     L"/cleanup 0 \"C:\\hv-planting-absent\\Uninstall.exe\""},
};

// The system DLLs outside KnownDLLs that the programs use, and those that
// system libraries load by name at run time and that are commonly planted.
const wchar_t* const planted_names[] = {
    L"version", L"bcrypt", L"uxtheme", L"dwmapi", L"cryptbase", L"propsys", L"profapi", L"userenv", L"winmm",
    L"msimg32", L"secur32", L"sspicli", L"textshaping", L"windowscodecs", L"ntmarta", L"imm32", L"shcore",
};

using name_set = std::set<std::wstring>;

std::string names_text(const name_set& names)
{
    std::string text;
    for (const std::wstring& name : names)
        text += (text.empty() ? "" : ", ") + std::string(name.begin(), name.end());
    return text.empty() ? "none" : text;
}

// The delayed removals the temporary copy asks for name its own file and
// folder; those naming `folder` are taken back.
void forget_delayed_removals_in(const fs::path& folder)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                         &size);
        std::vector<std::wstring> strings;
        for (std::size_t start = 0; start < value.size() && value[start];) {
            const std::size_t end = value.find(L'\0', start);
            strings.push_back(value.substr(start, end - start));
            start = end + 1;
        }
        std::wstring kept;
        const std::wstring mark = folder.native();
        for (std::size_t i = 0; i < strings.size(); i += 2) {
            const std::wstring& from = strings[i];
            if (std::search(from.begin(), from.end(), mark.begin(), mark.end(), [](wchar_t a, wchar_t b) {
                    return std::towupper(a) == std::towupper(b);
                }) != from.end())
                continue;
            kept += from + L'\0' + (i + 1 < strings.size() ? strings[i + 1] : L"") + L'\0';
        }
        if (kept.empty())
            RegDeleteValueW(key, L"PendingFileRenameOperations");
        else {
            kept += L'\0';
            RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                           static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
        }
    }
    RegCloseKey(key);
}

class planted_dll : public testing::TestWithParam<program_case> {
protected:
    void SetUp() override
    {
        for (const wchar_t* name : planted_names)
            fs::copy_file(test_support::build_file(L"tests\\platform\\planting\\planted_refusing.dll"),
                          folder_.path() / (std::wstring(name) + L".dll"));
    }

    void TearDown() override { forget_delayed_removals_in(folder_.path()); }

    // A copy of the program beside the planted DLLs, under a name of this
    // test process, with the loader overrides for that name.
    fs::path place(const wchar_t* build_path)
    {
        const fs::path source = test_support::build_file(build_path);
        const std::wstring name = L"hv-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++copies_) + L"-" + source.filename().native();
        overrides_.push_back(std::make_unique<native_first>(name, planted_names));
        const fs::path copy = folder_.path() / name;
        fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
        return copy;
    }

    // The planted DLLs that ran (each leaves "<name>.dll.loaded", named as
    // the loader was asked for it), in lower case; removes the markers.
    name_set take_markers()
    {
        name_set loaded;
        for (const auto& entry : fs::directory_iterator(folder_.path())) {
            if (entry.path().extension() != L".loaded")
                continue;
            std::wstring name = entry.path().stem().stem().native();
            std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return std::towlower(c); });
            loaded.insert(name);
            fs::remove(entry.path());
        }
        return loaded;
    }

    // What the system loads by itself when it runs `control`. A DLL the
    // system imports ends the process before it loads the next one, so the
    // control runs again without what it took until it takes nothing; what
    // it took is no longer planted.
    name_set loaded_by_the_system(const wchar_t* control)
    {
        name_set taken;
        for (int run = 0; run < 8; ++run) {
            run_in_folder(place(control));
            const name_set loaded = take_markers();
            if (loaded.empty())
                break;
            for (const std::wstring& name : loaded)
                fs::remove(folder_.path() / (name + L".dll"));
            taken.insert(loaded.begin(), loaded.end());
        }
        return taken;
    }

    payload_test::scratch_folder folder_;
    int copies_ = 0;
    std::vector<std::unique_ptr<native_first>> overrides_;
};

TEST_P(planted_dll, NoneIsLoaded)
{
    const program_case& program = GetParam();

    std::wstring all_names;
    for (const wchar_t* name : planted_names)
        all_names += std::wstring(L" ") + name + L".dll";
    run_in_folder(place(L"tests\\platform\\planting\\dynamic_load_probe.exe"), all_names.c_str());
    const name_set everything(std::begin(planted_names), std::end(planted_names));
    ASSERT_EQ(take_markers(), everything) << "a load by name must take each planted DLL, or this folder proves "
                                             "nothing for the missing ones";

    // What the system loads by itself: through the imports of its DLLs
    // before any code of a program runs, and after the search is limited.
    name_set system_own;
    if (program.same_imports)
        system_own = loaded_by_the_system(program.same_imports);
    const name_set after_limit = loaded_by_the_system(L"tests\\platform\\planting\\restricted_probe.exe");
    system_own.insert(after_limit.begin(), after_limit.end());
    if (!system_own.empty())
        std::cout << "[   NOTE   ] not checked for " << program.name << ": " << names_text(system_own)
                  << " (the system's own libraries load them by themselves, before or after the search is "
                     "limited; Wine's user32 imports version.dll and imm32.dll, its shell32 shcore.dll, where Windows' "
                     "do not)\n";

    const auto exit_code = run_in_folder(place(program.build_path), program.arguments);
    const name_set ours = take_markers();
    EXPECT_TRUE(ours.empty()) << program.name << " loaded the planted " << names_text(ours);
    if (program.must_end_with_zero) {
        EXPECT_EQ(exit_code, std::optional<DWORD>{0}) << "the real system functions answer";
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, planted_dll, testing::ValuesIn(programs),
                         [](const auto& info) { return std::string(info.param.name); });

}
