#include "engine/uninstall_registration.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "identity/product.h"
#include "platform/registry.h"
#include "engine/entry_checks.h"
#include "support/registry_sandbox.h"

namespace {

const std::wstring program = L"D:\\Apps\\Q\\Quillmar.exe";
const std::wstring uninstaller = L"D:\\Apps\\Q\\Uninstall.exe";

}

TEST(uninstall_values, are_the_twelve_values_in_the_order_they_are_written)
{
    std::wstring web{maker_web_address};
    std::vector<uninstall_value> expected{
        {L"DisplayName", REG_SZ, L"Quillmar 3.05c"},
        {L"UninstallString", REG_SZ, L"D:\\Apps\\Q\\Uninstall.exe"},
        {L"DisplayIcon", REG_SZ, L"D:\\Apps\\Q\\Quillmar.exe,0"},
        {L"DisplayVersion", REG_SZ, L"3.5.3.1"},
        {L"Publisher", REG_SZ, L"Halden & Voss"},
        {L"URLInfoAbout", REG_SZ, web},
        {L"HelpLink", REG_SZ, web},
        {L"URLUpdateInfo", REG_SZ, web},
        {L"HelpTelephone", REG_SZ, std::wstring{maker_support_telephone}},
        {L"NoModify", REG_DWORD, 1u},
        {L"NoRepair", REG_DWORD, 1u},
        {L"HvLanguage", REG_DWORD, 2u},
    };

    EXPECT_EQ(uninstall_values(program, uninstaller, 2), expected);
}

TEST(uninstall_values, the_maker_contact_data_is_filled_in)
{
    EXPECT_TRUE(maker_web_address.starts_with(L"https://"));
    EXPECT_FALSE(maker_support_telephone.empty());
}

class write_uninstall_values_test : public ::testing::Test {
protected:
    registry_sandbox sandbox{L"uninstall values"};
    reg_key key = create_key(registry_root::current_user, (sandbox.path() + L"\\entry").c_str());
};

TEST_F(write_uninstall_values_test, writes_every_value_with_its_type)
{
    ASSERT_TRUE(write_uninstall_values(key, uninstall_values(program, uninstaller, 2)));

    EXPECT_EQ(value_count(key), 12u);
    expect_values(key, uninstall_values(program, uninstaller, 2));
}

TEST_F(write_uninstall_values_test, the_name_and_the_uninstaller_decide_the_result)
{
    auto without = [](const wchar_t* name) {
        auto values = uninstall_values(program, uninstaller, 1);
        std::erase_if(values, [name](const uninstall_value& v) { return v.name == name; });
        return values;
    };
    EXPECT_FALSE(write_uninstall_values(key, without(L"DisplayName")));
    EXPECT_FALSE(write_uninstall_values(key, without(L"UninstallString")));
    EXPECT_TRUE(write_uninstall_values(key, without(L"DisplayIcon")));
}

TEST_F(write_uninstall_values_test, writes_that_fail_are_passed_over)
{
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (sandbox.path() + L"\\entry").c_str(), 0, KEY_READ,
                            &handle),
              ERROR_SUCCESS);
    reg_key read_only{handle};

    bool ok = true;
    auto values = uninstall_values(program, uninstaller, 1);
    EXPECT_NO_THROW(ok = write_uninstall_values(read_only, values));
    EXPECT_FALSE(ok);
}
