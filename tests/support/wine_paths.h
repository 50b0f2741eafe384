// Paths handed over from the build, which runs on the Wine host.
#pragma once

#include <string>

namespace test_support {

// A Unix path (Wine's Z: drive) as a Windows path; others unchanged but for
// their separators.
inline std::wstring windows_path(std::wstring path)
{
    if (!path.empty() && path.front() == L'/')
        path.insert(0, L"Z:");
    for (auto& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

}
