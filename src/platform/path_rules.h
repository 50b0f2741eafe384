// Rules for paths that come from a place another user could have written
// (an uninstall log, an archive's header): only plain absolute paths name
// anything, and only inside folders the installation owns.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace path_rules_detail {

template <class Char>
Char upper(Char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<Char>(c - 'a' + 'A') : c;
}

template <class Char>
bool equal_ascii_ignoring_case(std::basic_string_view<Char> text, std::string_view ascii)
{
    if (text.size() != ascii.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (upper(text[i]) != static_cast<Char>(ascii[i]))
            return false;
    return true;
}

template <class Char>
bool is_device_name(std::basic_string_view<Char> name)
{
    // The device is named by what comes before the first dot, trailing
    // spaces ignored: "nul.txt" and "CON .log" are devices too.
    std::basic_string_view<Char> stem = name.substr(0, name.find(Char('.')));
    while (!stem.empty() && stem.back() == Char(' '))
        stem.remove_suffix(1);
    for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (equal_ascii_ignoring_case(stem, device))
            return true;
    if (stem.size() != 4 || (!equal_ascii_ignoring_case(stem.substr(0, 3), "COM") &&
                             !equal_ascii_ignoring_case(stem.substr(0, 3), "LPT")))
        return false;
    const Char digit = stem[3];
    return (digit >= '0' && digit <= '9') || digit == Char(0xB9) || digit == Char(0xB2) || digit == Char(0xB3);
}

}

// A single name of a path: not empty, not "." or "..", no character Windows
// refuses or reads as a stream (":"), no device name ("CON", "nul.txt",
// "COM1"...), no trailing dot or space (which Windows drops, so the name
// would mean another). Built for the installer and the host-side packer.
template <class Char>
bool is_plain_name(std::basic_string_view<Char> name)
{
    if (name.empty() || (name.size() == 1 && name[0] == Char('.')) ||
        (name.size() == 2 && name[0] == Char('.') && name[1] == Char('.')))
        return false;
    if (name.back() == Char('.') || name.back() == Char(' '))
        return false;
    for (const Char c : name) {
        if (c < 32 || c == Char(':') || c == Char('<') || c == Char('>') || c == Char('"') || c == Char('|') ||
            c == Char('?') || c == Char('*') || c == Char('\\') || c == Char('/'))
            return false;
    }
    return !path_rules_detail::is_device_name(name);
}

inline bool is_plain_name(std::wstring_view name)
{
    return is_plain_name<wchar_t>(name);
}

// "X:\..." or "\\server\share\...", with "\" or "/" between names, and every
// name plain. "\\?\" and "\\.\" forms, relative paths and empty names are not.
bool is_plain_absolute(std::wstring_view path);

// Whether `path` is `folder` itself or lies below it, compared name by name
// without regard to case ("\" and "/" alike, trailing separators ignored).
bool is_within(std::wstring_view path, std::wstring_view folder);
bool is_strictly_within(std::wstring_view path, std::wstring_view folder);

// The first existing part of `path`, from `folder` itself down to `path`,
// that is a link (a junction or symbolic link, seen without following it);
// empty when there is none or `path` does not lie in `folder`.
std::wstring first_link_from(std::wstring_view folder, std::wstring_view path);

// The path the system gives an open file or folder, without the "\\?\"
// prefix: where a handle really leads. Raises std::system_error.
std::wstring final_path_of(void* object);
