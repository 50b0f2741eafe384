#include "ui/dlg_end.h"
#include "ui/dlg_install.h"

#include <windows.h>
#include <commctrl.h>

#include <string>

#include <gtest/gtest.h>

#include "core/installer_context.h"
#include "platform/language.h"
#include "resources/resource_ids.h"
#include "support/dialog_harness.h"

namespace {

using test_support::control_rect;
using test_support::control_text;
using test_support::show_dialog;
using test_support::test_dialog;
using test_support::test_window;

constexpr int test_frame_template = 300;
constexpr language_index english = 1;
constexpr int frame_command = 4242;

class install_pages_test : public ::testing::Test {
protected:
    language_index saved_language = locale_state::instance().current;
    test_dialog frame;
    test_window frame_window;

    void SetUp() override
    {
        set_language(english);
        frame.handles_commands = true;
        frame_window = show_dialog(frame, test_frame_template);
        ASSERT_TRUE(frame_window);
    }

    void TearDown() override { set_language(saved_language); }

    // As the frame does: created, then filled with the current language's texts.
    test_window show_page(basic_dialog& page, int template_id)
    {
        test_window window = show_dialog(page, template_id, frame_window.get());
        if (window)
            page.update_texts();
        return window;
    }
};

// Position and size are converted apart, as the dialog manager does.
RECT dialog_units(HWND dialog, RECT rect)
{
    MapDialogRect(dialog, &rect);
    return {rect.left, rect.top, rect.left + rect.right, rect.top + rect.bottom};
}

bool has_style(HWND control, DWORD style)
{
    return (static_cast<DWORD>(GetWindowLongPtrW(control, GWL_STYLE)) & style) == style;
}

}

TEST_F(install_pages_test, templates_hold_the_controls_where_the_pages_expect_them)
{
    const struct {
        basic_dialog* page;
        int template_id;
        int id;
        const wchar_t* class_name;
        DWORD style;
        RECT units; // x, y, width, height
    } controls[] = {
        {&dlg_install::instance(), IDD_INSTALL, IDC_INSTALL_LOG, L"Edit",
         ES_READONLY | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_GROUP,
         {7, 7, 205, 54}},
        {&dlg_install::instance(), IDD_INSTALL, IDC_INSTALL_PROGRESS, PROGRESS_CLASSW, PBS_SMOOTH | WS_GROUP,
         {7, 67, 205, 10}},
        {&dlg_install::instance(), IDD_INSTALL, IDC_STATUS, L"Static",
         SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_PATHELLIPSIS, {7, 82, 205, 8}},
        {&dlg_end::instance(), IDD_END, IDC_INFO, L"Static", SS_NOPREFIX, {7, 7, 228, 27}},
        {&dlg_end::instance(), IDD_END, IDC_STATUS, L"Static", SS_SIMPLE | SS_NOPREFIX, {7, 41, 228, 8}},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(testing::Message() << "template " << c.template_id << ", control " << c.id);
        test_window page = show_page(*c.page, c.template_id);
        ASSERT_TRUE(page);
        EXPECT_TRUE(has_style(page.get(), WS_CHILD | WS_CLIPCHILDREN | DS_CONTROL));
        HWND control = GetDlgItem(page.get(), c.id);
        ASSERT_TRUE(control);
        wchar_t class_name[64]{};
        GetClassNameW(control, class_name, 64);
        EXPECT_EQ(lstrcmpiW(class_name, c.class_name), 0) << std::wstring(class_name);
        // The edit control turns a border into a sunken client edge.
        const bool border_as_edge = (GetWindowLongPtrW(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0;
        EXPECT_TRUE(has_style(control, border_as_edge ? c.style & ~WS_BORDER : c.style))
            << std::hex << GetWindowLongPtrW(control, GWL_STYLE);
        const RECT expected = dialog_units(page.get(), c.units);
        const RECT actual = control_rect(page.get(), c.id);
        EXPECT_TRUE(EqualRect(&expected, &actual))
            << actual.left << "," << actual.top << "," << actual.right << "," << actual.bottom;
    }
}

TEST_F(install_pages_test, summary_lists_the_chosen_options)
{
    auto& context = installer_context::instance();
    context.install_folder = L"C:\\Program Files\\Quillmar 3";
    const std::wstring heading = L"'Quillmar 3.05c' Installation.\r\n"
                                 L"\u2500\u2500\u2500\u00A0Installation Options\u00A0" +
                                 std::wstring(29, L'\u2500') +
                                 L"\r\nInstallation Folder: \"C:\\Program Files\\Quillmar 3\".\r\n";
    const std::wstring menu = L"Creating a Shortcut in the Start Menu.\r\n";
    const std::wstring desktop = L"Creating a Shortcut on the Desktop.\r\n";
    const struct {
        bool menu_shortcut, desktop_shortcut;
        std::wstring expected;
    } cases[] = {
        {true, true, heading + menu + desktop},
        {true, false, heading + menu},
        {false, true, heading + desktop},
        {false, false, heading},
    };
    auto& page = dlg_install::instance();
    test_window window = show_page(page, IDD_INSTALL);
    ASSERT_TRUE(window);
    page.append_log(L"left from an earlier visit\r\n");
    for (const auto& c : cases) {
        context.menu_shortcut = c.menu_shortcut;
        context.desktop_shortcut = c.desktop_shortcut;
        page.show_summary();
        EXPECT_EQ(control_text(window.get(), IDC_INSTALL_LOG), c.expected)
            << c.menu_shortcut << " " << c.desktop_shortcut;
    }
}

TEST_F(install_pages_test, log_status_and_progress)
{
    auto& page = dlg_install::instance();
    test_window window = show_page(page, IDD_INSTALL);
    ASSERT_TRUE(window);
    HWND log = GetDlgItem(window.get(), IDC_INSTALL_LOG);
    HWND progress = GetDlgItem(window.get(), IDC_INSTALL_PROGRESS);

    EXPECT_EQ(control_text(window.get(), IDC_STATUS), L"Click on 'Install' to start Installation.");
    EXPECT_FALSE(IsWindowVisible(progress));
    EXPECT_EQ(SendMessageW(progress, PBM_GETRANGE, FALSE, 0), 100);

    // Text goes to the end, whatever the selection, and cannot be undone.
    set_text(log, L"first\r\n");
    SendMessageW(log, EM_SETSEL, 0, 2);
    page.append_log(L"Copying");
    page.append_log(L"...OK\r\n");
    page.append_log(L"next");
    EXPECT_EQ(control_text(window.get(), IDC_INSTALL_LOG), L"first\r\nCopying...OK\r\nnext");
    EXPECT_FALSE(SendMessageW(log, EM_CANUNDO, 0, 0));

    page.set_status(L"Copying File \"C:\\a\\b.txt\"...");
    EXPECT_EQ(control_text(window.get(), IDC_STATUS), L"Copying File \"C:\\a\\b.txt\"...");

    page.set_progress(40);
    page.show_progress();
    EXPECT_TRUE(IsWindowVisible(progress));
    EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 0);
    page.set_progress(99);
    EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 99);
}

