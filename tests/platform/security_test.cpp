#include "platform/security.h"

#include "platform/kernel_handle.h"
#include "support/link_maker.h"
#include "support/restricted_token.h"
#include "support/test_support.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct entry {
    BYTE type;
    BYTE flags;
    DWORD mask;
    std::wstring sid;

    bool operator==(const entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const entry& e)
{
    return out << "{type " << int(e.type) << ", flags " << int(e.flags) << ", mask " << std::hex << e.mask
               << std::dec << ", " << std::string(e.sid.begin(), e.sid.end()) << "}";
}

constexpr const wchar_t* users = L"S-1-5-32-545";
constexpr const wchar_t* admins = L"S-1-5-32-544";
constexpr const wchar_t* everyone = L"S-1-1-0";
constexpr const wchar_t* system_sid = L"S-1-5-18";
constexpr BYTE inherited = INHERITED_ACE;

std::vector<BYTE> sid_bytes(const wchar_t* text)
{
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text, &sid))
        throw std::runtime_error("bad SID");
    std::vector<BYTE> bytes(static_cast<const BYTE*>(sid), static_cast<const BYTE*>(sid) + GetLengthSid(sid));
    LocalFree(sid);
    return bytes;
}

std::vector<BYTE> make_acl(const std::vector<entry>& entries)
{
    std::vector<BYTE> acl(1024);
    InitializeAcl(reinterpret_cast<ACL*>(acl.data()), static_cast<DWORD>(acl.size()), ACL_REVISION);
    for (const auto& e : entries) {
        auto sid = sid_bytes(e.sid.c_str());
        const BOOL added = e.type == ACCESS_DENIED_ACE_TYPE
                               ? AddAccessDeniedAceEx(reinterpret_cast<ACL*>(acl.data()), ACL_REVISION, e.flags, e.mask, sid.data())
                               : AddAccessAllowedAceEx(reinterpret_cast<ACL*>(acl.data()), ACL_REVISION, e.flags, e.mask, sid.data());
        if (!added)
            throw std::runtime_error("AddAce failed");
    }
    return acl;
}

std::vector<entry> entries_of(const ACL* acl)
{
    std::vector<entry> entries;
    if (!acl)
        return entries;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* ace = nullptr;
        GetAce(const_cast<ACL*>(acl), i, &ace);
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        wchar_t* text = nullptr;
        ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &text);
        entries.push_back({allowed->Header.AceType, allowed->Header.AceFlags, allowed->Mask, text});
        LocalFree(text);
    }
    return entries;
}

void expect_hresult(const std::function<void()>& action, HRESULT expected)
{
    try {
        action();
        ADD_FAILURE() << "no error";
    }
    catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(static_cast<int>(expected), std::system_category()));
    }
}

TEST(HresultFromWin32, PositiveCodesGetTheWin32Facility)
{
    const struct {
        DWORD code;
        DWORD hr;
    } cases[] = {{0, 0}, {5, 0x80070005}, {1300, 0x80070514}, {0x12345, 0x80072345}, {0x80004005, 0x80004005}};
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<DWORD>(hresult_from_win32(c.code)), c.hr) << c.code;
}

TEST(SecurityApi, ResolvesByNameAndReportsMissingFunctions)
{
    security_function<void()> missing("NoSuchSecurityFunction");
    EXPECT_FALSE(missing.available());
    expect_hresult([&] { missing(); }, E_NOTIMPL);
    EXPECT_TRUE(security_api::instance().check_token_membership.available());
    EXPECT_EQ(&security_api::instance(), &security_api::instance());
    EXPECT_EQ(security_module(), GetModuleHandleW(L"advapi32.dll"));
}

