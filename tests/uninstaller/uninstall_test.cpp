// The uninstaller's work against logs written by the project's log writer,
// in a scratch folder of its own and with HKEY_LOCAL_MACHINE redirected.
#include "uninstaller/uninstall.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include <gtest/gtest.h>

#include "identity/product.h"
#include "platform/kernel_handle.h"
#include "platform/language.h"
#include "platform/registry.h"
#include "platform/string_table.h"
#include "platform/sync_objects.h"
#include "product/registration.h"
#include "records/backup.h"
#include "records/log_test_support.h"
#include "support/registry_sandbox.h"
#include "support/sync_helper_process.h"
#include "uninstaller/uninstaller_ids.h"

namespace fs = std::filesystem;
using action = uninstall_step::action;
using kind = record_kind;

namespace {

}

void PrintTo(const uninstall_step& step, std::ostream* out)
{
    *out << "{" << static_cast<int>(step.what) << ", \"" << fs::path(step.path).string() << "\", " << step.value << "}";
}

namespace {

TEST(plan_uninstall, orders_steps_newest_first_and_folders_last_deepest_first)
{
    const std::vector<log_record> records{
        {kind::directory, L"C:\\P", L"", true, -1},
        {kind::directory, L"C:\\P\\Q", L"", true, -1},
        {kind::file, L"C:\\P\\Q\\Quillmar.exe", L"", true, 1},
        {kind::file, L"C:\\P\\Q\\Uninstall.exe", L"", true, 2},
        {kind::file, L"C:\\Data\\Quillmar.ini", L"", true, 3},
        {kind::file, L"C:\\P\\Q\\half.dll", L"", false, 0},
        {kind::menu_shortcut, L"C:\\Menu\\Quillmar 3.05c.lnk", L"", true, -1},
        {kind::desktop_shortcut, L"", L"", false, -1},
        {kind::uninstall_key, L"", L"", true, -1},
        {kind::associations, L"", L"", false, -1},
        {static_cast<kind>(3), L"C:\\odd", L"", true, -1},
        {kind::directx_update, L"C:\\dx", L"", true, -1},
        // An update's log lists the earlier installation's records last.
        {kind::directory, L"C:\\P\\Q\\Lang", L"", true, -1},
        {kind::file, L"c:\\p\\q\\QUILLMAR.EXE", L"", true, 1},
    };
    const std::vector<uninstall_step> expected{
        {action::remove_file, L"c:\\p\\q\\QUILLMAR.EXE", 1},
        {action::remove_registration, L"c:\\p\\q\\QUILLMAR.EXE", -1},
        {action::remove_uninstall_key, L"", -1},
        {action::remove_file, L"C:\\Menu\\Quillmar 3.05c.lnk", -1},
        {action::remove_file, L"C:\\Data\\Quillmar.ini", 3},
        {action::remove_file, L"C:\\P\\Q\\Uninstall.exe", 2},
        {action::remove_folder, L"C:\\P\\Q\\Lang", -1},
        {action::remove_folder, L"C:\\P\\Q", -1},
        {action::remove_folder, L"C:\\P", -1},
    };
    EXPECT_EQ(plan_uninstall(records), expected);
}

// What a test's uninstaller was asked, and its answers.
struct prompts {
    bool confirm = true;
    bool remove_changed = false;
    std::vector<std::pair<prompt, std::wstring>> seen;

    prompt_function function()
    {
        return [this](prompt kind, const std::wstring& text) {
            seen.emplace_back(kind, text);
            if (kind == prompt::confirm)
                return confirm;
            if (kind == prompt::remove_changed_files)
                return remove_changed;
            return true;
        };
    }
    int count(prompt kind) const
    {
        return static_cast<int>(
            std::count_if(seen.begin(), seen.end(), [kind](const auto& p) { return p.first == kind; }));
    }
};

const std::string shipped_settings = "shipped settings";
const std::string shipped_letter = "Dear reader,";

class uninstall_run : public ::testing::Test {
protected:
    uninstall_run() { sandbox_.redirect_local_machine(); }

