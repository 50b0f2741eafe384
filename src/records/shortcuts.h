// The installation's shortcut steps and its association step, each recorded
// in the uninstall log: add, act, commit.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "records/registration_run.h"

class uninstall_log;

// Where a shortcut goes, as the uninstall log's add_shortcut takes it.
enum class shortcut_place : int { start_menu = 0, desktop = 2 };

// One shortcut step: add_shortcut, the link named after the product and its
// version, commit. False when the link could not be made; an earlier
// installation's link that add_shortcut had put aside then goes back where
// it was and stays in the log.
bool shortcut_step(uninstall_log& log, shortcut_place place, const std::wstring& folder,
                   const std::wstring& program_path);

struct shortcut_choice {
    bool menu_shortcut = false;
    std::wstring menu_folder;
    bool desktop_shortcut = false;
    std::wstring desktop_folder;
};

// The requested shortcut steps, Start Menu first; a failure of one does not
// keep the other from being made. True when every requested link was made.
bool create_shortcuts(uninstall_log& log, const std::wstring& program_path,
                      const shortcut_choice& choice);

// The product's exit code after its registration run, or nothing when it
// could not be started.
using registration_runner = std::function<std::optional<std::uint32_t>()>;

// The association step: add_association, the product's registration run,
// commit. On success the shell is told; true when the run ended with
// registration_succeeded.
bool association_step(uninstall_log& log, const registration_runner& run,
                      const std::function<void()>& associations_changed =
                          notify_associations_changed);
