// What the benchmark programs share: the payload they install (an
// installer's resource or an archive file, or a generated archive of a
// chosen size) and the clock they time it with.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <span>

namespace bench_support {

// Seconds from a fixed point in the past (the performance counter).
double now();

// Writes an archive of at least `megabytes` MB of text-like files (25 MB
// each, installed to <InstallPath>\Data as regular files) that bzip2
// compresses about eight to one. File contents are generated twice (once
// for the CRCs) so nothing large is held in memory. False when the file
// could not be written.
bool generate(const std::filesystem::path& archive, std::uint64_t megabytes);

// The payload at `source`: an installer's payload resource, held in memory
// as the installer holds it, or any other file as an archive read from disk
// as it is needed.
class payload_source {
public:
    // Throws std::runtime_error for an installer without a payload resource.
    explicit payload_source(std::filesystem::path source);
    payload_source(const payload_source&) = delete;
    payload_source& operator=(const payload_source&) = delete;
    ~payload_source();

    // The resource's bytes; empty for an archive file.
    std::span<const char> resource() const { return resource_; }
    // A new stream from the start of the payload.
    std::unique_ptr<std::istream> open() const;

private:
    std::filesystem::path source_;
    HMODULE installer_ = nullptr;
    std::span<const char> resource_;
};

}
