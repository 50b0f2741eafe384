// The product's command line: a document to open, or the self-registration
// run of the installer (" /Register /Background [/update=<16 hex digits>]").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct product_options {
    bool valid = true;
    bool register_only = false;
    bool background = false;
    // The version being updated from, as a 64-bit file version.
    std::optional<std::uint64_t> update_from;
    std::wstring document;
};

// `arguments` without the program's own name. Switches are case-insensitive;
// an unknown switch, a malformed /update=, /update= or /Background without
// /Register, or more than one document make the options invalid.
product_options parse_product_arguments(const std::vector<std::wstring>& arguments);

// The arguments of a command line as the shell splits them, without the
// program's name.
std::vector<std::wstring> command_line_arguments(const wchar_t* command_line);

// How the product's run ends.
enum product_exit_code : int {
    product_exit_normal = 0,
    product_exit_bad_command_line = 1,
    product_exit_registration_failed = 2,
    // A normal start found an installer at work, or the registration run
    // could not take the installation lock.
    product_exit_installation_running = 3,
    product_exit_failure = 4,
    product_exit_registered = -10,
};
