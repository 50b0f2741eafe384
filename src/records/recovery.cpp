#include "records/recovery.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "platform/path_rules.h"
#include "platform/registry.h"
#include "records/backup.h"

namespace {

[[noreturn]] void throw_error(DWORD error, const char* what)
{
    throw std::system_error(static_cast<int>(error), std::system_category(), what);
}

bool is_missing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> value_names(HKEY key)
{
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD length = static_cast<DWORD>(std::size(name));
        if (RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return names;
        names.emplace_back(name, length);
    }
}

// Whether `key` is `root` or lies below it, without regard to case.
bool is_key_within(const std::wstring& key, const std::wstring& root)
{
    if (key.size() < root.size() || (key.size() > root.size() && key[root.size()] != L'\\'))
        return false;
    return CompareStringOrdinal(key.c_str(), static_cast<int>(root.size()), root.c_str(),
                                static_cast<int>(root.size()), TRUE) == CSTR_EQUAL;
}

class journal_undo {
public:
    journal_undo(const journal_begin& begin, const std::wstring& run_folder, const recovery_places& places)
        : owned_(owned_folders_for(begin.install_folder, places.lookup)), run_folder_(run_folder),
          registry_roots_(places.registry_roots)
    {
        if (!begin.menu_folder.empty())
            owned_.menu_folders.push_back(begin.menu_folder);
        if (!begin.desktop_folder.empty())
            owned_.desktop_folders.push_back(begin.desktop_folder);
        registry_roots_.push_back(product_uninstall_key());
    }

    void operator()(const journal_begin&) const {}
    void operator()(const journal_commit&) const {}

    void operator()(const journal_folder& step) const
    {
        refuse_unless(is_owned_record({record_kind::directory, step.path}, owned_));
        try {
            remove_folder(step.path);
        }
        catch (const std::system_error& e) {
            // Something the run did not write is in it: the folder stays.
            if (e.code() != std::error_code(ERROR_DIR_NOT_EMPTY, std::system_category()))
                throw;
        }
    }

    void operator()(const journal_file& step) const
    {
        // Examples are the only files on a desktop; their rule covers them.
        refuse_unless(is_owned_record({step.kind, step.path, {}, false, 4}, owned_) &&
                      link_on_the_way(owned_, step.path).empty());
        if (step.backup.empty()) {
            remove_file(step.path);
            return;
        }
        refuse_unless(is_strictly_within(step.backup, run_folder_));
        // No backup: the original was never moved, or is back already.
        if (!exists(step.backup))
            return;
        if (step.backup_sum && file_content_sum(step.backup) != *step.backup_sum)
            throw_error(ERROR_FILE_INVALID, "the backup changed since it was made");
        remove_file(step.path);
        if (!MoveFileExW(step.backup.c_str(), step.path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
            throw_error(GetLastError(), "MoveFileExW");
    }

    void operator()(const journal_key_values& step) const
    {
        refuse_unless(is_registry_place(step.key));
        if (!step.existed) {
            const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, step.key.c_str());
            if (status != ERROR_SUCCESS && !is_missing(static_cast<DWORD>(status)))
                throw_error(static_cast<DWORD>(status), "RegDeleteTreeW");
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, step.key.c_str());
            return;
        }
        HKEY handle = nullptr;
        LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, step.key.c_str(), 0, nullptr, 0,
                                         KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &handle, nullptr);
        if (status != ERROR_SUCCESS)
            throw_error(static_cast<DWORD>(status), "RegCreateKeyExW");
        const reg_key key(handle);
        for (const std::wstring& name : value_names(key.get()))
            if (std::none_of(step.values.begin(), step.values.end(),
                             [&](const registry_data& kept) { return kept.name == name; }))
                RegDeleteValueW(key.get(), name.c_str());
        for (const registry_data& value : step.values) {
            status = RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                                    static_cast<DWORD>(value.data.size()));
            if (status != ERROR_SUCCESS)
                throw_error(static_cast<DWORD>(status), "RegSetValueExW");
        }
    }

    void operator()(const journal_registry_key& step) const
    {
        refuse_unless(is_registry_place(step.key));
        HKEY handle = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, step.key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
            return;
        const reg_key key(handle);
        DWORD sub_keys = 0;
        DWORD values = 0;
        if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &sub_keys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            sub_keys != 0 || values != 0)
            return;
        const LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, step.key.c_str());
        if (status != ERROR_SUCCESS && !is_missing(static_cast<DWORD>(status)))
            throw_error(static_cast<DWORD>(status), "RegDeleteKeyW");
    }

    void operator()(const journal_registry_value& step) const
    {
        refuse_unless(is_registry_place(step.key));
        HKEY handle = nullptr;
        LSTATUS status =
            step.type ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, step.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                        &handle, nullptr)
                      : RegOpenKeyExW(HKEY_LOCAL_MACHINE, step.key.c_str(), 0, KEY_SET_VALUE, &handle);
        if (status != ERROR_SUCCESS) {
            if (!step.type && is_missing(static_cast<DWORD>(status)))
                return;
            throw_error(static_cast<DWORD>(status), "RegOpenKeyExW");
        }
        const reg_key key(handle);
        status = step.type ? RegSetValueExW(key.get(), step.name.c_str(), 0, *step.type, step.data.data(),
                                            static_cast<DWORD>(step.data.size()))
                           : RegDeleteValueW(key.get(), step.name.c_str());
        if (status != ERROR_SUCCESS && !(!step.type && is_missing(static_cast<DWORD>(status))))
            throw_error(static_cast<DWORD>(status), "RegSetValueExW");
    }

