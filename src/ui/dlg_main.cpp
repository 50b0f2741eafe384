#include "ui/dlg_main.h"

#include "core/installer_context.h"
#include "platform/language.h"
#include "platform/registry.h"
#include "platform/string_table.h"
#include "platform/version_info.h"
#include "resources/resource_ids.h"
#include "ui/dlg_end.h"
#include "ui/dlg_install.h"
#include "ui/dlg_mode.h"
#include "ui/dlg_options.h"
#include "ui/dlg_start.h"
#include "ui/packed_picture.h"
#include "ui/window_helpers.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>
#include <utility>

namespace {

constexpr const wchar_t* installer_size_value = L"InstallerSize";

// The top `height` rows of a bitmap, as a new one.
bitmap_handle top_of(HBITMAP source, int width, int height)
{
    HDC screen = GetDC(nullptr);
    bitmap_handle cut(CreateCompatibleBitmap(screen, width, height));
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    if (cut && from && to) {
        const HGDIOBJ old_from = SelectObject(from, source);
        const HGDIOBJ old_to = SelectObject(to, cut.get());
        if (!BitBlt(to, 0, 0, width, height, from, 0, 0, SRCCOPY))
            cut.reset();
        SelectObject(from, old_from);
        SelectObject(to, old_to);
    }
    else
        cut.reset();
    if (from)
        DeleteDC(from);
    if (to)
        DeleteDC(to);
    ReleaseDC(nullptr, screen);
    return cut;
}

// Page templates in wizard order.
constexpr std::array<std::uint16_t, wizard_page_count> page_templates{IDD_PAGE_START, IDD_PAGE_MODE, IDD_PAGE_OPTIONS,
                                                                      IDD_INSTALL, IDD_END};

}

int next_page(int current, bool advanced)
{
    if (current == mode_page)
        return advanced ? options_page : install_page;
    return current + 1;
}

int previous_page(int current, bool advanced)
{
    if (current == install_page)
        return advanced ? options_page : mode_page;
    return current - 1;
}

wizard_buttons buttons_for(int page, bool installed)
{
    wizard_buttons buttons{};
    buttons.next_text = page == install_page && !installed ? 1007 : 1006;
    buttons.exit_text = installed ? 1004 : 1002;
    buttons.back_enabled = (page != start_page && !installed) || page == end_page;
    buttons.next_enabled = page != end_page;
    buttons.default_button = page == end_page ? IDCANCEL : IDOK;
    return buttons;
}

bool exit_needs_question(bool installed, std::int32_t existing_state, int page)
{
    if (installed || existing_state == newer_installed)
        return false;
    return !(existing_state == same_installed && page == start_page);
}

SIZE wanted_size(SIZE minimum, const std::optional<SIZE>& stored)
{
    if (!stored)
        return minimum;
    return {std::max(minimum.cx, stored->cx), std::max(minimum.cy, stored->cy)};
}

std::optional<SIZE> stored_installer_size()
{
    try {
        const reg_key key = open_key(registry_root::current_user, maker_key);
        std::int32_t stored[2]{};
        if (key && read_binary(key, installer_size_value, stored, sizeof stored))
            return SIZE{stored[0], stored[1]};
    }
    catch (const std::system_error&) {
    }
    return std::nullopt;
}

void store_installer_size(SIZE size)
{
    try {
        const std::int32_t stored[2]{size.cx, size.cy};
        set_binary(create_key(registry_root::current_user, maker_key), installer_size_value, stored,
                   sizeof stored);
    }
    catch (const std::system_error&) {
        // The window is closing anyway; the size stored before stays.
    }
}

std::wstring about_item_text(const std::wstring& about_text, bool right_to_left)
{
    return right_to_left ? L"..." + about_text : L"&" + about_text + L"...";
}

RECT centred_on(const RECT& box, const RECT& parent)
{
    const LONG dx = (parent.left + parent.right - box.left - box.right) / 2;
    const LONG dy = (parent.top + parent.bottom - box.top - box.bottom) / 2;
    return {box.left + dx, box.top + dy, box.right + dx, box.bottom + dy};
}

std::optional<SIZE> dialog_template_units(std::span<const std::byte> bytes)
{
    const auto word = [&](std::size_t at) {
        return static_cast<std::uint16_t>(static_cast<unsigned>(bytes[at]) | static_cast<unsigned>(bytes[at + 1]) << 8);
    };
    const auto extended = bytes.size() >= 4 && word(0) == 1 && word(2) == 0xFFFF;
    // Extended: version, signature, help id, extended style, style, item count, x, y;
    // plain: style, extended style, item count, x, y.
    const std::size_t at = extended ? 22 : 14;
    if (bytes.size() < at + 4)
        return std::nullopt;
    const auto cx = static_cast<std::int16_t>(word(at));
    const auto cy = static_cast<std::int16_t>(word(at + 2));
    if (cx < 0 || cy < 0)
        return std::nullopt;
    return SIZE{cx, cy};
}

