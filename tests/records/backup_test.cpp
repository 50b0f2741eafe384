#include "records/backup.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <boost/crc.hpp>
#include <gtest/gtest.h>

#include "identity/product.h"
#include "platform/registry.h"
#include "records/log_test_support.h"
#include "records/uninstall_log.h"
#include "records/text_file.h"
#include "support/link_maker.h"
#include "support/registry_sandbox.h"
#include "support/sync_helper_process.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using kind = record_kind;

const std::wstring product_key = std::wstring(uninstall_list_key) + L"\\Quillmar 3";

// Points the process's temporary folder (TMP and TEMP) at a folder of the
// test's own, so backups made by parallel tests never meet.
class scoped_temp_folder {
public:
    explicit scoped_temp_folder(const fs::path& folder)
    {
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            wchar_t value[MAX_PATH + 1];
            const DWORD size = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
            saved_.emplace_back(name, size && size <= MAX_PATH ? std::wstring(value, size) : L"");
            SetEnvironmentVariableW(name, folder.c_str());
        }
    }
    scoped_temp_folder(const scoped_temp_folder&) = delete;
    scoped_temp_folder& operator=(const scoped_temp_folder&) = delete;
    ~scoped_temp_folder()
    {
        for (const auto& [name, value] : saved_)
            SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
    }

private:
    std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

// Replaces the random draw for one test.
class scoped_draws {
public:
    explicit scoped_draws(std::vector<std::uint32_t> values) : saved_(backup_random_draw())
    {
        backup_random_draw() = [values = std::move(values), next = std::size_t{0}]() mutable {
            return values[next++ % values.size()];
        };
    }
    scoped_draws(const scoped_draws&) = delete;
    scoped_draws& operator=(const scoped_draws&) = delete;
    ~scoped_draws() { backup_random_draw() = saved_; }

private:
    random_draw saved_;
};

// Five draws whose top four bits spell `digits`.
std::vector<std::uint32_t> draws_for(const char* digits)
{
    std::vector<std::uint32_t> values;
    for (const char* c = digits; *c; ++c) {
        const std::uint32_t digit = *c <= '9' ? *c - '0' : *c - 'a' + 10;
        values.push_back(digit << 28 | 0x0ABCDEFu);
    }
    return values;
}

bool privilege_enabled(const wchar_t* name);

std::wstring privilege_state(const wchar_t* name)
{
    return privilege_enabled(name) ? L" (privilege enabled)" : L" (privilege disabled)";
}

// Replaces the registry calls for one test; each call is recorded as text.
class scoped_hive_calls {
public:
    scoped_hive_calls() : saved_(backup_hive_calls()) {}
    scoped_hive_calls(const scoped_hive_calls&) = delete;
    scoped_hive_calls& operator=(const scoped_hive_calls&) = delete;
    ~scoped_hive_calls() { backup_hive_calls() = saved_; }

    // Records every call and passes it on to the real one.
    void watch()
    {
        hive_calls& calls = backup_hive_calls();
        calls.enable_privilege = [this](const wchar_t* name, bool enable) {
            const bool result = saved_.enable_privilege(name, enable);
            log.push_back(std::wstring(enable ? L"enable " : L"disable ") + name);
            return result;
        };
        calls.save_key = [this](HKEY key, const wchar_t* file) {
            log.push_back(std::wstring(L"save ") + file + privilege_state(L"SeBackupPrivilege"));
            keys.push_back(key);
            return saved_.save_key(key, file);
        };
        calls.restore_key = [this](HKEY key, const wchar_t* file) {
            log.push_back(std::wstring(L"restore ") + file + privilege_state(L"SeRestorePrivilege"));
            keys.push_back(key);
            wchar_t value[64] = L"(none)";
            DWORD size = sizeof value - sizeof(wchar_t);
            RegQueryValueExW(key, L"Name", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
            restored_key_value = value;
            restore_result = saved_.restore_key(key, file);
            return restore_result;
        };
    }

    const hive_calls& real() const { return saved_; }

    std::vector<std::wstring> log;
    std::vector<HKEY> keys;
    std::wstring restored_key_value;
    LSTATUS restore_result = -1;

private:
    hive_calls saved_;
};

bool privilege_enabled(const wchar_t* name)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    LUID luid{};
    LookupPrivilegeValueW(nullptr, name, &luid);
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    bool enabled = false;
    if (GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
        const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const auto& p = privileges->Privileges[i];
            if (p.Luid.LowPart == luid.LowPart && p.Luid.HighPart == luid.HighPart)
                enabled = p.Attributes & SE_PRIVILEGE_ENABLED;
        }
    }
    CloseHandle(token);
    return enabled;
}

// Every key and value below `key`, by path, with type and bytes.
using registry_state = std::map<std::wstring, std::pair<DWORD, std::string>>;

void snapshot(HKEY key, const std::wstring& path, registry_state& state)
{
    state[path + L"\\"] = {};
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD name_size = 16384;
        unsigned char data[4096];
        DWORD data_size = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &name_size, nullptr, &type, data, &data_size) != ERROR_SUCCESS)
            break;
        state[path + L"\\:" + name] = {type, std::string(reinterpret_cast<char*>(data), data_size)};
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD name_size = 256;
        if (RegEnumKeyExW(key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            snapshot(sub, path + L"\\" + name, state);
            RegCloseKey(sub);
        }
    }
}

