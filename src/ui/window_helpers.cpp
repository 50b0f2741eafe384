#include "ui/window_helpers.h"

#include "platform/common_controls.h"
#include "platform/error_text.h"
#include "platform/language.h"
#include "platform/module_path.h"
#include "platform/string_table.h"
#include "platform/version_info.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <system_error>

ui_hooks& ui_hooks::instance()
{
    static ui_hooks hooks;
    return hooks;
}

namespace {

bool has_caption(HWND window)
{
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    return (style & WS_CAPTION) == WS_CAPTION;
}

BOOL CALLBACK find_captioned_root(HWND window, LPARAM found)
{
    const HWND root = GetAncestor(window, GA_ROOTOWNER);
    if (root && has_caption(root)) {
        *reinterpret_cast<HWND*>(found) = root;
        return FALSE;
    }
    return TRUE;
}

LONGLONG area(const RECT& r)
{
    return LONGLONG{r.right - r.left} * (r.bottom - r.top);
}

struct visible_area {
    RECT r;
    unsigned long long sum = 0;
};

BOOL CALLBACK add_visible_part(HMONITOR, HDC, LPRECT monitor, LPARAM data)
{
    auto& visible = *reinterpret_cast<visible_area*>(data);
    RECT part;
    if (IntersectRect(&part, monitor, &visible.r))
        visible.sum += static_cast<unsigned long long>(area(part));
    return TRUE;
}

LONG shift_onto(LONG value, LONG low, LONG high)
{
    if (value < low)
        return low - value;
    if (value >= high)
        return high - value;
    return 0;
}

}

HWND owner_window()
{
    HWND found = GetActiveWindow();
    if (found)
        found = GetAncestor(found, GA_ROOTOWNER);
    else
        EnumThreadWindows(GetCurrentThreadId(), find_captioned_root, reinterpret_cast<LPARAM>(&found));
    return found ? GetLastActivePopup(found) : nullptr;
}

RECT shift_corner_onto(RECT r, const RECT& monitor)
{
    const POINT corner{r.left, r.top};
    if (PtInRect(&monitor, corner))
        return r;
    OffsetRect(&r, shift_onto(r.left, monitor.left, monitor.right), shift_onto(r.top, monitor.top, monitor.bottom));
    return r;
}

RECT shift_into(RECT r, const RECT& work_area)
{
    if (r.right > work_area.right)
        OffsetRect(&r, work_area.right - r.right, 0);
    if (r.left < work_area.left)
        OffsetRect(&r, work_area.left - r.left, 0);
    if (r.bottom > work_area.bottom)
        OffsetRect(&r, 0, work_area.bottom - r.bottom);
    if (r.top < work_area.top)
        OffsetRect(&r, 0, work_area.top - r.top);
    return r;
}

void keep_visible(RECT& r, unsigned percent)
{
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(MonitorFromPoint(POINT{r.left, r.top}, MONITOR_DEFAULTTONEAREST), &info))
        return;
    const auto width = static_cast<unsigned long long>(r.right - r.left);
    const auto height = static_cast<unsigned long long>(r.bottom - r.top);
    r = shift_corner_onto(r, info.rcMonitor);

    visible_area visible{r};
    EnumDisplayMonitors(nullptr, &r, add_visible_part, reinterpret_cast<LPARAM>(&visible));
    if (visible.sum >= width * height * percent / 100)
        return;

    if (!GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &info))
        return;
    r = shift_into(r, info.rcWork);
}

bool is_edit_control(HWND window)
{
    wchar_t name[5] = {};
    if (!GetClassNameW(window, name, 5))
        return false;
    return lstrcmpiW(name, L"Edit") == 0;
}

UINT window_dpi(HWND window)
{
    // Windows 10 and later; the installer also runs on Windows 7.
    using dpi_for_window = UINT(WINAPI*)(HWND);
    static const auto for_window = reinterpret_cast<dpi_for_window>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (for_window)
        if (const UINT dpi = for_window(window))
            return dpi;
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

int picture_percent(UINT dpi)
{
    for (int percent : {100, 125, 150, 200})
        if (percent * 96 >= static_cast<int>(dpi) * 100)
            return percent;
    return 200;
}

UINT reader_dialog_code(UINT edit_code)
{
    return edit_code & ~static_cast<UINT>(DLGC_WANTALLKEYS | DLGC_WANTMESSAGE | DLGC_WANTTAB);
}

namespace {

LRESULT CALLBACK reader_edit_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                  DWORD_PTR)
{
    if (message == WM_NCDESTROY)
        common_controls_api::instance().remove_window_subclass(window, reader_edit_proc, id);
    const LRESULT result = common_controls_api::instance().def_subclass_proc(window, message, wparam, lparam);
    if (message == WM_GETDLGCODE)
        return static_cast<LRESULT>(reader_dialog_code(static_cast<UINT>(result)));
    return result;
}

}

