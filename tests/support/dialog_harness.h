// In-process helpers for tests that drive real dialogs on the virtual
// display: a recording dialog, dialogs made from the test program's own
// templates, resizing, commands, control rectangles and texts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ui/basic_dialog.h"

namespace test_support {

// Owns a window a test made; destroys it at scope end.
class test_window {
public:
    test_window() = default;
    explicit test_window(HWND window) : window_(window) {}
    test_window(test_window&& other) noexcept : window_(std::exchange(other.window_, nullptr)) {}
    test_window& operator=(test_window&& other) noexcept;
    ~test_window() { reset(); }

    HWND get() const { return window_; }
    explicit operator bool() const { return window_ != nullptr; }
    void reset();

private:
    HWND window_ = nullptr;
};

// A dialog that records what reaches it and lays out the controls it is told
// to anchor, in that order.
class test_dialog : public basic_dialog {
public:
    std::vector<std::pair<int, std::uint32_t>> anchors; // control id, anchor flags
    bool handles_commands = false;
    bool handles_sys_commands = false;
    SIZE min_track_size{};                      // applied when not zero
    std::function<void(test_dialog&)> initialised; // runs at the end of on_init

    int init_count = 0;
    int destroy_count = 0;
    int min_max_count = 0;
    int min_max_unbound = 0; // min/max requests that reached an unbound object
    std::vector<std::pair<int, int>> commands; // id, notification code
    std::vector<int> sys_commands;

    void update_texts() override {}
    void on_init() override;
    void on_destroy() override { ++destroy_count; }
    void on_size(int width, int height) override;
    void on_get_min_max_info(MINMAXINFO* info) override;
    bool on_command(int id, int code) override;
    bool on_sys_command(int command) override;
};

// A modeless dialog from a template of the test program, bound to `dialog`
// and shown; top-level when there is no parent.
test_window show_dialog(basic_dialog& dialog, int template_id, HWND parent = nullptr);

// Runs every message waiting for this thread, never waiting.
void process_messages();

SIZE client_size(HWND window);

// Gives the window a client area of the size and lets it lay out.
void resize_client(HWND window, int width, int height);

// The control's rectangle in the dialog's client coordinates.
RECT control_rect(HWND dialog, int id);

std::wstring control_text(HWND dialog, int id);

// Sends WM_COMMAND as the control itself would; returns the dialog's answer.
LRESULT send_command(HWND dialog, int id, int code = BN_CLICKED);

}
