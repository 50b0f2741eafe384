// The real installer in a separate process, driven through its windows as a
// user would: page sequences, buttons, language switch, existing
// installations, the remembered size and the folder edit. Each test sets up
// the prefix state it needs (registered product path, stored size) and puts
// back what was there before.
#include "records/log_test_support.h"
#include "support/test_support.h"
#include "ui_driver.h"

#include <windows.h>
#include <oleacc.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
namespace drv = ui_driver;

constexpr const wchar_t* maker_key = L"Software\\Halden & Voss";
constexpr const wchar_t* product_path_value = L"Quillmar 3 Path";
constexpr const wchar_t* size_value = L"InstallerSize";
constexpr const wchar_t* english_title = L"Installer \u2013 Quillmar 3.05c";
constexpr UINT about_command = 16;

// A registry value that a test changes: its former content is put back (or
// the value removed) at scope end.
class value_guard {
public:
    value_guard(HKEY root, const wchar_t* key, const wchar_t* name) : root_(root), key_(key), name_(name)
    {
        HKEY handle = nullptr;
        key_existed_ = RegOpenKeyExW(root_, key_, 0, KEY_READ, &handle) == ERROR_SUCCESS;
        if (handle)
            RegCloseKey(handle);
        DWORD size = 0;
        if (RegGetValueW(root_, key_, name_, RRF_RT_ANY | RRF_NOEXPAND, &type_, nullptr, &size) == ERROR_SUCCESS) {
            data_.assign(size, 0);
            if (RegGetValueW(root_, key_, name_, RRF_RT_ANY | RRF_NOEXPAND, &type_, data_.data(), &size) == ERROR_SUCCESS)
                existed_ = true;
            data_.resize(size);
        }
        remove();
    }
    value_guard(const value_guard&) = delete;
    value_guard& operator=(const value_guard&) = delete;
    ~value_guard()
    {
        if (existed_)
            set(type_, data_.data(), static_cast<DWORD>(data_.size()));
        else
            remove();
        if (!key_existed_) {
            RegDeleteTreeW(root_, key_);
            RegDeleteKeyW(root_, key_);
        }
    }