void leave_dialog_keys_to_dialog(HWND edit)
{
    if (!common_controls_api::instance().set_window_subclass(edit, reader_edit_proc, 1, 0))
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "SetWindowSubclass");
}

std::wstring selected_item_text(HWND combo_box_ex)
{
    const auto position = SendMessageW(combo_box_ex, CB_GETCURSEL, 0, 0);
    if (position == CB_ERR)
        return {};
    wchar_t text[256]{};
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT;
    item.iItem = position;
    item.pszText = text;
    item.cchTextMax = static_cast<int>(std::size(text));
    if (!SendMessageW(combo_box_ex, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        return {};
    return text;
}

namespace {

LRESULT CALLBACK selected_item_text_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                         DWORD_PTR)
{
    switch (message) {
    case WM_NCDESTROY:
        common_controls_api::instance().remove_window_subclass(window, selected_item_text_proc, id);
        break;
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(selected_item_text(GetParent(window)).size());
    case WM_GETTEXT: {
        auto* buffer = reinterpret_cast<wchar_t*>(lparam);
        if (wparam == 0 || !buffer)
            return 0;
        const std::wstring text = selected_item_text(GetParent(window));
        const std::size_t copied = std::min(text.size(), static_cast<std::size_t>(wparam) - 1);
        std::copy_n(text.data(), copied, buffer);
        buffer[copied] = L'\0';
        return static_cast<LRESULT>(copied);
    }
    default:
        break;
    }
    return common_controls_api::instance().def_subclass_proc(window, message, wparam, lparam);
}

}

void show_selected_item_as_text(HWND combo_box_ex)
{
    const auto inner = reinterpret_cast<HWND>(SendMessageW(combo_box_ex, CBEM_GETCOMBOCONTROL, 0, 0));
    if (!inner || !common_controls_api::instance().set_window_subclass(inner, selected_item_text_proc, 1, 0))
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "the combo box inside a ComboBoxEx control");
}

message_text::message_text(const wchar_t* text)
{
    if (IS_INTRESOURCE(text))
        id_ = static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(text));
    else
        text_ = text;
}

UINT message_box_flags(UINT flags, bool right_to_left)
{
    if (!(flags & MB_ICONMASK)) {
        switch (flags & MB_TYPEMASK) {
        case MB_OK:
        case MB_OKCANCEL:
            flags |= MB_ICONEXCLAMATION;
            break;
        case MB_YESNOCANCEL:
        case MB_YESNO:
            flags |= MB_ICONQUESTION;
            break;
        default:
            break;
        }
    }
    if (right_to_left)
        flags |= MB_RTLREADING;
    if ((flags & MB_ICONMASK) == MB_USERICON)
        flags &= ~MB_ICONMASK;
    return flags;
}

std::wstring default_caption()
{
    std::wstring caption = version_info().display_name();
    return caption.empty() ? file_stem(executable_path()) : caption;
}

int message_box(const message_text& text, const message_text& caption, UINT flags)
{
    const HWND owner = owner_window();
    if (owner)
        EnableWindow(owner, TRUE);
    flags = message_box_flags(flags, message_box_right_to_left(owner));
    const std::wstring body = text.resolve();
    std::wstring title = caption.resolve();
    if (title.empty())
        title = default_caption();
    auto& hooks = ui_hooks::instance();
    if (hooks.show_message_box)
        return hooks.show_message_box(owner, body.c_str(), title.c_str(), flags);
    return MessageBoxW(owner, body.c_str(), title.c_str(), flags);
}

int show_error_code(DWORD code)
{
    return message_box(error_text(code), nullptr, MB_ICONWARNING);
}

std::wstring message_text::resolve() const
{
    if (!id_)
        return text_;
    return installer_module_string(id_).value_or(std::wstring{});
}

bool message_box_right_to_left(HWND owner)
{
    if (owner)
        return (GetWindowLongPtrW(owner, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    // Boxes without an owner read in the default language of the offered ones.
    return is_right_to_left(default_language(0));
}
