#include "product/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <cwctype>

namespace {

bool equal_ignoring_case(const std::wstring& a, const wchar_t* b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

std::optional<std::uint64_t> parse_version(const std::wstring& digits)
{
    if (digits.size() != 16)
        return std::nullopt;
    std::uint64_t value = 0;
    for (wchar_t c : digits) {
        if (!std::iswxdigit(c) || c > 0x7F)
            return std::nullopt;
        value = value << 4 | static_cast<std::uint64_t>(std::stoi(std::wstring(1, c), nullptr, 16));
    }
    return value;
}

}

product_options parse_product_arguments(const std::vector<std::wstring>& arguments)
{
    product_options options;
    const std::wstring update_prefix = L"/update=";
    bool update_given = false;
    for (const std::wstring& argument : arguments) {
        if (equal_ignoring_case(argument, L"/Register"))
            options.register_only = true;
        else if (equal_ignoring_case(argument, L"/Background"))
            options.background = true;
        else if (argument.size() >= update_prefix.size() &&
                 equal_ignoring_case(argument.substr(0, update_prefix.size()), update_prefix.c_str())) {
            options.update_from = parse_version(argument.substr(update_prefix.size()));
            options.valid = options.valid && options.update_from && !update_given;
            update_given = true;
        }
        else if (argument.starts_with(L'/') || !options.document.empty() || argument.empty())
            options.valid = false;
        else
            options.document = argument;
    }
    if (!options.register_only && (options.background || update_given))
        options.valid = false;
    if (options.register_only && !options.document.empty())
        options.valid = false;
    return options;
}

std::vector<std::wstring> command_line_arguments(const wchar_t* command_line)
{
    std::vector<std::wstring> result;
    int count = 0;
    wchar_t** words = CommandLineToArgvW(command_line, &count);
    if (!words)
        return result;
    for (int i = 1; i < count; ++i)
        result.emplace_back(words[i]);
    LocalFree(words);
    return result;
}
