// The synchronisation helper program (tests/platform/sync_helper) as a
// second program of an application: it holds a lock or a counter unit
// until told to finish, and is ended by the test at the latest when this
// object goes away.
#pragma once

#include "platform/kernel_handle.h"
#include "support/test_support.h"

#include <windows.h>

#include <string>

#include <fmt/xchar.h>

namespace test_support {

inline constexpr DWORD sync_wait_limit_ms = 30000;

// A kernel object name no other test process uses.
inline std::wstring unique_object_name(const wchar_t* what)
{
    static int serial = 0;
    return fmt::format(L"HvSyncTest.{}.{}.{}", GetCurrentProcessId(), ++serial, what);
}

class sync_helper_process {
public:
    sync_helper_process(const std::wstring& mode, const std::wstring& object_name, bool with_finish = true)
        : ready_name_(unique_object_name(L"ready")), finish_name_(unique_object_name(L"finish")),
          ready_(CreateEventW(nullptr, TRUE, FALSE, ready_name_.c_str())),
          finish_(CreateEventW(nullptr, TRUE, FALSE, finish_name_.c_str()))
    {
        const std::wstring program = build_file(L"tests\\platform\\sync_helper.exe");
        std::wstring command = L"\"" + program + L"\" " + mode + L" \"" + object_name + L"\" " + ready_name_;
        if (with_finish)
            command += L" " + finish_name_;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &info)) {
            CloseHandle(info.hThread);
            process_.reset(info.hProcess);
        }
    }
    sync_helper_process(const sync_helper_process&) = delete;
    sync_helper_process& operator=(const sync_helper_process&) = delete;
    ~sync_helper_process() { finish(); }

    // Whether the helper reports that it holds its object.
    bool wait_ready() const
    {
        const HANDLE both[] = {ready_.get(), process_.get()};
        return process_ && WaitForMultipleObjects(2, both, FALSE, sync_wait_limit_ms) == WAIT_OBJECT_0;
    }

    // Lets the helper end and returns its exit code (0xDEAD when it had to
    // be ended, ~0 when it is not running).
    DWORD finish()
    {
        if (!process_)
            return 0xFFFFFFFF;
        SetEvent(finish_.get());
        DWORD code = 0xFFFFFFFF;
        if (WaitForSingleObject(process_.get(), sync_wait_limit_ms) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process_.get(), &code);
        }
        else {
            TerminateProcess(process_.get(), 0xDEAD);
            WaitForSingleObject(process_.get(), sync_wait_limit_ms);
            code = 0xDEAD;
        }
        process_.reset();
        return code;
    }

private:
    std::wstring ready_name_;
    std::wstring finish_name_;
    kernel_handle ready_;
    kernel_handle finish_;
    kernel_handle process_;
};

}
