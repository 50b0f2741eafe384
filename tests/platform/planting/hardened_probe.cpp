// Uses version.dll and bcrypt.dll as the installer does, through modules
// loaded from the system folder after the loader's search was limited, and
// imports nothing but kernel32 and the C runtime (so no system DLL of the
// test's Wine pulls a planted DLL in). Exit code 0 when both real functions
// answered.
#include "platform/system_library.h"
#include "platform/system_random.h"

#include <windows.h>

#include <exception>
#include <string>

int main()
{
    int failures = 0;
    try {
        const system_module version(L"version.dll");
        wchar_t path[MAX_PATH];
        GetSystemDirectoryW(path, MAX_PATH);
        const std::wstring kernel = std::wstring(path) + L"\\kernel32.dll";
        DWORD ignored = 0;
        if (version.function<decltype(GetFileVersionInfoSizeW)>("GetFileVersionInfoSizeW")(kernel.c_str(),
                                                                                            &ignored) == 0)
            failures |= 1;
    }
    catch (const std::exception&) {
        failures |= 1;
    }
    try {
        random_uuid();
    }
    catch (const std::exception&) {
        failures |= 2;
    }
    return failures;
}
