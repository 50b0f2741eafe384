// One installation from start to end: the payload to the disk, every step
// recorded in the uninstall log, a failed extraction undone, then the
// shortcuts, the Uninstall entry, the product's self-registration and the
// log file. It reports through an installation_view and never draws.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <span>
#include <string>
#include <system_error>

#include "engine/installation_view.h"
#include "payload/placeholders.h"
#include "platform/known_folders.h"
#include "records/uninstall_log.h"

class named_mutex;
class uninstall_log;

// The choices the installation carries out.
struct installation_request {
    std::wstring install_folder;
    std::wstring menu_folder;
    bool menu_shortcut = true;
    bool desktop_shortcut = true;
    std::int32_t existing_state = 0;
    std::uint64_t existing_version = 0;
};

// The installer's state the installation changes.
struct installation_state {
    uninstall_log& log;
    // Released while the product registers itself, taken again afterwards.
    named_mutex& lock;
    // Names the per-run temporary folder; false with the error's text.
    std::function<bool(std::wstring& folder, std::wstring& error_text)> make_temporary_folder;
};

// What the installation takes from the system, each replaceable by a test.
struct installation_sources {
    std::function<std::span<const char>()> payload;                       // empty: the payload resource
    // The payload read as the extraction needs it, as from a large archive
    // on disk; when set it is used instead of `payload`.
    std::function<std::unique_ptr<std::istream>()> payload_stream;
    folder_lookup lookup = shell_folder;
    known_folder_source known_folder = query_known_folder;               // the desktop for its shortcut
    std::function<bool(uninstall_log&, const std::wstring& program, const std::wstring& uninstaller)>
        register_entry;                                                   // empty: the Uninstall entry
    // Undoes a failed extraction and returns what it could not undo; empty:
    // the log's rollback. A test puts one that fails as the file system can.
    std::function<std::vector<rollback_problem>(uninstall_log&)> rollback;
};

// True when the payload is in place; false after a failure shown through
// the view (a failed extraction is undone). Never throws.
bool run_installation(const installation_request& request, installation_state& state, installation_view& view,
                      const installation_sources& sources = {}) noexcept;

// The progress bar's position: 100 only when everything is written.
int progress_percent(std::uint64_t done, std::uint64_t total);

// How an error code is shown to the user: "1:…" system, "2:…" generic, the
// extractor's own number, else 7.
std::wstring error_code_text(const std::error_code& code);

// The code text of a caught exception (7 when it carries no error code).
std::wstring error_code_text(const std::exception_ptr& failure);

// The line that opens every installation's log.
std::wstring log_separator();
