#include "payload/extractor.h"

#include "payload/compress_error.h"
#include "platform/kernel_handle.h"
#include "platform/security.h"

#include <boost/crc.hpp>
#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/filter/bzip2.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <boost/system/system_error.hpp>
#include <bzlib.h>

#include <algorithm>

namespace fs = std::filesystem;
namespace io = boost::iostreams;

namespace {

constexpr std::streamsize block_size = 4096;
// Reads that only check what is already decoded or written take larger
// blocks: a sixteenth of the calls for the same bytes.
constexpr std::size_t check_block_size = 64 * 1024;
constexpr DWORD all_file_access = FILE_ALL_ACCESS;
constexpr BYTE inherit_to_files_and_folders = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

[[noreturn]] void throw_last_win32_error()
{
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
}

std::wstring to_wide(const std::u16string& text)
{
    return {text.begin(), text.end()};
}

// The sink that hands decompressed bytes to the extractor until it has
// consumed them all.
class extractor_sink {
public:
    using char_type = char;
    using category = io::sink_tag;

    explicit extractor_sink(payload_extractor& extractor) : extractor_(&extractor) {}

    std::streamsize write(const char* bytes, std::streamsize n)
    {
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(n))
            done += extractor_->write(bytes + done, static_cast<std::size_t>(n) - done);
        return n;
    }

private:
    payload_extractor* extractor_;
};

}

// A file written in place: others may read it while it is open, nobody else
// may write. Writes are buffered; any failure raises the Windows error.
class output_file {
public:
    explicit output_file(const fs::path& path)
        : handle_(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr))
    {
        if (!handle_)
            throw_last_win32_error();
    }

    void write(const char* bytes, std::size_t n)
    {
        while (n > 0) {
            if (used_ == buffer_size)
                flush();
            const std::size_t take = std::min(n, buffer_size - used_);
            std::copy_n(bytes, take, buffer_.get() + used_);
            used_ += take;
            bytes += take;
            n -= take;
        }
    }

    void close()
    {
        flush();
        if (!CloseHandle(handle_.release()))
            throw_last_win32_error();
    }

private:
    static constexpr std::size_t buffer_size = 64 * 1024;

    void flush()
    {
        DWORD written = 0;
        if (used_ > 0 && !WriteFile(handle_.get(), buffer_.get(), static_cast<DWORD>(used_), &written, nullptr))
            throw_last_win32_error();
        used_ = 0;
    }

    kernel_handle handle_;
    std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(buffer_size);
    std::size_t used_ = 0;
};

std::span<const char> payload_resource(HMODULE resource_module)
{
    for (HMODULE module : {resource_module, GetModuleHandleW(nullptr)}) {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(payload_resource_id),
                                    MAKEINTRESOURCEW(payload_resource_type));
        if (!found)
            continue;
        HGLOBAL loaded = LoadResource(module, found);
        const void* data = loaded ? LockResource(loaded) : nullptr;
        if (data)
            return {static_cast<const char*>(data), SizeofResource(module, found)};
    }
    return {};
}

std::uint32_t file_crc32(const fs::path& file, const std::function<void()>& wait)
{
    const std::error_code sharing_violation(ERROR_SHARING_VIOLATION, std::system_category());
    for (int attempt = 0;; ++attempt) {
        try {
            kernel_handle handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            if (!handle)
                throw_last_win32_error();
            boost::crc_32_type crc;
            std::vector<char> block(check_block_size);
            for (;;) {
                DWORD read = 0;
                if (!ReadFile(handle.get(), block.data(), static_cast<DWORD>(block.size()), &read, nullptr))
                    throw_last_win32_error();
                if (read == 0)
                    return crc.checksum();
                crc.process_bytes(block.data(), read);
            }
        }
        catch (const std::system_error& e) {
            if (e.code() != sharing_violation || attempt == 3)
                throw;
        }
        wait();
    }
}

payload_extractor::payload_extractor(std::wstring install_folder, std::wstring samples_name,
                                     std::wstring temporary_folder, notification_callback callback,
                                     folder_lookup lookup)
    : placeholders_{std::move(install_folder), std::move(samples_name), std::move(temporary_folder),
                    {}, std::move(lookup)},
      callback_(std::move(callback)),
      header_(std::make_unique<hv::memstream>())
{
}

