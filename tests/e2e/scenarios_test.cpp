// The real installer and uninstaller driven through their windows between
// described machine states: a first installation (quick and advanced), an
// update over the older version, a newer version refused, failed
// installations rolled back, and uninstallation back to the picture taken
// before. Each scenario needs a prefix without the product and leaves it so.
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/scenario.h"
#include "platform/error_text.h"
#include "platform/kernel_handle.h"
#include "platform/security.h"
#include "records/uninstall_log.h"
#include "support/sync_helper_process.h"

namespace {

using namespace e2e;

TEST_F(scenario, quick_installation_then_uninstallation)
{
    use_folder(default_install_folder());
    {
        wizard installer;
        installer.quick_to_install_page();
        ASSERT_TRUE(installer.install()) << installer.outcome();
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
        ASSERT_TRUE(installer.install()) << installer.outcome();
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
        ASSERT_TRUE(installer.install()) << "run " << run << ": " << installer.outcome();
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
        ASSERT_TRUE(installer.install()) << installer.outcome();
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
        ASSERT_TRUE(installer.install()) << installer.outcome();
        // The product ends its registration with its success code only for
        // a well-formed " /update=0003000500020009"; a bad one fails the step.
        const std::wstring log = drv::text(installer.page_control(install_log));
        EXPECT_NE(log.find(L"Registry Data Writing...OK\r\n"), std::wstring::npos) << to_utf8(log);
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

// Escape, the system menu's Close, Alt+F4 and a close request, all arriving
// while the installation runs (posted behind the click on Install, so the
// installation's own message pump serves them): none asks or leaves.
TEST_F(scenario, nothing_leaves_the_wizard_while_it_installs)
{
    use_folder(default_install_folder());
    {
        wizard installer;
        installer.quick_to_install_page();
        const HWND frame = installer.frame();
        PostMessageW(installer.button(IDOK), BM_CLICK, 0, 0);
        PostMessageW(frame, WM_KEYDOWN, VK_ESCAPE, 1);
        PostMessageW(frame, WM_KEYUP, VK_ESCAPE, 0xC0000001);
        PostMessageW(frame, WM_SYSCOMMAND, SC_CLOSE, 0);
        PostMessageW(frame, WM_SYSKEYDOWN, VK_F4, 0x20000001);
        PostMessageW(frame, WM_SYSKEYUP, VK_F4, 0xE0000001);
        PostMessageW(frame, WM_CLOSE, 0, 0);
        PostMessageW(frame, WM_COMMAND, IDCANCEL, 0);
        // Until the installation has ended and the buttons are back.
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        const auto ended = [&] {
            const std::wstring status = installer.status();
            return (status == L"Click on 'Next' to continue." || status.find(L"failed") != std::wstring::npos) &&
                   drv::is_enabled(installer.button(IDOK)) && drv::is_enabled(installer.button(IDCANCEL));
        };
        while (!ended()) {
            ASSERT_TRUE(IsWindow(frame) && IsWindowVisible(frame)) << "the frame went away during the installation";
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the installation did not end";
            EnumThreadWindows(
                GetWindowThreadProcessId(frame, nullptr),
                [](HWND window, LPARAM) -> BOOL {
                    wchar_t name[16] = {};
                    GetClassNameW(window, name, 16);
                    if (std::wstring(name) == L"#32770" && GetWindow(window, GW_OWNER))
                        ADD_FAILURE() << "a question came up during the installation";
                    return TRUE;
                },
                0);
            Sleep(20);
        }
        EXPECT_TRUE(IsWindowVisible(frame));
        EXPECT_EQ(installer.status(), L"Click on 'Next' to continue.");
        EXPECT_EQ(installer.finish(), 0u);
    }
    expect_state(installed_state(true, true));
    EXPECT_EQ(uninstall(install_folder_), 0u);
    expect_same(before_, picture());
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

namespace {

std::wstring product_program()
{
    return test_support::build_file(L"src\\product\\Quillmar.exe");
}

std::wstring registered_language()
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3",
                     L"HvLanguage", RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return L"none";
    return std::to_wstring(value);
}

const std::wstring english_title = L"Installer \u2013 Quillmar 3.05c";

HWND wait_for_product_window(DWORD process_id)
{
    return ui_driver::wait_for_window(process_id, L"HaldenVoss.Quillmar3", 30s);
}

TEST_F(scenario, a_second_installer_finds_the_first_busy_and_ends_with_zero)
{
    use_folder(default_install_folder());
    wizard first;
    drv::process second(test_support::build_file(L"src\\Quillmar3Setup.exe"), L"");
    const HWND box = drv::wait_for_dialog(second.id(), 30s);
    EXPECT_EQ(drv::message_box_text(box), error_text(ERROR_BUSY));
    drv::answer_message_box(box, IDOK);
    const auto code = second.wait_for_exit(30s);
    ASSERT_TRUE(code) << "the second installer did not end";
    EXPECT_EQ(*code, 0u);
    // The first one is untouched and goes on.
    first.move(IDOK, mode_page_marker);
    EXPECT_EQ(first.leave(), 0u);
    expect_same(before_, picture());
}

TEST_F(scenario, a_running_product_is_asked_about_until_cancel_and_retry_after_it_ended_goes_on)
{
    use_folder(default_install_folder());
    drv::process product(product_program(), L"");
    const HWND product_window = wait_for_product_window(product.id());
    ASSERT_NE(product_window, nullptr) << "the product's window did not come";
    const std::wstring question = L"You should close 'Quillmar' before continuing Installation.";
    {
        drv::process installer(test_support::build_file(L"src\\Quillmar3Setup.exe"), L"");
        HWND box = drv::wait_for_dialog(installer.id(), 30s);
        for (int retry = 0; retry < 2; ++retry) {
            EXPECT_EQ(drv::message_box_text(box), question) << "retry " << retry;
            drv::answer_message_box(box, IDRETRY);
            box = drv::wait_for_dialog(installer.id(), 30s, {}, box);
        }
        EXPECT_EQ(drv::message_box_text(box), question);
        drv::answer_message_box(box, IDCANCEL);
        const auto code = installer.wait_for_exit(30s);
        ASSERT_TRUE(code) << "the installer did not end after Cancel";
        EXPECT_EQ(*code, 0u);
    }
    {
        drv::process installer(test_support::build_file(L"src\\Quillmar3Setup.exe"), L"");
        const HWND box = drv::wait_for_dialog(installer.id(), 30s);
        EXPECT_EQ(drv::message_box_text(box), question);
        PostMessageW(product_window, WM_CLOSE, 0, 0);
        ASSERT_TRUE(product.wait_for_exit(30s)) << "the product did not end";
        drv::answer_message_box(box, IDRETRY);
        const HWND frame = drv::wait_for_dialog(installer.id(), 30s, {}, box);
        EXPECT_EQ(drv::text(frame), english_title);
        PostMessageW(drv::control(frame, IDCANCEL), BM_CLICK, 0, 0);
        drv::answer_message_box(drv::wait_for_message_box(installer.id(), frame, 10s), IDYES);
        const auto code = installer.wait_for_exit(30s);
        ASSERT_TRUE(code);
        EXPECT_EQ(*code, 0u);
    }
    expect_same(before_, picture());
}

// The installer started on a token whose Administrators group only denies.
TEST_F(scenario, without_administrator_rights_the_installer_refuses_and_changes_nothing)
{
    use_folder(default_install_folder());
    kernel_handle own_token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, own_token.put()));
    const owned_sid administrators(sid_kind::administrators);
    SID_AND_ATTRIBUTES deny_only{administrators.get(), 0};
    kernel_handle user_token;
    ASSERT_TRUE(CreateRestrictedToken(own_token.get(), 0, 1, &deny_only, 0, nullptr, 0, nullptr, user_token.put()))
        << GetLastError();

    std::wstring command = L"\"" + test_support::build_file(L"src\\Quillmar3Setup.exe") + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessAsUserW(user_token.get(), nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &started)) {
        const DWORD error = GetLastError();
        // Windows with UAC asks for elevation first (the manifest requires
        // administrators); the installer's own refusal shows only without UAC.
        constexpr DWORD elevation_required = 740; // ERROR_ELEVATION_REQUIRED, not in this toolchain's headers
        if (error == elevation_required)
            GTEST_SKIP() << "the system asks for elevation before the installer starts";
        FAIL() << "CreateProcessAsUser: " << error;
    }
    kernel_handle process(started.hProcess);
    kernel_handle thread(started.hThread);

    const HWND window = drv::wait_for_dialog(started.dwProcessId, 30s);
    const std::wstring text = drv::message_box_text(window);
    if (text.empty()) {
        // Wine gave the program the caller's own token, with the group.
        PostMessageW(drv::control(window, IDCANCEL), BM_CLICK, 0, 0);
        drv::answer_message_box(drv::wait_for_message_box(started.dwProcessId, window, 10s), IDYES);
        WaitForSingleObject(process.get(), 30000);
        GTEST_SKIP() << "Wine started the installer without the restricted token (its wizard came); "
                        "the refusal itself is checked in-process on a restricted thread token";
    }
    EXPECT_EQ(text, L"You should have Administrator Rights in order to proceed to Installation.");
    drv::answer_message_box(window, IDOK);
    ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0) << "the installer did not end";
    DWORD code = ~0u;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
    expect_same(before_, picture());
}

