// The dialog framework on real dialogs of the virtual display: binding,
// message routing and results, anchored layout, window helpers, the
// message pump and what happens to exceptions of a handler.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "support/dialog_harness.h"
#include "platform/error_text.h"
#include "ui/basic_dialog.h"
#include "ui/window_helpers.h"
#include "ui_test_ids.h"

using test_support::test_dialog;
using test_support::test_window;

// Found by argument-dependent lookup, so next to RECT.
bool operator==(const RECT& a, const RECT& b)
{
    return EqualRect(&a, &b) != FALSE;
}

std::ostream& operator<<(std::ostream& out, const RECT& r)
{
    return out << '{' << r.left << ',' << r.top << ',' << r.right << ',' << r.bottom << '}';
}

namespace {

constexpr UINT base_flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS;

TEST(AnchoredPosition, FollowsTheFlags)
{
    const RECT start{10, 20, 110, 70};
    constexpr int dx = 30, dy = -15;
    struct {
        std::uint32_t flags;
        RECT rect;
        UINT extra_flags;
    } cases[] = {
        {0, start, SWP_NOMOVE | SWP_NOSIZE},
        {anchor::move_x, {40, 20, 140, 70}, SWP_NOSIZE},
        {anchor::move_y, {10, 5, 110, 55}, SWP_NOSIZE},
        {anchor::move_x | anchor::move_y, {40, 5, 140, 55}, SWP_NOSIZE},
        {anchor::size_x, {10, 20, 140, 70}, SWP_NOMOVE},
        {anchor::size_y, {10, 20, 110, 55}, SWP_NOMOVE},
        {anchor::size_x | anchor::move_y, {10, 5, 140, 55}, 0},
        {anchor::size_x | anchor::size_y, {10, 20, 140, 55}, SWP_NOMOVE},
        {anchor::move_x | anchor::size_x, {40, 20, 170, 70}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags);
        auto position = anchored_position_for(start, c.flags, dx, dy);
        EXPECT_EQ(position.rect, c.rect);
        EXPECT_EQ(position.flags, base_flags | c.extra_flags);
    }
}

TEST(MoveWindow, NormalisesAndTouchesOnlyWhatChanges)
{
    EXPECT_EQ(normalised(RECT{50, 60, 10, 20}), (RECT{10, 20, 50, 60}));
    EXPECT_EQ(normalised(RECT{10, 60, 50, 20}), (RECT{10, 20, 50, 60}));

    const RECT current{10, 20, 110, 70};
    constexpr UINT always = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER;
    struct {
        RECT target;
        UINT flags;
    } cases[] = {
        {current, always | SWP_NOMOVE | SWP_NOSIZE},
        {{15, 20, 115, 70}, always | SWP_NOSIZE},
        {{10, 20, 120, 70}, always | SWP_NOMOVE | SWP_NOCOPYBITS},
        {{0, 0, 10, 10}, always | SWP_NOCOPYBITS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.target);
        EXPECT_EQ(move_window_flags(current, c.target), c.flags);
    }
}

TEST(DialogResult, OnlyTheFixedMessagesReturnTheirResultDirectly)
{
    for (UINT message : {WM_INITDIALOG, WM_VKEYTOITEM, WM_CHARTOITEM, WM_QUERYDRAGICON, WM_COMPAREITEM})
        EXPECT_TRUE(returns_result_directly(message)) << message;
    for (UINT message : {WM_COMMAND, WM_SYSCOMMAND, WM_SIZE, WM_GETMINMAXINFO, WM_DESTROY, WM_NOTIFY})
        EXPECT_FALSE(returns_result_directly(message)) << message;
}

// One control of the anchor template for each combination the dialogs use,
// with how its edges follow the change (multiples of dx, dy).
struct anchored_case {
    int id;
    std::uint32_t flags;
    int left, top, right, bottom;
};
const anchored_case anchor_cases[] = {
    {IDC_FIXED, 0, 0, 0, 0, 0},
    {IDC_RIGHT, anchor::move_x, 1, 0, 1, 0},
    {IDC_CORNER, anchor::move_x | anchor::move_y, 1, 1, 1, 1},
    {IDC_WIDE, anchor::size_x, 0, 0, 1, 0},
    {IDC_STATUS, anchor::size_x | anchor::move_y, 0, 1, 1, 1},
    {IDC_TALL, anchor::size_y, 0, 0, 0, 1},
    {IDC_BOTH, anchor::size_x | anchor::size_y, 0, 0, 1, 1},
};

class DialogTest : public testing::Test {
protected:
    struct failure {
        HWND window;
        std::wstring text;
    };

