#include "records/backup.h"

#include <boost/crc.hpp>
#include <fmt/xchar.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>

#include "identity/product.h"
#include "platform/kernel_handle.h"
#include "platform/known_folders.h"
#include "platform/path_rules.h"
#include "platform/private_folder.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "records/owned_folders.h"
#include "records/recovery.h"
#include "records/recovery_journal.h"
#include "records/text_file.h"
#include "records/uninstall_log.h"

namespace {

std::uint32_t engine_draw()
{
    static std::mt19937 engine{std::random_device{}()};
    return static_cast<std::uint32_t>(engine());
}

bool is_missing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

[[noreturn]] void throw_error(DWORD error, const char* what)
{
    throw std::system_error(static_cast<int>(error), std::system_category(), what);
}

// The path as the system names an open object, for comparing: without the
// "\\?\" prefix, in upper case.
std::wstring comparable(std::wstring path)
{
    if (path.starts_with(L"\\\\?\\UNC\\"))
        path = L"\\" + path.substr(7);
    else if (path.starts_with(L"\\\\?\\"))
        path = path.substr(4);
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    std::replace(path.begin(), path.end(), L'/', L'\\');
    CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
    return path;
}

std::wstring full_path(const std::wstring& path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size ? GetFullPathNameW(path.c_str(), size, full.data(), nullptr) : 0;
    if (!length || length >= size)
        throw_error(GetLastError(), "GetFullPathNameW");
    full.resize(length);
    return full;
}

// Deletes what is at `path` itself. A link (a junction or a symbolic link)
// is removed as a link, never what it points to; anything else is opened
// without following links and deleted through that handle, and only when
// the system still names it `path`: a link on the way (a folder of the
// installation replaced by a junction) would otherwise lead the deletion
// elsewhere. A missing object counts as deleted.
void remove_object(const std::wstring& path, const char* what)
{
    if (path.empty())
        return;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (is_missing(error))
            return;
        throw_error(error, what);
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // DeleteFileW removes a file link, and under Wine a folder link too
        // (its RemoveDirectoryW looks through the link); Windows refuses it
        // for a junction, which RemoveDirectoryW removes as a link.
        if (DeleteFileW(path.c_str()) || is_missing(GetLastError()))
            return;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && RemoveDirectoryW(path.c_str()))
            return;
        throw_error(GetLastError(), what);
    }
    const kernel_handle object(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                           nullptr));
    if (!object) {
        const DWORD error = GetLastError();
        if (is_missing(error))
            return;
        throw_error(error, what);
    }
    std::wstring final_path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(object.get(), final_path.data(), static_cast<DWORD>(final_path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= final_path.size()) {
        final_path.resize(length + 1);
        length = GetFinalPathNameByHandleW(object.get(), final_path.data(), static_cast<DWORD>(final_path.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (!length || length >= final_path.size())
        throw_error(GetLastError(), "GetFinalPathNameByHandleW");
    final_path.resize(length);
    if (comparable(final_path) != comparable(full_path(path)))
        throw_error(ERROR_CANT_ACCESS_FILE, "reached through a link");
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(object.get(), FileBasicInfo, &basic, sizeof basic))
        throw_error(GetLastError(), "GetFileInformationByHandleEx");
    if (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) {
        basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (!basic.FileAttributes)
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (!SetFileInformationByHandle(object.get(), FileBasicInfo, &basic, sizeof basic))
            throw_error(GetLastError(), "SetFileInformationByHandle");
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(object.get(), FileDispositionInfo, &disposition, sizeof disposition))
        throw_error(GetLastError(), what);
}

// Holds a privilege enabled for the lifetime of a registry step.
class privilege_scope {
public:
    privilege_scope(const hive_calls& calls, const wchar_t* name) : calls_(calls), name_(name)
    {
        calls_.enable_privilege(name_, true);
    }
    privilege_scope(const privilege_scope&) = delete;
    privilege_scope& operator=(const privilege_scope&) = delete;
    ~privilege_scope()
    {
        try {
            calls_.enable_privilege(name_, false);
        }
        catch (...) {
            // The step's own outcome matters more than a privilege left on.
        }
    }

private:
    const hive_calls& calls_;
    const wchar_t* name_;
};

void undo_uninstall_key(log_record& record)
{
    put_back_uninstall_key(record.backup);
    if (!record.backup.empty()) {
        DeleteFileW(record.backup.c_str());
        record.backup.clear();
    }
}

constexpr int rollback_retries = 3;

// Runs a step of the rollback again while another program holds the object.
template <class Step>
void retrying(Step step)
{
    const std::error_code sharing_violation(ERROR_SHARING_VIOLATION, std::system_category());
    for (int attempt = 0;; ++attempt) {
        try {
            step();
            return;
        }
        catch (const std::system_error& e) {
            if (e.code() != sharing_violation || attempt == rollback_retries)
                throw;
        }
        rollback_retry_wait()();
    }
}

std::optional<content_sum> sum_or_nothing(const std::wstring& path)
{
    try {
        return file_content_sum(path);
    }
    catch (const std::system_error&) {
        return std::nullopt;
    }
}

// A backup whose content is not what was put aside is not the user's file
// any more (somebody changed it behind the installation's back).
void check_backup(const std::wstring& backup, const std::optional<content_sum>& expected)
{
    if (expected && sum_or_nothing(backup) != expected)
        throw_error(ERROR_FILE_INVALID, "the backup changed since it was made");
}

void move_back(const log_record& record)
{
    check_backup(record.backup, record.backup_sum);
    if (!MoveFileExW(record.backup.c_str(), record.path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        throw_error(GetLastError(), "MoveFileExW");
}

void undo(log_record& record)
{
    switch (record.kind) {
    case record_kind::directory:
        retrying([&] { remove_folder(record.path); });
        break;
    case record_kind::uninstall_key:
        undo_uninstall_key(record);
        break;
    case record_kind::associations:
        break;
    default:
        // A shortcut whose creation failed has no path; nothing of it exists.
        if (record.path.empty())
            break;
        if (record.kept) {
            // The file was never replaced: its copy is not needed.
            if (!record.backup.empty() && DeleteFileW(record.backup.c_str()))
                record.backup.clear();
            break;
        }
        if (!record.backup.empty())
            check_backup(record.backup, record.backup_sum);
        retrying([&] { remove_file(record.path); });
        if (!record.backup.empty()) {
            retrying([&] { move_back(record); });
            record.backup.clear();
        }
        break;
    }
}

std::error_code error_of_current_exception()
{
    try {
        throw;
    }
    catch (const std::system_error& e) {
        return e.code();
    }
    catch (...) {
        return {ERROR_INTERNAL_ERROR, std::system_category()};
    }
}

std::wstring record_location(const log_record& record)
{
    if (record.kind == record_kind::uninstall_key)
        return L"HKEY_LOCAL_MACHINE\\" + product_uninstall_key();
    return record.path;
}

}

random_draw& backup_random_draw()
{
    static random_draw draw = engine_draw;
    return draw;
}

std::wstring unique_temp_path(const std::wstring& pattern, const std::wstring& in_folder)
{
    static constexpr wchar_t digits[] = L"0123456789abcdef";
    const std::filesystem::path folder =
        in_folder.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(in_folder);
    // A folder filled with every name would otherwise keep the run drawing.
    constexpr int draws = 1000;
    for (int draw = 0; draw < draws; ++draw) {
        std::wstring name = pattern;
        for (wchar_t& c : name) {
            if (c == L'%')
                c = digits[(std::uint64_t{backup_random_draw()()} * 16) >> 32];
        }
        std::wstring path = (folder / name).wstring();
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        // A folder that cannot be examined would make every name look taken.
        const DWORD error = GetLastError();
        if (!is_missing(error))
            throw_error(error, "GetFileAttributesW");
        return path;
    }
    throw_error(ERROR_FILE_EXISTS, "no free temporary name");
}

std::wstring make_backup(const std::wstring& source, bool copy, std::error_code& error, const std::wstring& folder,
                         const std::function<void(const std::wstring& name)>& announce)
{
    error.clear();
    std::wstring name;
    try {
        name = unique_temp_path(L"hv-%%%%%.tmp", folder);
    }
    catch (const std::system_error& e) {
        // No temporary folder: no backup.
        error = e.code();
        return {};
    }
    if (source.empty())
        return name;
    if (announce)
        announce(name);
    const BOOL done = copy ? CopyFileW(source.c_str(), name.c_str(), TRUE)
                           : MoveFileExW(source.c_str(), name.c_str(),
                                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
    if (done)
        return name;
    error.assign(static_cast<int>(GetLastError()), std::system_category());
    return {};
}

std::wstring make_backup(const std::wstring& source, bool copy, const std::wstring& folder)
{
    std::error_code ignored;
    return make_backup(source, copy, ignored, folder);
}

content_sum file_content_sum(const std::wstring& path)
{
    const kernel_handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        throw_error(GetLastError(), "CreateFileW");
    content_sum sum;
    boost::crc_32_type crc;
    std::vector<char> block(1 << 16);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &read, nullptr))
            throw_error(GetLastError(), "ReadFile");
        if (read == 0)
            break;
        crc.process_bytes(block.data(), read);
        sum.size += read;
    }
    sum.crc32 = crc.checksum();
    return sum;
}

hive_calls& backup_hive_calls()
{
    static hive_calls calls{
        [](const wchar_t* privilege, bool enable) { return enable_privilege(privilege, enable); },
        [](HKEY key, const wchar_t* file) { return RegSaveKeyW(key, file, nullptr); },
        [](HKEY key, const wchar_t* file) { return RegRestoreKeyW(key, file, 0); },
    };
    return calls;
}

void replace_file(const std::wstring& target, std::string_view bytes, DWORD attributes)
{
    const std::wstring fresh = target + L".new";
    const auto create = [&] {
        return kernel_handle(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    kernel_handle file = create();
    // A file left by a write that was interrupted; CREATE_NEW never opens
    // whatever else stands there, and DeleteFileW removes a link, not its target.
    if (!file && GetLastError() == ERROR_FILE_EXISTS && DeleteFileW(fresh.c_str()))
        file = create();
    if (!file)
        throw_error(GetLastError(), "CreateFileW");
    try {
        for (std::size_t done = 0; done < bytes.size();) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 16));
            DWORD written = 0;
            if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0)
                throw_error(GetLastError(), "WriteFile");
            done += written;
        }
        if (!FlushFileBuffers(file.get()))
            throw_error(GetLastError(), "FlushFileBuffers");
        file.reset();
        const DWORD old = GetFileAttributesW(target.c_str());
        if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) && !(old & FILE_ATTRIBUTE_REPARSE_POINT))
            SetFileAttributesW(target.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
        if (!MoveFileExW(fresh.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            throw_error(GetLastError(), "MoveFileExW");
    }
    catch (...) {
        file.reset();
        DeleteFileW(fresh.c_str());
        throw;
    }
    if (!SetFileAttributesW(target.c_str(), attributes))
        throw_error(GetLastError(), "SetFileAttributesW");
}

void remove_file(const std::wstring& path)
{
    remove_object(path, "DeleteFileW");
}

void remove_folder(const std::wstring& path)
{
    remove_object(path, "RemoveDirectoryW");
}

void uninstall_log::add_uninstall_key(const reg_key& key)
{
    pending = true;
    current.push_back({record_kind::uninstall_key, {}, {}, false, -1});
    if (!key) {
        if (journal)
            journal->append(journal_key_values{product_uninstall_key(), false, {}});
        return;
    }
    log_record& record = current.back();
    record.backup = make_backup({}, false, backup_folder);
    if (!record.backup.empty()) {
        const hive_calls& calls = backup_hive_calls();
        privilege_scope privilege(calls, L"SeBackupPrivilege");
        if (calls.save_key(key.get(), record.backup.c_str()) != ERROR_SUCCESS) {
            DeleteFileW(record.backup.c_str());
            record.backup.clear();
        }
    }
    // The hive file does not serve the next run: a restored hive replaces
    // the key only on some systems, the values always come back.
    if (journal)
        journal->append(key_values_of(product_uninstall_key()));
}

void put_back_uninstall_key(const std::wstring& hive)
{
    const hive_calls& calls = backup_hive_calls();
    privilege_scope privilege(calls, L"SeRestorePrivilege");
    const reg_key list = open_key(registry_root::local_machine, uninstall_list_key);
    if (!list)
        return;
    const std::wstring name = product_key_name();
    if (hive.empty()) {
        const LSTATUS status = RegDeleteTreeW(list.get(), name.c_str());
        if (status != ERROR_SUCCESS && !is_missing(static_cast<DWORD>(status)))
            throw_error(static_cast<DWORD>(status), "RegDeleteTreeW");
        return;
    }
    // The hive file is the only copy of the old key until it is back.
    const reg_key product = create_key(list, name.c_str());
    const LSTATUS status = calls.restore_key(product.get(), hive.c_str());
    if (status != ERROR_SUCCESS)
        throw_error(static_cast<DWORD>(status), "RegRestoreKeyW");
}

std::vector<rollback_problem> uninstall_log::rollback()
{
    std::vector<rollback_problem> problems;
    std::vector<not_restored_entry> not_restored;
    for (auto record = current.rbegin(); record != current.rend(); ++record) {
        try {
            undo(*record);
        }
        catch (...) {
            problems.push_back({record_location(*record), record->backup, error_of_current_exception()});
            if (!record->backup.empty())
                not_restored.push_back({record->backup, problems.back().path, record->backup_sum,
                                        record->written_sum});
        }
    }
    current.clear();
    pending = false;
    if (!not_restored.empty())
        add_not_restored(not_restored);
    return problems;
}

std::function<void()>& rollback_retry_wait()
{
    static std::function<void()> wait = [] { Sleep(1000); };
    return wait;
}

std::function<std::wstring()>& private_storage_folder()
{
    static std::function<std::wstring()> folder = [] {
        const std::wstring data = csidl_folder(CSIDL_COMMON_APPDATA);
        return data.empty() ? std::wstring() : data + L"\\" + std::wstring(maker_name) + L" Setup";
    };
    return folder;
}

std::wstring trusted_private_storage()
{
    const std::wstring storage = private_storage_folder()();
    if (storage.empty() || GetFileAttributesW(storage.c_str()) == INVALID_FILE_ATTRIBUTES)
        return {};
    try {
        ensure_private_folder(storage);
        return storage;
    }
    catch (const std::system_error&) {
        return {};
    }
}

std::wstring not_restored_list_path()
{
    const std::wstring folder = private_storage_folder()();
    return folder.empty() ? std::wstring() : folder + L"\\" + not_restored_list_name;
}

namespace {

std::wstring sum_text(const std::optional<content_sum>& sum)
{
    return sum ? fmt::format(L"{}\t{:08x}", sum->size, sum->crc32) : L"-\t-";
}

std::optional<content_sum> sum_from(const std::wstring& size, const std::wstring& crc)
{
    try {
        std::size_t size_end = 0;
        std::size_t crc_end = 0;
        const content_sum sum{std::stoull(size, &size_end), static_cast<std::uint32_t>(std::stoul(crc, &crc_end, 16))};
        if (size_end == size.size() && crc_end == crc.size())
            return sum;
    }
    catch (const std::exception&) {
    }
    return std::nullopt;
}

std::vector<std::wstring> split_tabs(const std::wstring& line)
{
    std::vector<std::wstring> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find(L'\t', start)) != std::wstring::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

bool write_not_restored(const std::vector<not_restored_entry>& entries)
{
    try {
        const std::wstring list = not_restored_list_path();
        if (list.empty())
            return false;
        if (entries.empty()) {
            remove_file(list);
            RemoveDirectoryW(private_storage_folder()().c_str());
            return true;
        }
        ensure_private_folder(private_storage_folder()());
        std::wstring text;
        for (const not_restored_entry& entry : entries)
            text += entry.backup + L"\t" + entry.original + L"\t" + sum_text(entry.backup_sum) + L"\t" +
                    sum_text(entry.written_sum) + L"\n";
        replace_file(list, hv::txtf::utf16_file_bytes(text), FILE_ATTRIBUTE_NORMAL);
        return true;
    }
    catch (...) {
        return false;
    }
}

}

std::vector<not_restored_entry> read_not_restored()
{
    std::vector<not_restored_entry> entries;
    try {
        const std::wstring list = not_restored_list_path();
        if (list.empty())
            return entries;
        hv::txtf::wifstream in{std::filesystem::path(list)};
        for (std::wstring line; in && std::getline(in, line);) {
            const auto fields = split_tabs(line);
            // Only whole lines naming two plain absolute paths count.
            if (fields.size() != 6 || !is_plain_absolute(fields[0]) || !is_plain_absolute(fields[1]))
                continue;
            entries.push_back({fields[0], fields[1], sum_from(fields[2], fields[3]), sum_from(fields[4], fields[5])});
        }
    }
    catch (...) {
    }
    return entries;
}

bool add_not_restored(const std::vector<not_restored_entry>& added)
{
    std::vector<not_restored_entry> entries = read_not_restored();
    entries.insert(entries.end(), added.begin(), added.end());
    return write_not_restored(entries);
}

left_behind_report restore_left_behind_backups()
{
    left_behind_report report;
    if (trusted_private_storage().empty())
        return report;
    const std::vector<not_restored_entry> entries = read_not_restored();
    if (entries.empty())
        return report;
    // Backups are only taken from the private folder, where nobody but an
    // administrator can have put them.
    const std::wstring storage = private_storage_folder()();
    // A folder on the way that a user replaced by a link since the failed
    // run would have the backup written wherever the link points.
    const owned_folders folders = owned_folders_for({});
    for (const not_restored_entry& entry : entries) {
        if (GetFileAttributesW(entry.backup.c_str()) == INVALID_FILE_ATTRIBUTES && is_missing(GetLastError()))
            continue;
        const bool backup_intact =
            is_strictly_within(entry.backup, storage) && entry.backup_sum && sum_or_nothing(entry.backup) == entry.backup_sum;
        const bool way_free = link_on_the_way(folders, entry.original).empty();
        const DWORD at_original = GetFileAttributesW(entry.original.c_str());
        const bool place_free = at_original == INVALID_FILE_ATTRIBUTES && is_missing(GetLastError());
        const bool place_holds_installed = !place_free && !(at_original & FILE_ATTRIBUTE_DIRECTORY) &&
                                           entry.written_sum && sum_or_nothing(entry.original) == entry.written_sum;
        if (backup_intact && way_free && (place_free || place_holds_installed)) {
            if (!place_free)
                SetFileAttributesW(entry.original.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (MoveFileExW(entry.backup.c_str(), entry.original.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
                report.put_back.push_back(entry.original);
                // The run's folder goes once its last backup is back.
                RemoveDirectoryW(std::filesystem::path(entry.backup).parent_path().c_str());
                continue;
            }
        }
        report.still_left.push_back(entry);
    }
    write_not_restored(report.still_left);
    return report;
}
