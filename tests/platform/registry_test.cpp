#include "platform/registry.h"

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "identity/product.h"
#include "support/registry_sandbox.h"

namespace {

class registry_test : public ::testing::Test {
protected:
    registry_sandbox sandbox{L"registry"};
    std::wstring sub(const wchar_t* name) const { return sandbox.path() + L"\\" + name; }

    reg_key values_key() { return create_key(registry_root::current_user, sub(L"values").c_str()); }

    void put_raw(const reg_key& key, const wchar_t* name, DWORD type, const void* bytes, DWORD size)
    {
        ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(bytes), size),
                  ERROR_SUCCESS);
    }
};

void expect_system_error(auto&& call, int code)
{
    try {
        call();
        ADD_FAILURE() << "no error raised, expected " << code;
    }
    catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(code, std::system_category()));
    }
}

TEST_F(registry_test, MissingKeysAndValuesAreResults)
{
    reg_key missing = open_key(registry_root::current_user, sub(L"absent\\deeper").c_str());
    EXPECT_FALSE(missing);

    reg_key key = values_key();
    ASSERT_TRUE(key);
    EXPECT_FALSE(open_key(key, L"absent"));
    EXPECT_EQ(query_number(key, L"absent").type, registry_number::kind::none);
    std::uint32_t number = 7;
    EXPECT_FALSE(read_dword(key, L"absent", number));
    EXPECT_EQ(number, 7u);
    std::wstring text = L"unchanged";
    EXPECT_FALSE(read_string(key, L"absent", text));
    EXPECT_EQ(text, L"unchanged");
    char bytes[4];
    EXPECT_FALSE(read_binary(key, L"absent", bytes, sizeof bytes));
}

TEST_F(registry_test, CreateMakesTheWholePathAndOpenFindsIt)
{
    reg_key created = create_key(registry_root::current_user, sub(L"a\\b\\c").c_str());
    ASSERT_TRUE(created);
    reg_key child = create_key(created, L"d\\e");
    ASSERT_TRUE(child);
    set_dword(child, L"n", 5);

    reg_key opened = open_key(registry_root::current_user, sub(L"a\\b").c_str());
    ASSERT_TRUE(opened);
    reg_key below = open_key(opened, L"c\\d\\e");
    ASSERT_TRUE(below);
    std::uint32_t value = 0;
    EXPECT_TRUE(read_dword(below, L"n", value));
    EXPECT_EQ(value, 5u);
}

TEST_F(registry_test, KeysMoveTheirHandle)
{
    reg_key first = values_key();
    HKEY handle = first.get();
    reg_key second = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), handle);
    reg_key third;
    third = std::move(second);
    EXPECT_EQ(third.get(), handle);
    set_dword(third, L"still open", 1);
}

