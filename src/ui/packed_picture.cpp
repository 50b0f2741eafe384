#include "ui/packed_picture.h"

#include "resources/resource_ids.h"

#include <bzlib.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace {

std::uint32_t read32(std::span<const std::byte> bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    return value;
}

std::uint16_t read16(std::span<const std::byte> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned>(bytes[at]) | static_cast<unsigned>(bytes[at + 1]) << 8);
}

[[noreturn]] void throw_last_error(const char* what)
{
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
}

class memory_dc {
public:
    memory_dc() : dc_(CreateCompatibleDC(nullptr))
    {
        if (!dc_)
            throw_last_error("CreateCompatibleDC");
    }
    memory_dc(const memory_dc&) = delete;
    memory_dc& operator=(const memory_dc&) = delete;
    ~memory_dc() { DeleteDC(dc_); }
    HDC get() const noexcept { return dc_; }

private:
    HDC dc_;
};

constexpr std::size_t dib_header_size = sizeof(BITMAPINFOHEADER);
constexpr std::size_t group_header_size = 6;
constexpr std::size_t group_entry_size = 14;

}

std::optional<std::size_t> announced_length(std::span<const std::byte> packed)
{
    if (packed.size() < 4)
        return std::nullopt;
    const std::size_t length = read32(packed, 0);
    if (length == 0 || length > max_unpacked_picture)
        return std::nullopt;
    return length;
}

std::vector<std::byte> unpack_picture(std::span<const std::byte> packed)
{
    const std::optional<std::size_t> length = announced_length(packed);
    if (!length)
        throw std::runtime_error("a packed picture announces no length it could have");
    std::vector<std::byte> out(*length);
    auto out_length = static_cast<unsigned>(out.size());
    // bzip2 takes the input through a non-const pointer but only reads it.
    const int result = BZ2_bzBuffToBuffDecompress(
        reinterpret_cast<char*>(out.data()), &out_length,
        const_cast<char*>(reinterpret_cast<const char*>(packed.data() + 4)), static_cast<unsigned>(packed.size() - 4), 0, 0);
    if (result != BZ_OK || out_length != out.size())
        throw std::runtime_error("a packed picture does not unpack to its announced length");
    return out;
}

std::optional<dib_layout> dib_layout_of(std::span<const std::byte> dib)
{
    if (dib.size() < dib_header_size || read32(dib, 0) != dib_header_size)
        return std::nullopt;
    const auto width = static_cast<std::int32_t>(read32(dib, 4));
    const auto height = static_cast<std::int32_t>(read32(dib, 8));
    const int planes = read16(dib, 12);
    const int bit_count = read16(dib, 14);
    const std::uint32_t compression = read32(dib, 16);
    const std::uint32_t colours_used = read32(dib, 32);
    // Bottom-up rows only: a top-down (negative) height would change how the
    // stretch reads them.
    if (width <= 0 || height <= 0 || planes != 1 || (bit_count != 24 && bit_count != 32) || compression != BI_RGB
        || colours_used != 0)
        return std::nullopt;
    const std::uint64_t row = (static_cast<std::uint64_t>(width) * static_cast<unsigned>(bit_count) + 31) / 32 * 4;
    const std::uint64_t pixel_bytes = row * static_cast<std::uint64_t>(height);
    if (pixel_bytes > dib.size() - dib_header_size)
        return std::nullopt;
    return dib_layout{width, height, bit_count, static_cast<std::size_t>(pixel_bytes)};
}

std::optional<std::span<const std::byte>> icon_group_image(std::span<const std::byte> group, int number)
{
    if (group.size() < group_header_size || read16(group, 0) != 0 || read16(group, 2) != 1)
        return std::nullopt;
    const std::size_t count = read16(group, 4);
    if (count == 0 || number < 1 || static_cast<std::size_t>(number) > count)
        return std::nullopt;
    std::size_t offset = group_header_size + count * group_entry_size;
    if (offset > group.size())
        return std::nullopt;
    // Every entry must name its own place in the order and fit, not only the
    // one asked for: the system reads them all when it picks an image.
    std::optional<std::span<const std::byte>> image;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = group_header_size + i * group_entry_size;
        const std::size_t size = read32(group, entry + 8);
        if (read16(group, entry + 12) != i + 1 || size < dib_header_size || size > group.size() - offset)
            return std::nullopt;
        if (i + 1 == static_cast<std::size_t>(number))
            image = group.subspan(offset, size);
        offset += size;
    }
    return image;
}

std::span<const std::byte> packed_resource(HMODULE module, int id)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(RT_PACKED_PICTURE));
    if (!found)
        throw_last_error("FindResourceW");
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        throw_last_error("LoadResource");
    return {static_cast<const std::byte*>(data), SizeofResource(module, found)};
}

bitmap_handle load_packed_bitmap(HMODULE module, int id, int width, int height)
{
    if (width <= 0 || height <= 0)
        throw std::invalid_argument("a bitmap of no size");
    const std::vector<std::byte> dib = unpack_picture(packed_resource(module, id));
    const std::optional<dib_layout> layout = dib_layout_of(dib);
    if (!layout)
        throw std::runtime_error("a packed bitmap of a form the installer does not draw");
    const auto* source = reinterpret_cast<const BITMAPINFO*>(dib.data());
    const void* source_pixels = dib.data() + dib_header_size;

    BITMAPINFO wanted{};
    wanted.bmiHeader = source->bmiHeader;
    wanted.bmiHeader.biWidth = width;
    wanted.bmiHeader.biHeight = height;
    wanted.bmiHeader.biSizeImage = 0;
    void* pixels = nullptr;
    bitmap_handle bitmap(CreateDIBSection(nullptr, &wanted, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!bitmap || !pixels)
        throw_last_error("CreateDIBSection");
    if (width == layout->width && height == layout->height) {
        std::memcpy(pixels, source_pixels, layout->pixel_bytes);
        return bitmap;
    }
    const memory_dc dc;
    const HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
    SetStretchBltMode(dc.get(), HALFTONE);
    const int rows = StretchDIBits(dc.get(), 0, 0, width, height, 0, 0, layout->width, layout->height, source_pixels,
                                   source, DIB_RGB_COLORS, SRCCOPY);
    SelectObject(dc.get(), old);
    if (rows <= 0)
        throw_last_error("StretchDIBits");
    return bitmap;
}

icon_handle load_packed_icon(HMODULE module, int id, int width, int height)
{
    std::vector<std::byte> group = unpack_picture(packed_resource(module, id));
    if (!icon_group_image(group, 1))
        throw std::runtime_error("a packed icon of a form the installer does not draw");
    const int number = LookupIconIdFromDirectoryEx(reinterpret_cast<PBYTE>(group.data()), TRUE, width, height,
                                                   LR_DEFAULTCOLOR);
    const std::optional<std::span<const std::byte>> image = icon_group_image(group, number);
    if (!image)
        throw std::runtime_error("no image of a packed icon fits");
    icon_handle icon(CreateIconFromResourceEx(const_cast<PBYTE>(reinterpret_cast<const BYTE*>(image->data())),
                                              static_cast<DWORD>(image->size()), TRUE, 0x00030000, width, height,
                                              LR_DEFAULTCOLOR));
    if (!icon)
        throw_last_error("CreateIconFromResourceEx");
    return icon;
}
