// Temporary copies of what an installation replaces, kept in the system
// temporary folder until the installation has succeeded or been rolled back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "records/uninstall_log.h"

// One 32-bit draw of the process-wide random engine; replaceable by tests.
using random_draw = std::function<std::uint32_t()>;
random_draw& backup_random_draw();

// `folder` (the system temporary folder when empty) joined with `pattern`,
// every '%' replaced by a random lower-case hexadecimal digit, drawn again
// while such a file exists. Raises std::system_error when the folder cannot
// be found or examined, or when a thousand draws all name existing files.
std::wstring unique_temp_path(const std::wstring& pattern, const std::wstring& folder = {});

// Puts `source` aside under a fresh "hv-%%%%%.tmp" name in `folder` (the
// system temporary folder when empty), a copy when `copy` is true, a move
// otherwise, and returns that name, or empty when it failed. An empty
// `source` only returns a fresh name.
std::wstring make_backup(const std::wstring& source, bool copy, const std::wstring& folder = {});
// The same, telling why no backup was made (no temporary folder, or the
// copy or move failed).
// `announce` is called with the chosen name before anything is copied or
// moved; what it raises ends the call.
std::wstring make_backup(const std::wstring& source, bool copy, std::error_code& error,
                         const std::wstring& folder = {},
                         const std::function<void(const std::wstring& name)>& announce = {});

// A file's size and CRC-32, read in blocks. Raises the system's error.
content_sum file_content_sum(const std::wstring& path);

// The system calls that save the product's Uninstall key to a hive file and
// restore it, with the privileges they need. Tests replace them to watch
// what a rollback asks of the registry.
struct hive_calls {
    std::function<bool(const wchar_t* privilege, bool enable)> enable_privilege;
    std::function<LSTATUS(HKEY key, const wchar_t* file)> save_key;
    std::function<LSTATUS(HKEY key, const wchar_t* file)> restore_key;
};
hive_calls& backup_hive_calls();

// Puts the product's Uninstall key back from the hive file `hive` (as
// saved for the log's record), or deletes the key when `hive` is empty.
// Raises the system's error.
void put_back_uninstall_key(const std::wstring& hive);

// How a rollback waits before it tries again an object another program has
// open: one second, replaceable by tests.
std::function<void()>& rollback_retry_wait();

// The private folder (administrators and the system only) where the
// installer and the uninstaller keep each run's backups and the list of
// backups not put back: "Halden & Voss Setup" below the common application
// data. Tests put a folder of their own in its place.
std::function<std::wstring()>& private_storage_folder();

// That folder when it exists and may be trusted (a real folder owned by
// the administrators, the system or this process's user); empty otherwise,
// so that nothing a standard user planted there is read.
std::wstring trusted_private_storage();

// The list in the private storage folder of backups a rollback could not
// put back, one line each (UTF-16): backup, original, the backup's size and
// CRC-32, and the size and CRC-32 of what the failed installation wrote in
// the original's place ("-" when unknown), separated by tabs.
inline constexpr const wchar_t* not_restored_list_name = L"hv-not-restored.txt";
std::wstring not_restored_list_path();

struct not_restored_entry {
    std::wstring backup;
    std::wstring original;
    std::optional<content_sum> backup_sum;
    std::optional<content_sum> written_sum;
    friend bool operator==(const not_restored_entry&, const not_restored_entry&) = default;
};

// Adds entries to that list; false when it could not be written.
bool add_not_restored(const std::vector<not_restored_entry>& entries);
std::vector<not_restored_entry> read_not_restored();

// What a run found of backups an earlier failed installation left behind.
struct left_behind_report {
    std::vector<std::wstring> put_back;          // originals now in place again
    std::vector<not_restored_entry> still_left;  // shown to the user with both paths
};

// Puts back each backup of the list whose original place is free or holds
// what the failed installation wrote there, and whose content is what it
// was when it was made; rewrites the list with what is left (removed when
// empty). Never throws.
left_behind_report restore_left_behind_backups();

// Writes `bytes` as the new content of `target` in one step: into a fresh
// file beside it first, flushed, then moved over the old one, which stays
// whole until then. Sets `attributes` on the result. Raises the system's error.
void replace_file(const std::wstring& target, std::string_view bytes, DWORD attributes);

// Deletes a file or an empty folder, clearing a read-only attribute first;
// a missing one counts as deleted. Raises the system's error otherwise.
void remove_file(const std::wstring& path);
void remove_folder(const std::wstring& path);
