#include "records/text_file.h"

#include <algorithm>
#include <cstring>

namespace hv::txtf {

namespace {

using narrow_facet = std::codecvt<wchar_t, char, std::mbstate_t>;

constexpr char32_t replacement_character = 0xFFFD;
constexpr char32_t byte_order_mark = 0xFEFF;

// Encodings as the conversion state records them.
enum : unsigned { found_none, found_code_page, found_utf8, found_utf16, found_utf32 };
// Line-end styles as the conversion state records them.
enum : unsigned { style_none, style_crlf, style_lf, style_cr, style_mixed };
// Byte orders as the conversion state records them.
enum : unsigned { order_none, order_little, order_big };

class conversion_state {
public:
    explicit conversion_state(std::uint32_t value) : value_(value) {}
    std::uint32_t value() const { return value_; }

    unsigned found() const { return value_ & 7u; }
    void set_found(unsigned found) { value_ = (value_ & ~7u) | found; }

    bool mark_decided() const { return value_ & 0x18u; }
    void set_mark_done() { value_ |= 0x08u; }
    void set_no_mark() { value_ |= 0x10u; }

    unsigned line_end() const { return (value_ >> 5) & 7u; }
    void set_line_end(unsigned style) { value_ = (value_ & ~0xE0u) | (style << 5); }
    void record_line_end(unsigned style)
    {
        const unsigned seen = line_end();
        set_line_end(seen == style_none || seen == style ? style : style_mixed);
    }

    unsigned order() const { return (value_ >> 8) & 3u; }
    void set_order(unsigned order) { value_ = (value_ & ~0x300u) | (order << 8); }

    bool pending() const { return value_ & 0xC00u; }
    char32_t pending_unit() const { return (value_ >> 12) & 0x3FFFFu; }
    void set_pending(char32_t unit) { value_ = (value_ & ~pending_mask) | 0x400u | (std::uint32_t(unit) << 12); }
    void clear_pending() { value_ &= ~pending_mask; }

    bool after_cr() const { return value_ & after_cr_bit; }
    void set_after_cr(bool on) { value_ = on ? value_ | after_cr_bit : value_ & ~after_cr_bit; }

private:
    static constexpr std::uint32_t pending_mask = 0x3FFFFC00u;
    static constexpr std::uint32_t after_cr_bit = 0x40000000u;
    std::uint32_t value_;
};

unsigned found_for_mode(std::uint32_t mode)
{
    switch (mode & encoding_mask) {
    case encoding_utf8: return found_utf8;
    case encoding_utf16: return found_utf16;
    case encoding_utf32: return found_utf32;
    case encoding_code_page: return found_code_page;
    default: return found_none;
    }
}

// The byte order of UTF-16 and UTF-32, settled on first use.
bool big_endian(conversion_state& state, std::uint32_t mode)
{
    if (state.order() == order_none)
        state.set_order((mode & byte_order_mask) == byte_order_big ? order_big : order_little);
    return state.order() == order_big;
}

bool is_high_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low_surrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
char32_t combine(char32_t high, char32_t low) { return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00); }
bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// One character read from the bytes, a byte-order mark, or the news that the
// bytes end inside a character.
struct decoded {
    enum kind_type { character, mark, more } kind;
    char32_t value;
    std::size_t length;
    bool rejected;
};

decoded character(char32_t value, std::size_t length) { return {decoded::character, value, length, false}; }
decoded rejected(std::size_t length) { return {decoded::character, replacement_character, length, true}; }
decoded need_more() { return {decoded::more, 0, 0, false}; }

std::size_t utf8_sequence_length(unsigned char lead)
{
    if (lead < 0x80) return 1;
    if (lead < 0xC0) return 0;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead < 0xF8) return 4;
    if (lead < 0xFC) return 5;
    return 6;
}

