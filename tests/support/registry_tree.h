// Every key and value below a registry key, for comparing the registry
// before and after a step: names are "\sub\key" for keys and
// "\sub\key : value" for values; a value's data ends with its type.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace test_support {

using registry_tree = std::map<std::wstring, std::vector<BYTE>>;

inline void add_registry_tree(HKEY key, const std::wstring& prefix, registry_tree& tree)
{
    tree[prefix];
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + 1);
        length = 256;
        RegEnumValueW(key, i, name, &length, nullptr, &type, data.data(), &size);
        data.resize(size);
        data.push_back(static_cast<BYTE>(type));
        tree[prefix + L" : " + name] = data;
    }
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            add_registry_tree(sub, prefix + L"\\" + name, tree);
            RegCloseKey(sub);
        }
    }
}

// The trees below the given paths of a root that exist, named from the root.
inline registry_tree registry_tree_of(HKEY root, const std::vector<std::wstring>& paths)
{
    registry_tree tree;
    for (const std::wstring& path : paths) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            add_registry_tree(key, path, tree);
            RegCloseKey(key);
        }
    }
    return tree;
}

}
