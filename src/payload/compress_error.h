// The error category in which the payload extractor reports its own failures.
#pragma once

#include <system_error>

enum class compress_errc {
    invalid_checksum = 3,
    verification_failed = 4,
    interrupted = 5,
    bzip2_error = 6,
    unexpected_error = 7,
};

// The category named "compress" (created on first use).
const std::error_category& compress_category() noexcept;

std::error_code make_error_code(compress_errc code) noexcept;

[[noreturn]] void throw_compress_error(compress_errc code);

template <>
struct std::is_error_code_enum<compress_errc> : std::true_type {};
