// wizard_tour INSTALLER OUTPUT_FOLDER [--language INDEX] [--dpi PIXELS_PER_INCH]
//
// Walks a user's way through the real installer's wizard: the start page,
// the About box, the mode page and the question Exit asks there, a look at
// the options page, back to a quick
// installation, the summary, Install, the log and the end page. Prints what
// every page shows, the install log and where the product went, saves a
// picture of each page (BMP) in OUTPUT_FOLDER and ends with the installer's
// exit code. Every wait has a limit; a failed step ends the installer.
// --language records that language for an earlier installation, which the
// installer starts in, and lets the system fonts take any script; --dpi sets the user's screen resolution first. Both
// change the prefix the tour runs in: give them only in a prefix of its own.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <string>
#include <vector>

#include "ui_driver.h"

namespace {

using namespace std::chrono_literals;
namespace drv = ui_driver;

HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);

void say(const std::wstring& line)
{
    drv::write_line(out, line);
}

std::wstring class_of(HWND window)
{
    wchar_t name[64]{};
    GetClassNameW(window, name, 64);
    return name;
}

// The text a control shows: an edit's lines indented, a list's selected item.
std::wstring shown_text(HWND control)
{
    const std::wstring kind = class_of(control);
    if (kind == L"ComboBoxEx32" || kind == L"ComboBox") {
        const int selected = drv::combo_selection(control);
        return selected >= 0 ? drv::combo_item(control, selected) : std::wstring();
    }
    std::wstring text = drv::text(control);
    if (kind == L"Button") {
        const int state = drv::check_state(control);
        const LONG style = GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
        if (style == BS_AUTORADIOBUTTON || style == BS_AUTOCHECKBOX || style == BS_RADIOBUTTON || style == BS_CHECKBOX)
            text = (state == BST_CHECKED ? L"[x] " : L"[ ] ") + text;
    }
    std::wstring indented;
    for (wchar_t c : text) {
        if (c == L'\r')
            continue;
        indented += c;
        if (c == L'\n')
            indented += L"      ";
    }
    return indented;
}

void print_controls(HWND parent)
{
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring kind = class_of(child);
        if (!IsWindowVisible(child) || kind == L"#32770" || kind == L"ScrollBar" || kind == L"msctls_progress32")
            continue;
        if (kind == L"Static" && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            continue;
        const std::wstring text = shown_text(child);
        if (!text.empty())
            say(L"    " + text + (drv::is_enabled(child) ? L"" : L"  (disabled)"));
    }
}

class tour {
public:
    tour(const std::wstring& installer, std::wstring folder)
        : program_(installer, L""), folder_(std::move(folder))
    {
        frame_ = drv::wait_for_dialog(program_.id(), 60s);
    }

    DWORD run()
    {
        page(L"page0-start");
        about();
        next(1021);
        page(L"page1-mode");
        exit_question();
        drv::click(drv::page_control(frame_, 1019));
        next(1007);
        page(L"page2-options");
        shown_folder_ = drv::text(drv::page_control(frame_, 1007));
        back(1021);
        drv::click(drv::page_control(frame_, 1018));
        next(1014);
        page(L"page3-summary");

        say(L"Installing...");
        // The click returns when the installation, run by its handler, has ended.
        if (!drv::click(button(IDOK), 600s))
            throw drv::driver_error("the installation did not end in time");
        page(L"page3-log");

        const bool installed = drv::is_enabled(button(IDOK)) && drv::text(button(IDCANCEL)) != cancel_text_;
        if (installed) {
            next(0);
            page(L"page4-end");
            PostMessageW(button(IDCANCEL), BM_CLICK, 0, 0);
        }
        else {
            say(L"The installation did not complete.");
            PostMessageW(button(IDCANCEL), BM_CLICK, 0, 0);
            drv::answer_message_box(drv::wait_for_message_box(program_.id(), frame_, 10s), IDYES);
        }
        const auto code = program_.wait_for_exit(60s);
        if (!code)
            throw drv::driver_error("the installer did not end");
        return *code;
    }

    const std::vector<std::wstring>& pictures() const { return pictures_; }
    const std::wstring& shown_folder() const { return shown_folder_; }

private:
    drv::process program_;
    std::wstring folder_;
    HWND frame_ = nullptr;
    std::wstring cancel_text_;
    std::vector<std::wstring> pictures_;
    std::wstring shown_folder_;

    HWND button(int id) const { return drv::control(frame_, id); }

    void next(int marker) { move(IDOK, marker); }
    void back(int marker) { move(3, marker); }

    void move(int id, int marker) { drv::turn_page(frame_, id, marker); }

