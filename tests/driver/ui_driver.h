// Drives the dialogs of another running program the way a user would:
// starts it, waits for its windows, finds controls on frames and their child
// pages, types, presses keys, clicks, picks, answers message boxes, takes
// pictures of windows and collects its exit code. Every wait has a limit.
// The same calls work on the test program's own windows, as long as its
// thread pumps messages while the driver waits.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
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
    DWORD thread_id() const { return thread_id_; }
    // Until the program first waits for input, without polling.
    bool wait_for_input_idle(milliseconds timeout) const;

    // The exit code, or nothing when the program still runs after timeout.
    std::optional<DWORD> wait_for_exit(milliseconds timeout);
    void terminate();

private:
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
    DWORD thread_id_ = 0;
};

// The first visible, enabled top-level dialog of the process, other than
// `except`, with the caption when one is given.
HWND wait_for_dialog(DWORD process_id, milliseconds timeout, const std::wstring& caption = {},
                     HWND except = nullptr);

// The process's first visible top-level window of the class; nullptr when
// none comes within the timeout.
HWND wait_for_window(DWORD process_id, const std::wstring& window_class, milliseconds timeout);

// A message box the process shows above the dialog.
HWND wait_for_message_box(DWORD process_id, HWND dialog, milliseconds timeout);

// A direct child of the dialog.
HWND control(HWND dialog, int id);

// A control anywhere below `root` (on any child page): the first visible one
// with the id, else the first hidden one.
HWND find_control(HWND root, int id);

// The page a frame shows: its visible child dialog.
HWND visible_page(HWND frame);

// A control of the frame's visible page.
HWND page_control(HWND frame, int id);

// Clicks the frame's button and waits until the frame shows another page,
// one holding the control `marker` unless it is 0; returns that page.
HWND turn_page(HWND frame, int button, int marker, milliseconds timeout = milliseconds(10000));

std::wstring text(HWND window);

// Waits until the window shows the text; returns the last text seen.
std::wstring wait_for_text(HWND window, const std::wstring& expected, milliseconds timeout);
bool is_enabled(HWND window);
int check_state(HWND button); // BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE

// Waits until the window is enabled (or disabled); throws when it is not by then.
void wait_for_enabled(HWND window, bool enabled, milliseconds timeout);

// Waits until the button's check state is `state`; throws when it is not by then.
void wait_for_check(HWND button, int state, milliseconds timeout);

// Waits until the window is shown (or hidden), as a page the frame turns to.
void wait_for_visible(HWND window, bool visible, milliseconds timeout);

// Waits until the window no longer exists; throws when it still does.
void wait_for_close(HWND window, milliseconds timeout);

// Clicks an enabled button. Returns whether the program finished handling
// the click within `wait`; a click that opens a modal window returns false.
bool click(HWND button, milliseconds wait = milliseconds(2000));

// Replaces an edit control's text by typing it, character by character as
// the keyboard would, and waits until the edit shows it.
void type_text(HWND edit, const std::wstring& typed, milliseconds timeout);

enum class key { tab, shift_tab, enter, escape, space, up, down, left, right };

// Presses a key in the window's thread: it goes to the focused control (the
// window itself when the focus is not inside it), through the program's own
// message loop, so the dialog manager moves the focus, presses the default
// button, cancels or moves in a group of radio buttons as it does for a user.
// Shift+Tab holds Shift in the thread's keyboard state until the focus has
// moved, and throws when it does not move.
void press_key(HWND window, key pressed);

// Alt and a letter: the mnemonic of a control of the window.
void press_alt(HWND window, wchar_t letter);

// The control with the keyboard focus in the window's thread, or null.
HWND focused_control(HWND window);

// Waits until the control has the focus; throws when it has not by then.
void wait_for_focus(HWND control, milliseconds timeout);

// Items of a combo box or ComboBoxEx control.
std::vector<std::wstring> combo_items(HWND combo);
std::wstring combo_item(HWND combo, int index);
int combo_selection(HWND combo);

// Selects the item and tells the combo box's parent, as a user's choice does.
void pick_combo_item(HWND combo, int index);

// Chooses a command of the window's system menu (SC_CLOSE, or a command the
// program added), as a click on the menu item does.
void choose_system_command(HWND window, UINT command);

std::wstring message_box_text(HWND box);
void answer_message_box(HWND box, int button_id);

// A picture of one window: rows top to bottom, pixels 0x00RRGGBB.
struct picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// The window's picture, cropped to its rectangle, caption and frame
// included. A window of this process is taken from what it painted, whatever
// covers it; another program's window is copied from the screen, so nothing
// may cover it.
picture capture_window(HWND window);

// The number of distinct colours, counted up to `limit`: a blank picture has one.
std::size_t colour_count(const picture& shot, std::size_t limit = 256);

// Writes the picture as a 24-bit BMP file; the file appears under its name
// only when complete.
void save_bmp(const picture& shot, const std::wstring& path);
picture load_bmp(const std::wstring& path);

// Writes a line to a standard handle whatever its language: UTF-16 to a
// console, UTF-8 bytes to a file or pipe.
void write_line(HANDLE output, const std::wstring& line);

// UTF-8 of a wide text, for exception messages.
std::string utf8(const std::wstring& text);

}
