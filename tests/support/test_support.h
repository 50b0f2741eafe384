// Helpers shared by the tests that run under Wine or Windows.
#pragma once

#include <string>

namespace test_support {

// True when the process runs under Wine (ntdll exports wine_get_version).
bool running_under_wine();

// A path handed over from the build (a Unix path under Wine) as a Windows path.
std::wstring windows_path(const std::string& path);

// The build tree's file at a path relative to it, from HV_TEST_BINARY_DIR.
std::wstring build_file(const std::wstring& relative);

// Runs a program with a command line, waits at most timeout_ms and returns
// its exit code; a program still running then is terminated and fails the test.
unsigned long run_process(const std::wstring& program, const std::wstring& arguments,
                          unsigned long timeout_ms = 60000);

}