private:
    static void refuse_unless(bool allowed)
    {
        if (!allowed)
            throw_error(ERROR_CANT_ACCESS_FILE, "outside the installation's own places");
    }

    bool is_registry_place(const std::wstring& key) const
    {
        return is_plain_registry_path(key) &&
               std::any_of(registry_roots_.begin(), registry_roots_.end(),
                           [&](const std::wstring& root) { return is_key_within(key, root); });
    }

    // Key names in a journal carry no "." or ".." levels and no empty ones.
    static bool is_plain_registry_path(const std::wstring& key)
    {
        if (key.empty() || key.front() == L'\\' || key.back() == L'\\' || key.find(L"\\\\") != std::wstring::npos ||
            key.find(L'/') != std::wstring::npos)
            return false;
        for (std::size_t start = 0; start <= key.size();) {
            const std::size_t end = std::min(key.find(L'\\', start), key.size());
            const std::wstring_view level(key.data() + start, end - start);
            if (level == L"." || level == L"..")
                return false;
            start = end + 1;
        }
        return true;
    }

    owned_folders owned_;
    std::wstring run_folder_;
    std::vector<std::wstring> registry_roots_;
};

std::wstring place_of(const journal_step& step)
{
    struct visitor {
        std::wstring operator()(const journal_folder& s) const { return s.path; }
        std::wstring operator()(const journal_file& s) const { return s.path; }
        std::wstring operator()(const journal_key_values& s) const { return L"HKEY_LOCAL_MACHINE\\" + s.key; }
        std::wstring operator()(const journal_registry_key& s) const { return L"HKEY_LOCAL_MACHINE\\" + s.key; }
        std::wstring operator()(const journal_registry_value& s) const
        {
            return L"HKEY_LOCAL_MACHINE\\" + s.key + L" (" + s.name + L")";
        }
        std::wstring operator()(const journal_begin&) const { return {}; }
        std::wstring operator()(const journal_commit&) const { return {}; }
    };
    return std::visit(visitor{}, step);
}

constexpr int undo_attempts = 3;

std::vector<std::wstring> folders_below(const std::wstring& folder, const std::wstring& pattern)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data{};
    const HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return found;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L".." && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            found.push_back(folder + L"\\" + name);
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return found;
}

}

journal_key_values key_values_of(const std::wstring& key_path)
{
    journal_key_values step{key_path, false, {}};
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return step;
    const reg_key key(handle);
    step.existed = true;
    for (const std::wstring& name : value_names(key.get())) {
        registry_data value{name, REG_NONE, {}};
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
            throw_error(ERROR_CANTREAD, "RegQueryValueExW");
        value.data.resize(size);
        if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS)
            throw_error(ERROR_CANTREAD, "RegQueryValueExW");
        value.data.resize(size);
        step.values.push_back(std::move(value));
    }
    return step;
}

void journal_registry_places(journal_writer& journal, const std::vector<registry_place>& places,
                             const std::vector<std::wstring>& roots)
{
    std::vector<std::wstring> announced;
    const auto key_exists = [](const std::wstring& key) {
        return static_cast<bool>(open_key(registry_root::local_machine, key.c_str()));
    };
    for (const registry_place& place : places) {
        const auto root = std::find_if(roots.begin(), roots.end(),
                                       [&](const std::wstring& r) { return is_key_within(place.key, r); });
        if (root == roots.end())
            continue;
        for (std::size_t end = root->size();;) {
            const std::wstring level = place.key.substr(0, end);
            if (std::find(announced.begin(), announced.end(), level) == announced.end()) {
                announced.push_back(level);
                if (!key_exists(level))
                    journal.append(journal_registry_key{level});
            }
            if (end >= place.key.size())
                break;
            end = std::min(place.key.find(L'\\', end + 1), place.key.size());
        }
    }
    for (const registry_place& place : places) {
        journal_registry_value value{place.key, place.name, std::nullopt, {}};
        HKEY handle = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, place.key.c_str(), 0, KEY_QUERY_VALUE, &handle) == ERROR_SUCCESS) {
            const reg_key key(handle);
            DWORD type = 0;
            DWORD size = 0;
            if (RegQueryValueExW(key.get(), place.name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
                value.data.resize(size);
                if (RegQueryValueExW(key.get(), place.name.c_str(), nullptr, &type, value.data.data(), &size) !=
                    ERROR_SUCCESS)
                    throw_error(ERROR_CANTREAD, "RegQueryValueExW");
                value.data.resize(size);
                value.type = type;
            }
        }
        journal.append(value);
    }
}

