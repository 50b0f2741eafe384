// Keyboard navigation of a frame and its child pages through pump_messages,
// the loop that keeps the wizard alive while the installation runs: Tab,
// Enter, Escape and mnemonics reach the pages through IsDialogMessageW.
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "sample_frame.h"
#include "sample_ids.h"
#include "support/dialog_harness.h"
#include "ui/basic_dialog.h"
#include "ui_driver.h"

namespace {

using namespace std::chrono_literals;
using ui_driver::key;

class PumpKeyboard : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = test_support::show_dialog(frame, IDD_FRAME);
        ASSERT_TRUE(window);
        SetForegroundWindow(window.get());
        SetActiveWindow(window.get());
        pump_messages(window.get());
    }

    HWND item(int id) { return ui_driver::find_control(window.get(), id); }

    // Gives the control the focus as a click would, and checks it has it.
    void focus(HWND control)
    {
        SetFocus(control);
        pump_messages(window.get());
        ASSERT_EQ(GetFocus(), control) << "the test cannot place the focus";
    }

    void press(key pressed)
    {
        ui_driver::press_key(window.get(), pressed);
        pump_messages(window.get());
    }

    sample_frame frame;
    test_support::test_window window;
};

TEST_F(PumpKeyboard, TabMovesThroughThePageAndTheFrame)
{
    HWND combo = item(IDC_LANGUAGE);
    HWND combo_inner = GetWindow(combo, GW_CHILD);
    struct step {
        HWND from;
        HWND to;
        const char* what;
    };
    const step steps[] = {
        {item(IDC_DESKTOP), combo_inner, "from a check box to the next control of the page"},
        {combo_inner, item(IDOK), "from the page's last control out to the frame's Next"},
        {item(IDOK), item(IDCANCEL), "from Next to Exit, past the disabled Back"},
        {item(IDCANCEL), item(IDC_DESKTOP), "from the frame's last button into the page"},
    };
    for (const auto& s : steps) {
        focus(s.from);
        press(key::tab);
        EXPECT_EQ(GetFocus(), s.to) << s.what;
    }
}

TEST_F(PumpKeyboard, MnemonicsReachTheVisiblePage)
{
    HWND desktop = item(IDC_DESKTOP);
    focus(item(IDOK));
    ui_driver::press_alt(window.get(), L'd');
    pump_messages(window.get());
    EXPECT_EQ(ui_driver::check_state(desktop), BST_CHECKED);
    EXPECT_EQ(GetFocus(), desktop);

    // The folder page is hidden: its mnemonic does nothing yet.
    ui_driver::press_alt(window.get(), L'f');
    pump_messages(window.get());
    EXPECT_EQ(GetFocus(), desktop);

    frame.show_page(1);
    ui_driver::press_alt(window.get(), L'f');
    pump_messages(window.get());
    EXPECT_EQ(GetFocus(), item(IDC_FOLDER)) << "a label's mnemonic focuses the edit after it";
}

TEST_F(PumpKeyboard, EnterPressesTheFramesDefaultButtonFromAPage)
{
    focus(item(IDC_DESKTOP));
    press(key::enter);
    EXPECT_EQ(frame.current_page(), 1);
    EXPECT_EQ(ui_driver::visible_page(window.get()), frame.folder_page.hwnd);
}

TEST_F(PumpKeyboard, EscapeAsksTheFrameBeforeLeaving)
{
    focus(item(IDC_DESKTOP));
    std::wstring asked;
    std::string error;
    std::thread user([&] {
        try {
            HWND box = ui_driver::wait_for_message_box(GetCurrentProcessId(), window.get(), 20s);
            asked = ui_driver::message_box_text(box);
            ui_driver::answer_message_box(box, IDNO);
        }
        catch (const std::exception& e) {
            error = e.what();
        }
    });
    // The question's own loop runs on this thread until the user answers.
    press(key::escape);
    user.join();
    EXPECT_EQ(error, "");
    EXPECT_EQ(asked, L"Leave the sample?");
    EXPECT_TRUE(IsWindowVisible(window.get())) << "No keeps the frame";
}

}