dlg_main& dlg_main::instance()
{
    static dlg_main dialog;
    return dialog;
}

void dlg_main::on_init()
{
    const RECT outer = window_rect_in_parent(hwnd);
    min_width = outer.right - outer.left;
    min_height = outer.bottom - outer.top;

    if (HICON icon = ui_hooks::instance().icon())
        SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    if (HICON icon = ui_hooks::instance().small_icon())
        SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    dpi_ = window_dpi(hwnd);

    pages = {&dlg_start::instance(), &dlg_mode::instance(), &dlg_options::instance(),
             &dlg_install::instance(), &dlg_end::instance()};
    pages[start_page]->create(hwnd, page_templates[start_page]);

    restore_size();
    show_side_picture(); // cut to the panel's final height
    update_texts();

    current_page = start_page;
    ShowWindow(pages[start_page]->hwnd, SW_SHOW);
    EnableWindow(item(IDC_BACK), FALSE);
    if (installer_context::instance().existing_state == newer_installed)
        EnableWindow(item(IDOK), FALSE);
}

void dlg_main::restore_size()
{
    RECT client{};
    GetClientRect(hwnd, &client);
    const int grip_width = GetSystemMetrics(SM_CXHSCROLL);
    const int grip_height = GetSystemMetrics(SM_CYHSCROLL);
    size_grip = CreateWindowExW(WS_EX_NOPARENTNOTIFY, L"ScrollBar", L"",
                                WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_GROUP | SBS_SIZEGRIP,
                                client.right - grip_width, client.bottom - grip_height, grip_width,
                                grip_height, hwnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (size_grip) {
        SetWindowLongW(size_grip, GWL_ID, IDC_SIZE_GRIP);
        SetWindowPos(size_grip, HWND_BOTTOM, 0, 0, 0, 0,
                     SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOOWNERZORDER | SWP_NOSENDCHANGING);
    }

    const SIZE largest = largest_page_size();
    const RECT area = page_area();
    min_width += std::max(0L, largest.cx - (area.right - area.left));
    min_height += std::max(0L, largest.cy - (area.bottom - area.top));

    for (basic_dialog* page : pages)
        if (page->hwnd)
            move_window(page->hwnd, area);

    const SIZE size = wanted_size({min_width, min_height}, stored_installer_size());
    const RECT frame = window_rect_in_parent(hwnd);
    const LONG left = (frame.left + frame.right) / 2 - size.cx / 2;
    const LONG top = (frame.top + frame.bottom) / 2 - size.cy / 2;
    move_window(hwnd, {left, top, left + size.cx, top + size.cy});
    SendMessageW(hwnd, DM_REPOSITION, 0, 0);
}

RECT dlg_main::page_area() const
{
    RECT client{};
    GetClientRect(hwnd, &client);
    const RECT panel = window_rect_in_parent(item(IDC_PICTURE_PANEL));
    const RECT separator = window_rect_in_parent(item(IDC_SEPARATOR));
    return {panel.right, client.top, client.right, separator.top};
}

SIZE dlg_main::largest_page_size() const
{
    SIZE largest{};
    for (const std::uint16_t id : page_templates) {
        const HRSRC found = FindResourceW(dialog_module(), MAKEINTRESOURCEW(id), RT_DIALOG);
        const HGLOBAL loaded = found ? LoadResource(dialog_module(), found) : nullptr;
        const void* data = loaded ? LockResource(loaded) : nullptr;
        if (!data)
            continue;
        const auto units =
            dialog_template_units({static_cast<const std::byte*>(data), SizeofResource(dialog_module(), found)});
        if (!units)
            continue;
        // The pages are drawn in the frame's font, so the frame's dialog
        // units are theirs.
        RECT r{0, 0, units->cx, units->cy};
        MapDialogRect(hwnd, &r);
        largest.cx = std::max(largest.cx, r.right);
        largest.cy = std::max(largest.cy, r.bottom);
    }
    return largest;
}

basic_dialog& dlg_main::page(int index)
{
    basic_dialog& page = *pages[index];
    if (page.hwnd)
        return page;
    page.create(hwnd, page_templates[index]);
    if (!page.hwnd)
        return page;
    const RECT area = page_area();
    move_window(page.hwnd, area);
    page.update_texts();
    // A page larger than its template said (it never should be) still fits.
    const RECT made = window_rect_in_parent(page.hwnd);
    min_width += std::max(0L, (made.right - made.left) - (area.right - area.left));
    min_height += std::max(0L, (made.bottom - made.top) - (area.bottom - area.top));
    return page;
}

void dlg_main::show_side_picture()
{
    constexpr std::pair<int, int> pictures[]{
        {100, IDB_SIDE_PICTURE}, {125, IDB_SIDE_PICTURE_125}, {150, IDB_SIDE_PICTURE_150}, {200, IDB_SIDE_PICTURE_200}};
    const int percent = picture_percent(dpi_);
    int id = IDB_SIDE_PICTURE;
    for (const auto& [scale, resource] : pictures)
        if (scale == percent)
            id = resource;
    // 88 x 170 pixels at 96 DPI; a DPI between the drawn scales shrinks the next larger one.
    // A picture that cannot be made is left out, the panel stays white.
    const int dpi = static_cast<int>(dpi_);
    bitmap_handle picture;
    try {
        picture = load_packed_bitmap(resource_module(), id, MulDiv(88, dpi, 96), MulDiv(170, dpi, 96));
    }
    catch (const std::exception&) {
        return;
    }
    // The picture fades out to white at the bottom: where the panel is shorter
    // (fonts do not grow exactly with the DPI), its end is cut off rather than
    // drawn over the separator. The control takes the picture's size, and a
    // smaller control would squeeze the picture instead.
    HWND place = item(IDC_SIDE_PICTURE);
    const LONG top = window_rect_in_parent(place).top;
    const LONG room = window_rect_in_parent(item(IDC_SEPARATOR)).top - 2 * top;
    BITMAP size{};
    GetObjectW(picture.get(), sizeof size, &size);
    if (room > 0 && size.bmHeight > room)
        if (bitmap_handle cut = top_of(picture.get(), size.bmWidth, room))
            picture = std::move(cut);
    SendMessageW(place, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.get()));
    side_picture_ = std::move(picture);
}