registry_state snapshot(HKEY key)
{
    registry_state state;
    snapshot(key, L"", state);
    return state;
}

// Every file and folder below `folder`, with attributes and bytes.
std::map<std::wstring, std::pair<DWORD, std::string>> snapshot(const fs::path& folder)
{
    std::map<std::wstring, std::pair<DWORD, std::string>> state;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const DWORD attributes = GetFileAttributesW(entry.path().c_str());
        state[entry.path().wstring()] = {attributes, entry.is_directory() ? "" : read_bytes(entry.path())};
    }
    return state;
}

std::vector<std::wstring> backups_in(const fs::path& folder)
{
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::wstring name = entry.path().filename().wstring();
        if (name.starts_with(L"hv-") && name.ends_with(L".tmp"))
            names.push_back(name);
    }
    return names;
}

// The private storage of backups and their list, in a folder of the test's own.
class scoped_private_storage {
public:
    explicit scoped_private_storage(const fs::path& folder) : saved_(private_storage_folder())
    {
        private_storage_folder() = [text = folder.wstring()] { return text; };
    }
    scoped_private_storage(const scoped_private_storage&) = delete;
    scoped_private_storage& operator=(const scoped_private_storage&) = delete;
    ~scoped_private_storage() { private_storage_folder() = saved_; }

private:
    std::function<std::wstring()> saved_;
};

class backup_test : public ::testing::Test {
protected:
    scratch_folder scratch_{L"backup \x00E9t\x00E9"};
    fs::path temp_ = scratch_ / L"temp";
    fs::path target_ = scratch_ / L"target";
    bool made_ = fs::create_directories(temp_) && fs::create_directories(target_);
    scoped_temp_folder temp_folder_{temp_};
    scoped_private_storage storage_{temp_};

    void SetUp() override
    {
        ASSERT_TRUE(made_);
        ASSERT_TRUE(same_location(fs::temp_directory_path(), temp_)) << "TMP is not followed";
    }
};

// ---------------------------------------------------------------- names

TEST_F(backup_test, DigitsAreTheTopFourBitsOfEachDraw)
{
    scoped_draws draws({0x00000000u, 0x1FFFFFFFu, 0xF0000000u, 0x0FFFFFFFu, 0xA5A5A5A5u});
    EXPECT_EQ(unique_temp_path(L"hv-%%%%%.tmp"), (temp_ / L"hv-01f0a.tmp").wstring());
    EXPECT_EQ(unique_temp_path(L"x%y%"), (temp_ / L"x0y1").wstring());
}

// A draw that always names a taken file must end with a clear error, not
// keep the installation drawing for ever.
TEST_F(backup_test, DrawsThatOnlyNameTakenFilesEndWithAnError)
{
    write_bytes(temp_ / L"hv-00000.tmp", "taken");
    scoped_draws draws({0u});
    try {
        unique_temp_path(L"hv-%%%%%.tmp");
        ADD_FAILURE() << "no error";
    }
    catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(ERROR_FILE_EXISTS, std::system_category()));
    }
}

TEST_F(backup_test, RealDrawsGiveLowerCaseHexadecimalNames)
{
    const std::wstring path = unique_temp_path(L"hv-%%%%%.tmp");
    const std::wstring name = fs::path(path).filename().wstring();
    ASSERT_EQ(name.size(), 12u);
    EXPECT_EQ(name.substr(0, 3), L"hv-");
    EXPECT_EQ(name.substr(8), L".tmp");
    EXPECT_EQ(name.substr(3, 5).find_first_not_of(L"0123456789abcdef"), std::wstring::npos) << path;
    EXPECT_EQ(fs::path(path).parent_path(), temp_);
}

TEST_F(backup_test, TwoBackupsNeverShareANameWhenTheDrawRepeats)
{
    std::vector<std::uint32_t> values = draws_for("3fa0c");
    const auto again = draws_for("3fa0c");
    const auto other = draws_for("77777");
    values.insert(values.end(), again.begin(), again.end());
    values.insert(values.end(), other.begin(), other.end());
    scoped_draws draws(values);

    write_bytes(target_ / L"one", "1");
    write_bytes(target_ / L"two", "2");
    const std::wstring first = make_backup((target_ / L"one").wstring(), false);
    const std::wstring second = make_backup((target_ / L"two").wstring(), true);
    EXPECT_EQ(first, (temp_ / L"hv-3fa0c.tmp").wstring());
    EXPECT_EQ(second, (temp_ / L"hv-77777.tmp").wstring());
    EXPECT_EQ(read_bytes(first), "1");
    EXPECT_EQ(read_bytes(second), "2");
}

// ---------------------------------------------------------------- backups

