// The earlier installation's log read into the installer state: its folders
// and desktop-shortcut choice become this installation's proposals.
#include "core/installer_context.h"

#include "identity/product.h"
#include "platform/registry.h"
#include "platform/language.h"
#include "support/registry_sandbox.h"
#include "ui/window_helpers.h"
#include "support/test_support.h"

#include <fstream>
#include <string>
#include <vector>

#include <fmt/xchar.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::wstring unique_lock_name()
{
    static int serial = 0;
    return fmt::format(L"HvPreviousTest.{}.{}", GetCurrentProcessId(), ++serial);
}

// The installed folders of an earlier installation, in a folder of the test's own.
struct earlier_installation {
    fs::path root = fs::temp_directory_path() / (L"hv-previous-" + std::to_wstring(GetCurrentProcessId()));
    fs::path install = root / L"Halden & Voss" / L"Quillmar 3";
    fs::path menu = root / L"Start Menu" / L"Programs";
    fs::path desktop = root / L"Desktop";

    earlier_installation()
    {
        fs::remove_all(root);
        for (const auto& folder : {install, menu, desktop})
            fs::create_directories(folder);
    }
    ~earlier_installation()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    // A log as an installation writes it: UTF-16 with byte-order mark, CR LF.
    fs::path write_log(const std::vector<std::wstring>& records, const std::wstring& first_line = L"// Uninstall Log File v1") const
    {
        std::vector<std::wstring> lines{first_line,
                                        L"// ############ WARNING: Do not delete or modify this file. ############",
                                        L"// Install Quillmar 3.05b",
                                        L"// Install Path : " + install.wstring(),
                                        L"// Shortcut Path : " + menu.wstring(),
                                        L"// " + std::wstring(100, L'-')};
        lines.insert(lines.end(), records.begin(), records.end());
        std::wstring text = L"\xFEFF";
        for (const auto& line : lines)
            text += line + L"\r\n";
        const fs::path file = install / L"Uninstall.ulog";
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size() * sizeof(wchar_t)));
        return file;
    }

    std::vector<std::wstring> records(bool with_desktop) const
    {
        std::vector<std::wstring> lines{
            L"0000:00ff:1 -- " + install.wstring(),
            L"0001:0101:1 -- " + (install / L"quillmar.exe").wstring(),
            L"0002:02ff:1 -- " + (menu / L"Quillmar 3.05b.lnk").wstring(),
        };
        if (with_desktop)
            lines.push_back(L"0003:04ff:1 -- " + (desktop / L"Quillmar 3.05b.lnk").wstring());
        return lines;
    }
};

struct log_case {
    const char* what;
    bool with_desktop;
    const wchar_t* first_line;
    const wchar_t* extra_line;
    bool desktop_expected;
};

TEST(PreviousInstallation, FoldersAndDesktopChoiceFollowTheLog)
{
    const log_case cases[] = {
        {"with desktop shortcut", true, L"// Uninstall Log File v1", nullptr, true},
        {"without desktop shortcut", false, L"// Uninstall Log File v1", nullptr, false},
        {"malformed record", false, L"// Uninstall Log File v1", L"not a record", true},
    };
    for (const auto& c : cases) {
        earlier_installation earlier;
        auto records = earlier.records(c.with_desktop);
        if (c.extra_line)
            records.push_back(c.extra_line);
        const fs::path log = earlier.write_log(records, c.first_line);

        installer_context context(unique_lock_name());
        context.existing_state = older_installed;
        context.desktop_shortcut = !c.desktop_expected;
        context.load_previous_installation([&] { return log.wstring(); });
        EXPECT_EQ(context.install_folder, earlier.install.wstring()) << c.what;
        EXPECT_EQ(context.menu_folder, earlier.menu.wstring()) << c.what;
        EXPECT_EQ(context.desktop_shortcut, c.desktop_expected) << c.what;
        EXPECT_FALSE(context.log.previous.empty()) << c.what;
    }
}

TEST(PreviousInstallation, DeletedInstallFolderGetsTheDefault)
{
    earlier_installation earlier;
    const fs::path log = earlier.root / L"Uninstaller" / L"Uninstall.ulog";
    const fs::path written = earlier.write_log(earlier.records(true));
    fs::create_directories(log.parent_path());
    fs::rename(written, log);
    fs::remove_all(earlier.install);

    installer_context context(unique_lock_name());
    context.existing_state = same_installed;
    context.load_previous_installation([&] { return log.wstring(); });
    EXPECT_EQ(context.install_folder, L"");
    EXPECT_EQ(context.menu_folder, earlier.menu.wstring());

    ASSERT_TRUE(context.choose_default_folders());
    std::wstring program_files;
    ASSERT_EQ(query_known_folder(FOLDERID_ProgramFiles, program_files), S_OK);
    EXPECT_EQ(context.install_folder, (fs::path(program_files) / L"Halden & Voss" / L"Quillmar 3").wstring());
    EXPECT_EQ(context.menu_folder, earlier.menu.wstring());
    EXPECT_EQ(context.existing_state, same_installed);
}

