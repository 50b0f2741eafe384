// Texts of Windows errors and HRESULTs, and the translation of exceptions
// into error codes and texts for the user.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

// The system's message for `code` in `langid` (0: the system chooses),
// without trailing blanks; the E_FAIL text, or "Error", when it has none.
std::wstring system_error_text(DWORD code, LANGID langid);

// A string-table text by id, absent when the table has none.
using module_string_lookup = std::function<std::optional<std::wstring>(unsigned id)>;

// The lookup of the installer's own string tables (load_module_string).
std::optional<std::wstring> installer_module_string(unsigned id);

// The text of any code: system codes from the system, customer codes with
// bit 27 from the string tables, other customer codes the E_FAIL text.
std::wstring error_text(DWORD code);
std::wstring error_text(DWORD code, LANGID langid, const module_string_lookup& module_string);

// The Windows error for a POSIX error number, when there is one.
std::optional<DWORD> errno_to_win32(int posix_error);

// Recognises an exception it knows and gives its error code.
using error_code_converter = std::function<std::optional<std::error_code>(const std::exception_ptr&)>;

// Adds a converter asked by error_code_of after the built-in rules.
void register_error_code_converter(error_code_converter converter);

std::optional<std::error_code> error_code_of(const std::exception_ptr& error);

// error_text of the exception's Windows error, the invalid-parameter text
// for std::invalid_argument, else empty.
std::wstring exception_text(const std::exception_ptr& error);
std::wstring exception_text(const std::exception_ptr& error, LANGID langid,
                            const module_string_lookup& module_string);

// The process-wide function that turns an exception into a message for the
// user; set once at start-up (exception_text), empty until then.
using exception_message_function = std::function<std::wstring(const std::exception_ptr&)>;
void set_exception_message_function(exception_message_function function);
// The registered function's text, or empty when none is registered.
std::wstring exception_message(const std::exception_ptr& error);