// The log is a tab stop a keyboard reaches to scroll it, but leaves Tab,
// Enter and Escape to the frame's dialog manager.
TEST_F(install_pages_test, log_leaves_the_dialog_keys_to_the_frame)
{
    test_window window = show_page(dlg_install::instance(), IDD_INSTALL);
    ASSERT_TRUE(window);
    HWND log = GetDlgItem(window.get(), IDC_INSTALL_LOG);
    EXPECT_TRUE(GetWindowLongW(log, GWL_STYLE) & WS_TABSTOP);
    for (UINT key : {VK_TAB, VK_RETURN, VK_ESCAPE, VK_DOWN, VK_NEXT}) {
        SCOPED_TRACE(key);
        MSG pressed{log, WM_KEYDOWN, key, 1, 0, {}};
        const auto code = static_cast<UINT>(SendMessageW(log, WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(&pressed)));
        EXPECT_EQ(code & (DLGC_WANTALLKEYS | DLGC_WANTMESSAGE | DLGC_WANTTAB), 0u);
        EXPECT_TRUE(code & DLGC_WANTARROWS) << "the arrows still scroll";
    }
}

// During an installation the log takes its text in when the queue is
// served: nothing is lost or reordered, and it is all there at the end.
TEST_F(install_pages_test, log_of_an_installation_reaches_the_window_in_order)
{
    auto& page = dlg_install::instance();
    test_window window = show_page(page, IDD_INSTALL);
    ASSERT_TRUE(window);
    set_text(GetDlgItem(window.get(), IDC_INSTALL_LOG), L"summary\r\n");

    page.begin_wait();
    page.append_log(L"Copying");
    page.append_log(L"...OK\r\n");
    page.pump();
    EXPECT_EQ(control_text(window.get(), IDC_INSTALL_LOG), L"summary\r\nCopying...OK\r\n");
    page.append_log(L"Registry");
    page.append_log(L"...Failed\r\n");
    page.append_log(L"Last");
    page.end_wait();
    EXPECT_EQ(control_text(window.get(), IDC_INSTALL_LOG), L"summary\r\nCopying...OK\r\nRegistry...Failed\r\nLast");
    page.append_log(L" line");
    EXPECT_EQ(control_text(window.get(), IDC_INSTALL_LOG),
              L"summary\r\nCopying...OK\r\nRegistry...Failed\r\nLast line");
}

