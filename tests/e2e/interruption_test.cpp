// The installer ended abruptly (power lost, ended from the task manager) at
// points spread over a whole installation, found from outside as a user
// would see them: the page's status, files appearing, the product's
// registration run, and moments inside the extraction. Each time the next
// start must put the machine back exactly as it was before the ended run.
// The same for the uninstaller, whose next run finishes the uninstallation.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "e2e/scenario.h"
#include "identity/product.h"
#include "records/uninstall_log.h"

namespace {

using namespace e2e;
using clock_type = std::chrono::steady_clock;

const std::wstring recovered_text =
    L"An installation that was interrupted has been undone; everything is as it was before it started.";
const std::wstring end_status = L"Click on 'Next' to continue.";

std::wstring setup_program()
{
    return test_support::build_file(L"src\\Quillmar3Setup.exe");
}

std::wstring older_setup_program()
{
    return test_support::build_file(L"installer-3.5.2.9\\src\\Quillmar3Setup.exe");
}

// Every process whose program lies in `folder`, by id.
std::vector<DWORD> processes_from(const std::wstring& folder)
{
    std::vector<DWORD> found;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        wchar_t image[MAX_PATH * 2] = {};
        DWORD size = static_cast<DWORD>(std::size(image));
        if (QueryFullProcessImageNameW(process, 0, image, &size) &&
            CompareStringOrdinal(image, static_cast<int>(std::min<std::size_t>(folder.size(), size)), folder.c_str(),
                                 static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL &&
            size > folder.size())
            found.push_back(entry.th32ProcessID);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

void end_process(DWORD id)
{
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (!process)
        return;
    TerminateProcess(process, 0xDEAD);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
}

std::optional<std::uint64_t> file_size(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

bool key_exists(const std::wstring& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

int copies_in(const std::wstring& log)
{
    int copies = 0;
    for (auto at = log.find(L"Copying File"); at != std::wstring::npos; at = log.find(L"Copying File", at + 1))
        ++copies;
    return copies;
}

// What the sweep sees of a running installation from outside.
class observer {
public:
    observer(HWND status, HWND log, std::wstring install_folder)
        : status_(status), log_(log), install_folder_(std::move(install_folder)), clicked_(clock_type::now())
    {
    }

    // The page's status line; while the installer does not answer (it pumps
    // its messages only between the steps of the extraction) the last seen.
    const std::wstring& status()
    {
        read(status_, last_);
        return last_;
    }
    // How many files the page's log says were begun.
    int copies_seen()
    {
        if (read(log_, log_text_))
            copies_ = copies_in(log_text_);
        return copies_;
    }
    std::chrono::milliseconds elapsed() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - clicked_);
    }
    bool product_running()
    {
        if (!processes_from(install_folder_ + L"\\").empty())
            product_seen_ = true;
        return product_seen_ && !processes_from(install_folder_ + L"\\").empty();
    }
    bool product_has_run() { return product_running(), product_seen_ && processes_from(install_folder_ + L"\\").empty(); }
    const std::wstring& install_folder() const { return install_folder_; }

private:
    static bool read(HWND window, std::wstring& text)
    {
        static std::vector<wchar_t> buffer(1 << 16);
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                                 SMTO_NORMAL, 20, &length))
            return false;
        text.assign(buffer.data(), length);
        return true;
    }

    HWND status_;
    HWND log_;
    std::wstring log_text_;
    std::wstring install_folder_;
    clock_type::time_point clicked_;
    std::wstring last_;
    int copies_ = 0;
    bool product_seen_ = false;
};

struct kill_point {
    std::string name;
    std::function<bool(observer&)> reached;
};

class interruption : public scenario {
protected:
    std::shared_ptr<std::chrono::milliseconds> run_length_ = std::make_shared<std::chrono::milliseconds>();

    // Starts the installer, answers a message it shows before its wizard
    // (returned), and returns the wizard's frame.
    static HWND start(drv::process& installer, std::wstring& message)
    {
        HWND window = drv::wait_for_dialog(installer.id(), 60s);
        while (!GetDlgItem(window, back_button)) {
            message += drv::message_box_text(window);
            drv::answer_message_box(window, IDOK);
            window = drv::wait_for_dialog(installer.id(), 60s, {}, window);
        }
        return window;
    }

