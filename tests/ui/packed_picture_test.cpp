#include "ui/packed_picture.h"

#include "resources/resource_ids.h"

#include <bzlib.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

namespace {

// packed_pictures_test.rc gives every picture also as the plain bitmap or
// icon resource it was before packing, under its number plus this.
constexpr int plain_offset = 9000;

std::vector<std::byte> bytes_of(std::initializer_list<unsigned> values)
{
    std::vector<std::byte> out;
    for (unsigned v : values)
        out.push_back(static_cast<std::byte>(v));
    return out;
}

void put16(std::vector<std::byte>& out, unsigned v)
{
    out.push_back(static_cast<std::byte>(v & 0xFF));
    out.push_back(static_cast<std::byte>((v >> 8) & 0xFF));
}

void put32(std::vector<std::byte>& out, std::uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::vector<std::byte> packed(const std::vector<std::byte>& data, std::uint32_t announced)
{
    std::vector<std::byte> out;
    put32(out, announced);
    auto length = static_cast<unsigned>(data.size() + 1000);
    out.resize(4 + length);
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data() + 4), &length,
                                       const_cast<char*>(reinterpret_cast<const char*>(data.data())),
                                       static_cast<unsigned>(data.size()), 1, 0, 0),
              BZ_OK);
    out.resize(4 + length);
    return out;
}

TEST(PackedPicture, AnnouncedLength)
{
    struct test_case {
        const char* name;
        std::vector<std::byte> bytes;
        std::optional<std::size_t> expected;
    };
    const test_case cases[]{
        {"empty", {}, std::nullopt},
        {"three bytes", bytes_of({1, 0, 0}), std::nullopt},
        {"nothing to unpack", bytes_of({0, 0, 0, 0, 'B', 'Z'}), std::nullopt},
        {"one byte", bytes_of({1, 0, 0, 0}), 1},
        {"little endian", bytes_of({0x34, 0x12, 0x02, 0x00, 'B'}), 0x21234},
        {"the largest", bytes_of({0, 0, 0x40, 0}), max_unpacked_picture},
        {"one more than the largest", bytes_of({1, 0, 0x40, 0}), std::nullopt},
        {"the largest 32-bit length", bytes_of({0xFF, 0xFF, 0xFF, 0xFF}), std::nullopt},
    };
    for (const test_case& c : cases)
        EXPECT_EQ(announced_length(c.bytes), c.expected) << c.name;
}

TEST(PackedPicture, UnpacksOnlyToTheAnnouncedLength)
{
    std::vector<std::byte> data;
    for (int i = 0; i < 5000; ++i)
        data.push_back(static_cast<std::byte>(i % 7 * 31));
    EXPECT_EQ(unpack_picture(packed(data, 5000)), data);

    std::vector<std::byte> cut = packed(data, 5000);
    cut.resize(cut.size() - 10);
    std::vector<std::byte> damaged = packed(data, 5000);
    damaged[damaged.size() / 2] ^= std::byte{0x55};
    struct test_case {
        const char* name;
        std::vector<std::byte> bytes;
    };
    const test_case cases[]{
        {"announces less", packed(data, 4999)},
        {"announces more", packed(data, 5001)},
        {"announces nothing", packed(data, 0)},
        {"announces too much", packed(data, 0xFFFFFFFF)},
        {"stream cut", cut},
        {"stream damaged", damaged},
        {"no stream", bytes_of({4, 0, 0, 0, 'n', 'o', 'n', 'e'})},
        {"length only", bytes_of({4, 0, 0, 0})},
    };
    for (const test_case& c : cases)
        EXPECT_THROW(unpack_picture(c.bytes), std::runtime_error) << c.name;
}

std::vector<std::byte> dib_header(std::int32_t width, std::int32_t height, unsigned bit_count,
                                  std::uint32_t compression = BI_RGB, std::uint32_t colours = 0)
{
    std::vector<std::byte> out;
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(width));
    put32(out, static_cast<std::uint32_t>(height));
    put16(out, 1);
    put16(out, bit_count);
    put32(out, compression);
    put32(out, 0);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, colours);
    put32(out, 0);
    return out;
}

