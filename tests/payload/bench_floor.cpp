// The two-pass floor (a benchmark program, not a test): the least work any
// installer does that checks its archive before it writes: one plain bzip2
// decode of the whole stream, then a second one whose output is written to
// the files, each read back for its CRC-32. Both decodes go through the
// same Boost bzip2 filter, 4096-byte blocks, as the installer's extractor.
//
//   bench_floor SOURCE FOLDER
//
// SOURCE is an installer (its payload resource, in memory) or an archive
// file (streamed). The files are written to a new folder under FOLDER and
// removed afterwards.
#include "bench_support.h"

#include "payload/archive_format.h"

#include <windows.h>

#include <boost/crc.hpp>
#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/device/null.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace io = boost::iostreams;
using bench_support::now;

namespace {

constexpr std::streamsize block_size = 4096;
constexpr std::size_t file_buffer_size = 64 * 1024;

[[noreturn]] void fail(const char* what)
{
    throw std::runtime_error(std::string(what) + ", error " + std::to_string(GetLastError()));
}

std::uint32_t read_back_crc(const fs::path& file)
{
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        fail("cannot open a written file");
    boost::crc_32_type crc;
    std::vector<char> block(file_buffer_size);
    for (DWORD read = 0;;) {
        if (!ReadFile(handle, block.data(), static_cast<DWORD>(block.size()), &read, nullptr))
            fail("cannot read a written file");
        if (read == 0)
            break;
        crc.process_bytes(block.data(), read);
    }
    CloseHandle(handle);
    return crc.checksum();
}

// Splits the decoded archive into its files: the header is kept, each file
// written in 64 KB writes and read back for its CRC when complete.
class file_splitter {
public:
    explicit file_splitter(const fs::path& folder) : folder_(folder) {}

    std::streamsize write(const char* bytes, std::streamsize n)
    {
        for (std::size_t left = static_cast<std::size_t>(n); left > 0;) {
            const std::size_t used = header_done_ ? write_file(bytes, left) : take_header(bytes, left);
            bytes += used;
            left -= used;
        }
        return n;
    }

    std::size_t files() const { return written_; }
    bool complete() const { return header_done_ && current_ == entries_.size(); }

private:
    std::size_t take_header(const char* bytes, std::size_t n)
    {
        const std::size_t wanted = header_.size() < 8 ? 8 : static_cast<std::size_t>(header_size_);
        const std::size_t take = std::min(n, wanted - header_.size());
        header_.append(bytes, take);
        if (header_.size() == 8 && header_size_ == 0)
            header_size_ = decode_header_size(header_);
        else if (header_size_ != 0 && header_.size() == header_size_) {
            entries_ = decode_archive_header(header_);
            header_done_ = true;
        }
        return take;
    }

    std::size_t write_file(const char* bytes, std::size_t n)
    {
        if (current_ >= entries_.size())
            return n;
        const archive_entry& entry = entries_[current_];
        if (handle_ == INVALID_HANDLE_VALUE) {
            const std::wstring name(entry.source.begin(), entry.source.end());
            path_ = folder_ / (std::to_wstring(current_) + L"-" + fs::path(name).filename().wstring());
            handle_ = CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle_ == INVALID_HANDLE_VALUE)
                fail("cannot create a file");
            remaining_ = entry.size;
        }
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, n));
        for (std::size_t done = 0; done < take;) {
            const std::size_t part = std::min(take - done, file_buffer_size - buffer_.size());
            buffer_.append(bytes + done, part);
            done += part;
            if (buffer_.size() == file_buffer_size)
                flush();
        }
        remaining_ -= take;
        if (remaining_ == 0) {
            flush();
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
            if (read_back_crc(path_) != entry.crc32)
                throw std::runtime_error("a written file has the wrong CRC-32");
            ++written_;
            ++current_;
        }
        return take;
    }

    void flush()
    {
        DWORD written = 0;
        if (!buffer_.empty() &&
            !WriteFile(handle_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &written, nullptr))
            fail("cannot write a file");
        buffer_.clear();
    }

    fs::path folder_;
    std::string header_;
    std::uint64_t header_size_ = 0;
    bool header_done_ = false;
    std::vector<archive_entry> entries_;
    std::size_t current_ = 0;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    fs::path path_;
    std::uint64_t remaining_ = 0;
    std::string buffer_;
    std::size_t written_ = 0;
};

// The filter chain copies its devices; this one leads to the splitter.
class splitter_sink {
public:
    using char_type = char;
    using category = io::sink_tag;

    explicit splitter_sink(file_splitter& splitter) : splitter_(&splitter) {}
    std::streamsize write(const char* bytes, std::streamsize n) { return splitter_->write(bytes, n); }

private:
    file_splitter* splitter_;
};

int measure(const fs::path& source, const fs::path& prefix)
{
    const bench_support::payload_source payload(source);
    const fs::path folder = prefix / (L"floor-" + std::to_wstring(GetCurrentProcessId()));
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);

    const double start = now();
    {
        auto in = payload.open();
        io::filtering_ostream out;
        out.push(io::bzip2_decompressor(false, block_size), block_size);
        out.push(io::null_sink(), block_size);
        io::copy(*in, out, block_size);
    }
    const double verified = now();
    file_splitter splitter(folder);
    {
        auto in = payload.open();
        io::filtering_ostream out;
        out.push(io::bzip2_decompressor(false, block_size), block_size);
        out.push(splitter_sink(splitter), block_size);
        io::copy(*in, out, block_size);
    }
    const double end = now();

    const std::size_t files = splitter.files();
    std::printf("files: %zu%s\n", files, splitter.complete() ? "" : " (INCOMPLETE)");
    std::printf("floor: %.3f s\n", end - start);
    std::printf("first decode: %.3f s, second decode with files and CRC read-back: %.3f s\n", verified - start,
                end - verified);
    fs::remove_all(folder, ignored);
    return splitter.complete() ? 0 : 1;
}

}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::printf("usage: bench_floor SOURCE FOLDER\n");
        return 2;
    }
    try {
        return measure(argv[1], argv[2]);
    }
    catch (const std::exception& e) {
        std::printf("bench_floor: %s\n", e.what());
        return 1;
    }
}