// During an installation the status and the bar show the newest of what
// came since the queue was last served, and the last of it at the end.
TEST_F(install_pages_test, status_and_progress_of_an_installation_reach_the_window_when_served)
{
    auto& page = dlg_install::instance();
    test_window window = show_page(page, IDD_INSTALL);
    ASSERT_TRUE(window);
    HWND progress = GetDlgItem(window.get(), IDC_INSTALL_PROGRESS);
    page.set_status(L"before");

    page.begin_wait();
    page.show_progress();
    page.set_status(L"first");
    page.set_status(L"second");
    page.set_progress(30);
    page.set_progress(40);
    EXPECT_EQ(control_text(window.get(), IDC_STATUS), L"before");
    EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 0);
    page.pump();
    EXPECT_EQ(control_text(window.get(), IDC_STATUS), L"second");
    EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 40);
    page.set_status(L"last");
    page.set_progress(100);
    page.end_wait();
    EXPECT_EQ(control_text(window.get(), IDC_STATUS), L"last");
    EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 100);
    page.set_status(L"after");
    EXPECT_EQ(control_text(window.get(), IDC_STATUS), L"after");
}

TEST(upkeep_pause, is_nineteen_times_the_cost_within_bounds)
{
    using std::chrono::milliseconds;
    const struct {
        std::chrono::steady_clock::duration cost;
        std::chrono::steady_clock::duration pause;
    } cases[] = {
        {milliseconds(0), milliseconds(10)},   {std::chrono::microseconds(300), milliseconds(10)},
        {milliseconds(1), milliseconds(19)},   {milliseconds(15), milliseconds(285)},
        {milliseconds(30), milliseconds(500)}, {std::chrono::seconds(5), milliseconds(500)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(upkeep_pause(c.cost), c.pause) << c.cost.count();
}

TEST_F(install_pages_test, end_page_texts)
{
    auto& page = dlg_end::instance();
    test_window window = show_page(page, IDD_END);
    ASSERT_TRUE(window);
    EXPECT_EQ(control_text(window.get(), IDC_INFO), L"");
    EXPECT_EQ(control_text(window.get(), IDC_STATUS), L"Click on 'Exit' to exit Installation.");
    page.show_final_text();
    EXPECT_EQ(control_text(window.get(), IDC_INFO), L"Installation is complete.");
    page.update_texts();
    EXPECT_EQ(control_text(window.get(), IDC_INFO), L"");
}

// The test program carries no payload: the installation fails its check of
// the payload, which is enough to see the page during a whole call.
TEST_F(install_pages_test, installation_on_the_page_keeps_the_frame_alive_and_the_quit_request)
{
    auto& page = dlg_install::instance();
    test_window window = show_page(page, IDD_INSTALL);
    ASSERT_TRUE(window);
    set_text(GetDlgItem(window.get(), IDC_INSTALL_LOG), L"summary\r\n");
    const std::size_t commands_before = frame.commands.size();
    PostMessageW(frame_window.get(), WM_COMMAND, MAKEWPARAM(frame_command, BN_CLICKED), 0);
    PostQuitMessage(7);

    EXPECT_FALSE(page.do_installation());

    // The frame's message was handled during the call; the quit request waits for the outer loop.
    ASSERT_EQ(frame.commands.size(), commands_before + 1);
    EXPECT_EQ(frame.commands.back().first, frame_command);
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);

    EXPECT_EQ(control_text(window.get(), IDC_INSTALL_LOG),
              L"summary\r\n" + std::wstring(45, L'\u2500') + L"\r\nPreparing Installation...Failed\r\n");
    EXPECT_EQ(control_text(window.get(), IDC_STATUS), L"Installation failed (Error Code 4).");
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(window.get(), IDC_INSTALL_PROGRESS)));
    EXPECT_TRUE(installer_context::instance().log.current.empty());
}

TEST_F(install_pages_test, controls_follow_the_page_size)
{
    constexpr int dx = 40, dy = 24;
    const struct {
        basic_dialog* page;
        int template_id;
        int id;
        RECT change; // of left, top, right, bottom
    } controls[] = {
        {&dlg_install::instance(), IDD_INSTALL, IDC_INSTALL_LOG, {0, 0, dx, dy}},
        {&dlg_install::instance(), IDD_INSTALL, IDC_INSTALL_PROGRESS, {0, dy, dx, dy}},
        {&dlg_install::instance(), IDD_INSTALL, IDC_STATUS, {0, dy, dx, dy}},
        {&dlg_end::instance(), IDD_END, IDC_INFO, {0, 0, dx, dy}},
        {&dlg_end::instance(), IDD_END, IDC_STATUS, {0, dy, dx, dy}},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(testing::Message() << "template " << c.template_id << ", control " << c.id);
        test_window page = show_page(*c.page, c.template_id);
        ASSERT_TRUE(page);
        const RECT before = control_rect(page.get(), c.id);
        const SIZE size = test_support::client_size(page.get());
        test_support::resize_client(page.get(), size.cx + dx, size.cy + dy);
        const RECT after = control_rect(page.get(), c.id);
        EXPECT_EQ(after.left - before.left, c.change.left);
        EXPECT_EQ(after.top - before.top, c.change.top);
        EXPECT_EQ(after.right - before.right, c.change.right);
        EXPECT_EQ(after.bottom - before.bottom, c.change.bottom);
    }
}
