// The wizard's pictures as the installer carries them: packed with bzip2 in
// resources of type RT_PACKED_PICTURE (tools/image_maker writes them), and
// unpacked only at the size a window needs.
#pragma once

#include "ui/bitmap_handle.h"
#include "ui/icon_handle.h"

#include <windows.h>

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

// More than any picture of ours unpacks to; a larger announced length means
// a damaged resource.
inline constexpr std::size_t max_unpacked_picture = std::size_t{4} << 20;

// The length a packed picture announces in its first four bytes, when it is
// one a picture can have (1 byte to max_unpacked_picture).
std::optional<std::size_t> announced_length(std::span<const std::byte> packed);

// The unpacked bytes: exactly the announced length, from one whole bzip2
// stream. Throws std::runtime_error for anything else.
std::vector<std::byte> unpack_picture(std::span<const std::byte> packed);

// Where the pixels of a packed bitmap (BITMAPINFOHEADER, then bottom-up rows)
// lie, when the header describes an uncompressed 24- or 32-bit bitmap whose
// rows all fit in the bytes.
struct dib_layout {
    int width = 0;
    int height = 0;
    int bit_count = 0;
    std::size_t pixel_bytes = 0; // the rows, after the 40-byte header

    bool operator==(const dib_layout&) const = default;
};
std::optional<dib_layout> dib_layout_of(std::span<const std::byte> dib);

// Checks an icon group (its directory of 14-byte entries naming the images
// 1..n, then the images in that order) and returns image `number`'s bytes,
// or nothing when the directory or the sizes it gives do not fit the bytes.
std::optional<std::span<const std::byte>> icon_group_image(std::span<const std::byte> group, int number);

// The packed bytes of a resource; throws std::system_error when it is missing.
std::span<const std::byte> packed_resource(HMODULE module, int id);

// A bitmap resource at width x height pixels, stretched as LoadImage stretches
// a bitmap of more than two colours (StretchDIBits in HALFTONE mode) when its
// own size differs. Throws when the resource is missing or malformed.
bitmap_handle load_packed_bitmap(HMODULE module, int id, int width, int height);

// An icon resource at width x height pixels: the system picks the image and
// scales it as LoadImage would. Throws when the resource is missing or malformed.
icon_handle load_packed_icon(HMODULE module, int id, int width, int height);
