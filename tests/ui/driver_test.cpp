// The out-of-process driver against the sample program: it reads and
// changes controls across processes, answers a message box and gets the
// exit code. In-process, it answers the box a failing dialog shows.
#include <windows.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sample_ids.h"
#include "support/dialog_harness.h"
#include "platform/error_text.h"
#include "support/test_support.h"
#include "ui/basic_dialog.h"
#include "ui/window_helpers.h"
#include "ui_driver.h"

namespace {

using namespace std::chrono_literals;

constexpr auto patience = 20s;

TEST(UiDriver, DrivesTheSampleProgramToItsExitCode)
{
    ui_driver::process program(test_support::build_file(L"tests\\driver\\ui_driver_sample.exe"), L"");
    HWND dlg = ui_driver::wait_for_dialog(program.id(), patience, L"Driver sample");

    HWND message = ui_driver::control(dlg, IDC_MESSAGE);
    EXPECT_EQ(ui_driver::text(message), L"Ready to go");
    EXPECT_THROW(ui_driver::control(dlg, 4242), ui_driver::driver_error);

    HWND locked = ui_driver::control(dlg, IDC_LOCKED);
    EXPECT_FALSE(ui_driver::is_enabled(locked));
    EXPECT_THROW(ui_driver::click(locked), ui_driver::driver_error);

    HWND verbose = ui_driver::control(dlg, IDC_VERBOSE);
    EXPECT_TRUE(ui_driver::is_enabled(verbose));
    EXPECT_EQ(ui_driver::check_state(verbose), BST_UNCHECKED);
    EXPECT_TRUE(ui_driver::click(verbose));
    EXPECT_EQ(ui_driver::check_state(verbose), BST_CHECKED);

    HWND choice = ui_driver::control(dlg, IDC_CHOICE);
    EXPECT_EQ(ui_driver::combo_items(choice), (std::vector<std::wstring>{L"Alpha", L"Beta", L"Gamma"}));
    ui_driver::pick_combo_item(choice, 1);
    EXPECT_EQ(ui_driver::combo_selection(choice), 1);
    EXPECT_EQ(ui_driver::text(message), L"Picked 1");
    EXPECT_THROW(ui_driver::pick_combo_item(choice, 7), ui_driver::driver_error);

    // The click opens a modal box, so it is not finished when the box is up.
    EXPECT_FALSE(ui_driver::click(ui_driver::control(dlg, IDC_ASK), 200ms));
    HWND box = ui_driver::wait_for_message_box(program.id(), dlg, patience);
    EXPECT_EQ(ui_driver::text(box), L"Question");
    EXPECT_EQ(ui_driver::message_box_text(box), L"Proceed with the sample?");
    ui_driver::answer_message_box(box, IDYES);
    EXPECT_EQ(ui_driver::wait_for_text(message, L"Answer: Yes", patience), L"Answer: Yes");

    ui_driver::click(ui_driver::control(dlg, IDOK));
    std::optional<DWORD> code = program.wait_for_exit(patience);
    ASSERT_TRUE(code) << "the sample did not end";
    EXPECT_EQ(*code, 40u + 1u + 10u);
}

TEST(UiDriver, WaitingForADialogEnds)
{
    ui_driver::process program(test_support::build_file(L"tests\\driver\\ui_driver_sample.exe"), L"");
    EXPECT_THROW(ui_driver::wait_for_dialog(program.id(), 300ms, L"No such caption"), ui_driver::driver_error);
    program.terminate();
    EXPECT_EQ(program.wait_for_exit(0ms), std::optional<DWORD>(0xDEAD));
}

class throwing_dialog : public test_support::test_dialog {
public:
    bool on_command(int, int) override { throw std::system_error(ERROR_ACCESS_DENIED, std::system_category()); }
};

TEST(DialogFailureBox, TellsTheUserInAnErrorBoxOwnedByTheDialog)
{
    throwing_dialog dialog;
    test_support::test_window window = test_support::show_dialog(dialog, 200);
    ASSERT_TRUE(window);
    HWND dlg = window.get();

    std::wstring box_text, box_caption, error;

    HWND box_owner = nullptr;
    std::thread user([&] {
        try {
            HWND box = ui_driver::wait_for_message_box(GetCurrentProcessId(), dlg, patience);
            box_text = ui_driver::message_box_text(box);
            box_caption = ui_driver::text(box);
            box_owner = GetWindow(box, GW_OWNER);
            ui_driver::answer_message_box(box, IDOK);
        }
        catch (const std::exception& e) {
            std::string what = e.what();
            error.assign(what.begin(), what.end());
        }
    });
    // Runs the default reporter's box on this thread until the user answers.
    SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    user.join();

    EXPECT_EQ(error, L"");
    EXPECT_EQ(box_text, error_text(ERROR_ACCESS_DENIED));
    EXPECT_EQ(box_caption, default_caption());
    EXPECT_EQ(box_owner, dlg);
    EXPECT_TRUE(IsWindow(dlg)) << "the dialog survives the failure";
}

}
