// The streaming reader of the payload archive: it writes every stored file
// straight to its destination while the archive is being decompressed,
// reads each file back for its CRC-32 and reports every step to a callback
// that decides whether to go on, skip a file or cancel.
#pragma once

#include "payload/archive_format.h"
#include "payload/memstream.h"
#include "payload/placeholders.h"

#include <windows.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

inline constexpr int payload_resource_type = 260;
inline constexpr int payload_resource_id = 134;

// An entry of the parsed header; `destination` is the file's full path.
struct payload_entry {
    std::filesystem::path source;
    std::filesystem::path destination;
    payload_kind kind = payload_kind::regular;
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;
};

// One report of the reader to its caller.
struct notification {
    enum class result { proceed = 0, cancel = 1, skip = 2 };

    struct started {};
    struct finished {
        std::uint64_t compressed_bytes;
        std::uint64_t archive_size;
    };
    struct file_begin {
        const payload_entry& entry;
    };
    struct file_end {
        const payload_entry& entry;
    };
    struct progress {
        std::uint64_t position;
        std::uint64_t archive_size;
    };
    struct failed {
        std::error_code code;
        std::wstring message;
    };

    std::variant<started, finished, file_begin, file_end, progress, failed> event;
};

using notification_callback = std::function<notification::result(notification)>;

// The payload resource's bytes in a module, else in the main executable;
// empty when neither has it.
std::span<const char> payload_resource(HMODULE resource_module = nullptr);

// The CRC-32 of a file read back from disk. A sharing violation (a virus
// scanner holding the new file) is retried three times after `wait`.
std::uint32_t file_crc32(const std::filesystem::path& file,
                         const std::function<void()>& wait = [] { Sleep(1000); });

class output_file;

// The sink behind the decompressor. `write` consumes a prefix of the
// decompressed data and returns its length; it is called again with the rest.
class payload_extractor {
public:
    payload_extractor(std::wstring install_folder, std::wstring samples_name,
                      std::wstring temporary_folder, notification_callback callback,
                      folder_lookup lookup = shell_folder);
    ~payload_extractor();

    payload_extractor(const payload_extractor&) = delete;
    payload_extractor& operator=(const payload_extractor&) = delete;

    std::size_t write(const char* bytes, std::size_t n);

    // Handles zero-length entries at the very end, which no data reaches.
    void finish();

    std::uint64_t position() const { return position_; }
    std::uint64_t archive_size() const { return archive_size_; }
    std::uint64_t header_size() const { return header_size_; }
    const std::vector<payload_entry>& entries() const { return entries_; }
    const std::vector<shared_folder>& shared_folders() const { return placeholders_.shared_folders; }

    // The entry being written, once file_begin was sent for it.
    const payload_entry* started_entry() const;

    // The exception that left `write`, if one did. The decompressor's chain
    // may raise errors of its own while it is torn down; this one came first.
    std::exception_ptr error() const { return error_; }

private:
    std::size_t write_header(const char* bytes, std::size_t n);
    std::size_t write_file_data(const char* bytes, std::size_t n);
    void parse_header();
    void open_output(const payload_entry& entry);
    void widen_shared_folders(std::filesystem::path folder);
    notification::result notify(notification n);
    notification::result notify_or_stop(notification n);

    path_placeholders placeholders_;
    folder_identities identities_;
    notification_callback callback_;
    std::vector<payload_entry> entries_;
    std::uint64_t header_size_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t archive_size_ = 0;
    std::unique_ptr<hv::memstream> header_;
    std::unique_ptr<output_file> file_;
    std::uint32_t current_ = 0;
    std::uint64_t remaining_ = 0;
    bool started_ = false;
    bool skipping_ = false;
    bool failed_ = false;
    std::exception_ptr error_;
};

// Extracts the whole archive. True when every file was written and verified;
// false after a failure, once `failed` has been sent.
bool extract_payload(std::istream& resource, const std::wstring& install_folder,
                     const std::wstring& samples_name, const std::wstring& temporary_folder,
                     notification_callback callback, folder_lookup lookup = shell_folder);

// Decompresses the whole stream once, writing nothing: true when it is a
// sound bzip2 stream with nothing after it. The caller rewinds the stream.
bool verify_payload(std::istream& resource);

// The error code an extraction reports for an exception.
std::error_code extraction_error_code(std::exception_ptr error);
