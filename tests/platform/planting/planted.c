/* A DLL an attacker drops beside a program, named like a system DLL: when the
   loader takes it, DllMain leaves "<file name>.loaded" beside it. Its exports
   stand in for the system functions the programs use, and all fail. Built
   with PLANTED_REFUSES, it refuses to stay loaded once it has left its
   marker: a system library that loads it at run time goes on without it,
   instead of calling functions it lacks, and a process that imports it
   does not start. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        WCHAR marker[MAX_PATH + 8];
        DWORD length = GetModuleFileNameW(instance, marker, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatW(marker, L".loaded");
            HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
        }
#ifdef PLANTED_REFUSES
        return FALSE;
#endif
    }
    return TRUE;
}

DWORD WINAPI planted_GetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle)
{
    (void)file;
    (void)handle;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}

BOOL WINAPI planted_GetFileVersionInfoW(LPCWSTR file, DWORD handle, DWORD size, LPVOID data)
{
    (void)file;
    (void)handle;
    (void)size;
    (void)data;
    return FALSE;
}

BOOL WINAPI planted_VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* value, PUINT length)
{
    (void)block;
    (void)sub_block;
    (void)value;
    (void)length;
    return FALSE;
}

LONG WINAPI planted_BCryptGenRandom(void* algorithm, PUCHAR buffer, ULONG size, ULONG flags)
{
    (void)algorithm;
    (void)buffer;
    (void)size;
    (void)flags;
    return (LONG)0xC0000001; /* STATUS_UNSUCCESSFUL */
}
