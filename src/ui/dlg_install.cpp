#include "ui/dlg_install.h"

#include "core/installer_context.h"
#include "identity/product.h"
#include "engine/installation.h"
#include "platform/string_table.h"
#include "resources/resource_ids.h"
#include "ui/window_helpers.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
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
    // Under Wine a static control paints itself at once when its text
    // changes; during an installation only the newest status is shown, when
    // the queue is served.
    if (installing_) {
        pending_status_ = text;
        return;
    }
    set_text(GetDlgItem(hwnd, IDC_STATUS), text);
}

void dlg_install::set_progress(int percent)
{
    // Each new position repaints the bar at once; a hundred of them cost
    // more than the files of a small installation.
    if (installing_) {
        pending_progress_ = percent;
        return;
    }
    SendMessageW(GetDlgItem(hwnd, IDC_INSTALL_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void dlg_install::show_pending_status()
{
    if (pending_status_) {
        set_text(GetDlgItem(hwnd, IDC_STATUS), *pending_status_);
        pending_status_.reset();
    }
    if (pending_progress_) {
        SendMessageW(GetDlgItem(hwnd, IDC_INSTALL_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(*pending_progress_), 0);
        pending_progress_.reset();
    }
}

void dlg_install::show_progress()
{
    HWND progress = GetDlgItem(hwnd, IDC_INSTALL_PROGRESS);
    pending_progress_.reset();
    SendMessageW(progress, PBM_SETPOS, 0, 0);
    ShowWindow(progress, SW_SHOW);
    // The payload's check, which comes next, serves no queue until it
    // ends; its status is shown before, its log line with the next round.
    show_pending_status();
}

std::chrono::steady_clock::duration upkeep_pause(std::chrono::steady_clock::duration cost)
{
    // A twentieth of the time for each kind of upkeep: the pause is
    // nineteen times what the last round took, never under 10 ms, which is
    // sooner than anyone notices, and never over half a second, so that a
    // round that waited for the user (a message box) does not freeze the
    // window afterwards.
    constexpr std::chrono::steady_clock::duration shortest = std::chrono::milliseconds(10);
    constexpr std::chrono::steady_clock::duration longest = std::chrono::milliseconds(500);
    return std::clamp<std::chrono::steady_clock::duration>(cost * 19, shortest, longest);
}

void dlg_install::pump()
{
    // The engine asks after every 4096-byte block. Serving the queue costs
    // little on Windows, but under Wine an empty queue costs a few hundred
    // microseconds and every addition to the log 10-20 ms (the edit control
    // redraws its scroll bars), more than the files of a small installation
    // take to write. Each is done again only after a pause in proportion to
    // what it cost, so that the window never takes more than a tenth of the
    // installation's time, on any system.
    using clock = std::chrono::steady_clock;
    const auto now = clock::now();
    if (now < next_pump_) {
        pumped_ = false;
        return;
    }
    auto started = now;
    if (now >= next_log_) {
        flush_log();
        const auto logged = clock::now();
        next_log_ = logged + upkeep_pause(logged - now);
        started = logged;
    }
    show_pending_status();
    if (!root_ && hwnd)
        root_ = GetAncestor(hwnd, GA_ROOT);
    pumped_ = pump_messages(root_);
    const auto served = clock::now();
    next_pump_ = served + upkeep_pause(served - started);
}

void dlg_install::begin_wait()
{
    root_ = hwnd ? GetAncestor(hwnd, GA_ROOT) : nullptr;
    wait_cursor_ = LoadCursorW(nullptr, IDC_WAIT);
    previous_cursor_ = SetCursor(wait_cursor_);
    pumped_ = false;
    next_pump_ = {};
    next_log_ = {};
    pending_status_.reset();
    pending_progress_.reset();
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
    show_pending_status();
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
