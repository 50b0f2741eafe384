// Stands in for the installed product in whole-installation tests. It
// writes what it was started with to the file named by HV_STAND_IN_RECORD
// (UTF-16LE lines "command=", "folder=" and, when HV_STAND_IN_LOCK names a
// mutex, "lock=free" or "lock=held") and exits with HV_STAND_IN_EXIT.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring variable(const wchar_t* name)
{
    wchar_t buffer[1024]{};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

// Whether another program could take the lock now.
const wchar_t* lock_state(const std::wstring& name)
{
    HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
    if (!mutex)
        return L"missing";
    const DWORD wait = WaitForSingleObject(mutex, 0);
    const bool free = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (free)
        ReleaseMutex(mutex);
    CloseHandle(mutex);
    return free ? L"free" : L"held";
}

}

int wmain()
{
    std::wstring text = std::wstring(L"command=") + GetCommandLineW() + L"\r\n";
    wchar_t folder[MAX_PATH]{};
    GetCurrentDirectoryW(MAX_PATH, folder);
    text += std::wstring(L"folder=") + folder + L"\r\n";
    const std::wstring lock = variable(L"HV_STAND_IN_LOCK");
    if (!lock.empty())
        text += std::wstring(L"lock=") + lock_state(lock) + L"\r\n";

    const std::wstring record = variable(L"HV_STAND_IN_RECORD");
    if (!record.empty()) {
        HANDLE file = CreateFileW(record.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
            CloseHandle(file);
        }
    }
    return static_cast<int>(std::wcstol(variable(L"HV_STAND_IN_EXIT").c_str(), nullptr, 10));
}