TEST(AclGranting, KeepsExplicitEntriesBeforeAndInheritedAfterTheNewOne)
{
    const DWORD mask = 0x13019F;
    const entry granted{ACCESS_ALLOWED_ACE_TYPE, 0, mask, users};
    const entry granted_inheritable{ACCESS_ALLOWED_ACE_TYPE, 3, 0x1F01FF, users};
    const entry a{ACCESS_ALLOWED_ACE_TYPE, 0, 1, system_sid};
    const entry b{ACCESS_ALLOWED_ACE_TYPE, 0, 2, users};
    const entry b_denied{ACCESS_DENIED_ACE_TYPE, 0, 2, users};
    const entry c{ACCESS_ALLOWED_ACE_TYPE, 3, 4, admins};
    const entry d{ACCESS_ALLOWED_ACE_TYPE, inherited, 8, everyone};
    const entry e{ACCESS_ALLOWED_ACE_TYPE, inherited | 3, 16, users};
    const struct {
        const char* what;
        std::vector<entry> old;
        bool null_dacl;
        entry added;
        std::vector<entry> expected;
    } cases[] = {
        {"explicit A B(users) C, inherited D E(users)", {a, b, c, d, e}, false, granted, {a, c, granted, d}},
        {"null DACL", {}, true, granted, {granted}},
        {"empty DACL", {}, false, granted_inheritable, {granted_inheritable}},
        {"only inherited entries", {d, e}, false, granted, {granted, d}},
        {"only explicit entries", {a, c}, false, granted_inheritable, {a, c, granted_inheritable}},
        {"a denied entry for users goes too", {b_denied, a}, false, granted, {a, granted}},
        {"granting again keeps one users entry", {a, granted_inheritable, d}, false, granted, {a, granted, d}},
    };
    const auto users_sid = sid_bytes(users);
    for (const auto& c : cases) {
        const auto old = make_acl(c.old);
        const auto acl = acl_granting(c.null_dacl ? nullptr : reinterpret_cast<const ACL*>(old.data()),
                                      const_cast<BYTE*>(users_sid.data()), c.added.mask, c.added.flags);
        EXPECT_TRUE(IsValidAcl(acl.acl())) << c.what;
        EXPECT_EQ(entries_of(acl.acl()), c.expected) << c.what;
    }
}

TEST(AclGranting, InvalidSidIsAnInvalidArgument)
{
    std::vector<BYTE> not_a_sid(16, 0xFF);
    expect_hresult([&] { acl_granting(nullptr, not_a_sid.data(), 1, 0); }, E_INVALIDARG);
}

TEST(IsAdministrator, BothMethodsGiveTheSameAnswer)
{
    const bool member = is_administrator_by_membership();
    const bool by_access_check = is_administrator_by_access_check();
    EXPECT_EQ(member, by_access_check);
    EXPECT_EQ(is_administrator(), member);
    if (test_support::running_under_wine()) {
        EXPECT_TRUE(member) << "the Wine user is an administrator";
    }
}

TEST(IsAdministrator, TheAccessCheckAnswersNoForATokenWithoutTheGroup)
{
    bool member = true, by_access_check = true;
    {
        test_support::without_administrators user;
        ASSERT_TRUE(user.active()) << GetLastError();
        member = is_administrator_by_membership();
        by_access_check = is_administrator_by_access_check();
    }
    EXPECT_FALSE(member);
    EXPECT_FALSE(by_access_check);
    EXPECT_EQ(is_administrator_by_access_check(), is_administrator_by_membership())
        << "the process's own rights count again once the thread stops acting for the user";
}

TEST(DaclInformation, AProtectedListStaysProtected)
{
    const struct {
        SECURITY_DESCRIPTOR_CONTROL old_control;
        SECURITY_INFORMATION information;
    } cases[] = {
        {0, DACL_SECURITY_INFORMATION},
        {SE_DACL_PRESENT | SE_SELF_RELATIVE, DACL_SECURITY_INFORMATION},
        {SE_DACL_AUTO_INHERITED, DACL_SECURITY_INFORMATION},
        {SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION},
        {SE_DACL_PROTECTED, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION},
        {SE_SACL_PROTECTED, DACL_SECURITY_INFORMATION},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dacl_information_for(c.old_control), c.information) << std::hex << c.old_control;
}

TEST(AccessLists, EntriesAsTheSystemReadsThem)
{
    constexpr BYTE below = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    const struct {
        const char* what;
        access_list list;
        std::vector<entry> entries;
        bool is_protected;
    } cases[] = {
        {"Program Files", program_files_access(),
         {{ACCESS_ALLOWED_ACE_TYPE, below, FILE_ALL_ACCESS, admins},
          {ACCESS_ALLOWED_ACE_TYPE, below, FILE_ALL_ACCESS, system_sid},
          {ACCESS_ALLOWED_ACE_TYPE, below, 0x1200A9, users}},
         true},
        {"shared data", shared_data_access(), {{ACCESS_ALLOWED_ACE_TYPE, below, FILE_ALL_ACCESS, users}}, false},
        {"shared object", shared_object_access(MUTEX_ALL_ACCESS, SYNCHRONIZE),
         {{ACCESS_ALLOWED_ACE_TYPE, 0, MUTEX_ALL_ACCESS, admins},
          {ACCESS_ALLOWED_ACE_TYPE, 0, MUTEX_ALL_ACCESS, system_sid},
          {ACCESS_ALLOWED_ACE_TYPE, 0, SYNCHRONIZE, everyone}},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const security_block acl = acl_of(c.list);
        EXPECT_TRUE(IsValidAcl(acl.acl()));
        EXPECT_EQ(entries_of(acl.acl()), c.entries);
        access_security_attributes attributes(c.list);
        ASSERT_TRUE(IsValidSecurityDescriptor(attributes.get()->lpSecurityDescriptor));
        EXPECT_FALSE(attributes.get()->bInheritHandle);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(attributes.get()->lpSecurityDescriptor, &control, &revision);
        EXPECT_EQ((control & SE_DACL_PROTECTED) != 0, c.is_protected);
    }
}

// The attributes of a privilege in the process token (0 when it lacks it).
DWORD privilege_attributes(const wchar_t* name, bool* held = nullptr)
{
    kernel_handle token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put());
    LUID luid{};
    LookupPrivilegeValueW(nullptr, name, &luid);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size);
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const auto& p = privileges->Privileges[i];
        if (p.Luid.LowPart == luid.LowPart && p.Luid.HighPart == luid.HighPart) {
            if (held)
                *held = true;
            return p.Attributes;
        }
    }
    if (held)
        *held = false;
    return 0;
}