TEST_F(backup_test, MakeBackupMovesCopiesOrOnlyNames)
{
    const fs::path source = target_ / L"file.txt";
    struct backup_case {
        const char* name;
        bool copy;
        bool source_stays;
    };
    for (const backup_case c : {backup_case{"move", false, false}, backup_case{"copy", true, true}}) {
        SCOPED_TRACE(c.name);
        write_bytes(source, "old bytes");
        std::error_code error = std::make_error_code(std::errc::io_error);
        const std::wstring backup = make_backup(source.wstring(), c.copy, error);
        EXPECT_FALSE(error);
        ASSERT_FALSE(backup.empty());
        EXPECT_EQ(fs::path(backup).parent_path(), temp_);
        EXPECT_EQ(read_bytes(backup), "old bytes");
        EXPECT_EQ(fs::exists(source), c.source_stays);
        fs::remove(backup);
    }

    const std::wstring name = make_backup(L"", false);
    EXPECT_EQ(fs::path(name).parent_path(), temp_);
    EXPECT_FALSE(fs::exists(name)) << "only a name is drawn";

    for (const bool copy : {false, true}) {
        std::error_code error;
        EXPECT_EQ(make_backup((target_ / L"missing").wstring(), copy, error), L"");
        EXPECT_EQ(error.value(), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(error.category(), std::system_category());
    }
    EXPECT_TRUE(backups_in(temp_).empty());
}

TEST_F(backup_test, AddFileRecordsTheBackupOfAnExistingFile)
{
    const fs::path moved = target_ / L"moved.txt";
    const fs::path copied = target_ / L"copied.txt";
    const fs::path fresh = target_ / L"new folder" / L"fresh.txt";
    write_bytes(moved, "moved");
    write_bytes(copied, "copied");

    uninstall_log log;
    log.add_file(moved, 1, false);
    log.add_file(copied, 3, true);
    log.add_file(fresh, 2, false);
    ASSERT_EQ(log.current.size(), 4u);
    EXPECT_TRUE(log.pending);
    EXPECT_EQ(log.current[0].kind, kind::file);
    EXPECT_EQ(log.current[0].path, moved.wstring());
    EXPECT_EQ(log.current[0].value, 1);
    EXPECT_FALSE(log.current[0].done);
    EXPECT_EQ(read_bytes(log.current[0].backup), "moved");
    EXPECT_FALSE(fs::exists(moved));
    EXPECT_EQ(read_bytes(log.current[1].backup), "copied");
    EXPECT_EQ(read_bytes(copied), "copied");
    EXPECT_EQ(log.current[2], (log_record{kind::directory, (target_ / L"new folder").wstring(), L"", true, -1}));
    EXPECT_EQ(log.current[3], (log_record{kind::file, fresh.wstring(), L"", false, 2}));
    EXPECT_EQ(backups_in(temp_).size(), 2u);

    log.rollback();
    EXPECT_EQ(read_bytes(moved), "moved");
    EXPECT_EQ(read_bytes(copied), "copied");
    EXPECT_FALSE(fs::exists(target_ / L"new folder"));
    EXPECT_TRUE(backups_in(temp_).empty());
    EXPECT_TRUE(log.current.empty());
}

TEST_F(backup_test, AFileThatCannotBeMovedAsideStopsTheStepAndSurvivesTheRollback)
{
    const fs::path kept = target_ / L"kept.txt";
    const fs::path locked = target_ / L"locked.txt";
    write_bytes(kept, "kept");
    write_bytes(locked, "user's own bytes");
    uninstall_log log;
    log.add_file(kept, 1, false);
    log.commit(true);
    write_bytes(kept, "new");
    HANDLE handle = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    try {
        log.add_file(locked, 1, false);
        ADD_FAILURE() << "add_file went on without a backup";
    }
    catch (const std::system_error& e) {
        EXPECT_EQ(e.code().category(), std::system_category());
        EXPECT_EQ(e.code().value(), ERROR_SHARING_VIOLATION) << e.what();
    }
    CloseHandle(handle);
    EXPECT_FALSE(log.pending);
    ASSERT_EQ(log.current.size(), 1u) << "no record may name the untouched file";
    EXPECT_TRUE(log.rollback().empty());
    EXPECT_EQ(read_bytes(locked), "user's own bytes");
    EXPECT_EQ(read_bytes(kept), "kept");
    EXPECT_TRUE(backups_in(temp_).empty());
}

TEST_F(backup_test, AFolderInTheFilesPlaceIsNeitherMovedNorReplaced)
{
    const fs::path folder = target_ / L"Uninstall.exe";
    fs::create_directories(folder);
    write_bytes(folder / L"inside.txt", "the user's");
    uninstall_log log;
    try {
        log.add_file(folder, 2, false);
        ADD_FAILURE() << "add_file put a folder aside";
    }
    catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(ERROR_ACCESS_DENIED, std::system_category())) << e.what();
    }
    EXPECT_TRUE(log.current.empty());
    EXPECT_TRUE(log.rollback().empty());
    EXPECT_EQ(read_bytes(folder / L"inside.txt"), "the user's");
    EXPECT_TRUE(backups_in(temp_).empty());
}

