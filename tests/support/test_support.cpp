#include "support/test_support.h"
#include "support/link_maker.h"
#include "support/wine_paths.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

namespace test_support {

namespace {

std::string utf8_of(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

std::wstring wide_of(const std::string& bytes)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

}

std::string link_maker_unavailable()
{
    if (std::getenv("HV_LINK_REQUESTS"))
        return {};
    const char* why = std::getenv("HV_LINK_MAKER_UNAVAILABLE");
    return why ? why : "run through tests/e2e/with_link_maker.sh";
}

std::string request_link(const std::filesystem::path& link, const std::filesystem::path& target)
{
    const char* folder = std::getenv("HV_LINK_REQUESTS");
    if (!folder)
        return "no link helper\n";
    const std::filesystem::path requests = wide_of(folder);
    const std::filesystem::path done = requests / L"link.done";
    {
        std::ofstream out(requests / L"link.request.part", std::ios::binary);
        out << utf8_of(link.wstring()) << "\n" << utf8_of(target.wstring()) << "\n";
    }
    // Renamed into place so the helper never reads half a request.
    std::filesystem::rename(requests / L"link.request.part", requests / L"link.request");
    for (int i = 0; i < 300 && !std::filesystem::exists(done); ++i)
        Sleep(100);
    if (!std::filesystem::exists(done))
        return "the link helper did not answer\n";
    Sleep(50);
    std::ifstream in(done, std::ios::binary);
    std::string answer((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::filesystem::remove(done);
    return answer;
}

}
