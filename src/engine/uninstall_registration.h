// The product's entry in the system's list of installed programs: a key
// under the local machine's Uninstall key, recorded in the uninstall log so
// that a failed installation can restore or delete it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/language.h"

class reg_key;
class uninstall_log;

struct uninstall_value {
    std::wstring name;
    DWORD type = REG_SZ; // REG_SZ with a text, REG_DWORD with a number
    std::variant<std::wstring, std::uint32_t> data;

    friend bool operator==(const uninstall_value&, const uninstall_value&) = default;
};

// The entry's values in the order they are written.
std::vector<uninstall_value> uninstall_values(const std::wstring& program_path,
                                              const std::wstring& uninstaller_path,
                                              language_index language);

// Writes each value on its own, passing over one that cannot be written.
// True when "DisplayName" and "UninstallString" were written.
bool write_uninstall_values(const reg_key& key, const std::vector<uninstall_value>& values);

// The registry step of an installation: saves an existing entry through the
// log (or creates the key), writes the values and commits the record. False
// when the Uninstall key is missing (nothing is recorded then), when the
// entry could not be opened or created, or when its name or uninstaller
// could not be written. Never throws.
bool register_uninstall_entry(uninstall_log& log, const std::wstring& program_path,
                              const std::wstring& uninstaller_path,
                              language_index language = locale_state::instance().current);