    void set(DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(root_, key_, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, name_, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void set(const std::wstring& text)
    {
        set(REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    void remove() { RegDeleteKeyValueW(root_, key_, name_); }

    // The value as it is now: type and bytes; nothing when it is absent.
    std::optional<std::pair<DWORD, std::vector<BYTE>>> read() const
    {
        DWORD type = 0;
        DWORD size = 0;
        if (RegGetValueW(root_, key_, name_, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        std::vector<BYTE> bytes(size);
        if (RegGetValueW(root_, key_, name_, RRF_RT_ANY | RRF_NOEXPAND, &type, bytes.data(), &size) != ERROR_SUCCESS)
            return std::nullopt;
        bytes.resize(size);
        return std::pair{type, bytes};
    }

private:
    HKEY root_;
    const wchar_t* key_;
    const wchar_t* name_;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
    bool existed_ = false;
    bool key_existed_ = false;
};

std::wstring installer_path()
{
    return test_support::build_file(L"src\\Quillmar3Setup.exe");
}

std::wstring product_file(const wchar_t* version)
{
    return test_support::build_file(std::wstring(L"tests\\records\\product_files\\quillmar_") + version + L".exe");
}

// The visible page, once it is the one holding the control `id`.
HWND wait_for_page_with(HWND frame, int id, std::chrono::milliseconds timeout = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        try {
            if (HWND page = drv::visible_page(frame); GetDlgItem(page, id))
                return page;
        }
        catch (const drv::driver_error&) {
            // Between two pages none is shown.
        }
        Sleep(20);
    } while (std::chrono::steady_clock::now() < deadline);
    ADD_FAILURE() << "no visible page with control " << id;
    return nullptr;
}

namespace keyboard {

// The control a user sees focused: a ComboBoxEx for the combo box inside it;
// 0 when nothing in the frame has the focus.
int focused_id(HWND frame)
{
    HWND focus = drv::focused_control(frame);
    if (!focus || !IsChild(frame, focus))
        return 0;
    wchar_t parent_class[64]{};
    GetClassNameW(GetParent(focus), parent_class, 64);
    if (_wcsicmp(parent_class, L"ComboBoxEx32") == 0)
        focus = GetParent(focus);
    return GetDlgCtrlID(focus);
}

// Presses the key and waits until the focus has left the control `from`.
int move_focus(HWND frame, drv::key pressed, int from)
{
    drv::press_key(frame, pressed);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    int now = focused_id(frame);
    while (now == from && std::chrono::steady_clock::now() < deadline) {
        Sleep(20);
        now = focused_id(frame);
    }
    return now;
}

// The controls Tab (or Shift+Tab) visits from the focused one until it comes
// back to it, the focused one first.
std::vector<int> cycle(HWND frame, drv::key pressed)
{
    const int first = focused_id(frame);
    std::vector<int> visited{first};
    for (int step = 0; step < 12; ++step) {
        const int next = move_focus(frame, pressed, visited.back());
        if (next == first)
            break;
        visited.push_back(next);
    }
    return visited;
}

// Waits until the focused control is `id`.
bool focus_comes_to(HWND frame, int id)
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (focused_id(frame) != id) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        Sleep(20);
    }
    return true;
}

// A page just shown has the focus on the expected control, which is visible
// and enabled; Tab goes round the page's and frame's controls in `order`
// (starting with the focused one) and Shift+Tab goes round them backwards.
void expect_page_keys(HWND frame, int focused, const std::vector<int>& order, const char* where)
{
    SCOPED_TRACE(where);
    ASSERT_TRUE(focus_comes_to(frame, focused)) << "the focus is on " << focused_id(frame);
    HWND focus = drv::focused_control(frame);
    EXPECT_TRUE(IsWindowVisible(focus) && IsWindowEnabled(focus)) << "focused control " << focused;
    EXPECT_EQ(cycle(frame, drv::key::tab), order);
    std::vector<int> backwards{order.front()};
    backwards.insert(backwards.end(), order.rbegin(), order.rend() - 1);
    EXPECT_EQ(cycle(frame, drv::key::shift_tab), backwards);
    EXPECT_EQ(focused_id(frame), focused);
}

}

// Page ids by a control only that page has.
constexpr int start_marker = 1023;   // language list
constexpr int mode_marker = 1021;    // mode group box
constexpr int options_marker = 1007; // folder edit
constexpr int install_marker = 1014; // progress bar
constexpr int log_control = 1015;

// The installer started by a test, with its frame found; ended by its id at
// scope end when the test left it running.
struct running_installer {
    drv::process program{installer_path(), L""};
    HWND frame = drv::wait_for_dialog(program.id(), 30s, english_title);

    HWND button(int id) const { return drv::control(frame, id); }
    std::wstring caption(int id) const { return drv::text(button(id)); }
    bool enabled(int id) const { return drv::is_enabled(button(id)); }
    HWND page_item(HWND page, int id) const { return drv::control(page, id); }

    // Clicks a frame button whose handling may open a modal box.
    void press(int id) const { PostMessageW(button(id), BM_CLICK, 0, 0); }

    DWORD exit_code()
    {
        const auto code = program.wait_for_exit(30s);
        if (!code) {
            ADD_FAILURE() << "the installer did not end";
            return ~0u;
        }
        return *code;
    }

    // Exit, answering a question with `answer` when one comes.
    void leave_answering(int answer)
    {
        press(IDCANCEL);
        const HWND box = drv::wait_for_message_box(program.id(), frame, 10s);
        drv::answer_message_box(box, answer);
    }

    // Exit asks: No keeps the wizard open, Yes ends it with exit code 0.
    void leave_after_refusing_once()
    {
        leave_answering(IDNO);
        EXPECT_FALSE(program.wait_for_exit(500ms)) << "No keeps the wizard open";
        EXPECT_TRUE(IsWindow(frame));
        leave_answering(IDYES);
        EXPECT_EQ(exit_code(), 0u);
    }

    // From the start page to the options page of an advanced installation.
    HWND open_options();
};

HWND running_installer::open_options()
{
    if (!drv::click(button(IDOK)))
        ADD_FAILURE() << "Next on the start page";
    HWND mode = wait_for_page_with(frame, mode_marker);
    if (!mode || !drv::click(page_item(mode, 1019)) || !drv::click(button(IDOK)))
        ADD_FAILURE() << "advanced installation on the mode page";
    return wait_for_page_with(frame, options_marker);
}

// What the frame's buttons show and allow, against the table of the page.
struct button_row {
    const wchar_t* back;
    bool back_enabled;
    const wchar_t* next;
    bool next_enabled;
    const wchar_t* exit;
};

void expect_buttons(const running_installer& installer, const button_row& row, const char* where)
{
    SCOPED_TRACE(where);
    EXPECT_EQ(installer.caption(3), row.back);
    EXPECT_EQ(installer.enabled(3), row.back_enabled);
    EXPECT_EQ(installer.caption(IDOK), row.next);
    EXPECT_EQ(installer.enabled(IDOK), row.next_enabled);
    EXPECT_EQ(installer.caption(IDCANCEL), row.exit);
    EXPECT_TRUE(installer.enabled(IDCANCEL));
    EXPECT_EQ(SendMessageW(installer.frame, DM_GETDEFID, 0, 0), MAKELRESULT(IDOK, DC_HASDEFID));
}

// Prefix state of every driven test: no registered product (unless the test
// registers one) and no stored size.
class WizardDriven : public testing::Test {
protected:
    value_guard registered{HKEY_LOCAL_MACHINE, maker_key, product_path_value};
    value_guard stored_size{HKEY_CURRENT_USER, maker_key, size_value};

    void SetUp() override
    {
        if (!test_support::running_under_wine())
            GTEST_SKIP() << "drives the installer on the test session's virtual display";
    }
};

TEST_F(WizardDriven, QuickAndAdvancedSequencesWithTheirButtons)
{
    running_installer installer;
    ASSERT_TRUE(installer.frame);

    wait_for_page_with(installer.frame, start_marker);
    expect_buttons(installer, {L"< Back", false, L"Next >", true, L"Cancel"}, "page 0");

    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    HWND mode = wait_for_page_with(installer.frame, mode_marker);
    expect_buttons(installer, {L"< Back", true, L"Next >", true, L"Cancel"}, "page 1");
    EXPECT_EQ(drv::check_state(installer.page_item(mode, 1018)), BST_CHECKED) << "quick is the default";

    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    HWND install = wait_for_page_with(installer.frame, install_marker);
    expect_buttons(installer, {L"< Back", true, L"Install", true, L"Cancel"}, "page 3 of a quick installation");

    ASSERT_TRUE(drv::click(installer.button(3)));
    EXPECT_EQ(wait_for_page_with(installer.frame, mode_marker), mode) << "Back from page 3 of a quick installation";

    ASSERT_TRUE(drv::click(installer.page_item(mode, 1019)));
    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    wait_for_page_with(installer.frame, options_marker);
    expect_buttons(installer, {L"< Back", true, L"Next >", true, L"Cancel"}, "page 2");

    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    EXPECT_EQ(wait_for_page_with(installer.frame, install_marker), install);
    ASSERT_TRUE(drv::click(installer.button(3)));
    wait_for_page_with(installer.frame, options_marker);
    ASSERT_TRUE(drv::click(installer.button(3)));
    wait_for_page_with(installer.frame, mode_marker);
    ASSERT_TRUE(drv::click(installer.button(3)));
    wait_for_page_with(installer.frame, start_marker);
    expect_buttons(installer, {L"< Back", false, L"Next >", true, L"Cancel"}, "page 0 again");

    installer.leave_answering(IDYES);
    EXPECT_EQ(installer.exit_code(), 0u);
}

TEST_F(WizardDriven, ExitAsksAndNoStays)
{
    running_installer installer;
    ASSERT_TRUE(installer.frame);
    const HWND box = (installer.press(IDCANCEL), drv::wait_for_message_box(installer.program.id(), installer.frame, 10s));
    EXPECT_EQ(drv::message_box_text(box), L"Installation is not complete.\n\nDo you still confirm exit Installation ?");
    EXPECT_EQ(drv::text(box), english_title);
    drv::answer_message_box(box, IDNO);
    installer.leave_after_refusing_once();
}

TEST_F(WizardDriven, StartPageSaysWhatWillHappen)
{
    struct state_case {
        const wchar_t* installed; // version of the registered program, none when null
        const wchar_t* situation;
        const wchar_t* status;
        bool next_enabled;
    };
    const state_case cases[]{
        {nullptr, L"'Quillmar 3.05c' Installation.", L"Click on 'Next' to continue.", true},
        {L"3_10_0_0", L"'Quillmar 3.05c' Installation.\nA more recent Version (Quillmar 3.10) is already installed.",
         L"Click on 'Cancel' to exit Installation.", false},
        {L"3_5_3_1", L"'Quillmar 3.05c' is already installed.\nDo you confirm Reinstallation ?",
         L"Click on 'Next' to continue or on 'Cancel' to exit Installation.", true},
        {L"3_5_2_9", L"Update from 'Quillmar 3.05b' to 'Quillmar 3.05c'.", L"Click on 'Next' to continue.", true},
    };
    for (const state_case& c : cases) {
        SCOPED_TRACE(c.installed ? drv::utf8(c.installed) : "nothing installed");
        if (c.installed)
            registered.set(product_file(c.installed));
        else
            registered.remove();
        running_installer installer;
        ASSERT_TRUE(installer.frame);
        HWND start = wait_for_page_with(installer.frame, start_marker);
        EXPECT_EQ(drv::text(installer.page_item(start, 1016)), c.situation);
        EXPECT_EQ(drv::text(installer.page_item(start, 1003)), c.status);
        EXPECT_EQ(installer.enabled(IDOK), c.next_enabled);
        EXPECT_FALSE(installer.enabled(3));
        EXPECT_TRUE(keyboard::focus_comes_to(installer.frame, c.next_enabled ? IDOK : IDCANCEL))
            << "the focus is on " << keyboard::focused_id(installer.frame);
        if (!c.next_enabled) {
            drv::press_key(installer.frame, drv::key::enter);
            Sleep(300);
            EXPECT_EQ(drv::visible_page(installer.frame), start) << "Enter does not pass a disabled Next";
        }

        // A newer version can only be left, and a reinstallation not begun yet
        // needs no question; every other start asks.
        const bool asks = !c.installed || std::wstring(c.installed) == L"3_5_2_9";
        if (asks)
            installer.leave_answering(IDYES);
        else
            installer.press(IDCANCEL);
        EXPECT_EQ(installer.exit_code(), 0u);
    }
}

TEST_F(WizardDriven, SameVersionInstalledAsksAfterTheStartPage)
{
    registered.set(product_file(L"3_5_3_1"));
    running_installer installer;
    ASSERT_TRUE(installer.frame);
    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    wait_for_page_with(installer.frame, mode_marker);
    installer.leave_after_refusing_once();
}

TEST_F(WizardDriven, ExistingInstallationKeepsItsFolder)
{
    registered.set(product_file(L"3_5_2_9"));
    running_installer installer;
    ASSERT_TRUE(installer.frame);
    HWND options = installer.open_options();
    const HWND edit = installer.page_item(options, 1007);
    EXPECT_TRUE(GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) << "the folder edit is read-only";
    EXPECT_FALSE(drv::is_enabled(installer.page_item(options, 1006))) << "Browse is disabled";
    EXPECT_FALSE(drv::is_enabled(installer.page_item(options, 1009)));
    EXPECT_TRUE(drv::is_enabled(installer.page_item(options, 1010))) << "the shortcut boxes stay active";
    EXPECT_TRUE(drv::is_enabled(installer.page_item(options, 1011)));

    installer.leave_answering(IDYES);
    EXPECT_EQ(installer.exit_code(), 0u);
}

TEST_F(WizardDriven, LanguageSwitchChangesEveryText)
{
    running_installer installer;
    ASSERT_TRUE(installer.frame);
    HWND start = wait_for_page_with(installer.frame, start_marker);
    HWND list = installer.page_item(start, 1023);
    const std::vector<std::wstring> languages{L"Fran\u00e7ais", L"English", L"Deutsch", L"Italiano",
                                              L"Espa\u00f1ol", L"Portugu\u00eas", L"Polski", L"Magyar",
                                              L"Rom\u00e2n\u0103", L"T\u00fcrk\u00e7e"};
    EXPECT_EQ(drv::combo_items(list), languages);
    EXPECT_EQ(drv::combo_selection(list), 1) << "English, second in the list";

    drv::pick_combo_item(list, 2); // German
    EXPECT_EQ(drv::wait_for_text(installer.frame, L"Installationsprogramm \u2013 Quillmar 3.05c", 5s),
              L"Installationsprogramm \u2013 Quillmar 3.05c");
    EXPECT_EQ(installer.caption(IDOK), L"Weiter >");
    EXPECT_EQ(installer.caption(3), L"< Zur\u00fcck");
    EXPECT_EQ(installer.caption(IDCANCEL), L"Abbrechen");
    EXPECT_EQ(drv::text(installer.page_item(start, 1022)), L"Installationssprache ausw\u00e4hlen");

    // Hidden pages changed too.
    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    HWND mode = wait_for_page_with(installer.frame, mode_marker);
    EXPECT_EQ(drv::text(installer.page_item(mode, 1021)), L"Installationsart");
    ASSERT_TRUE(drv::click(installer.page_item(mode, 1019)));
    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    HWND options = wait_for_page_with(installer.frame, options_marker);
    EXPECT_EQ(drv::text(installer.page_item(options, 1008)), L"Auswahl des Installationsordners");
    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    HWND install = wait_for_page_with(installer.frame, install_marker);
    EXPECT_EQ(drv::text(installer.page_item(install, 1003)),
              L"Klicken Sie auf \u201eInstallieren\u201c, um die Installation zu starten.");
    EXPECT_EQ(installer.caption(IDOK), L"Installieren");

    // The About item itself is checked in-process (Wine does not show one
    // process's menus to another); its box comes in the new language.
    drv::choose_system_command(installer.frame, about_command);
    const HWND about = drv::wait_for_dialog(installer.program.id(), 10s, {}, installer.frame);
    EXPECT_EQ(drv::text(about), L"Info \u00fcber \u201eInstallationsprogramm\u201c");
    ASSERT_TRUE(drv::click(drv::control(about, IDOK)));
    drv::wait_for_close(about, 10s);

    installer.leave_answering(IDYES);
    EXPECT_EQ(installer.exit_code(), 0u);
}

TEST_F(WizardDriven, PolishInstallsInPolishButTheWizardStaysEnglish)
{
    running_installer installer;
    ASSERT_TRUE(installer.frame);
    HWND start = wait_for_page_with(installer.frame, start_marker);
    HWND list = installer.page_item(start, 1023);
    // The choice opens a message box, so the notification is posted, not sent.
    ASSERT_NE(SendMessageW(list, CB_SETCURSEL, 6, 0), CB_ERR);
    PostMessageW(start, WM_COMMAND, MAKEWPARAM(1023, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    const HWND box = drv::wait_for_message_box(installer.program.id(), installer.frame, 10s);
    EXPECT_EQ(drv::message_box_text(box),
              L"'Quillmar' will be installed in the selected Langage, but the Installer, still under translation, "
              L"shall run in English.");
    drv::answer_message_box(box, IDOK);
    EXPECT_EQ(drv::wait_for_text(installer.frame, english_title, 5s), english_title);
    EXPECT_EQ(installer.caption(IDOK), L"Next >");
    EXPECT_EQ(drv::combo_selection(list), 6);

    installer.leave_answering(IDYES);
    EXPECT_EQ(installer.exit_code(), 0u);
}

TEST_F(WizardDriven, AboutBoxFromTheSystemMenu)
{
    running_installer installer;
    ASSERT_TRUE(installer.frame);
    drv::choose_system_command(installer.frame, about_command);
    const HWND about = drv::wait_for_dialog(installer.program.id(), 10s, L"About 'Installer'", installer.frame);
    ASSERT_TRUE(about);
    EXPECT_EQ(drv::text(drv::control(about, 1020)), L"Copyright (C) 2026 Halden & Voss");
    EXPECT_EQ(drv::text(drv::control(about, IDOK)), L"OK");
    EXPECT_EQ(GetWindow(about, GW_OWNER), installer.frame);

    RECT frame{}, box{};
    GetWindowRect(installer.frame, &frame);
    GetWindowRect(about, &box);
    EXPECT_LE(std::abs((frame.left + frame.right) - (box.left + box.right)), 2) << "centred on the frame";
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (box.top + box.bottom)), 2);

    ASSERT_TRUE(drv::click(drv::control(about, IDOK)));
    installer.leave_answering(IDYES);
    EXPECT_EQ(installer.exit_code(), 0u);
}

SIZE outer_size(HWND window)
{
    RECT r{};
    GetWindowRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

// Pixels per dialog unit of the pages, from a control that keeps its template size.
struct dialog_units {
    double x, y;
};
dialog_units units_of(HWND start_page)
{
    RECT label{};
    GetWindowRect(GetDlgItem(start_page, 1022), &label); // 141 x 8 units
    return {(label.right - label.left) / 141.0, (label.bottom - label.top) / 8.0};
}

TEST_F(WizardDriven, OpensLargeEnoughForTheLargestPageAndStoresItsSize)
{
    SIZE minimum{};
    {
        running_installer installer;
        ASSERT_TRUE(installer.frame);
        HWND start = wait_for_page_with(installer.frame, start_marker);
        minimum = outer_size(installer.frame);
        const dialog_units units = units_of(start);
        RECT page{};
        GetClientRect(start, &page);
        // The mode page is 279 units wide, the options page 116 high.
        EXPECT_GE(page.right, static_cast<LONG>(279 * units.x) - 2);
        EXPECT_GE(page.bottom, static_cast<LONG>(116 * units.y) - 2);
        RECT client{};
        GetClientRect(installer.frame, &client);
        EXPECT_GT(client.right, static_cast<LONG>(273 * units.x)) << "wider than the frame's template";
        EXPECT_GT(client.bottom, static_cast<LONG>(139 * units.y)) << "taller than the frame's template";

        installer.leave_answering(IDYES);
        EXPECT_EQ(installer.exit_code(), 0u);
    }
    const auto written = stored_size.read();
    ASSERT_TRUE(written) << "the size is written at exit";
    EXPECT_EQ(written->first, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(written->second.size(), 8u);
    std::int32_t pair[2]{};
    std::memcpy(pair, written->second.data(), 8);
    EXPECT_EQ(pair[0], minimum.cx);
    EXPECT_EQ(pair[1], minimum.cy);

    struct stored_case {
        const char* what;
        DWORD type;
        std::vector<std::int32_t> values;
        SIZE expected;
    };
    const stored_case cases[]{
        {"larger", REG_BINARY, {minimum.cx + 60, minimum.cy + 40}, {minimum.cx + 60, minimum.cy + 40}},
        {"smaller, raised to the minimum", REG_BINARY, {10, 10}, minimum},
        {"wider only", REG_BINARY, {minimum.cx + 30, 10}, {minimum.cx + 30, minimum.cy}},
        {"12 bytes, ignored", REG_BINARY, {minimum.cx + 60, minimum.cy + 40, 0}, minimum},
        {"REG_DWORD, ignored", REG_DWORD, {minimum.cx + 60}, minimum},
    };
    for (const stored_case& c : cases) {
        SCOPED_TRACE(c.what);
        stored_size.set(c.type, c.values.data(), static_cast<DWORD>(c.values.size() * sizeof(std::int32_t)));
        running_installer installer;
        ASSERT_TRUE(installer.frame);
        wait_for_page_with(installer.frame, start_marker);
        const SIZE size = outer_size(installer.frame);
        EXPECT_EQ(size.cx, c.expected.cx);
        EXPECT_EQ(size.cy, c.expected.cy);
        installer.leave_answering(IDYES);
        EXPECT_EQ(installer.exit_code(), 0u);
    }
}


// What an installation leaves outside its own folder, removed afterwards when
// it was not there before: the shared data folder, the examples on the
// public desktop, the product's links in the Start menu and on the desktops,
// and the product's Uninstall entry.
class installation_traces {
public:
    installation_traces()
    {
        for (auto [id, name] : {std::pair{&FOLDERID_ProgramData, L"Halden & Voss"},
                                std::pair{&FOLDERID_RoamingAppData, L"Halden & Voss"},
                                std::pair{&FOLDERID_PublicDesktop, L"Quillmar Examples"}}) {
            PWSTR base = nullptr;
            if (SUCCEEDED(SHGetKnownFolderPath(*id, 0, nullptr, &base))) {
                const std::filesystem::path folder = std::filesystem::path(base) / name;
                if (!std::filesystem::exists(folder))
                    new_folders_.push_back(folder);
            }
            CoTaskMemFree(base);
        }
        for (const wchar_t* key : {uninstall_entry, document_type, document_class})
            if (!key_exists(key))
                new_keys_.push_back(key);
        links_before_ = product_links();
        path_existed_ = RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Halden & Voss", registered_path, RRF_RT_ANY,
                                     nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }
    installation_traces(const installation_traces&) = delete;
    installation_traces& operator=(const installation_traces&) = delete;
    ~installation_traces()
    {
        for (const auto& folder : new_folders_)
            scratch_folder::remove_all(folder);
        for (const auto& link : product_links())
            if (std::find(links_before_.begin(), links_before_.end(), link) == links_before_.end()) {
                std::error_code ignored;
                std::filesystem::remove(link, ignored);
            }
        // The installed product registers its path and document type.
        for (const wchar_t* key : new_keys_) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
        }
        if (!path_existed_)
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Halden & Voss", registered_path);
    }

private:
    static constexpr const wchar_t* uninstall_entry =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3";
    static constexpr const wchar_t* document_type = L"Software\\Classes\\.qmd";
    static constexpr const wchar_t* document_class = L"Software\\Classes\\Quillmar.Document.3";
    static constexpr const wchar_t* registered_path = L"Quillmar 3 Path";

    static bool key_exists(const wchar_t* path)
    {
        HKEY key = nullptr;
        const bool exists = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (key)
            RegCloseKey(key);
        return exists;
    }

    // The "Quillmar…" links in both Start-menu program folders and on both desktops.
    static std::vector<std::filesystem::path> product_links()
    {
        std::vector<std::filesystem::path> links;
        for (const KNOWNFOLDERID* id :
             {&FOLDERID_CommonPrograms, &FOLDERID_Programs, &FOLDERID_PublicDesktop, &FOLDERID_Desktop}) {
            PWSTR base = nullptr;
            if (SUCCEEDED(SHGetKnownFolderPath(*id, 0, nullptr, &base))) {
                std::error_code error;
                for (const auto& entry : std::filesystem::directory_iterator(base, error))
                    if (entry.path().extension() == L".lnk" && entry.path().filename().wstring().rfind(L"Quillmar", 0) == 0)
                        links.push_back(entry.path());
            }
            CoTaskMemFree(base);
        }
        return links;
    }

    std::vector<std::filesystem::path> new_folders_;
    std::vector<std::filesystem::path> links_before_;
    std::vector<const wchar_t*> new_keys_;
    bool path_existed_ = false;
};

// An advanced installation into a folder of the test's own, without shortcuts.
class WizardInstallation : public WizardDriven {
protected:
    scratch_folder scratch{L"wizard"};
    installation_traces traces;

    // Leads the installer to page 3 with the folder typed and both shortcuts off.
    void prepare(running_installer& installer, const std::wstring& folder)
    {
        ASSERT_TRUE(installer.frame);
        HWND options = installer.open_options();
        drv::type_text(installer.page_item(options, 1007), folder, 5s);
        for (int box : {1010, 1011})
            if (drv::check_state(installer.page_item(options, box)) == BST_CHECKED) {
                ASSERT_TRUE(drv::click(installer.page_item(options, box)));
            }
        ASSERT_TRUE(drv::click(installer.button(IDOK)));
        wait_for_page_with(installer.frame, install_marker);
    }

    // Presses Install; the click returns when its handler, the whole
    // installation, has ended.
    void install(running_installer& installer)
    {
        EXPECT_TRUE(drv::click(installer.button(IDOK), 120s)) << "the installation did not end in time";
    }
};

TEST_F(WizardInstallation, CompletedThenEndPageAndBackToTheLog)
{
    const std::wstring folder = (scratch / L"Quillmar").wstring();
    running_installer installer;
    prepare(installer, folder);
    install(installer);
    HWND install_page = wait_for_page_with(installer.frame, install_marker);
    expect_buttons(installer, {L"< Back", false, L"Next >", true, L"Exit"}, "page 3 after a completed installation");
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder) / L"Quillmar.exe"));

    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    HWND end = wait_for_page_with(installer.frame, 1016);
    EXPECT_NE(end, install_page);
    EXPECT_EQ(installer.caption(3), L"< Back");
    EXPECT_TRUE(installer.enabled(3));
    EXPECT_FALSE(installer.enabled(IDOK));
    EXPECT_EQ(installer.caption(IDCANCEL), L"Exit");
    EXPECT_EQ(SendMessageW(installer.frame, DM_GETDEFID, 0, 0), MAKELRESULT(IDCANCEL, DC_HASDEFID));

    ASSERT_TRUE(drv::click(installer.button(3)));
    EXPECT_EQ(wait_for_page_with(installer.frame, install_marker), install_page) << "Back returns to the log";
    expect_buttons(installer, {L"< Back", false, L"Next >", true, L"Exit"}, "the log again");
    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    EXPECT_EQ(wait_for_page_with(installer.frame, 1016), end);

    installer.press(IDCANCEL);
    EXPECT_EQ(installer.exit_code(), 0u) << "no question once installed";
}

TEST_F(WizardInstallation, FailedInstallationOffersInstallAgain)
{
    // A folder below a file cannot be created.
    const std::filesystem::path blocker = scratch / L"file";
    write_bytes(blocker, "not a folder");
    running_installer installer;
    prepare(installer, (blocker / L"Quillmar").wstring());
    install(installer);
    expect_buttons(installer, {L"< Back", false, L"Install", true, L"Cancel"}, "page 3 after a failed installation");
    installer.leave_answering(IDNO);
    EXPECT_FALSE(installer.program.wait_for_exit(500ms)) << "nothing is installed, so Exit asks";
    installer.leave_answering(IDYES);
    EXPECT_EQ(installer.exit_code(), 0u);
}

TEST_F(WizardDriven, SummaryFollowsTheFolderTypedOnTheWayBack)
{
    running_installer installer;
    ASSERT_TRUE(installer.frame);
    HWND options = installer.open_options();
    EXPECT_EQ(drv::text(installer.page_item(options, 1007)), L"C:\\Program Files\\Halden & Voss\\Quillmar 3");
    EXPECT_TRUE(drv::is_enabled(installer.page_item(options, 1006))) << "Browse";

    struct typed_case {
        const wchar_t* typed;
        const wchar_t* folder;
    };
    const typed_case cases[]{
        {L"Tools\\Quillmar", L"C:\\Program Files\\Tools\\Quillmar"},
        {L"C:/Apps//Quillmar/./x/..", L"C:\\Apps\\Quillmar\\"},
        {L"\\Apps\\Quillmar", L"C:\\Apps\\Quillmar"},
    };
    bool desktop = true;
    for (const typed_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "typed " << drv::utf8(c.typed));
        drv::type_text(installer.page_item(options, 1007), c.typed, 5s);
        ASSERT_TRUE(drv::click(installer.page_item(options, 1010)));
        desktop = !desktop;
        ASSERT_TRUE(drv::click(installer.button(IDOK)));
        HWND install = wait_for_page_with(installer.frame, install_marker);
        const std::wstring summary = drv::text(installer.page_item(install, log_control));
        EXPECT_NE(summary.find(std::wstring(L"\"") + c.folder + L"\""), std::wstring::npos) << drv::utf8(summary);
        EXPECT_EQ(summary.find(L"Desktop") != std::wstring::npos, desktop) << drv::utf8(summary);
        EXPECT_EQ(drv::text(installer.page_item(options, 1007)), c.typed) << "the edit keeps the text as typed";
        ASSERT_TRUE(drv::click(installer.button(3)));
        wait_for_page_with(installer.frame, options_marker);
    }
    installer.leave_answering(IDYES);
    EXPECT_EQ(installer.exit_code(), 0u);
}

}