TEST(PreviousInstallation, StatesWithoutEarlierInstallationResetTheLog)
{
    earlier_installation earlier;
    const fs::path log = earlier.write_log(earlier.records(false));
    for (const std::int32_t state : {newer_installed, not_installed}) {
        installer_context context(unique_lock_name());
        context.existing_state = state;
        context.log.install_folder = L"stale";
        context.load_previous_installation([&] { return log.wstring(); });
        EXPECT_EQ(context.log.install_folder, L"") << state;
        EXPECT_TRUE(context.log.previous.empty()) << state;
        EXPECT_EQ(context.install_folder, L"") << state;
        EXPECT_TRUE(context.desktop_shortcut) << state;
    }
}

TEST(PreviousInstallation, UpdateFoundThroughTheRegistry)
{
    registry_sandbox sandbox(L"previous-update");
    sandbox.redirect_local_machine();
    earlier_installation earlier;
    const fs::path program = earlier.install / L"quillmar.exe";
    fs::copy_file(test_support::build_file(L"tests\\records\\product_files\\quillmar_3_5_2_9.exe"), program);
    const fs::path log = earlier.write_log(earlier.records(false));
    set_string(create_key(registry_root::local_machine, maker_key), L"Quillmar 3 Path", program.wstring());
    set_string(create_key(registry_root::local_machine,
                          L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3"),
               L"UninstallString", (earlier.install / L"uninstall.exe").wstring());

    const std::wstring registered = registered_product_path(installer_product_code);
    installer_context context(unique_lock_name());
    context.classify_existing(registered);
    context.load_previous_installation([&] { return find_previous_log(registered); });
    EXPECT_EQ(context.existing_state, older_installed);
    EXPECT_EQ(context.existing_version, 0x0003000500020009u);
    EXPECT_EQ(context.existing_name, L"Quillmar 3.05b");
    EXPECT_EQ(context.install_folder, earlier.install.wstring());
    EXPECT_EQ(context.menu_folder, earlier.menu.wstring());
    EXPECT_FALSE(context.desktop_shortcut);
    EXPECT_EQ(context.log.previous.size(), 3u);
}

TEST(PreviousInstallation, StartUpOverAnOlderRegisteredProduct)
{
    earlier_installation earlier;
    const fs::path program = earlier.install / L"quillmar.exe";
    fs::copy_file(test_support::build_file(L"tests\\records\\product_files\\quillmar_3_5_2_9.exe"), program);
    earlier.write_log(earlier.records(false));
    registry_sandbox sandbox(L"previous-startup");
    sandbox.redirect_local_machine();
    {
        const reg_key entry = create_key(registry_root::local_machine, product_uninstall_key().c_str());
        set_string(entry, L"UninstallString", (earlier.install / L"Uninstall.exe").wstring());
        set_dword(entry, L"HvLanguage", 2);
    }
    std::vector<std::wstring> boxes;
    ui_hooks::instance().show_message_box = [&](HWND, const wchar_t* text, const wchar_t*, UINT) {
        boxes.push_back(text);
        return IDCANCEL;
    };
    const language_index saved_language = locale_state::instance().current;
    processor_check_passed = true;

    startup_sources sources;
    sources.user_language = [] { return LANGID{0x0409}; };
    sources.is_administrator = [] { return true; };
    sources.registered_program = [&] { return program.wstring(); };
    installer_context context(unique_lock_name());
    const bool started = context.initialise(sources);
    const language_index language = locale_state::instance().current;

    processor_check_passed = false;
    set_language(saved_language);
    ui_hooks::instance().show_message_box = nullptr;

    EXPECT_TRUE(started);
    EXPECT_TRUE(boxes.empty()) << boxes.size() << " boxes";
    EXPECT_EQ(context.existing_state, older_installed);
    EXPECT_EQ(context.existing_version, 0x0003000500020009u);
    EXPECT_EQ(context.existing_name, L"Quillmar 3.05b");
    EXPECT_EQ(language, 2) << "the earlier installation's language";
    EXPECT_EQ(context.install_folder, earlier.install.wstring());
    EXPECT_EQ(context.menu_folder, earlier.menu.wstring());
    EXPECT_FALSE(context.desktop_shortcut);
    EXPECT_EQ(context.log.previous.size(), 3u);
    EXPECT_TRUE(context.instance_mutex.owned());
}

}