void dlg_main::on_dpi_changed(UINT dpi, const RECT& suggested)
{
    if (dpi == 0 || dpi == dpi_)
        return;
    min_width = MulDiv(min_width, static_cast<int>(dpi), static_cast<int>(dpi_));
    min_height = MulDiv(min_height, static_cast<int>(dpi), static_cast<int>(dpi_));
    dpi_ = dpi;
    // The new size reaches the anchored layout of the frame and its pages through WM_SIZE.
    move_window(hwnd, suggested);
    show_side_picture();
    dlg_start::instance().show_flags(dpi);
}

void dlg_main::on_destroy()
{
    RECT outer{};
    if (GetWindowRect(hwnd, &outer))
        store_installer_size({outer.right - outer.left, outer.bottom - outer.top});
}

void dlg_main::on_size(int new_width, int new_height)
{
    std::array<anchored_control, 6 + wizard_page_count> controls{{
        {anchor::size_y, item(IDC_PICTURE_PANEL)},
        {anchor::size_x | anchor::move_y, item(IDC_SEPARATOR)},
        {anchor::move_x | anchor::move_y, item(IDC_BACK)},
        {anchor::move_x | anchor::move_y, item(IDOK)},
        {anchor::move_x | anchor::move_y, item(IDCANCEL)},
        {anchor::move_x | anchor::move_y, size_grip},
    }};
    std::size_t count = 6;
    for (basic_dialog* page : pages)
        if (page && page->hwnd)
            controls[count++] = {anchor::size_x | anchor::size_y, page->hwnd};
    layout(new_width, new_height, controls.data(), count);
}

void dlg_main::on_get_min_max_info(MINMAXINFO* info)
{
    info->ptMinTrackSize = {min_width, min_height};
}

void dlg_main::update_texts()
{
    set_text(hwnd, installer_title(true));

    const std::wstring about = about_item_text(format_text(load_string(1003), installer_title(false)),
                                               locale_state::instance().right_to_left);
    if (HMENU menu = GetSystemMenu(hwnd, FALSE)) {
        if (!ModifyMenuW(menu, about_command, MF_BYCOMMAND | MF_STRING, about_command, about.c_str())) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, about_command, about.c_str());
        }
    }

    update_buttons();
    for (basic_dialog* page : pages)
        if (page && page->hwnd)
            page->update_texts();
}

void dlg_main::update_buttons()
{
    const wizard_buttons buttons = buttons_for(current_page, installer_context::instance().installed);
    set_text(item(IDOK), buttons.next_text == 1006 ? load_string(1006) + L" >" : load_string(buttons.next_text));
    set_text(item(IDC_BACK), L"< " + load_string(1005));
    set_text(item(IDCANCEL), load_string(buttons.exit_text));
}

