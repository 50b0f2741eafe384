// The user's files and settings survive the real installer and uninstaller:
// records of a changed log that point outside the installation, an example
// the user edited, backups a failed installation left behind, a failed
// uninstallation, and another program's document type.
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "e2e/scenario.h"
#include "records/backup.h"
#include "records/uninstall_log.h"
#include "support/sync_helper_process.h"

namespace {

using namespace e2e;

void write_text(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Changes the records of the installed log as a user who can write the
// installation folder could.
void change_log(const std::wstring& folder, const std::function<void(std::vector<log_record>&)>& change)
{
    const fs::path file = fs::path(folder) / uninstall_log_name;
    uninstall_log log;
    ASSERT_TRUE(log.read(file));
    log.current = std::move(log.previous);
    log.previous.clear();
    change(log.current);
    const std::wstring install_folder = log.install_folder;
    const std::wstring shortcut_folder = log.shortcut_folder;
    ASSERT_TRUE(log.write(file, install_folder, shortcut_folder));
}

void add_to_log(const std::wstring& folder, const std::vector<log_record>& records)
{
    change_log(folder, [&](std::vector<log_record>& all) { all.insert(all.end(), records.begin(), records.end()); });
}

void remove_from_log(const std::wstring& folder, const std::vector<log_record>& records)
{
    change_log(folder, [&](std::vector<log_record>& all) {
        std::erase_if(all, [&](const log_record& r) { return std::find(records.begin(), records.end(), r) != records.end(); });
    });
}

class data_safety : public scenario {
protected:
    void install_quickly(const std::string& label, std::wstring* log_text = nullptr)
    {
        wizard installer;
        installer.quick_to_install_page();
        ASSERT_TRUE(installer.install()) << label << ": " << installer.outcome();
        if (log_text)
            *log_text = drv::text(installer.page_control(install_log));
        EXPECT_EQ(installer.finish(), 0u);
    }
};

TEST_F(data_safety, records_pointing_outside_the_installation_are_never_acted_on)
{
    use_folder(default_install_folder());
    const fs::path victim = expand(L"%SystemDrive%\\hv-victim\\important.txt");
    const fs::path document = expand(L"%PUBLIC%\\Documents\\mydoc.txt");
    const fs::path empty_folder = expand(L"%PUBLIC%\\Documents\\hv-empty folder");
    const fs::path relative_target = expand(L"%PUBLIC%\\Documents\\reltarget.txt");
    write_text(victim, "important");
    write_text(document, "my document");
    write_text(relative_target, "relative");
    fs::create_directories(empty_folder);
    const fact_set victims_before = capture({victim.parent_path().wstring(), expand(L"%PUBLIC%\\Documents")}, {});
    before_ = picture();

    const std::vector<log_record> hostile{
        {record_kind::file, victim.wstring(), L"", true, 0},
        {record_kind::file, expand(L"%windir%\\win.ini"), L"", true, 0},
        {record_kind::file, L"..\\..\\users\\Public\\Documents\\reltarget.txt", L"", true, 0},
        {record_kind::menu_shortcut, document.wstring(), L"", true, -1},
        {record_kind::directory, empty_folder.wstring(), L"", true, -1},
    };
    install_quickly("first");

    // A reinstallation drops them from the merged log and says so.
    add_to_log(install_folder_, hostile);
    std::wstring page_log;
    install_quickly("reinstallation", &page_log);
    for (const log_record& record : hostile)
        EXPECT_NE(page_log.find(L"outside the installation's folders: \"" + record.path + L"\""), std::wstring::npos)
            << to_utf8(record.path);
    uninstall_log merged;
    ASSERT_TRUE(merged.read(install_folder_ + L"\\Uninstall.ulog"));
    for (const log_record& record : merged.previous)
        for (const log_record& bad : hostile)
            EXPECT_NE(record.path, bad.path) << "carried into the new log";
    expect_same(victims_before, capture({victim.parent_path().wstring(), expand(L"%PUBLIC%\\Documents")}, {}));

    // The uninstaller leaves them, keeps its log and entry, and says it is incomplete.
    add_to_log(install_folder_, hostile);
    EXPECT_EQ(uninstall_quietly(install_folder_), 4u);
    expect_same(victims_before, capture({victim.parent_path().wstring(), expand(L"%PUBLIC%\\Documents")}, {}));
    EXPECT_TRUE(fs::exists(fs::path(install_folder_) / uninstall_log_name));
    EXPECT_TRUE(fs::exists(fs::path(install_folder_) / L"Uninstall.exe"));
    expect_state({{L"key", product_key, {}, {L"present"}}});

    // Without them, the next run finishes the job.
    remove_from_log(install_folder_, hostile);
    EXPECT_EQ(uninstall(install_folder_), 0u);
    expect_same(before_, picture());

    std::error_code ignored;
    fs::remove_all(victim.parent_path(), ignored);
    fs::remove(document, ignored);
    fs::remove(relative_target, ignored);
    fs::remove(empty_folder, ignored);
}

TEST_F(data_safety, an_example_the_user_edited_survives_reinstallation_and_uninstallation)
{
    use_folder(default_install_folder());
    install_quickly("first");
    const fs::path letter = fs::path(examples_folder()) / L"Letter.qmd";
    const std::string edited = read_text(letter) + "\r\nP.S. My own words.\r\n";
    write_text(letter, edited);

    install_quickly("reinstallation");
    EXPECT_EQ(read_text(letter), edited) << "the reinstallation wrote over the user's document";

    EXPECT_EQ(uninstall(install_folder_), 0u) << "kept on purpose, the uninstallation is complete";
    EXPECT_EQ(read_text(letter), edited);
    auto kept = left_on_purpose;
    kept.push_back(L"file\t" + letter.wstring() + L"\t");
    kept.push_back(L"folder\t" + examples_folder() + L"\t");
    for (const auto& change : changes(before_, picture(), kept))
        ADD_FAILURE() << to_utf8(change);
    std::error_code ignored;
    fs::remove_all(examples_folder(), ignored);
}

// What a rollback could not put back (its backup and the list of them) is
// put back by the next start of the installer, which says so.
TEST_F(data_safety, the_next_run_puts_back_what_a_failed_installation_left_behind)
{
    use_folder(default_install_folder());
    install_quickly("first");
    const fs::path letter = fs::path(examples_folder()) / L"Letter.qmd";
    const std::string users_text = "the user's letter";
    write_text(letter, users_text);
    before_ = picture();

    // As a rollback leaves it when the new file could not be removed: the
    // user's file in the run's private folder, the installed one in its place.
    const fs::path storage = expand(L"%ProgramData%\\Halden & Voss Setup");
    const fs::path run = storage / L"halden_{00000000-0000-0000-0000-000000000001}";
    fs::create_directories(run);
    const fs::path backup = run / L"hv-0a1b2.tmp";
    ASSERT_TRUE(MoveFileExW(letter.c_str(), backup.c_str(), 0));
    const std::string shipped = "the shipped letter";
    write_text(letter, shipped);
    ASSERT_TRUE(add_not_restored({{backup.wstring(), letter.wstring(), file_content_sum(backup.wstring()),
                                   file_content_sum(letter.wstring())}}));

    ASSERT_EQ(read_not_restored().size(), 1u) << to_utf8(not_restored_list_path());
    {
        drv::process installer(test_support::build_file(L"src\\Quillmar3Setup.exe"), L"");
        const HWND box = drv::wait_for_dialog(installer.id(), 60s);
        const std::wstring text = drv::message_box_text(box);
        EXPECT_NE(text.find(L"Put back after an earlier installation had failed:"), std::wstring::npos) << to_utf8(text);
        EXPECT_NE(text.find(letter.wstring()), std::wstring::npos) << to_utf8(text);
        drv::answer_message_box(box, IDOK);
        const HWND frame = drv::wait_for_dialog(installer.id(), 30s, {}, box);
        PostMessageW(drv::control(frame, IDCANCEL), BM_CLICK, 0, 0);
        // Leaving the start page over a complete installation asks nothing.
        const auto code = installer.wait_for_exit(30s);
        ASSERT_TRUE(code);
        EXPECT_EQ(*code, 0u);
    }
    EXPECT_EQ(read_text(letter), users_text);
    expect_same(before_, picture());

    EXPECT_EQ(uninstall(install_folder_), 0u);
}

TEST_F(data_safety, a_failed_uninstallation_keeps_its_entry_and_the_next_run_finishes_it)
{
    use_folder(default_install_folder());
    install_quickly("first");
    const fs::path held = fs::path(install_folder_) / L"Lang" / L"Quillmar.de.dll";
    {
        test_support::sync_helper_process holder(L"lock", held.wstring());
        ASSERT_TRUE(holder.wait_ready());
        EXPECT_EQ(uninstall_quietly(install_folder_), 4u);
        EXPECT_EQ(holder.finish(), 0u);
    }
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(fs::exists(fs::path(install_folder_) / uninstall_log_name));
    expect_state({{L"key", product_key, {}, {L"present"}},
                  {L"value", L"HKLM\\Software\\Halden & Voss", L"Quillmar 3 Path", {L"present"}},
                  {L"key", L"HKLM\\Software\\Classes\\.qmd", {}, {L"present"}}});

    EXPECT_EQ(uninstall(install_folder_), 0u);
    expect_same(before_, picture());
}

TEST_F(data_safety, another_programs_document_type_is_given_back)
{
    use_folder(default_install_folder());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.qmd", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring other = L"Other.Document";
    RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(other.c_str()),
                   static_cast<DWORD>((other.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    before_ = picture();

    install_quickly("first");
    wchar_t taken[64] = {};
    DWORD size = sizeof taken;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.qmd", L"", RRF_RT_REG_SZ, nullptr, taken, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(taken), L"Quillmar.Document.3");
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.qmd\\OpenWithProgids", L"Quillmar.Document.3",
                           RRF_RT_ANY, nullptr, nullptr, nullptr),
              ERROR_SUCCESS)
        << "\"Open with\" offers the product";

    EXPECT_EQ(uninstall(install_folder_), 0u);
    expect_same(before_, picture());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.qmd");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.qmd");
}

}
