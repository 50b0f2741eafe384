#include "records/registration_run.h"

#include <shlobj.h>

#include <fmt/xchar.h>

#include "platform/kernel_handle.h"

std::wstring registration_command_line(const std::wstring& program_path,
                                       std::uint64_t existing_version)
{
    std::wstring command = fmt::format(L"\"{}\" /Register /Background", program_path);
    if (existing_version != 0)
        command += fmt::format(L" /update={:016x}", existing_version);
    return command;
}

std::optional<std::uint32_t> run_and_wait(const std::wstring& command_line,
                                          const std::wstring& folder, std::uint32_t timeout_ms)
{
    std::wstring command = command_line; // CreateProcessW may write into it
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNOACTIVATE;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, HIGH_PRIORITY_CLASS,
                        nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        return std::nullopt;
    kernel_handle process{info.hProcess};
    kernel_handle thread{info.hThread};

    if (WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), INFINITE);
        return std::nullopt;
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process.get(), &exit_code))
        return std::nullopt;
    return exit_code;
}

void notify_associations_changed()
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
}
