// payload_packer: writes, lists and verifies the installer's payload archive
// (a bzip2 stream of the archive format).
//
//   payload_packer pack MANIFEST OUTPUT
//   payload_packer list ARCHIVE
//   payload_packer verify ARCHIVE
//
// A manifest has one line per file: source path, destination template and
// kind, separated by tabs; the kind is a number or regular, program,
// uninstaller, shared_data, sample, transient. Source paths are relative to
// the manifest's folder and are stored as written. Empty lines and lines
// starting with # are ignored. The files are stored in manifest order.
#include "payload/archive_format.h"
#include "payload/compress_error.h"

#include <boost/crc.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include <bzlib.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace fs = std::filesystem;
namespace io = boost::iostreams;

namespace {

constexpr std::size_t block_size = 4096;
constexpr std::array<const char*, 6> kind_names = {"regular", "program", "uninstaller",
                                                     "shared_data", "sample", "transient"};

struct manifest_line {
    fs::path file;
    std::string source;
    std::string destination;
    std::uint32_t kind;
};

[[noreturn]] void fail(const std::string& message)
{
    throw std::runtime_error(message);
}

std::u16string utf16(const std::string& utf8)
{
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int extra = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= utf8.size())
            fail("invalid UTF-8 in \"" + utf8 + "\"");
        char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80)
                fail("invalid UTF-8 in \"" + utf8 + "\"");
            cp = cp << 6 | (next & 0x3F);
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        }
        else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string utf8(const std::u16string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        }
        else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | cp >> 6));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
        else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | cp >> 12));
            out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
        else {
            out.push_back(static_cast<char>(0xF0 | cp >> 18));
            out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::uint32_t parse_kind(const std::string& text)
{
    for (std::size_t k = 0; k < kind_names.size(); ++k)
        if (text == kind_names[k])
            return static_cast<std::uint32_t>(k);
    try {
        std::size_t used = 0;
        const unsigned long value = std::stoul(text, &used);
        if (used == text.size() && value <= 0xFFFFFFFF)
            return static_cast<std::uint32_t>(value);
    }
    catch (const std::exception&) {
    }
    fail("unknown kind \"" + text + "\"");
}

std::vector<manifest_line> read_manifest(const fs::path& manifest)
{
    std::ifstream in(manifest);
    if (!in)
        fail("cannot open " + manifest.string());
    std::vector<manifest_line> lines;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line.front() == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        if (fields.size() != 3)
            fail(manifest.string() + ":" + std::to_string(number) + ": expected source, destination and kind separated by tabs");
        // The installer refuses such an archive; it is never written.
        if (!is_safe_destination(utf16(fields[1]), utf16(std::filesystem::path(fields[0]).filename().string())))
            fail(manifest.string() + ":" + std::to_string(number) + ": the destination \"" + fields[1] + "\" of \"" +
                 fields[0] + "\" would leave the installation's folders (a known <token> first, then plain folder names)");
        lines.push_back({manifest.parent_path() / fields[0], fields[0], fields[1], parse_kind(fields[2])});
    }
    return lines;
}

// Size and CRC-32 of a file, read in blocks.
archive_entry describe(const manifest_line& line)
{
    std::ifstream in(line.file, std::ios::binary);
    if (!in)
        fail("cannot open " + line.file.string());
    boost::crc_32_type crc;
    std::uint64_t size = 0;
    std::array<char, block_size> block;
    while (in.read(block.data(), block.size()) || in.gcount() > 0) {
        crc.process_bytes(block.data(), static_cast<std::size_t>(in.gcount()));
        size += static_cast<std::uint64_t>(in.gcount());
    }
    return {utf16(line.source), utf16(line.destination), line.kind, size, crc.checksum()};
}

// A bzip2 stream written to a file, every write checked: a full disk or a
// file-size limit ends the packing with an error.
class bzip2_file {
public:
    explicit bzip2_file(const fs::path& path) : path_(path), file_(std::fopen(path.c_str(), "wb"))
    {
        if (!file_)
            fail("cannot create " + path_.string() + ": " + std::strerror(errno));
        if (BZ2_bzCompressInit(&stream_, 9, 0, 0) != BZ_OK) {
            std::fclose(file_);
            fail("cannot start the bzip2 compressor");
        }
    }
    bzip2_file(const bzip2_file&) = delete;
    bzip2_file& operator=(const bzip2_file&) = delete;
    ~bzip2_file()
    {
        BZ2_bzCompressEnd(&stream_);
        if (file_)
            std::fclose(file_);
    }

    void write(const char* data, std::size_t size)
    {
        stream_.next_in = const_cast<char*>(data);
        stream_.avail_in = static_cast<unsigned>(size);
        while (stream_.avail_in > 0)
            compress(BZ_RUN, BZ_RUN_OK);
    }

    void finish()
    {
        while (compress(BZ_FINISH, BZ_FINISH_OK) != BZ_STREAM_END) {
        }
        std::FILE* file = std::exchange(file_, nullptr);
        if (std::fflush(file) != 0 || std::ferror(file)) {
            const int error = errno;
            std::fclose(file);
            write_failed(error);
        }
        if (std::fclose(file) != 0)
            write_failed(errno);
    }

private:
    int compress(int action, int expected)
    {
        std::array<char, block_size> out;
        stream_.next_out = out.data();
        stream_.avail_out = static_cast<unsigned>(out.size());
        const int result = BZ2_bzCompress(&stream_, action);
        if (result != expected && result != BZ_STREAM_END)
            fail("bzip2 compressor error " + std::to_string(result));
        const std::size_t produced = out.size() - stream_.avail_out;
        if (produced > 0 && std::fwrite(out.data(), 1, produced, file_) != produced)
            write_failed(errno);
        return result;
    }

