// Window services around the dialogs: owners for message boxes, message
// boxes with a default icon and reading order, keeping windows on a monitor,
// and the process-wide user-interface hooks.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Replaceable functions of the user interface, one process-wide object.
struct ui_hooks {
    static ui_hooks& instance();

    // The application's icon at the system's large and small icon sizes; no
    // icon while none is installed.
    std::function<HICON()> application_icon;
    std::function<HICON()> application_small_icon;

    // Shows a message box; MessageBoxW unless replaced (tests answer here).
    std::function<int(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags)> show_message_box;

    HICON icon() const { return application_icon ? application_icon() : nullptr; }
    HICON small_icon() const { return application_small_icon ? application_small_icon() : nullptr; }
};

// The window a message box or system dialog should be owned by: the last
// active pop-up of the active window's root owner, or of the thread's first
// captioned top-level window; null when the thread has none.
HWND owner_window();

// Moves `r` (screen coordinates) onto the monitors when less than `percent`
// of it is visible.
void keep_visible(RECT& r, unsigned percent);

// The steps of keep_visible: a top-left corner outside its monitor shifted
// to the monitor's edge, and a rectangle shifted into a work area.
RECT shift_corner_onto(RECT r, const RECT& monitor);
RECT shift_into(RECT r, const RECT& work_area);

bool is_edit_control(HWND window);

// The DPI the window is drawn for: its monitor's where the system tells it
// per window, else the system's.
UINT window_dpi(HWND window);

// The scale (percent) of the installer's pictures to show at a DPI: the
// smallest drawn scale (100, 125, 150, 200) that is not smaller than the DPI
// needs, else the largest.
int picture_percent(UINT dpi);

// What a multi-line edit that only shows text answers WM_GETDLGCODE with:
// its own answer without the wish for every key and for Tab, so that Tab,
// Shift+Tab, Enter and Escape reach the dialog manager while the arrow and
// page keys still scroll the text.
UINT reader_dialog_code(UINT edit_code);

// Makes the multi-line edit answer WM_GETDLGCODE with reader_dialog_code
// for as long as it exists. Left alone, it keeps Tab and Enter inside a
// child page and sends Escape to the page instead of the frame.
void leave_dialog_keys_to_dialog(HWND edit);

// The text of a ComboBoxEx control's selected item; empty without one.
std::wstring selected_item_text(HWND combo_box_ex);

// Makes the combo box inside a ComboBoxEx control answer WM_GETTEXT with its
// selected item's text, which screen readers read as its value: the inner
// combo box holds no strings of its own and would answer with the bytes of
// an item's data.
void show_selected_item_as_text(HWND combo_box_ex);

// Text or caption of a message box: a string or a string-table id.
class message_text {
public:
    message_text() = default;
    message_text(std::nullptr_t) {}
    // A pointer below 0x10000 is a string-table id.
    message_text(const wchar_t* text);
    message_text(const std::wstring& text) : text_(text) {}
    message_text(unsigned id) : id_(id) {}

    // The text itself, or the string-table text of the id.
    std::wstring resolve() const;

private:
    std::wstring text_;
    unsigned id_ = 0;
};

// The flags a box gets: a default icon by button type when none is given,
// right-to-left reading when asked, and MB_USERICON dropped.
UINT message_box_flags(UINT flags, bool right_to_left);

// Whether a box for `owner` reads right to left: the owner's layout, or the
// default language's without an owner.
bool message_box_right_to_left(HWND owner);

// The caption of a box without one: the installer's display name, else the
// executable's name without extension.
std::wstring default_caption();

int message_box(const message_text& text, const message_text& caption, UINT flags);

// A warning box with error_text(code) and the default caption.
int show_error_code(DWORD code);
