#include "ui/dlg_end.h"

#include "platform/string_table.h"
#include "resources/resource_ids.h"

#include <array>

dlg_end& dlg_end::instance()
{
    static dlg_end page;
    return page;
}

void dlg_end::update_texts()
{
    set_text(GetDlgItem(hwnd, IDC_INFO), {});
    set_text(GetDlgItem(hwnd, IDC_STATUS), format_text(load_string(1107), load_string(1004)));
}

void dlg_end::on_size(int new_width, int new_height)
{
    const std::array controls{
        anchored_control{anchor::size_x | anchor::size_y, GetDlgItem(hwnd, IDC_INFO)},
        anchored_control{anchor::size_x | anchor::move_y, GetDlgItem(hwnd, IDC_STATUS)},
    };
    layout(new_width, new_height, controls);
}

void dlg_end::show_final_text()
{
    set_text(GetDlgItem(hwnd, IDC_INFO), load_string(1120));
}
