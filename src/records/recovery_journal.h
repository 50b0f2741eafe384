// The record an installation keeps, beside its backups, of what it is about
// to change: each step is written before the change is made, and flushed
// when the change could lose something, so that a run ended at any
// instruction (power lost, process ended) leaves enough for the next run to
// undo it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/kernel_handle.h"
#include "records/uninstall_log.h"

inline constexpr const wchar_t* recovery_journal_name = L"hv-recovery.log";

// The folders the run writes to; what the recovery may touch is derived
// from them, never from a path alone.
struct journal_begin {
    std::wstring install_folder;
    std::wstring menu_folder;
    std::wstring desktop_folder;
    friend bool operator==(const journal_begin&, const journal_begin&) = default;
};

// A folder about to be created.
struct journal_folder {
    std::wstring path;
    friend bool operator==(const journal_folder&, const journal_folder&) = default;
};

// A file about to be written or created at `path`. What stood there before
// is moved to `backup` (empty when nothing stood there) with `backup_sum`.
struct journal_file {
    record_kind kind = record_kind::file;
    std::wstring path;
    std::wstring backup;
    std::optional<content_sum> backup_sum;
    friend bool operator==(const journal_file&, const journal_file&) = default;
};

// A value as the registry holds it.
struct registry_data {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> data;
    friend bool operator==(const registry_data&, const registry_data&) = default;
};

// A key below HKEY_LOCAL_MACHINE without sub-keys (the product's Uninstall
// entry) about to be written, with every value it held; when it did not
// exist, the recovery deletes it with whatever the run put in it.
struct journal_key_values {
    std::wstring key;
    bool existed = false;
    std::vector<registry_data> values;
    friend bool operator==(const journal_key_values&, const journal_key_values&) = default;
};

// A key below HKEY_LOCAL_MACHINE that did not exist before the run.
struct journal_registry_key {
    std::wstring key;
    friend bool operator==(const journal_registry_key&, const journal_registry_key&) = default;
};

// A value below HKEY_LOCAL_MACHINE the run may change, and what it held
// (no type: it was not there).
struct journal_registry_value {
    std::wstring key;
    std::wstring name;
    std::optional<DWORD> type;
    std::vector<std::uint8_t> data;
    friend bool operator==(const journal_registry_value&, const journal_registry_value&) = default;
};

// The run's log is in place: the run stands and is not undone.
struct journal_commit {
    friend bool operator==(const journal_commit&, const journal_commit&) = default;
};

using journal_step = std::variant<journal_begin, journal_folder, journal_file, journal_key_values,
                                  journal_registry_key, journal_registry_value, journal_commit>;

// One line of UTF-8 text ending with its own CRC-32 and a line feed.
std::string journal_line(const journal_step& step);

// The steps of a journal's bytes up to the first line that is cut short,
// damaged or not understood: what follows such a line was never acted on,
// since each line is complete on disk before its change is made.
std::vector<journal_step> read_journal(std::string_view bytes);

// Whether a step's line must be on the disk before its change is made:
// when the change could lose what stood there before (a file moved aside,
// registry values about to change) and for the commit. A file or folder that
// did not exist can at worst be left behind by a power cut, so its line is
// not waited for; the next line that is flushed takes it along, since a
// flush writes everything before it.
bool journal_line_must_reach_disk(const journal_step& step);

// Appends steps to a new journal file; a step whose line must reach the
// disk is flushed, with every line before it, before `append` returns.
// Raises std::system_error when the file cannot be created or written: the
// change it announces must then not be made.
class journal_writer {
public:
    explicit journal_writer(const std::wstring& path);
    void append(const journal_step& step);
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
    kernel_handle file_;
};

// The journal's whole text, or nothing when it cannot be read.
std::optional<std::string> read_journal_file(const std::wstring& path);
