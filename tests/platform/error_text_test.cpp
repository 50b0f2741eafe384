#include "platform/error_text.h"
#include "platform/exception.h"
#include "platform/language.h"
#include "platform/string_table.h"

#include <map>
#include <stdexcept>

#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

namespace {

const std::wstring& fail_text()
{
    static const std::wstring text = system_error_text(static_cast<DWORD>(E_FAIL), 0);
    return text;
}

std::optional<std::wstring> fake_table(unsigned id)
{
    static const std::map<unsigned, std::wstring> table{{1107, L"Text eleven hundred seven"}};
    const auto found = table.find(id);
    if (found == table.end())
        return std::nullopt;
    return found->second;
}

TEST(SystemErrorText, DropsTheTrailingLineBreak)
{
    const auto text = system_error_text(ERROR_FILE_NOT_FOUND, 1033);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), L'.') << std::string(text.begin(), text.end());
    EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos);
}

TEST(SystemErrorText, UnknownCodeGivesTheFailText)
{
    EXPECT_FALSE(fail_text().empty());
    EXPECT_NE(fail_text(), L"Error") << "the system has a text for E_FAIL";
    EXPECT_EQ(system_error_text(0x0000FFF1, 1033), system_error_text(static_cast<DWORD>(E_FAIL), 1033));
    EXPECT_EQ(system_error_text(0x0000FFF1, 0), fail_text());
}

TEST(ErrorText, CodeClasses)
{
    EXPECT_EQ(error_text(0x28000000 + 1107, 0, fake_table), L"Text eleven hundred seven");
    EXPECT_EQ(error_text(0x28000000 + 1116, 0, fake_table), fail_text());
    EXPECT_EQ(error_text(0x20000005, 0, fake_table), fail_text());
    EXPECT_EQ(error_text(ERROR_ACCESS_DENIED, 0, fake_table), system_error_text(ERROR_ACCESS_DENIED, 0));
    EXPECT_NE(error_text(ERROR_ACCESS_DENIED, 0, fake_table), fail_text());
}

TEST(ErrorText, InstallerStringTables)
{
    const string_ref text_1107 = load_module_string(1107);
    ASSERT_FALSE(text_1107.empty());
    EXPECT_EQ(error_text(0x28000000 + 1107), std::wstring(text_1107));
    const LANGID current = LANGIDFROMLCID(locale_state::instance().lcid);
    EXPECT_EQ(error_text(0x28000000 + 1116), system_error_text(static_cast<DWORD>(E_FAIL), current));
    EXPECT_EQ(error_text(0x20000005), system_error_text(static_cast<DWORD>(E_FAIL), current));
    EXPECT_EQ(exception_text(std::make_exception_ptr(std::system_error(13, std::generic_category()))),
              system_error_text(10013, current));
}

TEST(ErrorText, AStringIdWithAPlaceholderGivesTheEnglishText)
{
    const LCID locale = GetThreadLocale();
    const LANGID ui_language = GetThreadUILanguage();
    SetThreadLocale(MAKELCID(0x0415, SORT_DEFAULT));
    SetThreadUILanguage(0x0415);
    const wchar_t* raw = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), 1126, reinterpret_cast<LPWSTR>(&raw), 0);
    const std::wstring system_choice = length > 0 && raw ? std::wstring(raw, static_cast<std::size_t>(length)) : L"";
    const std::wstring text = error_text(0x28000000 + 1126);
    SetThreadLocale(locale);
    SetThreadUILanguage(ui_language);
    if (system_choice != L"#")
        GTEST_SKIP() << "the system's lookup does not choose the Polish table here";
    EXPECT_EQ(text, L"You should have Administrator Rights in order to proceed to Installation.");
}

TEST(ErrnoToWin32, Table)
{
    const std::pair<int, DWORD> cases[] = {{0, 0},      {1, 5},         {2, 3},       {13, 10013},
                                           {17, 183},   {22, 10022},    {28, 112},    {33, 87},
                                           {42, 582},   {100, 10048},   {129, 50},    {140, 10035}};
    for (const auto& [posix, windows] : cases)
        EXPECT_EQ(errno_to_win32(posix), windows) << posix;
    for (int unlisted : {3, 5, 10, 39, 99, 104, 141, -1})
        EXPECT_EQ(errno_to_win32(unlisted), std::nullopt) << unlisted;
}

struct recognised_error {};
struct unknown_error {};