    void SetUp() override
    {
        previous_reporter_ = set_dialog_failure_reporter(
            [this](HWND window, const std::wstring& text) { failures.push_back({window, text}); });
        for (const auto& c : anchor_cases)
            dialog.anchors.emplace_back(c.id, c.flags);
    }

    void TearDown() override
    {
        window.reset();
        set_dialog_failure_reporter(previous_reporter_);
    }

    HWND show()
    {
        window = test_support::show_dialog(dialog, IDD_ANCHORS);
        EXPECT_TRUE(window) << "the test template did not load";
        return window.get();
    }

    // The rectangles of the anchor cases' controls, in the table's order.
    std::vector<RECT> anchored_rects() const
    {
        std::vector<RECT> rects;
        for (const auto& c : anchor_cases)
            rects.push_back(test_support::control_rect(window.get(), c.id));
        return rects;
    }

    test_dialog dialog;
    test_window window;
    std::vector<failure> failures;

private:
    dialog_failure_reporter previous_reporter_;
};

TEST_F(DialogTest, BindsOnInitAndStoresTheClientSize)
{
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    EXPECT_EQ(dialog.hwnd, dlg);
    EXPECT_EQ(dialog.init_count, 1);
    EXPECT_EQ(GetWindowLongPtrW(dlg, DWLP_USER), reinterpret_cast<LONG_PTR>(&dialog));
    SIZE client = test_support::client_size(dlg);
    EXPECT_EQ(dialog.width, client.cx);
    EXPECT_EQ(dialog.height, client.cy);

    window.reset();
    EXPECT_EQ(dialog.hwnd, nullptr);
    EXPECT_EQ(dialog.destroy_count, 1);
}

// Records which windows of this thread get these messages, in order.
std::vector<std::pair<UINT, HWND>>* recorded_messages = nullptr;

LRESULT CALLBACK record_message(int code, WPARAM wparam, LPARAM lparam)
{
    auto* sent = reinterpret_cast<CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && recorded_messages
        && (sent->message == WM_GETMINMAXINFO || sent->message == WM_INITDIALOG))
        recorded_messages->push_back({sent->message, sent->hwnd});
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST_F(DialogTest, MinMaxInfoBeforeInitIsLeftToDefaultProcessing)
{
    std::vector<std::pair<UINT, HWND>> messages;
    recorded_messages = &messages;
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, record_message, nullptr, GetCurrentThreadId());
    dialog.min_track_size = {10, 10};
    show();
    UnhookWindowsHookEx(hook);
    recorded_messages = nullptr;

    std::vector<UINT> to_dialog;
    for (auto [message, target] : messages)
        if (target == window.get())
            to_dialog.push_back(message);
    ASSERT_FALSE(to_dialog.empty());
    if (to_dialog.front() != WM_GETMINMAXINFO)
        GTEST_SKIP() << "this system sends no WM_GETMINMAXINFO before WM_INITDIALOG";
    // The early request reached the procedure unbound and never the object.
    EXPECT_EQ(dialog.min_max_unbound, 0);
    auto before_init = std::find(to_dialog.begin(), to_dialog.end(), static_cast<UINT>(WM_INITDIALOG)) - to_dialog.begin();
    auto total = std::count(to_dialog.begin(), to_dialog.end(), static_cast<UINT>(WM_GETMINMAXINFO));
    EXPECT_EQ(dialog.min_max_count, total - before_init);

