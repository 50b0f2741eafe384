// The process-wide record of one installer run, and the start-up checks that
// decide whether the wizard opens.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

#include "platform/known_folders.h"
#include "platform/language.h"
#include "platform/sync_objects.h"
#include "records/backup.h"
#include "records/detection.h"
#include "records/recovery.h"
#include "records/uninstall_log.h"

// What start-up asks the system, each answer replaceable by a test.
struct startup_sources {
    user_language_source user_language = GetUserDefaultLangID;
    std::function<bool()> is_administrator;      // empty: the process token's membership
    known_folder_source known_folder = query_known_folder;
    // The earlier installation's registered program; empty: the registry's
    // entry, looked up once per process.
    std::function<std::wstring()> registered_program;
};

class installer_context {
public:
    // The one record of the process, created on first use.
    static installer_context& instance();

    // A record whose installation lock has the given name (without "Global\").
    explicit installer_context(const std::wstring& lock_name);
    installer_context(const installer_context&) = delete;
    installer_context& operator=(const installer_context&) = delete;

    named_mutex instance_mutex;
    std::wstring install_folder;
    std::wstring menu_folder;
    std::wstring temporary_folder;
    bool menu_shortcut = true;
    bool desktop_shortcut = true;
    bool advanced = false;
    uninstall_log log;
    bool installed = false;
    std::uint64_t existing_version = 0;
    std::int32_t existing_state = not_installed;
    std::wstring existing_name;

    // The start-up checks and defaults; true when the wizard is to open.
    bool initialise(const startup_sources& sources = {});

    // Names the per-run temporary folder (not created) in the private
    // storage folder; false with "{:08x} ({})" of the Windows error when
    // there is no such folder.
    bool make_temporary_folder(std::wstring& error_text);

    // What is installed already, from the registered program path.
    void classify_existing(const std::wstring& registered_path = previous_program_path());
    // The earlier installation's log, folders and desktop-shortcut choice.
    void load_previous_installation(const std::function<std::wstring()>& find_log = [] { return find_previous_log(); });
    // Fills an empty installation or Start-menu folder with its default;
    // false (after a warning box) when a default cannot be found.
    bool choose_default_folders(const known_folder_source& source = query_known_folder);
};

// Set by the processor check before the entry point; start-up refuses to go
// on without it.
inline bool processor_check_passed = false;

// The processor check before the entry point: 0 when the processor has SSE2;
// otherwise the trilingual box is shown through `show_box` and the result is
// the exit code 1. The feature query is the system's unless a test gives one.
using processor_feature_query = std::function<bool(DWORD feature)>;
using processor_box = std::function<void(const wchar_t* text, UINT flags)>;
UINT check_processor(const processor_feature_query& feature_present, const processor_box& show_box);

// The one-time initialisation of the application (common controls, the
// application id, this process's unit of the instance counter). Raises on
// failure; runs once however often it is called.
void initialise_application();

// "ApplicationId" of the own version resource, else its product name, else
// the executable's file name without extension; fixed for the run.
const std::wstring& application_id();

// The instance counter of the application, counting this process.
instance_counter& application_instance_counter();

// The warning box for a known folder that cannot be found.
void warn_folder_unavailable(HRESULT hr);

// The Windows error for a failed look-up of the temporary folder: the
// runtime reports file errors as POSIX numbers, the user reads Windows ones.
DWORD temporary_folder_error(const std::error_code& error);

// What the user is told at start-up about the files of an earlier failed
// installation: those put back, then each backup that could not be, with
// both paths; empty when there is nothing to tell.
std::wstring left_behind_message(const left_behind_report& report);

// What the user is told at start-up about interrupted installations put
// right, and about what could not be yet; empty when there is nothing.
std::wstring recovery_message(const recovery_report& report);