TEST(ErrorCodeOf, KnownExceptionKinds)
{
    register_error_code_converter([](const std::exception_ptr& error) -> std::optional<std::error_code> {
        try {
            std::rethrow_exception(error);
        }
        catch (const recognised_error&) {
            return std::error_code(ERROR_BUSY, std::system_category());
        }
        catch (...) {
            return std::nullopt;
        }
    });

    const struct {
        std::exception_ptr error;
        std::optional<std::error_code> expected;
    } cases[] = {
        {std::make_exception_ptr(std::system_error(ERROR_ACCESS_DENIED, std::system_category())),
         std::error_code(ERROR_ACCESS_DENIED, std::system_category())},
        {std::make_exception_ptr(std::system_error(std::make_error_code(std::errc::permission_denied))),
         std::error_code(13, std::generic_category())},
        {std::make_exception_ptr(boost::system::system_error(ERROR_FILE_NOT_FOUND, boost::system::system_category())),
         std::error_code(ERROR_FILE_NOT_FOUND, std::system_category())},
        {std::make_exception_ptr(boost::system::system_error(13, boost::system::generic_category())),
         std::error_code(13, std::generic_category())},
        {std::make_exception_ptr(recognised_error{}), std::error_code(ERROR_BUSY, std::system_category())},
        {std::make_exception_ptr(unknown_error{}), std::nullopt},
        {std::make_exception_ptr(std::runtime_error("x")), std::nullopt},
        {nullptr, std::nullopt},
    };
    for (std::size_t row = 0; row < std::size(cases); ++row)
        EXPECT_EQ(error_code_of(cases[row].error), cases[row].expected) << "row " << row;
}

TEST(ExceptionText, WindowsErrorOfTheException)
{
    const struct {
        std::exception_ptr error;
        std::wstring expected;
    } cases[] = {
        {std::make_exception_ptr(std::system_error(13, std::generic_category())), system_error_text(10013, 0)},
        {std::make_exception_ptr(std::system_error(ERROR_FILE_NOT_FOUND, std::system_category())),
         system_error_text(ERROR_FILE_NOT_FOUND, 0)},
        {std::make_exception_ptr(std::system_error(0x28000000 + 1107, std::system_category())),
         L"Text eleven hundred seven"},
        {std::make_exception_ptr(std::invalid_argument("x")), system_error_text(ERROR_INVALID_PARAMETER, 0)},
        // A POSIX error without a Windows equivalent has no text.
        {std::make_exception_ptr(std::system_error(3, std::generic_category())), L""},
        {std::make_exception_ptr(std::runtime_error("x")), L""},
    };
    for (std::size_t row = 0; row < std::size(cases); ++row)
        EXPECT_EQ(exception_text(cases[row].error, 0, fake_table), cases[row].expected) << "row " << row;
}

class message_exception : public hv::exception {
public:
    explicit message_exception(std::wstring text, bool raise = false) : text_(std::move(text)), raise_(raise) {}
    std::wstring message() const override
    {
        ++calls;
        if (raise_)
            throw std::runtime_error("no message");
        return text_;
    }
    mutable int calls = 0;

private:
    std::wstring text_;
    bool raise_;
};

TEST(HvException, WhatIsUtf8WithoutLoneSurrogates)
{
    const std::wstring text = {L'a', 0xD800, L'b', 0xDC00, L'\u00e9', 0xD83D, 0xDE00, 0xDBFF};
    const message_exception error(text);
    EXPECT_STREQ(error.what(), "ab\xC3\xA9\xF0\x9F\x98\x80");
    const char* first = error.what();
    EXPECT_EQ(error.what(), first) << "the converted text is kept";
    EXPECT_EQ(error.calls, 1);
}

TEST(HvException, AssignmentForgetsTheKeptText)
{
    message_exception target(L"first");
    EXPECT_STREQ(target.what(), "first");
    target = message_exception(L"second");
    EXPECT_STREQ(target.what(), "second");
}

TEST(HvException, WithoutMessageTheBaseText)
{
    const message_exception empty(L"");
    const message_exception raising(L"x", true);
    for (const hv::exception* error : {static_cast<const hv::exception*>(&empty), static_cast<const hv::exception*>(&raising)}) {
        const std::string what = error->what();
        EXPECT_FALSE(what.empty());
        EXPECT_EQ(what, std::exception().what());
    }
}

}
