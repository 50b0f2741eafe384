#include "ui/basic_dialog.h"

#include "platform/error_text.h"
#include "platform/language.h"
#include "ui/window_helpers.h"

#include <stdexcept>
#include <system_error>
#include <utility>

namespace {

void show_failure_box(HWND, const std::wstring& text)
{
    message_box(text, nullptr, MB_OK | MB_ICONERROR);
}

dialog_failure_reporter& failure_reporter()
{
    static dialog_failure_reporter reporter = show_failure_box;
    return reporter;
}

// While a failure is being shown the box runs its own message loop, in which
// the same handler may fail again; showing those too would stack boxes
// without end, so only the first is shown.
thread_local bool reporting_failure = false;

void report_failure(HWND dialog, const std::exception_ptr& failure) noexcept
{
    if (reporting_failure)
        return;
    reporting_failure = true;
    try {
        if (auto& reporter = failure_reporter())
            reporter(dialog, failure_text(failure));
    }
    catch (...) {
    }
    reporting_failure = false;
}

basic_dialog* bound_dialog(HWND window)
{
    return reinterpret_cast<basic_dialog*>(GetWindowLongPtrW(window, DWLP_USER));
}

INT_PTR dialog_result(HWND window, UINT message, INT_PTR result)
{
    if (returns_result_directly(message))
        return result;
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

}

HMODULE dialog_module()
{
    return resource_module();
}

INT_PTR basic_dialog::create(HWND parent, std::uint16_t template_id)
{
    auto parameter = reinterpret_cast<LPARAM>(this);
    if (!parent)
        return DialogBoxParamW(dialog_module(), MAKEINTRESOURCEW(template_id), nullptr, dialog_proc,
                               parameter);
    return reinterpret_cast<INT_PTR>(CreateDialogParamW(
        dialog_module(), MAKEINTRESOURCEW(template_id), parent, dialog_proc, parameter));
}

basic_dialog::handling basic_dialog::dispatch(UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG: {
        RECT client{};
        GetClientRect(hwnd, &client);
        width = client.right - client.left;
        height = client.bottom - client.top;
        on_init();
        return {true, TRUE};
    }
    case WM_DESTROY: {
        // Unbinds even when on_destroy fails, so no message reaches a dead binding.
        struct unbind {
            basic_dialog& dialog;
            HWND window;
            ~unbind()
            {
                dialog.hwnd = nullptr;
                SetWindowLongPtrW(window, DWLP_USER, 0);
            }
        } unbinding{*this, hwnd};
        on_destroy();
        return {true, 0};
    }
    case WM_SIZE:
        on_size(LOWORD(lparam), HIWORD(lparam));
        return {true, 0};
    case WM_GETMINMAXINFO:
        on_get_min_max_info(reinterpret_cast<MINMAXINFO*>(lparam));
        return {true, 0};
    case WM_COMMAND:
        return {on_command(LOWORD(wparam), HIWORD(wparam)), 0};
    case WM_SYSCOMMAND:
        return {on_sys_command(static_cast<int>(wparam & 0xFFF0)), 0};
    case WM_DPICHANGED:
        on_dpi_changed(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
        return {true, 0};
    default:
        return {false, 0};
    }
}

INT_PTR CALLBACK basic_dialog::dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lparam);
        if (auto dialog = reinterpret_cast<basic_dialog*>(lparam))
            dialog->hwnd = window;
    }
    basic_dialog* dialog = bound_dialog(window);
    if (!dialog)
        return 0;
    try {
        auto [handled, result] = dialog->dispatch(message, wparam, lparam);
        return handled ? dialog_result(window, message, result) : 0;
    }
    catch (...) {
        // A window being destroyed cannot own the box that tells about it.
        report_failure(message == WM_DESTROY ? nullptr : window, std::current_exception());
    }
    // The failed message counts as handled, so no default action follows a
    // half-done one; a top-level dialog that could not initialise ends as
    // one that could not be created.
    if (message == WM_INITDIALOG) {
        if (!(GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD))
            EndDialog(window, -1);
        return TRUE;
    }
    return dialog_result(window, message, 0);
}

anchored_position anchored_position_for(const RECT& current, std::uint32_t flags, int dx, int dy)
{
    anchored_position position{current, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS};
    RECT& rect = position.rect;
    if (flags & (anchor::move_x | anchor::move_y)) {
        OffsetRect(&rect, (flags & anchor::move_x) ? dx : 0, (flags & anchor::move_y) ? dy : 0);
    }
    else {
        position.flags |= SWP_NOMOVE;
    }
    if (flags & (anchor::size_x | anchor::size_y)) {
        if (flags & anchor::size_x)
            rect.right += dx;
        if (flags & anchor::size_y)
            rect.bottom += dy;
    }
    else {
        position.flags |= SWP_NOSIZE;
    }
    return position;
}

BOOL basic_dialog::layout(int new_width, int new_height, const anchored_control* controls,
                          std::size_t count)
{
    int dx = new_width - width;
    int dy = new_height - height;
    width = new_width;
    height = new_height;

    HDWP batch = BeginDeferWindowPos(static_cast<int>(count));
    for (std::size_t i = 0; batch && i < count; ++i) {
        auto [rect, flags] =
            anchored_position_for(window_rect_in_parent(controls[i].control), controls[i].flags, dx, dy);
        // On failure the batch is gone and nothing moves.
        batch = DeferWindowPos(batch, controls[i].control, nullptr, rect.left, rect.top,
                               rect.right - rect.left, rect.bottom - rect.top, flags);
    }
    return batch ? EndDeferWindowPos(batch) : FALSE;
}

bool returns_result_directly(UINT message)
{
    switch (message) {
    case WM_INITDIALOG:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_COMPAREITEM:
        return true;
    default:
        return false;
    }
}

void set_text(HWND window, const std::wstring& text)
{
    SetWindowTextW(window, text.c_str());
}

std::wstring get_text(HWND window)
{
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

RECT window_rect_in_parent(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    if (GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD)
        MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT normalised(const RECT& target)
{
    RECT rect = target;
    if (rect.left > rect.right)
        std::swap(rect.left, rect.right);
    if (rect.top > rect.bottom)
        std::swap(rect.top, rect.bottom);
    return rect;
}

UINT move_window_flags(const RECT& current, const RECT& target)
{
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER;
    if (target.left == current.left && target.top == current.top)
        flags |= SWP_NOMOVE;
    if (target.right - target.left == current.right - current.left
        && target.bottom - target.top == current.bottom - current.top)
        flags |= SWP_NOSIZE;
    else
        flags |= SWP_NOCOPYBITS;
    return flags;
}

void move_window(HWND window, const RECT& target)
{
    RECT rect = normalised(target);
    SetWindowPos(window, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, move_window_flags(window_rect_in_parent(window), rect));
}

bool pump_messages(HWND dialog)
{
    MSG message{};
    bool handled = false;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        handled = true;
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return handled;
        }
        if (dialog && IsWindow(dialog) && IsDialogMessageW(dialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return handled;
}

dialog_failure_reporter set_dialog_failure_reporter(dialog_failure_reporter reporter)
{
    return std::exchange(failure_reporter(), std::move(reporter));
}

std::wstring failure_text(const std::exception_ptr& failure)
{
    std::wstring text = exception_text(failure);
    // An exception without an error code still gets a text in the user's language.
    return text.empty() ? error_text(static_cast<DWORD>(E_FAIL)) : text;
}
