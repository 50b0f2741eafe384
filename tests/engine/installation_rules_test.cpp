#include "engine/installation.h"

#include <windows.h>

#include <future>
#include <stdexcept>
#include <system_error>

#include <gtest/gtest.h>

#include "payload/compress_error.h"

TEST(ProgressPercent, ReachesHundredOnlyWhenEverythingIsWritten)
{
    const std::uint64_t large = 10'000'000'000ull;
    const struct {
        std::uint64_t done, total;
        int percent;
    } cases[] = {
        {0, 1000, 0},          {4, 1000, 0},     {5, 1000, 1},   {994, 1000, 99},
        {995, 1000, 99},       {999, 1000, 99},  {1000, 1000, 100},
        {large - 1, large, 99}, {large, large, 100},
        {0, 0, 100},           {7, 5, 100},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progress_percent(c.done, c.total), c.percent) << c.done << " of " << c.total;
}

TEST(ErrorCodeText, ByCategory)
{
    const struct {
        std::error_code code;
        const wchar_t* text;
    } cases[] = {
        {{5, std::system_category()}, L"1:00000005"},
        {{static_cast<int>(0x80070005), std::system_category()}, L"1:80070005"},
        {{13, std::generic_category()}, L"2:0000000D"},
        {{-1, std::generic_category()}, L"2:FFFFFFFF"},
        {make_error_code(compress_errc::invalid_checksum), L"3"},
        {make_error_code(compress_errc::verification_failed), L"4"},
        {{-2, compress_category()}, L"-2"},
        {make_error_code(std::future_errc::broken_promise), L"7"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(error_code_text(c.code), c.text) << c.code.category().name() << " " << c.code.value();
}

TEST(ErrorCodeText, OfExceptions)
{
    const auto text_of = [](auto exception) { return error_code_text(std::make_exception_ptr(exception)); };
    EXPECT_EQ(text_of(std::system_error(ERROR_SHARING_VIOLATION, std::system_category())), L"1:00000020");
    EXPECT_EQ(text_of(std::system_error(make_error_code(compress_errc::bzip2_error))), L"6");
    EXPECT_EQ(text_of(std::runtime_error("no code")), L"7");
    EXPECT_EQ(error_code_text(std::exception_ptr()), L"7");
}

TEST(LogSeparator, FortyFiveBoxDrawingCharacters)
{
    EXPECT_EQ(log_separator(), std::wstring(45, L'\u2500'));
}
