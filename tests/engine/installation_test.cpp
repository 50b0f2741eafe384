// Whole installations without a window: the test payloads packed at build
// time, real folders, registry keys (HKLM redirected into a key of the
// test's own) and link files, the page's reports recorded.
#include "engine/installation.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/kernel_handle.h"

#include "core/installer_context.h"
#include "payload/archive_builder.h"
#include "platform/language.h"
#include "platform/registry.h"
#include "platform/sync_objects.h"
#include "records/detection.h"
#include "records/log_test_support.h"
#include "records/recovery_journal.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"
#include "support/wine_paths.h"

namespace fs = std::filesystem;

namespace {

constexpr language_index english = 1;

// What the install page would show.
class recording_view : public installation_view {
public:
    std::wstring log;
    std::wstring status;
    std::vector<int> percents;
    bool progress_shown = false;
    int pumps = 0;
    int waits_restored = 0;
    bool waiting = false;

    void set_status(const std::wstring& text) override { status = text; }
    void append_log(const std::wstring& text) override { log += text; }
    void set_progress(int percent) override { percents.push_back(percent); }
    void show_progress() override { progress_shown = true; }
    void pump() override { ++pumps; }
    void begin_wait() override { waiting = true; }
    void restore_wait() override { ++waits_restored; }
    void end_wait() override { waiting = false; }