    // Leaves the wizard from its first page, saying yes if asked.
    static void leave(drv::process& installer, HWND frame)
    {
        PostMessageW(drv::control(frame, IDCANCEL), BM_CLICK, 0, 0);
        if (!installer.wait_for_exit(2s)) {
            try {
                drv::answer_message_box(drv::wait_for_message_box(installer.id(), frame, 10s), IDYES);
            }
            catch (const drv::driver_error&) {
            }
        }
        ASSERT_TRUE(installer.wait_for_exit(60s)) << "the installer did not end";
    }

    static void to_install_page(HWND frame)
    {
        drv::turn_page(frame, IDOK, mode_page_marker);
        drv::click(drv::page_control(frame, quick_choice));
        drv::turn_page(frame, IDOK, install_page_marker);
    }

    // Runs an installation and ends the installer (and the product it
    // started) as soon as `point` is reached; false when the installation
    // ended first. `log` receives the page's log when it ran to its end.
    bool install_until(const kill_point& point, std::wstring* log = nullptr)
    {
        drv::process installer(setup_program(), L"");
        std::wstring message;
        const HWND frame = start(installer, message);
        EXPECT_TRUE(message.empty()) << "before " << point.name << ": " << to_utf8(message);
        to_install_page(frame);
        PostMessageW(drv::control(frame, IDOK), BM_CLICK, 0, 0);
        observer seen(drv::page_control(frame, status_line), drv::page_control(frame, install_log), install_folder_);
        const auto deadline = clock_type::now() + 300s;
        for (;;) {
            if (point.reached && point.reached(seen)) {
                installer.terminate();
                // A product the installer started just before its end shows
                // up in the list of processes a moment later.
                const auto settled = clock_type::now() + 1500ms;
                while (clock_type::now() < settled) {
                    for (const DWORD id : processes_from(install_folder_ + L"\\"))
                        end_process(id);
                    Sleep(50);
                }
                return true;
            }
            const std::wstring& status = seen.status();
            if (status == end_status || status.find(L"failed") != std::wstring::npos) {
                // The moments of the sweep follow the quickest whole run seen.
                if (run_length_->count() == 0 || seen.elapsed() < *run_length_)
                    *run_length_ = seen.elapsed();
                if (log)
                    *log = drv::text(drv::page_control(frame, install_log));
                EXPECT_EQ(status, end_status) << to_utf8(drv::text(drv::page_control(frame, install_log)));
                drv::turn_page(frame, IDOK, 0);
                PostMessageW(drv::control(frame, IDCANCEL), BM_CLICK, 0, 0);
                EXPECT_TRUE(installer.wait_for_exit(60s));
                return false;
            }
            if (clock_type::now() > deadline) {
                ADD_FAILURE() << point.name << ": the installation did not end";
                return false;
            }
            Sleep(1);
        }
    }

    // The next start after an ended run: it puts right what the run left,
    // says so, and its wizard is left at once.
    std::wstring recover()
    {
        drv::process installer(setup_program(), L"");
        std::wstring message;
        const HWND frame = start(installer, message);
        leave(installer, frame);
        return message;
    }

    void prepare_update()
    {
        {
            drv::process installer(older_setup_program(), L"");
            std::wstring message;
            const HWND frame = start(installer, message);
            to_install_page(frame);
            PostMessageW(drv::control(frame, IDOK), BM_CLICK, 0, 0);
            drv::wait_for_text(drv::page_control(frame, status_line), end_status, 300s);
            drv::turn_page(frame, IDOK, 0);
            PostMessageW(drv::control(frame, IDCANCEL), BM_CLICK, 0, 0);
            ASSERT_TRUE(installer.wait_for_exit(60s));
        }
        // The user changes a data file and edits an example.
        for (const fs::path& path : {fs::path(expand(L"%ProgramData%\\Halden & Voss\\Quillmar\\Quillmar.ini")),
                                     fs::path(examples_folder()) / L"Letter.qmd"}) {
            ASSERT_TRUE(fs::exists(path)) << path;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            std::ofstream(path, std::ios::binary | std::ios::trunc) << "changed by the user";
        }
    }

