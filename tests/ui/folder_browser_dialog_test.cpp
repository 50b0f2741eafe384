// The folder browser as the user sees it: a second thread of the test
// plays the user on the dialog the first thread shows.
#include "ui/folder_browser.h"

#include "support/test_support.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace {

struct dialog_search {
    DWORD thread;
    HWND dialog = nullptr;
};

BOOL CALLBACK find_dialog(HWND window, LPARAM data)
{
    auto& search = *reinterpret_cast<dialog_search*>(data);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (IsWindowVisible(window) && lstrcmpW(name, L"#32770") == 0) {
        search.dialog = window;
        return FALSE;
    }
    return TRUE;
}

HWND wait_for_dialog(DWORD thread)
{
    for (int i = 0; i < 300; ++i) {
        dialog_search search{thread};
        EnumThreadWindows(thread, find_dialog, reinterpret_cast<LPARAM>(&search));
        if (search.dialog)
            return search.dialog;
        Sleep(50);
    }
    return nullptr;
}

BOOL CALLBACK find_edit_child(HWND child, LPARAM found)
{
    if (!is_edit_control(child))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

std::wstring edit_text(HWND dialog)
{
    HWND edit = nullptr;
    EnumChildWindows(dialog, find_edit_child, reinterpret_cast<LPARAM>(&edit));
    if (!edit || !IsWindowVisible(edit))
        return L"<no edit>";
    wchar_t text[MAX_PATH] = {};
    SendMessageW(edit, WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(text));
    return text;
}

// The edit's text once it differs from `before`, polling for at most 15 s.
std::wstring edit_text_other_than(HWND dialog, const std::wstring& before)
{
    std::wstring text = edit_text(dialog);
    for (int i = 0; i < 300 && text == before; ++i) {
        Sleep(50);
        text = edit_text(dialog);
    }
    return text;
}

TEST(FolderBrowserDialog, OpensOnTheDeepestExistingFolderAndAppendsTheSubFolder)
{
    const std::wstring initial = L"C:\\windows\\HvBrowseTest-not-there\\Quillmar 3";
    const DWORD ui_thread = GetCurrentThreadId();
    std::wstring shown_first, shown_after_selection;
    std::atomic<bool> found{false};

    std::thread user([&] {
        const HWND dialog = wait_for_dialog(ui_thread);
        if (!dialog)
            return;
        found = true;
        shown_first = edit_text_other_than(dialog, L"");
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(L"C:\\users"));
        shown_after_selection = edit_text_other_than(dialog, shown_first);
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    const std::wstring chosen = browse_for_folder(initial, L"Quillmar 3", message_text(L"Pick a folder"));
    user.join();

    ASSERT_TRUE(found) << "the folder dialog did not appear";
    EXPECT_EQ(chosen, L"") << "cancelled";
    EXPECT_EQ(shown_first, initial);
    EXPECT_EQ(shown_after_selection, L"C:\\users\\Quillmar 3");
}

TEST(FolderBrowserDialog, WildcardSubFolderRunsWithoutEditBox)
{
    const DWORD ui_thread = GetCurrentThreadId();
    std::wstring shown;
    std::thread user([&] {
        const HWND dialog = wait_for_dialog(ui_thread);
        if (!dialog)
            return;
        shown = edit_text_other_than(dialog, L"");
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(L"C:\\users"));
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    const std::wstring chosen = browse_for_folder(L"C:\\windows", L"Quill*", message_text(L"Pick"));
    user.join();
    EXPECT_EQ(chosen, L"C:\\users");
    if (test_support::running_under_wine())
        GTEST_SKIP() << "Wine's new-style folder dialog always has a folder-name edit box";
    EXPECT_EQ(shown, L"<no edit>");
}

}
