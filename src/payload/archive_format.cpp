#include "payload/archive_format.h"

#include <algorithm>
#include <iterator>

#include "platform/path_rules.h"

#include "payload/compress_error.h"

#include <boost/crc.hpp>

namespace {

template <class T>
void put(std::string& out, T value)
{
    for (unsigned i = 0; i < sizeof(T); ++i)
        out.push_back(static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * i) & 0xFF));
}

void put_string(std::string& out, const std::u16string& text)
{
    put<std::uint32_t>(out, static_cast<std::uint32_t>(text.size()));
    for (char16_t c : text)
        put<std::uint16_t>(out, c);
}

// Reads the header front to back; every read is checked against what is left.
class header_reader {
public:
    explicit header_reader(std::string_view bytes) : rest_(bytes) {}

    template <class T>
    T get()
    {
        need(sizeof(T));
        std::uint64_t value = 0;
        for (unsigned i = 0; i < sizeof(T); ++i)
            value |= std::uint64_t{static_cast<unsigned char>(rest_[i])} << (8 * i);
        rest_.remove_prefix(sizeof(T));
        return static_cast<T>(value);
    }

    std::u16string get_string()
    {
        const std::uint64_t length = get<std::uint32_t>();
        need(2 * length);
        std::u16string text;
        text.reserve(length);
        for (std::uint64_t i = 0; i < length; ++i) {
            const char16_t c = get<std::uint16_t>();
            if (c == 0)
                throw_compress_error(compress_errc::unexpected_error);
            text.push_back(c);
        }
        return text;
    }

    std::size_t left() const { return rest_.size(); }

private:
    void need(std::uint64_t count) const
    {
        if (count > rest_.size())
            throw_compress_error(compress_errc::unexpected_error);
    }

    std::string_view rest_;
};

}

std::uint64_t archive_header_size(const std::vector<archive_entry>& entries)
{
    std::uint64_t size = archive_fixed_header_size;
    for (const auto& e : entries)
        size += archive_min_entry_size + 2 * (e.source.size() + e.destination.size());
    return size;
}

std::string encode_archive_header(const std::vector<archive_entry>& entries)
{
    std::string out;
    out.reserve(archive_header_size(entries));
    put<std::uint64_t>(out, archive_header_size(entries));
    put<std::uint32_t>(out, static_cast<std::uint32_t>(entries.size()));
    for (const auto& e : entries) {
        put_string(out, e.source);
        put_string(out, e.destination);
        put<std::uint32_t>(out, e.kind);
        put<std::uint64_t>(out, e.size);
        put<std::uint32_t>(out, e.crc32);
    }
    return out;
}

std::uint64_t decode_header_size(std::string_view first_bytes)
{
    const auto size = header_reader(first_bytes).get<std::uint64_t>();
    if (size < archive_fixed_header_size || size > archive_max_header_size)
        throw_compress_error(compress_errc::unexpected_error);
    return size;
}

std::vector<archive_entry> decode_archive_header(std::string_view header)
{
    header_reader in(header);
    in.get<std::uint64_t>();
    const std::uint32_t count = in.get<std::uint32_t>();
    if (count > in.left() / archive_min_entry_size)
        throw_compress_error(compress_errc::unexpected_error);
    std::vector<archive_entry> entries(count);
    for (auto& e : entries) {
        e.source = in.get_string();
        e.destination = in.get_string();
        e.kind = in.get<std::uint32_t>();
        e.size = in.get<std::uint64_t>();
        e.crc32 = in.get<std::uint32_t>();
    }
    return entries;
}

std::uint64_t archive_total_size(std::uint64_t header_size,
                                 const std::vector<archive_entry>& entries)
{
    std::uint64_t total = header_size;
    for (const auto& e : entries) {
        if (e.size > UINT64_MAX - total)
            throw_compress_error(compress_errc::unexpected_error);
        total += e.size;
    }
    return total;
}

std::uint32_t archive_crc32(std::string_view data)
{
    boost::crc_32_type crc;
    crc.process_bytes(data.data(), data.size());
    return crc.checksum();
}

bool is_safe_destination(std::u16string_view destination, std::u16string_view file_name)
{
    if (!is_plain_name(file_name))
        return false;
    const std::size_t token_end = destination.find_first_of(u"\\/");
    const std::u16string_view token = destination.substr(0, token_end);
    if (std::find(std::begin(destination_tokens), std::end(destination_tokens), token) == std::end(destination_tokens))
        return false;
    if (token_end == std::u16string_view::npos)
        return true;
    for (std::size_t start = token_end + 1;;) {
        const std::size_t end = destination.find_first_of(u"\\/", start);
        const std::u16string_view name = destination.substr(start, end == std::u16string_view::npos ? end : end - start);
        // A trailing separator is allowed; an empty name between two is not.
        if (!(name.empty() && end == std::u16string_view::npos) && !is_plain_name(name))
            return false;
        if (end == std::u16string_view::npos)
            return true;
        start = end + 1;
    }
}