    std::vector<kill_point> kill_points(int files_copied, bool first_installation) const
    {
        const std::wstring program = install_folder_ + L"\\Quillmar.exe";
        const std::wstring link_name = product_name(false) + L".lnk";
        const std::wstring menu_link =
            expand(L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\") + link_name;
        const std::wstring desktop_link = expand(L"%PUBLIC%\\Desktop\\") + link_name;
        const auto program_size = [this] {
            for (const fact& file : payload_files(install_folder_, false))
                if (fs::path(file.subject).filename() == L"Quillmar.exe")
                    return std::stoull(file.properties.front().substr(5));
            return 0ull;
        }();
        std::vector<kill_point> points{
            {"at the start of the installation",
             [](observer& o) { return o.status() == L"Preparing Installation..."; }},
            {"while the first file is copied", [](observer& o) { return o.copies_seen() >= 1; }},
            {"while the second file is copied", [](observer& o) { return o.copies_seen() >= 2; }},
            {"while a middle file is copied",
             [files_copied](observer& o) { return o.copies_seen() >= files_copied / 2; }},
            {"while the last file but one is copied",
             [files_copied](observer& o) { return o.copies_seen() >= files_copied - 1; }},
            {"while the last file is copied",
             [files_copied](observer& o) { return o.copies_seen() >= files_copied; }},
            {"inside the program file's data",
             [program, program_size](observer& o) {
                 const auto size = file_size(program);
                 return size && *size > 0 && *size < program_size;
             }},
            {"once the program file is whole",
             [program, program_size](observer& o) { return file_size(program) == program_size; }},
            {"while the shortcuts are made",
             [menu_link](observer&) { return GetFileAttributesW(menu_link.c_str()) != INVALID_FILE_ATTRIBUTES; }},
            {"after the desktop shortcut",
             [desktop_link](observer&) {
                 return GetFileAttributesW(desktop_link.c_str()) != INVALID_FILE_ATTRIBUTES;
             }},
            {"while the product registers itself", [](observer& o) { return o.product_running(); }},
            {"after the product's registration", [](observer& o) { return o.product_has_run(); }},
        };
        if (first_installation) {
            // The page may not answer between the last files: their arrival shows.
            const auto files = payload_files(install_folder_, true);
            for (std::size_t from_end : {2u, 1u}) {
                const std::wstring file = files[files.size() - from_end].subject;
                points.push_back({"once " + to_utf8(fs::path(file).filename().wstring()) + " is there",
                                  [file](observer&) { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; }});
            }
        }
        // Moments spread over the run, wherever they fall: fractions of the
        // quickest whole run so far, which a missed moment makes quicker.
        constexpr int moments = 14;
        for (int moment = 0; moment < moments; ++moment)
            points.push_back({"at " + std::to_string(2 * moment + 1) + "/" + std::to_string(2 * moments) +
                                  " of the run",
                              [length = run_length_, moment](observer& o) {
                                  return o.elapsed() >= *length * (2 * moment + 1) * 9 / (2 * moments * 10);
                              }});
        return points;
    }

    // A whole installation that sets the sweep's run length; the number of
    // files it copied.
    int calibrate()
    {
        std::wstring log;
        EXPECT_FALSE(install_until({"nowhere", {}}, &log));
        return copies_in(log);
    }

    // Whether the installation's own log stands: the run was complete.
    bool has_completed() const
    {
        const std::string bytes = read_text(fs::path(install_folder_) / uninstall_log_name);
        const std::wstring header = L"Install " + product_name(false);
        const std::string wanted(reinterpret_cast<const char*>(header.data()), header.size() * sizeof(wchar_t));
        return bytes.find(wanted) != std::string::npos;
    }

    // Ends the installation at every point; after each the next start
    // must leave the machine as `prepared` was.
    void sweep(const std::vector<kill_point>& points, const std::function<void()>& prepare)
    {
        int reached = 0;
        for (const kill_point& point : points) {
            const fact_set prepared = picture();
            if (!install_until(point)) {
                // The installation ended before the point: back to the start.
                std::cout << "[ note ] not reached before the end: " << point.name << "\n";
                EXPECT_EQ(uninstall(install_folder_), 0u);
                prepare();
                continue;
            }
            const std::wstring message = recover();
            if (message.empty() && has_completed()) {
                // The installation stood (its log in place) before it was ended.
                std::cout << "[ note ] the installation had completed: " << point.name << "\n";
                EXPECT_EQ(uninstall(install_folder_), 0u);
                prepare();
                continue;
            }
            ++reached;
            EXPECT_TRUE(message.empty() || message == recovered_text + L"\n")
                << point.name << ": " << to_utf8(message);
            for (const auto& change : changes(prepared, picture(), left_on_purpose))
                ADD_FAILURE() << point.name << ": " << to_utf8(change);
            const fs::path storage = expand(L"%ProgramData%\\Halden & Voss Setup");
            if (fs::exists(storage)) {
                std::string held;
                for (const auto& entry : fs::recursive_directory_iterator(storage))
                    held += " " + entry.path().string();
                ADD_FAILURE() << point.name << ": the private storage stays, holding" << held;
                test_support::remove_tree(storage);
            }
        }
        EXPECT_GE(reached, 20) << "points reached";
    }
};

TEST_F(interruption, a_first_installation_ended_anywhere_is_undone_by_the_next_start)
{
    use_folder(default_install_folder());
    const int copies = calibrate();
    ASSERT_EQ(uninstall(install_folder_), 0u);
    expect_same(initial_, picture());

    sweep(kill_points(copies, true), [] {});

    // From the recovered machine, a whole installation and its uninstallation.
    ASSERT_FALSE(install_until({"nowhere", {}}));
    expect_state(installed_state(true, true));
    EXPECT_EQ(uninstall(install_folder_), 0u);
    expect_same(initial_, picture());
}

TEST_F(interruption, an_update_ended_anywhere_leaves_the_earlier_installation_whole)
{
    use_folder(default_install_folder());
    if (!fs::exists(older_setup_program()))
        GTEST_SKIP() << "the older installer is not built (target installer_3_5_2_9)";
    prepare_update();
    const int copies = calibrate();
    ASSERT_EQ(uninstall(install_folder_), 0u);
    prepare_update();

    sweep(kill_points(copies, false), [this] { prepare_update(); });

    ASSERT_FALSE(install_until({"nowhere", {}}));
    EXPECT_EQ(read_text(expand(L"%ProgramData%\\Halden & Voss\\Quillmar\\Quillmar.ini")), "changed by the user");
    EXPECT_EQ(read_text(fs::path(examples_folder()) / L"Letter.qmd"), "changed by the user");
    EXPECT_EQ(uninstall(install_folder_), 0u);
}

// The uninstaller ended part-way: its next run finishes the work, and the
// changed data file is still kept.
TEST_F(interruption, an_uninstallation_ended_anywhere_is_finished_by_the_next_run)
{
    use_folder(default_install_folder());
    const std::wstring program = install_folder_ + L"\\Quillmar.exe";
    const std::wstring lang = install_folder_ + L"\\Lang";
    const std::wstring examples = examples_folder();
    const std::wstring entry = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3";
    const std::wstring log_file = install_folder_ + L"\\Uninstall.ulog";
    const std::vector<std::pair<std::string, std::function<bool()>>> points{
        {"once the program is gone", [&] { return !fs::exists(program); }},
        {"once the language libraries are gone", [&] { return !fs::exists(lang); }},
        {"once the examples are gone", [&] { return !fs::exists(examples); }},
        {"once the Uninstall entry is gone", [&] { return !key_exists(entry); }},
        {"once the log is gone", [&] { return !fs::exists(log_file); }},
    };
    const fs::path temp = fs::temp_directory_path() / ("hv-e2e-interrupted-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(temp);
    int reached = 0;
    for (const auto& [name, reached_point] : points) {
        ASSERT_FALSE(install_until({"nowhere", {}}));
        {
            test_support::temp_folder_guard temp_folder(temp);
            drv::process uninstaller(install_folder_ + L"\\Uninstall.exe", L"/quiet");
            const auto deadline = clock_type::now() + 120s;
            bool ended = false;
            while (!reached_point()) {
                if (uninstaller.wait_for_exit(0ms) || clock_type::now() > deadline) {
                    ended = true;
                    break;
                }
            }
            uninstaller.terminate();
            if (ended)
                std::cout << "[ note ] the uninstaller ended before: " << name << "\n";
            else
                ++reached;
        }
        if (fs::exists(install_folder_ + L"\\Uninstall.exe"))
            EXPECT_EQ(uninstall(install_folder_), 0u) << name;
        for (const auto& change : changes(initial_, picture(), left_on_purpose))
            if (change.find(temp.wstring()) == std::wstring::npos)
                ADD_FAILURE() << name << ": " << to_utf8(change);
        remove_leftovers();
    }
    std::error_code ignored;
    fs::remove_all(temp, ignored);
    EXPECT_EQ(reached, 5);
}

}
