// The payload archive as it is stored (after bzip2 decompression): a header
// of little-endian integers and UTF-16LE strings, followed by every file's
// data in entry order. This file is built for the installer and for the
// host-side packer alike, so it uses char16_t and never wchar_t.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a file is to the installer; the extractor treats all kinds alike.
enum class payload_kind : std::uint32_t {
    regular = 0,
    program = 1,
    uninstaller = 2,
    shared_data = 3,
    sample = 4,
    transient = 5,
};

// One entry of the header, exactly as stored.
struct archive_entry {
    std::u16string source;      // path on the building machine; only its file name is used
    std::u16string destination; // destination folder template
    std::uint32_t kind = 0;
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;
};

// The folder tokens a destination template may start with.
inline constexpr std::u16string_view destination_tokens[] = {
    u"<InstallPath>", u"<Temporary>",       u"<SamplePath>", u"<ProgramFiles>",  u"<ProgramCommon>",
    u"<CommonData>",  u"<UserData>",        u"<CommonDocuments>", u"<Documents>", u"<CommonDesktop>",
    u"<Desktop>",     u"<WinDir>",          u"<System>",
};

// A destination starts with a known token and names only plain folders
// below it ("\" between them), and the file's own name is plain: no "..",
// no drive or absolute path, no stream, device name or trailing dot. Any
// other entry could make the installer write outside the folders it chose.
bool is_safe_destination(std::u16string_view destination_template, std::u16string_view file_name);

// header_size (u64) and entry_count (u32).
inline constexpr std::uint64_t archive_fixed_header_size = 12;

// The smallest stored entry: two empty strings, kind, size and crc32.
inline constexpr std::uint64_t archive_min_entry_size = 4 + 4 + 16;

// The largest header a reader accepts. The real header is a few kilobytes;
// a damaged one must not make the reader buffer without bound.
inline constexpr std::uint64_t archive_max_header_size = 1 << 20;

std::uint64_t archive_header_size(const std::vector<archive_entry>& entries);

// The header bytes for the entries, header_size exact.
std::string encode_archive_header(const std::vector<archive_entry>& entries);

// header_size from the first 8 bytes of an archive. Throws
// compress_errc::unexpected_error unless it lies between the fixed part and
// archive_max_header_size.
std::uint64_t decode_header_size(std::string_view first_bytes);

// The entries of a whole header (header_size bytes; anything after the last
// entry is ignored). Throws compress_errc::unexpected_error for a header
// whose entries or strings do not fit, or whose strings hold a NUL.
std::vector<archive_entry> decode_archive_header(std::string_view header);

// header_size + the sizes of all entries. Throws
// compress_errc::unexpected_error when the sum overflows.
std::uint64_t archive_total_size(std::uint64_t header_size,
                                 const std::vector<archive_entry>& entries);

// The standard CRC-32 (the one of zlib).
std::uint32_t archive_crc32(std::string_view data);