    std::vector<std::wstring> lines() const
    {
        std::vector<std::wstring> result;
        std::size_t start = 0;
        for (std::size_t end; (end = log.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
            result.push_back(log.substr(start, end - start));
        if (start < log.size())
            result.push_back(log.substr(start));
        return result;
    }
};

std::string packed_payload(const wchar_t* name)
{
    return payload_test::read_file(test_support::build_file(std::wstring(L"tests\\engine\\") + name));
}

std::string source_bytes(const std::wstring& relative)
{
    const char* source = std::getenv("HV_TEST_SOURCE_DIR");
    const std::wstring root = test_support::windows_path(std::string(source ? source : ""));
    return read_bytes(fs::path(root) / L"tests\\engine\\payload" / relative);
}

std::wstring copying(const fs::path& file)
{
    return L"Copying File \"" + file.wstring() + L"\"...OK";
}

void set_variable(const wchar_t* name, const std::wstring& value)
{
    SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
}

std::wstring variable(const wchar_t* name)
{
    wchar_t buffer[2048]{};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 2048);
    return length < 2048 ? std::wstring(buffer, length) : std::wstring();
}

std::wstring read_record(const fs::path& file)
{
    const std::string bytes = read_bytes(file);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

bool read_only(const fs::path& file)
{
    const DWORD attributes = GetFileAttributesW(file.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

class installation_test : public ::testing::Test {
protected:
    // A file of the installation that is there already, held open without
    // sharing as another program can: writing it fails part-way.
    static kernel_handle hold_file(const fs::path& file)
    {
        fs::create_directories(file.parent_path());
        write_bytes(file, "held");
        return kernel_handle(CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    }

    scratch_folder scratch{L"installation"};
    registry_sandbox sandbox{L"installation"};
    language_index saved_language = locale_state::instance().current;
    const std::wstring lock_name = L"HvInstallationTest." + std::to_wstring(GetCurrentProcessId());
    named_mutex lock{lock_name, true, false};
    uninstall_log log;
    recording_view view;
    std::string payload = packed_payload(L"install_payload.bz2");
    installation_request request;
    installation_sources sources;

    const fs::path install_folder = scratch / L"Programs\\Quillmar";
    const fs::path menu_folder = scratch / L"Menu\\Quillmar";
    const fs::path desktop_folder = scratch / L"Desktop";
    const fs::path shell_root = scratch / L"shell";
    const fs::path temporary_folder = scratch / L"halden_{run}";
    const fs::path product_run = scratch / L"product-run.txt";
    const fs::path program = install_folder / L"stand_in_product.exe";
    const fs::path uninstaller = install_folder / L"Uninstall.exe";
    const fs::path data_file =
        shell_root / (L"csidl-" + std::to_wstring(CSIDL_COMMON_APPDATA)) / L"Halden & Voss\\Quillmar\\settings.ini";
    const fs::path example =
        shell_root / (L"csidl-" + std::to_wstring(CSIDL_COMMON_DESKTOPDIRECTORY)) / L"Quillmar Examples\\example.txt";

    void SetUp() override
    {
        ASSERT_FALSE(payload.empty()) << "the packed test payload is missing";
        set_language(english);
        sandbox.redirect_local_machine();
        arrange_defaults();
    }

    // A first installation with both shortcuts, a product that registers
    // itself, and the list of installed programs present.
    void arrange_defaults()
    {
        create_key(registry_root::local_machine, uninstall_list_key);
        request = {install_folder.wstring(), menu_folder.wstring(), true, true, not_installed, 0};
        sources.payload = [this] { return std::span<const char>(payload.data(), payload.size()); };
        sources.lookup = payload_test::fake_folders(shell_root);
        sources.known_folder = [this](const KNOWNFOLDERID&, std::wstring& path) {
            path = desktop_folder.wstring();
            return S_OK;
        };
        set_variable(L"HV_STAND_IN_RECORD", product_run.wstring());
        set_variable(L"HV_STAND_IN_EXIT", L"-10");
        set_variable(L"HV_STAND_IN_LOCK", lock_name);
    }

    void TearDown() override
    {
        for (const wchar_t* name : {L"HV_STAND_IN_RECORD", L"HV_STAND_IN_EXIT", L"HV_STAND_IN_LOCK"})
            set_variable(name, {});
        for (const auto* records : {&log.current, &log.previous})
            for (const log_record& record : *records)
                if (!record.backup.empty())
                    DeleteFileW(record.backup.c_str());
        set_language(saved_language);
    }

    bool install()
    {
        installation_state state{log, lock, [this](std::wstring& folder, std::wstring&) {
                                     folder = temporary_folder.wstring();
                                     return true;
                                 }};
        return run_installation(request, state, view, sources);
    }

    std::vector<log_record> file_records(const fs::path& file) const
    {
        std::vector<log_record> found;
        for (const log_record& record : log.current)
            if (record.kind == record_kind::file && same_location(record.path, file))
                found.push_back(record);
        return found;
    }

    const log_record* record_of(record_kind kind) const
    {
        auto found = std::find_if(log.current.begin(), log.current.end(),
                                  [kind](const log_record& record) { return record.kind == kind; });
        return found == log.current.end() ? nullptr : &*found;
    }

    bool log_mentions(const fs::path& file) const { return view.log.find(file.wstring()) != std::wstring::npos; }
};

}

TEST_F(installation_test, first_installation_writes_and_records_every_file)
{
    ASSERT_TRUE(install());

    const struct {
        fs::path file;
        std::wstring source;
    } written[] = {
        {install_folder / L"readme.txt", L"readme.txt"},     {data_file, L"settings.ini"},
        {uninstaller, L"Uninstall.exe"},                     {example, L"example.txt"},
        {install_folder / L"Docs\\notes.txt", L"Docs\\notes.txt"},
    };
    for (const auto& w : written) {
        EXPECT_EQ(read_bytes(w.file), source_bytes(w.source)) << w.file;
        const auto records = file_records(w.file);
        ASSERT_EQ(records.size(), 1u) << w.file;
        EXPECT_TRUE(records[0].done) << w.file;
    }
    ASSERT_EQ(file_records(program).size(), 1u);
    EXPECT_TRUE(read_only(program));
    EXPECT_TRUE(read_only(uninstaller));
    EXPECT_FALSE(read_only(install_folder / L"readme.txt"));

    // The transient file and the temporary folder are gone and never recorded.
    EXPECT_FALSE(fs::exists(temporary_folder));
    EXPECT_TRUE(file_records(temporary_folder / L"setup.tmp").empty());

    const std::vector<std::wstring> expected_lines{
        std::wstring(45, L'\u2500'),
        L"Preparing Installation...OK",
        copying(install_folder / L"readme.txt"),
        copying(program),
        copying(data_file),
        copying(uninstaller),
        copying(example),
        copying(temporary_folder / L"setup.tmp"),
        copying(install_folder / L"Docs\\notes.txt"),
        L"Shortcuts Creation...OK",
        L"Registry Data Writing...OK",
        L"Installation Data Writing...OK",
    };
    EXPECT_EQ(view.lines(), expected_lines);
    EXPECT_EQ(view.status, L"Click on 'Next' to continue.");
    EXPECT_TRUE(view.progress_shown);
    ASSERT_FALSE(view.percents.empty());
    EXPECT_EQ(view.percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(view.percents.begin(), view.percents.end()));
    EXPECT_EQ(std::count(view.percents.begin(), view.percents.end(), 100), 1);
    EXPECT_EQ(std::adjacent_find(view.percents.begin(), view.percents.end()), view.percents.end())
        << "the bar is set again to the position it shows";
    // Every notification is followed by a pump and the wait cursor set again.
    EXPECT_GT(view.pumps, 8);
    EXPECT_EQ(view.waits_restored, view.pumps);
    EXPECT_FALSE(view.waiting);

    // The shortcuts, the Uninstall entry and the product's registration run.
    for (auto kind : {record_kind::menu_shortcut, record_kind::desktop_shortcut}) {
        const log_record* shortcut = record_of(kind);
        ASSERT_TRUE(shortcut) << static_cast<int>(kind);
        EXPECT_TRUE(shortcut->done);
        EXPECT_TRUE(fs::exists(shortcut->path)) << fs::path(shortcut->path);
    }
    EXPECT_EQ(fs::path(record_of(record_kind::menu_shortcut)->path).parent_path(), menu_folder);
    EXPECT_EQ(fs::path(record_of(record_kind::desktop_shortcut)->path).parent_path(), desktop_folder);
    ASSERT_TRUE(record_of(record_kind::uninstall_key));
    EXPECT_TRUE(record_of(record_kind::uninstall_key)->done);
    EXPECT_TRUE(open_key(registry_root::local_machine, (std::wstring(uninstall_list_key) + L"\\Quillmar 3").c_str()));
    ASSERT_TRUE(record_of(record_kind::associations));
    EXPECT_TRUE(record_of(record_kind::associations)->done);

    const std::wstring run = read_record(product_run);
    EXPECT_NE(run.find(L"command=\"" + program.wstring() + L"\" /Register /Background\r\n"), std::wstring::npos)
        << fs::path(run);
    EXPECT_NE(run.find(L"folder=" + install_folder.wstring() + L"\r\n"), std::wstring::npos) << fs::path(run);

    // The log file beside the uninstaller reads back the same records.
    uninstall_log written_log;
    written_log.read(install_folder / L"Uninstall.ulog");
    EXPECT_EQ(written_log.previous, log.current);
    EXPECT_EQ(written_log.install_folder, install_folder.wstring());
    EXPECT_EQ(written_log.shortcut_folder, menu_folder.wstring());
}

// Folders the installation creates get their access list with them: the
// installation folder outside Program Files that of Program Files, the
// shared data and examples folders write access for Users; anything else
// inherits.
class new_folder_access_test : public installation_test {
protected:
    void check(const fs::path& folder, const std::optional<access_list>& expected)
    {
        request.install_folder = folder.wstring();
        ASSERT_TRUE(install()) << testing::PrintToString(view.status);
        ASSERT_TRUE(log.access_for_new_folder);
        EXPECT_EQ(log.access_for_new_folder(folder.wstring()), expected);
        EXPECT_EQ(log.access_for_new_folder((folder / L"Docs").wstring()), std::nullopt);
        EXPECT_EQ(log.access_for_new_folder(data_file.parent_path().wstring()), shared_data_access());
        EXPECT_EQ(log.access_for_new_folder(example.parent_path().wstring()), shared_data_access());
        EXPECT_EQ(log.access_for_new_folder(menu_folder.wstring()), std::nullopt);
        EXPECT_TRUE(fs::exists(folder / L"Docs\\notes.txt"));
    }
};

TEST_F(new_folder_access_test, an_installation_folder_elsewhere_gets_that_of_program_files)
{
    check(install_folder, program_files_access());
}

TEST_F(new_folder_access_test, an_installation_folder_below_program_files_inherits)
{
    check(shell_root / (L"csidl-" + std::to_wstring(CSIDL_PROGRAM_FILES)) / L"Quillmar", std::nullopt);
}

TEST_F(installation_test, update_leaves_the_examples_and_passes_the_old_version)
{
    request.existing_state = older_installed;
    request.existing_version = 0x0003000500020009;
    const fs::path earlier_example = example.parent_path() / L"earlier.txt";
    fs::create_directories(example.parent_path());
    write_bytes(earlier_example, "an example the user changed");
    // What the earlier installation left: its log and a data file.
    fs::create_directories(install_folder);
    write_bytes(install_folder / uninstall_log_name, "the earlier log");
    fs::create_directories(data_file.parent_path());
    write_bytes(data_file, "value=changed by the user\r\n");

    ASSERT_TRUE(install());

    // The copies the run kept while it worked go with its folder.
    std::string left;
    if (fs::exists(temporary_folder))
        for (const auto& entry : fs::recursive_directory_iterator(temporary_folder))
            left += " " + entry.path().string();
    EXPECT_FALSE(fs::exists(temporary_folder)) << left;
    EXPECT_FALSE(fs::exists(example));
    EXPECT_TRUE(file_records(example).empty());
    EXPECT_EQ(read_bytes(earlier_example), "an example the user changed");
    EXPECT_FALSE(log_mentions(example));
    const std::wstring run = read_record(product_run);
    EXPECT_NE(run.find(L"/Register /Background /update=0003000500020009\r\n"), std::wstring::npos)
        << fs::path(run);
    // The product could take the installation lock while it ran; it is held again now.
    EXPECT_NE(run.find(L"lock=free\r\n"), std::wstring::npos) << fs::path(run);
    EXPECT_TRUE(lock.owned());
}

TEST_F(installation_test, an_existing_data_file_is_never_replaced)
{
    const std::string users_bytes = "value=changed by the user\r\n";
    const struct {
        const char* name;
        std::int32_t state;
        bool recorded_before;
    } cases[] = {
        {"recorded done by the earlier log", older_installed, true},
        {"never recorded", not_installed, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_folder::remove_all(install_folder);
        scratch_folder::remove_all(shell_root);
        log = {};
        view = {};
        fs::create_directories(data_file.parent_path());
        write_bytes(data_file, users_bytes);
        request.existing_state = c.state;
        if (c.recorded_before)
            log.previous.push_back({record_kind::file, data_file.wstring(), L"", true, 3});

        ASSERT_TRUE(install());

        EXPECT_EQ(read_bytes(data_file), users_bytes);
        EXPECT_FALSE(log_mentions(data_file));
        // Carried over from the earlier log, or recorded now: once, as installed.
        const auto records = file_records(data_file);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_TRUE(records[0].done);
        EXPECT_TRUE(records[0].backup.empty());
    }
}

TEST_F(installation_test, a_failed_self_registration_still_installs)
{
    std::string no_product = packed_payload(L"no_product_payload.bz2");
    ASSERT_FALSE(no_product.empty());
    const struct {
        const char* name;
        const wchar_t* exit_code;
        bool product_starts;
    } cases[] = {
        {"exit code 0", L"0", true},
        {"exit code 1", L"1", true},
        {"not starting", L"-10", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_folder::remove_all(install_folder);
        DeleteFileW(product_run.c_str());
        log = {};
        view = {};
        set_variable(L"HV_STAND_IN_EXIT", c.exit_code);
        if (!c.product_starts)
            sources.payload = [&] { return std::span<const char>(no_product.data(), no_product.size()); };

        ASSERT_TRUE(install());

        const auto lines = view.lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), L"Registry Data Writing...Failed"), lines.end());
        EXPECT_EQ(lines.back(), L"Installation Data Writing...OK");
        ASSERT_TRUE(record_of(record_kind::associations));
        EXPECT_FALSE(record_of(record_kind::associations)->done);
        EXPECT_EQ(fs::exists(product_run), c.product_starts);
        EXPECT_TRUE(lock.owned());
    }
}

TEST_F(installation_test, a_later_step_that_fails_undoes_nothing)
{
    const struct {
        const char* name;
        std::function<void()> arrange;
        const wchar_t* failed_line;
    } cases[] = {
        {"no desktop folder",
         [&] { sources.known_folder = [](const KNOWNFOLDERID&, std::wstring&) { return E_FAIL; }; },
         L"Shortcuts Creation...Failed"},
        {"no list of installed programs",
         [&] { RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstall_list_key); }, L"Registry Data Writing...Failed"},
        {"a folder where the log file goes",
         [&] { fs::create_directories(install_folder / L"Uninstall.ulog"); }, L"Installation Data Writing...Failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_folder::remove_all(install_folder);
        log = {};
        view = {};
        arrange_defaults();
        c.arrange();

        ASSERT_TRUE(install());

        const auto lines = view.lines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::wstring& line) { return line.ends_with(L"Failed"); }),
                  1);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.failed_line), lines.end());
        EXPECT_EQ(read_bytes(install_folder / L"readme.txt"), source_bytes(L"readme.txt"));
        EXPECT_TRUE(fs::exists(program));
        EXPECT_EQ(view.status, L"Click on 'Next' to continue.");
    }
}

