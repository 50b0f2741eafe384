// The maker library's base of exceptions that carry a wide message.
#pragma once

#include <exception>
#include <string>

namespace hv {

class exception : public virtual std::exception {
public:
    exception() = default;
    exception(const exception&) noexcept {}
    // The kept text belongs to the old message.
    exception& operator=(const exception&) noexcept;
    ~exception() override;

    virtual std::wstring message() const = 0;

    // The message in UTF-8, converted once and kept; never raises.
    const char* what() const noexcept override;

private:
    mutable std::string* what_ = nullptr;
};

// UTF-16 to UTF-8; unpaired surrogates are dropped.
std::string to_utf8(std::wstring_view text);

}