    void SetUp() override
    {
        create_key(registry_root::local_machine, uninstall_list_key);
        options_.application_id = test_support::unique_object_name(L"app");
        options_.ask = prompts_.function();
        options_.shipped_data = [](const std::wstring& name) -> std::optional<std::string> {
            if (name == L"Quillmar.ini")
                return shipped_settings;
            if (name == L"Letter.qmd")
                return shipped_letter;
            return std::nullopt;
        };
        options_.own_path = L"C:\\not\\this\\test.exe";
        options_.self_delete = false;
        options_.log_path = install_ / uninstall_log_name;
        // The scratch folder stands for the machine's folders: the examples
        // and the Start menu lie directly in it.
        owned_folders owned;
        owned.install_folder = install_.wstring();
        owned.data_folders = {install_.wstring(), data_.parent_path().wstring()};
        owned.desktop_folders = {scratch_.path().wstring()};
        owned.menu_folders = {scratch_.path().wstring()};
        options_.owned = owned;
        // The uninstaller looks after interrupted runs in the maker's private
        // storage; this test's runs have their own, and never touch the
        // machine's, where an installation may be running beside it.
        saved_storage_ = private_storage_folder();
        private_storage_folder() = [storage = (scratch_ / L"Setup storage").wstring()] { return storage; };
    }

    void TearDown() override { private_storage_folder() = saved_storage_; }

    // A first installation as the installer leaves it: folders, files,
    // a shortcut, the Uninstall entry, the program's registration, and
    // its log written by the project's writer.
    void install(bool write_log = true)
    {
        uninstall_log log;
        log.create_directories(install_ / L"Lang");
        log.create_directories(data_);
        log.create_directories(menu_);
        log.create_directories(scratch_ / L"Examples");
        for (const auto& [path, value] : files()) {
            write_bytes(path, value == 3 ? shipped_settings : value == 4 ? shipped_letter : "content");
            log.current.push_back({kind::file, path.wstring(), L"", true, value});
        }
        SetFileAttributesW(program().c_str(), FILE_ATTRIBUTE_READONLY);
        write_bytes(shortcut(), "link");
        log.current.push_back({kind::menu_shortcut, shortcut().wstring(), L"", true, -1});
        reg_key key = create_key(registry_root::local_machine, product_uninstall_key().c_str());
        set_string(key, L"DisplayName", std::wstring(L"Quillmar 3.05c"));
        log.current.push_back({kind::uninstall_key, L"", L"", true, -1});
        register_product(program().wstring());
        log.current.push_back({kind::associations, L"", L"", true, -1});
        if (write_log) {
            ASSERT_TRUE(log.write(options_.log_path, install_.wstring(), menu_.wstring()));
        }
    }

    std::vector<std::pair<fs::path, int>> files() const
    {
        return {{program(), 1},
                {install_ / L"Uninstall.exe", 2},
                {install_ / L"Lang" / L"Quillmar.de.dll", 0},
                {settings(), 3},
                {scratch_ / L"Examples" / L"Letter.qmd", 4}};
    }
    fs::path program() const { return install_ / L"Quillmar.exe"; }
    fs::path settings() const { return data_ / L"Quillmar.ini"; }
    fs::path letter() const { return scratch_ / L"Examples" / L"Letter.qmd"; }
    fs::path shortcut() const { return menu_ / L"Quillmar 3.05c.lnk"; }

    bool key_exists(const std::wstring& path) const
    {
        return static_cast<bool>(open_key(registry_root::local_machine, path.c_str()));
    }

    // Everything the installation left, to show that nothing was removed.
    std::vector<fs::path> tree() const
    {
        std::vector<fs::path> found;
        for (const auto& entry : fs::recursive_directory_iterator(scratch_.path()))
            found.push_back(entry.path());
        std::sort(found.begin(), found.end());
        return found;
    }

