// The real installer and uninstaller driven through their windows between
// described machine states: a first installation (quick and advanced), an
// update over the older version, a newer version refused, failed
// installations rolled back, and uninstallation back to the picture taken
// before. Each scenario needs a prefix without the product and leaves it so.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "e2e/machine_state.h"
#include "payload/extractor.h"
#include "records/uninstall_log.h"
#include "support/sync_helper_process.h"
#include "support/test_support.h"
#include "uninstaller/self_removal_support.h"
#include "ui_driver.h"

namespace {

using namespace std::chrono_literals;
using namespace machine_state;
namespace drv = ui_driver;
namespace fs = std::filesystem;

constexpr int back_button = 3;
constexpr int status_line = 1003;
constexpr int mode_page_marker = 1021;
constexpr int quick_choice = 1018;
constexpr int advanced_choice = 1019;
constexpr int folder_edit = 1007;
constexpr int desktop_choice = 1010;
constexpr int install_page_marker = 1014;

const std::wstring product_key = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3";

std::wstring default_install_folder()
{
    return expand(L"%ProgramFiles%\\Halden & Voss\\Quillmar 3");
}

std::wstring examples_folder()
{
    return expand(L"%PUBLIC%\\Desktop\\Quillmar Examples");
}

std::vector<std::wstring> watched_keys()
{
    auto keys = default_keys();
    keys.push_back(L"HKLM\\Software\\Classes\\.qmd");
    keys.push_back(L"HKLM\\Software\\Classes\\Quillmar.Document.3");
    return keys;
}

fact_set picture()
{
    return capture(default_folders(), watched_keys());
}

// What stays after an uninstallation on purpose: the wizard's remembered
// size under the user's key.
const std::vector<std::wstring> left_on_purpose{
    L"key\tHKCU\\Software\\Halden & Voss\t",
    L"value\tHKCU\\Software\\Halden & Voss\tInstallerSize",
};

std::string read_text(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<fact> state(const wchar_t* name)
{
    const char* source = std::getenv("HV_TEST_SOURCE_DIR");
    if (!source)
        throw std::runtime_error("HV_TEST_SOURCE_DIR is not set; run the tests through ctest");
    return parse(read_text(fs::path(test_support::windows_path(source)) / L"tests" / L"e2e" / L"states" / name));
}

// The shipped payload as files that must be there: every entry of the
// build's manifest with the size and CRC-32 of the staged file. Examples and
// data files are listed only when `with_examples`/`with_data` ask for them.
std::vector<fact> payload_files(const std::wstring& install_folder, bool with_examples)
{
    const fs::path manifest = test_support::build_file(L"src\\resources\\payload-manifest.txt");
    std::vector<fact> files;
    std::istringstream lines(read_text(manifest));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            fields.push_back(cell);
        if (fields.size() != 3)
            continue;
        const fs::path source = manifest.parent_path() / from_utf8(fields[0]);
        std::wstring folder = from_utf8(fields[1]);
        const std::pair<std::wstring, std::wstring> tokens[] = {
            {L"<InstallPath>", install_folder},
            {L"<CommonData>", expand(L"%ProgramData%")},
            {L"<UserData>", expand(L"%APPDATA%")},
            {L"<SamplePath>", examples_folder()},
        };
        for (const auto& [token, value] : tokens)
            if (folder.rfind(token, 0) == 0)
                folder = value + folder.substr(token.size());
        if (fields[2] == "sample" && !with_examples)
            continue;
        files.push_back({L"file", (fs::path(folder) / source.filename()).wstring(), {},
                         {L"size=" + std::to_wstring(fs::file_size(source)),
                          L"crc32=" + from_utf8(fmt::format("{:08X}", file_crc32(source)))}});
    }
    return files;
}

void expect_state(const std::vector<fact>& required)
{
    for (const auto& difference : differences(required, observe(required)))
        ADD_FAILURE() << to_utf8(difference);
}

void expect_same(const fact_set& before, const fact_set& after)
{
    for (const auto& change : changes(before, after, left_on_purpose))
        ADD_FAILURE() << to_utf8(change);
}

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
    bool install()
    {
        const std::wstring cancel = drv::text(button(IDCANCEL));
        PostMessageW(button(IDOK), BM_CLICK, 0, 0);
        const auto deadline = std::chrono::steady_clock::now() + 300s;
        Sleep(200);
        while (drv::is_enabled(button(back_button)) || !drv::is_enabled(button(IDOK)) ||
               !drv::is_enabled(button(IDCANCEL))) {
            if (std::chrono::steady_clock::now() > deadline)
                throw drv::driver_error("the installation did not end in time");
            Sleep(50);
        }
        return drv::text(button(IDCANCEL)) != cancel;
    }

