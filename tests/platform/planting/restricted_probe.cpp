// What every program of the application does first (the loader's search
// limited to the system folder), then what a window program does with
// common controls 6, loaded as the programs load them: initialise them and
// show a message box, which the test ends. A planted DLL this program loads
// is loaded by the system's own libraries however the search is limited,
// not by anything a program could change.
#include <windows.h>
#include <commctrl.h>

#include "platform/common_controls.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    common_controls_api::instance().init_common_controls_ex(&controls);
    MessageBoxW(nullptr, L"Planting control", L"Planting control", MB_OK | MB_ICONINFORMATION);
    return 0;
}
