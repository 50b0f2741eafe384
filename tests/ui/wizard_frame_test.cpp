// The wizard frame in this test program, built from the installer's own
// resources: the About item of the system menu across language changes and
// the language list with its flags. (Wine does not show one process's menus
// to another, so the driven tests cannot read the item.)
#include "core/installer_context.h"
#include "platform/language.h"
#include "platform/string_table.h"
#include "resources/resource_ids.h"
#include "support/dialog_harness.h"
#include "support/registry_sandbox.h"
#include "ui/dlg_main.h"
#include "ui/dlg_start.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

class WizardFrame : public testing::Test {
protected:
    // The frame stores its size under the current user when it closes.
    registry_sandbox sandbox{L"wizard frame"};
    test_support::test_window frame;

    void SetUp() override
    {
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, sandbox.key()), ERROR_SUCCESS);
        set_language(1);
        frame = test_support::test_window(CreateDialogParamW(resource_module(), MAKEINTRESOURCEW(IDD_WIZARD), nullptr,
                                                             basic_dialog::dialog_proc,
                                                             reinterpret_cast<LPARAM>(&dlg_main::instance())));
        ASSERT_TRUE(frame);
        test_support::process_messages();
    }

    void TearDown() override
    {
        frame.reset();
        set_language(1);
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    }

    std::vector<std::wstring> about_items() const
    {
        std::vector<std::wstring> items;
        HMENU menu = GetSystemMenu(frame.get(), FALSE);
        for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
            if (GetMenuItemID(menu, i) != about_command)
                continue;
            wchar_t text[128]{};
            GetMenuStringW(menu, i, text, 128, MF_BYPOSITION);
            items.emplace_back(text);
        }
        return items;
    }
};

TEST_F(WizardFrame, AboutItemChangesInPlaceWithTheLanguage)
{
    struct row {
        language_index language;
        std::wstring item;
    };
    const row rows[]{
        {1, L"&About 'Installer'..."},
        {2, L"&Info \u00fcber \u201eInstallationsprogramm\u201c..."},
        {21, L"...\u062d\u0648\u0644 \u00ab\u0628\u0631\u0646\u0627\u0645\u062c \u0627\u0644\u062a\u062b\u0628\u064a\u062a\u00bb"},
        {1, L"&About 'Installer'..."},
    };
    const int items_before = GetMenuItemCount(GetSystemMenu(frame.get(), FALSE));
    for (const row& r : rows) {
        set_language(r.language);
        dlg_main::instance().update_texts();
        EXPECT_EQ(about_items(), std::vector<std::wstring>{r.item}) << "language " << r.language;
        EXPECT_EQ(GetMenuItemCount(GetSystemMenu(frame.get(), FALSE)), items_before);
    }
}

