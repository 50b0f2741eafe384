#include "platform/exception.h"

namespace hv {

exception::~exception()
{
    delete what_;
}

exception& exception::operator=(const exception&) noexcept
{
    delete what_;
    what_ = nullptr;
    return *this;
}

const char* exception::what() const noexcept
{
    if (what_)
        return what_->c_str();
    try {
        std::string text = to_utf8(message());
        if (!text.empty()) {
            what_ = new std::string(std::move(text));
            return what_->c_str();
        }
    }
    catch (...) {
    }
    const char* base = std::exception::what();
    return base && *base ? base : "Unknown exception";
}

std::string to_utf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            }
            else {
                continue;
            }
        }
        else if (c >= 0xDC00 && c <= 0xDFFF) {
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        }
        else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}
