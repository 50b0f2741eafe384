// Payload archives of a chosen size for the benchmark programs: text-like
// files of 25 MB that bzip2 compresses about four to one, installed to
// <InstallPath>\Data as regular files.
#pragma once

#include <cstdint>
#include <filesystem>

namespace generated_payload {

// Writes an archive of at least `megabytes` MB of files to `archive`; file
// contents are generated twice (once for the CRCs) so nothing large is held
// in memory. False when the file could not be written.
bool generate(const std::filesystem::path& archive, std::uint64_t megabytes);

}
