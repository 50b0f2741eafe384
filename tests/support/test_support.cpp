#include "support/test_support.h"
#include "support/wine_paths.h"

#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include <gtest/gtest.h>

namespace test_support {

bool running_under_wine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::wstring windows_path(const std::string& path)
{
    return windows_path(std::wstring(path.begin(), path.end()));
}

std::wstring build_file(const std::wstring& relative)
{
    const char* dir = std::getenv("HV_TEST_BINARY_DIR");
    if (!dir)
        throw std::runtime_error("HV_TEST_BINARY_DIR is not set; run the tests through ctest");
    return windows_path(dir) + L'\\' + relative;
}

unsigned long run_process(const std::wstring& program, const std::wstring& arguments,
                          unsigned long timeout_ms)
{
    std::wstring command_line = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW failed with error " << GetLastError();
        return ~0ul;
    }
    CloseHandle(process.hThread);
    DWORD exit_code = ~0ul;
    if (WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, 5000);
        ADD_FAILURE() << "the process did not end within " << timeout_ms << " ms";
    }
    else {
        GetExitCodeProcess(process.hProcess, &exit_code);
    }
    CloseHandle(process.hProcess);
    return exit_code;
}

}
