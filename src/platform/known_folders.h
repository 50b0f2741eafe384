// Folders the shell knows by id (Program Files, Start menu, desktop).
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <string>

// The lookup itself: S_OK and the path, or the failure's HRESULT. Tests put
// a failing lookup in its place.
using known_folder_source = std::function<HRESULT(const KNOWNFOLDERID& id, std::wstring& path)>;

// SHGetKnownFolderPath without verifying that the folder exists.
HRESULT query_known_folder(const KNOWNFOLDERID& id, std::wstring& path);

// Told the HRESULT of a failed lookup (to show it to the user).
using known_folder_failure = std::function<void(HRESULT)>;

// The folder's path, or empty when the lookup fails; a failure is reported
// to `on_failure` when one is given.
std::wstring known_folder(const KNOWNFOLDERID& id, const known_folder_failure& on_failure = {},
                          const known_folder_source& source = query_known_folder);

// SHGetFolderPathW of a CSIDL code (the current path, never created), or an
// empty text when there is none.
std::wstring csidl_folder(int csidl);
