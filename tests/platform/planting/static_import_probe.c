/* Imports version.dll and bcrypt.dll statically, as a program does that
   links their import libraries: the loader resolves them before any code
   of the program runs. Exit code 0 when both real functions answered. */
#include <windows.h>
#include <bcrypt.h>

int main(void)
{
    WCHAR path[MAX_PATH];
    DWORD ignored = 0;
    UCHAR bytes[16];
    GetSystemDirectoryW(path, MAX_PATH);
    lstrcatW(path, L"\\kernel32.dll");
    int failures = 0;
    if (GetFileVersionInfoSizeW(path, &ignored) == 0)
        failures |= 1;
    if (BCryptGenRandom(NULL, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0)
        failures |= 2;
    return failures;
}
