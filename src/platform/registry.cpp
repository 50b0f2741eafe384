#include "platform/registry.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "identity/product.h"

namespace {

constexpr REGSAM maximum_allowed = MAXIMUM_ALLOWED;

[[noreturn]] void throw_registry_error(LSTATUS status, const char* what)
{
    throw std::system_error(static_cast<int>(status), std::system_category(), what);
}

void check(LSTATUS status, const char* what)
{
    if (status != ERROR_SUCCESS)
        throw_registry_error(status, what);
}

struct root_access {
    HKEY key;
    REGSAM access;
};

root_access access_of(registry_root root)
{
    switch (root) {
    case registry_root::classes_root:
        return {HKEY_CLASSES_ROOT, maximum_allowed};
    case registry_root::current_user:
        return {HKEY_CURRENT_USER, maximum_allowed};
    case registry_root::local_machine:
        return {HKEY_LOCAL_MACHINE, maximum_allowed};
    case registry_root::local_machine_32:
        return {HKEY_LOCAL_MACHINE, maximum_allowed | KEY_WOW64_32KEY};
    case registry_root::local_machine_64:
        return {HKEY_LOCAL_MACHINE, maximum_allowed | KEY_WOW64_64KEY};
    }
    throw_registry_error(ERROR_INVALID_PARAMETER, "registry root");
}

reg_key create(HKEY parent, const wchar_t* sub_key, REGSAM access)
{
    HKEY handle = nullptr;
    check(RegCreateKeyExW(parent, sub_key, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                          &handle, nullptr),
          "RegCreateKeyExW");
    return reg_key{handle};
}

reg_key open(HKEY parent, const wchar_t* sub_key, REGSAM access)
{
    HKEY handle = nullptr;
    LSTATUS status = RegOpenKeyExW(parent, sub_key, 0, access, &handle);
    if (status == ERROR_FILE_NOT_FOUND)
        return {};
    check(status, "RegOpenKeyExW");
    return reg_key{handle};
}

void set_value(const reg_key& key, const wchar_t* name, DWORD type, const void* bytes,
               std::size_t size)
{
    check(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(bytes),
                         static_cast<DWORD>(size)),
          "RegSetValueExW");
}

struct value_info {
    bool exists = false;
    DWORD type = REG_NONE;
    DWORD size = 0;
};

value_info query_info(const reg_key& key, const wchar_t* name)
{
    value_info info;
    LSTATUS status = RegQueryValueExW(key.get(), name, nullptr, &info.type, nullptr, &info.size);
    if (status == ERROR_FILE_NOT_FOUND)
        return info;
    check(status, "RegQueryValueExW");
    info.exists = true;
    return info;
}

// Reads exactly `size` bytes; a value that changed size in between is invalid data.
void read_exact(const reg_key& key, const wchar_t* name, void* out, DWORD size)
{
    DWORD read = size;
    check(RegQueryValueExW(key.get(), name, nullptr, nullptr, static_cast<BYTE*>(out), &read),
          "RegQueryValueExW");
    if (read != size)
        throw_registry_error(ERROR_INVALID_DATA, "RegQueryValueExW");
}

}

void reg_key::reset(HKEY handle) noexcept
{
    if (handle_)
        RegCloseKey(handle_);
    handle_ = handle;
}

reg_key create_key(registry_root root, const wchar_t* sub_key)
{
    auto [key, access] = access_of(root);
    return create(key, sub_key, access);
}

reg_key create_key(const reg_key& parent, const wchar_t* sub_key)
{
    return create(parent.get(), sub_key, maximum_allowed);
}

reg_key open_key(registry_root root, const wchar_t* sub_key)
{
    auto [key, access] = access_of(root);
    return open(key, sub_key, access);
}

reg_key open_key(const reg_key& parent, const wchar_t* sub_key)
{
    return open(parent.get(), sub_key, maximum_allowed);
}

reg_key open_key_for_writing(const reg_key& parent, const wchar_t* sub_key)
{
    return open(parent.get(), sub_key, KEY_READ | KEY_WRITE);
}

void set_binary(const reg_key& key, const wchar_t* name, const void* bytes, std::size_t size)
{
    set_value(key, name, REG_BINARY, bytes, size);
}

void set_dword(const reg_key& key, const wchar_t* name, std::uint32_t value)
{
    set_value(key, name, REG_DWORD, &value, sizeof value);
}

void set_string(const reg_key& key, const wchar_t* name, const wchar_t* text, std::size_t length)
{
    set_value(key, name, REG_SZ, text, text ? (length + 1) * sizeof(wchar_t) : 0);
}

registry_number query_number(const reg_key& key, const wchar_t* name)
{
    value_info info = query_info(key, name);
    if (!info.exists)
        return {};
    auto read_number = [&](auto value, registry_number::kind kind) -> registry_number {
        if (info.size != sizeof value)
            throw_registry_error(ERROR_INVALID_DATA, "registry number size");
        read_exact(key, name, &value, sizeof value);
        return {kind, value};
    };
    if (info.type == REG_DWORD)
        return read_number(std::uint32_t{}, registry_number::kind::dword);
    if (info.type == REG_QWORD)
        return read_number(std::uint64_t{}, registry_number::kind::qword);
    return {};
}

bool read_dword(const reg_key& key, const wchar_t* name, std::uint32_t& out)
{
    registry_number number = query_number(key, name);
    switch (number.type) {
    case registry_number::kind::none:
        return false;
    case registry_number::kind::dword:
        out = static_cast<std::uint32_t>(number.value);
        return true;
    case registry_number::kind::qword:
        break;
    }
    auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(number.value));
    if (static_cast<std::int64_t>(number.value) != low)
        throw_registry_error(ERROR_INVALID_DATA, "REG_QWORD out of 32-bit range");
    out = static_cast<std::uint32_t>(low);
    return true;
}

bool read_dword(const reg_key& key, const wchar_t* name, std::int32_t& out)
{
    std::uint32_t value = 0;
    if (!read_dword(key, name, value))
        return false;
    out = static_cast<std::int32_t>(value);
    return true;
}

bool read_binary(const reg_key& key, const wchar_t* name, void* out, std::size_t size)
{
    value_info info = query_info(key, name);
    if (!info.exists || info.type != REG_BINARY || info.size != size)
        return false;
    read_exact(key, name, out, info.size);
    return true;
}

bool read_string(const reg_key& key, const wchar_t* name, std::wstring& out)
{
    value_info info = query_info(key, name);
    if (!info.exists || (info.type != REG_SZ && info.type != REG_EXPAND_SZ))
        return false;
    if (info.size % sizeof(wchar_t) != 0)
        return false;
    if (info.size == 0) {
        out.clear();
        return true;
    }
    std::vector<wchar_t> buffer(info.size / sizeof(wchar_t), L'\0');
    read_exact(key, name, buffer.data(), info.size);
    std::size_t length = buffer.size() - 1;
    if (buffer[length] != L'\0')
        return false;
    out.assign(buffer.data(), length);
    return true;
}

std::wstring product_uninstall_key()
{
    return std::wstring(uninstall_list_key) + L"\\" + product_key_name();
}

std::wstring registered_product_path(unsigned product_code)
{
    try {
        reg_key key = open_key(registry_root::local_machine, maker_key);
        if (!key)
            return {};
        std::wstring value_name = product_key_name(product_code) + L" Path";
        std::wstring path;
        if (!read_string(key, value_name.c_str(), path) || path.empty())
            return {};
        if (!std::filesystem::exists(std::filesystem::path(path)))
            return {};
        return path;
    }
    catch (const std::exception&) {
        return {};
    }
}
