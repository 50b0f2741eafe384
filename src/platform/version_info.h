// Version resources: the installer's own and those of installed files, and
// the display name built from them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class version_info {
public:
    // The own executable's version resource, shared and not copied.
    version_info();
    // A file's version resource; a file without one gives size 0.
    explicit version_info(const std::wstring& path);

    version_info(version_info&&) noexcept = default;
    version_info& operator=(version_info&&) noexcept = default;

    std::uint32_t size() const noexcept { return size_; }
    const VS_FIXEDFILEINFO* fixed() const noexcept { return fixed_; }
    // One "llllcccc" key per translation of code page 1200, in resource order.
    const std::vector<std::wstring>& translations() const noexcept { return translations_; }

    // (dwFileVersionMS << 32) | dwFileVersionLS, or 0.
    std::uint64_t file_version() const noexcept;
    // dwFileFlags & dwFileFlagsMask, or 0.
    std::uint32_t file_flags() const noexcept;

    // The value in the first Unicode translation; empty when missing.
    std::wstring string_value(const wchar_t* name) const;
    std::wstring product_name() const { return string_value(L"ProductName"); }
    std::wstring product_version() const { return string_value(L"ProductVersion"); }
    std::wstring legal_copyright() const { return string_value(L"LegalCopyright"); }

    // ProductName with the family's language- and build-dependent name, for
    // the current language or for `language` (a language_index).
    std::wstring localized_product_name() const;
    std::wstring localized_product_name(unsigned language) const;

    // Product name, version and the pre-release/private/debug marks, for the
    // current language or for a language_index and its LCID.
    std::wstring display_name() const;
    std::wstring display_name(unsigned language, LCID lcid) const;

private:
    void read_block();

    std::vector<std::byte> data_;
    const void* block_ = nullptr;
    std::uint32_t size_ = 0;
    const VS_FIXEDFILEINFO* fixed_ = nullptr;
    std::vector<std::wstring> translations_;
};

// Exact, case-sensitive comparison of a SpecialBuild value with a build name.
bool is_special_build(const std::wstring& special_build, const wchar_t* build);

// The product-name rule of the product families: code 256-511 may read
// "Pellary" for "Quillmar", code 512-767 "Merrin" or "Tallow" for "Corvane".
std::wstring localized_product_name(std::wstring name, unsigned code, unsigned language,
                                    bool merrin_build, bool pellary_build);

// name + " " + version (when there is one), "bêta" read as "beta" outside
// French for a pre-release, then the private and debug marks.
std::wstring display_name(std::wstring name, const std::wstring& version,
                          std::uint32_t flags, LCID lcid);

// The common-controls version as (major << 16) | minor; 0 when unknown.
std::uint32_t comctl32_version();

// The version, as (major << 16) | minor, in an encoded assembly identity
// such as Name,type="win32",version="6.0.2600.0"; 0 without one.
std::uint32_t assembly_identity_version(std::wstring_view identity);

// The version of the common-controls assembly to which the active activation
// context redirects comctl32.dll; 0 when it is not redirected.
std::uint32_t common_controls_assembly_version();

// Whether common controls 6 are in use: the library says so, or the manifest
// made the loader take comctl32.dll from the common-controls 6 assembly
// (some implementations of that assembly report an older DllGetVersion).
bool common_controls_6_active(std::uint32_t library_version, std::uint32_t assembly_version);
bool common_controls_6_active();
