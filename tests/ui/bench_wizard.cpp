// Benchmarks of the real installer through its windows (a program, not a
// test), in the Wine prefix it runs in:
//
//   bench_wizard install INSTALLER
//     a quick installation: from the posted click on Install until the
//     frame's buttons come back at the end; prints the seconds and the
//     installer's peak working set, then leaves the wizard and uninstalls
//     (Uninstall.exe /quiet), so every run starts from a prefix without the
//     product.
//
//   bench_wizard first-paint PROGRAM [ARGUMENTS]
//     start-up: from the program's process start to the moment its frame
//     (a dialog) is shown and has nothing left to paint, watched from
//     outside, then leaves the wizard (Cancel, and yes when asked).
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "support/product_leftovers.h"
#include "support/test_support.h"
#include "uninstaller/self_removal_support.h"
#include "ui_driver.h"

namespace {

using namespace std::chrono_literals;
namespace drv = ui_driver;
namespace fs = std::filesystem;
using bench_support::now;

constexpr int back_button = 3;
constexpr int status_line = 1003;
constexpr int mode_page_marker = 1021;
constexpr int quick_choice = 1018;
constexpr int install_page_marker = 1014;

std::wstring expand(const wchar_t* text)
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = ExpandEnvironmentStringsW(text, buffer, MAX_PATH);
    return length > 0 && length <= MAX_PATH ? std::wstring(buffer) : std::wstring();
}

// A window's text as the system keeps it, read without sending the window a
// message: the installer answers nothing while it is watched, so the
// watching costs it no time beyond the share of the processor.
std::wstring caption(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

std::wstring install_folder()
{
    return expand(L"%ProgramFiles%\\Halden & Voss\\Quillmar 3");
}

// Everything a quick installation leaves when its uninstallation did not
// run to the end; this prefix is the benchmark's own.
void remove_leftovers()
{
    for (const std::wstring& folder : {expand(L"%ProgramFiles%\\Halden & Voss"),
                                       expand(L"%PUBLIC%\\Desktop\\Quillmar Examples"),
                                       expand(L"%ProgramData%\\Halden & Voss"), expand(L"%APPDATA%\\Halden & Voss")})
        test_support::remove_tree(folder);
    test_support::remove_product_entries([](const wchar_t* link) { return expand(link); });
}

// Uninstall.exe /quiet with a temporary folder of its own, until its
// temporary copy has removed the installation folder.
bool uninstall()
{
    const fs::path uninstaller = fs::path(install_folder()) / L"Uninstall.exe";
    if (!fs::exists(uninstaller))
        return false;
    const fs::path temp = fs::temp_directory_path() / ("hv-bench-uninstall-" + std::to_string(GetCurrentProcessId()));
    bool done = false;
    {
        test_support::pending_renames_guard renames;
        fs::create_directories(temp);
        {
            test_support::temp_folder_guard temp_folder(temp);
            done = test_support::run_process(uninstaller.wstring(), L"/quiet", 120000) == 0;
        }
        done = test_support::wait_until([] { return !fs::exists(install_folder()); }) && done;
        test_support::wait_until([&] { return renames.changed(); }, 10s);
    }
    std::error_code ignored;
    fs::remove_all(temp, ignored);
    return done;
}

// Cancel, and yes when the wizard asks whether to leave.
void leave(drv::process& installer, HWND frame)
{
    PostMessageW(drv::control(frame, IDCANCEL), BM_CLICK, 0, 0);
    try {
        drv::answer_message_box(drv::wait_for_message_box(installer.id(), frame, 5s), IDYES);
    }
    catch (const drv::driver_error&) {
        // It did not ask.
    }
    if (!installer.wait_for_exit(60s)) {
        installer.terminate();
        throw drv::driver_error("the installer did not end");
    }
}

int install(const std::wstring& program)
{
    if (fs::exists(install_folder()))
        uninstall();
    remove_leftovers();

    drv::process installer(program, L"");
    const HWND frame = drv::wait_for_dialog(installer.id(), 60s);
    drv::turn_page(frame, IDOK, mode_page_marker);
    drv::click(drv::page_control(frame, quick_choice));
    drv::turn_page(frame, IDOK, install_page_marker);

    const HWND next = drv::control(frame, IDOK);
    const HWND exit = drv::control(frame, IDCANCEL);
    const HWND status_control = drv::page_control(frame, status_line);
    const std::wstring cancel = drv::text(exit);
    const std::wstring status_before = drv::text(status_control);
    // When each status appeared: where the time goes.
    std::vector<std::pair<double, std::wstring>> timeline{{0.0, status_before}};
    const double start = now();
    PostMessageW(next, BM_CLICK, 0, 0);
    // The frame disables its buttons for the whole installation; it has
    // ended when Next can be pressed again.
    for (bool started = false;;) {
        // The status first: once it has changed, the buttons were disabled
        // before, so Next enabled afterwards means the end.
        const std::wstring seen = caption(status_control);
        const bool status_changed = seen != status_before;
        if (seen != timeline.back().second)
            timeline.emplace_back(now() - start, seen);
        const bool enabled = drv::is_enabled(next);
        started = started || !enabled || status_changed;
        if (started && enabled)
            break;
        if (now() - start > 300)
            throw drv::driver_error("the installation did not end in time");
        Sleep(5);
    }
    const double end = now();
    const std::wstring status = drv::text(status_control);
    const bool installed = drv::text(exit) != cancel;
    const bool back = drv::is_enabled(drv::control(frame, back_button));

    PROCESS_MEMORY_COUNTERS memory{};
    if (HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, installer.id())) {
        GetProcessMemoryInfo(process, &memory, sizeof memory);
        CloseHandle(process);
    }

    if (installed)
        drv::turn_page(frame, IDOK, 0);
    leave(installer, frame);
    const bool uninstalled = installed && uninstall();
    remove_leftovers();

    std::printf("status: %ls%s\n", status.c_str(), back ? " (Back enabled)" : "");
    if (!installed) {
        std::printf("the installation failed\n");
        return 1;
    }
    for (const auto& [at, text] : timeline)
        std::printf("at %.3f s: %ls\n", at, text.c_str());
    std::printf("wizard install: %.3f s\n", end - start);
    std::printf("installer peak working set: %.1f MB\n", static_cast<double>(memory.PeakWorkingSetSize) / (1 << 20));
    std::printf("uninstalled: %s\n", uninstalled ? "yes" : "NO");
    return uninstalled ? 0 : 1;
}

