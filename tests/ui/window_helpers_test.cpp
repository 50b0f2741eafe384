#include "ui/window_helpers.h"

#include "support/dialog_harness.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

using test_support::test_window;

// Records the boxes message_box would show and answers them.
class recorded_boxes : public ::testing::Test {
protected:
    struct box {
        HWND owner;
        std::wstring text;
        std::wstring caption;
        UINT flags;
        bool owner_enabled;
    };
    std::vector<box> boxes;

    void SetUp() override
    {
        ui_hooks::instance().show_message_box = [this](HWND owner, const wchar_t* text, const wchar_t* caption,
                                                       UINT flags) {
            boxes.push_back({owner, text, caption ? caption : L"<null>", flags, owner && IsWindowEnabled(owner)});
            return IDYES;
        };
    }
    void TearDown() override { ui_hooks::instance().show_message_box = nullptr; }
};

test_window make_window(const wchar_t* class_name, DWORD style, HWND owner = nullptr, DWORD ex_style = 0)
{
    return test_window(CreateWindowExW(ex_style, class_name, L"test", style, 10, 10, 200, 100, owner, nullptr,
                                       GetModuleHandleW(nullptr), nullptr));
}

TEST(MessageBoxFlags, DefaultIconByButtonType)
{
    const struct {
        UINT given;
        bool right_to_left;
        UINT expected;
    } cases[] = {
        {MB_OK, false, MB_OK | MB_ICONEXCLAMATION},
        {MB_OKCANCEL, false, MB_OKCANCEL | MB_ICONEXCLAMATION},
        {MB_YESNO, false, MB_YESNO | MB_ICONQUESTION},
        {MB_YESNOCANCEL, false, MB_YESNOCANCEL | MB_ICONQUESTION},
        {MB_ABORTRETRYIGNORE, false, MB_ABORTRETRYIGNORE},
        {MB_RETRYCANCEL, false, MB_RETRYCANCEL},
        {MB_CANCELTRYCONTINUE, false, MB_CANCELTRYCONTINUE},
        {MB_YESNO | MB_ICONQUESTION, false, MB_YESNO | MB_ICONQUESTION},
        {MB_OK | MB_ICONERROR, false, MB_OK | MB_ICONERROR},
        {MB_ICONWARNING | MB_RETRYCANCEL, false, 0x35},
        {MB_OK | MB_USERICON, false, MB_OK},
        {MB_YESNO | MB_TASKMODAL, true, MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_RTLREADING},
    };
    for (const auto& c : cases)
        EXPECT_EQ(message_box_flags(c.given, c.right_to_left), c.expected) << std::hex << c.given;
}

TEST(OwnerWindow, NoWindowNoOwner)
{
    EXPECT_EQ(owner_window(), nullptr);
}

TEST(OwnerWindow, ThreadsCaptionedWindowWithoutActiveWindow)
{
    const auto plain = make_window(L"Static", WS_POPUP);
    EXPECT_EQ(owner_window(), nullptr) << "a window without caption owns no box";
    const auto framed = make_window(L"Static", WS_OVERLAPPEDWINDOW);
    ASSERT_EQ(GetActiveWindow(), nullptr);
    EXPECT_EQ(owner_window(), framed.get());
}

TEST(OwnerWindow, LastActivePopupOfTheActiveWindow)
{
    const auto frame = make_window(L"Static", WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    const auto popup = make_window(L"Static", WS_POPUP | WS_CAPTION | WS_VISIBLE, frame.get());
    SetActiveWindow(popup.get());
    ASSERT_EQ(GetActiveWindow(), popup.get());
    EXPECT_EQ(owner_window(), popup.get());
    SetActiveWindow(frame.get());
    EXPECT_EQ(owner_window(), frame.get()) << "the frame itself was active last";
}

TEST_F(recorded_boxes, WithoutWindowNoOwnerLeftToRightDefaultCaption)
{
    EXPECT_EQ(message_box(L"Some text", nullptr, MB_YESNO), IDYES);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].text, L"Some text");
    // This program has no version resource: the caption is its file name.
    EXPECT_EQ(boxes[0].caption, L"test_ui_window_helpers");
    EXPECT_EQ(boxes[0].flags, UINT{MB_YESNO | MB_ICONQUESTION});
}

TEST_F(recorded_boxes, OwnedBoxEnablesItsOwnerAndFollowsItsLayout)
{
    const auto frame = make_window(L"Static", WS_OVERLAPPEDWINDOW);
    EnableWindow(frame.get(), FALSE);
    message_box(std::wstring(L"Text"), std::wstring(L"Caption"), MB_OK | MB_ICONERROR);
    const auto mirrored = make_window(L"Static", WS_OVERLAPPEDWINDOW, nullptr, WS_EX_LAYOUTRTL);
    SetActiveWindow(mirrored.get());
    message_box(nullptr, L"", MB_OK);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].owner, frame.get());
    EXPECT_TRUE(boxes[0].owner_enabled);
    EXPECT_EQ(boxes[0].caption, L"Caption");
    EXPECT_EQ(boxes[0].flags, UINT{MB_OK | MB_ICONERROR});
    EXPECT_EQ(boxes[1].owner, mirrored.get());
    EXPECT_EQ(boxes[1].text, L"");
    EXPECT_EQ(boxes[1].caption, L"test_ui_window_helpers");
    EXPECT_EQ(boxes[1].flags, UINT{MB_OK | MB_ICONEXCLAMATION | MB_RTLREADING});
}