void dlg_main::show_page(int index)
{
    if (pages[current_page] && pages[current_page]->hwnd)
        ShowWindow(pages[current_page]->hwnd, SW_HIDE);
    current_page = index;
    if (HWND shown = page(index).hwnd)
        ShowWindow(shown, SW_SHOW);
    update_buttons();

    const wizard_buttons buttons = buttons_for(index, installer_context::instance().installed);
    EnableWindow(item(IDC_BACK), buttons.back_enabled);
    EnableWindow(item(IDOK), buttons.next_enabled);
    SendMessageW(hwnd, DM_SETDEFID, buttons.default_button, 0);
    SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(buttons.default_button)), TRUE);
}

bool dlg_main::on_command(int id, int)
{
    installer_context& context = installer_context::instance();
    if (installing && (id == IDOK || id == IDC_BACK || id == IDCANCEL))
        return true;
    switch (id) {
    case IDOK:
        if (current_page == install_page && !context.installed) {
            install();
            return true;
        }
        {
            const int next = next_page(current_page, context.advanced);
            if (next == install_page) {
                page(install_page);
                dlg_install::instance().show_summary();
            }
            show_page(next);
        }
        return true;
    case IDC_BACK:
        show_page(previous_page(current_page, context.advanced));
        return true;
    case IDCANCEL:
        leave();
        return true;
    default:
        return false;
    }
}

void dlg_main::install()
{
    installer_context& context = installer_context::instance();
    // A disabled button loses the focus to nothing: the log, which the
    // installation fills, holds it until the buttons come back.
    SendMessageW(hwnd, WM_NEXTDLGCTL,
                 reinterpret_cast<WPARAM>(GetDlgItem(page(install_page).hwnd, IDC_INSTALL_LOG)), TRUE);
    for (int id : {IDC_BACK, IDOK, IDCANCEL})
        EnableWindow(item(id), FALSE);

    installing = true;
    context.installed = dlg_install::instance().do_installation();
    installing = false;

    EnableWindow(item(IDCANCEL), TRUE);
    EnableWindow(item(IDOK), TRUE);
    SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(IDOK)), TRUE);
    SendMessageW(hwnd, DM_SETDEFID, IDOK, 0);
    update_buttons();
    page(end_page);
    dlg_end::instance().show_final_text();
}

void dlg_main::leave()
{
    if (installing)
        return;
    const installer_context& context = installer_context::instance();
    if (exit_needs_question(context.installed, context.existing_state, current_page)) {
        const int answer = message_box(load_string(1110), installer_title(true),
                                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        if (answer == IDNO)
            return;
    }
    EndDialog(hwnd, context.installed ? 1 : 2);
}

bool dlg_main::on_sys_command(int command)
{
    if (command != static_cast<int>(about_command))
        return false;
    DialogBoxParamW(resource_module(), MAKEINTRESOURCEW(IDD_ABOUT), hwnd, about_dialog_proc, 0);
    return true;
}

namespace {

constexpr const wchar_t* about_icon_property = L"hv.about.icon";

// The icon control of the About box gets the application's icon drawn at its
// own size, from the icon's largest image, instead of a default-sized image
// stretched to fit.
void show_icon_at_control_size(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            continue;
        RECT size{};
        GetClientRect(child, &size);
        auto icon = static_cast<HICON>(LoadImageW(resource_module(), MAKEINTRESOURCEW(IDI_APPLICATION_ICON),
                                                  IMAGE_ICON, size.right, size.bottom, LR_DEFAULTCOLOR));
        if (!icon)
            return;
        SendMessageW(child, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
        SetPropW(box, about_icon_property, icon);
        return;
    }
}

}

INT_PTR CALLBACK about_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_DESTROY:
        if (auto icon = static_cast<HICON>(RemovePropW(window, about_icon_property)))
            DestroyIcon(icon);
        return FALSE;
    case WM_INITDIALOG:
        show_icon_at_control_size(window);
        try {
            const std::wstring title = format_text(load_string(1003), installer_title(false));
            if (!title.empty())
                set_text(window, title);
            const version_info own;
            set_text(GetDlgItem(window, IDC_ABOUT_NAME), own.display_name());
            set_text(GetDlgItem(window, IDC_ABOUT_COPYRIGHT), own.legal_copyright());
            set_text(GetDlgItem(window, IDOK), load_string(1001));
        }
        catch (...) {
            // The box still opens with the texts of its template.
        }
        if (HWND parent = GetParent(window)) {
            RECT parent_rect{};
            GetWindowRect(parent, &parent_rect);
            RECT box = centred_on(window_rect_in_parent(window), parent_rect);
            keep_visible(box, 50);
            move_window(window, box);
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
            EndDialog(window, LOWORD(wparam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