// Tab, Shift+Tab, the arrow keys, Space, Enter and Escape only; no text of
// the frame or its pages carries a mnemonic, so Alt with a letter has
// nothing to reach here.
TEST_F(WizardInstallation, CompleteAdvancedInstallationByKeyboardAlone)
{
    using keyboard::expect_page_keys;
    using keyboard::focused_id;
    using keyboard::move_focus;
    const std::wstring folder = (scratch / L"Quillmar").wstring();
    running_installer installer;
    ASSERT_TRUE(installer.frame);
    const HWND frame = installer.frame;

    wait_for_page_with(frame, start_marker);
    expect_page_keys(frame, IDOK, {IDOK, IDCANCEL, 1023}, "start page");

    // The arrow keys choose the language in the list, which keeps the focus.
    EXPECT_EQ(move_focus(frame, drv::key::shift_tab, IDOK), 1023);
    drv::press_key(frame, drv::key::down);
    EXPECT_EQ(drv::wait_for_text(frame, L"Installationsprogramm \u2013 Quillmar 3.05c", 5s),
              L"Installationsprogramm \u2013 Quillmar 3.05c");
    drv::press_key(frame, drv::key::up);
    EXPECT_EQ(drv::wait_for_text(frame, english_title, 5s), english_title);
    EXPECT_EQ(focused_id(frame), 1023);
    EXPECT_EQ(move_focus(frame, drv::key::tab, 1023), IDOK);

    // Escape asks before leaving; No stays, with the focus where it was.
    drv::press_key(frame, drv::key::escape);
    drv::answer_message_box(drv::wait_for_message_box(installer.program.id(), frame, 10s), IDNO);
    EXPECT_TRUE(keyboard::focus_comes_to(frame, IDOK)) << "the focus is on " << focused_id(frame);

    drv::press_key(frame, drv::key::enter);
    HWND mode = wait_for_page_with(frame, mode_marker);
    expect_page_keys(frame, IDOK, {IDOK, 3, IDCANCEL, 1018}, "mode page");

    // The arrow keys move the choice in the group.
    EXPECT_EQ(move_focus(frame, drv::key::shift_tab, IDOK), 1018);
    EXPECT_EQ(move_focus(frame, drv::key::down, 1018), 1019);
    drv::wait_for_check(installer.page_item(mode, 1019), BST_CHECKED, 5s);
    EXPECT_EQ(drv::check_state(installer.page_item(mode, 1018)), BST_UNCHECKED);
    EXPECT_EQ(move_focus(frame, drv::key::up, 1019), 1018);
    drv::wait_for_check(installer.page_item(mode, 1018), BST_CHECKED, 5s);
    EXPECT_EQ(move_focus(frame, drv::key::right, 1018), 1019);
    drv::wait_for_check(installer.page_item(mode, 1019), BST_CHECKED, 5s);
    expect_page_keys(frame, 1019, {1019, IDOK, 3, IDCANCEL}, "mode page, advanced chosen");

    drv::press_key(frame, drv::key::enter);
    HWND options = wait_for_page_with(frame, options_marker);
    expect_page_keys(frame, IDOK, {IDOK, 3, IDCANCEL, 1007, 1006, 1011, 1010}, "options page");

    EXPECT_EQ(move_focus(frame, drv::key::tab, IDOK), 3);
    EXPECT_EQ(move_focus(frame, drv::key::tab, 3), IDCANCEL);
    EXPECT_EQ(move_focus(frame, drv::key::tab, IDCANCEL), 1007);
    drv::type_text(installer.page_item(options, 1007), folder, 5s);
    EXPECT_EQ(move_focus(frame, drv::key::tab, 1007), 1006);
    for (int box : {1011, 1010}) {
        EXPECT_EQ(move_focus(frame, drv::key::tab, focused_id(frame)), box);
        ASSERT_EQ(drv::check_state(installer.page_item(options, box)), BST_CHECKED);
        drv::press_key(frame, drv::key::space);
        drv::wait_for_check(installer.page_item(options, box), BST_UNCHECKED, 5s);
    }

    // Enter from a check box presses the default button, Next.
    drv::press_key(frame, drv::key::enter);
    HWND install = wait_for_page_with(frame, install_marker);
    expect_page_keys(frame, IDOK, {IDOK, 3, IDCANCEL, log_control}, "summary");
    const std::wstring summary = drv::text(installer.page_item(install, log_control));
    EXPECT_NE(summary.find(folder), std::wstring::npos) << drv::utf8(summary);
    EXPECT_EQ(summary.find(L"Desktop"), std::wstring::npos) << drv::utf8(summary);

    // In the summary, a multi-line edit, Escape still asks before leaving.
    EXPECT_EQ(move_focus(frame, drv::key::shift_tab, IDOK), log_control);
    drv::press_key(frame, drv::key::escape);
    drv::answer_message_box(drv::wait_for_message_box(installer.program.id(), frame, 10s), IDNO);
    EXPECT_TRUE(keyboard::focus_comes_to(frame, log_control)) << "the focus is on " << focused_id(frame);
    EXPECT_EQ(move_focus(frame, drv::key::tab, log_control), IDOK);
    drv::press_key(frame, drv::key::enter);

    // While it installs, the focus moves from Install to the log, never
    // staying on a disabled button.
    std::vector<int> seen_while_installing;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (drv::text(installer.button(IDCANCEL)) != L"Exit" && std::chrono::steady_clock::now() < deadline) {
        if (!drv::is_enabled(installer.button(IDCANCEL)))
            seen_while_installing.push_back(focused_id(frame));
        Sleep(10);
    }
    // Polled: an installation shorter than one look is seen by none.
    EXPECT_EQ(std::count(seen_while_installing.begin(), seen_while_installing.end(), log_control),
              static_cast<std::ptrdiff_t>(seen_while_installing.size()))
        << "the focus left the log during the installation";
    ASSERT_EQ(drv::text(installer.button(IDCANCEL)), L"Exit") << "the installation ends";
    drv::wait_for_enabled(installer.button(IDOK), true, 10s);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder) / L"Quillmar.exe"));
    expect_page_keys(frame, IDOK, {IDOK, IDCANCEL, log_control}, "log after the installation");

    // Enter in the log presses the default button, Next.
    EXPECT_EQ(move_focus(frame, drv::key::shift_tab, IDOK), log_control);
    drv::press_key(frame, drv::key::enter);
    wait_for_page_with(frame, 1016);
    expect_page_keys(frame, IDCANCEL, {IDCANCEL, 3}, "end page");
    drv::press_key(frame, drv::key::enter);
    EXPECT_EQ(installer.exit_code(), 0u) << "Enter on the end page leaves, with no question once installed";
}