    void expect_nothing_removed(const std::vector<fs::path>& before)
    {
        EXPECT_EQ(tree(), before);
        EXPECT_TRUE(key_exists(product_uninstall_key()));
        EXPECT_TRUE(key_exists(L"Software\\Classes\\.qmd"));
    }

    registry_sandbox sandbox_{L"uninstall"};
    scratch_folder scratch_{L"uninstall"};
    const fs::path install_ = scratch_ / L"Halden & Voss" / L"Quillmar 3";
    const fs::path data_ = scratch_ / L"Common" / L"Quillmar";
    const fs::path menu_ = scratch_ / L"Menu";
    prompts prompts_;
    uninstall_options options_;
    std::function<std::wstring()> saved_storage_;
};

TEST_F(uninstall_run, first_installation_removes_all_it_recorded_and_keeps_a_foreign_file)
{
    install();
    write_bytes(install_ / L"notes of mine.txt", "mine");
    const uninstall_report report = run_uninstall(options_);
    EXPECT_EQ(report.exit_code, uninstall_done);
    for (const auto& [path, value] : files())
        EXPECT_FALSE(fs::exists(path)) << path;
    EXPECT_FALSE(fs::exists(shortcut()));
    EXPECT_FALSE(fs::exists(options_.log_path));
    EXPECT_FALSE(fs::exists(install_ / L"Lang"));
    EXPECT_FALSE(fs::exists(data_));
    EXPECT_FALSE(fs::exists(menu_));
    EXPECT_TRUE(fs::exists(install_ / L"notes of mine.txt"));
    EXPECT_TRUE(fs::exists(install_)) << "a folder with a foreign file stays";
    EXPECT_FALSE(key_exists(product_uninstall_key()));
    EXPECT_FALSE(key_exists(L"Software\\Classes\\.qmd"));
    EXPECT_FALSE(key_exists(L"Software\\Classes\\Quillmar.Document.3"));
    std::wstring path;
    reg_key maker = open_key(registry_root::local_machine, maker_key);
    EXPECT_FALSE(maker && read_string(maker, L"Quillmar 3 Path", path));
    EXPECT_EQ(prompts_.count(prompt::confirm), 1);
    EXPECT_EQ(prompts_.count(prompt::remove_changed_files), 0) << "unchanged data is not asked about";
    EXPECT_EQ(prompts_.count(prompt::summary), 1);
    EXPECT_EQ(report.folders, 5);
}

TEST_F(uninstall_run, an_updates_merged_log_removes_the_earlier_installations_folders_too)
{
    install(false);
    // The update's own records first, then the earlier ones it did not make again.
    uninstall_log update;
    update.previous = {{kind::directory, install_.parent_path().wstring(), L"", true, -1},
                       {kind::directory, install_.wstring(), L"", true, -1},
                       {kind::directory, (install_ / L"Lang").wstring(), L"", true, -1},
                       {kind::directory, data_.parent_path().wstring(), L"", true, -1},
                       {kind::directory, data_.wstring(), L"", true, -1},
                       {kind::directory, (scratch_ / L"Examples").wstring(), L"", true, -1},
                       {kind::file, (install_ / L"Old only.dll").wstring(), L"", true, 0}};
    write_bytes(install_ / L"Old only.dll", "old");
    for (const auto& [path, value] : files())
        update.current.push_back({kind::file, path.wstring(), L"", true, value});
    update.current.push_back({kind::uninstall_key, L"", L"", true, -1});
    update.current.push_back({kind::associations, L"", L"", true, -1});
    ASSERT_TRUE(update.write(options_.log_path, install_.wstring(), menu_.wstring()));

    EXPECT_EQ(run_uninstall(options_).exit_code, uninstall_done);
    EXPECT_FALSE(fs::exists(install_.parent_path())) << "the earlier installation's folders";
    EXPECT_FALSE(fs::exists(data_.parent_path()));
    EXPECT_FALSE(fs::exists(scratch_ / L"Examples"));
    EXPECT_TRUE(fs::exists(shortcut())) << "the update did not record this shortcut";
    EXPECT_FALSE(key_exists(product_uninstall_key()));
}

TEST_F(uninstall_run, a_file_already_gone_does_not_stop_the_rest)
{
    install();
    SetFileAttributesW(program().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove(program());
    const uninstall_report report = run_uninstall(options_);
    EXPECT_EQ(report.exit_code, uninstall_done);
    EXPECT_FALSE(fs::exists(install_.parent_path()));
    EXPECT_TRUE(report.failed.empty());

}

TEST_F(uninstall_run, a_damaged_or_missing_log_removes_nothing)
{
    install();
    const std::string good = [&] {
        std::ifstream in(options_.log_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    const auto utf16 = [](const std::wstring& text) {
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    };
    const struct {
        const char* what;
        std::optional<std::string> content;
    } cases[] = {
        {"missing", std::nullopt},
        {"empty", std::string()},
        {"another format version", "\xFF\xFE" + utf16(L"// Uninstall Log File v2\r\n0000:00ff:1 -- C:\\x\r\n")},
        {"a malformed record after good ones",
         good + utf16(L"0099:0900:1 -- C:\\x\r\n")},
        {"a record without its separator", good + utf16(L"0099:01ff:1 C:\\x\r\n")},
        {"a record before the version line", "\xFF\xFE" + utf16(L"0000:01ff:1 -- C:\\x\r\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetFileAttributesW(options_.log_path.c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove(options_.log_path);
        if (c.content)
            write_bytes(options_.log_path, *c.content);
        const auto before = tree();
        prompts_.seen.clear();
        EXPECT_EQ(run_uninstall(options_).exit_code, uninstall_bad_log);
        expect_nothing_removed(before);
        ASSERT_EQ(prompts_.count(prompt::bad_log), 1);
        EXPECT_NE(prompts_.seen.back().second.find(options_.log_path.wstring()), std::wstring::npos)
            << "the message names the log";
        EXPECT_EQ(prompts_.count(prompt::confirm), 0);
    }
}

TEST_F(uninstall_run, refuses_while_the_product_or_an_installer_runs)
{
    install();
    const struct {
        const wchar_t* mode;
        std::wstring object;
    } cases[] = {
        {L"count", instance_counter_name(options_.application_id)},
        {L"hold", installation_lock_name(options_.application_id)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(fs::path(c.mode).string());
        test_support::sync_helper_process other(c.mode, c.object);
        ASSERT_TRUE(other.wait_ready());
        const auto before = tree();
        prompts_.seen.clear();
        EXPECT_EQ(run_uninstall(options_).exit_code, uninstall_refused);
        expect_nothing_removed(before);
        EXPECT_EQ(prompts_.count(prompt::refused), 1);
        EXPECT_EQ(prompts_.count(prompt::confirm), 0);
        EXPECT_EQ(other.finish(), 0u);
    }
}

TEST_F(uninstall_run, saying_no_to_the_confirmation_removes_nothing)
{
    install();
    const auto before = tree();
    prompts_.confirm = false;
    EXPECT_EQ(run_uninstall(options_).exit_code, uninstall_cancelled);
    expect_nothing_removed(before);
}

TEST_F(uninstall_run, a_data_file_the_user_changed_is_kept_unless_the_user_agrees)
{
    for (const bool agree : {false, true}) {
        SCOPED_TRACE(agree ? "agrees" : "refuses");
        install();
        write_bytes(settings(), "the user's own settings");
        prompts_.seen.clear();
        prompts_.remove_changed = agree;
        const uninstall_report report = run_uninstall(options_);
        EXPECT_EQ(report.exit_code, uninstall_done);
        ASSERT_EQ(prompts_.count(prompt::remove_changed_files), 1);
        EXPECT_NE(prompts_.seen[1].second.find(settings().wstring()), std::wstring::npos);
        EXPECT_EQ(fs::exists(settings()), !agree);
        EXPECT_EQ(fs::exists(data_), !agree);
        EXPECT_FALSE(fs::exists(program()));
        scratch_folder::remove_all(data_.parent_path());
    }
}

TEST_F(uninstall_run, a_document_type_taken_over_by_another_program_keeps_its_association)
{
    install();
    reg_key extension = open_key(registry_root::local_machine, L"Software\\Classes\\.qmd");
    set_string(extension, L"", std::wstring(L"Other.Editor"));
    EXPECT_EQ(run_uninstall(options_).exit_code, uninstall_done);
    std::wstring value;
    reg_key after = open_key(registry_root::local_machine, L"Software\\Classes\\.qmd");
    ASSERT_TRUE(after);
    EXPECT_TRUE(read_string(after, L"", value));
    EXPECT_EQ(value, L"Other.Editor");
    EXPECT_FALSE(key_exists(L"Software\\Classes\\Quillmar.Document.3"));
}

TEST_F(uninstall_run, an_example_the_user_edited_is_kept_like_a_changed_data_file)
{
    for (const bool agree : {false, true}) {
        SCOPED_TRACE(agree ? "agrees" : "refuses");
        install();
        write_bytes(letter(), "Dear reader, my own words");
        write_bytes(settings(), "the user's own settings");
        prompts_.seen.clear();
        prompts_.remove_changed = agree;
        EXPECT_EQ(run_uninstall(options_).exit_code, uninstall_done);
        ASSERT_EQ(prompts_.count(prompt::remove_changed_files), 1) << "one question for all changed files";
        const std::wstring& question = prompts_.seen[1].second;
        EXPECT_NE(question.find(letter().wstring()), std::wstring::npos);
        EXPECT_NE(question.find(settings().wstring()), std::wstring::npos);
        EXPECT_EQ(fs::exists(letter()), !agree);
        scratch_folder::remove_all(scratch_ / L"Examples");
        scratch_folder::remove_all(data_.parent_path());
    }
}

// Told apart by its size, a huge (sparse) data file is kept without being
// read into memory.
// Nothing to compare with: the file may hold the user's work, so it counts
// as changed.
TEST_F(uninstall_run, a_recorded_data_file_nothing_was_shipped_for_is_kept)
{
    install(false);
    const fs::path styles = data_ / L"Styles.ini";
    write_bytes(styles, "shipped or changed: nobody can tell");
    uninstall_log log;
    log.current = {{kind::directory, data_.wstring(), L"", true, -1},
                   {kind::file, settings().wstring(), L"", true, 3},
                   {kind::file, styles.wstring(), L"", true, 3},
                   {kind::uninstall_key, L"", L"", true, -1}};
    ASSERT_TRUE(log.write(options_.log_path, install_.wstring(), menu_.wstring()));

    const uninstall_report report = run_uninstall(options_);
    EXPECT_EQ(report.exit_code, uninstall_done);
    EXPECT_TRUE(fs::exists(styles));
    EXPECT_FALSE(fs::exists(settings())) << "the data file as shipped goes";
    EXPECT_EQ(report.kept, std::vector<std::wstring>{styles.wstring()});
    ASSERT_EQ(prompts_.count(prompt::remove_changed_files), 1);
}

// A second run after a partial uninstallation, or an entry the user removed
// by hand: nothing to remove there is no failure.
TEST_F(uninstall_run, an_uninstall_key_already_gone_still_ends_as_done)
{
    install();
    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, product_uninstall_key().c_str()), ERROR_SUCCESS);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, product_uninstall_key().c_str());
    const uninstall_report report = run_uninstall(options_);
    EXPECT_EQ(report.exit_code, uninstall_done);
    EXPECT_TRUE(report.failed.empty());
    EXPECT_FALSE(fs::exists(options_.log_path));
    EXPECT_FALSE(fs::exists(install_.parent_path()));
}

TEST_F(uninstall_run, a_huge_changed_data_file_is_kept_without_reading_it_whole)
{
    install();
    {
        const kernel_handle file(CreateFileW(settings().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        DWORD ignored = 0;
        DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
        LARGE_INTEGER size{};
        size.QuadPart = 64LL << 30;
        ASSERT_TRUE(SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get())) << GetLastError();
    }
    const uninstall_report report = run_uninstall(options_);
    EXPECT_EQ(report.exit_code, uninstall_done);
    EXPECT_EQ(report.kept, std::vector<std::wstring>{settings().wstring()});
    EXPECT_FALSE(fs::exists(program()));
    scratch_folder::remove_all(data_.parent_path());
}

// Records a user could have written into the log: none is acted on, each is
// listed, and the log and the entry stay for another run.
TEST_F(uninstall_run, records_outside_the_installations_folders_are_left_alone_and_reported)
{
    scratch_folder victims{L"uninstall-victims"};
    const fs::path victim = victims / L"important.txt";
    const fs::path empty_folder = victims / L"empty";
    const std::wstring drive = install_.wstring().substr(0, 3);
    const struct {
        const char* what;
        log_record record;
    } cases[] = {
        {"a file elsewhere", {kind::file, victim.wstring(), L"", true, 0}},
        {"a system file", {kind::file, L"C:\\windows\\win.ini", L"", true, 0}},
        {"a relative path", {kind::file, L"..\\..\\users\\Public\\Documents\\reltarget.txt", L"", true, 0}},
        {"a shortcut record naming a document", {kind::menu_shortcut, victim.wstring(), L"", true, -1}},
        {"a user's empty folder", {kind::directory, empty_folder.wstring(), L"", true, -1}},
        {"a UNC path", {kind::file, L"\\\\server\\share\\x.txt", L"", true, 0}},
        {"dots climbing out", {kind::file, (install_ / L".." / L".." / L".." / victim.filename()).wstring(), L"", true, 0}},
        {"a stream", {kind::file, (install_ / L"file:stream").wstring(), L"", true, 0}},
        {"a device path", {kind::file, L"\\\\?\\" + (install_ / L"x").wstring(), L"", true, 0}},
        {"a device name", {kind::file, (install_ / L"CON").wstring(), L"", true, 0}},
        {"an empty path", {kind::file, L"", L"", true, 0}},
        {"a drive's root", {kind::directory, drive, L"", true, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        install(false);
        write_bytes(victim, "the user's");
        fs::create_directories(empty_folder);
        uninstall_log log;
        log.current = {{kind::directory, install_.wstring(), L"", true, -1},
                       {kind::file, program().wstring(), L"", true, 1},
                       c.record,
                       {kind::uninstall_key, L"", L"", true, -1}};
        ASSERT_TRUE(log.write(options_.log_path, install_.wstring(), menu_.wstring()));
        prompts_.seen.clear();

        const uninstall_report report = run_uninstall(options_);
        EXPECT_EQ(report.exit_code, uninstall_incomplete);
        EXPECT_TRUE(fs::exists(victim));
        EXPECT_TRUE(fs::exists(empty_folder));
        EXPECT_FALSE(fs::exists(program())) << "what the installation owns still goes";
        EXPECT_TRUE(fs::exists(options_.log_path)) << "the log stays";
        EXPECT_TRUE(key_exists(product_uninstall_key())) << "the entry stays";
        ASSERT_EQ(report.left_alone.size(), 1u);
        EXPECT_EQ(report.left_alone[0], c.record.path);
        ASSERT_FALSE(prompts_.seen.empty());
        EXPECT_EQ(prompts_.seen.back().first, prompt::summary);
        EXPECT_NE(prompts_.seen.back().second.find(uninstaller_text(1, IDS_LEFT_ALONE)), std::wstring::npos);

        SetFileAttributesW(options_.log_path.c_str(), FILE_ATTRIBUTE_NORMAL);
        scratch_folder::remove_all(install_.parent_path());
        scratch_folder::remove_all(victims.path());
        fs::create_directories(victims.path());
    }
}

// After a run that could not remove everything, the entry in the list of
// installed programs is still there to start the uninstallation again.
TEST_F(uninstall_run, an_incomplete_run_keeps_the_entry_and_registration_and_the_next_run_finishes)
{
    install();
    const fs::path held = install_ / L"Lang" / L"Quillmar.de.dll";
    {
        const kernel_handle holder(
            CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder) << GetLastError();
        const uninstall_report report = run_uninstall(options_);
        EXPECT_EQ(report.exit_code, uninstall_incomplete);
        EXPECT_EQ(report.failed, std::vector<std::wstring>{held.wstring()});
        EXPECT_TRUE(fs::exists(held));
        EXPECT_TRUE(fs::exists(held.parent_path())) << "the folder of what could not be removed stays";
        EXPECT_TRUE(fs::exists(options_.log_path));
        EXPECT_TRUE(key_exists(product_uninstall_key()));
        EXPECT_TRUE(key_exists(L"Software\\Classes\\.qmd"));
        // The rest goes, and the summary names what stayed.
        EXPECT_FALSE(fs::exists(program()));
        EXPECT_FALSE(fs::exists(shortcut()));
        EXPECT_FALSE(fs::exists(data_));
        ASSERT_FALSE(prompts_.seen.empty());
        EXPECT_EQ(prompts_.seen.back().first, prompt::summary);
        const std::wstring& summary = prompts_.seen.back().second;
        const std::size_t heading = summary.find(uninstaller_text(1, IDS_NOT_REMOVED));
        ASSERT_NE(heading, std::wstring::npos) << summary;
        EXPECT_NE(summary.find(held.wstring(), heading), std::wstring::npos);
    }
    EXPECT_EQ(run_uninstall(options_).exit_code, uninstall_done);
    EXPECT_FALSE(fs::exists(install_.parent_path()));
    EXPECT_FALSE(key_exists(product_uninstall_key()));
    EXPECT_FALSE(key_exists(L"Software\\Classes\\.qmd"));
}

TEST_F(uninstall_run, the_document_type_goes_back_to_the_program_it_was_taken_from)
{
    const auto default_of_qmd = [&]() -> std::optional<std::wstring> {
        std::wstring value;
        reg_key key = open_key(registry_root::local_machine, L"Software\\Classes\\.qmd");
        if (key && read_string(key, L"", value))
            return value;
        return std::nullopt;
    };
    set_string(create_key(registry_root::local_machine, L"Software\\Classes\\.qmd"), L"",
               std::wstring(L"Other.Document"));
    install();
    EXPECT_EQ(default_of_qmd(), L"Quillmar.Document.3");
    reg_key open_with = open_key(registry_root::local_machine, L"Software\\Classes\\.qmd\\OpenWithProgids");
    ASSERT_TRUE(open_with);
    EXPECT_EQ(RegQueryValueExW(open_with.get(), L"Quillmar.Document.3", nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    open_with.reset();
    // A reinstallation registers again without forgetting the first owner.
    register_product(program().wstring());

    EXPECT_EQ(run_uninstall(options_).exit_code, uninstall_done);
    EXPECT_EQ(default_of_qmd(), L"Other.Document");
    EXPECT_FALSE(key_exists(L"Software\\Classes\\.qmd\\OpenWithProgids"));
    std::wstring saved;
    reg_key maker = open_key(registry_root::local_machine, maker_key);
    EXPECT_FALSE(maker && read_string(maker, replaced_document_type_value().c_str(), saved));
}

TEST(uninstaller_texts, every_product_language_has_every_text)
{
    for (int language : {0, 1, 2, 3, 4, 7, 9, 11, 15, 19}) {
        for (unsigned id = 200; id <= 211; ++id) {
            const string_ref own = resource_string(GetModuleHandleW(nullptr), language_langid(language), id);
            EXPECT_FALSE(own.empty()) << "language " << language << ", text " << id;
        }
    }
    EXPECT_EQ(uninstaller_text(12, 200), uninstaller_text(1, 200)) << "Czech falls back to English";
}

}
