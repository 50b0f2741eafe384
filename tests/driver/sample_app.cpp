// A small program with one dialog, driven from outside by the driver tests.
// Finish ends it with 40 + the chosen item, plus 10 when Verbose is checked.
#include <windows.h>

#include "sample_ids.h"
#include "ui/basic_dialog.h"

namespace {

class dlg_sample : public basic_dialog {
public:
    void update_texts() override {}
    void on_size(int, int) override {}

    void on_init() override
    {
        HWND choice = GetDlgItem(hwnd, IDC_CHOICE);
        for (auto item : {L"Alpha", L"Beta", L"Gamma"})
            SendMessageW(choice, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
        SendMessageW(choice, CB_SETCURSEL, 0, 0);
    }

    bool on_command(int id, int code) override
    {
        switch (id) {
        case IDC_CHOICE:
            if (code == CBN_SELCHANGE) {
                auto index = SendDlgItemMessageW(hwnd, IDC_CHOICE, CB_GETCURSEL, 0, 0);
                set_text(GetDlgItem(hwnd, IDC_MESSAGE), L"Picked " + std::to_wstring(index));
            }
            return true;
        case IDC_ASK: {
            int answer = MessageBoxW(hwnd, L"Proceed with the sample?", L"Question", MB_YESNO | MB_ICONQUESTION);
            set_text(GetDlgItem(hwnd, IDC_MESSAGE), answer == IDYES ? L"Answer: Yes" : L"Answer: No");
            return true;
        }
        case IDOK: {
            auto index = SendDlgItemMessageW(hwnd, IDC_CHOICE, CB_GETCURSEL, 0, 0);
            bool verbose = IsDlgButtonChecked(hwnd, IDC_VERBOSE) == BST_CHECKED;
            EndDialog(hwnd, 40 + index + (verbose ? 10 : 0));
            return true;
        }
        case IDCANCEL:
            EndDialog(hwnd, 2);
            return true;
        default:
            return false;
        }
    }
};

}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    static dlg_sample sample;
    return static_cast<int>(sample.create(nullptr, IDD_SAMPLE));
}