std::vector<std::wstring> undo_journal(const std::vector<journal_step>& steps, const std::wstring& run_folder,
                                       const recovery_places& places)
{
    std::vector<std::wstring> left;
    if (steps.empty() || std::any_of(steps.begin(), steps.end(), [](const journal_step& step) {
            return std::holds_alternative<journal_commit>(step);
        }))
        return left;
    // Without its first step a journal names no folder the recovery may touch.
    const auto* begin = std::get_if<journal_begin>(&steps.front());
    if (!begin)
        return {run_folder};
    const journal_undo undo(*begin, run_folder, places);
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        for (int attempt = 1;; ++attempt) {
            try {
                std::visit(undo, *step);
                break;
            }
            catch (...) {
                const bool in_use = [] {
                    try {
                        throw;
                    }
                    catch (const std::system_error& e) {
                        return e.code() == std::error_code(ERROR_SHARING_VIOLATION, std::system_category());
                    }
                    catch (...) {
                        return false;
                    }
                }();
                if (!in_use || attempt == undo_attempts) {
                    left.push_back(place_of(*step));
                    break;
                }
                rollback_retry_wait()();
            }
        }
    }
    return left;
}

bool remove_run_folder(const std::wstring& folder)
{
    bool removed = true;
    WIN32_FIND_DATAW data{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = folder + L"\\" + name;
            const bool is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                   !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
            try {
                if (is_folder)
                    removed = remove_run_folder(path) && removed;
                else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    remove_folder(path);
                else
                    remove_file(path);
            }
            catch (const std::system_error&) {
                removed = false;
            }
        } while (FindNextFileW(search, &data));
        FindClose(search);
    }
    try {
        remove_folder(folder);
    }
    catch (const std::system_error&) {
        return false;
    }
    return removed;
}

run_folder_hold::run_folder_hold(const std::wstring& folder)
    // Listing access takes part in sharing; without FILE_SHARE_DELETE nobody
    // can open the folder to remove it.
    : handle_(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr))
{
    if (!handle_)
        throw_error(GetLastError(), "CreateFileW");
}

bool run_folder_in_use(const std::wstring& folder)
{
    const kernel_handle probe(CreateFileW(folder.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return !probe && GetLastError() == ERROR_SHARING_VIOLATION;
}

recovery_report recover_interrupted_runs(const recovery_places& places)
{
    recovery_report report;
    try {
        // Journals are only read from a storage nobody else can have made.
        const std::wstring storage = trusted_private_storage();
        if (storage.empty())
            return report;
        // Backups an earlier rollback could not put back stay where the list
        // says until they are put back.
        std::vector<std::wstring> listed;
        for (const not_restored_entry& entry : read_not_restored())
            listed.push_back(std::filesystem::path(entry.backup).parent_path().wstring());
        for (const std::wstring& run_folder : folders_below(storage, L"halden_*")) {
            // Another installation's run, going on now.
            if (run_folder_in_use(run_folder))
                continue;
            const std::wstring journal = run_folder + L"\\" + recovery_journal_name;
            const auto bytes = read_journal_file(journal);
            if (!bytes) {
                // A run that ended before its journal began changed nothing,
                // and one that ended whole needs nothing it left here; only
                // backups the list still names stay.
                if (!exists(journal) && std::none_of(listed.begin(), listed.end(), [&](const std::wstring& folder) {
                        return is_within(folder, run_folder);
                    }))
                    remove_run_folder(run_folder);
                continue;
            }
            const std::vector<journal_step> steps = read_journal(*bytes);
            const bool committed = std::any_of(steps.begin(), steps.end(), [](const journal_step& step) {
                return std::holds_alternative<journal_commit>(step);
            });
            std::vector<std::wstring> left = undo_journal(steps, run_folder, places);
            if (left.empty()) {
                if (!remove_run_folder(run_folder))
                    left.push_back(run_folder);
                else if (!committed)
                    ++report.undone;
            }
            report.left.insert(report.left.end(), left.begin(), left.end());
        }
        RemoveDirectoryW(storage.c_str());
    }
    catch (...) {
        // What was not reached is found again by the next run.
    }
    return report;
}
