// What an earlier installation of the product left behind: its registered
// program and that program's version, its uninstall log, and the folders and
// options the log proposes for this installation.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "records/uninstall_log.h"

// What is installed already, compared with this installer's product.
enum existing_install_state : std::int32_t {
    newer_installed = -1,
    not_installed = 0,
    same_installed = 1,
    older_installed = 2,
};

struct existing_installation {
    std::int32_t state = not_installed;
    std::wstring name;          // the installed program's display name (newer and older only)
    std::uint64_t version = 0;  // its file version (older only)

    friend bool operator==(const existing_installation&, const existing_installation&) = default;
};

// The state for an installed file version, compared with `own_version` as
// unsigned numbers; no version (a file without fixed version information)
// counts as the same version.
std::int32_t existing_state_for(std::optional<std::uint64_t> installed_version, std::uint64_t own_version);

// The outcome for a registered program path (empty: nothing registered) and
// the version found there.
existing_installation classify_existing(const std::wstring& registered_path,
                                        std::optional<std::uint64_t> installed_version,
                                        const std::function<std::wstring()>& display_name,
                                        std::uint64_t own_version);

// The path of the product's main program registered by the earlier
// installation when it still exists; looked up once per process.
const std::wstring& previous_program_path();

// The registered program's version resource compared with product_version.
existing_installation classify_existing(const std::wstring& registered_path);
existing_installation classify_existing();

// Where an earlier installation's log may be, in the order they are tried:
// next to the uninstaller named by the Uninstall entry (taken exactly as
// stored), next to this installer when it runs from the registered
// program's folder, next to the registered program. An empty source gives
// no candidate.
std::vector<std::filesystem::path> previous_log_candidates(const std::optional<std::wstring>& uninstall_string,
                                                           const std::wstring& own_program,
                                                           const std::wstring& registered_path);

// The first candidate that exists as a file system entry, else empty.
std::wstring first_existing(const std::vector<std::filesystem::path>& candidates);

// "UninstallString" of the product's Uninstall entry, when it can be read.
std::optional<std::wstring> recorded_uninstall_string();

// The earlier installation's log file, or empty when there is none.
std::wstring find_previous_log(const std::wstring& registered_path);
std::wstring find_previous_log();

// Reads the earlier installation's log into `log` for the states that have
// one and returns true when a log was read; resets `log` for the others.
bool load_previous_installation(std::int32_t state, uninstall_log& log,
                                const std::function<std::wstring()>& find_log = [] { return find_previous_log(); });
