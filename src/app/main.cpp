#include "core/installer_context.h"
#include "platform/error_text.h"
#include "platform/language.h"
#include "platform/string_table.h"
#include "product/registration.h"
#include "resources/resource_ids.h"
#include "ui/dlg_main.h"
#include "ui/icon_handle.h"
#include "ui/window_helpers.h"

#include <windows.h>

#include <exception>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // Destroyed when the entry point returns, after the wizard has closed.
    // Loaded at the sizes the frame shows: the system would otherwise take
    // the largest image and scale it down for the caption and task bar.
    const icon_handle icon =
        load_icon(instance, IDI_APPLICATION_ICON, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    const icon_handle small_icon =
        load_icon(instance, IDI_APPLICATION_ICON, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
    ui_hooks::instance().application_icon = [&icon] { return icon.get(); };
    ui_hooks::instance().application_small_icon = [&small_icon] { return small_icon.get(); };
    try {
        if (installer_context::instance().initialise()) {
            // Holding the installation lock: no other run uses the backups.
            std::wstring told = recovery_message(recover_interrupted_runs({csidl_folder, registration_key_roots()}));
            if (const std::wstring left = left_behind_message(restore_left_behind_backups()); !left.empty())
                told += (told.empty() ? L"" : L"\n") + left;
            if (!told.empty())
                message_box(told, installer_title(true), MB_ICONINFORMATION);
            dlg_main::instance().create(nullptr, IDD_WIZARD);
        }
    }
    catch (...) {
        // Nothing may cross the entry point; the user still learns why the installer stopped.
        std::wstring text = exception_message(std::current_exception());
        message_box(text.empty() ? error_text(static_cast<DWORD>(E_FAIL)) : text, installer_title(true), MB_ICONERROR);
    }
    ui_hooks::instance().application_icon = nullptr;
    ui_hooks::instance().application_small_icon = nullptr;
    return 0;
}
