// The run in which the installed program registers its own file associations.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

// The exit code by which the product reports a registration that succeeded.
inline constexpr std::uint32_t registration_succeeded = 0xFFFFFFF6; // -10

// "\"<program>\" /Register /Background", followed by " /update=" and the
// earlier version in 16 hexadecimal digits when there is one.
std::wstring registration_command_line(const std::wstring& program_path,
                                       std::uint64_t existing_version);

// Starts `command_line` in `folder` at high priority without activating its
// window and waits for it; its exit code, or nothing when it could not be
// started or had to be terminated after `timeout_ms`.
std::optional<std::uint32_t> run_and_wait(const std::wstring& command_line,
                                          const std::wstring& folder,
                                          std::uint32_t timeout_ms = INFINITE);

// Tells the shell that file associations changed.
void notify_associations_changed();
