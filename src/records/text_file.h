// Wide-character text files whose bytes are UTF-8, UTF-16, UTF-32 or the
// process code page, with byte-order marks, line-end translation and
// detection of the encoding of a file being read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <ios>
#include <locale>
#include <string>
#include <string_view>

namespace hv::txtf {

// The bytes of a text file as the installer writes its own: UTF-16
// little-endian with a byte-order mark and CR LF line ends ("\n" in `text`).
std::string utf16_file_bytes(std::wstring_view text);

// Fields of the mode word given to the conversion facet.
inline constexpr std::uint32_t encoding_mask = 0x00F;
inline constexpr std::uint32_t encoding_automatic = 0x000;
inline constexpr std::uint32_t encoding_utf8 = 0x001;
inline constexpr std::uint32_t encoding_utf16 = 0x002;
inline constexpr std::uint32_t encoding_utf32 = 0x004;
inline constexpr std::uint32_t encoding_code_page = 0x008;

inline constexpr std::uint32_t mark_mask = 0x030;
inline constexpr std::uint32_t mark_default = 0x000;
inline constexpr std::uint32_t mark_written = 0x010;
inline constexpr std::uint32_t mark_none = 0x020;

inline constexpr std::uint32_t line_end_mask = 0x1C0;
inline constexpr std::uint32_t line_end_default = 0x000;
inline constexpr std::uint32_t line_end_crlf = 0x040;
inline constexpr std::uint32_t line_end_lf = 0x080;
inline constexpr std::uint32_t line_end_cr = 0x100;

inline constexpr std::uint32_t byte_order_mask = 0xC00;
inline constexpr std::uint32_t byte_order_default = 0x000;
inline constexpr std::uint32_t byte_order_little = 0x400;
inline constexpr std::uint32_t byte_order_big = 0x800;

// Clears every field holding a value it cannot have; the code page never
// carries a byte-order mark.
std::uint32_t normalise_mode(std::uint32_t mode) noexcept;

// The first 32 bits of a conversion state, kept across buffers.
std::uint32_t state_bits(const std::mbstate_t& state) noexcept;
void set_state_bits(std::mbstate_t& state, std::uint32_t bits) noexcept;

template <class CharT>
class codecvt;

// Converts the program's UTF-16 text to and from the bytes of a text file.
template <>
class codecvt<wchar_t> : public std::codecvt<wchar_t, char, std::mbstate_t> {
public:
    using narrow_facet = std::codecvt<wchar_t, char, std::mbstate_t>;

    codecvt(std::uint32_t mode, const std::locale& locale, std::size_t refs = 0);

    std::uint32_t mode() const noexcept { return mode_; }
    const std::locale& base_locale() const noexcept { return locale_; }

protected:
    ~codecvt() override;
    bool do_always_noconv() const noexcept override;
    int do_max_length() const noexcept override;
    int do_encoding() const noexcept override;
    result do_in(state_type& state, const extern_type* from, const extern_type* from_end,
                 const extern_type*& from_next, intern_type* to, intern_type* to_end,
                 intern_type*& to_next) const override;
    result do_out(state_type& state, const intern_type* from, const intern_type* from_end,
                  const intern_type*& from_next, extern_type* to, extern_type* to_end,
                  extern_type*& to_next) const override;
    result do_unshift(state_type& state, extern_type* to, extern_type* to_end,
                      extern_type*& to_next) const override;
    int do_length(state_type& state, const extern_type* from, const extern_type* end,
                  std::size_t max) const override;

private:
    std::uint32_t mode_;
    std::locale locale_;
    const narrow_facet* narrow_;
    char replacement_ = '?';
};

namespace details {

// A standard file stream that, once open, converts through codecvt<CharT>
// unless its locale already carries one.
template <template <class, class> class Stream, class CharT, class Traits, int Direction>
class stream_impl : public Stream<CharT, Traits> {
    using base = Stream<CharT, Traits>;

public:
    static constexpr std::ios_base::openmode open_mode =
        Direction == 1 ? std::ios_base::in | std::ios_base::binary
                       : std::ios_base::out | std::ios_base::trunc | std::ios_base::binary;
    static constexpr std::uint32_t default_mode = Direction == 1 ? encoding_automatic : encoding_utf16;

    stream_impl() = default;
    explicit stream_impl(const std::filesystem::path& path) { open(path); }
    ~stream_impl() override {}

    void open(const std::filesystem::path& path)
    {
        base::open(path, open_mode);
        if (this->is_open())
            use_text_facet();
    }

private:
    void use_text_facet()
    {
        const std::locale current = this->getloc();
        const auto& facet = std::use_facet<std::codecvt<CharT, char, std::mbstate_t>>(current);
        if (!dynamic_cast<const codecvt<CharT>*>(&facet))
            this->imbue(std::locale(current, new codecvt<CharT>(default_mode, current)));
    }
};

}

using wifstream = details::stream_impl<std::basic_ifstream, wchar_t, std::char_traits<wchar_t>, 1>;
using wofstream = details::stream_impl<std::basic_ofstream, wchar_t, std::char_traits<wchar_t>, 2>;

}
