#include "ui/dlg_install.h"

#include "core/installer_context.h"
#include "identity/product.h"
#include "engine/installation.h"
#include "platform/string_table.h"
#include "resources/resource_ids.h"
#include "ui/window_helpers.h"

#include <windows.h>
#include <commctrl.h>

#include <array>

namespace {

// The rules either side of the summary's heading.
constexpr wchar_t rule_prefix[] = L"\u2500\u2500\u2500\u00A0";
const std::wstring rule_suffix = L"\u00A0" + std::wstring(29, L'\u2500');

}

dlg_install& dlg_install::instance()
{
    static dlg_install page;
    return page;
}

void dlg_install::update_texts()
{
    set_status(format_text(load_string(1108), load_string(1007)));
}

void dlg_install::on_init()
{
    HWND progress = GetDlgItem(hwnd, IDC_INSTALL_PROGRESS);
    SendMessageW(progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    ShowWindow(progress, SW_HIDE);
    leave_dialog_keys_to_dialog(GetDlgItem(hwnd, IDC_INSTALL_LOG));
}

void dlg_install::on_size(int new_width, int new_height)
{
    const std::array controls{
        anchored_control{anchor::size_x | anchor::size_y, GetDlgItem(hwnd, IDC_INSTALL_LOG)},
        anchored_control{anchor::size_x | anchor::move_y, GetDlgItem(hwnd, IDC_INSTALL_PROGRESS)},
        anchored_control{anchor::size_x | anchor::move_y, GetDlgItem(hwnd, IDC_STATUS)},
    };
    layout(new_width, new_height, controls);
}

void dlg_install::show_summary()
{
    const auto& context = installer_context::instance();
    std::wstring summary = format_text(load_string(1100), product_name(false)) + L"\r\n";
    summary += rule_prefix + load_string(1122) + rule_suffix + L"\r\n";
    summary += format_text(load_string(1123), context.install_folder) + L"\r\n";
    if (context.menu_shortcut)
        summary += load_string(1124) + L"\r\n";
    if (context.desktop_shortcut)
        summary += load_string(1125) + L"\r\n";
    set_text(GetDlgItem(hwnd, IDC_INSTALL_LOG), summary);
}

void dlg_install::append_log(const std::wstring& text)
{
    // During an installation the window shows its log only when the queue
    // is served; what comes in between goes in at once. Under Wine every
    // replacement of the selection costs 10-20 ms, twice per file.
    if (installing_) {
        pending_log_ += text;
        ++pending_appends_;
        return;
    }
    add_to_log(text, 1);
}

void dlg_install::add_to_log(const std::wstring& text, int lines)
{
    HWND log = GetDlgItem(hwnd, IDC_INSTALL_LOG);
    SendMessageW(log, EM_SETSEL, 0x7FFFFFFF, -1);
    SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(log, EM_LINESCROLL, 0, lines);
}

void dlg_install::flush_log()
{
    if (pending_appends_ == 0)
        return;
    add_to_log(pending_log_, pending_appends_);
    pending_log_.clear();
    pending_appends_ = 0;
}

void dlg_install::set_status(const std::wstring& text)
{
    set_text(GetDlgItem(hwnd, IDC_STATUS), text);
}

void dlg_install::set_progress(int percent)
{
    SendMessageW(GetDlgItem(hwnd, IDC_INSTALL_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void dlg_install::show_progress()
{
    HWND progress = GetDlgItem(hwnd, IDC_INSTALL_PROGRESS);
    SendMessageW(progress, PBM_SETPOS, 0, 0);
    ShowWindow(progress, SW_SHOW);
}

void dlg_install::pump()
{
    // The engine asks after every 4096-byte block. An empty queue costs
    // little on Windows but a few hundred microseconds under Wine (server
    // and display round trips), and each pump adds the log gathered since
    // the last one; the queue is served at most every 10 ms, sooner than
    // anyone notices.
    constexpr std::chrono::milliseconds pump_interval(10);
    const auto now = std::chrono::steady_clock::now();
    if (pumped_at_ && now - *pumped_at_ < pump_interval) {
        pumped_ = false;
        return;
    }
    pumped_at_ = now;
    flush_log();
    if (!root_ && hwnd)
        root_ = GetAncestor(hwnd, GA_ROOT);
    pumped_ = pump_messages(root_);
}

void dlg_install::begin_wait()
{
    root_ = hwnd ? GetAncestor(hwnd, GA_ROOT) : nullptr;
    wait_cursor_ = LoadCursorW(nullptr, IDC_WAIT);
    previous_cursor_ = SetCursor(wait_cursor_);
    pumped_ = false;
    pumped_at_.reset();
    installing_ = true;
}

void dlg_install::restore_wait()
{
    if (pumped_)
        SetCursor(wait_cursor_);
    pumped_ = false;
}

void dlg_install::end_wait()
{
    installing_ = false;
    flush_log();
    SetCursor(previous_cursor_);
    root_ = nullptr;
}

bool dlg_install::do_installation()
{
    try {
        auto& context = installer_context::instance();
        const installation_request request{context.install_folder,    context.menu_folder,
                                           context.menu_shortcut,     context.desktop_shortcut,
                                           context.existing_state,    context.existing_version};
        installation_state state{context.log, context.instance_mutex,
                                 [&context](std::wstring& folder, std::wstring& error_text) {
                                     if (!context.make_temporary_folder(error_text))
                                         return false;
                                     folder = context.temporary_folder;
                                     return true;
                                 }};
        return run_installation(request, state, *this);
    }
    catch (...) {
        // Reaching the installer's state failed before anything was done.
        try {
            set_status(format_text(load_string(1121), error_code_text(std::current_exception())));
        }
        catch (...) {
        }
        return false;
    }
}
