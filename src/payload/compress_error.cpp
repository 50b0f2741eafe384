#include "payload/compress_error.h"

#include <string>

namespace {

class compress_error_category final : public std::error_category {
public:
    const char* name() const noexcept override { return "compress"; }

    std::string message(int code) const override
    {
        switch (static_cast<compress_errc>(code)) {
        case compress_errc::invalid_checksum:
            return "invalid checksum";
        case compress_errc::interrupted:
            return "interrupted";
        case compress_errc::bzip2_error:
            return "bzip2 error";
        case compress_errc::unexpected_error:
            return "unexpected error";
        default:
            return "unknown error";
        }
    }
};

}

const std::error_category& compress_category() noexcept
{
    static const compress_error_category category;
    return category;
}

std::error_code make_error_code(compress_errc code) noexcept
{
    return {static_cast<int>(code), compress_category()};
}

void throw_compress_error(compress_errc code)
{
    throw std::system_error(make_error_code(code));
}
