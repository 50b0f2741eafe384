#include "sample_frame.h"

#include <windows.h>
#include <commctrl.h>

#include "sample_ids.h"

namespace {

const wchar_t* const language_names[] = {L"English", L"\u010Ce\u0161tina", L"\u65E5\u672C\u8A9E"};

void fill_languages(HWND combo)
{
    for (int i = 0; i < 3; ++i) {
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(language_names[i]);
        SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
}

}

std::wstring sample_greeting(int language)
{
    switch (language) {
    case 1:
        return L"Instalace: Zru\u0161it\u2026";
    case 2:
        return L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB: \u30AD\u30E3\u30F3\u30BB\u30EB\u2026";
    default:
        return L"Installation: Cancel\u2026";
    }
}

void sample_page::on_init()
{
    if (HWND combo = GetDlgItem(hwnd, IDC_LANGUAGE)) {
        fill_languages(combo);
        set_text(GetDlgItem(hwnd, IDC_GREETING), sample_greeting(0));
    }
}

bool sample_page::on_command(int id, int code)
{
    if (id == IDC_LANGUAGE && code == CBN_SELCHANGE) {
        auto index = static_cast<int>(SendDlgItemMessageW(hwnd, IDC_LANGUAGE, CB_GETCURSEL, 0, 0));
        set_text(GetDlgItem(hwnd, IDC_GREETING), sample_greeting(index));
        return true;
    }
    if (id == IDC_FOLDER && code == EN_CHANGE) {
        if (frame)
            frame->update_next();
        return true;
    }
    return false;
}

void sample_frame::on_init()
{
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_USEREX_CLASSES};
    InitCommonControlsEx(&classes);
    language_page.frame = folder_page.frame = this;
    language_page.create(hwnd, IDD_PAGE_LANGUAGE);
    folder_page.create(hwnd, IDD_PAGE_FOLDER);
    if (HMENU menu = GetSystemMenu(hwnd, FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_ABOUT_SAMPLE, L"&About the sample...");
    }
    show_page(0);
}

void sample_frame::show_page(int index)
{
    current_ = index;
    ShowWindow(index == 0 ? folder_page.hwnd : language_page.hwnd, SW_HIDE);
    ShowWindow(index == 0 ? language_page.hwnd : folder_page.hwnd, SW_SHOW);
    set_text(GetDlgItem(hwnd, IDOK), index == 0 ? L"Next >" : L"Finish");
    EnableWindow(GetDlgItem(hwnd, IDC_BACK), index != 0);
    update_next();
}

void sample_frame::update_next()
{
    bool enabled = current_ == 0 || GetWindowTextLengthW(GetDlgItem(folder_page.hwnd, IDC_FOLDER)) > 0;
    EnableWindow(GetDlgItem(hwnd, IDOK), enabled);
}

bool sample_frame::confirm_leaving()
{
    return MessageBoxW(hwnd, L"Leave the sample?", L"Driver frame", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool sample_frame::on_command(int id, int)
{
    switch (id) {
    case IDOK:
        if (current_ == 0) {
            show_page(1);
        }
        else {
            auto language = SendDlgItemMessageW(language_page.hwnd, IDC_LANGUAGE, CB_GETCURSEL, 0, 0);
            bool desktop = IsDlgButtonChecked(language_page.hwnd, IDC_DESKTOP) == BST_CHECKED;
            bool start_menu = IsDlgButtonChecked(folder_page.hwnd, IDC_START_MENU) == BST_CHECKED;
            EndDialog(hwnd, 60 + language + (desktop ? 10 : 0) + (start_menu ? 20 : 0));
        }
        return true;
    case IDC_BACK:
        show_page(0);
        return true;
    case IDCANCEL:
        if (confirm_leaving())
            EndDialog(hwnd, 2);
        return true;
    default:
        return false;
    }
}

bool sample_frame::on_sys_command(int command)
{
    if (command != IDM_ABOUT_SAMPLE)
        return false;
    MessageBoxW(hwnd, L"Driver frame sample", L"About", MB_OK | MB_ICONINFORMATION);
    return true;
}
