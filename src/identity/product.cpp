#include "identity/product.h"

#include <stdexcept>

#include <fmt/xchar.h>

namespace {
constexpr std::wstring_view base_name = L"Quillmar";
}

std::wstring product_name(bool without_version)
{
    std::wstring name{base_name};
    if (!without_version) {
        name += L' ';
        name += version_label(product_version);
    }
    return name;
}

std::wstring product_key_name(unsigned code)
{
    auto invalid = [] { return std::logic_error("Debug Assertion Failed!"); };

    if (code < 2)
        throw invalid();
    if (code <= 0x101)
        return L"Quillmar";
    if (code == 0x102)
        return L"Quillmar 2";
    if (code == 0x103)
        return L"Quillmar 3";
    if (code == 0x205)
        return L"Corvane 5";
    if (code <= 0x303)
        return L"Corvane 6";
    if (code <= 0x305)
        throw invalid();
    if (code <= 0x308)
        return fmt::format(L"Plindor {}", code - 0x300);
    if (code <= 0x405)
        throw invalid();
    if (code <= 0x407)
        return fmt::format(L"Stelvik {}", code - 0x400);
    if (code <= 0x503)
        throw invalid();
    if (code <= 0x505)
        return fmt::format(L"Tarrow {}", code - 0x500);
    return L"Brisane";
}

std::wstring version_text(std::uint64_t version)
{
    return fmt::format(L"{}.{}.{}.{}", (version >> 48) & 0xFFFF, (version >> 32) & 0xFFFF,
                       (version >> 16) & 0xFFFF, version & 0xFFFF);
}

std::wstring version_label(std::uint64_t version)
{
    const auto field = [version](int index) { return static_cast<unsigned>(version >> (48 - 16 * index) & 0xFFFF); };
    std::wstring label = fmt::format(L"{}.{:02}", field(0), field(1));
    if (field(2) >= 1 && field(2) <= 26)
        label += static_cast<wchar_t>(L'a' + field(2) - 1);
    return label;
}
