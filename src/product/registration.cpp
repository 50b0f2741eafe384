#include "product/registration.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <system_error>

#include "identity/product.h"
#include "platform/registry.h"

namespace {

const std::wstring classes_key = L"Software\\Classes\\";

[[noreturn]] void fail(LSTATUS status, const char* what)
{
    throw std::system_error(static_cast<int>(status), std::system_category(), what);
}

struct stored_value {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

std::optional<stored_value> query_value(HKEY key, const std::wstring& name)
{
    stored_value value;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    if (status != ERROR_SUCCESS)
        fail(status, "RegQueryValueExW");
    value.bytes.resize(size);
    status = RegQueryValueExW(key, name.c_str(), nullptr, &value.type, value.bytes.data(), &size);
    if (status != ERROR_SUCCESS)
        fail(status, "RegQueryValueExW");
    value.bytes.resize(size);
    return value;
}

stored_value string_value(const std::wstring& text)
{
    const auto* begin = reinterpret_cast<const BYTE*>(text.c_str());
    return {REG_SZ, std::vector<BYTE>(begin, begin + (text.size() + 1) * sizeof(wchar_t))};
}

// The key, or no key when it is missing or cannot be opened so.
reg_key open_machine_key(const std::wstring& path, REGSAM access)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &handle) != ERROR_SUCCESS)
        return {};
    return reg_key(handle);
}

// What one registration run changed, so that a failure part-way can put the
// machine back as it was.
class registry_changes {
public:
    registry_changes() = default;
    registry_changes(const registry_changes&) = delete;
    registry_changes& operator=(const registry_changes&) = delete;
    ~registry_changes()
    {
        if (!committed_)
            undo();
    }

    // Opens the key for writing, creating each missing level and noting it.
    reg_key open_for_writing(const std::wstring& path)
    {
        reg_key key;
        std::size_t end = 0;
        do {
            end = path.find(L'\\', end + 1);
            const std::wstring level = path.substr(0, end);
            HKEY handle = nullptr;
            DWORD disposition = 0;
            const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, level.c_str(), 0, nullptr,
                                                   REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                                   nullptr, &handle, &disposition);
            if (status != ERROR_SUCCESS)
                fail(status, "RegCreateKeyExW");
            key.reset(handle);
            if (disposition == REG_CREATED_NEW_KEY)
                created_keys_.push_back(level);
        } while (end != std::wstring::npos);
        return key;
    }

    void set_string(const std::wstring& key_path, const std::wstring& name, const std::wstring& data)
    {
        set_value(key_path, name, string_value(data));
    }

    void set_value(const std::wstring& key_path, const std::wstring& name, const stored_value& wanted)
    {
        reg_key key = open_for_writing(key_path);
        const auto old = query_value(key.get(), name);
        if (old && old->type == wanted.type && old->bytes == wanted.bytes)
            return;
        old_values_.push_back({key_path, name, old});
        const LSTATUS status = RegSetValueExW(key.get(), name.c_str(), 0, wanted.type, wanted.bytes.data(),
                                              static_cast<DWORD>(wanted.bytes.size()));
        if (status != ERROR_SUCCESS)
            fail(status, "RegSetValueExW");
    }

    void commit() { committed_ = true; }

private:
    struct old_value {
        std::wstring key;
        std::wstring name;
        std::optional<stored_value> value;
    };

    void undo() noexcept
    {
        for (auto it = old_values_.rbegin(); it != old_values_.rend(); ++it) {
            const reg_key key = open_machine_key(it->key, KEY_SET_VALUE);
            if (!key)
                continue;
            if (it->value)
                RegSetValueExW(key.get(), it->name.c_str(), 0, it->value->type, it->value->bytes.data(),
                               static_cast<DWORD>(it->value->bytes.size()));
            else
                RegDeleteValueW(key.get(), it->name.c_str());
        }
        for (auto it = created_keys_.rbegin(); it != created_keys_.rend(); ++it)
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, it->c_str());
    }

    std::vector<std::wstring> created_keys_;
    std::vector<old_value> old_values_;
    bool committed_ = false;
};

bool key_is_empty(HKEY key)
{
    DWORD sub_keys = 0;
    DWORD values = 0;
    return key &&
           RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &sub_keys, nullptr, nullptr, &values, nullptr,
                            nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           sub_keys == 0 && values == 0;
}

// Deletes the key and then each parent left empty, up to (not including) `stop`.
void delete_empty_keys(std::wstring path, const std::wstring& stop)
{
    while (path.size() > stop.size() && path.starts_with(stop)) {
        const bool empty = key_is_empty(open_machine_key(path, KEY_READ).get());
        if (!empty || RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()) != ERROR_SUCCESS)
            return;
        path.erase(std::min(path.rfind(L'\\'), path.size()));
    }
}

}

