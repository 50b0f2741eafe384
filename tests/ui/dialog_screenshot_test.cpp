// Shows the anchor test dialog, grown, on the virtual display and saves its
// picture as screenshots/ui_anchor_dialog.bmp in the build tree, for a
// reviewer to see what the dialog tests drive. The picture is taken by the
// test program itself and cropped to the dialog.
#include <windows.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "support/dialog_harness.h"
#include "support/test_support.h"
#include "ui_driver.h"
#include "ui_test_ids.h"

namespace {

int CALLBACK note_font(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// Caption buttons are drawn with this font; without it they show letters.
TEST(DialogScreenshot, TheSymbolFontOfCaptionButtonsIsInstalled)
{
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    wcscpy(wanted.lfFaceName, L"Marlett");
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &wanted, note_font, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    EXPECT_TRUE(found);
}

TEST(DialogScreenshot, SavesThePictureOfTheAnchorDialog)
{
    const char* binary = std::getenv("HV_TEST_BINARY_DIR");
    if (!binary)
        GTEST_SKIP() << "run through ctest: HV_TEST_BINARY_DIR is not set";

    test_support::test_dialog dialog;
    dialog.anchors = {{IDC_RIGHT, anchor::move_x},
                      {IDC_CORNER, anchor::move_x | anchor::move_y},
                      {IDC_WIDE, anchor::size_x},
                      {IDC_STATUS, anchor::size_x | anchor::move_y},
                      {IDC_TALL, anchor::size_y},
                      {IDC_BOTH, anchor::size_x | anchor::size_y}};
    test_support::test_window window = test_support::show_dialog(dialog, IDD_ANCHORS);
    ASSERT_TRUE(window);
    HWND dlg = window.get();
    SetWindowPos(dlg, nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SIZE start = test_support::client_size(dlg);
    test_support::resize_client(dlg, start.cx + 160, start.cy + 80);
    set_text(GetDlgItem(dlg, IDC_WIDE), L"size_x: stretches to the right");
    set_text(GetDlgItem(dlg, IDC_BOTH), L"size_x | size_y: stretches both ways");
    for (auto item : {L"size_y:", L"grows", L"down"})
        SendDlgItemMessageW(dlg, IDC_TALL, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    test_support::process_messages();

    ui_driver::picture shot = ui_driver::capture_window(dlg);
    RECT rect{};
    GetWindowRect(dlg, &rect);
    EXPECT_EQ(shot.width, rect.right - rect.left);
    EXPECT_EQ(shot.height, rect.bottom - rect.top);
    EXPECT_GT(ui_driver::colour_count(shot), 2u) << "the picture is blank";

    std::wstring folder = test_support::windows_path(std::string(binary) + "/screenshots");
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring output = folder + L"\\ui_anchor_dialog.bmp";
    ui_driver::save_bmp(shot, output);
    ui_driver::picture saved = ui_driver::load_bmp(output);
    EXPECT_EQ(saved.width, shot.width);
    EXPECT_EQ(saved.height, shot.height);
    EXPECT_GT(ui_driver::colour_count(saved), 2u) << ui_driver::utf8(output);
}

}