TEST_F(WizardFrame, LanguageListHasAFlagForEveryLanguage)
{
    HWND list = GetDlgItem(dlg_start::instance().hwnd, IDC_LANGUAGE_LIST);
    ASSERT_TRUE(list);
    ASSERT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 10);
    std::vector<int> images;
    std::vector<LPARAM> languages;
    for (int i = 0; i < 10; ++i) {
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
        item.iItem = i;
        ASSERT_TRUE(SendMessageW(list, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        EXPECT_EQ(item.iImage, i) << "flag of item " << i;
        EXPECT_EQ(item.iSelectedImage, i);
        languages.push_back(item.lParam);
    }
    EXPECT_EQ(languages, (std::vector<LPARAM>{0, 1, 2, 11, 3, 4, 15, 19, 9, 7}));
    auto images_list = reinterpret_cast<HIMAGELIST>(SendMessageW(list, CBEM_GETIMAGELIST, 0, 0));
    ASSERT_TRUE(images_list);
    EXPECT_EQ(ImageList_GetImageCount(images_list), 10);
    int width = 0, height = 0;
    ImageList_GetIconSize(images_list, &width, &height);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(width, MulDiv(18, dpi, 96));
    EXPECT_EQ(height, MulDiv(12, dpi, 96));
}

SIZE bitmap_size(HBITMAP bitmap)
{
    BITMAP info{};
    if (!bitmap || !GetObjectW(bitmap, sizeof info, &info))
        return {};
    return {info.bmWidth, info.bmHeight};
}

SIZE flag_size(HWND list)
{
    int width = 0, height = 0;
    ImageList_GetIconSize(reinterpret_cast<HIMAGELIST>(SendMessageW(list, CBEM_GETIMAGELIST, 0, 0)), &width, &height);
    return {width, height};
}

// Only the start page is made with the frame; each other page is made when
// the wizard first turns to it, and at the frame's minimum size every page
// still has the room its template asks for.
TEST_F(WizardFrame, PagesAreMadeWhenFirstShownAndFitAtTheMinimumSize)
{
    dlg_main& wizard = dlg_main::instance();
    ASSERT_TRUE(wizard.pages[start_page]->hwnd);
    for (int index : {mode_page, options_page, install_page, end_page})
        EXPECT_FALSE(wizard.pages[index]->hwnd) << "page " << index;

    MINMAXINFO limits{};
    SendMessageW(frame.get(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    SetWindowPos(frame.get(), nullptr, 0, 0, limits.ptMinTrackSize.x, limits.ptMinTrackSize.y,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    test_support::process_messages();
    for (int index = start_page; index < wizard_page_count; ++index) {
        SCOPED_TRACE(testing::Message() << "page " << index);
        wizard.show_page(index);
        const HWND page = wizard.pages[index]->hwnd;
        ASSERT_TRUE(page);
        EXPECT_TRUE(IsWindowVisible(page));
        const std::uint16_t ids[]{IDD_PAGE_START, IDD_PAGE_MODE, IDD_PAGE_OPTIONS, IDD_INSTALL, IDD_END};
        const HRSRC found = FindResourceW(resource_module(), MAKEINTRESOURCEW(ids[index]), RT_DIALOG);
        ASSERT_TRUE(found);
        const auto units = dialog_template_units(
            {static_cast<const std::byte*>(LockResource(LoadResource(resource_module(), found))),
             SizeofResource(resource_module(), found)});
        ASSERT_TRUE(units);
        RECT wanted{0, 0, units->cx, units->cy};
        MapDialogRect(page, &wanted);
        RECT client{};
        GetClientRect(page, &client);
        EXPECT_GE(client.right, wanted.right);
        EXPECT_GE(client.bottom, wanted.bottom);
    }
}

// A move to a monitor of another DPI: the frame takes the suggested
// rectangle, its minimum size follows the scale, and the side picture and
// the flags are drawn again for the new DPI, in proportion.
TEST_F(WizardFrame, PicturesAndMinimumSizeFollowTheDpi)
{
    HWND picture = GetDlgItem(frame.get(), IDC_SIDE_PICTURE);
    HWND list = GetDlgItem(dlg_start::instance().hwnd, IDC_LANGUAGE_LIST);
    ASSERT_TRUE(picture && list);
    HDC screen = GetDC(nullptr);
    const int start_dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    auto shown = [&] { return bitmap_size(reinterpret_cast<HBITMAP>(SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0))); };
    auto minimum = [&] {
        MINMAXINFO info{};
        SendMessageW(frame.get(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
        return info.ptMinTrackSize;
    };
    // The picture fades out at the bottom, which is cut off where the panel
    // above the separator is shorter, leaving the margin of the top.
    auto room = [&] {
        RECT place{}, separator{};
        GetWindowRect(picture, &place);
        GetWindowRect(GetDlgItem(frame.get(), 1002), &separator);
        return separator.top - place.top - (place.top - [&] {
            RECT client{};
            GetClientRect(frame.get(), &client);
            MapWindowPoints(frame.get(), nullptr, reinterpret_cast<POINT*>(&client), 2);
            return client.top;
        }());
    };
    EXPECT_EQ(shown().cx, MulDiv(88, start_dpi, 96));
    EXPECT_EQ(shown().cy, std::min<LONG>(MulDiv(170, start_dpi, 96), room()));
    EXPECT_EQ(flag_size(list).cx, MulDiv(18, start_dpi, 96));
    EXPECT_EQ(flag_size(list).cy, MulDiv(12, start_dpi, 96));
    const POINT first_minimum = minimum();

    struct dpi_case {
        int dpi;
        SIZE picture;
        SIZE flag;
    };
    const dpi_case cases[]{
        {192, {176, 340}, {36, 24}},
        {120, {110, 213}, {23, 15}},
        {168, {154, 298}, {32, 21}}, // between two drawn scales
        {start_dpi, {MulDiv(88, start_dpi, 96), MulDiv(170, start_dpi, 96)},
         {MulDiv(18, start_dpi, 96), MulDiv(12, start_dpi, 96)}},
    };
    for (const dpi_case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dpi << " DPI");
        RECT suggested{40, 30, 40 + MulDiv(first_minimum.x, c.dpi, start_dpi) + 10,
                       30 + MulDiv(first_minimum.y, c.dpi, start_dpi) + 10};
        SendMessageW(frame.get(), WM_DPICHANGED, MAKEWPARAM(c.dpi, c.dpi), reinterpret_cast<LPARAM>(&suggested));
        test_support::process_messages();
        RECT now{};
        GetWindowRect(frame.get(), &now);
        EXPECT_EQ(now.left, suggested.left);
        EXPECT_EQ(now.top, suggested.top);
        EXPECT_EQ(now.right, suggested.right);
        EXPECT_EQ(now.bottom, suggested.bottom);
        EXPECT_EQ(shown().cx, c.picture.cx);
        EXPECT_EQ(shown().cy, std::min<LONG>(c.picture.cy, room()));
        EXPECT_EQ(flag_size(list).cx, c.flag.cx);
        EXPECT_EQ(flag_size(list).cy, c.flag.cy);
        EXPECT_NEAR(minimum().x, MulDiv(first_minimum.x, c.dpi, start_dpi), 2);
        EXPECT_NEAR(minimum().y, MulDiv(first_minimum.y, c.dpi, start_dpi), 2);
    }
}

// The installer runs elevated: it never writes where a variable of the
// (user's) environment says, as an earlier start-up measurement hook did.
TEST_F(WizardFrame, PaintingWritesNothingAnEnvironmentVariableNames)
{
    const std::filesystem::path target =
        std::filesystem::temp_directory_path() / ("hv-first-paint-" + std::to_string(GetCurrentProcessId()));
    { std::ofstream(target) << "the user's file"; }
    SetEnvironmentVariableW(L"HV_FIRST_PAINT_FILE", target.c_str());
    frame.reset();
    frame = test_support::test_window(CreateDialogParamW(resource_module(), MAKEINTRESOURCEW(IDD_WIZARD), nullptr,
                                                         basic_dialog::dialog_proc,
                                                         reinterpret_cast<LPARAM>(&dlg_main::instance())));
    ASSERT_TRUE(frame);
    ShowWindow(frame.get(), SW_SHOW);
    InvalidateRect(frame.get(), nullptr, TRUE);
    UpdateWindow(frame.get());
    test_support::process_messages();
    SetEnvironmentVariableW(L"HV_FIRST_PAINT_FILE", nullptr);
    std::string content;
    std::getline(std::ifstream(target), content);
    EXPECT_EQ(content, "the user's file");
    std::filesystem::remove(target);
}

}

namespace {

// The About box's icon keeps the rectangle of its template (9, 6, 20, 20
// dialog units): a plain ICON statement would lose the size.
TEST(AboutBox, TheIconFillsTheRectangleOfTheTemplate)
{
    test_support::test_window about(CreateDialogParamW(resource_module(), MAKEINTRESOURCEW(IDD_ABOUT), nullptr,
                                                       about_dialog_proc, 0));
    ASSERT_TRUE(about);
    HWND icon = nullptr;
    for (HWND child = GetWindow(about.get(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            icon = child;
    ASSERT_TRUE(icon);
    EXPECT_TRUE(SendMessageW(icon, STM_GETICON, 0, 0)) << "no icon shown";
    RECT expected{9, 6, 9 + 20, 6 + 20};
    ASSERT_TRUE(MapDialogRect(about.get(), &expected));
    RECT actual{};
    GetWindowRect(icon, &actual);
    MapWindowPoints(nullptr, about.get(), reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    EXPECT_EQ(actual.right, expected.right);
    EXPECT_EQ(actual.bottom, expected.bottom);
}

}
