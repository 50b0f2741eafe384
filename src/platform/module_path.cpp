#include "platform/module_path.h"

#include <windows.h>

#include <vector>

std::wstring executable_path()
{
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size())
            return std::wstring(path.data(), length);
        path.resize(path.size() * 2);
    }
}

std::wstring file_stem(const std::wstring& path)
{
    std::wstring stem = path;
    const auto name_start = stem.find_last_of(L"\\/");
    if (name_start != std::wstring::npos)
        stem.erase(0, name_start + 1);
    const auto extension = stem.rfind(L'.');
    if (extension != std::wstring::npos && extension > 0)
        stem.erase(extension);
    return stem;
}