std::vector<registry_entry> registration_entries(const std::wstring& program_path)
{
    const std::wstring prog_id_key = classes_key + document_prog_id;
    return {
        {maker_key, product_key_name() + L" Path", program_path},
        {classes_key + document_extension, L"", document_prog_id},
        {prog_id_key, L"", product_name(true) + L" Document"},
        {prog_id_key + L"\\DefaultIcon", L"", L"\"" + program_path + L"\",0"},
        {prog_id_key + L"\\shell\\open\\command", L"", L"\"" + program_path + L"\" \"%1\""},
    };
}

std::wstring replaced_document_type_value()
{
    return product_key_name() + L" Replaced Document Type";
}

std::vector<registry_entry> registration_places(const std::wstring& program_path)
{
    std::vector<registry_entry> places{{maker_key, replaced_document_type_value(), {}}};
    for (registry_entry entry : registration_entries(program_path)) {
        entry.data.clear();
        places.push_back(std::move(entry));
    }
    places.push_back({classes_key + document_extension + L"\\OpenWithProgids", document_prog_id, {}});
    return places;
}

std::vector<std::wstring> registration_key_roots()
{
    return {maker_key, classes_key + document_extension, classes_key + document_prog_id};
}

namespace {

std::optional<std::wstring> string_data(const std::optional<stored_value>& value)
{
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ) || value->bytes.size() < sizeof(wchar_t))
        return std::nullopt;
    std::wstring text(reinterpret_cast<const wchar_t*>(value->bytes.data()), value->bytes.size() / sizeof(wchar_t));
    text.resize(std::min(text.find(L'\0'), text.size()));
    return text;
}

std::optional<std::wstring> read_machine_string(const std::wstring& key_path, const std::wstring& name)
{
    const reg_key key = open_machine_key(key_path, KEY_QUERY_VALUE);
    return key ? string_data(query_value(key.get(), name)) : std::nullopt;
}

}

void register_product(const std::wstring& program_path)
{
    registry_changes changes;
    // The program that opened the documents before is remembered, once, so
    // that the uninstallation can give them back to it.
    const std::wstring extension_key = classes_key + document_extension;
    const auto current = read_machine_string(extension_key, L"");
    if (current && !current->empty() && *current != document_prog_id)
        changes.set_string(maker_key, replaced_document_type_value(), *current);
    for (const registry_entry& entry : registration_entries(program_path))
        changes.set_string(entry.key, entry.name, entry.data);
    // "Open with" keeps offering the product while another program is the default.
    changes.set_value(extension_key + L"\\OpenWithProgids", document_prog_id, stored_value{REG_NONE, {}});
    changes.commit();
}

int unregister_product(const std::wstring& program_path)
{
    const auto entries = registration_entries(program_path);
    const std::wstring extension_key = classes_key + document_extension;
    int removed = 0;
    // The document type goes back to the program it was taken from, unless
    // another program has taken it since.
    const auto replaced = read_machine_string(maker_key, replaced_document_type_value());
    if (replaced && read_machine_string(extension_key, L"") == std::wstring(document_prog_id)) {
        const reg_key key = open_machine_key(extension_key, KEY_SET_VALUE);
        const stored_value old = string_value(*replaced);
        if (key && RegSetValueExW(key.get(), L"", 0, old.type, old.bytes.data(), static_cast<DWORD>(old.bytes.size())) ==
                       ERROR_SUCCESS)
            ++removed;
    }
    if (const reg_key maker = open_machine_key(maker_key, KEY_SET_VALUE))
        RegDeleteValueW(maker.get(), replaced_document_type_value().c_str());
    if (const reg_key open_with = open_machine_key(extension_key + L"\\OpenWithProgids", KEY_SET_VALUE))
        if (RegDeleteValueW(open_with.get(), document_prog_id) == ERROR_SUCCESS)
            ++removed;
    delete_empty_keys(extension_key + L"\\OpenWithProgids", extension_key);

    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const reg_key key = open_machine_key(it->key, KEY_QUERY_VALUE | KEY_SET_VALUE);
        if (!key)
            continue;
        const auto value = query_value(key.get(), it->name);
        const stored_value written = string_value(it->data);
        if (value && value->type == written.type && value->bytes == written.bytes &&
            RegDeleteValueW(key.get(), it->name.c_str()) == ERROR_SUCCESS)
            ++removed;
    }
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        delete_empty_keys(it->key, it->key.starts_with(classes_key) ? L"Software\\Classes" : L"Software");
    return removed;
}
