// The out-of-process driver against the sample programs: it reads and
// changes controls across processes, on a frame's child pages too, presses
// keys, types, answers message boxes, takes pictures and gets the exit code.
// In-process, it answers the box a failing dialog shows.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/kernel_handle.h"
#include "sample_frame.h"
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

// The frame sample, started for one test and ended with it.
class FrameSample : public ::testing::Test {
protected:
    void SetUp() override
    {
        frame = ui_driver::wait_for_dialog(program.id(), patience, L"Driver frame");
        next = ui_driver::control(frame, IDOK);
    }

    HWND answer_box(const std::wstring& expected_text, int button)
    {
        HWND box = ui_driver::wait_for_message_box(program.id(), frame, patience);
        EXPECT_EQ(ui_driver::message_box_text(box), expected_text);
        ui_driver::answer_message_box(box, button);
        ui_driver::wait_for_close(box, patience);
        return box;
    }

    ui_driver::process program{test_support::build_file(L"tests\\driver\\ui_driver_frame_sample.exe"), L""};
    HWND frame = nullptr;
    HWND next = nullptr;
};

TEST_F(FrameSample, FindsControlsOnTheVisiblePageAndAmongAllDescendants)
{
    EXPECT_THROW(ui_driver::control(frame, IDC_LANGUAGE), ui_driver::driver_error) << "pages hold it, not the frame";
    HWND language_page = ui_driver::visible_page(frame);
    EXPECT_EQ(ui_driver::find_control(frame, IDC_LANGUAGE), ui_driver::control(language_page, IDC_LANGUAGE));
    // Both pages have a title; the visible one comes first.
    EXPECT_EQ(ui_driver::text(ui_driver::find_control(frame, IDC_PAGE_TITLE)), L"Language");
    EXPECT_EQ(ui_driver::text(ui_driver::page_control(frame, IDC_PAGE_TITLE)), L"Language");
    HWND folder = ui_driver::find_control(frame, IDC_FOLDER);
    EXPECT_FALSE(IsWindowVisible(folder)) << "a hidden page's control is still found";
    EXPECT_THROW(ui_driver::page_control(frame, IDC_FOLDER), ui_driver::driver_error);
    EXPECT_THROW(ui_driver::find_control(frame, 4242), ui_driver::driver_error);

    ui_driver::click(next);
    ui_driver::wait_for_visible(folder, true, patience);
    EXPECT_NE(ui_driver::visible_page(frame), language_page);
    EXPECT_EQ(ui_driver::text(ui_driver::page_control(frame, IDC_PAGE_TITLE)), L"Folder");
    EXPECT_EQ(ui_driver::page_control(frame, IDC_FOLDER), folder);
}

TEST_F(FrameSample, ReadsAndPicksComboBoxExItemsInAnyLanguage)
{
    HWND language = ui_driver::find_control(frame, IDC_LANGUAGE);
    HWND greeting = ui_driver::find_control(frame, IDC_GREETING);
    const std::vector<std::wstring> names{L"English", L"\u010Ce\u0161tina", L"\u65E5\u672C\u8A9E"};
    EXPECT_EQ(ui_driver::combo_items(language), names);
    EXPECT_EQ(ui_driver::combo_selection(language), 0);
    EXPECT_THROW(ui_driver::combo_item(language, 3), ui_driver::driver_error);
    for (int index : {1, 2, 0}) {
        ui_driver::pick_combo_item(language, index);
        EXPECT_EQ(ui_driver::combo_selection(language), index);
        EXPECT_EQ(ui_driver::wait_for_text(greeting, sample_greeting(index), patience), sample_greeting(index));
    }
}

