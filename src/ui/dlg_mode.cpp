#include "ui/dlg_mode.h"

#include "core/installer_context.h"
#include "platform/string_table.h"
#include "resources/resource_ids.h"

dlg_mode& dlg_mode::instance()
{
    static dlg_mode page;
    return page;
}

void dlg_mode::on_init()
{
    CheckRadioButton(hwnd, IDC_QUICK, IDC_ADVANCED,
                     installer_context::instance().advanced ? IDC_ADVANCED : IDC_QUICK);
}

void dlg_mode::update_texts()
{
    set_text(GetDlgItem(hwnd, IDC_MODE_GROUP), load_string(1015));
    set_text(GetDlgItem(hwnd, IDC_QUICK), load_string(1016));
    set_text(GetDlgItem(hwnd, IDC_ADVANCED), load_string(1017));
    set_text(GetDlgItem(hwnd, IDC_STATUS), format_text(load_string(1106), load_string(1006)));
}

void dlg_mode::on_size(int new_width, int new_height)
{
    const anchored_control controls[]{
        {anchor::size_x, GetDlgItem(hwnd, IDC_MODE_GROUP)},
        {anchor::size_x, GetDlgItem(hwnd, IDC_QUICK)},
        {anchor::size_x, GetDlgItem(hwnd, IDC_ADVANCED)},
        {anchor::size_x | anchor::move_y, GetDlgItem(hwnd, IDC_STATUS)},
    };
    layout(new_width, new_height, controls);
}

bool dlg_mode::on_command(int, int)
{
    installer_context::instance().advanced = IsDlgButtonChecked(hwnd, IDC_ADVANCED) == BST_CHECKED;
    return true;
}
