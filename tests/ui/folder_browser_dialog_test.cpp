// The folder browser as the user sees it: a second thread of the test
// plays the user on the dialog the first thread shows.
#include "ui/folder_browser.h"

#include "platform/error_text.h"
#include "support/test_support.h"

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

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

HWND edit_of(HWND dialog)
{
    HWND edit = nullptr;
    EnumChildWindows(dialog, find_edit_child, reinterpret_cast<LPARAM>(&edit));
    return edit;
}

// Answers the browser's warning boxes instead of the user, for one test.
class recorded_boxes {
public:
    recorded_boxes() : saved_(ui_hooks::instance().show_message_box)
    {
        ui_hooks::instance().show_message_box = [this](HWND, const wchar_t* text, const wchar_t*, UINT) {
            texts.push_back(text);
            if (raise_once) {
                raise_once = false;
                throw std::runtime_error("the box could not be shown");
            }
            return IDOK;
        };
    }
    recorded_boxes(const recorded_boxes&) = delete;
    recorded_boxes& operator=(const recorded_boxes&) = delete;
    ~recorded_boxes() { ui_hooks::instance().show_message_box = saved_; }

    std::vector<std::wstring> texts;
    bool raise_once = false;

private:
    std::function<int(HWND, const wchar_t*, const wchar_t*, UINT)> saved_;
};

// What the user does on the open dialog, and whether it was still open afterwards.
struct user_step {
    const wchar_t* select = nullptr; // a folder chosen in the tree
    const wchar_t* type = nullptr;   // a text typed into the edit
};

// Runs the browser while a second thread plays `steps`, each ended with OK;
// a dialog still open after the last one is cancelled.
struct browse_run {
    std::wstring chosen;
    bool appeared = false;
    std::vector<bool> open_after_ok;
};

browse_run run_browser(folder_browser& browser, const std::wstring& initial, const std::wstring& sub_folder,
                       std::vector<user_step> steps)
{
    browse_run run;
    const DWORD ui_thread = GetCurrentThreadId();
    std::thread user([&] {
        const HWND dialog = wait_for_dialog(ui_thread);
        if (!dialog)
            return;
        run.appeared = true;
        // Only a sub-folder makes the browser write the edit.
        const bool edit_follows = !sub_folder.empty();
        if (edit_follows)
            edit_text_other_than(dialog, L"");
        for (const user_step& step : steps) {
            const std::wstring before = edit_text(dialog);
            if (step.select) {
                SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(step.select));
                if (edit_follows)
                    edit_text_other_than(dialog, before);
            }
            if (step.type)
                SendMessageW(edit_of(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.type));
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            Sleep(200);
            run.open_after_ok.push_back(IsWindow(dialog) && IsWindowVisible(dialog));
        }
        if (IsWindow(dialog))
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    run.chosen = browser.browse(nullptr, initial, sub_folder);
    user.join();
    return run;
}

TEST(FolderBrowserDialog, OkReturnsWhatTheEditShows)
{
    const struct {
        const char* what;
        user_step step;
        const wchar_t* chosen;
    } cases[] = {
        {"selected folder with the sub-folder", {L"C:\\users", nullptr}, L"C:\\users\\Quillmar 3"},
        {"typed new folder", {nullptr, L"C:\\users\\Brand New"}, L"C:\\users\\Brand New"},
        {"typed with blanks and a separator", {nullptr, L"  C:\\users\\Spaced\\ "}, L"C:\\users\\Spaced"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        recorded_boxes boxes;
        folder_browser browser(L"Pick a folder");
        const browse_run run = run_browser(browser, L"C:\\windows\\Quillmar 3", L"Quillmar 3", {c.step});
        ASSERT_TRUE(run.appeared) << "the folder dialog did not appear";
        EXPECT_EQ(run.chosen, c.chosen);
        EXPECT_EQ(run.open_after_ok, std::vector<bool>{false});
        EXPECT_TRUE(boxes.texts.empty());
    }
}

TEST(FolderBrowserDialog, AnInvalidTypedPathIsRefusedWithAWarningAndTheDialogStays)
{
    recorded_boxes boxes;
    folder_browser browser(L"Pick a folder");
    const browse_run run = run_browser(browser, L"C:\\windows", L"Quillmar 3",
                                       {{nullptr, L"C:\\users\\bad|name"}, {nullptr, L"C:\\users\\Good"}});
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(run.open_after_ok, (std::vector<bool>{true, false}));
    EXPECT_EQ(boxes.texts, std::vector<std::wstring>{system_error_text(ERROR_BAD_PATHNAME, 0)});
    EXPECT_EQ(run.chosen, L"C:\\users\\Good");
}

TEST(FolderBrowserDialog, AFailureWhileCheckingKeepsTheDialogOpen)
{
    recorded_boxes boxes;
    boxes.raise_once = true;
    folder_browser browser(L"Pick a folder");
    const browse_run run = run_browser(browser, L"C:\\windows", L"Quillmar 3",
                                       {{nullptr, L"C:\\users\\bad|name"}, {nullptr, L"C:\\users\\Good"}});
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(run.open_after_ok, (std::vector<bool>{true, false}));
    EXPECT_EQ(run.chosen, L"C:\\users\\Good");
}

TEST(FolderBrowserDialog, AReusedBrowserForgetsTheEarlierEditBox)
{
    folder_browser browser(L"Pick a folder");
    const browse_run first = run_browser(browser, L"C:\\windows", L"Quillmar 3", {});
    ASSERT_TRUE(first.appeared);
    EXPECT_NE(browser.edit, nullptr);
    const browse_run second = run_browser(browser, L"C:\\windows", L"", {{L"C:\\users", nullptr}});
    ASSERT_TRUE(second.appeared);
    EXPECT_EQ(browser.edit, nullptr) << "the handle of a closed dialog's edit box";
    EXPECT_EQ(second.chosen, L"C:\\users");
}

}
