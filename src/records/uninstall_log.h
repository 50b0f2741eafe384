// The record of everything an installation creates, written next to the
// installed uninstaller as "Uninstall.ulog" and read back by the next
// installation. The same records drive the rollback of a failed installation.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/registry.h"
#include "platform/security.h"

enum class record_kind : std::int32_t {
    directory = 0,
    file = 1,
    menu_shortcut = 2,
    // 3 is never created; records of that kind are kept when read.
    desktop_shortcut = 4,
    uninstall_key = 5,
    associations = 6,
    directx_update = 7,
};

// A file's size and CRC-32.
struct content_sum {
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;
    friend bool operator==(const content_sum&, const content_sum&) = default;
};

struct log_record {
    record_kind kind = record_kind::directory;
    std::wstring path;
    std::wstring backup;
    bool done = false;
    std::int32_t value = -1;
    // In memory only, never written to the log: the file was there before the
    // installation and stays in place, so a rollback must leave it.
    bool kept = false;
    // In memory only: the backup as it was made, so that a backup changed
    // since is never put back, and what the installation wrote in the
    // file's place, so that a later run can tell it from a user's change.
    std::optional<content_sum> backup_sum;
    std::optional<content_sum> written_sum;

    // Compares what the log file holds.
    friend bool operator==(const log_record& a, const log_record& b)
    {
        return a.kind == b.kind && a.path == b.path && a.backup == b.backup && a.done == b.done &&
               a.value == b.value;
    }
};

// A record a rollback could not undo: what it names, the backup left in the
// temporary folder (empty when there is none) and the error.
struct rollback_problem {
    std::wstring path;
    std::wstring backup;
    std::error_code error;
};

inline constexpr const wchar_t* uninstall_log_name = L"Uninstall.ulog";

class journal_writer;

class uninstall_log {
public:
    std::wstring install_folder;
    std::wstring shortcut_folder;
    bool had_desktop_shortcut = true;
    std::vector<log_record> previous;
    std::vector<log_record> current;
    bool pending = false;
    std::wstring previous_product;
    // Where this installation's backups go: a private folder of the run;
    // empty for the system temporary folder.
    std::wstring backup_folder;
    // When set, each change to the machine is announced there before it is
    // made, so that a run ended part-way can be undone by the next.
    journal_writer* journal = nullptr;
    // The access list a folder the installation creates gets from the
    // start; when unset or without one, what its parent hands down.
    std::function<std::optional<access_list>(const std::wstring& folder)> access_for_new_folder;

    // Never throws: a malformed or unreadable file keeps what was parsed
    // before the fault. An empty name only resets the header fields.
    // True when the whole file was read: a version line, no malformed line,
    // no read error (a missing file is not read whole).
    bool read(const std::filesystem::path& file);

    bool create_directories(const std::filesystem::path& path);
    // copy_backup: an existing file stays in place (a data file the
    // installation keeps); its record is marked `kept` and a failed copy is
    // no error. Otherwise an existing file that cannot be moved aside raises.
    void add_file(const std::filesystem::path& path, std::int32_t value, bool copy_backup);
    // where: 0 for the Start Menu, anything else for the desktop.
    void add_shortcut(int where, const std::filesystem::path& folder);
    // key: the product's existing Uninstall key, or an empty key when the
    // caller has just created it.
    void add_uninstall_key(const reg_key& key);
    void add_association();
    void commit(bool done, const std::wstring& path = {});

    // Undoes `current` from the last record to the first and empties it.
    // Never stops at a record: an object in use is tried again a few times,
    // what still cannot be undone is returned (empty when all went well), and
    // a backup that could not be put back stays where it is and is added to
    // the not-restored list (backup.h).
    std::vector<rollback_problem> rollback();

    // Merges `previous` into `current`, writes the file and discards the
    // backups. Never throws.
    bool write(const std::filesystem::path& file, const std::wstring& install_folder,
               const std::wstring& shortcut_folder);
    // Announces through `journal` (when set) that `path` is about to be
    // written, what stood there having been put aside as `backup`.
    void announce_file(record_kind kind, const std::wstring& path, const std::wstring& backup,
                       const std::optional<content_sum>& backup_sum);

    // The file's text for `current`, with "\n" line ends.
    std::wstring text(const std::wstring& install_folder, const std::wstring& shortcut_folder) const;
};

// Compares two paths as the file system would name the same object.
bool same_location(const std::filesystem::path& a, const std::filesystem::path& b);
