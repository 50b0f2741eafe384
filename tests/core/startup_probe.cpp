// Starts like the installer, with the checks before the entry point and the
// start-up checks, and ends where the wizard would open: exit code 0 when it
// would, 2 when start-up stopped.
#include "core/installer_context.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return installer_context::instance().initialise() ? 0 : 2;
}