TEST(EnablePrivilege, EnablesAndDisables)
{
    for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
        EXPECT_TRUE(enable_privilege(name, true));
        EXPECT_TRUE(privilege_attributes(name) & SE_PRIVILEGE_ENABLED);
        EXPECT_TRUE(enable_privilege(name, true)) << "enabling an enabled privilege";
        EXPECT_TRUE(enable_privilege(name, false));
        EXPECT_FALSE(privilege_attributes(name) & SE_PRIVILEGE_ENABLED);
        EXPECT_TRUE(enable_privilege(name, false)) << "disabling a disabled privilege";
    }
    EXPECT_FALSE(enable_privilege(L"SeNoSuchPrivilege", true));
}

TEST(EnablePrivilege, PrivilegeTheTokenLacksIsAFailure)
{
    for (const wchar_t* name : {SE_CREATE_TOKEN_NAME, SE_TCB_NAME, SE_RELABEL_NAME, SE_TRUSTED_CREDMAN_ACCESS_NAME}) {
        bool held = true;
        privilege_attributes(name, &held);
        if (!held) {
            EXPECT_FALSE(enable_privilege(name, true)) << "ERROR_NOT_ALL_ASSIGNED must be a failure";
            return;
        }
    }
    GTEST_SKIP() << "the process token holds every privilege tried (Wine's administrator token does), so "
                    "ERROR_NOT_ALL_ASSIGNED cannot be provoked here";
}

class FileSecurity : public testing::Test {
protected:
    fs::path folder = fs::temp_directory_path() / (L"hv-security-test-" + std::to_wstring(GetCurrentProcessId()));

    void SetUp() override
    {
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    struct descriptor_facts {
        std::vector<entry> entries;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        bool operator==(const descriptor_facts&) const = default;
    };

    static descriptor_facts facts_of(const fs::path& path)
    {
        DWORD size = 0;
        GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
        std::vector<BYTE> descriptor(size);
        if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size, &size))
            return {};
        BOOL present = FALSE, defaulted = FALSE;
        ACL* dacl = nullptr;
        GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted);
        descriptor_facts facts{entries_of(present ? dacl : nullptr), 0};
        DWORD revision = 0;
        GetSecurityDescriptorControl(descriptor.data(), &facts.control, &revision);
        return facts;
    }

    static std::vector<entry> dacl_of(const fs::path& path) { return facts_of(path).entries; }

    static std::vector<entry> users_entries(const std::vector<entry>& dacl)
    {
        std::vector<entry> found;
        for (const auto& e : dacl)
            if (e.sid == users)
                found.push_back(e);
        return found;
    }
};

TEST_F(FileSecurity, GrantingUsersAccessRoundTrip)
{
    const auto file = folder / L"data.ini";
    CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));

    EXPECT_TRUE(grant_users_access(folder.native(), 0x1F01FF, 3));
    const auto after_first = dacl_of(folder);
    if (test_support::running_under_wine() && users_entries(after_first).empty()) {
        EXPECT_TRUE(grant_users_access(folder.native(), 0x13019F, 0));
        EXPECT_TRUE(grant_users_access(file.native(), 0x13019F, 0));
        std::ostringstream kept;
        for (const auto& e : after_first)
            kept << ' ' << e;
        GTEST_SKIP() << "Wine accepts the DACL but keeps no ACL on files: it maps the DACL onto Unix mode "
                        "bits and reads back a DACL made from them (here" << kept.str()
                     << "), so the Users entry cannot be read back; the ACL computation is checked by AclGranting";
    }
    EXPECT_EQ(users_entries(after_first), (std::vector<entry>{{ACCESS_ALLOWED_ACE_TYPE, 3, 0x1F01FF, users}}));

    EXPECT_TRUE(grant_users_access(folder.native(), 0x13019F, 0));
    EXPECT_EQ(users_entries(dacl_of(folder)), (std::vector<entry>{{ACCESS_ALLOWED_ACE_TYPE, 0, 0x13019F, users}}))
        << "a second grant replaces the first";

    EXPECT_TRUE(grant_users_access(file.native(), 0x13019F, 0));
    EXPECT_EQ(users_entries(dacl_of(file)), (std::vector<entry>{{ACCESS_ALLOWED_ACE_TYPE, 0, 0x13019F, users}}));
}

