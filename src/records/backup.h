// Temporary copies of what an installation replaces, kept in the system
// temporary folder until the installation has succeeded or been rolled back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

// One 32-bit draw of the process-wide random engine; replaceable by tests.
using random_draw = std::function<std::uint32_t()>;
random_draw& backup_random_draw();

// The system temporary folder joined with `pattern`, every '%' replaced by a
// random lower-case hexadecimal digit, drawn again until no such file exists.
// Raises std::system_error when the folder cannot be found or examined.
std::wstring unique_temp_path(const std::wstring& pattern);

// Puts `source` aside under a fresh "hv-%%%%%.tmp" name (a copy when `copy`
// is true, a move otherwise) and returns that name, or empty when it failed.
// An empty `source` only returns a fresh name.
std::wstring make_backup(const std::wstring& source, bool copy);
// The same, telling why no backup was made (no temporary folder, or the
// copy or move failed).
std::wstring make_backup(const std::wstring& source, bool copy, std::error_code& error);

// The system calls that save the product's Uninstall key to a hive file and
// restore it, with the privileges they need. Tests replace them to watch
// what a rollback asks of the registry.
struct hive_calls {
    std::function<bool(const wchar_t* privilege, bool enable)> enable_privilege;
    std::function<LSTATUS(HKEY key, const wchar_t* file)> save_key;
    std::function<LSTATUS(HKEY key, const wchar_t* file)> restore_key;
};
hive_calls& backup_hive_calls();

// How a rollback waits before it tries again an object another program has
// open: one second, replaceable by tests.
std::function<void()>& rollback_retry_wait();

// The list in the system temporary folder of backups a rollback could not
// put back, one "backup<TAB>original" line each (UTF-16), for the next run
// or the uninstaller to act on.
inline constexpr const wchar_t* not_restored_list_name = L"hv-not-restored.txt";
std::wstring not_restored_list_path();
// Adds lines to that list; false when it could not be written.
bool add_not_restored(const std::vector<std::pair<std::wstring, std::wstring>>& backup_and_original);

// Writes `bytes` as the new content of `target` in one step: into a fresh
// file beside it first, flushed, then moved over the old one, which stays
// whole until then. Sets `attributes` on the result. Raises the system's error.
void replace_file(const std::wstring& target, std::string_view bytes, DWORD attributes);

// Deletes a file or an empty folder, clearing a read-only attribute first;
// a missing one counts as deleted. Raises the system's error otherwise.
void remove_file(const std::wstring& path);
void remove_folder(const std::wstring& path);
