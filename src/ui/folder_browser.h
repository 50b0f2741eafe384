// The folder-selection dialog, optionally appending a fixed sub-folder under
// whatever folder the user picks.
#pragma once

#include "ui/window_helpers.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>

struct folder_browser {
    enum : std::uint32_t {
        com_initialised = 1,
        dialog_initialised = 2,
        typed_path_accepted = 4,
    };

    std::wstring folder;
    std::wstring child_folder;
    std::wstring title;
    std::uint32_t flags = 0;
    HWND edit = nullptr;

    explicit folder_browser(std::wstring title_text) : title(std::move(title_text)) {}
    folder_browser(const folder_browser&) = delete;
    folder_browser& operator=(const folder_browser&) = delete;
    ~folder_browser();

    // Shows the dialog; the chosen folder, empty when cancelled.
    std::wstring browse(HWND owner, const std::wstring& initial_folder, const std::wstring& sub_folder);

    // The dialog's callback, one function per notification.
    void on_initialized(HWND dialog);
    void on_selection_changed(HWND dialog, LPCITEMIDLIST item);
    // True when the typed path was accepted and the dialog may close.
    bool on_validate_failed(HWND dialog, const wchar_t* typed);
    // OK pressed: with an edit box its text is validated like a typed path
    // and becomes the result; true when the dialog may close.
    bool on_ok(HWND dialog);
};

// A sub-folder name made of valid path characters, without trailing dots;
// empty for a name with wildcard or invalid characters.
std::wstring usable_child_folder(const std::wstring& name);

// `path` with `child` appended, not repeating the leading elements of
// `child` the path already ends with; raises ERROR_FILENAME_EXCED_RANGE
// when the result would not fit in MAX_PATH.
std::wstring append_child_folder(const std::wstring& path, const std::wstring& child);

// The qualified form of a path typed by the user, or the error refusing it.
struct typed_path_result {
    std::wstring path;
    DWORD error = 0;
};
typed_path_result validate_typed_path(const std::wstring& typed);

// Every character may appear in a path (neither invalid nor a wildcard).
bool has_only_path_characters(const std::wstring& text);

std::wstring browse_for_folder(const std::wstring& initial_folder, const std::wstring& sub_folder,
                               const message_text& title);