payload_extractor::~payload_extractor() = default;

const payload_entry* payload_extractor::started_entry() const
{
    return started_ && current_ >= 1 && current_ <= entries_.size() ? &entries_[current_ - 1] : nullptr;
}

notification::result payload_extractor::notify(notification n)
{
    return callback_(std::move(n));
}

notification::result payload_extractor::notify_or_stop(notification n)
{
    const auto answer = notify(std::move(n));
    if (answer == notification::result::cancel)
        throw_compress_error(compress_errc::interrupted);
    return answer;
}

std::size_t payload_extractor::write(const char* bytes, std::size_t n)
{
    if (failed_)
        return n;
    try {
        return current_ == 0 ? write_header(bytes, n) : write_file_data(bytes, n);
    }
    catch (...) {
        failed_ = true;
        error_ = std::current_exception();
        throw;
    }
}

std::size_t payload_extractor::write_header(const char* bytes, std::size_t n)
{
    const std::size_t buffered = header_->size();
    if (buffered < 8) {
        const std::size_t take = std::min(8 - buffered, n);
        header_->write(bytes, static_cast<std::streamsize>(take));
        if (header_->size() == 8)
            header_size_ = decode_header_size(header_->view());
        return take;
    }
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(header_size_ - buffered, n));
    header_->write(bytes, static_cast<std::streamsize>(take));
    if (header_->size() == header_size_)
        parse_header();
    return take;
}

void payload_extractor::parse_header()
{
    const auto stored = decode_archive_header(header_->view());
    entries_.reserve(stored.size());
    for (const auto& s : stored) {
        payload_entry e;
        e.source = to_wide(s.source);
        const fs::path name = e.source.filename();
        // Every entry is checked before the first file is written.
        const std::wstring wide_name = name.wstring();
        if (!is_safe_destination(s.destination, std::u16string(wide_name.begin(), wide_name.end())))
            throw_compress_error(compress_errc::unexpected_error);
        e.destination = placeholders_.expand_placeholders(to_wide(s.destination)) / name;
        e.kind = static_cast<payload_kind>(s.kind);
        e.size = s.size;
        e.crc32 = s.crc32;
        entries_.push_back(std::move(e));
    }
    archive_size_ = archive_total_size(header_size_, stored);
    position_ = header_size_;
    notify_or_stop({notification::progress{position_, archive_size_}});
    current_ = 1;
}

std::size_t payload_extractor::write_file_data(const char* bytes, std::size_t n)
{
    if (current_ - 1 >= entries_.size())
        throw_compress_error(compress_errc::unexpected_error);
    const payload_entry& entry = entries_[current_ - 1];

    if (!started_) {
        const auto answer = notify_or_stop({notification::file_begin{entry}});
        remaining_ = entry.size;
        started_ = true;
        skipping_ = answer == notification::result::skip;
        if (!skipping_) {
            header_.reset();
            open_output(entry);
        }
    }

    const std::size_t m = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, n));
    if (!skipping_)
        file_->write(bytes, m);
    remaining_ -= m;
    position_ += m;
    notify_or_stop({notification::progress{position_, archive_size_}});

    if (remaining_ == 0) {
        if (!skipping_) {
            file_->close();
            file_.reset();
            if (file_crc32(entry.destination) != entry.crc32)
                throw_compress_error(compress_errc::invalid_checksum);
            notify_or_stop({notification::file_end{entry}});
        }
        ++current_;
        started_ = false;
        skipping_ = false;
    }
    return m;
}

void payload_extractor::finish()
{
    while (!failed_ && current_ >= 1 && current_ <= entries_.size() && position_ == archive_size_
           && entries_[current_ - 1].size == 0)
        write(nullptr, 0);
}

void payload_extractor::open_output(const payload_entry& entry)
{
    const fs::path& path = entry.destination;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_READONLY)
            && !SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
            throw_last_win32_error();
    }
    else if (path.has_parent_path() && !fs::exists(path.parent_path())) {
        fs::create_directories(path.parent_path());
    }
    widen_shared_folders(path.parent_path());
    file_ = std::make_unique<output_file>(path);
}