    // The same on a dialog window that has no object at all.
    test_window unbound(CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ANCHORS),
                                           nullptr, basic_dialog::dialog_proc, 0));
    ASSERT_TRUE(unbound);
    MINMAXINFO info{};
    info.ptMinTrackSize = {1, 2};
    EXPECT_EQ(basic_dialog::dialog_proc(unbound.get(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.ptMinTrackSize.x, 1);
    EXPECT_EQ(info.ptMinTrackSize.y, 2);
}

TEST_F(DialogTest, HandledMinMaxInfoLimitsTheSize)
{
    dialog.min_track_size = {500, 400};
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    SetWindowPos(dlg, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    test_support::process_messages();
    RECT outer{};
    GetWindowRect(dlg, &outer);
    EXPECT_GT(dialog.min_max_count, 0);
    EXPECT_EQ(outer.right - outer.left, 500);
    EXPECT_EQ(outer.bottom - outer.top, 400);
}

TEST_F(DialogTest, ControlsFollowTheirAnchors)
{
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    std::vector<RECT> before = anchored_rects();
    SIZE start = test_support::client_size(dlg);
    constexpr int dx = 60, dy = 40;
    test_support::resize_client(dlg, start.cx + dx, start.cy + dy);
    ASSERT_EQ(test_support::client_size(dlg).cx, start.cx + dx);
    EXPECT_EQ(dialog.width, start.cx + dx);
    EXPECT_EQ(dialog.height, start.cy + dy);

    for (std::size_t i = 0; i < std::size(anchor_cases); ++i) {
        const auto& c = anchor_cases[i];
        SCOPED_TRACE(testing::Message() << "control " << c.id << " flags " << c.flags);
        RECT expected{before[i].left + c.left * dx, before[i].top + c.top * dy,
                      before[i].right + c.right * dx, before[i].bottom + c.bottom * dy};
        EXPECT_EQ(test_support::control_rect(dlg, c.id), expected);
    }
}

TEST_F(DialogTest, GrowingThenShrinkingRestoresEveryControl)
{
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    std::vector<RECT> before = anchored_rects();
    SIZE start = test_support::client_size(dlg);

    test_support::resize_client(dlg, start.cx + 137, start.cy + 91);
    test_support::resize_client(dlg, start.cx, start.cy);

    EXPECT_EQ(anchored_rects(), before);
}

TEST_F(DialogTest, LayoutWithoutControlsStillStoresTheSize)
{
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    RECT right_before = test_support::control_rect(dlg, IDC_RIGHT);

    EXPECT_TRUE(dialog.layout(dialog.width + 50, dialog.height + 20, nullptr, 0));
    SIZE client = test_support::client_size(dlg);
    EXPECT_EQ(dialog.width, client.cx + 50);
    EXPECT_EQ(dialog.height, client.cy + 20);

    // The next change is measured from the stored size: back to the real
    // client size moves the control left by 50.
    anchored_control right{anchor::move_x, GetDlgItem(dlg, IDC_RIGHT)};
    EXPECT_TRUE(dialog.layout(client.cx, client.cy, &right, 1));
    RECT expected = right_before;
    OffsetRect(&expected, -50, 0);
    EXPECT_EQ(test_support::control_rect(dlg, IDC_RIGHT), expected);
}

TEST_F(DialogTest, ControlWithoutFlagsDoesNotChange)
{
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    RECT before = test_support::control_rect(dlg, IDC_FIXED);
    anchored_control fixed{0, GetDlgItem(dlg, IDC_FIXED)};
    EXPECT_TRUE(dialog.layout(dialog.width + 80, dialog.height + 80, &fixed, 1));
    EXPECT_EQ(test_support::control_rect(dlg, IDC_FIXED), before);
}

TEST_F(DialogTest, CommandsReachTheDialogWithIdAndCode)
{
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    for (bool handles : {false, true}) {
        dialog.handles_commands = handles;
        dialog.commands.clear();
        SetWindowLongPtrW(dlg, DWLP_MSGRESULT, 99);
        EXPECT_EQ(basic_dialog::dialog_proc(dlg, WM_COMMAND, MAKEWPARAM(IDC_WIDE, EN_CHANGE), 0), handles ? TRUE : FALSE);
        EXPECT_EQ(GetWindowLongPtrW(dlg, DWLP_MSGRESULT), handles ? 0 : 99);
        ASSERT_EQ(dialog.commands.size(), 1u);
        EXPECT_EQ(dialog.commands[0], std::make_pair(IDC_WIDE, static_cast<int>(EN_CHANGE)));
    }
}

TEST_F(DialogTest, SystemCommandsAreMaskedAndUnhandledOnesKeepTheirDefault)
{
    struct {
        WPARAM sent;
        bool handled;
        int seen;
        bool closes; // default processing of SC_CLOSE asks the dialog to cancel
    } cases[] = {
        {SC_CLOSE | 0x2, false, SC_CLOSE, true},
        {SC_CLOSE, true, SC_CLOSE, false},
        {SC_KEYMENU | 0xF, true, SC_KEYMENU, false},
    };
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "command " << c.sent << (c.handled ? " handled" : ""));
        dialog.handles_sys_commands = c.handled;
        dialog.sys_commands.clear();
        dialog.commands.clear();
        SendMessageW(dlg, WM_SYSCOMMAND, c.sent, 0);
        test_support::process_messages();
        ASSERT_EQ(dialog.sys_commands.size(), 1u);
        EXPECT_EQ(dialog.sys_commands[0], c.seen);
        bool cancelled = std::find(dialog.commands.begin(), dialog.commands.end(),
                                   std::make_pair(IDCANCEL, 0)) != dialog.commands.end();
        EXPECT_EQ(cancelled, c.closes);
    }

    dialog.handles_sys_commands = false;
    SendMessageW(dlg, WM_SYSCOMMAND, SC_MINIMIZE | 0x1, 0);
    test_support::process_messages();
    EXPECT_TRUE(IsIconic(dlg)) << "an unhandled minimize must still minimize";
    SendMessageW(dlg, WM_SYSCOMMAND, SC_RESTORE, 0);
    test_support::process_messages();
    EXPECT_FALSE(IsIconic(dlg));
}

