#include "platform/error_text.h"
#include "platform/language.h"
#include "platform/string_table.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <new>
#include <span>
#include <stdexcept>
#include <utility>
#include <vector>

#include <boost/system/system_error.hpp>

#if __has_include(<expected>)
#include <expected>
#endif

namespace {

constexpr DWORD customer_bit = 0x20000000;
constexpr DWORD string_id_bit = 0x08000000;

// Frees the buffer FormatMessageW allocated.
struct local_buffer {
    wchar_t* text = nullptr;
    ~local_buffer() { LocalFree(text); }
};

std::optional<std::wstring> format_system_message(DWORD code, LANGID langid)
{
    local_buffer buffer;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, code, langid, reinterpret_cast<wchar_t*>(&buffer.text), 0, nullptr);
    if (!length || !buffer.text)
        return std::nullopt;
    std::wstring text(buffer.text, length);
    const auto end = text.find_last_not_of(L" \n\r\t");
    text.erase(end == std::wstring::npos ? 0 : end + 1);
    return text;
}

std::vector<error_code_converter>& converters()
{
    static std::vector<error_code_converter> list;
    return list;
}

// POSIX error numbers the installer can meet, with their Windows errors.
constexpr std::pair<int, DWORD> errno_table[] = {
    {0, 0},       {1, 5},       {2, 3},       {4, 10004},   {8, 11},      {9, 10009},   {11, 1237},
    {12, 8},      {13, 10013},  {14, 10014},  {16, 170},    {17, 183},    {18, 17},     {22, 10022},
    {23, 4},      {24, 10024},  {28, 112},    {32, 109},    {33, 87},     {36, 32},     {38, 10063},
    {40, 1},      {41, 145},    {42, 582},    {100, 10048}, {101, 10049}, {102, 10047}, {103, 10037},
    {105, 995},   {106, 10053}, {107, 10061}, {108, 10054}, {109, 10039}, {110, 10065}, {112, 10036},
    {113, 10056}, {114, 10062}, {115, 10040}, {116, 10050}, {117, 10052}, {118, 10051}, {119, 10055},
    {123, 10042}, {126, 10057}, {128, 10038}, {129, 50},    {130, 10045}, {135, 10043}, {136, 10041},
    {138, 10060}, {140, 10035},
};

constexpr bool has_unique_numbers(std::span<const std::pair<int, DWORD>> table)
{
    for (std::size_t i = 0; i < table.size(); ++i)
        for (std::size_t j = i + 1; j < table.size(); ++j)
            if (table[i].first == table[j].first)
                return false;
    return true;
}
static_assert(has_unique_numbers(errno_table), "a POSIX number listed twice, or a row left empty");

}

std::wstring system_error_text(DWORD code, LANGID langid)
{
    auto text = format_system_message(code, langid);
    if (!text && langid)
        text = format_system_message(code, 0);
    if (text)
        return std::move(*text);
    if (code == static_cast<DWORD>(E_FAIL))
        return L"Error";
    return system_error_text(static_cast<DWORD>(E_FAIL), langid);
}

std::wstring error_text(DWORD code, LANGID langid, const module_string_lookup& module_string)
{
    if (!(code & customer_bit))
        return system_error_text(code, langid);
    if (code & string_id_bit) {
        if (auto text = module_string(code & 0xFFFF))
            return std::move(*text);
    }
    return system_error_text(static_cast<DWORD>(E_FAIL), langid);
}

std::optional<DWORD> errno_to_win32(int posix_error)
{
    const auto found = std::find_if(std::begin(errno_table), std::end(errno_table),
                                    [&](const auto& pair) { return pair.first == posix_error; });
    if (found == std::end(errno_table))
        return std::nullopt;
    return found->second;
}

void register_error_code_converter(error_code_converter converter)
{
    converters().push_back(std::move(converter));
}

std::optional<std::error_code> error_code_of(const std::exception_ptr& error)
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    }
    catch (const std::system_error& e) {
        return e.code();
    }
    catch (const boost::system::system_error& e) {
        // With MinGW, Boost converts its system category into a category
        // of its own rather than the standard one.
        if (e.code().category() == boost::system::system_category())
            return std::error_code(e.code().value(), std::system_category());
        return static_cast<std::error_code>(e.code());
    }
#if defined(__cpp_lib_expected)
    catch (const std::bad_expected_access<int>& e) {
        return std::error_code(e.error(), std::generic_category());
    }
    catch (const std::bad_expected_access<std::error_code>& e) {
        return e.error();
    }
#endif
    catch (...) {
    }
    for (const auto& converter : converters())
        if (auto code = converter(error))
            return code;
    return std::nullopt;
}

std::wstring exception_text(const std::exception_ptr& error, LANGID langid,
                            const module_string_lookup& module_string)
{
    if (!error)
        return {};
    if (const auto code = error_code_of(error)) {
        std::optional<DWORD> windows_error;
        if (code->category() == std::system_category())
            windows_error = static_cast<DWORD>(code->value());
        else if (code->category() == std::generic_category())
            windows_error = errno_to_win32(code->value());
        if (windows_error)
            return error_text(*windows_error, langid, module_string);
    }
    try {
        std::rethrow_exception(error);
    }
    catch (const std::invalid_argument&) {
        return system_error_text(ERROR_INVALID_PARAMETER, langid);
    }
    catch (...) {
    }
    return {};
}

std::optional<std::wstring> installer_module_string(unsigned id)
{
    const string_ref text = load_module_string(id);
    if (!text.data() || text.empty())
        return std::nullopt;
    return std::wstring(text);
}

std::wstring error_text(DWORD code)
{
    return error_text(code, LANGIDFROMLCID(locale_state::instance().lcid), installer_module_string);
}

std::wstring exception_text(const std::exception_ptr& error)
{
    return exception_text(error, LANGIDFROMLCID(locale_state::instance().lcid), installer_module_string);
}

namespace {

exception_message_function& registered_exception_message()
{
    static exception_message_function function;
    return function;
}

}

void set_exception_message_function(exception_message_function function)
{
    registered_exception_message() = std::move(function);
}

std::wstring exception_message(const std::exception_ptr& error)
{
    const auto& function = registered_exception_message();
    return function ? function(error) : std::wstring{};
}