TEST_F(recorded_boxes, TextsByStringTableId)
{
    message_box(1107u, 1108u, MB_OK);
    message_box(MAKEINTRESOURCEW(1107), MAKEINTRESOURCEW(1116), MB_OK);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"Text by id");
    EXPECT_EQ(boxes[0].caption, L"Caption by id");
    EXPECT_EQ(boxes[1].text, L"Text by id");
    EXPECT_EQ(boxes[1].caption, L"test_ui_window_helpers") << "an absent caption text gives the default";
}

TEST_F(recorded_boxes, ErrorCodeShowsItsTextAsWarning)
{
    show_error_code(ERROR_BUSY);
    show_error_code(0x28000000 + 1107);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(boxes[0].text.empty());
    EXPECT_EQ(boxes[0].flags, UINT{MB_ICONWARNING});
    EXPECT_EQ(boxes[0].caption, L"test_ui_window_helpers");
    EXPECT_EQ(boxes[1].text, L"Text by id");
}

TEST(IsEditControl, ComparesTheFirstFourLettersOfTheClass)
{
    WNDCLASSW editor{};
    editor.lpfnWndProc = DefWindowProcW;
    editor.hInstance = GetModuleHandleW(nullptr);
    editor.lpszClassName = L"EDITor_test";
    RegisterClassW(&editor);
    WNDCLASSW short_name = editor;
    short_name.lpszClassName = L"Edi";
    RegisterClassW(&short_name);

    const struct {
        const wchar_t* class_name;
        bool expected;
    } cases[] = {{L"Edit", true}, {L"EDIT", true}, {L"edit", true}, {L"EDITor_test", true},
                 {L"Edi", false}, {L"Button", false}, {L"Static", false}};
    for (const auto& c : cases) {
        const auto window = make_window(c.class_name, WS_POPUP);
        ASSERT_TRUE(window) << c.class_name;
        EXPECT_EQ(is_edit_control(window.get()), c.expected) << c.class_name;
    }
    EXPECT_FALSE(is_edit_control(nullptr));
}

TEST(KeepVisible, ShiftSteps)
{
    const RECT monitor{0, 0, 1280, 1024};
    const struct {
        RECT r;
        RECT corner_shifted;
        RECT into_area;
    } cases[] = {
        {{100, 100, 300, 200}, {100, 100, 300, 200}, {100, 100, 300, 200}},
        {{-500, 50, -300, 150}, {0, 50, 200, 150}, {0, 50, 200, 150}},
        {{2000, 2000, 2400, 2300}, {1280, 1024, 1680, 1324}, {880, 724, 1280, 1024}},
        {{1200, -40, 1400, 60}, {1200, 0, 1400, 100}, {1080, 0, 1280, 100}},
        {{-10, -10, 2000, 1500}, {0, 0, 2010, 1510}, {0, 0, 2010, 1510}},
    };
    for (const auto& c : cases) {
        const RECT corner = shift_corner_onto(c.r, monitor);
        EXPECT_TRUE(EqualRect(&c.corner_shifted, &corner)) << c.r.left << "," << c.r.top;
        const RECT into = shift_into(c.r, monitor);
        EXPECT_TRUE(EqualRect(&c.into_area, &into)) << c.r.left << "," << c.r.top << " -> " << into.left << ","
                                                    << into.top;
    }
}

TEST(KeepVisible, OnTheDisplaysMonitors)
{
    MONITORINFO primary{};
    primary.cbSize = sizeof primary;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &primary));
    if (GetSystemMetrics(SM_CMONITORS) != 1)
        GTEST_SKIP() << "the positions below assume the single monitor of the virtual display";
    const RECT screen = primary.rcMonitor;
    const RECT work = primary.rcWork;

    RECT gone{screen.right + 3000, screen.top + 200, screen.right + 3400, screen.top + 500};
    keep_visible(gone, 50);
    RECT inside;
    IntersectRect(&inside, &gone, &work);
    EXPECT_TRUE(EqualRect(&inside, &gone)) << gone.left << "," << gone.top;
    EXPECT_EQ(gone.right - gone.left, 400);
    EXPECT_EQ(gone.bottom - gone.top, 300);

    const RECT half{screen.right - 200, screen.top + 100, screen.right + 200, screen.top + 400};
    RECT kept = half;
    keep_visible(kept, 50);
    EXPECT_TRUE(EqualRect(&kept, &half)) << "half of it is visible";

    RECT mostly_off{screen.right - 100, screen.top + 100, screen.right + 300, screen.top + 400};
    keep_visible(mostly_off, 50);
    EXPECT_EQ(mostly_off.right, work.right);
}

}

TEST(PicturePercent, SmallestDrawnScaleThatIsLargeEnough)
{
    struct dpi_case {
        UINT dpi;
        int percent;
    };
    const dpi_case cases[]{{72, 100}, {96, 100}, {97, 125}, {120, 125}, {121, 150}, {144, 150},
                           {168, 200}, {192, 200}, {288, 200}};
    for (const dpi_case& c : cases)
        EXPECT_EQ(picture_percent(c.dpi), c.percent) << c.dpi << " DPI";
}
