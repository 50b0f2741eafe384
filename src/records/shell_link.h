// Shell link files (".lnk") written through the shell's link object.
#pragma once

#include <string>

// The folder a link starts its target in: the text of `target` up to its last
// path separator, trailing separators removed; a drive root keeps its own.
std::wstring shortcut_working_folder(const std::wstring& target);

// `folder` joined with `name` (the file name of `target` without its
// extension when `name` is empty), then ".lnk" appended as text so that the
// dots of a version stay in the name.
std::wstring shortcut_file(const std::wstring& target, const std::wstring& folder,
                           const std::wstring& name);

// Writes a link to `target`, started in the target's folder, into `folder`,
// replacing a link of the same name, and returns its path. Any COM failure
// raises std::system_error carrying the HRESULT; nothing is returned unless
// the file was saved.
std::wstring create_shortcut(const std::wstring& target, const std::wstring& folder,
                             const std::wstring& name);