namespace accessible {

// What Active Accessibility tells a screen reader about a control's client
// area: Wine's own oleacc, as on Windows, builds the standard object from
// the window's class, style and text.
struct answer {
    HRESULT object = E_FAIL;
    HRESULT name_result = E_FAIL;
    std::wstring name;
    long role = 0;
    HRESULT value_result = E_FAIL;
    std::wstring value;
};

std::wstring taken(BSTR text)
{
    std::wstring copy = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return copy;
}

answer ask(HWND control)
{
    answer result;
    IAccessible* object = nullptr;
    result.object = AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                               reinterpret_cast<void**>(&object));
    if (FAILED(result.object) || !object)
        return result;
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    result.name_result = object->get_accName(self, &text);
    result.name = taken(text);
    VARIANT role{};
    if (SUCCEEDED(object->get_accRole(self, &role)) && role.vt == VT_I4)
        result.role = role.lVal;
    text = nullptr;
    result.value_result = object->get_accValue(self, &text);
    result.value = taken(text);
    object->Release();
    return result;
}

// What a screen reader should hear about one control of one page.
struct row {
    const char* page;
    int id;                // frame buttons below 100, else a control of the page
    const wchar_t* name;
    long role;
    const wchar_t* value;  // contained in the value; null for no value
    bool named_by_label;   // named by the label before it, not by its own text
};

