// Shared pieces of the end-to-end scenarios: the places an installation
// touches, pictures of them, the real installer driven through its wizard,
// and a fixture that needs a prefix without the product and leaves it so.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/machine_state.h"
#include "support/product_leftovers.h"
#include "support/test_support.h"
#include "ui_driver.h"
#include "uninstaller/self_removal_support.h"

namespace e2e {

using namespace std::chrono_literals;
using namespace machine_state;
namespace drv = ui_driver;
namespace fs = std::filesystem;

inline constexpr int back_button = 3;
inline constexpr int status_line = 1003;
inline constexpr int start_page_marker = 1023;
inline constexpr int language_list = 1023;
inline constexpr int mode_page_marker = 1021;
inline constexpr int quick_choice = 1018;
inline constexpr int advanced_choice = 1019;
inline constexpr int folder_edit = 1007;
inline constexpr int desktop_choice = 1010;
inline constexpr int install_page_marker = 1014;
inline constexpr int install_log = 1015;

inline const std::wstring product_key = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3";

std::wstring default_install_folder();
std::wstring examples_folder();
std::vector<std::wstring> watched_keys();
fact_set picture();

// What stays after an uninstallation on purpose: the wizard's remembered
// size under the user's key; and other test programs' scratch folders.
extern const std::vector<std::wstring> left_on_purpose;

std::string read_text(const fs::path& path);

// A state file of tests/e2e/states.
std::vector<fact> state(const wchar_t* name);

// The shipped payload as files that must be there: every entry of the
// build's manifest with the size and CRC-32 of the staged file; examples
// only when `with_examples` asks for them.
std::vector<fact> payload_files(const std::wstring& install_folder, bool with_examples);

void expect_state(const std::vector<fact>& required);
void expect_same(const fact_set& before, const fact_set& after);

// An environment variable set for the programs the test starts, put back
// as it was at the end of the scope.
class scoped_environment {
public:
    scoped_environment(std::wstring name, const std::wstring& value);
    scoped_environment(const scoped_environment&) = delete;
    scoped_environment& operator=(const scoped_environment&) = delete;
    ~scoped_environment();

private:
    std::wstring name_;
    std::wstring old_value_;
    bool had_value_ = false;
};

// The installer started by a test with its wizard found; ended by its id
// when the test leaves it running.
class wizard {
public:
    explicit wizard(const std::wstring& program = test_support::build_file(L"src\\Quillmar3Setup.exe"))
        : process_(program, L"")
    {
        frame_ = drv::wait_for_dialog(process_.id(), 60s);
    }

    HWND frame() const { return frame_; }
    HWND button(int id) const { return drv::control(frame_, id); }
    HWND page_control(int id) const { return drv::page_control(frame_, id); }

    void move(int id, int marker) { drv::turn_page(frame_, id, marker); }

    void quick_to_install_page()
    {
        move(IDOK, mode_page_marker);
        drv::click(page_control(quick_choice));
        move(IDOK, install_page_marker);
    }

    void advanced_to_install_page(const std::wstring& folder, bool desktop_shortcut)
    {
        move(IDOK, mode_page_marker);
        drv::click(page_control(advanced_choice));
        move(IDOK, folder_edit);
        drv::type_text(page_control(folder_edit), folder, 10s);
        const HWND desktop = page_control(desktop_choice);
        if ((drv::check_state(desktop) == BST_CHECKED) != desktop_shortcut)
            drv::click(desktop);
        move(IDOK, install_page_marker);
    }

    // Presses Install and waits until the frame's buttons come back; true
    // when the installation completed (Exit no longer says Cancel).
    bool install(std::chrono::milliseconds limit = 300s)
    {
        const std::wstring cancel = drv::text(button(IDCANCEL));
        PostMessageW(button(IDOK), BM_CLICK, 0, 0);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        Sleep(200);
        while (drv::is_enabled(button(back_button)) || !drv::is_enabled(button(IDOK)) ||
               !drv::is_enabled(button(IDCANCEL))) {
            if (!IsWindow(frame_))
                throw drv::driver_error("the installer's window went away during the installation");
            if (std::chrono::steady_clock::now() > deadline)
                throw drv::driver_error("the installation did not end in time");
            Sleep(50);
        }
        return drv::text(button(IDCANCEL)) != cancel;
    }

    std::wstring status() const { return drv::text(page_control(status_line)); }

    // The status line and the page's log, for a failure's message: the log
    // tells which step failed.
    std::string outcome() const
    {
        return to_utf8(status()) + "\n" + to_utf8(drv::text(page_control(install_log)));
    }

