// The identity of the one product this installer carries, and the key names
// under which the maker's products leave their traces on a machine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::wstring_view maker_name = L"Halden & Voss";

// The maker's contact data, shown in the list of installed programs and in
// the About box.
inline constexpr std::wstring_view maker_web_address = L"https://www.halden-voss.example/";
inline constexpr std::wstring_view maker_support_telephone = L"+44 20 7946 0731";

// Major, minor, build and revision in 16-bit fields, major most significant.
// The build may carry another version of the product (an older one for
// update tests).
#ifdef HV_PRODUCT_VERSION
inline constexpr std::uint64_t product_version = HV_PRODUCT_VERSION;
#else
inline constexpr std::uint64_t product_version = 0x0003'0005'0003'0001;
#endif

inline constexpr unsigned installer_product_code = 259;

// The code of the product being installed; every registry path built from
// the key name depends on it.
inline unsigned product_code = installer_product_code;

// "Quillmar", or "Quillmar 3.05c" with the version text.
std::wstring product_name(bool without_version);

// The name of a product's Uninstall entry, default folder and registered
// path value. Throws std::logic_error for codes that name no product.
std::wstring product_key_name(unsigned code);

inline std::wstring product_key_name() { return product_key_name(product_code); }

// "3.5.3.1" for 0x0003000500030001.
std::wstring version_text(std::uint64_t version);

// The version as users know it: major, two-digit minor and the build as a
// letter, "3.05c" for 3.5.3.x.
std::wstring version_label(std::uint64_t version);