class readings {
public:
    explicit readings(running_installer& installer) : installer_(installer) {}

    void check(HWND page, const std::vector<row>& rows)
    {
        for (const row& r : rows) {
            SCOPED_TRACE(testing::Message() << r.page << ", control " << r.id);
            HWND control = r.id < 100 ? installer_.button(r.id) : installer_.page_item(page, r.id);
            // The ComboBoxEx gives the focus to the combo box inside it.
            if (HWND inner = GetWindow(control, GW_CHILD); inner && r.role == ROLE_SYSTEM_COMBOBOX)
                control = inner;
            const answer heard = ask(control);
            ASSERT_TRUE(SUCCEEDED(heard.object)) << std::hex << heard.object;
            wchar_t class_name[64]{};
            GetClassNameW(control, class_name, 64);
            const bool edit = _wcsicmp(class_name, L"Edit") == 0;
            const std::string where = std::string(r.page) + " " + std::to_string(r.id);

            // Wine's oleacc looks for a label only before an edit; any other
            // control it names by its own window text.
            if (r.named_by_label && !edit && wine && heard.name != r.name)
                unanswered_.push_back(where + " name (heard \"" + drv::utf8(heard.name) + "\")");
            else
                EXPECT_EQ(heard.name, r.name);
            // It knows the role of an edit only; every other control is a client area.
            if (wine && heard.role == ROLE_SYSTEM_CLIENT && r.role != ROLE_SYSTEM_CLIENT)
                unanswered_.push_back(where + " role");
            else
                EXPECT_EQ(heard.role, r.role);
            if (!r.value)
                continue;
            if (wine && !edit && heard.value_result != S_OK)
                unanswered_.push_back(where + " value");
            else
                EXPECT_NE(heard.value.find(r.value), std::wstring::npos) << drv::utf8(heard.value);
        }
    }