TEST_F(backup_test, AKeptDataFileSurvivesTheRollbackWithOrWithoutItsCopy)
{
    const fs::path data = target_ / L"settings.ini";
    for (const bool copy_fails : {false, true}) {
        SCOPED_TRACE(copy_fails ? "copy failed" : "copy made");
        write_bytes(data, "user's settings");
        HANDLE handle = copy_fails
                            ? CreateFileW(data.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                            : INVALID_HANDLE_VALUE;
        uninstall_log log;
        EXPECT_NO_THROW(log.add_file(data, 3, true)) << "a data file left in place needs no backup";
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        ASSERT_EQ(log.current.size(), 1u);
        EXPECT_TRUE(log.current[0].kept);
        EXPECT_EQ(log.current[0].backup.empty(), copy_fails);
        EXPECT_EQ(log.current[0], (log_record{kind::file, data.wstring(), log.current[0].backup, false, 3}))
            << "the kept mark is not part of the record the log holds";
        log.commit(true);
        log.add_file(target_ / L"new.txt", 1, false);
        write_bytes(target_ / L"new.txt", "new");
        log.commit(true);

        EXPECT_TRUE(log.rollback().empty());
        EXPECT_EQ(read_bytes(data), "user's settings");
        EXPECT_FALSE(fs::exists(target_ / L"new.txt"));
        EXPECT_TRUE(backups_in(temp_).empty());
    }
}

TEST_F(backup_test, WithoutATemporaryFolderNothingIsPutAsideAndNothingLost)
{
    const fs::path file = target_ / L"file.txt";
    write_bytes(file, "user's own bytes");
    scoped_temp_folder missing(scratch_ / L"no such folder");
    std::error_code error;
    EXPECT_EQ(make_backup(file.wstring(), false, error), L"");
    EXPECT_TRUE(error);

    uninstall_log log;
    EXPECT_THROW(log.add_file(file, 1, false), std::system_error);
    EXPECT_TRUE(log.current.empty());
    log.rollback();
    EXPECT_EQ(read_bytes(file), "user's own bytes");
}

// ---------------------------------------------------------------- rollback

TEST_F(backup_test, FailedUpdateLeavesTheOldFileAndNoBackup)
{
    const fs::path file = target_ / L"program.exe";
    write_bytes(file, "version 1");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    const auto before = snapshot(target_);

    uninstall_log log;
    log.add_file(file, 1, false);
    write_bytes(file, "version 2");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    log.commit(true);
    log.add_file(target_ / L"sub" / L"created.txt", 2, false);
    write_bytes(target_ / L"sub" / L"created.txt", "x");
    SetFileAttributesW((target_ / L"sub" / L"created.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(backups_in(temp_).size(), 1u);

    log.rollback();
    EXPECT_EQ(snapshot(target_), before);
    EXPECT_TRUE(backups_in(temp_).empty());
}

TEST_F(backup_test, AForeignFileKeepsItsFolderAndTheRollbackGoesOn)
{
    const fs::path folder = target_ / L"created";
    uninstall_log log;
    log.add_file(target_ / L"first.txt", 1, false);
    write_bytes(target_ / L"first.txt", "1");
    log.commit(true);
    log.add_file(folder / L"ours.txt", 1, false);
    write_bytes(folder / L"ours.txt", "2");
    log.commit(true);
    write_bytes(folder / L"foreign.txt", "not ours");
    ASSERT_EQ(log.current.size(), 3u);

    const auto problems = log.rollback();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].path, folder.wstring());
    EXPECT_EQ(problems[0].backup, L"");
    EXPECT_EQ(problems[0].error, std::error_code(ERROR_DIR_NOT_EMPTY, std::system_category()));
    EXPECT_TRUE(log.current.empty());
    EXPECT_FALSE(fs::exists(folder / L"ours.txt"));
    EXPECT_EQ(read_bytes(folder / L"foreign.txt"), "not ours");
    EXPECT_FALSE(fs::exists(target_ / L"first.txt")) << "the records before the folder were not undone";
    EXPECT_FALSE(fs::exists(temp_ / not_restored_list_name)) << "nothing was left in the temporary folder";
}

// Counts the waits of a rollback for a busy object, and runs an action on one of them.
class scoped_retry_wait {
public:
    explicit scoped_retry_wait(std::function<void(int)> on_wait = {}) : saved_(rollback_retry_wait())
    {
        rollback_retry_wait() = [this, on_wait = std::move(on_wait)] {
            ++waits;
            if (on_wait)
                on_wait(waits);
        };
    }
    scoped_retry_wait(const scoped_retry_wait&) = delete;
    scoped_retry_wait& operator=(const scoped_retry_wait&) = delete;
    ~scoped_retry_wait() { rollback_retry_wait() = saved_; }

    int waits = 0;

private:
    std::function<void()> saved_;
};

std::uint32_t archive_style_crc(const std::string& bytes)
{
    boost::crc_32_type crc;
    crc.process_bytes(bytes.data(), bytes.size());
    return crc.checksum();
}

// Each line's backup and original.
std::vector<std::wstring> not_restored_lines(const fs::path& list)
{
    std::vector<std::wstring> lines;
    hv::txtf::wifstream in(list);
    for (std::wstring line; in && std::getline(in, line);) {
        const auto second_tab = line.find(L'\t', line.find(L'\t') + 1);
        lines.push_back(line.substr(0, second_tab));
    }
    return lines;
}

// An update of two files whose second new file another program holds open.
class held_file_test : public backup_test {
protected:
    fs::path first_ = target_ / L"first.dll";
    fs::path held_ = target_ / L"held.exe";
    fs::path created_ = target_ / L"created" / L"fresh.txt";
    uninstall_log log_;

    void SetUp() override
    {
        backup_test::SetUp();
        write_bytes(first_, "old first");
        write_bytes(held_, "old program");
        for (const fs::path& file : {first_, held_, created_}) {
            log_.add_file(file, 1, false);
            write_bytes(file, "new");
            log_.commit(true);
        }
        ASSERT_EQ(backups_in(temp_).size(), 2u);
    }
};

TEST_F(held_file_test, AFileInUseIsTriedAgainUntilItIsFree)
{
    test_support::sync_helper_process holder(L"open", held_.wstring());
    ASSERT_TRUE(holder.wait_ready());
    scoped_retry_wait wait([&](int count) {
        if (count == 2) {
            EXPECT_EQ(holder.finish(), 0u);
        }
    });

    const auto problems = log_.rollback();
    EXPECT_TRUE(problems.empty()) << problems.size() << " problems, first error "
                                  << (problems.empty() ? 0 : problems[0].error.value());
    EXPECT_EQ(wait.waits, 2);
    EXPECT_EQ(read_bytes(held_), "old program");
    EXPECT_EQ(read_bytes(first_), "old first");
    EXPECT_FALSE(fs::exists(target_ / L"created"));
    EXPECT_TRUE(backups_in(temp_).empty());
}

TEST_F(held_file_test, AFileStillInUseKeepsItsBackupListedAndTheRestIsUndone)
{
    const std::wstring held_backup = log_.current[1].backup;
    test_support::sync_helper_process holder(L"open", held_.wstring());
    ASSERT_TRUE(holder.wait_ready());
    scoped_retry_wait wait;

    const auto problems = log_.rollback();
    EXPECT_EQ(holder.finish(), 0u);
    EXPECT_EQ(wait.waits, 3);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].path, held_.wstring());
    EXPECT_EQ(problems[0].backup, held_backup);
    EXPECT_EQ(problems[0].error, std::error_code(ERROR_SHARING_VIOLATION, std::system_category()));
    EXPECT_TRUE(log_.current.empty());

    EXPECT_EQ(read_bytes(held_backup), "old program") << "the user's original is kept";
    EXPECT_EQ(read_bytes(held_), "new");
    EXPECT_EQ(read_bytes(first_), "old first") << "the records before the busy file were not undone";
    EXPECT_FALSE(fs::exists(target_ / L"created"));
    EXPECT_EQ(not_restored_lines(temp_ / not_restored_list_name),
              std::vector<std::wstring>{held_backup + L"\t" + held_.wstring()});
}

