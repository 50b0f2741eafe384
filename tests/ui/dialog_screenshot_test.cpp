// Shows the anchor test dialog, grown, on the virtual display and has the
// screenshot script save the display as screenshots/ui_anchor_dialog.png in
// the build tree, for a reviewer to see what the dialog tests drive.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/dialog_harness.h"
#include "support/test_support.h"
#include "ui_test_ids.h"

namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool starts_png(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    char signature[8]{};
    file.read(signature, sizeof signature);
    return file && std::string(signature, 8) == "\x89PNG\r\n\x1a\n";
}

TEST(DialogScreenshot, SavesThePictureOfTheAnchorDialog)
{
    if (!test_support::running_under_wine())
        GTEST_SKIP() << "the screenshot script runs on the Wine host's display";
    std::string state = environment("HV_WINE_STATE");
    std::string source = environment("HV_TEST_SOURCE_DIR");
    std::string binary = environment("HV_TEST_BINARY_DIR");
    if (state.empty() || source.empty() || binary.empty())
        GTEST_SKIP() << "run through ctest: HV_WINE_STATE and the test folders are not set";
    // Wine hands a Unix program its command line split at spaces, quotes or not.
    if ((state + source + binary).find(' ') != std::string::npos)
        GTEST_SKIP() << "the build folders contain spaces";

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

    std::string output = binary + "/screenshots/ui_anchor_dialog.png";
    std::wstring output_path = test_support::windows_path(output);
    DeleteFileW(output_path.c_str());

    // Wine starts a Unix program for a Unix path; it gives no handle to wait
    // on and no exit code, so the finished file is the answer.
    std::string command = "/bin/bash " + source + "/scripts/screenshot.sh " + state + " " + output;
    std::wstring command_line(command.begin(), command.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process))
        << "cannot start the screenshot script, error " << GetLastError();
    if (process.hThread)
        CloseHandle(process.hThread);
    if (process.hProcess)
        CloseHandle(process.hProcess);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (GetFileAttributesW(output_path.c_str()) == INVALID_FILE_ATTRIBUTES
           && std::chrono::steady_clock::now() < deadline) {
        // Keeps the dialog painted while the picture is taken.
        test_support::process_messages();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    ASSERT_NE(GetFileAttributesW(output_path.c_str()), INVALID_FILE_ATTRIBUTES)
        << "no screenshot appeared within 30 s: " << output;
    EXPECT_TRUE(starts_png(output_path)) << output;
}

}