struct system_locale_case {
    LANGID language;
    const wchar_t* title;
    int selected; // in the start page's list
};

// Run once a system locale: ctest starts this program again with LC_ALL set
// to German, Croatian and Polish (Wine takes the user's language from the
// locale a process starts with, not from an environment block).
TEST_F(scenario, the_start_up_language_follows_the_system_locale)
{
    use_folder(default_install_folder());
    const system_locale_case cases[] = {
        {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), english_title.c_str(), 1},
        {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), L"Installationsprogramm \u2013 Quillmar 3.05c", 2},
        {MAKELANGID(LANG_CROATIAN, SUBLANG_CROATIAN_CROATIA), english_title.c_str(), 1}, // not offered
        {MAKELANGID(LANG_POLISH, SUBLANG_POLISH_POLAND), english_title.c_str(), 1}, // no installer texts
    };
    const LANGID user = GetUserDefaultLangID();
    const auto row = std::find_if(std::begin(cases), std::end(cases),
                                  [&](const system_locale_case& c) { return c.language == user; });
    if (row == std::end(cases))
        GTEST_SKIP() << "no expectation for the user language " << std::hex << user;
    wizard installer;
    EXPECT_EQ(drv::text(installer.frame()), row->title);
    EXPECT_EQ(drv::combo_selection(installer.page_control(language_list)), row->selected);
    EXPECT_EQ(installer.leave(), 0u);
    expect_same(before_, picture());
}

TEST_F(scenario, a_language_chosen_on_the_start_page_is_the_installed_language)
{
    use_folder(default_install_folder());
    {
        wizard installer;
        drv::pick_combo_item(installer.page_control(language_list), 3); // Italiano
        EXPECT_EQ(drv::wait_for_text(installer.frame(), L"Programma di installazione \u2013 Quillmar 3.05c", 5s),
                  L"Programma di installazione \u2013 Quillmar 3.05c");
        installer.quick_to_install_page();
        ASSERT_TRUE(installer.install()) << installer.outcome();
        EXPECT_EQ(installer.finish(), 0u);
    }
    EXPECT_EQ(registered_language(), L"11");
    EXPECT_EQ(uninstall(install_folder_), 0u);
    expect_same(before_, picture());
}

}
