#include "platform/path_rules.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <system_error>

namespace {

bool is_separator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

std::vector<std::wstring_view> names_of(std::wstring_view path)
{
    std::vector<std::wstring_view> names;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || is_separator(path[i])) {
            names.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return names;
}

bool equal_ignoring_case(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() &&
           (a.empty() || CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL);
}

// Names after the root of an absolute path, or nothing when it has no root
// of a form we accept.
bool split_root(std::wstring_view path, std::wstring_view& rest, std::size_t& root_names)
{
    if (path.size() >= 3 && std::iswalpha(path[0]) && path[0] < 0x80 && path[1] == L':' && is_separator(path[2])) {
        rest = path.substr(3);
        root_names = 1;
        return true;
    }
    if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
        // "\\server\share\..."; "\\?\" and "\\.\" are refused as names.
        rest = path.substr(2);
        root_names = 2;
        return true;
    }
    return false;
}

// Names of a path for comparison, empty when it is not plain and absolute.
std::vector<std::wstring_view> comparable_names(std::wstring_view path)
{
    while (path.size() > 3 && is_separator(path.back()))
        path.remove_suffix(1);
    if (!is_plain_absolute(path))
        return {};
    std::vector<std::wstring_view> names = names_of(path);
    if (path.size() >= 2 && is_separator(path[0])) // "\\server": drop the two empty names
        names.erase(names.begin(), names.begin() + 2);
    if (!names.empty() && names.back().empty()) // "C:\"
        names.pop_back();
    return names;
}

bool within(std::wstring_view path, std::wstring_view folder, bool strictly)
{
    const auto inner = comparable_names(path);
    const auto outer = comparable_names(folder);
    if (inner.empty() || outer.empty() || inner.size() < outer.size() + (strictly ? 1 : 0))
        return false;
    return std::equal(outer.begin(), outer.end(), inner.begin(), equal_ignoring_case);
}

}

bool is_plain_absolute(std::wstring_view path)
{
    std::wstring_view rest;
    std::size_t root_names = 0;
    if (!split_root(path, rest, root_names))
        return false;
    if (rest.empty())
        return root_names == 1; // a drive's root; a UNC path needs server and share
    const auto names = names_of(rest);
    if (root_names == 2 && names.size() < 2)
        return false;
    // A trailing separator after the last name is allowed.
    const std::size_t count = names.back().empty() ? names.size() - 1 : names.size();
    return count > 0 && std::all_of(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(count),
                                       [](std::wstring_view name) { return is_plain_name(name); });
}

bool is_within(std::wstring_view path, std::wstring_view folder)
{
    return within(path, folder, false);
}

bool is_strictly_within(std::wstring_view path, std::wstring_view folder)
{
    return within(path, folder, true);
}

std::wstring first_link_from(std::wstring_view folder, std::wstring_view path)
{
    if (!is_within(path, folder))
        return {};
    std::wstring part(folder);
    while (part.size() > 3 && is_separator(part.back()))
        part.pop_back();
    const std::wstring whole(path);
    for (;;) {
        const DWORD attributes = GetFileAttributesW(part.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return {}; // nothing deeper exists either
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return part;
        if (part.size() >= whole.size())
            return {};
        std::size_t next = part.size() + 1;
        while (next < whole.size() && !is_separator(whole[next]))
            ++next;
        part = whole.substr(0, next);
    }
}

std::wstring final_path_of(void* object)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(object, path.data(), static_cast<DWORD>(path.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (!length)
            throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                    "GetFinalPathNameByHandleW");
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(length + 1);
    }
    if (path.starts_with(L"\\\\?\\UNC\\"))
        return L"\\" + path.substr(7);
    if (path.starts_with(L"\\\\?\\"))
        return path.substr(4);
    return path;
}
