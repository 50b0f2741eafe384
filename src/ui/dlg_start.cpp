#include "ui/dlg_start.h"

#include "core/installer_context.h"
#include "identity/product.h"
#include "platform/common_controls.h"
#include "platform/language.h"
#include "platform/string_table.h"
#include "platform/version_info.h"
#include "resources/resource_ids.h"
#include "ui/bitmap_handle.h"
#include "ui/packed_picture.h"
#include "ui/window_helpers.h"

#include <exception>

start_texts start_texts_for(std::int32_t existing_state, const std::wstring& existing_name)
{
    const std::wstring product = product_name(false);
    const std::wstring next = load_string(1006);
    const std::wstring cancel = load_string(1002);
    switch (existing_state) {
    case same_installed:
        return {format_text(load_string(1102), product) + L"\n" + load_string(1104),
                format_text(load_string(1105), next, cancel)};
    case older_installed:
        return {format_text(load_string(1101), existing_name, product), format_text(load_string(1106), next)};
    case newer_installed:
        return {format_text(load_string(1100), product) + L"\n" + format_text(load_string(1103), existing_name),
                format_text(load_string(1107), cancel)};
    default:
        return {format_text(load_string(1100), product), format_text(load_string(1106), next)};
    }
}

void select_ui_language(int index, HWND page)
{
    set_language(index);
    if (!is_installer_language(index))
        message_box(format_text(load_string(1129), product_name(true)), installer_title(true), MB_ICONINFORMATION);
    if (HWND frame = GetParent(page))
        if (auto* owner = reinterpret_cast<basic_dialog*>(GetWindowLongPtrW(frame, DWLP_USER)))
            owner->update_texts();
}

namespace {

// The flags are opaque rectangles, so their colour bitmap alone is the
// picture; the list copies it at once, where drawing the icon into the list
// costs about a millisecond each under Wine.
int add_opaque_icon(HIMAGELIST list, HICON icon)
{
    ICONINFO info{};
    if (!list || !icon || !GetIconInfo(icon, &info))
        return -1;
    const bitmap_handle colour(info.hbmColor);
    const bitmap_handle mask(info.hbmMask);
    return colour ? common_controls_api::instance().image_list_add(list, colour.get(), nullptr) : -1;
}

}

dlg_start& dlg_start::instance()
{
    static dlg_start page;
    return page;
}

std::vector<int> dlg_start::show_flags(UINT dpi)
{
    const int width = MulDiv(18, static_cast<int>(dpi), 96);
    const int height = MulDiv(12, static_cast<int>(dpi), 96);
    std::vector<int> images;
    HIMAGELIST flags = common_controls_api::instance().image_list_create(width, height, ILC_COLOR24, 10, 1);
    for (language_index index : language_list_order) {
        icon_handle icon;
        try {
            icon = load_packed_icon(resource_module(), language_table[index].flag_icon, width, height);
        }
        catch (const std::exception&) {
            // Listed without its flag.
        }
        images.push_back(add_opaque_icon(flags, icon.get()));
    }
    if (flags) {
        SendMessageW(GetDlgItem(hwnd, IDC_LANGUAGE_LIST), CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(flags));
        if (image_list)
            common_controls_api::instance().image_list_destroy(image_list);
        image_list = flags;
    }
    return images;
}

void dlg_start::on_init()
{
    HWND combo = GetDlgItem(hwnd, IDC_LANGUAGE_LIST);
    const std::vector<int> images = show_flags(window_dpi(hwnd));

    int current_position = -1;
    const language_index current = locale_state::instance().current;
    for (std::size_t i = 0; i < language_list_order.size(); ++i) {
        const language_index index = language_list_order[i];
        std::wstring text = language_list_text(index);
        COMBOBOXEXITEMW entry{};
        entry.mask = CBEIF_TEXT | CBEIF_LPARAM;
        entry.iItem = -1;
        entry.pszText = text.data();
        entry.lParam = index;
        if (images[i] >= 0) {
            entry.mask |= CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
            entry.iImage = images[i];
            entry.iSelectedImage = images[i];
        }
        const auto position = SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&entry));
        if (index == current)
            current_position = static_cast<int>(position);
    }

    if (auto inner = reinterpret_cast<HWND>(SendMessageW(combo, CBEM_GETCOMBOCONTROL, 0, 0)))
        SetWindowLongW(inner, GWL_STYLE, GetWindowLongW(inner, GWL_STYLE) & ~CBS_NOINTEGRALHEIGHT);
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(current_position), 0);
    show_selected_item_as_text(combo);
}

void dlg_start::on_destroy()
{
    SendMessageW(GetDlgItem(hwnd, IDC_LANGUAGE_LIST), CBEM_SETIMAGELIST, 0, 0);
    if (image_list)
        common_controls_api::instance().image_list_destroy(image_list);
    image_list = nullptr;
}

void dlg_start::update_texts()
{
    installer_context& context = installer_context::instance();
    set_text(GetDlgItem(hwnd, IDC_LANGUAGE_LABEL), load_string(1014));
    set_text(GetDlgItem(hwnd, IDC_COPYRIGHT), version_info().legal_copyright());
    const start_texts texts = start_texts_for(context.existing_state, context.existing_name);
    set_text(GetDlgItem(hwnd, IDC_SITUATION), texts.situation);
    set_text(GetDlgItem(hwnd, IDC_STATUS), texts.status);
}

void dlg_start::on_size(int new_width, int new_height)
{
    const anchored_control controls[]{
        {anchor::size_x, GetDlgItem(hwnd, IDC_LANGUAGE_LIST)},
        {anchor::size_x, GetDlgItem(hwnd, IDC_COPYRIGHT)},
        {anchor::size_x | anchor::size_y, GetDlgItem(hwnd, IDC_SITUATION)},
        {anchor::size_x | anchor::move_y, GetDlgItem(hwnd, IDC_STATUS)},
    };
    layout(new_width, new_height, controls);
}

bool dlg_start::on_command(int id, int code)
{
    if (id != IDC_LANGUAGE_LIST || code != CBN_SELCHANGE)
        return false;
    HWND combo = GetDlgItem(hwnd, IDC_LANGUAGE_LIST);
    const auto position = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (position == CB_ERR)
        return true;
    COMBOBOXEXITEMW entry{};
    entry.mask = CBEIF_LPARAM;
    entry.iItem = position;
    if (SendMessageW(combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&entry)))
        select_ui_language(static_cast<int>(entry.lParam), hwnd);
    return true;
}