TEST_F(registry_test, SetStringStoresTheTerminator)
{
    reg_key key = values_key();
    set_string(key, L"abc", L"abc", 3);
    set_string(key, L"null", nullptr, 0);
    const struct {
        const wchar_t* name;
        DWORD size;
    } cases[] = {{L"abc", 8}, {L"null", 0}};
    for (const auto& c : cases) {
        DWORD type = 0, size = 99;
        ASSERT_EQ(RegQueryValueExW(key.get(), c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, DWORD{REG_SZ}) << c.name;
        EXPECT_EQ(size, c.size) << c.name;
    }
    std::wstring text;
    EXPECT_TRUE(read_string(key, L"abc", text));
    EXPECT_EQ(text, L"abc");
}

TEST_F(registry_test, ReadStringChecksTypeAndSize)
{
    reg_key key = values_key();
    const wchar_t unterminated[] = {L'a', L'b'};
    const wchar_t terminated[] = L"path";
    const wchar_t expand[] = L"%TEMP%\\x";
    const char odd[] = {'a', 0, 0};
    put_raw(key, L"unterminated", REG_SZ, unterminated, sizeof unterminated);
    put_raw(key, L"empty", REG_SZ, nullptr, 0);
    put_raw(key, L"odd", REG_SZ, odd, sizeof odd);
    put_raw(key, L"sz", REG_SZ, terminated, sizeof terminated);
    put_raw(key, L"expand", REG_EXPAND_SZ, expand, sizeof expand);
    put_raw(key, L"binary", REG_BINARY, terminated, sizeof terminated);
    set_dword(key, L"dword", 1);

    const struct {
        const wchar_t* name;
        bool result;
        const wchar_t* text;
    } cases[] = {
        {L"unterminated", false, L"before"}, {L"empty", true, L""},
        {L"odd", false, L"before"},          {L"sz", true, L"path"},
        {L"expand", true, L"%TEMP%\\x"},     {L"binary", false, L"before"},
        {L"dword", false, L"before"},
    };
    for (const auto& c : cases) {
        std::wstring out = L"before";
        EXPECT_EQ(read_string(key, c.name, out), c.result) << c.name;
        EXPECT_EQ(out, c.text) << c.name;
    }
}

TEST_F(registry_test, NumbersAndTheirSizes)
{
    reg_key key = values_key();
    const std::uint64_t all_ones = ~0ull, two_to_32 = 1ull << 32, small = 42;
    const std::int64_t minimum = INT32_MIN;
    const std::uint32_t dword = 0xFFFFFFFE;
    put_raw(key, L"qword -1", REG_QWORD, &all_ones, 8);
    put_raw(key, L"qword 2^32", REG_QWORD, &two_to_32, 8);
    put_raw(key, L"qword 42", REG_QWORD, &small, 8);
    put_raw(key, L"qword min", REG_QWORD, &minimum, 8);
    put_raw(key, L"dword", REG_DWORD, &dword, 4);
    put_raw(key, L"text", REG_SZ, L"1", 4);

    EXPECT_EQ(query_number(key, L"qword 2^32").type, registry_number::kind::qword);
    EXPECT_EQ(query_number(key, L"qword 2^32").value, two_to_32);
    EXPECT_EQ(query_number(key, L"dword").type, registry_number::kind::dword);
    EXPECT_EQ(query_number(key, L"text").type, registry_number::kind::none);

    const struct {
        const wchar_t* name;
        bool result;
        std::int32_t value;
    } cases[] = {
        {L"qword -1", true, -1},          {L"qword 42", true, 42},
        {L"qword min", true, INT32_MIN},  {L"dword", true, -2},
        {L"text", false, 0},
    };
    for (const auto& c : cases) {
        std::int32_t out = 0;
        EXPECT_EQ(read_dword(key, c.name, out), c.result) << c.name;
        EXPECT_EQ(out, c.value) << c.name;
    }
    std::int32_t out = 0;
    expect_system_error([&] { read_dword(key, L"qword 2^32", out); }, ERROR_INVALID_DATA);
}

TEST_F(registry_test, NumbersOfTheWrongSizeAreInvalidData)
{
    reg_key key = values_key();
    const char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    put_raw(key, L"dword 3", REG_DWORD, bytes, 3);
    put_raw(key, L"dword 8", REG_DWORD, bytes, 8);
    put_raw(key, L"qword 4", REG_QWORD, bytes, 4);
    for (const wchar_t* name : {L"dword 3", L"dword 8", L"qword 4"})
        expect_system_error([&] { query_number(key, name); }, ERROR_INVALID_DATA);
}

TEST_F(registry_test, ReadBinaryNeedsTheExactSize)
{
    reg_key key = values_key();
    const unsigned char twelve[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    set_binary(key, L"twelve", twelve, sizeof twelve);
    put_raw(key, L"string", REG_SZ, L"abcde", 12);

    unsigned char out[12] = {};
    EXPECT_FALSE(read_binary(key, L"twelve", out, 8));
    EXPECT_FALSE(read_binary(key, L"string", out, 12));
    EXPECT_TRUE(read_binary(key, L"twelve", out, 12));
    EXPECT_EQ(std::vector<unsigned char>(out, out + 12), std::vector<unsigned char>(twelve, twelve + 12));
}

TEST_F(registry_test, OpenWithoutAnyAccessRaisesAccessDenied)
{
    reg_key locked = values_key();
    // The handle opened before the lock keeps its rights and unlocks the key afterwards.
    SID_IDENTIFIER_AUTHORITY creator = SECURITY_CREATOR_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID owner_rights = nullptr, everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&creator, 1, SECURITY_CREATOR_OWNER_RIGHTS_RID, 0, 0, 0, 0,
                                         0, 0, 0, &owner_rights));
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                         &everyone));
    alignas(ACL) unsigned char acl_bytes[128];
    auto* acl = reinterpret_cast<ACL*>(acl_bytes);
    SECURITY_DESCRIPTOR descriptor;
    bool built = InitializeAcl(acl, sizeof acl_bytes, ACL_REVISION) &&
                 AddAccessDeniedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, owner_rights) &&
                 AddAccessDeniedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone) &&
                 InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                 SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    FreeSid(owner_rights);
    FreeSid(everyone);
    ASSERT_TRUE(built);
    ASSERT_EQ(RegSetKeySecurity(locked.get(), DACL_SECURITY_INFORMATION, &descriptor), ERROR_SUCCESS);

    bool granted = false;
    try {
        granted = static_cast<bool>(open_key(registry_root::current_user, sub(L"values").c_str()));
    }
    catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::error_code(ERROR_ACCESS_DENIED, std::system_category()));
    }

    SECURITY_DESCRIPTOR open_descriptor;
    InitializeSecurityDescriptor(&open_descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&open_descriptor, TRUE, nullptr, FALSE);
    EXPECT_EQ(RegSetKeySecurity(locked.get(), DACL_SECURITY_INFORMATION, &open_descriptor),
              ERROR_SUCCESS);
    if (granted)
        GTEST_SKIP() << "the registry granted access to a key whose DACL denies everyone everything "
                        "(Wine does not check the DACL of registry keys)";
}

TEST_F(registry_test, RegisteredProductPath)
{
    sandbox.redirect_local_machine();
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    std::wstring program =
        std::wstring(temp) + L"hv-registry-test-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    std::ofstream(program.c_str()) << "x";

    EXPECT_EQ(registered_product_path(259), L"") << "no maker key";
    reg_key maker = create_key(registry_root::local_machine, maker_key);
    EXPECT_EQ(registered_product_path(259), L"") << "no value";
    set_string(maker, L"Quillmar 3 Path", program);
    set_string(maker, L"Corvane 6 Path", L"C:\\missing\\nothing.exe");
    EXPECT_EQ(registered_product_path(259), program);
    EXPECT_EQ(registered_product_path(260), L"") << "registered program missing";
    EXPECT_EQ(registered_product_path(0), L"") << "code without a product";

    DeleteFileW(program.c_str());
    EXPECT_EQ(registered_product_path(259), L"") << "registered program deleted";

    HKEY machine_key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(sandbox.key(), L"Software\\Halden & Voss", 0, KEY_READ, &machine_key),
              ERROR_SUCCESS)
        << "the local machine writes went into the sandbox";
    RegCloseKey(machine_key);
}

}