TEST_F(held_file_test, TheNotRestoredListGrowsAcrossRollbacks)
{
    const fs::path list = temp_ / not_restored_list_name;
    ASSERT_TRUE(add_not_restored({{L"C:\\temp\\hv-00000.tmp", L"C:\\earlier run.txt"}}));
    std::wstring held_backup;
    {
        test_support::sync_helper_process holder(L"open", held_.wstring());
        ASSERT_TRUE(holder.wait_ready());
        scoped_retry_wait wait;
        held_backup = log_.current[1].backup;
        EXPECT_EQ(log_.rollback().size(), 1u);
    }
    EXPECT_EQ(not_restored_lines(list), (std::vector<std::wstring>{L"C:\\temp\\hv-00000.tmp\tC:\\earlier run.txt",
                                                                   held_backup + L"\t" + held_.wstring()}));
    const std::string bytes = read_bytes(list);
    EXPECT_TRUE(bytes.starts_with("\xFF\xFE")) << "UTF-16 with its byte-order mark";
}

// A same-user program that swaps a backup must not get its file installed
// by the rollback.
TEST_F(held_file_test, ABackupChangedSinceItWasMadeIsNotPutBack)
{
    const std::wstring swapped = log_.current[1].backup;
    write_bytes(swapped, "somebody else's program");
    const auto problems = log_.rollback();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].path, held_.wstring());
    EXPECT_EQ(problems[0].error, std::error_code(ERROR_FILE_INVALID, std::system_category()));
    EXPECT_EQ(read_bytes(held_), "new") << "nothing of the changed backup reached the original's place";
    EXPECT_EQ(read_bytes(first_), "old first");
}