std::vector<std::byte> with_pixels(std::vector<std::byte> header, std::size_t bytes)
{
    header.resize(header.size() + bytes, std::byte{0x80});
    return header;
}

TEST(PackedPicture, DibLayout)
{
    std::vector<std::byte> core_header = dib_header(3, 2, 24);
    core_header[0] = std::byte{12};
    std::vector<std::byte> two_planes = dib_header(3, 2, 24);
    two_planes[12] = std::byte{2};
    struct test_case {
        const char* name;
        std::vector<std::byte> bytes;
        std::optional<dib_layout> expected;
    };
    const test_case cases[]{
        // 3 pixels of 24 bits: 9 bytes, padded to 12 per row.
        {"24-bit", with_pixels(dib_header(3, 2, 24), 24), dib_layout{3, 2, 24, 24}},
        {"24-bit, more bytes than rows", with_pixels(dib_header(3, 2, 24), 30), dib_layout{3, 2, 24, 24}},
        {"32-bit", with_pixels(dib_header(3, 2, 32), 24), dib_layout{3, 2, 32, 24}},
        {"the side picture's size", with_pixels(dib_header(88, 170, 24), 264 * 170), dib_layout{88, 170, 24, 264 * 170}},
        {"one byte short", with_pixels(dib_header(3, 2, 24), 23), std::nullopt},
        {"header only", dib_header(3, 2, 24), std::nullopt},
        {"header cut", bytes_of({40, 0, 0, 0, 3, 0, 0, 0}), std::nullopt},
        {"core header", with_pixels(core_header, 24), std::nullopt},
        {"two planes", with_pixels(two_planes, 24), std::nullopt},
        {"no width", with_pixels(dib_header(0, 2, 24), 24), std::nullopt},
        {"negative width", with_pixels(dib_header(-3, 2, 24), 24), std::nullopt},
        {"no height", with_pixels(dib_header(3, 0, 24), 24), std::nullopt},
        {"top-down", with_pixels(dib_header(3, -2, 24), 24), std::nullopt},
        {"8-bit", with_pixels(dib_header(3, 2, 8), 1024 + 8), std::nullopt},
        {"16-bit", with_pixels(dib_header(3, 2, 16), 16), std::nullopt},
        {"run-length coded", with_pixels(dib_header(3, 2, 24, BI_RLE8), 24), std::nullopt},
        {"bit fields", with_pixels(dib_header(3, 2, 32, BI_BITFIELDS), 36), std::nullopt},
        {"colour table", with_pixels(dib_header(3, 2, 24, BI_RGB, 2), 32), std::nullopt},
        // Sizes whose product overflows 32 bits must not wrap to a small number.
        {"huge", with_pixels(dib_header(0x7FFFFFFF, 0x7FFFFFFF, 32), 64), std::nullopt},
        {"wraps at 32 bits", with_pixels(dib_header(0x40000000, 4, 32), 64), std::nullopt},
    };
    for (const test_case& c : cases)
        EXPECT_EQ(dib_layout_of(c.bytes), c.expected) << c.name;
}

struct group_entry {
    std::uint32_t size;
    unsigned number;
};

std::vector<std::byte> icon_group(const std::vector<group_entry>& entries, std::size_t image_bytes,
                                  unsigned type = 1)
{
    std::vector<std::byte> out;
    put16(out, 0);
    put16(out, type);
    put16(out, static_cast<unsigned>(entries.size()));
    for (const group_entry& e : entries) {
        out.insert(out.end(), {std::byte{18}, std::byte{12}, std::byte{0}, std::byte{0}});
        put16(out, 1);
        put16(out, 24);
        put32(out, e.size);
        put16(out, e.number);
    }
    for (std::size_t i = 0; i < image_bytes; ++i)
        out.push_back(static_cast<std::byte>(i & 0xFF));
    return out;
}