TEST_F(installation_test, a_damaged_payload_installs_nothing)
{
    const std::string sound = payload;
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"cut short", sound.substr(0, sound.size() - 20)},
        {"with bytes after the stream", sound + "extra"},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        view = {};
        payload = c.bytes;

        EXPECT_FALSE(install());

        EXPECT_EQ(view.lines(), (std::vector<std::wstring>{std::wstring(45, L'\u2500'),
                                                           L"Preparing Installation...Failed"}));
        EXPECT_EQ(view.status, L"Installation failed (Error Code 4).");
        EXPECT_FALSE(fs::exists(install_folder));
        EXPECT_FALSE(fs::exists(shell_root));
        EXPECT_FALSE(fs::exists(temporary_folder));
        EXPECT_TRUE(log.current.empty());
        EXPECT_FALSE(fs::exists(product_run));
    }
}

TEST_F(installation_test, extraction_failing_part_way_is_undone_and_can_be_retried)
{
    // An earlier readme with attributes of its own, and a destination that
    // another program holds open without sharing.
    const fs::path readme = install_folder / L"readme.txt";
    const fs::path notes = install_folder / L"Docs\\notes.txt";
    fs::create_directories(notes.parent_path());
    write_bytes(readme, "the earlier readme");
    write_bytes(notes, "held");
    const DWORD readme_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(SetFileAttributesW(readme.c_str(), readme_attributes));
    HANDLE held = CreateFileW(notes.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    const bool first = install();
    CloseHandle(held);

    EXPECT_FALSE(first);
    EXPECT_EQ(view.status, L"Installation failed (Error Code 1:00000020).");
    ASSERT_FALSE(view.lines().empty());
    EXPECT_EQ(view.lines().back(), L"Copying File \"" + notes.wstring() + L"\"...Failed");
    EXPECT_EQ(read_bytes(readme), "the earlier readme");
    EXPECT_EQ(GetFileAttributesW(readme.c_str()) & (readme_attributes | FILE_ATTRIBUTE_ARCHIVE) & ~FILE_ATTRIBUTE_ARCHIVE,
              readme_attributes);
    EXPECT_EQ(read_bytes(notes), "held");
    for (const fs::path& gone : {program, uninstaller, shell_root, temporary_folder})
        EXPECT_FALSE(fs::exists(gone)) << gone;
    EXPECT_TRUE(log.current.empty());
    EXPECT_FALSE(fs::exists(product_run));

    // The same page tries again once nothing holds the file.
    SetFileAttributesW(readme.c_str(), FILE_ATTRIBUTE_NORMAL);
    view.log.clear();
    ASSERT_TRUE(install());
    EXPECT_EQ(read_bytes(notes), source_bytes(L"Docs\\notes.txt"));
    EXPECT_EQ(read_bytes(readme), source_bytes(L"readme.txt"));
    EXPECT_EQ(view.status, L"Click on 'Next' to continue.");
}

TEST_F(installation_test, a_rollback_that_fails_is_shown_as_the_failure)
{
    const fs::path notes = install_folder / L"Docs\\notes.txt";
    kernel_handle held = hold_file(notes);
    ASSERT_TRUE(held);
    std::size_t records_to_undo = 0;
    sources.rollback = [&](uninstall_log& failed) {
        records_to_undo = failed.current.size();
        if (records_to_undo > 0)
            throw fs::filesystem_error("cannot undo", notes, std::error_code(ERROR_ACCESS_DENIED, std::system_category()));
        return std::vector<rollback_problem>{};
    };

    bool installed = true;
    EXPECT_NO_THROW(installed = install());
    held.reset();

    EXPECT_FALSE(installed);
    EXPECT_EQ(view.status, L"Installation failed (Error Code 1:00000005).");
    EXPECT_EQ(view.lines().back(), L"Copying File \"" + notes.wstring() + L"\"...Failed");
    // The rollback was given the files written before the failure.
    EXPECT_GT(records_to_undo, 0u);
    // What could not be undone stays announced for the next start to undo.
    const auto journal = read_journal_file((fs::path(temporary_folder) / recovery_journal_name).wstring());
    ASSERT_TRUE(journal) << "the run's journal stays";
    const auto steps = read_journal(*journal);
    EXPECT_TRUE(std::any_of(steps.begin(), steps.end(), [&](const journal_step& step) {
        const auto* file = std::get_if<journal_file>(&step);
        return file && fs::path(file->path) == install_folder / L"readme.txt";
    }));
    EXPECT_FALSE(view.waiting);
}

TEST_F(installation_test, a_file_the_rollback_could_not_put_back_is_named_with_its_backup)
{
    const fs::path notes = install_folder / L"Docs\\notes.txt";
    kernel_handle held = hold_file(notes);
    ASSERT_TRUE(held);
    const std::wstring original = (install_folder / L"readme.txt").wstring();
    const std::wstring backup = (scratch / L"hv-1a2b3c4d.tmp").wstring();
    sources.rollback = [&](uninstall_log&) {
        return std::vector<rollback_problem>{
            {original, backup, std::error_code(ERROR_SHARING_VIOLATION, std::system_category())},
            {(install_folder / L"Quillmar.exe").wstring(), L"", std::error_code(ERROR_ACCESS_DENIED, std::system_category())},
        };
    };

    const bool installed = install();
    held.reset();

    EXPECT_FALSE(installed);
    EXPECT_EQ(view.lines().back(), L"Not restored: \"" + original + L"\" is kept as \"" + backup + L"\".");
    EXPECT_EQ(view.status, L"Installation failed (Error Code 1:00000020).");
}

TEST_F(installation_test, without_a_temporary_folder_nothing_is_done)
{
    installation_state state{log, lock, [this](std::wstring& folder, std::wstring&) {
                                 folder = (scratch / L"no such folder" / L"deeper" / L"halden_{run}").wstring();
                                 return true;
                             }};

    const bool installed = run_installation(request, state, view, sources);

    EXPECT_FALSE(installed);
    const std::wregex failure(LR"(Installation failed \(Error Code 1:00000003\)\.)");
    EXPECT_TRUE(std::regex_match(view.status, failure)) << fs::path(view.status);
    const auto lines = view.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], view.status);
    EXPECT_FALSE(view.progress_shown);
    EXPECT_FALSE(view.waiting);
    EXPECT_FALSE(fs::exists(install_folder));
    EXPECT_FALSE(fs::exists(shell_root));
    EXPECT_TRUE(log.current.empty());
}