// One sequence of two to six bytes as its lead byte announces it, overlong
// forms included; the value may be a surrogate or out of range.
decoded utf8_sequence(const unsigned char* from, const unsigned char* end)
{
    const std::size_t length = utf8_sequence_length(from[0]);
    if (length == 0)
        return rejected(1);
    char32_t value = from[0] & (0x7Fu >> length);
    if (length == 1)
        value = from[0];
    for (std::size_t i = 1; i < length; ++i) {
        if (from + i == end)
            return need_more();
        if (!is_continuation(from[i]))
            return rejected(i);
        value = (value << 6) | (from[i] & 0x3Fu);
    }
    return character(value, length);
}

// Strict UTF-8 only decides whether a file is UTF-8, so a sequence that can
// never be valid is rejected as soon as its first two bytes show it.
decoded decode_utf8_strict(const unsigned char* from, const unsigned char* end)
{
    const unsigned char lead = from[0];
    if (lead < 0x80)
        return character(lead, 1);
    if (lead < 0xC2)
        return rejected(1);
    if (lead >= 0xF5)
        return rejected(std::min<std::size_t>(end - from, utf8_sequence_length(lead)));
    if (end - from >= 2 && is_continuation(from[1])) {
        const unsigned char second = from[1];
        const bool forbidden = (lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
                               (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90);
        if (forbidden) {
            const decoded whole = utf8_sequence(from, end);
            return whole.kind == decoded::more ? rejected(end - from) : rejected(whole.length);
        }
    }
    return utf8_sequence(from, end);
}

decoded decode_utf8_lenient(const unsigned char* from, const unsigned char* end)
{
    const decoded first = utf8_sequence(from, end);
    if (first.kind == decoded::more || first.rejected)
        return first;
    if (first.length == 3 && is_high_surrogate(first.value)) {
        // A supplementary character written as two three-byte surrogates.
        if (from + 3 == end)
            return need_more();
        if (from[3] != 0xED)
            return rejected(3);
        const decoded second = utf8_sequence(from + 3, end);
        if (second.kind == decoded::more)
            return second;
        if (!second.rejected && second.length == 3 && is_low_surrogate(second.value))
            return character(combine(first.value, second.value), 6);
        return rejected(3);
    }
    if (is_surrogate(first.value) || first.value > 0x10FFFF)
        return rejected(first.length);
    return first;
}

char32_t read_unit(const unsigned char* from, std::size_t size, bool big)
{
    char32_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value |= char32_t(from[big ? size - 1 - i : i]) << (8 * i);
    return value;
}

decoded decode_utf16(const unsigned char* from, const unsigned char* end, bool big)
{
    if (end - from < 2)
        return need_more();
    const char32_t unit = read_unit(from, 2, big);
    if (is_high_surrogate(unit)) {
        if (end - from < 4)
            return need_more();
        const char32_t low = read_unit(from + 2, 2, big);
        return is_low_surrogate(low) ? character(combine(unit, low), 4) : rejected(2);
    }
    return is_low_surrogate(unit) ? rejected(2) : character(unit, 2);
}

decoded decode_utf32(const unsigned char* from, const unsigned char* end, bool big)
{
    if (end - from < 4)
        return need_more();
    const char32_t value = read_unit(from, 4, big);
    return is_surrogate(value) || value > 0x10FFFF ? rejected(4) : character(value, 4);
}

// The locale's facet gets one byte, then two, then more, until it yields a
// character.
decoded decode_code_page(const narrow_facet& narrow, const unsigned char* from, const unsigned char* end)
{
    const auto* bytes = reinterpret_cast<const char*>(from);
    const std::ptrdiff_t longest = std::max(narrow.max_length(), 1);
    for (std::ptrdiff_t size = 1; size <= longest; ++size) {
        if (end - from < size)
            return need_more();
        std::mbstate_t state{};
        const char* next = bytes;
        wchar_t unit = 0;
        wchar_t* unit_next = &unit;
        const auto result = narrow.in(state, bytes, bytes + size, next, &unit, &unit + 1, unit_next);
        if (result == std::codecvt_base::noconv)
            return character(from[0], 1);
        if (unit_next != &unit)
            return character(char32_t(unit), next - bytes);
        if (result == std::codecvt_base::error)
            break;
    }
    return rejected(1);
}

struct mark_match {
    bool more;
    std::size_t length;
    unsigned found;
    unsigned order;
};

mark_match match_byte_order_mark(const unsigned char* from, const unsigned char* end)
{
    static const struct {
        unsigned char bytes[4];
        std::size_t length;
        unsigned found;
        unsigned order;
    } marks[] = {
        {{0x00, 0x00, 0xFE, 0xFF}, 4, found_utf32, order_big},
        {{0xEF, 0xBB, 0xBF}, 3, found_utf8, order_none},
        {{0xFE, 0xFF}, 2, found_utf16, order_big},
        {{0xFF, 0xFE, 0x00, 0x00}, 4, found_utf32, order_little},
        {{0xFF, 0xFE}, 2, found_utf16, order_little},
    };
    const std::size_t available = end - from;
    const unsigned char first = from[0];
    const std::size_t needed = first == 0x00 || first == 0xFF ? 4 : first == 0xFE ? 2 : first == 0xEF ? 3 : 0;
    if (needed == 0)
        return {false, 0, found_none, order_none};
    if (available < needed) {
        static const unsigned char utf8_mark[] = {0xEF, 0xBB, 0xBF};
        if (first == 0xEF && std::memcmp(from, utf8_mark, available) != 0)
            return {false, 0, found_none, order_none};
        return {true, 0, found_none, order_none};
    }
    for (const auto& mark : marks)
        if (available >= mark.length && std::memcmp(from, mark.bytes, mark.length) == 0)
            return {false, mark.length, mark.found, mark.order};
    return {false, 0, found_none, order_none};
}

// Finds the encoding of a file from its first bytes: a byte-order mark, else
// the first character that UTF-8 and the code page read differently.
decoded detect(conversion_state& state, std::uint32_t mode, const narrow_facet& narrow,
               const unsigned char* from, const unsigned char* end)
{
    if (!state.mark_decided()) {
        if ((mode & mark_mask) != mark_none) {
            const mark_match mark = match_byte_order_mark(from, end);
            if (mark.more)
                return need_more();
            if (mark.length != 0) {
                state.set_found(mark.found);
                state.set_order(mark.order);
                state.set_mark_done();
                return {decoded::mark, byte_order_mark, mark.length, false};
            }
        }
        state.set_no_mark();
    }
    const decoded utf8 = decode_utf8_strict(from, end);
    if (utf8.kind == decoded::more)
        return utf8;
    if (utf8.rejected) {
        state.set_found(found_code_page);
        return decode_code_page(narrow, from, end);
    }
    if (utf8.length > 1) {
        state.set_found(found_utf8);
        return utf8;
    }
    const decoded local = decode_code_page(narrow, from, end);
    if (local.kind == decoded::more)
        return local;
    if (local.value == utf8.value && local.length == 1)
        return utf8;
    if (local.value == replacement_character) {
        state.set_found(found_utf8);
        return utf8;
    }
    state.set_found(found_code_page);
    return local;
}

decoded decode_next(conversion_state& state, std::uint32_t mode, const narrow_facet& narrow,
                    const unsigned char* from, const unsigned char* end)
{
    unsigned found = found_for_mode(mode);
    if (found == found_none)
        found = state.found();
    else
        state.set_found(found);
    switch (found) {
    case found_utf8: return decode_utf8_lenient(from, end);
    case found_utf16: return decode_utf16(from, end, big_endian(state, mode));
    case found_utf32: return decode_utf32(from, end, big_endian(state, mode));
    case found_code_page: return decode_code_page(narrow, from, end);
    default: return detect(state, mode, narrow, from, end);
    }
}

std::size_t write_unit(char32_t value, std::size_t size, bool big, unsigned char* to)
{
    for (std::size_t i = 0; i < size; ++i)
        to[big ? size - 1 - i : i] = static_cast<unsigned char>(value >> (8 * i));
    return size;
}

std::size_t encode_utf8(char32_t c, unsigned char* to)
{
    if (c < 0x80) {
        to[0] = static_cast<unsigned char>(c);
        return 1;
    }
    const std::size_t length = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    static const unsigned char lead_bits[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (std::size_t i = length - 1; i > 0; --i) {
        to[i] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        c >>= 6;
    }
    to[0] = static_cast<unsigned char>(lead_bits[length] | c);
    return length;
}

std::size_t encode_utf16(char32_t c, bool big, unsigned char* to)
{
    if (c < 0x10000)
        return write_unit(c, 2, big, to);
    c -= 0x10000;
    write_unit(0xD800 + (c >> 10), 2, big, to);
    return 2 + write_unit(0xDC00 + (c & 0x3FF), 2, big, to + 2);
}

// Room for one character in the code page; longer results are replaced.
constexpr std::size_t code_page_room = 16;

std::size_t encode_code_page(const narrow_facet& narrow, char replacement, char32_t c, unsigned char* to)
{
    wchar_t units[2];
    std::size_t count = 1;
    if (c < 0x10000) {
        units[0] = static_cast<wchar_t>(c);
    }
    else {
        units[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        count = 2;
    }
    std::mbstate_t state{};
    const wchar_t* next = units;
    char* bytes = reinterpret_cast<char*>(to);
    char* bytes_next = bytes;
    const auto result = narrow.out(state, units, units + count, next, bytes, bytes + code_page_room, bytes_next);
    if (result == std::codecvt_base::ok && next == units + count && bytes_next != bytes)
        return bytes_next - bytes;
    if (result == std::codecvt_base::noconv && c < 0x100) {
        to[0] = static_cast<unsigned char>(c);
        return 1;
    }
    to[0] = static_cast<unsigned char>(replacement);
    return 1;
}

}

std::uint32_t normalise_mode(std::uint32_t mode) noexcept
{
    switch (mode & encoding_mask) {
    case encoding_automatic:
    case encoding_utf8:
    case encoding_utf16:
    case encoding_utf32:
    case encoding_code_page: break;
    default: mode &= ~encoding_mask;
    }
    if ((mode & mark_mask) == mark_mask)
        mode &= ~mark_mask;
    switch (mode & line_end_mask) {
    case line_end_default:
    case line_end_crlf:
    case line_end_lf:
    case line_end_cr: break;
    default: mode &= ~line_end_mask;
    }
    if ((mode & byte_order_mask) == byte_order_mask)
        mode &= ~byte_order_mask;
    if ((mode & encoding_mask) == encoding_code_page)
        mode = (mode & ~mark_mask) | mark_none;
    return mode;
}

static_assert(sizeof(std::mbstate_t) >= sizeof(std::uint32_t));

std::uint32_t state_bits(const std::mbstate_t& state) noexcept
{
    std::uint32_t bits;
    std::memcpy(&bits, &state, sizeof bits);
    return bits;
}

void set_state_bits(std::mbstate_t& state, std::uint32_t bits) noexcept
{
    std::memcpy(&state, &bits, sizeof bits);
}

codecvt<wchar_t>::codecvt(std::uint32_t mode, const std::locale& locale, std::size_t refs)
    : narrow_facet(refs), mode_(normalise_mode(mode)), locale_(locale),
      narrow_(&std::use_facet<narrow_facet>(locale_))
{
    // Built on a locale that converts through this facet already: use the
    // code page that facet uses, not the facet itself.
    if (const auto* own = dynamic_cast<const codecvt<wchar_t>*>(narrow_))
        narrow_ = own->narrow_;
}

codecvt<wchar_t>::~codecvt() = default;

bool codecvt<wchar_t>::do_always_noconv() const noexcept
{
    return false;
}

int codecvt<wchar_t>::do_max_length() const noexcept
{
    const int m = narrow_->max_length();
    const std::uint32_t line_end = mode_ & line_end_mask;
    const bool crlf = line_end != line_end_lf && line_end != line_end_cr;
    const bool marked = (mode_ & mark_mask) != mark_none;
    switch (mode_ & encoding_mask) {
    case encoding_utf8: return marked ? 9 : 6;
    case encoding_utf16: return marked ? 6 : 4;
    case encoding_utf32: return marked ? (crlf ? 12 : 8) : (crlf ? 8 : 4);
    case encoding_code_page: return crlf ? 2 * m : m;
    default: return std::max(2 * m, marked ? (crlf ? 12 : 9) : (crlf ? 8 : 6));
    }
}

int codecvt<wchar_t>::do_encoding() const noexcept
{
    const std::uint32_t line_end = mode_ & line_end_mask;
    if ((mode_ & mark_mask) != mark_none || line_end == line_end_default)
        return -1;
    if (line_end == line_end_crlf)
        return 0;
    switch (mode_ & encoding_mask) {
    case encoding_utf32: return 4;
    case encoding_code_page: return narrow_->encoding();
    default: return 0;
    }
}

codecvt<wchar_t>::result codecvt<wchar_t>::do_in(state_type& state, const extern_type* from,
                                                 const extern_type* from_end, const extern_type*& from_next,
                                                 intern_type* to, intern_type* to_end,
                                                 intern_type*& to_next) const
{
    conversion_state bits(state_bits(state));
    const auto* begin = reinterpret_cast<const unsigned char*>(from);
    const auto* end = reinterpret_cast<const unsigned char*>(from_end);
    const unsigned char* p = begin;
    intern_type* out = to;
    const std::uint32_t line_end = mode_ & line_end_mask;
    const bool every_break_is_lf = line_end == line_end_lf || line_end == line_end_cr;
    const bool fixed_encoding = found_for_mode(mode_) != found_none;
    result status = ok;
    for (;;) {
        if (bits.pending()) {
            if (out == to_end) {
                status = partial;
                break;
            }
            *out++ = static_cast<intern_type>(bits.pending_unit());
            bits.clear_pending();
            continue;
        }
        if (p == end)
            break;
        if (out == to_end) {
            status = partial;
            break;
        }
        const decoded next = decode_next(bits, mode_, *narrow_, p, end);
        if (next.kind == decoded::more) {
            status = partial;
            break;
        }
        p += next.length;
        if (next.kind == decoded::mark)
            continue;
        char32_t c = next.value;
        if (fixed_encoding && !bits.mark_decided()) {
            if (c == byte_order_mark && (mode_ & mark_mask) != mark_none) {
                bits.set_mark_done();
                continue;
            }
            bits.set_no_mark();
        }
        const bool after_cr = bits.after_cr();
        if (c == U'\n') {
            bits.record_line_end(after_cr ? style_crlf : style_lf);
            bits.set_after_cr(false);
            if (after_cr && !every_break_is_lf)
                continue;
        }
        else {
            if (after_cr)
                bits.record_line_end(style_cr);
            bits.set_after_cr(c == U'\r');
            if (c == U'\r')
                c = U'\n';
        }
        if (c == 0xFFFE || c == 0xFFFF)
            c = replacement_character;
        if (c < 0x10000) {
            *out++ = static_cast<intern_type>(c);
        }
        else {
            *out++ = static_cast<intern_type>(0xD800 + ((c - 0x10000) >> 10));
            const char32_t low = 0xDC00 + ((c - 0x10000) & 0x3FF);
            if (out == to_end)
                bits.set_pending(low);
            else
                *out++ = static_cast<intern_type>(low);
        }
    }
    set_state_bits(state, bits.value());
    from_next = from + (p - begin);
    to_next = out;
    return status;
}

codecvt<wchar_t>::result codecvt<wchar_t>::do_out(state_type& state, const intern_type* from,
                                                  const intern_type* from_end, const intern_type*& from_next,
                                                  extern_type* to, extern_type* to_end,
                                                  extern_type*& to_next) const
{
    conversion_state bits(state_bits(state));
    unsigned found = found_for_mode(mode_);
    if (found == found_none)
        found = found_code_page;
    const std::uint32_t line_end = mode_ & line_end_mask;
    const unsigned mode_style = line_end == line_end_lf ? style_lf : line_end == line_end_cr ? style_cr : style_crlf;

    const intern_type* p = from;
    auto* out = reinterpret_cast<unsigned char*>(to);
    auto* const out_end = reinterpret_cast<unsigned char*>(to_end);
    result status = ok;
    while (p != from_end) {
        const conversion_state saved = bits;
        const intern_type* const start = p;
        char32_t c = static_cast<char16_t>(*p++);
        if (bits.pending()) {
            const char32_t high = bits.pending_unit();
            bits.clear_pending();
            if (is_low_surrogate(c)) {
                c = combine(high, c);
            }
            else {
                c = replacement_character;
                --p;
            }
        }
        else if (is_high_surrogate(c)) {
            if (p == from_end) {
                bits.set_pending(c);
                status = partial;
                break;
            }
            const char32_t low = static_cast<char16_t>(*p);
            if (is_low_surrogate(low)) {
                c = combine(c, low);
                ++p;
            }
            else {
                c = replacement_character;
            }
        }
        else if (is_low_surrogate(c)) {
            c = replacement_character;
        }

        bits.set_found(found);
        unsigned char units[3][code_page_room];
        std::size_t sizes[3] = {};
        const auto encode = [&](char32_t value, int slot) {
            unsigned char* bytes = units[slot];
            switch (found) {
            case found_utf8: sizes[slot] = encode_utf8(value, bytes); break;
            case found_utf16: sizes[slot] = encode_utf16(value, big_endian(bits, mode_), bytes); break;
            case found_utf32: sizes[slot] = write_unit(value, 4, big_endian(bits, mode_), bytes); break;
            default: sizes[slot] = encode_code_page(*narrow_, replacement_, value, bytes); break;
            }
        };
        if (found != found_code_page && !bits.mark_decided()) {
            if ((mode_ & mark_mask) == mark_none) {
                bits.set_no_mark();
            }
            else {
                encode(byte_order_mark, 0);
                bits.set_mark_done();
            }
        }
        if (c == 0xFFFE || c == 0xFFFF)
            c = replacement_character;
        if (c == U'\n') {
            unsigned style = bits.line_end();
            if (style == style_none)
                style = mode_style;
            else if (style == style_mixed)
                style = style_crlf;
            bits.set_line_end(style);
            if (style != style_lf)
                encode(U'\r', 1);
            if (style != style_cr)
                encode(U'\n', 2);
        }
        else if (c != U'\r') {
            encode(c, 1);
        }
        const std::size_t size = sizes[0] + sizes[1] + sizes[2];
        if (size > std::size_t(out_end - out)) {
            bits = saved;
            p = start;
            status = partial;
            break;
        }
        for (int slot = 0; slot < 3; ++slot)
            out = std::copy_n(units[slot], sizes[slot], out);
    }
    set_state_bits(state, bits.value());
    from_next = p;
    to_next = to + (out - reinterpret_cast<unsigned char*>(to));
    return status;
}

codecvt<wchar_t>::result codecvt<wchar_t>::do_unshift(state_type& state, extern_type* to, extern_type*,
                                                      extern_type*& to_next) const
{
    to_next = to;
    return conversion_state(state_bits(state)).pending() ? error : ok;
}

int codecvt<wchar_t>::do_length(state_type& state, const extern_type* from, const extern_type* end,
                                std::size_t max) const
{
    const extern_type* p = from;
    for (std::size_t count = 0; count < max;) {
        intern_type unit;
        intern_type* unit_next = &unit;
        const extern_type* next = p;
        const result status = do_in(state, p, end, next, &unit, &unit + 1, unit_next);
        p = next;
        if (unit_next == &unit || status == error)
            break;
        ++count;
    }
    return static_cast<int>(p - from);
}

}

std::string hv::txtf::utf16_file_bytes(std::wstring_view text)
{
    std::string bytes;
    bytes.reserve(2 + text.size() * 2 + text.size() / 16);
    const auto unit = [&](wchar_t c) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    };
    unit(L'\xFEFF');
    for (const wchar_t c : text) {
        if (c == L'\n')
            unit(L'\r');
        unit(c);
    }
    return bytes;
}
