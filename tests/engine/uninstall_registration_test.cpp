#include "engine/uninstall_registration.h"

#include <windows.h>
#include <sddl.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "identity/product.h"
#include "engine/entry_checks.h"
#include "platform/registry.h"
#include "records/backup.h"
#include "records/uninstall_log.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

const std::wstring program = L"D:\\Apps\\Q\\Quillmar.exe";
const std::wstring uninstaller = L"D:\\Apps\\Q\\Uninstall.exe";
const std::wstring entry_path = std::wstring(uninstall_list_key) + L"\\Quillmar 3";

class uninstall_registration_test : public ::testing::Test {
protected:
    registry_sandbox sandbox{L"uninstall registration"};
    uninstall_log log;

    void SetUp() override { sandbox.redirect_local_machine(); }

    void TearDown() override
    {
        for (const log_record& record : log.current)
            if (!record.backup.empty())
                DeleteFileW(record.backup.c_str());
    }
};

}

TEST_F(uninstall_registration_test, a_first_registration_creates_the_twelve_values)
{
    create_key(registry_root::local_machine, uninstall_list_key);

    EXPECT_TRUE(register_uninstall_entry(log, program, uninstaller, 2));

    reg_key entry = open_key(registry_root::local_machine, entry_path.c_str());
    ASSERT_TRUE(entry);
    EXPECT_EQ(value_count(entry), 12u);
    expect_values(entry, uninstall_values(program, uninstaller, 2));
    std::uint32_t language = 0;
    ASSERT_TRUE(read_dword(entry, L"HvLanguage", language));
    EXPECT_EQ(language, 2u);
    EXPECT_EQ(string_value(entry, L"DisplayIcon"), L"D:\\Apps\\Q\\Quillmar.exe,0");

    ASSERT_EQ(log.current.size(), 1u);
    EXPECT_EQ(log.current[0],
              (log_record{record_kind::uninstall_key, L"", L"", true, -1}));
    EXPECT_FALSE(log.pending);
}

TEST_F(uninstall_registration_test, the_language_is_the_current_one_by_default)
{
    create_key(registry_root::local_machine, uninstall_list_key);
    language_index& current = locale_state::instance().current;
    language_index saved = current;
    current = 11;

    EXPECT_TRUE(register_uninstall_entry(log, program, uninstaller));
    current = saved;

    std::uint32_t language = 0;
    EXPECT_TRUE(read_dword(open_key(registry_root::local_machine, entry_path.c_str()),
                           L"HvLanguage", language));
    EXPECT_EQ(language, 11u);
}

TEST_F(uninstall_registration_test, registering_again_saves_the_entry_first_and_keeps_foreign_values)
{
    {
        reg_key entry = create_key(registry_root::local_machine, entry_path.c_str());
        set_string(entry, L"DisplayName", L"Quillmar 3.05b");
        set_dword(entry, L"NoModify", 0);
        set_string(entry, L"Comments", L"kept");
    }

    EXPECT_TRUE(register_uninstall_entry(log, program, uninstaller, 1));

    reg_key entry = open_key(registry_root::local_machine, entry_path.c_str());
    ASSERT_TRUE(entry);
    EXPECT_EQ(value_count(entry), 13u);
    EXPECT_EQ(string_value(entry, L"DisplayName"), L"Quillmar 3.05c");
    EXPECT_EQ(string_value(entry, L"Comments"), L"kept");
    std::uint32_t no_modify = 0;
    EXPECT_TRUE(read_dword(entry, L"NoModify", no_modify));
    EXPECT_EQ(no_modify, 1u);

    ASSERT_EQ(log.current.size(), 1u);
    const log_record& record = log.current[0];
    EXPECT_EQ(record.kind, record_kind::uninstall_key);
    EXPECT_TRUE(record.done);
    ASSERT_FALSE(record.backup.empty()) << "the entry was not saved";
    ASSERT_TRUE(std::filesystem::is_regular_file(record.backup));
    EXPECT_GT(std::filesystem::file_size(record.backup), 0u);

    // The hive file holds the entry as it was before.
    if (test_support::running_under_wine())
        GTEST_SKIP() << "RegLoadAppKeyW is a stub under Wine (success with a dummy handle): "
                        "the saved hive's contents cannot be read back here";
    HKEY saved = nullptr;
    ASSERT_EQ(RegLoadAppKeyW(record.backup.c_str(), &saved, KEY_READ, 0, 0), ERROR_SUCCESS);
    reg_key saved_key{saved};
    EXPECT_EQ(string_value(saved_key, L"DisplayName"), L"Quillmar 3.05b");
    EXPECT_EQ(string_value(saved_key, L"Comments"), L"kept");
}

TEST_F(uninstall_registration_test, a_missing_uninstall_key_records_and_writes_nothing)
{
    EXPECT_FALSE(register_uninstall_entry(log, program, uninstaller, 1));

    EXPECT_TRUE(log.current.empty());
    EXPECT_FALSE(log.pending);
    EXPECT_FALSE(open_key(registry_root::local_machine, uninstall_list_key));
}

namespace {

// Sets a key's access list from its text form; false when the system refuses.
bool set_key_access(const std::wstring& path, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key);
    if (status == ERROR_SUCCESS) {
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    return status == ERROR_SUCCESS;
}

}

TEST_F(uninstall_registration_test, an_entry_that_cannot_be_changed_fails_before_anything_is_recorded)
{
    reg_key entry = create_key(registry_root::local_machine, entry_path.c_str());
    set_string(entry, L"DisplayName", L"Quillmar 3.05b");
    entry.reset();
    ASSERT_TRUE(set_key_access(entry_path, L"D:P(A;;KR;;;WD)(A;;RCWD;;;BA)"));

    HKEY probe = nullptr;
    const LSTATUS writable = RegOpenKeyExW(HKEY_LOCAL_MACHINE, entry_path.c_str(), 0, KEY_WRITE, &probe);
    if (probe)
        RegCloseKey(probe);
    const bool enforced = writable == ERROR_ACCESS_DENIED;

    bool registered = true;
    if (enforced)
        registered = register_uninstall_entry(log, program, uninstaller, 2);
    EXPECT_TRUE(set_key_access(entry_path, L"D:(A;;KA;;;WD)")) << "the test key keeps its read-only access";
    if (!enforced)
        GTEST_SKIP() << "the registry here lets a read-only key be opened for writing (" << writable
                     << "), so a key this account may not change cannot be made";

    EXPECT_FALSE(registered);
    EXPECT_TRUE(log.current.empty()) << "a record of a key that was never touched";
    EXPECT_FALSE(log.pending);
    EXPECT_EQ(string_value(open_key(registry_root::local_machine, entry_path.c_str()), L"DisplayName"),
              L"Quillmar 3.05b");
}
