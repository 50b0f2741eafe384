#include "engine/uninstall_registration.h"

#include <exception>

#include "identity/product.h"
#include "platform/registry.h"

std::vector<uninstall_value> uninstall_values(const std::wstring& program_path,
                                              const std::wstring& uninstaller_path,
                                              language_index language)
{
    std::wstring web_address{maker_web_address};
    return {
        {L"DisplayName", REG_SZ, product_name(false)},
        {L"UninstallString", REG_SZ, uninstaller_path},
        {L"DisplayIcon", REG_SZ, program_path + L",0"},
        {L"DisplayVersion", REG_SZ, version_text(product_version)},
        {L"Publisher", REG_SZ, std::wstring{maker_name}},
        {L"URLInfoAbout", REG_SZ, web_address},
        {L"HelpLink", REG_SZ, web_address},
        {L"URLUpdateInfo", REG_SZ, web_address},
        {L"HelpTelephone", REG_SZ, std::wstring{maker_support_telephone}},
        {L"NoModify", REG_DWORD, 1u},
        {L"NoRepair", REG_DWORD, 1u},
        {L"HvLanguage", REG_DWORD, static_cast<std::uint32_t>(language)},
    };
}

bool write_uninstall_values(const reg_key& key, const std::vector<uninstall_value>& values)
{
    bool name_written = false;
    bool uninstaller_written = false;
    for (const uninstall_value& value : values) {
        try {
            if (const auto* text = std::get_if<std::wstring>(&value.data))
                set_string(key, value.name.c_str(), *text);
            else
                set_dword(key, value.name.c_str(), std::get<std::uint32_t>(value.data));
        }
        catch (const std::exception&) {
            continue;
        }
        if (value.name == L"DisplayName")
            name_written = true;
        else if (value.name == L"UninstallString")
            uninstaller_written = true;
    }
    return name_written && uninstaller_written;
}