    void page(const std::wstring& name)
    {
        if (cancel_text_.empty())
            cancel_text_ = drv::text(button(IDCANCEL));
        say(L"== " + name + L": " + drv::text(frame_));
        print_controls(drv::visible_page(frame_));
        std::wstring buttons = L"    buttons:";
        for (int id : {3, IDOK, IDCANCEL})
            buttons += L" [" + drv::text(button(id)) + (drv::is_enabled(button(id)) ? L"]" : L" (disabled)]");
        say(buttons);
        shoot(frame_, name);
    }

    void about()
    {
        drv::choose_system_command(frame_, 16);
        const HWND box = drv::wait_for_dialog(program_.id(), 10s, {}, frame_);
        say(L"== about: " + drv::text(box));
        print_controls(box);
        shoot(box, L"about");
        drv::click(drv::control(box, IDOK));
        drv::wait_for_close(box, 10s);
    }

    // Exit before the installation asks; the tour answers No and stays.
    void exit_question()
    {
        PostMessageW(button(IDCANCEL), BM_CLICK, 0, 0);
        const HWND box = drv::wait_for_message_box(program_.id(), frame_, 10s);
        say(L"== exit question: " + drv::text(box));
        say(L"    " + drv::message_box_text(box));
        shoot(box, L"exit-question");
        drv::answer_message_box(box, IDNO);
        drv::wait_for_close(box, 10s);
    }

    void shoot(HWND window, const std::wstring& name)
    {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Sleep(300);
        const std::wstring path = folder_ + L"\\" + name + L".bmp";
        drv::save_bmp(drv::capture_window(window), path);
        pictures_.push_back(path);
    }
};

// Where the product went: the folder of the uninstaller of its Uninstall
// entry, else the folder the options page showed.
std::wstring install_location(const std::wstring& shown_folder)
{
    wchar_t value[MAX_PATH * 2]{};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3",
                     L"UninstallString", RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS) {
        const std::wstring path = value;
        if (const auto end = path.find_last_of(L'\\'); end != std::wstring::npos)
            return path.substr(0, end);
    }
    return shown_folder;
}

void list_files(const std::wstring& folder, const std::wstring& prefix)
{
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            list_files(folder + L"\\" + name, prefix + name + L"\\");
        else
            say(L"    " + prefix + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void set_dword(HKEY root, const wchar_t* key, const wchar_t* name, DWORD value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
        throw drv::driver_error("cannot create a registry key for the tour");
    const LSTATUS status = RegSetValueExW(handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS)
        throw drv::driver_error("cannot write a registry value for the tour");
}

// A fresh prefix keeps its captions, menus and message boxes in fonts of the
// Western character set, where a system set up for another language has
// fonts of its own script; without this, Arabic captions show as boxes.
void use_any_charset_for_system_fonts()
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        throw drv::driver_error("cannot read the system fonts");
    for (LOGFONTW* font : {&metrics.lfCaptionFont, &metrics.lfSmCaptionFont, &metrics.lfMenuFont,
                           &metrics.lfStatusFont, &metrics.lfMessageFont})
        font->lfCharSet = DEFAULT_CHARSET;
    if (!SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof metrics, &metrics,
                               SPIF_UPDATEINIFILE | SPIF_SENDCHANGE))
        throw drv::driver_error("cannot set the system fonts");
}

}

int wmain(int argc, wchar_t** argv)
{
    const char* usage = "usage: wizard_tour INSTALLER OUTPUT_FOLDER [--language INDEX] [--dpi PIXELS_PER_INCH]\n";
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "%s", usage);
        return 2;
    }
    CreateDirectoryW(argv[2], nullptr);
    try {
        for (int i = 3; i + 1 < argc; i += 2) {
            const std::wstring option = argv[i];
            const auto value = static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10));
            if (option == L"--language") {
                set_dword(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3",
                          L"HvLanguage", value);
                use_any_charset_for_system_fonts();
            }
            else if (option == L"--dpi")
                set_dword(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", value);
            else {
                std::fprintf(stderr, "%s", usage);
                return 2;
            }
        }
        tour walk(argv[1], argv[2]);
        const DWORD code = walk.run();
        const std::wstring location = install_location(walk.shown_folder());
        say(L"== installed in: " + location);
        list_files(location, L"");
        say(L"== pictures:");
        for (const auto& path : walk.pictures())
            say(L"    " + path);
        say(L"== installer exit code: " + std::to_wstring(static_cast<long>(code)));
        return static_cast<int>(code);
    }
    catch (const std::exception& e) {
        std::fprintf(stderr, "wizard_tour: %s\n", e.what());
        return 1;
    }
}
