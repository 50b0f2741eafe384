#include "support/dialog_harness.h"

namespace test_support {

test_window& test_window::operator=(test_window&& other) noexcept
{
    if (this != &other) {
        reset();
        window_ = std::exchange(other.window_, nullptr);
    }
    return *this;
}

void test_window::reset()
{
    if (window_ && IsWindow(window_))
        DestroyWindow(window_);
    window_ = nullptr;
    process_messages();
}

void test_dialog::on_init()
{
    ++init_count;
    if (initialised)
        initialised(*this);
}

void test_dialog::on_size(int new_width, int new_height)
{
    std::vector<anchored_control> controls;
    for (auto [id, flags] : anchors)
        controls.push_back({flags, GetDlgItem(hwnd, id)});
    layout(new_width, new_height, controls);
}

void test_dialog::on_get_min_max_info(MINMAXINFO* info)
{
    ++min_max_count;
    if (!hwnd)
        ++min_max_unbound;
    if (min_track_size.cx || min_track_size.cy)
        info->ptMinTrackSize = {min_track_size.cx, min_track_size.cy};
}

bool test_dialog::on_command(int id, int code)
{
    commands.emplace_back(id, code);
    return handles_commands;
}

bool test_dialog::on_sys_command(int command)
{
    sys_commands.push_back(command);
    return handles_sys_commands;
}

test_window show_dialog(basic_dialog& dialog, int template_id, HWND parent)
{
    test_window window(CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(template_id),
                                          parent, basic_dialog::dialog_proc,
                                          reinterpret_cast<LPARAM>(&dialog)));
    if (window) {
        ShowWindow(window.get(), SW_SHOWNOACTIVATE);
        UpdateWindow(window.get());
        process_messages();
    }
    return window;
}

void process_messages()
{
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

SIZE client_size(HWND window)
{
    RECT client{};
    GetClientRect(window, &client);
    return {client.right - client.left, client.bottom - client.top};
}

void resize_client(HWND window, int width, int height)
{
    RECT outer{};
    GetWindowRect(window, &outer);
    SIZE client = client_size(window);
    int frame_x = (outer.right - outer.left) - client.cx;
    int frame_y = (outer.bottom - outer.top) - client.cy;
    SetWindowPos(window, nullptr, 0, 0, width + frame_x, height + frame_y,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    process_messages();
}

RECT control_rect(HWND dialog, int id)
{
    return window_rect_in_parent(GetDlgItem(dialog, id));
}

std::wstring control_text(HWND dialog, int id)
{
    return get_text(GetDlgItem(dialog, id));
}

LRESULT send_command(HWND dialog, int id, int code)
{
    return SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code),
                        reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}