TEST_F(FrameSample, KeysTypingAndWaitsTakeTheWizardToItsEnd)
{
    HWND desktop = ui_driver::find_control(frame, IDC_DESKTOP);
    HWND language = ui_driver::find_control(frame, IDC_LANGUAGE);
    ui_driver::pick_combo_item(language, 2);

    // A mnemonic on the child page: focus and a click of its check box.
    ui_driver::press_alt(frame, L'd');
    ui_driver::wait_for_check(desktop, BST_CHECKED, patience);
    ui_driver::wait_for_focus(desktop, patience);
    // Tab moves on inside the page, then out of it to the frame's buttons.
    ui_driver::press_key(frame, ui_driver::key::tab);
    ASSERT_NO_THROW(ui_driver::wait_for_focus(GetWindow(language, GW_CHILD), patience))
        << "the focus goes into the ComboBoxEx's own combo box";
    ui_driver::press_key(frame, ui_driver::key::tab);
    ui_driver::wait_for_focus(next, patience);
    // Shift+Tab walks back the same way; Space toggles the check box.
    ui_driver::press_key(frame, ui_driver::key::shift_tab);
    ui_driver::wait_for_focus(GetWindow(language, GW_CHILD), patience);
    ui_driver::press_key(frame, ui_driver::key::shift_tab);
    ui_driver::wait_for_focus(desktop, patience);
    EXPECT_EQ(GetKeyState(VK_SHIFT) & 0x8000, 0) << "Shift is released afterwards";
    ui_driver::press_key(frame, ui_driver::key::space);
    ui_driver::wait_for_check(desktop, BST_UNCHECKED, patience);
    ui_driver::press_key(frame, ui_driver::key::space);
    ui_driver::wait_for_check(desktop, BST_CHECKED, patience);
    ui_driver::press_key(frame, ui_driver::key::tab);
    ui_driver::wait_for_focus(GetWindow(language, GW_CHILD), patience);
    ui_driver::press_key(frame, ui_driver::key::tab);
    ui_driver::wait_for_focus(next, patience);

    // Enter presses the default button: the folder page, where Next waits for a folder.
    ui_driver::press_key(frame, ui_driver::key::enter);
    HWND folder = ui_driver::find_control(frame, IDC_FOLDER);
    ui_driver::wait_for_visible(folder, true, patience);
    ui_driver::wait_for_enabled(next, false, patience);
    EXPECT_THROW(ui_driver::wait_for_enabled(next, true, std::chrono::milliseconds(100)), ui_driver::driver_error);
    EXPECT_THROW(ui_driver::click(next), ui_driver::driver_error);

    ui_driver::press_alt(frame, L'f');
    ui_driver::wait_for_focus(folder, patience);
    ui_driver::type_text(folder, L"C:\\Sample folder\\\u010Ce\u0161tina", patience);
    ui_driver::wait_for_enabled(next, true, patience);
    ui_driver::type_text(folder, L"", patience);
    ui_driver::wait_for_enabled(next, false, patience);
    ui_driver::type_text(folder, L"D:\\Other", patience);
    ui_driver::wait_for_enabled(next, true, patience);

    // Escape asks before leaving; No stays.
    ui_driver::press_key(frame, ui_driver::key::escape);
    answer_box(L"Leave the sample?", IDNO);
    EXPECT_TRUE(IsWindow(frame));

    EXPECT_THROW(ui_driver::wait_for_close(frame, std::chrono::milliseconds(100)), ui_driver::driver_error);
    ui_driver::press_key(frame, ui_driver::key::enter);
    ui_driver::wait_for_close(frame, patience);
    EXPECT_FALSE(IsWindow(desktop)) << "the pages close with the frame";
    EXPECT_EQ(program.wait_for_exit(patience), std::optional<DWORD>(60 + 2 + 10));
}

TEST_F(FrameSample, ChoosesSystemMenuCommandsAndLeavesThroughTheQuestion)
{
    ui_driver::choose_system_command(frame, IDM_ABOUT_SAMPLE);
    answer_box(L"Driver frame sample", IDOK);
    ui_driver::choose_system_command(frame, SC_CLOSE);
    answer_box(L"Leave the sample?", IDYES);
    EXPECT_EQ(program.wait_for_exit(patience), std::optional<DWORD>(2));
}

TEST_F(FrameSample, RefusesASystemMenuCommandTheMenuLacks)
{
    if (!GetSystemMenu(frame, FALSE))
        GTEST_SKIP() << "another process's system menu cannot be read here (Wine keeps menus per process), "
                        "so the driver cannot tell a missing command";
    EXPECT_THROW(ui_driver::choose_system_command(frame, 0x7770), ui_driver::driver_error);
}

TEST_F(FrameSample, SavesAPictureOfTheFrameCroppedToIt)
{
    RECT rect{};
    GetWindowRect(frame, &rect);
    ui_driver::picture shot = ui_driver::capture_window(frame);
    EXPECT_EQ(shot.width, rect.right - rect.left);
    EXPECT_EQ(shot.height, rect.bottom - rect.top);
    EXPECT_GT(ui_driver::colour_count(shot), 2u) << "the picture is blank";

    wchar_t folder[MAX_PATH]{};
    GetTempPathW(MAX_PATH, folder);
    std::wstring path = std::wstring(folder) + L"hv-driver-frame-" + std::to_wstring(GetCurrentProcessId()) + L".bmp";
    ui_driver::save_bmp(shot, path);
    ui_driver::picture read = ui_driver::load_bmp(path);
    EXPECT_TRUE(DeleteFileW(path.c_str()));
    EXPECT_EQ(read.width, shot.width);
    EXPECT_EQ(read.height, shot.height);
    EXPECT_TRUE(read.pixels == shot.pixels) << "the BMP file holds other pixels";
    EXPECT_EQ(GetFileAttributesW((path + L".partial").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(UiDriverOutput, WritesEveryLanguageAsUtf8)
{
    wchar_t folder[MAX_PATH]{};
    GetTempPathW(MAX_PATH, folder);
    std::wstring path = std::wstring(folder) + L"hv-driver-output-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    {
        kernel_handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file);
        for (int language : {1, 2})
            ui_driver::write_line(file.get(), sample_greeting(language));
    }
    std::ifstream input(path.c_str(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
    input.close();
    DeleteFileW(path.c_str());
    EXPECT_EQ(bytes, "Instalace: Zru\xC5\xA1it\xE2\x80\xA6\n"
                     "\xE3\x82\xA4\xE3\x83\xB3\xE3\x82\xB9\xE3\x83\x88\xE3\x83\xBC\xE3\x83\xAB: "
                     "\xE3\x82\xAD\xE3\x83\xA3\xE3\x83\xB3\xE3\x82\xBB\xE3\x83\xAB\xE2\x80\xA6\n");
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
