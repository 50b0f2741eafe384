#include "records/text_file.h"

#include <process.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <locale>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

namespace {

namespace txtf = hv::txtf;
using facet_base = std::codecvt<wchar_t, char, std::mbstate_t>;

std::string b(std::initializer_list<int> values)
{
    std::string bytes;
    for (int v : values)
        bytes += static_cast<char>(v);
    return bytes;
}

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
        text += ' ';
    }
    return text;
}

// The C runtime's character-type locale supplies the code page; a test that
// needs one sets it and gives the previous one back.
class scoped_code_page {
public:
    explicit scoped_code_page(const char* name) : saved_(std::setlocale(LC_CTYPE, nullptr))
    {
        applied_ = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~scoped_code_page() { std::setlocale(LC_CTYPE, saved_.c_str()); }
    bool applied() const { return applied_; }

private:
    std::string saved_;
    bool applied_;
};

// A locale of its own keeps the facet alive for the test.
struct text_facet {
    explicit text_facet(std::uint32_t mode)
        : locale(std::locale::classic(), new txtf::codecvt<wchar_t>(mode, std::locale::classic())),
          facet(std::use_facet<facet_base>(locale))
    {
    }
    std::locale locale;
    const facet_base& facet;
};

constexpr std::size_t whole = SIZE_MAX;
constexpr std::size_t buffer_size = 64;

// How a caller hands data to the facet: input in pieces of `chunk` units or
// bytes, output room of `room` units or bytes per call.
struct feeding {
    const char* name;
    std::size_t chunk;
    std::size_t room;
};

const feeding feedings[] = {
    {"whole", whole, buffer_size},
    {"one byte or unit in", 1, buffer_size},
    {"room for one out", whole, 1},
    {"one in, room for one out", 1, 1},
};

struct read_result {
    std::wstring text;
    std::uint32_t state = 0;
    bool complete = true;
};

// Reads like a file buffer: more bytes only when the facet makes no progress,
// and the facet is asked again after the last byte for a unit it holds back.
read_result read_bytes(const facet_base& facet, const std::string& bytes, const feeding& how)
{
    read_result result;
    std::mbstate_t state{};
    std::string pending;
    std::size_t fed = 0;
    std::size_t used = 0;
    const auto feed = [&] {
        pending.erase(0, used);
        used = 0;
        const std::size_t size = std::min(how.chunk, bytes.size() - fed);
        pending.append(bytes, fed, size);
        fed += size;
    };
    for (std::size_t calls = 0; calls < 8 * (bytes.size() + 16); ++calls) {
        wchar_t units[buffer_size];
        wchar_t* units_next = units;
        const char* from = pending.data() + used;
        const char* from_next = from;
        const auto status = facet.in(state, from, pending.data() + pending.size(), from_next, units,
                                     units + std::min(how.room, buffer_size), units_next);
        EXPECT_NE(status, std::codecvt_base::error);
        result.text.append(units, units_next);
        used = from_next - pending.data();
        const bool progress = from_next != from || units_next != units;
        if (status == std::codecvt_base::ok && used == pending.size()) {
            if (fed == bytes.size())
                break;
            feed();
        }
        else if (!progress) {
            if (fed == bytes.size()) {
                result.complete = false;
                break;
            }
            feed();
        }
    }
    result.state = txtf::state_bits(state);
    return result;
}

struct write_result {
    std::string bytes;
    std::uint32_t state = 0;
    std::codecvt_base::result unshift = std::codecvt_base::ok;
};

// Writes like a file buffer; when a character does not fit, the room grows
// by one byte until it does, as a caller that flushes would offer.
write_result write_text(const facet_base& facet, const std::wstring& text, const feeding& how)
{
    write_result result;
    std::mbstate_t state{};
    std::size_t done = 0;
    std::size_t room = std::min(how.room, buffer_size);
    while (done < text.size()) {
        char bytes[buffer_size];
        char* bytes_next = bytes;
        const wchar_t* from = text.data() + done;
        const wchar_t* from_end = text.data() + std::min(text.size(), done + std::min(how.chunk, text.size()));
        const wchar_t* from_next = from;
        const auto status = facet.out(state, from, from_end, from_next, bytes, bytes + room, bytes_next);
        EXPECT_NE(status, std::codecvt_base::error);
        result.bytes.append(bytes, bytes_next);
        done = from_next - text.data();
        if (from_next == from && bytes_next == bytes) {
            if (room == buffer_size) {
                ADD_FAILURE() << "no progress at unit " << done;
                break;
            }
            ++room;
        }
        else {
            room = std::min(how.room, buffer_size);
        }
    }
    char rest[buffer_size];
    char* rest_next = rest;
    result.unshift = facet.unshift(state, rest, rest + buffer_size, rest_next);
    EXPECT_EQ(rest_next, rest);
    result.state = txtf::state_bits(state);
    return result;
}

// Every table runs in code page 1252, so that bytes 80-9F show whether the
// process code page is really the one converting.
class text_file : public testing::Test {
protected:
    void SetUp() override
    {
        if (!code_page_.applied())
            GTEST_SKIP() << "the C runtime refuses code page 1252";
    }

