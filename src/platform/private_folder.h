// Folders only administrators and the system may open: where the elevated
// installer and uninstaller keep what must not be changed behind their back
// (backups, the list of backups not yet put back).
#pragma once

#include <windows.h>

#include <string>

// Creates the folder new, with an access list of its own (Administrators
// and SYSTEM full control, nothing inherited). Raises std::system_error with
// ERROR_ALREADY_EXISTS when anything has that name.
void create_private_folder(const std::wstring& path);

// The folder, created as above when missing. One that exists is taken only
// when it is a real folder (no link or junction) owned by the Administrators,
// the system or the user this process runs as: anybody else could have made
// it to read or swap what is put there. Raises std::system_error otherwise.
void ensure_private_folder(const std::wstring& path);

// Whether an existing folder of that owner may be taken as private.
bool is_trusted_owner(PSID owner, PSID process_user);
