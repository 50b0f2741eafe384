#include "payload/archive_format.h"
#include "payload/compress_error.h"
#include "payload/memstream.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string u64(std::uint64_t v)
{
    std::string s;
    for (int i = 0; i < 8; ++i)
        s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}

std::string u32(std::uint32_t v)
{
    return u64(v).substr(0, 4);
}

void expect_unexpected_error(const std::function<void()>& action, const std::string& what)
{
    try {
        action();
        ADD_FAILURE() << what << ": no error";
    }
    catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), make_error_code(compress_errc::unexpected_error)) << what;
    }
}

TEST(ArchiveFormat, HeaderIsLittleEndianUtf16WithExactSize)
{
    const std::vector<archive_entry> entries{
        {u"a\\Quillmar.exe", u"<InstallPath>", 1, 0x0102030405, 0xCBF43926},
        {u"", u"", 4, 0, 0},
    };
    const std::string header = encode_archive_header(entries);
    const std::uint64_t expected_size = 12 + (4 + 2 * 14 + 4 + 2 * 13 + 16) + (4 + 4 + 16);
    EXPECT_EQ(archive_header_size(entries), expected_size);
    ASSERT_EQ(header.size(), expected_size);

    std::string expected = u64(expected_size) + u32(2) + u32(14);
    for (char c : std::string("a\\Quillmar.exe"))
        expected += std::string{c, '\0'};
    expected += u32(13);
    for (char c : std::string("<InstallPath>"))
        expected += std::string{c, '\0'};
    expected += u32(1) + u64(0x0102030405) + u32(0xCBF43926);
    expected += u32(0) + u32(0) + u32(4) + u64(0) + u32(0);
    EXPECT_EQ(header, expected);

    const auto decoded = decode_archive_header(header);
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_EQ(decoded[0].source, entries[0].source);
    EXPECT_EQ(decoded[0].destination, entries[0].destination);
    EXPECT_EQ(decoded[0].kind, 1u);
    EXPECT_EQ(decoded[0].size, 0x0102030405u);
    EXPECT_EQ(decoded[0].crc32, 0xCBF43926u);
    EXPECT_EQ(decoded[1].kind, 4u);
    EXPECT_EQ(archive_total_size(expected_size, decoded), expected_size + 0x0102030405);
}

TEST(ArchiveFormat, NonAsciiCodeUnitsSurvive)
{
    const std::vector<archive_entry> entries{{u"\u00e9\u4e2d\xd83d\xde00", u"<Desktop>\\\u0141", 0, 1, 2}};
    const auto decoded = decode_archive_header(encode_archive_header(entries));
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0].source, entries[0].source);
    EXPECT_EQ(decoded[0].destination, entries[0].destination);
}

TEST(ArchiveFormat, ReaderIgnoresBytesAfterTheLastEntry)
{
    const std::vector<archive_entry> entries{{u"x", u"y", 0, 3, 4}};
    const auto decoded = decode_archive_header(encode_archive_header(entries) + "rest");
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0].source, u"x");
}

TEST(ArchiveFormat, RejectsImpossibleHeaders)
{
    const std::string one = encode_archive_header({{u"ab", u"c", 0, 1, 2}});
    const struct {
        const char* what;
        std::string header;
    } cases[] = {
        {"fewer than 8 bytes", "1234567"},
        {"no entry count", u64(12)},
        {"entry count beyond the header", u64(12) + u32(1)},
        {"absurd entry count", u64(12) + u32(0xFFFFFFFF) + std::string(100, '\0')},
        {"source length beyond the header", u64(40) + u32(1) + u32(0x7FFFFFFF) + std::string(28, '\0')},
        {"truncated entry", one.substr(0, one.size() - 1)},
        {"NUL in a string", u64(40) + u32(1) + u32(1) + std::string(2, '\0') + std::string(24, '\0')},
    };
    for (const auto& c : cases)
        expect_unexpected_error([&] { decode_archive_header(c.header); }, c.what);
}

TEST(ArchiveFormat, HeaderSizeIsBounded)
{
    EXPECT_EQ(decode_header_size(u64(12)), 12u);
    EXPECT_EQ(decode_header_size(u64(archive_max_header_size)), archive_max_header_size);
    for (std::uint64_t size : {std::uint64_t{0}, std::uint64_t{11}, archive_max_header_size + 1, ~std::uint64_t{0}})
        expect_unexpected_error([&] { decode_header_size(u64(size)); }, "header size " + std::to_string(size));
}

TEST(ArchiveFormat, TotalSizeOverflowIsAnError)
{
    const std::vector<archive_entry> entries{{u"a", u"b", 0, ~std::uint64_t{0} - 20, 0}};
    expect_unexpected_error([&] { archive_total_size(40, entries); }, "overflow");
}

TEST(ArchiveFormat, Crc32IsTheOneOfZlib)
{
    EXPECT_EQ(archive_crc32(""), 0u);
    EXPECT_EQ(archive_crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(archive_crc32("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
}

TEST(CompressCategory, NameAndMessages)
{
    const auto& category = compress_category();
    EXPECT_STREQ(category.name(), "compress");
    EXPECT_EQ(&category, &compress_category());
    const struct {
        int code;
        const char* message;
    } cases[] = {
        {3, "invalid checksum"}, {4, "unknown error"},    {5, "interrupted"}, {6, "bzip2 error"},
        {7, "unexpected error"}, {0, "unknown error"},    {8, "unknown error"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(category.message(c.code), c.message) << c.code;
    EXPECT_EQ(std::error_code(compress_errc::interrupted).value(), 5);
}

TEST(Imemstream, ReadsAndSeeksWithoutCopying)
{
    const std::string data = "abcdef";
    hv::imemstream in(data);
    std::string word(3, '\0');
    in.read(word.data(), 3);
    EXPECT_EQ(word, "abc");
    in.seekg(-1, std::ios::end);
    EXPECT_EQ(in.get(), 'f');
    EXPECT_EQ(in.get(), std::char_traits<char>::eof());
    in.clear();
    in.seekg(0);
    EXPECT_EQ(in.get(), 'a');
    in.seekg(7);
    EXPECT_TRUE(in.fail());
    hv::imemstream empty(std::string_view{});
    EXPECT_EQ(empty.get(), std::char_traits<char>::eof());
}

TEST(Memstream, GrowsAndReadsBackWhatWasWritten)
{
    hv::memstream buffer;
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        const std::string piece = std::to_string(i) + ",";
        buffer.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        expected += piece;
    }
    buffer.put('!');
    expected += '!';
    EXPECT_EQ(buffer.size(), expected.size());
    EXPECT_EQ(buffer.view(), expected);
    std::string first(4, '\0');
    buffer.read(first.data(), 4);
    EXPECT_EQ(first, "0,1,");
    buffer.seekg(-2, std::ios::end);
    EXPECT_EQ(buffer.get(), ',');
    EXPECT_EQ(buffer.get(), '!');
    EXPECT_EQ(buffer.get(), std::char_traits<char>::eof());
}

}