    // A picture of the frame under build/pictures/e2e, for a look by eye.
    void save_picture(const std::wstring& name) const
    {
        RedrawWindow(frame_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Sleep(300);
        const auto shot = drv::capture_window(frame_);
        EXPECT_GT(drv::colour_count(shot), 1u) << "a blank picture of " << to_utf8(name);
        const fs::path folder = test_support::build_file(L"pictures\\e2e");
        fs::create_directories(folder);
        drv::save_bmp(shot, (folder / (name + L".bmp")).wstring());
    }

    // After a completed installation: on to the end page and out.
    DWORD finish()
    {
        move(IDOK, 0);
        PostMessageW(button(IDCANCEL), BM_CLICK, 0, 0);
        return exit_code();
    }

    // Leaves an unfinished wizard, saying yes to the question.
    DWORD leave()
    {
        PostMessageW(button(IDCANCEL), BM_CLICK, 0, 0);
        drv::answer_message_box(drv::wait_for_message_box(process_.id(), frame_, 10s), IDYES);
        return exit_code();
    }

    DWORD exit_code()
    {
        const auto code = process_.wait_for_exit(60s);
        if (!code)
            throw drv::driver_error("the installer did not end");
        return *code;
    }

private:
    drv::process process_;
    HWND frame_ = nullptr;
};

// Runs the installed uninstaller with /quiet and returns its exit code,
// without waiting for it to remove itself (it does not when incomplete).
unsigned long uninstall_quietly(const std::wstring& folder);

class scenario : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto clean = state(L"not_installed.state");
        const auto found = differences(clean, observe(clean));
        for (const auto& difference : found)
            ADD_FAILURE() << "the prefix is not clean: " << to_utf8(difference);
        ASSERT_TRUE(found.empty());
        initial_ = picture();
        before_ = initial_;
    }

    void TearDown() override
    {
        // A scenario that failed half-way still leaves the prefix clean.
        const fs::path uninstaller = fs::path(install_folder_) / L"Uninstall.exe";
        if (fs::is_regular_file(uninstaller))
            uninstall(install_folder_);
        remove_leftovers();
    }

    void use_folder(const std::wstring& folder)
    {
        install_folder_ = folder;
        SetEnvironmentVariableW(L"HV_INSTALL", folder.c_str());
    }

    static unsigned long uninstall(const std::wstring& folder)
    {
        const fs::path temp = fs::temp_directory_path() / ("hv-e2e-uninstall-" + std::to_string(GetCurrentProcessId()));
        const auto code = test_support::run_uninstaller_to_the_end((fs::path(folder) / L"Uninstall.exe").wstring(),
                                                                    temp, folder);
        std::error_code ignored;
        fs::remove_all(temp, ignored);
        return code;
    }

    void remove_leftovers()
    {
        for (const fs::path& path : {fs::path(install_folder_), fs::path(expand(L"%ProgramFiles%\\Halden & Voss")),
                                     fs::path(examples_folder()), fs::path(expand(L"%ProgramData%\\Halden & Voss")),
                                     fs::path(expand(L"%ProgramData%\\Halden & Voss Setup")),
                                     fs::path(expand(L"%APPDATA%\\Halden & Voss"))}) {
            if (!initial_.contains(fact{L"folder", path.wstring(), {}, {}}.identity()))
                test_support::remove_tree(path);
        }
        test_support::remove_product_entries([](const wchar_t* link) { return expand(link); });
        if (!initial_.contains(fact{L"key", L"HKLM\\Software\\Halden & Voss", {}, {}}.identity())) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Halden & Voss");
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Halden & Voss");
        }
    }

    std::vector<fact> installed_state(bool desktop_shortcut, bool with_examples)
    {
        auto required = state(L"installed.state");
        auto more = state(desktop_shortcut ? L"desktop_shortcut.state" : L"no_desktop_shortcut.state");
        required.insert(required.end(), more.begin(), more.end());
        auto files = payload_files(install_folder_, with_examples);
        required.insert(required.end(), files.begin(), files.end());
        return required;
    }

    // The temporary folder holds nothing the installation left behind.
    void expect_temporary_folder_clean()
    {
        const auto temp = fs::path(expand(L"%TEMP%")).wstring();
        auto now = picture();
        for (const auto& change : changes(before_, now, left_on_purpose))
            if (change.find(temp) != std::wstring::npos)
                ADD_FAILURE() << "left in the temporary folder: " << to_utf8(change);
    }

    fact_set initial_; // before the scenario prepared anything
    fact_set before_;  // what the scenario's end must equal
    std::wstring install_folder_ = default_install_folder();
};

}
