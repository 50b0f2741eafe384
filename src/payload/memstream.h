// In-memory streams of the maker's library: a read-only stream over bytes
// owned elsewhere (no copy), and a growable read/write stream.
#pragma once

#include <algorithm>
#include <cstddef>
#include <istream>
#include <streambuf>
#include <string_view>
#include <vector>

namespace hv {

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_imemstreambuf : public std::basic_streambuf<CharT, Traits> {
public:
    using typename std::basic_streambuf<CharT, Traits>::pos_type;
    using typename std::basic_streambuf<CharT, Traits>::off_type;

    basic_imemstreambuf(const CharT* data, std::size_t size)
    {
        auto* first = const_cast<CharT*>(data);
        this->setg(first, first, first + size);
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override
    {
        if (!(which & std::ios_base::in))
            return pos_type(off_type(-1));
        const off_type size = this->egptr() - this->eback();
        off_type base = 0;
        if (dir == std::ios_base::cur)
            base = this->gptr() - this->eback();
        else if (dir == std::ios_base::end)
            base = size;
        if (offset < -base || offset > size - base)
            return pos_type(off_type(-1));
        this->setg(this->eback(), this->eback() + base + offset, this->egptr());
        return pos_type(base + offset);
    }

    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override
    {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }
};

// Reads bytes that must outlive the stream, for example a locked resource.
template <class CharT, class Traits = std::char_traits<CharT>>
class basic_imemstream : public std::basic_istream<CharT, Traits> {
public:
    basic_imemstream(const CharT* data, std::size_t size)
        : std::basic_istream<CharT, Traits>(nullptr), buf_(data, size)
    {
        this->init(&buf_);
    }

    explicit basic_imemstream(std::basic_string_view<CharT, Traits> data)
        : basic_imemstream(data.data(), data.size())
    {
    }

    basic_imemstream(const basic_imemstream&) = delete;
    basic_imemstream& operator=(const basic_imemstream&) = delete;

private:
    basic_imemstreambuf<CharT, Traits> buf_;
};

// A growable buffer: writes append at the put position, reads see what was
// written.
template <class CharT, class Traits = std::char_traits<CharT>>
class basic_memstreambuf : public std::basic_streambuf<CharT, Traits> {
public:
    using typename std::basic_streambuf<CharT, Traits>::int_type;
    using typename std::basic_streambuf<CharT, Traits>::pos_type;
    using typename std::basic_streambuf<CharT, Traits>::off_type;

    // Everything written so far.
    std::basic_string_view<CharT, Traits> view() const
    {
        return {data_.data(), written()};
    }

    std::size_t size() const { return written(); }

protected:
    int_type overflow(int_type c) override
    {
        if (Traits::eq_int_type(c, Traits::eof()))
            return Traits::not_eof(c);
        reserve(written() + 1);
        *this->pptr() = Traits::to_char_type(c);
        this->pbump(1);
        return c;
    }

    std::streamsize xsputn(const CharT* s, std::streamsize n) override
    {
        if (n <= 0)
            return 0;
        reserve(written() + static_cast<std::size_t>(n));
        Traits::copy(this->pptr(), s, static_cast<std::size_t>(n));
        this->pbump(static_cast<int>(n));
        return n;
    }

    int_type underflow() override
    {
        high_water_ = std::max(high_water_, put_offset());
        const auto read = this->gptr() ? this->gptr() - this->eback() : 0;
        this->setg(data_.data(), data_.data() + read, data_.data() + high_water_);
        return this->gptr() < this->egptr() ? Traits::to_int_type(*this->gptr()) : Traits::eof();
    }

    pos_type seekoff(off_type offset, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override
    {
        const off_type size = static_cast<off_type>(written());
        const bool in = which & std::ios_base::in, out = which & std::ios_base::out;
        if (!in && !out)
            return pos_type(off_type(-1));
        off_type base = 0;
        if (dir == std::ios_base::cur) {
            if (in && out)
                return pos_type(off_type(-1));
            base = in ? (this->gptr() ? this->gptr() - this->eback() : 0) : put_offset();
        }
        else if (dir == std::ios_base::end) {
            base = size;
        }
        const off_type target = base + offset;
        if (target < 0 || target > size)
            return pos_type(off_type(-1));
        high_water_ = static_cast<std::size_t>(size);
        if (in)
            this->setg(data_.data(), data_.data() + target, data_.data() + high_water_);
        if (out) {
            this->setp(data_.data(), data_.data() + data_.size());
            advance_put(static_cast<std::size_t>(target));
        }
        return pos_type(target);
    }

    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override
    {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }

private:
    std::size_t put_offset() const
    {
        return this->pptr() ? static_cast<std::size_t>(this->pptr() - this->pbase()) : 0;
    }

    std::size_t written() const { return std::max(high_water_, put_offset()); }

    void advance_put(std::size_t count)
    {
        while (count > 0) {
            const int step = static_cast<int>(std::min<std::size_t>(count, 1u << 30));
            this->pbump(step);
            count -= static_cast<std::size_t>(step);
        }
    }

    void reserve(std::size_t needed)
    {
        if (needed <= data_.size())
            return;
        const std::size_t put = put_offset();
        const auto read = this->gptr() ? this->gptr() - this->eback() : 0;
        high_water_ = written();
        data_.resize(std::max({needed, 2 * data_.size(), std::size_t{256}}));
        this->setp(data_.data(), data_.data() + data_.size());
        advance_put(put);
        this->setg(data_.data(), data_.data() + read, data_.data() + high_water_);
    }

    std::vector<CharT> data_;
    std::size_t high_water_ = 0;
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_memstream : public std::basic_iostream<CharT, Traits> {
public:
    basic_memstream() : std::basic_iostream<CharT, Traits>(nullptr) { this->init(&buf_); }

    basic_memstream(const basic_memstream&) = delete;
    basic_memstream& operator=(const basic_memstream&) = delete;

    std::basic_string_view<CharT, Traits> view() const { return buf_.view(); }
    std::size_t size() const { return buf_.size(); }

private:
    basic_memstreambuf<CharT, Traits> buf_;
};

using imemstream = basic_imemstream<char>;
using wimemstream = basic_imemstream<wchar_t>;
using memstream = basic_memstream<char>;
using wmemstream = basic_memstream<wchar_t>;

}