// What a failed rollback left is put back by a later run when that is safe:
// the original's place is free or still holds what the failed run wrote,
// and the backup is as it was made.
TEST_F(backup_test, BackupsLeftBehindArePutBackWhenThePlaceAndTheBackupAreAsLeft)
{
    const content_sum written{3, archive_style_crc("new")};
    const struct {
        const char* what;
        std::optional<std::string> at_original; // nothing: the place is free
        bool change_backup;
        bool put_back;
    } cases[] = {
        {"the place is free", std::nullopt, false, true},
        {"the place holds what the failed run wrote", "new", false, true},
        {"the user wrote the place since", "the user's newer text", false, false},
        {"the backup changed", "new", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path original = target_ / L"document.qmd";
        const fs::path run = temp_ / L"halden_{run}";
        fs::create_directories(run);
        const fs::path backup = run / L"hv-00001.tmp";
        write_bytes(backup, "the user's original");
        const content_sum backup_sum = file_content_sum(backup.wstring());
        if (c.at_original)
            write_bytes(original, *c.at_original);
        if (c.change_backup)
            write_bytes(backup, "swapped");
        ASSERT_TRUE(add_not_restored({{backup.wstring(), original.wstring(), backup_sum, written}}));

        const left_behind_report report = restore_left_behind_backups();
        if (c.put_back) {
            EXPECT_EQ(report.put_back, std::vector<std::wstring>{original.wstring()});
            EXPECT_TRUE(report.still_left.empty());
            EXPECT_EQ(read_bytes(original), "the user's original");
            EXPECT_FALSE(fs::exists(run)) << "the run's folder goes with its last backup";
            EXPECT_FALSE(fs::exists(temp_ / not_restored_list_name)) << "an empty list is removed";
        }
        else {
            EXPECT_TRUE(report.put_back.empty());
            ASSERT_EQ(report.still_left.size(), 1u);
            EXPECT_EQ(report.still_left[0].original, original.wstring());
            EXPECT_TRUE(fs::exists(backup));
            EXPECT_EQ(read_not_restored(), report.still_left) << "the list keeps what is left";
        }
        std::error_code ignored;
        fs::remove(temp_ / not_restored_list_name, ignored);
        fs::remove_all(run, ignored);
        fs::remove(original, ignored);
    }
}

// A user who replaces a folder on the way to the original by a link after
// the failed run must not get the backup written where the link points.
// Run through tests/e2e/with_link_maker.sh (records.backup.links).
TEST_F(backup_test, ABackupIsNotPutBackThroughALinkOnTheWayToItsPlace)
{
    if (const std::string why = test_support::link_maker_unavailable(); !why.empty())
        GTEST_SKIP() << "no link helper (" << why << "): Wine makes no Windows links";
    const fs::path elsewhere = scratch_ / L"elsewhere";
    fs::create_directories(elsewhere);
    const fs::path examples = target_ / L"examples";
    const fs::path run = temp_ / L"halden_{run}";
    fs::create_directories(run);
    const fs::path backup = run / L"hv-00001.tmp";
    write_bytes(backup, "the user's original");
    const content_sum backup_sum = file_content_sum(backup.wstring());
    ASSERT_EQ(test_support::request_link(examples, elsewhere), "made\n");
    ASSERT_TRUE(GetFileAttributesW(examples.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) << "no link was made";
    ASSERT_TRUE(add_not_restored({{backup.wstring(), (examples / L"document.qmd").wstring(), backup_sum,
                                   content_sum{3, archive_style_crc("new")}}}));

    const left_behind_report report = restore_left_behind_backups();
    EXPECT_EQ(test_support::request_link(examples, {}), "removed\n");
    EXPECT_TRUE(report.put_back.empty());
    ASSERT_EQ(report.still_left.size(), 1u);
    EXPECT_EQ(report.still_left[0].original, (examples / L"document.qmd").wstring());
    EXPECT_FALSE(fs::exists(elsewhere / L"document.qmd")) << "nothing was written through the link";
    EXPECT_EQ(read_bytes(backup), "the user's original");
}

TEST_F(backup_test, AListEntryOutsideThePrivateStorageIsNeverTaken)
{
    const fs::path original = target_ / L"system.dll";
    const fs::path planted = target_ / L"planted.tmp";
    write_bytes(planted, "planted");
    const content_sum sum = file_content_sum(planted.wstring());
    ASSERT_TRUE(add_not_restored({{planted.wstring(), original.wstring(), sum, std::nullopt}}));
    const left_behind_report report = restore_left_behind_backups();
    EXPECT_TRUE(report.put_back.empty());
    EXPECT_FALSE(fs::exists(original));
}

TEST_F(backup_test, ShortcutsAndOtherFileRecordsAreUndoneLikeFiles)
{
    const fs::path link = target_ / L"Quillmar 3.05b.lnk";
    write_bytes(link, "old link");
    uninstall_log log;
    log.previous = {{kind::menu_shortcut, link.wstring(), L"", true, -1}};
    log.add_shortcut(0, target_);
    ASSERT_FALSE(log.current.back().backup.empty());
    write_bytes(target_ / L"Quillmar 3.05c.lnk", "new link");
    log.commit(true, (target_ / L"Quillmar 3.05c.lnk").wstring());
    log.add_shortcut(1, target_);  // creation failed: no path
    log.commit(false);
    log.add_association();
    log.commit(true);
    write_bytes(target_ / L"three", "3");
    write_bytes(target_ / L"seven", "7");
    log.current.push_back({static_cast<kind>(3), (target_ / L"three").wstring(), L"", true, -1});
    log.current.push_back({kind::directx_update, (target_ / L"seven").wstring(), L"", true, -1});

    log.rollback();
    // The record knows only the new shortcut's name: the old one comes back under it.
    EXPECT_EQ(read_bytes(target_ / L"Quillmar 3.05c.lnk"), "old link");
    EXPECT_FALSE(fs::exists(link));
    EXPECT_FALSE(fs::exists(target_ / L"three"));
    EXPECT_FALSE(fs::exists(target_ / L"seven"));
    EXPECT_TRUE(backups_in(temp_).empty());
}

// ---------------------------------------------------------------- registry

class uninstall_key_test : public backup_test {
protected:
    registry_sandbox sandbox_{L"backup"};

    void SetUp() override
    {
        backup_test::SetUp();
        sandbox_.redirect_local_machine();
        set_string(create_key(registry_root::local_machine, uninstall_list_key), L"Sibling", L"stays");
    }

    reg_key make_product_key()
    {
        reg_key key = create_key(registry_root::local_machine, product_key.c_str());
        set_string(key, L"Name", L"Quillmar 3.05b");
        set_dword(key, L"Language", 1045);
        set_string(create_key(key, L"Sub"), L"Deep", L"deep value");
        return key;
    }
};

TEST_F(uninstall_key_test, AKeyCreatedByTheInstallationIsDeleted)
{
    const registry_state before = snapshot(sandbox_.key());
    scoped_hive_calls calls;
    calls.watch();
    uninstall_log log;
    log.add_uninstall_key(reg_key{});
    EXPECT_EQ(log.current.back(), (log_record{kind::uninstall_key, L"", L"", false, -1}));
    EXPECT_TRUE(calls.log.empty()) << "nothing to save";
    make_product_key();
    log.commit(true);

    log.rollback();
    EXPECT_FALSE(open_key(registry_root::local_machine, product_key.c_str()));
    EXPECT_EQ(snapshot(sandbox_.key()), before);
    const std::vector<std::wstring> expected = {L"enable SeRestorePrivilege", L"disable SeRestorePrivilege"};
    EXPECT_EQ(calls.log, expected);
    EXPECT_FALSE(privilege_enabled(L"SeRestorePrivilege"));
}

TEST_F(uninstall_key_test, AnExistingKeyIsSavedAndRestored)
{
    const reg_key product = make_product_key();
    const registry_state before = snapshot(sandbox_.key());
    scoped_hive_calls calls;
    calls.watch();

    uninstall_log log;
    log.add_uninstall_key(product);
    const std::wstring hive = log.current.back().backup;
    ASSERT_FALSE(hive.empty()) << "RegSaveKeyW failed";
    EXPECT_EQ(fs::path(hive).parent_path(), temp_);
    EXPECT_EQ(calls.log, (std::vector<std::wstring>{L"enable SeBackupPrivilege",
                                                    L"save " + hive + L" (privilege enabled)",
                                                    L"disable SeBackupPrivilege"}));
    EXPECT_EQ(calls.keys, std::vector<HKEY>{product.get()});
    EXPECT_FALSE(privilege_enabled(L"SeBackupPrivilege"));

    // The hive file holds the saved names, whatever format the system writes.
    const std::string bytes = read_bytes(hive);
    EXPECT_TRUE(bytes.starts_with("regf") || bytes.starts_with("WINE REGISTRY")) << bytes.substr(0, 16);
    for (const char* name : {"Name", "Language", "Sub", "Deep"})
        EXPECT_NE(bytes.find(name), std::string::npos) << name;
    for (const wchar_t* data : {L"Quillmar 3.05b", L"deep value"}) {
        const std::string wide = utf16_bytes(data, false);
        const std::string narrow = fs::path(data).string();
        EXPECT_TRUE(bytes.find(wide) != std::string::npos || bytes.find(narrow) != std::string::npos)
            << narrow;
    }

    set_string(product, L"Added", L"after the save");
    set_dword(product, L"Language", 1031);
    log.commit(true);
    calls.log.clear();
    calls.keys.clear();
    log.rollback();
    EXPECT_TRUE(log.current.empty());
    EXPECT_EQ(calls.log, (std::vector<std::wstring>{L"enable SeRestorePrivilege",
                                                    L"restore " + hive + L" (privilege enabled)",
                                                    L"disable SeRestorePrivilege"}));
    ASSERT_EQ(calls.keys.size(), 1u);
    EXPECT_EQ(calls.restored_key_value, L"Quillmar 3.05b") << "the restore was not given the product's key";
    EXPECT_FALSE(privilege_enabled(L"SeRestorePrivilege"));
    EXPECT_EQ(fs::exists(hive), calls.restore_result != ERROR_SUCCESS)
        << "the hive file goes once the key is back, and only then";

    const registry_state after = snapshot(sandbox_.key());
    if (after != before && test_support::running_under_wine())
        GTEST_SKIP() << "Wine's RegRestoreKeyW returns " << calls.restore_result
                     << " without restoring anything, so the key's contents after the rollback "
                        "cannot be checked here; the save, the hive file, the privileges and "
                        "the restore call were checked";
    EXPECT_EQ(calls.restore_result, ERROR_SUCCESS);
    EXPECT_EQ(after, before);
}

TEST_F(uninstall_key_test, AFailedSaveLeavesNoBackup)
{
    const reg_key product = make_product_key();
    scoped_hive_calls calls;
    calls.watch();
    std::wstring attempted;
    backup_hive_calls().save_key = [&](HKEY, const wchar_t* file) -> LSTATUS {
        attempted = file;
        write_bytes(file, "partial");
        return ERROR_ACCESS_DENIED;
    };
    uninstall_log log;
    log.add_uninstall_key(product);
    EXPECT_EQ(log.current.back(), (log_record{kind::uninstall_key, L"", L"", false, -1}));
    EXPECT_FALSE(attempted.empty());
    EXPECT_FALSE(fs::exists(attempted));
    EXPECT_EQ(calls.log, (std::vector<std::wstring>{L"enable SeBackupPrivilege", L"disable SeBackupPrivilege"}));
}

TEST_F(uninstall_key_test, RegistryErrorsNeverStopTheRollback)
{
    const reg_key product = make_product_key();
    scoped_hive_calls calls;
    calls.watch();
    uninstall_log log;
    log.add_file(target_ / L"file.txt", 1, false);
    write_bytes(target_ / L"file.txt", "x");
    log.commit(true);
    log.add_uninstall_key(product);
    log.commit(true);
    const std::wstring hive = log.current.back().backup;
    backup_hive_calls().restore_key = [](HKEY, const wchar_t*) -> LSTATUS {
        throw std::runtime_error("restore");
    };
    calls.log.clear();

    EXPECT_NO_THROW(log.rollback());
    EXPECT_TRUE(log.current.empty());
    EXPECT_FALSE(fs::exists(target_ / L"file.txt"));
    EXPECT_EQ(calls.log, (std::vector<std::wstring>{L"enable SeRestorePrivilege", L"disable SeRestorePrivilege"}));
    EXPECT_FALSE(privilege_enabled(L"SeRestorePrivilege"));
    EXPECT_TRUE(fs::exists(hive)) << "a key not restored keeps its saved copy";
    fs::remove(hive);
}

// ---------------------------------------------------------------- scenario

// Three files installed over two existing ones, the product's key created.
class installation_scenario : public uninstall_key_test {
protected:
    fs::path folder_ = target_ / L"Quillmar 3";

    void SetUp() override
    {
        uninstall_key_test::SetUp();
        fs::create_directories(folder_);
        write_bytes(folder_ / L"Quillmar.exe", "program 3.05b");
        write_bytes(folder_ / L"readme.txt", "readme 3.05b");
        SetFileAttributesW((folder_ / L"Quillmar.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    }

    void install(uninstall_log& log)
    {
        const struct {
            const wchar_t* name;
            std::int32_t kind;
            const char* bytes;
        } files[] = {
            {L"Quillmar.exe", 1, "program 3.05c"},
            {L"readme.txt", 4, "readme 3.05c"},
            {L"Lang\\pl.dll", 2, "polish"},
        };
        for (const auto& f : files) {
            const fs::path path = folder_ / f.name;
            log.add_file(path, f.kind, false);
            write_bytes(path, f.bytes);
            log.commit(true);
        }
        log.add_uninstall_key(reg_key{});
        reg_key key = create_key(registry_root::local_machine, product_key.c_str());
        set_string(key, L"DisplayName", L"Quillmar 3.05c");
        log.commit(true);
    }
};

TEST_F(installation_scenario, FailedInstallationIsRolledBackByteForByte)
{
    const auto disk = snapshot(target_);
    const auto temp = snapshot(temp_);
    const registry_state registry = snapshot(sandbox_.key());
    uninstall_log log;
    install(log);
    ASSERT_EQ(backups_in(temp_).size(), 2u);

    log.rollback();
    EXPECT_EQ(snapshot(target_), disk);
    EXPECT_EQ(snapshot(temp_), temp);
    EXPECT_EQ(snapshot(sandbox_.key()), registry);
    EXPECT_TRUE(backups_in(temp_).empty());
}

TEST_F(installation_scenario, SucceedingInstallationWritesALogThatReadsBack)
{
    uninstall_log log;
    log.read({});
    install(log);
    const fs::path file = folder_ / uninstall_log_name;
    ASSERT_TRUE(log.write(file, folder_.wstring(), (target_ / L"menu").wstring()));
    EXPECT_TRUE(backups_in(temp_).empty());
    EXPECT_EQ(read_bytes(folder_ / L"Quillmar.exe"), "program 3.05c");

    uninstall_log next;
    next.read(file);
    EXPECT_EQ(next.install_folder, folder_.wstring());
    EXPECT_EQ(next.previous_product, product_name(false));
    std::vector<log_record> expected = log.current;
    for (log_record& r : expected) {
        EXPECT_EQ(r.backup, L"");
        if (r.kind == kind::uninstall_key)
            r.path.clear();
    }
    EXPECT_EQ(next.previous, expected);
    EXPECT_FALSE(next.had_desktop_shortcut);
}

}
