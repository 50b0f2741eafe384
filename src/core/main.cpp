#include <windows.h>

// The wizard is not built yet: the installer starts and ends cleanly.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return 0;
}