TEST(PackedPicture, IconGroupImage)
{
    const std::size_t directory = 6 + 14 * 2;
    const std::vector<std::byte> good = icon_group({{760, 1}, {1180, 2}}, 760 + 1180);
    struct test_case {
        const char* name;
        std::vector<std::byte> bytes;
        int number;
        std::optional<std::pair<std::size_t, std::size_t>> expected; // offset, size
    };
    const test_case cases[]{
        {"first", good, 1, std::pair<std::size_t, std::size_t>{directory, 760}},
        {"second", good, 2, std::pair<std::size_t, std::size_t>{directory + 760, 1180}},
        {"number 0", good, 0, std::nullopt},
        {"past the last", good, 3, std::nullopt},
        {"negative", good, -1, std::nullopt},
        {"last image one byte short", icon_group({{760, 1}, {1180, 2}}, 760 + 1179), 1, std::nullopt},
        {"no images", icon_group({}, 0), 1, std::nullopt},
        {"directory cut", std::vector<std::byte>(good.begin(), good.begin() + 20), 1, std::nullopt},
        {"header cut", bytes_of({0, 0, 1}), 1, std::nullopt},
        {"cursor group", icon_group({{760, 1}}, 760, 2), 1, std::nullopt},
        {"numbers out of order", icon_group({{760, 2}, {1180, 1}}, 760 + 1180), 1, std::nullopt},
        {"image smaller than a header", icon_group({{39, 1}}, 39), 1, std::nullopt},
        {"size that wraps", icon_group({{760, 1}, {0xFFFFFFFF, 2}}, 760 + 1180), 1, std::nullopt},
    };
    for (const test_case& c : cases) {
        const auto image = icon_group_image(c.bytes, c.number);
        ASSERT_EQ(image.has_value(), c.expected.has_value()) << c.name;
        if (image) {
            EXPECT_EQ(image->data(), c.bytes.data() + c.expected->first) << c.name;
            EXPECT_EQ(image->size(), c.expected->second) << c.name;
        }
    }
}

// A bitmap's width and height, then its pixels as 32-bit rows, top first.
std::vector<std::uint32_t> pixels_of(HBITMAP bitmap)
{
    BITMAP info{};
    if (!bitmap || !GetObjectW(bitmap, sizeof info, &info))
        return {};
    BITMAPINFO wanted{};
    wanted.bmiHeader.biSize = sizeof wanted.bmiHeader;
    wanted.bmiHeader.biWidth = info.bmWidth;
    wanted.bmiHeader.biHeight = -info.bmHeight;
    wanted.bmiHeader.biPlanes = 1;
    wanted.bmiHeader.biBitCount = 32;
    std::vector<std::uint32_t> pixels(2 + static_cast<std::size_t>(info.bmWidth) * info.bmHeight);
    pixels[0] = static_cast<std::uint32_t>(info.bmWidth);
    pixels[1] = static_cast<std::uint32_t>(info.bmHeight);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, bitmap, 0, static_cast<UINT>(info.bmHeight), pixels.data() + 2, &wanted,
                               DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(rows, info.bmHeight);
    return pixels;
}

struct scale_case {
    int dpi;
    int width;
    int height;
};

scale_case at(int dpi, int width, int height)
{
    return {dpi, MulDiv(width, dpi, 96), MulDiv(height, dpi, 96)};
}

constexpr int dpis[]{72, 96, 108, 120, 132, 144, 168, 192, 240};

