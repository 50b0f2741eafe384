// The uninstaller's work: undo what an installation recorded in its
// "Uninstall.ulog", and nothing else.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "records/owned_folders.h"
#include "records/uninstall_log.h"

// One step of an uninstallation.
struct uninstall_step {
    enum class action {
        remove_file,         // an installed file or a shortcut
        remove_folder,       // a folder the installation created, when empty
        remove_uninstall_key,
        remove_registration, // what the program's /Register wrote; path is the program
    };
    action what = action::remove_file;
    std::wstring path;
    // For files: the payload kind (3 for data the user may have changed).
    std::int32_t value = -1;

    friend bool operator==(const uninstall_step&, const uninstall_step&) = default;
};

// The steps that undo the records of a log, newest record first, folders
// last and deepest first. Steps not completed by the installation, and
// records the uninstaller does not own (kind 3, the DirectX update), are
// passed over; each key and path is undone once.
std::vector<uninstall_step> plan_uninstall(const std::vector<log_record>& records);

enum uninstall_exit_code : int {
    uninstall_done = 0,
    uninstall_cancelled = 1,
    uninstall_refused = 2, // the product or an installer runs
    uninstall_bad_log = 3, // missing or damaged log: nothing removed
    uninstall_incomplete = 4,
    uninstall_failure = 5,
};

// What the uninstaller asks or tells the user; the answer is yes (or OK).
enum class prompt { confirm, remove_changed_files, refused, bad_log, summary };
using prompt_function = std::function<bool(prompt, const std::wstring& text)>;

struct uninstall_options {
    std::filesystem::path log_path;
    // Names the installation lock and the instance counter.
    std::wstring application_id;
    prompt_function ask;
    // The folders whose records the uninstaller acts on; without them, those
    // of an installation in the log's folder.
    std::optional<owned_folders> owned;
    // The content the installation shipped for a data file or an example, by
    // file name; nothing for a file it did not ship.
    std::function<std::optional<std::string>(const std::wstring& file_name)> shipped_data;
    // The running uninstaller, which is removed last, by a temporary copy.
    std::wstring own_path;
    bool self_delete = true;
    // The language of the texts (a language index).
    int language = 1;
};

struct uninstall_report {
    int exit_code = uninstall_done;
    std::vector<std::wstring> removed;
    std::vector<std::wstring> kept;
    std::vector<std::wstring> failed;
    // Records naming something outside the installation's folders.
    std::vector<std::wstring> left_alone;
    int files = 0; // files and shortcuts
    int folders = 0;
    int registry = 0;
};

uninstall_report run_uninstall(const uninstall_options& options);

// The temporary copy's work: wait for the uninstaller (process id) to end,
// delete it, then the folders when empty. Returns whether all are gone.
bool finish_self_removal(unsigned long process_id, const std::wstring& program,
                         const std::vector<std::wstring>& folders);

// The uninstaller's text `id` in a language, from the running program's
// string tables; English when the language has none.
std::wstring uninstaller_text(int language, unsigned id);

// Leaves the program and the folders to the system's next start.
void remove_at_reboot(const std::wstring& program, const std::vector<std::wstring>& folders);