    [[noreturn]] void write_failed(int error)
    {
        fail("cannot write " + path_.string() + ": " + std::strerror(error));
    }

    fs::path path_;
    std::FILE* file_;
    bz_stream stream_{};
};

void pack_into(const fs::path& partial, const std::vector<manifest_line>& lines,
               const std::vector<archive_entry>& entries)
{
    bzip2_file out(partial);
    const std::string header = encode_archive_header(entries);
    out.write(header.data(), header.size());
    std::array<char, block_size> block;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::ifstream in(lines[i].file, std::ios::binary);
        std::uint64_t written = 0;
        while (in.read(block.data(), block.size()) || in.gcount() > 0) {
            out.write(block.data(), static_cast<std::size_t>(in.gcount()));
            written += static_cast<std::uint64_t>(in.gcount());
        }
        if (written != entries[i].size)
            fail(lines[i].file.string() + " changed while it was packed");
    }
    out.finish();
}

int pack(const fs::path& manifest, const fs::path& output)
{
    const auto lines = read_manifest(manifest);
    std::vector<archive_entry> entries;
    for (const auto& line : lines)
        entries.push_back(describe(line));

    const fs::path partial = output.string() + ".partial";
    try {
        pack_into(partial, lines, entries);
        fs::rename(partial, output);
    }
    catch (...) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        throw;
    }
    std::cout << "packed " << entries.size() << " files into " << output.string() << "\n";
    return 0;
}

// Decompresses the archive, calling `header` once the header is complete and
// `data` with every block of file data.
class archive_reader {
public:
    explicit archive_reader(const fs::path& archive) : file_(archive, std::ios::binary)
    {
        if (!file_)
            fail("cannot open " + archive.string());
        in_.push(io::bzip2_decompressor(false, block_size));
        in_.push(file_);
    }

    std::uint64_t header_size = 0;
    std::vector<archive_entry> entries;

    void read_header()
    {
        std::string header = read_exactly(8);
        header_size = decode_header_size(header);
        header += read_exactly(header_size - 8);
        entries = decode_archive_header(header);
    }

    std::string read_exactly(std::uint64_t count)
    {
        std::string bytes(count, '\0');
        in_.read(bytes.data(), static_cast<std::streamsize>(count));
        if (static_cast<std::uint64_t>(in_.gcount()) != count)
            throw_compress_error(compress_errc::unexpected_error);
        return bytes;
    }

    std::istream& stream() { return in_; }

private:
    std::ifstream file_;
    io::filtering_istream in_;
};

int list(const fs::path& archive)
{
    archive_reader reader(archive);
    reader.read_header();
    std::uint64_t total = reader.header_size;
    std::printf("%-6s %-12s %12s %-10s %s -> %s\n", "#", "kind", "size", "crc32", "source", "destination");
    for (std::size_t i = 0; i < reader.entries.size(); ++i) {
        const auto& e = reader.entries[i];
        const std::string kind = e.kind < kind_names.size() ? kind_names[e.kind] : std::to_string(e.kind);
        std::printf("%-6zu %-12s %12llu %08X   %s -> %s\n", i + 1, kind.c_str(),
                    static_cast<unsigned long long>(e.size), e.crc32, utf8(e.source).c_str(),
                    utf8(e.destination).c_str());
    }
    total = archive_total_size(reader.header_size, reader.entries);
    std::printf("entries %zu, header size %llu, total size %llu\n", reader.entries.size(),
                static_cast<unsigned long long>(reader.header_size), static_cast<unsigned long long>(total));
    return 0;
}

int verify(const fs::path& archive)
{
    archive_reader reader(archive);
    reader.read_header();
    bool sound = true;
    std::array<char, block_size> block;
    for (const auto& e : reader.entries) {
        boost::crc_32_type crc;
        std::uint64_t left = e.size;
        while (left > 0) {
            const auto take = static_cast<std::streamsize>(std::min<std::uint64_t>(left, block.size()));
            reader.stream().read(block.data(), take);
            if (reader.stream().gcount() != take) {
                std::cout << "archive ends inside " << utf8(e.source) << "\n";
                return 1;
            }
            crc.process_bytes(block.data(), static_cast<std::size_t>(take));
            left -= static_cast<std::uint64_t>(take);
        }
        if (crc.checksum() != e.crc32) {
            std::cout << "CRC-32 mismatch in " << utf8(e.source) << "\n";
            sound = false;
        }
    }
    if (reader.stream().get() != std::char_traits<char>::eof()) {
        std::cout << "data after the last entry\n";
        return 1;
    }
    std::cout << (sound ? "archive is sound: " : "archive is damaged: ") << reader.entries.size()
              << " entries, " << archive_total_size(reader.header_size, reader.entries) << " bytes\n";
    return sound ? 0 : 1;
}

}

int main(int argc, char** argv)
{
    const std::string usage = "usage: payload_packer pack MANIFEST OUTPUT | list ARCHIVE | verify ARCHIVE";
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        if (args.size() == 3 && args[0] == "pack")
            return pack(args[1], args[2]);
        if (args.size() == 2 && args[0] == "list")
            return list(args[1]);
        if (args.size() == 2 && args[0] == "verify")
            return verify(args[1]);
        std::cerr << usage << "\n";
        return 2;
    }
    catch (const std::exception& e) {
        std::cerr << "payload_packer: " << e.what() << "\n";
        return 1;
    }
}
