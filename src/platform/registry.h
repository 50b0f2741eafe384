// The installer's registry access: a closed set of roots, an owning key
// handle and typed reads with strict type and size checks. A missing key or
// value is a result; every other failure throws std::system_error.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

enum class registry_root {
    classes_root = 0,
    current_user = 1,
    local_machine = 2,
    local_machine_32 = 3,
    local_machine_64 = 4,
};

// Owns one open registry key, or none (the result of opening a missing key).
class reg_key {
public:
    reg_key() noexcept = default;
    explicit reg_key(HKEY handle) noexcept : handle_(handle) {}
    reg_key(reg_key&& other) noexcept : handle_(other.release()) {}
    reg_key& operator=(reg_key&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    reg_key(const reg_key&) = delete;
    reg_key& operator=(const reg_key&) = delete;
    ~reg_key() { reset(); }

    HKEY get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != nullptr; }
    [[nodiscard]] HKEY release() noexcept
    {
        HKEY handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void reset(HKEY handle = nullptr) noexcept;

private:
    HKEY handle_ = nullptr;
};

// "Software\Halden & Voss": per-user installer settings under HKCU, the
// registered program paths of the maker's products under HKLM.
inline constexpr const wchar_t* maker_key = L"Software\\Halden & Voss";

// The list of installed programs under HKEY_LOCAL_MACHINE, and the product's
// entry in it.
inline constexpr const wchar_t* uninstall_list_key =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
std::wstring product_uninstall_key();

struct registry_number {
    enum class kind { none, dword, qword };
    kind type = kind::none;
    std::uint64_t value = 0;
};

reg_key create_key(registry_root root, const wchar_t* sub_key);
reg_key create_key(const reg_key& parent, const wchar_t* sub_key);
reg_key open_key(registry_root root, const wchar_t* sub_key);
reg_key open_key(const reg_key& parent, const wchar_t* sub_key);
// Opens for reading and writing: a key the caller may not change raises
// (ERROR_ACCESS_DENIED) rather than opening read-only.
reg_key open_key_for_writing(const reg_key& parent, const wchar_t* sub_key);

void set_binary(const reg_key& key, const wchar_t* name, const void* bytes, std::size_t size);
void set_dword(const reg_key& key, const wchar_t* name, std::uint32_t value);
// Stores the terminating null too; a null text stores no bytes at all.
void set_string(const reg_key& key, const wchar_t* name, const wchar_t* text, std::size_t length);
inline void set_string(const reg_key& key, const wchar_t* name, const std::wstring& text)
{
    set_string(key, name, text.c_str(), text.size());
}

registry_number query_number(const reg_key& key, const wchar_t* name);
bool read_dword(const reg_key& key, const wchar_t* name, std::uint32_t& out);
bool read_dword(const reg_key& key, const wchar_t* name, std::int32_t& out);
bool read_binary(const reg_key& key, const wchar_t* name, void* out, std::size_t size);
bool read_string(const reg_key& key, const wchar_t* name, std::wstring& out);

// The registered path of a product's main program when that path still
// exists, else empty; never throws.
std::wstring registered_product_path(unsigned product_code);
