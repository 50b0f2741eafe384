// Drives the dialogs of another running program the way a user would:
// starts it, waits for its windows, reads controls, clicks, picks, answers
// message boxes and collects its exit code. Every wait has a limit.
#pragma once

#include <windows.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ui_driver {

using std::chrono::milliseconds;

// A step that could not be done: a window that did not come, a missing
// control, a target that stopped answering.
class driver_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A program started by the driver; ended by its handle at scope end if it
// still runs.
class process {
public:
    process(const std::wstring& program, const std::wstring& arguments);
    process(process&& other) noexcept;
    process& operator=(process&&) = delete;
    ~process();

    DWORD id() const { return id_; }

    // The exit code, or nothing when the program still runs after timeout.
    std::optional<DWORD> wait_for_exit(milliseconds timeout);
    void terminate();

private:
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
};

// The first visible, enabled top-level dialog of the process, other than
// `except`, with the caption when one is given.
HWND wait_for_dialog(DWORD process_id, milliseconds timeout, const std::wstring& caption = {},
                     HWND except = nullptr);

// A message box the process shows above the dialog.
HWND wait_for_message_box(DWORD process_id, HWND dialog, milliseconds timeout);

HWND control(HWND dialog, int id);

std::wstring text(HWND window);

// Waits until the window shows the text; returns the last text seen.
std::wstring wait_for_text(HWND window, const std::wstring& expected, milliseconds timeout);
bool is_enabled(HWND window);
int check_state(HWND button); // BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE

// Clicks an enabled button. Returns whether the program finished handling
// the click within `wait`; a click that opens a modal window returns false.
bool click(HWND button, milliseconds wait = milliseconds(2000));

std::vector<std::wstring> combo_items(HWND combo);
int combo_selection(HWND combo);

// Selects the item and tells the combo box's parent, as a user's choice does.
void pick_combo_item(HWND combo, int index);

std::wstring message_box_text(HWND box);
void answer_message_box(HWND box, int button_id);

}