    std::wstring status() const { return drv::text(page_control(status_line)); }

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
        std::error_code ignored;
        for (const fs::path& path : {fs::path(install_folder_), fs::path(expand(L"%ProgramFiles%\\Halden & Voss")),
                                     fs::path(examples_folder()), fs::path(expand(L"%ProgramData%\\Halden & Voss")),
                                     fs::path(expand(L"%APPDATA%\\Halden & Voss"))}) {
            if (!initial_.contains(fact{L"folder", path.wstring(), {}, {}}.identity())) {
                for (auto& entry : fs::recursive_directory_iterator(path, ignored))
                    SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
                fs::remove_all(path, ignored);
            }
        }
        for (const wchar_t* link : {L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Quillmar 3.05c.lnk",
                                    L"%PUBLIC%\\Desktop\\Quillmar 3.05c.lnk"})
            fs::remove(expand(link), ignored);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3");
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3");
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Halden & Voss", L"Quillmar 3 Path");
        for (const wchar_t* key : {L"Software\\Classes\\.qmd", L"Software\\Classes\\Quillmar.Document.3"}) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
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

TEST_F(scenario, quick_installation_then_uninstallation)
{
    use_folder(default_install_folder());
    {
        wizard installer;
        installer.quick_to_install_page();
        ASSERT_TRUE(installer.install()) << to_utf8(installer.status());
        EXPECT_EQ(installer.status(), L"Click on 'Next' to continue.");
        EXPECT_EQ(installer.finish(), 0u);
    }
    expect_state(installed_state(true, true));
    expect_temporary_folder_clean();

    EXPECT_EQ(uninstall(install_folder_), 0u);
    expect_same(before_, picture());
}

TEST_F(scenario, advanced_installation_into_another_folder_without_desktop_shortcut)
{
    use_folder(expand(L"%ProgramFiles%\\Halden & Voss\\Writing\\Quillmar"));
    {
        wizard installer;
        installer.advanced_to_install_page(install_folder_, false);
        ASSERT_TRUE(installer.install()) << to_utf8(installer.status());
        EXPECT_EQ(installer.finish(), 0u);
    }
    expect_state(installed_state(false, true));

    EXPECT_EQ(uninstall(install_folder_), 0u);
    expect_same(before_, picture());
}

TEST_F(scenario, reinstallation_of_the_same_version_then_uninstallation)
{
    use_folder(default_install_folder());
    for (int run = 0; run < 2; ++run) {
        wizard installer;
        installer.quick_to_install_page();
        ASSERT_TRUE(installer.install()) << "run " << run << ": " << to_utf8(installer.status());
        EXPECT_EQ(installer.finish(), 0u);
    }
    expect_state(installed_state(true, true));
    // The merged log names each file once.
    uninstall_log merged;
    merged.read(install_folder_ + L"\\Uninstall.ulog");
    std::vector<std::wstring> files;
    for (const auto& r : merged.previous)
        if (r.kind == record_kind::file)
            files.push_back(fs::path(r.path).lexically_normal().wstring());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(std::adjacent_find(files.begin(), files.end()), files.end()) << "a file is listed twice";
    expect_temporary_folder_clean();

    EXPECT_EQ(uninstall(install_folder_), 0u);
    expect_same(before_, picture());
}

TEST_F(scenario, update_from_the_older_version_keeps_changed_data_and_leaves_the_examples)
{
    use_folder(default_install_folder());
    const std::wstring older = test_support::build_file(L"installer-3.5.2.9\\src\\Quillmar3Setup.exe");
    if (!fs::exists(older))
        GTEST_SKIP() << "the older installer is not built (target installer_3_5_2_9)";
    {
        wizard installer(older);
        installer.quick_to_install_page();
        ASSERT_TRUE(installer.install()) << to_utf8(installer.status());
        EXPECT_EQ(installer.finish(), 0u);
    }
    // The user changes a data file and throws one example away.
    const fs::path settings = expand(L"%ProgramData%\\Halden & Voss\\Quillmar\\Quillmar.ini");
    ASSERT_TRUE(fs::exists(settings));
    SetFileAttributesW(settings.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::ofstream(settings, std::ios::binary | std::ios::trunc) << "changed by the user";
    const fs::path example = fs::path(examples_folder()) / L"Welcome.qmd";
    ASSERT_TRUE(fs::remove(example));
    const fact_set old_examples = capture({examples_folder()}, {});

    {
        wizard installer;
        installer.quick_to_install_page();
        ASSERT_TRUE(installer.install()) << to_utf8(installer.status());
        EXPECT_EQ(installer.finish(), 0u);
    }
    EXPECT_EQ(read_text(settings), "changed by the user");
    EXPECT_FALSE(fs::exists(example)) << "an update writes no example";
    expect_same(old_examples, capture({examples_folder()}, {}));
    auto required = installed_state(true, false);
    std::erase_if(required, [&](const fact& f) { return f.kind == L"file" && fs::path(f.subject) == settings; });
    // The merged log still names the earlier installation's examples.
    required.push_back({L"record", install_folder_ + L"\\Uninstall.ulog",
                        L"1 1 4 " + (fs::path(examples_folder()) / L"Letter.qmd").wstring(), {L"present"}});
    expect_state(required);

    // Uninstalling quietly keeps the data file the user changed.
    EXPECT_EQ(uninstall(install_folder_), 0u);
    EXPECT_EQ(read_text(settings), "changed by the user");
    auto kept = left_on_purpose;
    for (const fs::path& path : {settings, settings.parent_path(), settings.parent_path().parent_path()})
        kept.push_back((fs::is_directory(path) ? L"folder\t" : L"file\t") + path.wstring() + L"\t");
    for (const auto& change : changes(before_, picture(), kept))
        ADD_FAILURE() << to_utf8(change);
}

TEST_F(scenario, a_file_held_open_rolls_the_installation_back)
{
    use_folder(default_install_folder());
    const fs::path held = fs::path(install_folder_) / L"Lang" / L"Quillmar.pl.dll";
    fs::create_directories(held.parent_path());
    std::ofstream(held, std::ios::binary) << "the user's own file";
    before_ = picture();
    {
        test_support::sync_helper_process holder(L"lock", held.wstring());
        ASSERT_TRUE(holder.wait_ready());
        wizard installer;
        installer.quick_to_install_page();
        EXPECT_FALSE(installer.install());
        EXPECT_EQ(installer.status(), L"Installation failed (Error Code 1:00000020).");
        // What the user sees of the failure, as the window opened and enlarged.
        installer.save_picture(L"failed-installation");
        RECT frame{};
        GetWindowRect(installer.frame(), &frame);
        SetWindowPos(installer.frame(), nullptr, 0, 0, frame.right - frame.left + 300, frame.bottom - frame.top + 200,
                     SWP_NOMOVE | SWP_NOZORDER);
        installer.save_picture(L"failed-installation-enlarged");
        EXPECT_EQ(installer.leave(), 0u);
    }
    expect_same(before_, picture());
    expect_state({{L"key", product_key, {}, {L"absent"}}});
}

TEST_F(scenario, a_folder_in_the_place_of_a_file_rolls_the_installation_back)
{
    use_folder(default_install_folder());
    fs::create_directories(fs::path(install_folder_) / L"Uninstall.exe");
    before_ = picture();
    {
        wizard installer;
        installer.quick_to_install_page();
        EXPECT_FALSE(installer.install());
        EXPECT_EQ(installer.status().rfind(L"Installation failed (Error Code ", 0), 0u) << to_utf8(installer.status());
        EXPECT_EQ(installer.leave(), 0u);
    }
    expect_same(before_, picture());
}

TEST_F(scenario, a_damaged_archive_writes_nothing)
{
    use_folder(default_install_folder());
    // A copy of the installer with one byte of its compressed payload changed.
    const fs::path copy = fs::temp_directory_path() / ("hv-e2e-damaged-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(copy);
    const fs::path damaged = copy / L"Quillmar3Setup.exe";
    fs::copy_file(test_support::build_file(L"src\\Quillmar3Setup.exe"), damaged);
    {
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), {});
        const auto stream = bytes.find("BZh91AY&SY");
        ASSERT_NE(stream, std::string::npos);
        file.seekp(static_cast<std::streamoff>(stream + 5000));
        file.put(static_cast<char>(bytes[stream + 5000] ^ 0x10));
    }
    before_ = picture();
    {
        wizard installer(damaged.wstring());
        installer.quick_to_install_page();
        EXPECT_FALSE(installer.install());
        EXPECT_EQ(installer.status(), L"Installation failed (Error Code 4).");
        EXPECT_EQ(installer.leave(), 0u);
    }
    expect_same(before_, picture());
    std::error_code ignored;
    fs::remove_all(copy, ignored);
}

TEST_F(scenario, a_newer_installed_version_keeps_the_wizard_on_its_first_page)
{
    use_folder(default_install_folder());
    // The registered program of a newer version.
    const fs::path newer = fs::path(install_folder_) / L"Quillmar.exe";
    fs::create_directories(newer.parent_path());
    fs::copy_file(test_support::build_file(L"tests\\records\\product_files\\quillmar_3_10_0_0.exe"), newer);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Halden & Voss", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"Quillmar 3 Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(newer.c_str()),
                   static_cast<DWORD>((newer.wstring().size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    before_ = picture();
    {
        wizard installer;
        EXPECT_FALSE(drv::is_enabled(installer.button(IDOK)));
        PostMessageW(installer.button(IDCANCEL), BM_CLICK, 0, 0);
        EXPECT_EQ(installer.exit_code(), 0u);
    }
    expect_same(before_, picture());
}

}