std::uint64_t system_time()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// The installer's frame, once it is shown and painted: the window is
// visible and its update region is empty. Only the windows of the
// installer's first thread are looked at, so that watching costs the
// installer, which may share the processor, as little as can be.
HWND painted_frame(DWORD thread_id)
{
    HWND found = nullptr;
    EnumThreadWindows(
        thread_id,
        [](HWND window, LPARAM data) -> BOOL {
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (std::wstring(name) == L"#32770" && IsWindowVisible(window) && !GetUpdateRect(window, nullptr, FALSE)) {
                *reinterpret_cast<HWND*>(data) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

int first_paint(const std::wstring& program, const std::wstring& arguments)
{
    // On Windows the desktop's shell is always running. Under Wine it is
    // started with the first window on the desktop and ends a while after
    // the last one has gone, so a window of this program's own, never shown,
    // keeps it running from before the installer starts.
    const HWND keeper = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    Sleep(500);
    drv::process installer(program, arguments);
    FILETIME created{}, exited{}, kernel{}, user{};
    if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, installer.id())) {
        GetProcessTimes(process, &created, &exited, &kernel, &user);
        CloseHandle(process);
    }
    const std::uint64_t start = (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    // Nothing is painted before the installer first waits for input.
    installer.wait_for_input_idle(60s);
    std::uint64_t stamp = 0;
    for (const double deadline = now() + 60; !stamp;) {
        if (painted_frame(installer.thread_id()))
            stamp = system_time();
        else if (now() > deadline)
            throw drv::driver_error("the frame did not paint");
        else
            Sleep(1);
    }

    leave(installer, drv::wait_for_dialog(installer.id(), 60s));
    if (keeper)
        DestroyWindow(keeper);
    if (start == 0 || stamp < start)
        throw drv::driver_error("no process start time");
    std::printf("first paint: %.3f s\n", static_cast<double>(stamp - start) / 1e7);
    return 0;
}

}

int wmain(int argc, wchar_t** argv)
{
    try {
        const std::wstring mode = argc > 1 ? argv[1] : L"";
        if (mode == L"install" && argc == 3)
            return install(argv[2]);
        if (mode == L"first-paint" && (argc == 3 || argc == 4))
            return first_paint(argv[2], argc == 4 ? argv[3] : L"");
        std::printf("usage: bench_wizard install INSTALLER | first-paint PROGRAM [ARGUMENTS]\n");
        return 2;
    }
    catch (const std::exception& e) {
        std::printf("bench_wizard: %s\n", e.what());
        return 1;
    }
}
