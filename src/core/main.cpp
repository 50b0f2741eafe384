#include "core/installer_context.h"
#include "platform/error_text.h"
#include "platform/string_table.h"
#include "ui/window_helpers.h"

#include <windows.h>

#include <exception>

// The wizard is not built yet: the entry point ends after the start-up checks.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    try {
        installer_context::instance().initialise();
    }
    catch (...) {
        // Nothing may cross the entry point; the user still learns why start-up stopped.
        std::wstring text = exception_message(std::current_exception());
        message_box(text.empty() ? error_text(static_cast<DWORD>(E_FAIL)) : text, installer_title(true), MB_ICONERROR);
    }
    return 0;
}
