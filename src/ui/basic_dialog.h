// The base of every dialog and wizard page: binds one program object to one
// dialog window built from a template, routes the messages the installer
// handles to virtual operations and keeps controls anchored to the dialog's
// edges when it changes size.
#pragma once

#include <windows.h>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <span>
#include <string>

// How a control follows a change of its dialog's client size.
namespace anchor {
inline constexpr std::uint32_t move_x = 1; // left and right edges move by the width change
inline constexpr std::uint32_t move_y = 2; // top and bottom edges move by the height change
inline constexpr std::uint32_t size_x = 4; // right edge moves by the width change
inline constexpr std::uint32_t size_y = 8; // bottom edge moves by the height change
}

struct anchored_control {
    std::uint32_t flags;
    HWND control;
};

class basic_dialog {
public:
    HWND hwnd = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;

    constexpr basic_dialog() = default;
    basic_dialog(const basic_dialog&) = delete;
    basic_dialog& operator=(const basic_dialog&) = delete;
    virtual ~basic_dialog() = default;

    virtual void update_texts() = 0;
    virtual void on_init() {}
    virtual void on_destroy() {}
    virtual void on_size(int width, int height) = 0;
    virtual void on_get_min_max_info(MINMAXINFO*) {}
    virtual bool on_command(int /*id*/, int /*code*/) { return false; }
    virtual bool on_sys_command(int /*command*/) { return false; }
    // The window moved to a monitor of another DPI; `suggested` is where the
    // system proposes it goes (screen coordinates).
    virtual void on_dpi_changed(UINT /*dpi*/, const RECT& /*suggested*/) {}

    // Without a parent: runs the dialog modally and returns the value given to
    // EndDialog (-1 when it cannot be created). With a parent: creates a
    // modeless child dialog and returns its window (null when it cannot).
    INT_PTR create(HWND parent, std::uint16_t template_id);

    // Moves and stretches the controls by the change from the size the last
    // layout assumed, all at once; the new size becomes the next baseline.
    BOOL layout(int new_width, int new_height, const anchored_control* controls, std::size_t count);
    BOOL layout(int new_width, int new_height, std::span<const anchored_control> controls)
    {
        return layout(new_width, new_height, controls.data(), controls.size());
    }

    static INT_PTR CALLBACK dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

private:
    // Whether the message was handled, and its result.
    struct handling {
        bool handled;
        INT_PTR result;
    };
    handling dispatch(UINT message, WPARAM wparam, LPARAM lparam);
};

// The module whose resources hold the dialog templates.
HMODULE dialog_module();

// Where a control goes when its dialog grows by dx and dy: the new rectangle
// and the SetWindowPos flags for it.
struct anchored_position {
    RECT rect;
    UINT flags;
};
anchored_position anchored_position_for(const RECT& current, std::uint32_t flags, int dx, int dy);

// The target with left <= right and top <= bottom.
RECT normalised(const RECT& target);

// The SetWindowPos flags that move a window from current to a normalised
// target without touching what stays the same.
UINT move_window_flags(const RECT& current, const RECT& target);

// Whether a dialog procedure returns this message's result itself instead of
// storing it in DWLP_MSGRESULT.
bool returns_result_directly(UINT message);

void set_text(HWND window, const std::wstring& text);
std::wstring get_text(HWND window);

// A child's rectangle in its parent's client coordinates; a top-level
// window's in screen coordinates.
RECT window_rect_in_parent(HWND window);

void move_window(HWND window, const RECT& target);

// Runs every message waiting in the thread's queue and returns when it is
// empty, never waiting; a quit request stays queued for the outer loop.
// True when it handled any message.
bool pump_messages(HWND dialog);

// What a dialog does with an exception its handler let out: no exception may
// unwind through the window manager's frames. The default shows the text in
// an error box (message_box); tests put their own.
using dialog_failure_reporter = std::function<void(HWND dialog, const std::wstring& text)>;
dialog_failure_reporter set_dialog_failure_reporter(dialog_failure_reporter reporter);

// The text a user is shown for a caught exception: exception_text in the
// current language, the system's text for E_FAIL when that is empty.
std::wstring failure_text(const std::exception_ptr& failure);