// A folder made with its access list has it from the start: nothing
// inherited when the list is protected, the parent's entries after its own
// otherwise.
TEST_F(FileSecurity, AFolderIsCreatedWithItsAccessList)
{
    const fs::path protected_folder = folder / L"installation";
    create_folder_with_access(protected_folder.native(), program_files_access());
    const fs::path shared_folder = folder / L"shared";
    create_folder_with_access(shared_folder.native(), shared_data_access());
    expect_hresult([&] { create_folder_with_access(shared_folder.native(), shared_data_access()); },
                   hresult_from_win32(ERROR_ALREADY_EXISTS));

    const descriptor_facts installed = facts_of(protected_folder);
    const descriptor_facts shared = facts_of(shared_folder);
    if (test_support::running_under_wine() && users_entries(installed.entries).empty()) {
        std::ostringstream kept;
        for (const auto& e : installed.entries)
            kept << ' ' << e;
        GTEST_SKIP() << "Wine keeps no ACL on folders: it maps the DACL onto Unix mode bits and reads back a "
                        "DACL made from them (here" << kept.str()
                     << "); the lists themselves are checked by AccessLists";
    }
    constexpr BYTE below = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    EXPECT_EQ(installed.entries, (std::vector<entry>{{ACCESS_ALLOWED_ACE_TYPE, below, FILE_ALL_ACCESS, admins},
                                                     {ACCESS_ALLOWED_ACE_TYPE, below, FILE_ALL_ACCESS, system_sid},
                                                     {ACCESS_ALLOWED_ACE_TYPE, below, 0x1200A9, users}}));
    EXPECT_TRUE(installed.control & SE_DACL_PROTECTED);
    ASSERT_FALSE(shared.entries.empty());
    EXPECT_EQ(shared.entries.front(), (entry{ACCESS_ALLOWED_ACE_TYPE, below, FILE_ALL_ACCESS, users}));
    EXPECT_FALSE(shared.control & SE_DACL_PROTECTED);
}

// A link standing where a data file or folder is (made by a user who may
// write the folder above) must not have the access of what it points to
// widened. Run through tests/e2e/with_link_maker.sh (platform.security.links).
TEST_F(FileSecurity, AccessIsNeverGrantedThroughALink)
{
    if (const std::string why = test_support::link_maker_unavailable(); !why.empty())
        GTEST_SKIP() << "no link helper (" << why << "): Wine makes no Windows links";
    const fs::path system_folder = folder / L"system";
    fs::create_directories(system_folder);
    const fs::path system_file = system_folder / L"system.ini";
    CloseHandle(CreateFileW(system_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    const descriptor_facts folder_before = facts_of(system_folder);
    const descriptor_facts file_before = facts_of(system_file);
    const fs::path linked_folder = folder / L"Quillmar";
    const fs::path linked_file = folder / L"Styles.ini";
    const fs::path same_name = folder / L"system.ini";
    ASSERT_EQ(test_support::request_link(linked_folder, system_folder), "made\n");
    ASSERT_EQ(test_support::request_link(linked_file, system_file), "made\n");
    ASSERT_EQ(test_support::request_link(same_name, system_file), "made\n");

    for (const fs::path& link : {linked_folder, linked_file, same_name}) {
        SCOPED_TRACE(link.string());
        expect_hresult([&] { grant_users_access(link.native(), FILE_ALL_ACCESS, 3); },
                       hresult_from_win32(ERROR_CANT_ACCESS_FILE));
        EXPECT_EQ(test_support::request_link(link, {}), "removed\n");
    }
    EXPECT_EQ(facts_of(system_folder), folder_before);
    EXPECT_EQ(facts_of(system_file), file_before);
}

TEST_F(FileSecurity, MissingFileRaisesItsError)
{
    expect_hresult([&] { grant_users_access((folder / L"missing").native(), 1, 0); },
                   hresult_from_win32(ERROR_FILE_NOT_FOUND));
}

}
