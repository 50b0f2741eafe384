#include "platform/known_folders.h"

#include <memory>

HRESULT query_known_folder(const KNOWNFOLDERID& id, std::wstring& path)
{
    PWSTR found = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &found);
    // The buffer is the caller's to free even when the call fails.
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(found, CoTaskMemFree);
    if (SUCCEEDED(hr) && found)
        path = found;
    return hr;
}

std::wstring known_folder(const KNOWNFOLDERID& id, const known_folder_failure& on_failure,
                          const known_folder_source& source)
{
    std::wstring path;
    const HRESULT hr = source(id, path);
    if (FAILED(hr)) {
        if (on_failure)
            on_failure(hr);
        return {};
    }
    return path;
}

std::wstring csidl_folder(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)))
        return {};
    return buffer;
}
