// Rules for paths that come from a place another user could have written
// (an uninstall log, an archive's header): only plain absolute paths name
// anything, and only inside folders the installation owns.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// A single name of a path: not empty, not "." or "..", no character Windows
// refuses or reads as a stream (":"), no device name ("CON", "nul.txt",
// "COM1"...), no trailing dot or space (which Windows drops, so the name
// would mean another).
bool is_plain_name(std::wstring_view name);

// "X:\..." or "\\server\share\...", with "\" or "/" between names, and every
// name plain. "\\?\" and "\\.\" forms, relative paths and empty names are not.
bool is_plain_absolute(std::wstring_view path);

// Whether `path` is `folder` itself or lies below it, compared name by name
// without regard to case ("\" and "/" alike, trailing separators ignored).
bool is_within(std::wstring_view path, std::wstring_view folder);
bool is_strictly_within(std::wstring_view path, std::wstring_view folder);
