// Temporary copies of what an installation replaces, kept in the system
// temporary folder until the installation has succeeded or been rolled back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// One 32-bit draw of the process-wide random engine; replaceable by tests.
using random_draw = std::function<std::uint32_t()>;
random_draw& backup_random_draw();

// The system temporary folder joined with `pattern`, every '%' replaced by a
// random lower-case hexadecimal digit, drawn again until no such file exists.
std::wstring unique_temp_path(const std::wstring& pattern);

// Puts `source` aside under a fresh "hv-%%%%%.tmp" name (a copy when `copy`
// is true, a move otherwise) and returns that name, or empty when it failed.
// An empty `source` only returns a fresh name.
std::wstring make_backup(const std::wstring& source, bool copy);