void payload_extractor::widen_shared_folders(fs::path folder)
{
    for (auto& shared : placeholders_.shared_folders) {
        if (shared.done)
            continue;
        // A shared folder not made yet is looked for again with a later file.
        const auto target = identities_.of(shared.folder);
        if (!target)
            continue;
        // Every shared folder is looked for from the file's own folder up, so
        // that a folder and its subfolder recorded before it are both found.
        for (fs::path a = folder;;) {
            std::error_code error;
            const auto status = fs::status(a, error);
            if (error && status.type() != fs::file_type::not_found)
                break;
            if (!fs::is_directory(status))
                break;
            if (identities_.of(a) == target) {
                shared.done = true;
                grant_users_access(a.native(), all_file_access, inherit_to_files_and_folders);
                break;
            }
            fs::path parent = a.parent_path();
            if (parent.native().size() >= a.native().size())
                break;
            a = std::move(parent);
        }
    }
}

std::error_code extraction_error_code(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    }
    catch (const io::bzip2_error&) {
        return compress_errc::bzip2_error;
    }
    catch (const std::system_error& e) {
        return e.code();
    }
    catch (const boost::system::system_error& e) {
        if (e.code().category() == boost::system::system_category())
            return {e.code().value(), std::system_category()};
        if (e.code().category() == boost::system::generic_category())
            return {e.code().value(), std::generic_category()};
        return std::error_code(e.code());
    }
    catch (...) {
    }
    return compress_errc::unexpected_error;
}

bool extract_payload(std::istream& resource, const std::wstring& install_folder,
                     const std::wstring& samples_name, const std::wstring& temporary_folder,
                     notification_callback callback, folder_lookup lookup)
{
    std::unique_ptr<payload_extractor> extractor;
    std::wstring message;
    try {
        callback(notification{notification::started{}});
        extractor = std::make_unique<payload_extractor>(install_folder, samples_name, temporary_folder,
                                                        callback, std::move(lookup));
        std::uint64_t compressed = 0;
        {
            io::filtering_ostream decompressed;
            decompressed.push(io::bzip2_decompressor(false, block_size));
            decompressed.push(extractor_sink(*extractor), block_size);
            compressed = static_cast<std::uint64_t>(io::copy(resource, decompressed, block_size));
        }
        // The chain swallows what the last flush raises.
        if (extractor->error())
            std::rethrow_exception(extractor->error());
        extractor->finish();
        if (extractor->archive_size() != 0 && extractor->position() == extractor->archive_size()) {
            callback(notification{notification::finished{compressed, extractor->archive_size()}});
            return true;
        }
        throw_compress_error(compress_errc::unexpected_error);
    }
    catch (...) {
        auto error = std::current_exception();
        if (extractor && extractor->error())
            error = extractor->error();
        if (extractor && extractor->started_entry())
            message = extractor->started_entry()->destination.native();
        if (message.empty()) {
            try {
                std::rethrow_exception(error);
            }
            catch (const fs::filesystem_error& e) {
                message = e.path1().native();
            }
            catch (...) {
            }
        }
        callback(notification{notification::failed{extraction_error_code(error), std::move(message)}});
        return false;
    }
}

bool verify_payload(std::istream& resource)
{
    // libbz2 itself, not the Boost filter: the filter would go on decoding a
    // second stream joined after the first.
    bz_stream stream{};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK)
        return false;
    struct end_stream {
        bz_stream& stream;
        ~end_stream() { BZ2_bzDecompressEnd(&stream); }
    } ending{stream};
    try {
        std::vector<char> input(block_size), output(check_block_size);
        for (;;) {
            if (stream.avail_in == 0) {
                resource.read(input.data(), static_cast<std::streamsize>(input.size()));
                const auto count = static_cast<unsigned>(resource.gcount());
                if (count == 0)
                    return false;
                stream.next_in = input.data();
                stream.avail_in = count;
            }
            stream.next_out = output.data();
            stream.avail_out = static_cast<unsigned>(output.size());
            const int result = BZ2_bzDecompress(&stream);
            if (result == BZ_STREAM_END)
                return stream.avail_in == 0 && !resource.bad() &&
                       resource.peek() == std::istream::traits_type::eof();
            if (result != BZ_OK)
                return false;
        }
    }
    catch (...) {
        return false;
    }
}