// The packed pictures show exactly what the plain resources showed through
// LoadImage, at the drawn sizes and at every size between them.
TEST(PackedPicture, SidePicturesAreThoseLoadImageMade)
{
    HMODULE module = GetModuleHandleW(nullptr);
    for (int id : {IDB_SIDE_PICTURE, IDB_SIDE_PICTURE_125, IDB_SIDE_PICTURE_150, IDB_SIDE_PICTURE_200})
        for (int dpi : dpis) {
            const scale_case c = at(dpi, 88, 170);
            SCOPED_TRACE(testing::Message() << "picture " << id << " at " << c.width << " x " << c.height);
            const bitmap_handle plain(static_cast<HBITMAP>(LoadImageW(module, MAKEINTRESOURCEW(id + plain_offset),
                                                                      IMAGE_BITMAP, c.width, c.height,
                                                                      LR_CREATEDIBSECTION)));
            ASSERT_TRUE(plain);
            const bitmap_handle unpacked = load_packed_bitmap(module, id, c.width, c.height);
            DIBSECTION section{};
            ASSERT_EQ(GetObjectW(unpacked.get(), sizeof section, &section), static_cast<int>(sizeof section));
            EXPECT_EQ(section.dsBm.bmWidth, c.width);
            EXPECT_EQ(section.dsBm.bmHeight, c.height);
            EXPECT_EQ(section.dsBm.bmBitsPixel, 24);
            const std::vector<std::uint32_t> expected = pixels_of(plain.get());
            ASSERT_FALSE(expected.empty());
            EXPECT_TRUE(pixels_of(unpacked.get()) == expected);
        }
}

TEST(PackedPicture, FlagsAreThoseLoadImageMade)
{
    HMODULE module = GetModuleHandleW(nullptr);
    for (int id : {IDI_FLAG_GERMAN, IDI_FLAG_SPANISH, IDI_FLAG_FRENCH, IDI_FLAG_ENGLISH, IDI_FLAG_ITALIAN,
                   IDI_FLAG_PORTUGUESE, IDI_FLAG_TURKISH, IDI_FLAG_ROMANIAN, IDI_FLAG_POLISH, IDI_FLAG_HUNGARIAN})
        for (int dpi : dpis) {
            const scale_case c = at(dpi, 18, 12);
            SCOPED_TRACE(testing::Message() << "flag " << id << " at " << c.width << " x " << c.height);
            const icon_handle plain = load_icon(module, id + plain_offset, c.width, c.height);
            ASSERT_TRUE(plain);
            const icon_handle unpacked = load_packed_icon(module, id, c.width, c.height);
            ICONINFO expected{}, shown{};
            ASSERT_TRUE(GetIconInfo(plain.get(), &expected));
            ASSERT_TRUE(GetIconInfo(unpacked.get(), &shown));
            const bitmap_handle owned[]{bitmap_handle(expected.hbmColor), bitmap_handle(expected.hbmMask),
                                        bitmap_handle(shown.hbmColor), bitmap_handle(shown.hbmMask)};
            ASSERT_TRUE(expected.hbmColor && shown.hbmColor);
            const std::vector<std::uint32_t> colour = pixels_of(shown.hbmColor);
            ASSERT_EQ(colour.size(), 2 + static_cast<std::size_t>(c.width) * c.height);
            EXPECT_TRUE(colour == pixels_of(expected.hbmColor));
            EXPECT_TRUE(pixels_of(shown.hbmMask) == pixels_of(expected.hbmMask));
        }
}

TEST(PackedPicture, MissingOrMismatchedResourcesThrow)
{
    HMODULE module = GetModuleHandleW(nullptr);
    EXPECT_THROW(packed_resource(module, 4321), std::system_error);
    EXPECT_THROW(load_packed_bitmap(module, 4321, 88, 170), std::system_error);
    EXPECT_THROW(load_packed_icon(module, 4321, 18, 12), std::system_error);
    // A flag is no bitmap and the side picture no icon.
    EXPECT_THROW(load_packed_bitmap(module, IDI_FLAG_GERMAN, 88, 170), std::runtime_error);
    EXPECT_THROW(load_packed_icon(module, IDB_SIDE_PICTURE, 18, 12), std::runtime_error);
    // A resource whose stream does not unpack.
    EXPECT_THROW(load_packed_bitmap(module, 9500, 88, 170), std::runtime_error);
    EXPECT_THROW(load_packed_bitmap(module, IDB_SIDE_PICTURE, 0, 170), std::invalid_argument);
}

}