    // What Wine could not tell, as the reason of a skip.
    std::string unanswered() const
    {
        std::string list;
        for (const std::string& each : unanswered_)
            list += (list.empty() ? "" : ", ") + each;
        return list;
    }

private:
    running_installer& installer_;
    bool wine = test_support::running_under_wine();
    std::vector<std::string> unanswered_;
};

}

TEST_F(WizardInstallation, ScreenReadersHearANameAndRoleForEveryControl)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const std::wstring folder = (scratch / L"Quillmar").wstring();
    running_installer installer;
    ASSERT_TRUE(installer.frame);
    accessible::readings heard(installer);
    constexpr long button = ROLE_SYSTEM_PUSHBUTTON;
    constexpr long text = ROLE_SYSTEM_STATICTEXT;

    HWND start = wait_for_page_with(installer.frame, start_marker);
    heard.check(start, {
        {"start", IDOK, L"Next >", button, nullptr, false},
        {"start", 3, L"< Back", button, nullptr, false},
        {"start", IDCANCEL, L"Cancel", button, nullptr, false},
        {"start", 1023, L"Select Installation Langage", ROLE_SYSTEM_COMBOBOX, L"English", true},
        {"start", 1016, L"'Quillmar 3.05c' Installation.", text, nullptr, false},
        {"start", 1003, L"Click on 'Next' to continue.", text, nullptr, false},
    });
    // What oleacc reads as the list's value: the chosen language, not the
    // bytes of an item's data.
    EXPECT_EQ(drv::text(GetWindow(installer.page_item(start, 1023), GW_CHILD)), L"English");

    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    HWND mode = wait_for_page_with(installer.frame, mode_marker);
    heard.check(mode, {
        {"mode", 1021, L"Installation Method", ROLE_SYSTEM_GROUPING, nullptr, false},
        {"mode", 1018, L"Quick Installation (Recommended)", ROLE_SYSTEM_RADIOBUTTON, nullptr, false},
        {"mode", 1019, L"Advanced Installation", ROLE_SYSTEM_RADIOBUTTON, nullptr, false},
    });

    ASSERT_TRUE(drv::click(installer.page_item(mode, 1019)));
    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    HWND options = wait_for_page_with(installer.frame, options_marker);
    drv::type_text(installer.page_item(options, 1007), folder, 5s);
    heard.check(options, {
        {"options", 1008, L"Installation Folder Selection", ROLE_SYSTEM_GROUPING, nullptr, false},
        {"options", 1007, L"Select 'Quillmar' Installation Folder.", ROLE_SYSTEM_TEXT, folder.c_str(), true},
        {"options", 1006, L"Browse...", button, nullptr, false},
        {"options", 1011, L"Create a Shortcut in the Start Menu.", ROLE_SYSTEM_CHECKBUTTON, nullptr, false},
        {"options", 1010, L"Create a Shortcut on the Desktop.", ROLE_SYSTEM_CHECKBUTTON, nullptr, false},
    });

    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    HWND install = wait_for_page_with(installer.frame, install_marker);
    heard.check(install, {
        {"summary", IDOK, L"Install", button, nullptr, false},
        {"summary", log_control, L"", ROLE_SYSTEM_TEXT, L"Installation Folder: \"", false},
    });

    EXPECT_TRUE(drv::click(installer.button(IDOK), 120s)) << "the installation did not end in time";
    heard.check(install, {
        {"log", log_control, L"", ROLE_SYSTEM_TEXT, L"Installation Data Writing...OK", false},
        {"log", install_marker, L"Click on 'Next' to continue.", ROLE_SYSTEM_PROGRESSBAR, L"100", true},
        {"log", 1003, L"Click on 'Next' to continue.", text, nullptr, false},
    });

    // The progress bar has no placeholder text of its own to be read out, and
    // the status line comes just before it, as the label that names it.
    HWND progress = installer.page_item(install, install_marker);
    EXPECT_EQ(drv::text(progress), L"");
    EXPECT_EQ(GetWindow(progress, GW_HWNDPREV), installer.page_item(install, 1003));

    ASSERT_TRUE(drv::click(installer.button(IDOK)));
    HWND end = wait_for_page_with(installer.frame, 1016);
    heard.check(end, {
        {"end", 1016, L"Installation is complete.", text, nullptr, false},
        {"end", IDCANCEL, L"Exit", button, nullptr, false},
    });

    installer.press(IDCANCEL);
    EXPECT_EQ(installer.exit_code(), 0u);
    CoUninitialize();
    if (const std::string missing = heard.unanswered(); !missing.empty())
        GTEST_SKIP() << "Wine's oleacc cannot tell: " << missing;
}
