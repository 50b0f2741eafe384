// The wizard frame: a resizable dialog with the side picture, the page area
// and Back, Next and Exit; it decides the page sequence, starts the
// installation and remembers its size between runs.
#pragma once

#include "ui/basic_dialog.h"
#include "ui/bitmap_handle.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <cstddef>
#include <optional>
#include <span>
#include <string>

// The pages in wizard order.
enum wizard_page : int {
    start_page = 0,
    mode_page = 1,
    options_page = 2,
    install_page = 3,
    end_page = 4,
};
inline constexpr int wizard_page_count = 5;

// The system-menu command of the About box.
inline constexpr UINT about_command = 16;

// Where Next and Back lead from a page; the options page is only on the way
// of an advanced installation.
int next_page(int current, bool advanced);
int previous_page(int current, bool advanced);

// The frame's buttons on a page: which text each shows and which can be pressed.
struct wizard_buttons {
    unsigned next_text;  // string id: 1007 "Install" or 1006 "Next" (shown with " >")
    unsigned exit_text;  // string id: 1004 "Exit" or 1002 "Cancel"
    bool back_enabled;
    bool next_enabled;
    int default_button;  // IDOK (Next) or IDCANCEL (Exit)
};
wizard_buttons buttons_for(int page, bool installed);

// Whether Exit asks before the wizard closes.
bool exit_needs_question(bool installed, std::int32_t existing_state, int page);

// The size the frame opens with: per dimension the stored one when it is
// larger than the minimum.
SIZE wanted_size(SIZE minimum, const std::optional<SIZE>& stored);

// "InstallerSize" of the current user, when it is a REG_BINARY of exactly
// 8 bytes; nothing on any other type, length or registry error.
std::optional<SIZE> stored_installer_size();
// Saves the frame's outer size; registry errors are swallowed.
void store_installer_size(SIZE size);

// The About item of the system menu: "&About 'Installer'..." in a language
// written left to right, "...About 'Installer'" in one written right to left.
std::wstring about_item_text(const std::wstring& about_text, bool right_to_left);

// Where a window of size `box` goes to be centred on `parent` (integer
// halves truncated toward zero).
RECT centred_on(const RECT& box, const RECT& parent);

// The width and height a dialog template (DLGTEMPLATE or DLGTEMPLATEEX)
// gives, in dialog units; nothing for bytes that are neither.
std::optional<SIZE> dialog_template_units(std::span<const std::byte> bytes);

class dlg_main : public basic_dialog {
public:
    static dlg_main& instance();

    std::array<basic_dialog*, wizard_page_count> pages{};
    std::int32_t min_width = 0;
    std::int32_t min_height = 0;
    std::int32_t current_page = 0;

    void update_texts() override;
    void on_init() override;
    void on_destroy() override;
    void on_size(int width, int height) override;
    void on_get_min_max_info(MINMAXINFO* info) override;
    bool on_command(int id, int code) override;
    bool on_sys_command(int command) override;
    void on_dpi_changed(UINT dpi, const RECT& suggested) override;

    void show_page(int index);
    // A page's window is made when the page is first needed: the start page
    // with the frame, the others when the wizard turns to them.
    basic_dialog& page(int index);
    void update_buttons();
    void restore_size();

private:
    HWND size_grip = nullptr;
    UINT dpi_ = 96;
    bitmap_handle side_picture_;
    // While the installation runs nothing may leave the frame or turn its
    // pages: its buttons are disabled, but Escape, the close box, Alt+F4 and
    // the system menu's Close still arrive as commands (Wine sends them even
    // for a disabled Cancel button).
    bool installing = false;

    void install();
    RECT page_area() const;
    // The largest page, from the templates, so that the minimum size covers
    // pages not made yet.
    SIZE largest_page_size() const;
    // The side picture drawn for the frame's DPI.
    void show_side_picture();
    void leave();
    HWND item(int id) const { return GetDlgItem(hwnd, id); }
};

INT_PTR CALLBACK about_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