    scoped_code_page code_page_{".1252"};
};

constexpr std::int64_t any_state = -1;

struct input_row {
    std::uint32_t mode;
    std::string bytes;
    std::wstring text;
    std::int64_t state = any_state;
    bool complete = true;
};

const std::uint32_t utf8 = txtf::encoding_utf8;
const std::uint32_t utf16 = txtf::encoding_utf16;
const std::uint32_t utf32 = txtf::encoding_utf32;
const std::uint32_t code_page = txtf::encoding_code_page;
const std::uint32_t no_mark = txtf::mark_none;

const input_row input_rows[] = {
    // Byte-order marks and line ends.
    {0, b({0xFF, 0xFE, 0x61, 0x00, 0x0D, 0x00, 0x0A, 0x00}), L"a\n", 0x12B},
    {0, b({0xEF, 0xBB, 0xBF, 0x61, 0x0D, 0x0A}), L"a\n", 0x02A},
    {0, b({0x61, 0x0D, 0x62}), L"a\nb", 0x070},
    {0, b({0x61, 0x0D}), L"a\n", 0x40000010},
    {0, b({0x61, 0x0A, 0x62, 0x0D, 0x0A, 0x63}), L"a\nb\nc", 0x090},
    {0, b({0x0D, 0x0D, 0x0A}), L"\n\n", 0x090},
    {utf8 | txtf::line_end_lf, b({0x61, 0x0D, 0x0A, 0x62}), L"a\n\nb", 0x032},
    {utf8 | txtf::line_end_cr, b({0x0D, 0x0A}), L"\n\n", 0x032},
    {0, b({0xFF, 0xFE, 0x00, 0x00, 0x61, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00}), L"a\n", 0x14C},
    {0, b({0x00, 0x00, 0xFE, 0xFF, 0x00, 0x01, 0xF6, 0x00}), L"\xD83D\xDE00", 0x20C},
    {0, b({0xFE, 0xFF, 0x00, 0x61, 0xD8, 0x3D, 0xDE, 0x00}), L"a\xD83D\xDE00", 0x20B},
    {0, b({0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE, 0x62, 0x00}), L"\xD83D\xDE00" L"b", 0x10B},
    {0, b({0xEF, 0xBB, 0xBF, 0xF0, 0x9F, 0x98, 0x80}), L"\xD83D\xDE00", 0x00A},
    // Detection without a mark: ASCII stays undecided, the first byte above
    // 7F decides.
    {0, b({0x61, 0x62, 0x0A}), L"ab\n", 0x050},
    {0, b({0x61, 0xC3, 0xA9, 0x0A}), L"a\xE9\n", 0x052},
    {0, b({0xF0, 0x9F, 0x98, 0x80}), L"\xD83D\xDE00", 0x012},
    {0, b({0x61, 0xE9, 0x62}), L"a\xE9" L"b", 0x011},
    {0, b({0x80, 0x61}), L"\x20AC" L"a", 0x011},
    {0, b({0xC3, 0xA9, 0xE9, 0x61}), L"\xE9\xFFFD" L"a", 0x012},
    {0, b({0xE9, 0xC3, 0xA9}), L"\xE9\xC3\xA9", 0x011},
    {0, b({0xEF, 0xBF, 0xBD, 0x61}), L"\xFFFD" L"a", 0x012},
    {0, b({0xFF, 0x61, 0x62, 0x63}), L"\xFF" L"abc", 0x011},
    {0, b({0xEF, 0xBB, 0x61}), L"\xEF\xBB" L"a", 0x011},
    {no_mark, b({0xEF, 0xBB, 0xBF, 0x61}), L"\xFEFF" L"a", 0x012},
    // Every class of strict UTF-8 fault decides for the code page.
    {0, b({0xC0, 0xAF}), L"\xC0\xAF", 0x011},
    {0, b({0xC3, 0x41}), L"\xC3" L"A", 0x011},
    {0, b({0xE2, 0x82, 0x41}), L"\xE2\x201A" L"A", 0x011},
    {0, b({0xE0, 0x80, 0xAF}), L"\xE0\x20AC\xAF", 0x011},
    {0, b({0xF0, 0x80, 0x80, 0x80}), L"\xF0\x20AC\x20AC\x20AC", 0x011},
    {0, b({0xED, 0xA0, 0x80}), L"\xED\xA0\x20AC", 0x011},
    {0, b({0xF4, 0xA0, 0x80, 0x80}), L"\xF4\xA0\x20AC\x20AC", 0x011},
    {0, b({0xF5, 0x80, 0x80, 0x80}), L"\xF5\x20AC\x20AC\x20AC", 0x011},
    {0, b({0xF8, 0x61}), L"\xF8" L"a", 0x011},
    // Lenient UTF-8.
    {utf8, b({0x80, 0x61, 0xBF}), L"\xFFFD" L"a\xFFFD", 0x012},
    {utf8, b({0xC3, 0x41}), L"\xFFFD" L"A"},
    {utf8, b({0xE2, 0x82, 0x41}), L"\xFFFD" L"A"},
    {utf8, b({0xF0, 0x9F, 0x98, 0x41}), L"\xFFFD" L"A"},
    {utf8, b({0xC0, 0xAF}), L"/"},
    {utf8, b({0xE0, 0x80, 0xAF}), L"/"},
    {utf8, b({0xF8, 0x80, 0x80, 0x81, 0x81}), L"A"},
    {utf8, b({0xFC, 0x80, 0x80, 0x80, 0x81, 0x81}), L"A"},
    {utf8, b({0xF8, 0x88, 0x80, 0x80, 0x80, 0x61}), L"\xFFFD" L"a"},
    {utf8, b({0xFF, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF, 0x61}), L"\xFFFD" L"a"},
    {utf8, b({0xF4, 0x90, 0x80, 0x80}), L"\xFFFD"},
    {utf8, b({0xF4, 0x8F, 0xBF, 0xBD}), L"\xDBFF\xDFFD"},
    {utf8, b({0xED, 0xA0, 0x80, 0x61}), L"\xFFFD" L"a"},
    {utf8, b({0xED, 0xB0, 0x80}), L"\xFFFD"},
    {utf8, b({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}), L"\xD83D\xDE00"},
    {utf8, b({0xED, 0xA0, 0xBD, 0xED, 0x9F, 0xBF}), L"\xFFFD\xD7FF"},
    {utf8, b({0xEF, 0xBF, 0xBE, 0xEF, 0xBF, 0xBF}), L"\xFFFD\xFFFD"},
    {utf8, b({0xEF, 0xBB, 0xBF, 0xEF, 0xBB, 0xBF}), L"\xFEFF", 0x00A},
    {utf8 | no_mark, b({0xEF, 0xBB, 0xBF}), L"\xFEFF", 0x012},
    // UTF-16 and UTF-32 with a fixed encoding.
    {utf16, b({0x61, 0x00}), L"a", 0x113},
    {utf16, b({0xFF, 0xFE, 0x61, 0x00}), L"a", 0x10B},
    {utf16 | no_mark, b({0xFF, 0xFE, 0x61, 0x00}), L"\xFEFF" L"a", 0x113},
    {utf16 | txtf::byte_order_big, b({0x00, 0x61, 0x00, 0x0D}), L"a\n", 0x40000213},
    {utf16 | no_mark, b({0x00, 0xDC, 0x61, 0x00}), L"\xFFFD" L"a"},
    {utf16 | no_mark, b({0x00, 0xD8, 0x61, 0x00}), L"\xFFFD" L"a"},
    {utf16 | no_mark, b({0x00, 0xD8, 0x00, 0xD8, 0x00, 0xDC}), L"\xFFFD\xD800\xDC00"},
    {utf16 | no_mark, b({0xFE, 0xFF, 0xFF, 0xFF}), L"\xFFFD\xFFFD"},
    {utf32 | no_mark, b({0x00, 0xD8, 0x00, 0x00, 0x00, 0x00, 0x11, 0x00}), L"\xFFFD\xFFFD"},
    {utf32 | no_mark, b({0xFF, 0xFF, 0x10, 0x00, 0xFF, 0xFF, 0x00, 0x00}), L"\xDBFF\xDFFF\xFFFD", 0x114},
    {utf32 | txtf::byte_order_big, b({0x00, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0x00, 0x61}), L"a", 0x20C},
    // The code page as the encoding.
    {code_page, b({0xEF, 0xBB, 0xBF, 0x80}), L"\xEF\xBB\xBF\x20AC", 0x011},
    // Data that ends inside a character.
    {0, b({0x61, 0xE9}), L"a", any_state, false},
    {utf8, b({0x61, 0xC3}), L"a", any_state, false},
    {utf8, b({0xED, 0xA0, 0xBD}), L"", any_state, false},
    {utf16, b({0x61, 0x00, 0x3D, 0xD8}), L"a", any_state, false},
    {0, b({0xFF, 0xFE}), L"", any_state, false},
};

TEST_F(text_file, InputTableAtEveryBufferBoundary)
{
    for (const auto& row : input_rows) {
        const text_facet facet(row.mode);
        for (const auto& how : feedings) {
            const auto got = read_bytes(facet.facet, row.bytes, how);
            const auto where = testing::Message() << "mode " << std::hex << row.mode << ", bytes "
                                                  << hex(row.bytes) << ", " << how.name;
            EXPECT_EQ(got.text, row.text) << where;
            EXPECT_EQ(got.complete, row.complete) << where;
            if (row.state != any_state) {
                EXPECT_EQ(got.state, std::uint32_t(row.state)) << where;
            }
        }
    }
}

struct output_row {
    std::uint32_t mode;
    std::wstring text;
    std::string bytes;
    std::int64_t state = any_state;
    std::codecvt_base::result unshift = std::codecvt_base::ok;
};

const output_row output_rows[] = {
    {utf16, L"a\n", b({0xFF, 0xFE, 0x61, 0x00, 0x0D, 0x00, 0x0A, 0x00}), 0x12B},
    {utf16, L"a\r\n", b({0xFF, 0xFE, 0x61, 0x00, 0x0D, 0x00, 0x0A, 0x00}), 0x12B},
    {utf16, L"\r", b({0xFF, 0xFE}), 0x10B},
    {utf16 | no_mark, L"a\n", b({0x61, 0x00, 0x0D, 0x00, 0x0A, 0x00}), 0x133},
    {utf16 | txtf::byte_order_big, L"a\n", b({0xFE, 0xFF, 0x00, 0x61, 0x00, 0x0D, 0x00, 0x0A}), 0x22B},
    {utf16 | txtf::line_end_lf, L"a\r\nb", b({0xFF, 0xFE, 0x61, 0x00, 0x0A, 0x00, 0x62, 0x00}), 0x14B},
    {utf16 | txtf::line_end_cr, L"a\n", b({0xFF, 0xFE, 0x61, 0x00, 0x0D, 0x00}), 0x16B},
    {utf16, L"\xD83D\xDE00", b({0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}), 0x10B},
    {utf16 | txtf::byte_order_big, L"\xD83D\xDE00", b({0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00}), 0x20B},
    {utf8, L"\xD83D\xDE00", b({0xEF, 0xBB, 0xBF, 0xF0, 0x9F, 0x98, 0x80}), 0x00A},
    {utf8 | txtf::mark_written, L"a", b({0xEF, 0xBB, 0xBF, 0x61}), 0x00A},
    {utf8 | no_mark, L"\xE9\n", b({0xC3, 0xA9, 0x0D, 0x0A}), 0x032},
    {utf8 | no_mark, L"\x7F\x07FF\x0800\xFFFD", b({0x7F, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBD}), 0x012},
    {utf32, L"a", b({0xFF, 0xFE, 0x00, 0x00, 0x61, 0x00, 0x00, 0x00}), 0x10C},
    {utf32 | txtf::byte_order_big, L"\xD83D\xDE00", b({0x00, 0x00, 0xFE, 0xFF, 0x00, 0x01, 0xF6, 0x00}), 0x20C},
    {utf16 | no_mark, L"\xDC00", b({0xFD, 0xFF})},
    {utf16 | no_mark, L"\xD800" L"a", b({0xFD, 0xFF, 0x61, 0x00})},
    {utf16 | no_mark, L"\xD800\xD800\xDC00", b({0xFD, 0xFF, 0x00, 0xD8, 0x00, 0xDC})},
    {utf16 | no_mark, L"\xFFFE\xFFFF", b({0xFD, 0xFF, 0xFD, 0xFF})},
    {utf16 | no_mark, L"a\xD83D", b({0x61, 0x00}), 0x0D83D513, std::codecvt_base::error},
    {code_page, L"\xE9\x20AC\x3042\n", b({0xE9, 0x80, 0x3F, 0x0D, 0x0A}), 0x021},
    {code_page, L"\xD83D\xDE00", b({0x3F}), 0x001},
    {0, L"\xE9\n", b({0xE9, 0x0D, 0x0A}), 0x021},
};

TEST_F(text_file, OutputTableAtEveryBufferBoundary)
{
    for (const auto& row : output_rows) {
        const text_facet facet(row.mode);
        for (const auto& how : feedings) {
            const auto got = write_text(facet.facet, row.text, how);
            const auto where = testing::Message() << "mode " << std::hex << row.mode << ", text "
                                                  << testing::PrintToString(row.text) << ", " << how.name;
            EXPECT_EQ(hex(got.bytes), hex(row.bytes)) << where;
            EXPECT_EQ(got.unshift, row.unshift) << where;
            if (row.state != any_state) {
                EXPECT_EQ(got.state, std::uint32_t(row.state)) << where;
            }
        }
    }
}

TEST_F(text_file, OutputKeepsTheLineEndStyleOfTheState)
{
    const struct {
        unsigned style;
        std::string bytes;
    } cases[] = {
        {1, b({0x0D, 0x0A})}, {2, b({0x0A})}, {3, b({0x0D})}, {4, b({0x0D, 0x0A})},
    };
    const text_facet facet(txtf::encoding_utf8 | txtf::line_end_lf);
    for (const auto& c : cases) {
        std::mbstate_t state{};
        txtf::set_state_bits(state, 0x10 | (c.style << 5));
        const wchar_t lf = L'\n';
        const wchar_t* from_next;
        char bytes[8];
        char* bytes_next;
        ASSERT_EQ(facet.facet.out(state, &lf, &lf + 1, from_next, bytes, bytes + 8, bytes_next),
                  std::codecvt_base::ok);
        EXPECT_EQ(hex(std::string(bytes, bytes_next)), hex(c.bytes)) << "style " << c.style;
    }
}

TEST(text_file_mode, NormalisationClearsFieldsWithUnlistedValues)
{
    const struct {
        std::uint32_t mode, normalised;
    } cases[] = {
        {0x000, 0x000}, {0x001, 0x001}, {0x002, 0x002}, {0x003, 0x000}, {0x004, 0x004}, {0x005, 0x000},
        {0x008, 0x028}, {0x009, 0x000}, {0x00F, 0x000}, {0x018, 0x028}, {0x010, 0x010}, {0x020, 0x020},
        {0x032, 0x002}, {0x040, 0x040}, {0x080, 0x080}, {0x100, 0x100}, {0x0C0, 0x000}, {0x140, 0x000},
        {0x181, 0x001}, {0x1C2, 0x002}, {0x400, 0x400}, {0x802, 0x802}, {0xC04, 0x004}, {0x4A8, 0x4A8},
        {0xFFF, 0x200}, {0x10002, 0x10002},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(txtf::normalise_mode(c.mode), c.normalised) << std::hex << c.mode;
        const text_facet facet(c.mode);
        EXPECT_EQ(dynamic_cast<const txtf::codecvt<wchar_t>&>(facet.facet).mode(), c.normalised);
    }
}

TEST_F(text_file, MaximumLengthAndEncoding)
{
    const int m = std::use_facet<facet_base>(std::locale::classic()).max_length();
    const int width = std::use_facet<facet_base>(std::locale::classic()).encoding();
    const std::uint32_t lf = txtf::line_end_lf, cr = txtf::line_end_cr, crlf = txtf::line_end_crlf;
    const struct {
        std::uint32_t mode;
        int max_length, encoding;
    } cases[] = {
        {utf8, 9, -1},
        {utf8 | no_mark, 6, -1},
        {utf8 | no_mark | crlf, 6, 0},
        {utf8 | no_mark | lf, 6, 0},
        {utf8 | lf, 9, -1},
        {utf16, 6, -1},
        {utf16 | no_mark, 4, -1},
        {utf16 | no_mark | cr, 4, 0},
        {utf32, 12, -1},
        {utf32 | lf, 8, -1},
        {utf32 | no_mark, 8, -1},
        {utf32 | no_mark | crlf, 8, 0},
        {utf32 | no_mark | cr, 4, 4},
        {utf32 | no_mark | lf, 4, 4},
        {code_page, 2 * m, -1},
        {code_page | crlf, 2 * m, 0},
        {code_page | lf, m, width},
        {0, std::max(2 * m, 12), -1},
        {lf, std::max(2 * m, 9), -1},
        {no_mark, std::max(2 * m, 8), -1},
        {no_mark | cr, std::max(2 * m, 6), 0},
    };
    for (const auto& c : cases) {
        const text_facet facet(c.mode);
        EXPECT_EQ(facet.facet.max_length(), c.max_length) << std::hex << c.mode;
        EXPECT_EQ(facet.facet.encoding(), c.encoding) << std::hex << c.mode;
        EXPECT_FALSE(facet.facet.always_noconv());
    }
}

TEST_F(text_file, LengthCountsBytesForWideUnits)
{
    const std::string bytes = b({0xEF, 0xBB, 0xBF, 0x61, 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80, 0x0D, 0x0A});
    const struct {
        std::size_t units;
        int length;
    } cases[] = {{0, 0}, {1, 4}, {2, 6}, {3, 10}, {4, 10}, {5, 11}, {50, 12}};
    const text_facet facet(0);
    for (const auto& c : cases) {
        std::mbstate_t state{};
        EXPECT_EQ(facet.facet.length(state, bytes.data(), bytes.data() + bytes.size(), c.units), c.length)
            << c.units << " units";
    }
}

TEST(text_file_code_page, DoubleByteCharactersAreFedByteByByte)
{
    const scoped_code_page code_page(".932");
    if (!code_page.applied())
        GTEST_SKIP() << "the C runtime refuses code page 932";
    const struct {
        std::uint32_t mode;
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {0, b({0x61, 0x82, 0xA0, 0x0D, 0x0A}), L"a\x3042\n"},
        {txtf::encoding_code_page, b({0x82, 0xA0, 0x62}), L"\x3042" L"b"},
        {txtf::encoding_code_page, b({0x82}), L""},
    };
    for (const auto& c : cases) {
        const text_facet facet(c.mode);
        for (const auto& how : feedings)
            EXPECT_EQ(read_bytes(facet.facet, c.bytes, how).text, c.text) << hex(c.bytes) << ", " << how.name;
        EXPECT_EQ(facet.facet.max_length(), c.mode == 0 ? 12 : 4);
    }
    const text_facet facet(txtf::encoding_code_page);
    EXPECT_EQ(hex(write_text(facet.facet, L"\x3042\n", feedings[3]).bytes), hex(b({0x82, 0xA0, 0x0D, 0x0A})));
}

// The standard facet of this runtime converts with the C runtime's
// character-type locale, whatever the library locale is named.
TEST(text_file_code_page, TheProcessCodePageDecides)
{
    const struct {
        const char* locale;
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {"C", b({0x80, 0xE9}), L"\x80\xE9"},
        {".1252", b({0x80, 0xE9}), L"\x20AC\xE9"},
        {".1250", b({0x8A, 0xE9}), L"\x160\xE9"},
        {".1251", b({0xC0, 0xE9}), L"\x410\x439"},
    };
    for (const auto& c : cases) {
        const scoped_code_page code_page(c.locale);
        if (!code_page.applied()) {
            ADD_FAILURE() << "the C runtime refuses " << c.locale;
            continue;
        }
        const text_facet automatic(0);
        EXPECT_EQ(read_bytes(automatic.facet, c.bytes, feedings[0]).text, c.text) << c.locale;
        const text_facet narrow(txtf::encoding_code_page);
        EXPECT_EQ(hex(write_text(narrow.facet, c.text, feedings[0]).bytes), hex(c.bytes)) << c.locale;
    }
}

TEST_F(text_file, BuiltOnItsOwnLocaleItConvertsThroughTheCodePage)
{
    const text_facet inner(txtf::encoding_utf8);
    const std::locale outer(inner.locale, new txtf::codecvt<wchar_t>(txtf::encoding_code_page, inner.locale));
    const auto& facet = std::use_facet<facet_base>(outer);
    EXPECT_EQ(hex(write_text(facet, L"\xE9", feedings[0]).bytes), hex(b({0xE9})));
}

// Files of the streams live in a folder of this test process.
class text_file_stream : public text_file {
protected:
    void SetUp() override
    {
        text_file::SetUp();
        folder_ = std::filesystem::temp_directory_path() / ("hv_txtf_" + std::to_string(_getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::filesystem::path file(const char* name) const { return folder_ / name; }

    static std::string file_bytes(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static void write_bytes(const std::filesystem::path& path, const std::string& bytes)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    static std::wstring read_all(txtf::wifstream& in)
    {
        std::wstring text;
        wchar_t c;
        while (in.get(c))
            text += c;
        return text;
    }

    static std::uint32_t stream_mode(const std::ios_base& stream)
    {
        const auto& facet = std::use_facet<facet_base>(stream.getloc());
        const auto* own = dynamic_cast<const txtf::codecvt<wchar_t>*>(&facet);
        return own ? own->mode() : 0xFFFFFFFF;
    }

    std::filesystem::path folder_;
};

TEST_F(text_file_stream, OutputStreamWritesUtf16LittleEndianWithMarkAndCrLf)
{
    const auto path = file("log.txt");
    {
        txtf::wofstream out(path);
        ASSERT_TRUE(out.is_open());
        EXPECT_EQ(stream_mode(out), txtf::encoding_utf16);
        out << L"[Files]\nC:\\Program Files\\Q\\a.exe\r\n\xE9\xD83D\xDE00\n";
    }
    std::string expected = b({0xFF, 0xFE});
    for (wchar_t c : std::wstring(L"[Files]\r\nC:\\Program Files\\Q\\a.exe\r\n\xE9\xD83D\xDE00\r\n")) {
        expected += static_cast<char>(c & 0xFF);
        expected += static_cast<char>(c >> 8);
    }
    EXPECT_EQ(hex(file_bytes(path)), hex(expected));
}

TEST_F(text_file_stream, InputStreamDetectsAndKeepsAFacetItAlreadyHas)
{
    const auto path = file("in.txt");
    write_bytes(path, b({0xEF, 0xBB, 0xBF, 0x61, 0x0D, 0x0A, 0xC3, 0xA9}));
    txtf::wifstream in(path);
    ASSERT_TRUE(in.is_open());
    EXPECT_EQ(stream_mode(in), txtf::encoding_automatic);
    EXPECT_EQ(read_all(in), L"a\n\xE9");

    txtf::wifstream as_code_page;
    as_code_page.imbue(text_facet(txtf::encoding_code_page).locale);
    as_code_page.open(path);
    EXPECT_EQ(stream_mode(as_code_page), txtf::normalise_mode(txtf::encoding_code_page));
    EXPECT_EQ(read_all(as_code_page), L"\xEF\xBB\xBF" L"a\n\xC3\xA9");
}

TEST_F(text_file_stream, FilesThatCannotBeOpenedSetFailbit)
{
    txtf::wifstream in(file("missing.txt"));
    EXPECT_TRUE(in.fail());
    txtf::wofstream out(folder_ / "no such folder" / "out.txt");
    EXPECT_TRUE(out.fail());
}

TEST_F(text_file_stream, InputTableThroughTheFileStream)
{
    const auto path = file("row.txt");
    for (const auto& row : input_rows) {
        write_bytes(path, row.bytes);
        txtf::wifstream in;
        in.imbue(text_facet(row.mode).locale);
        in.open(path);
        ASSERT_TRUE(in.is_open());
        EXPECT_EQ(read_all(in), row.text) << hex(row.bytes);
        EXPECT_EQ(in.bad(), !row.complete) << hex(row.bytes);
    }
}

// A small file buffer meets the pair at every position, also at the end of
// the file.
TEST_F(text_file_stream, SupplementaryCharacterEndingAFileAtEveryBufferPosition)
{
    const auto path = file("end.txt");
    for (std::size_t count = 0; count < 40; ++count) {
        const std::wstring text = std::wstring(count, L'a') + L"\xD83D\xDE00";
        {
            // One byte a unit, so that the buffer fills before the bytes run out.
            txtf::wofstream out;
            out.imbue(text_facet(utf8 | no_mark).locale);
            out.open(path);
            out << text;
        }
        wchar_t buffer[16];
        txtf::wifstream in;
        in.rdbuf()->pubsetbuf(buffer, std::size(buffer));
        in.open(path);
        EXPECT_EQ(read_all(in), text) << count;
        EXPECT_FALSE(in.bad()) << count;
    }
}

// Long enough to cross the file buffers at every kind of character.
std::wstring long_text(const std::wstring& line)
{
    std::wstring text;
    for (std::size_t i = 0; i < 700; ++i) {
        std::size_t start = i % line.size();
        if (line[start] >= 0xDC00 && line[start] <= 0xDFFF)
            ++start;
        text += line.substr(start) + line;
    }
    return text;
}

TEST_F(text_file_stream, EveryEncodingReadsBackWithDetection)
{
    const std::wstring unicode = long_text(L"Zeile \xE9\x20AC \xD83D\xDE00 end\r\nline two\nthree\r");
    const std::wstring narrow = long_text(L"Ligne \xE9\x20AC fin\r\nsecond\nthird\r");
    const struct {
        std::uint32_t mode;
        const std::wstring& text;
    } cases[] = {
        {utf8, unicode},
        {utf8 | txtf::line_end_lf, unicode},
        {utf16, unicode},
        {utf16 | txtf::byte_order_big, unicode},
        {utf16 | txtf::line_end_cr, unicode},
        {utf32, unicode},
        {utf32 | txtf::byte_order_big, unicode},
        {code_page, narrow},
        {0, narrow},
    };
    const auto path = file("round.txt");
    for (const auto& c : cases) {
        {
            txtf::wofstream out;
            out.imbue(text_facet(c.mode).locale);
            out.open(path);
            out << c.text;
            out.close();
            ASSERT_FALSE(out.fail()) << std::hex << c.mode;
        }
        std::wstring expected = c.text;
        std::erase(expected, L'\r');

        for (bool unbuffered : {false, true}) {
            txtf::wifstream in;
            if (unbuffered)
                in.rdbuf()->pubsetbuf(nullptr, 0);
            in.open(path);
            const std::wstring got = read_all(in);
            const auto diff = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
            EXPECT_TRUE(got == expected) << std::hex << c.mode << (unbuffered ? " unbuffered" : "") << " differs at " << std::dec << (diff.first - got.begin()) << " of " << got.size() << "/" << expected.size();
            EXPECT_FALSE(in.bad());
        }
        const text_facet automatic(0);
        EXPECT_TRUE(read_bytes(automatic.facet, file_bytes(path), feedings[3]).text == expected)
            << std::hex << c.mode << " one byte at a time";
    }
}

}