TEST_F(DialogTest, PumpRunsWaitingMessagesAndLeavesTheQuitQueued)
{
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_RIGHT, BN_CLICKED), 0);
    PostQuitMessage(7);
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_CORNER, BN_CLICKED), 0);

    pump_messages(dlg);

    EXPECT_EQ(dialog.commands, (std::vector<std::pair<int, int>>{{IDC_RIGHT, BN_CLICKED}, {IDC_CORNER, BN_CLICKED}}));
    MSG quit{};
    ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit request was lost";
    EXPECT_EQ(quit.wParam, 7u);
    EXPECT_FALSE(PeekMessageW(&quit, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(DialogTest, TextsInAndOut)
{
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    HWND label = GetDlgItem(dlg, IDC_FIXED);
    const std::wstring texts[] = {L"", L"x", L"Zażółć gęślą jaźń \x05D0\x05D1", std::wstring(100000, L'q') + L"end"};
    for (const auto& text : texts) {
        set_text(label, text);
        EXPECT_EQ(get_text(label), text) << "length " << text.size();
    }
    EXPECT_EQ(get_text(nullptr), L"");
}

TEST_F(DialogTest, RectanglesInParentAndMoving)
{
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    RECT screen{};
    GetWindowRect(dlg, &screen);
    EXPECT_EQ(window_rect_in_parent(dlg), screen) << "a top-level window stays in screen coordinates";

    HWND label = GetDlgItem(dlg, IDC_FIXED);
    RECT label_screen{};
    GetWindowRect(label, &label_screen);
    POINT origin{0, 0};
    ClientToScreen(dlg, &origin);
    RECT expected = label_screen;
    OffsetRect(&expected, -origin.x, -origin.y);
    EXPECT_EQ(window_rect_in_parent(label), expected);

    move_window(label, RECT{90, 60, 20, 40});
    EXPECT_EQ(window_rect_in_parent(label), (RECT{20, 40, 90, 60}));
    move_window(label, RECT{25, 45, 95, 65});
    EXPECT_EQ(window_rect_in_parent(label), (RECT{25, 45, 95, 65}));
}

TEST_F(DialogTest, ModalDialogReturnsItsResultAndCanBeBoundAgain)
{
    dialog.initialised = [](test_dialog& self) { EndDialog(self.hwnd, 17); };
    for (int round = 1; round <= 2; ++round) {
        EXPECT_EQ(dialog.create(nullptr, IDD_ANCHORS), 17);
        EXPECT_EQ(dialog.hwnd, nullptr);
        EXPECT_EQ(dialog.init_count, round);
        EXPECT_EQ(dialog.destroy_count, round);
    }
}

TEST_F(DialogTest, MissingTemplateIsNotChecked)
{
    EXPECT_EQ(dialog.create(nullptr, IDD_MISSING), -1);
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    EXPECT_EQ(dialog.create(dlg, IDD_MISSING), 0);
    EXPECT_EQ(dialog.init_count, 1);
}

TEST_F(DialogTest, ChildPageIsUnboundWithItsParent)
{
    HWND dlg = show();
    ASSERT_TRUE(dlg);
    test_dialog page;
    auto child = reinterpret_cast<HWND>(page.create(dlg, IDD_CHILD));
    ASSERT_TRUE(child);
    EXPECT_EQ(page.hwnd, child);
    EXPECT_EQ(GetParent(child), dlg);
    EXPECT_TRUE(GetWindowLongPtrW(child, GWL_STYLE) & WS_CHILD);
    EXPECT_EQ(test_support::control_text(child, IDC_CHILD_TEXT), L"Child page");

    window.reset();
    EXPECT_EQ(page.hwnd, nullptr);
    EXPECT_EQ(page.destroy_count, 1);
}

class failing_dialog : public test_dialog {
public:
    bool fail_init = false;
    bool fail_destroy = false;
    bool fail_command_in_report = false;

    void on_init() override
    {
        test_dialog::on_init();
        if (fail_init)
            throw std::runtime_error("init failed");
    }
    void on_destroy() override
    {
        test_dialog::on_destroy();
        if (fail_destroy)
            throw std::runtime_error("destroy failed");
    }
    bool on_command(int id, int code) override
    {
        test_dialog::on_command(id, code);
        throw std::system_error(ERROR_ACCESS_DENIED, std::system_category(), "command failed");
    }
    bool on_sys_command(int) override { throw 42; }
};

TEST(FailureText, TheUsersTextOfWhatWasCaught)
{
    const std::wstring fail = error_text(static_cast<DWORD>(E_FAIL));
    const struct {
        std::exception_ptr caught;
        std::wstring text;
    } cases[] = {
        {std::make_exception_ptr(std::system_error(ERROR_ACCESS_DENIED, std::system_category(), "open")),
         error_text(ERROR_ACCESS_DENIED)},
        {std::make_exception_ptr(std::system_error(2, std::generic_category())), error_text(3)},
        {std::make_exception_ptr(std::runtime_error("broken command")), fail},
        {std::make_exception_ptr(42), fail},
        {nullptr, fail},
    };
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        EXPECT_EQ(failure_text(cases[row].caught), cases[row].text) << "row " << row;
        EXPECT_FALSE(cases[row].text.empty()) << "row " << row;
    }
}

TEST(FailureText, ShownThroughMessageBoxWithItsCaptionRule)
{
    struct shown_box {
        std::wstring text, caption;
        UINT flags;
    };
    std::vector<shown_box> boxes;
    auto& hooks = ui_hooks::instance();
    const auto saved_hook = hooks.show_message_box;
    hooks.show_message_box = [&](HWND, const wchar_t* text, const wchar_t* caption, UINT flags) {
        boxes.push_back({text, caption ? caption : L"", flags});
        return IDOK;
    };
    failing_dialog failing;
    {
        test_window shown = test_support::show_dialog(failing, IDD_ANCHORS);
        ASSERT_TRUE(shown);
        SendMessageW(shown.get(), WM_COMMAND, MAKEWPARAM(IDC_RIGHT, BN_CLICKED), 0);
    }
    hooks.show_message_box = saved_hook;
    ASSERT_EQ(boxes.size(), 1u) << "the default report did not go through message_box";
    EXPECT_EQ(boxes[0].text, error_text(ERROR_ACCESS_DENIED));
    EXPECT_EQ(boxes[0].caption, default_caption());
    EXPECT_EQ(boxes[0].flags & MB_ICONMASK, UINT{MB_ICONERROR});
}


TEST_F(DialogTest, FailuresInHandlersAreReportedAndStayInside)
{
    failing_dialog failing;
    test_window shown = test_support::show_dialog(failing, IDD_ANCHORS);
    ASSERT_TRUE(shown);
    HWND dlg = shown.get();

    SetWindowLongPtrW(dlg, DWLP_MSGRESULT, 99);
    EXPECT_EQ(basic_dialog::dialog_proc(dlg, WM_COMMAND, MAKEWPARAM(IDC_RIGHT, BN_CLICKED), 0), TRUE);
    EXPECT_EQ(GetWindowLongPtrW(dlg, DWLP_MSGRESULT), 0);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].window, dlg);
    EXPECT_EQ(failures[0].text, error_text(ERROR_ACCESS_DENIED));

    // A failed close request counts as handled: the dialog is not cancelled.
    SendMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[1].text, error_text(static_cast<DWORD>(E_FAIL)));
    EXPECT_EQ(failing.commands.size(), 1u);

    failing.fail_destroy = true;
    shown.reset();
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_EQ(failures[2].window, nullptr) << "a window being destroyed must not own the report";
    EXPECT_EQ(failing.hwnd, nullptr);
}

TEST_F(DialogTest, ModalDialogThatFailsToInitialiseEnds)
{
    failing_dialog failing;
    failing.fail_init = true;
    EXPECT_EQ(failing.create(nullptr, IDD_ANCHORS), -1);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].text, error_text(static_cast<DWORD>(E_FAIL)));
    EXPECT_EQ(failing.hwnd, nullptr);
}

TEST_F(DialogTest, FailureWhileReportingIsNotReportedAgain)
{
    failing_dialog failing;
    test_window shown = test_support::show_dialog(failing, IDD_ANCHORS);
    ASSERT_TRUE(shown);
    HWND dlg = shown.get();
    // Like an error box whose own message loop runs the failing handler again.
    set_dialog_failure_reporter([&](HWND window, const std::wstring& text) {
        failures.push_back({window, text});
        SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_RIGHT, BN_CLICKED), 0);
    });
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_CORNER, BN_CLICKED), 0);
    EXPECT_EQ(failures.size(), 1u);
    EXPECT_EQ(failing.commands.size(), 2u);
}

}
