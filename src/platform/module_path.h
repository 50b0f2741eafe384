// Paths of the running program.
#pragma once

#include <string>

// The full path of the running executable.
std::wstring executable_path();

// A path's file name without its extension ("C:\x\Setup.exe" gives "Setup").
std::wstring file_stem(const std::wstring& path);
