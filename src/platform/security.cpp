#include "platform/security.h"

#include <filesystem>
#include <optional>

#include "platform/kernel_handle.h"
#include "platform/path_rules.h"

#include <new>

namespace {

// The rights of the administrator access check.
constexpr DWORD access_read = 1;
constexpr DWORD access_write = 2;

security_api& api()
{
    return security_api::instance();
}

void check(BOOL succeeded)
{
    if (!succeeded)
        throw_last_error();
}

// Undoes ImpersonateSelf when the access check ends, however it ends.
class impersonation {
public:
    impersonation() : active_(api().impersonate_self(SecurityImpersonation) != FALSE) {}
    impersonation(const impersonation&) = delete;
    impersonation& operator=(const impersonation&) = delete;
    ~impersonation()
    {
        if (active_)
            api().revert_to_self();
    }

private:
    bool active_;
};

// An empty, initialised security descriptor.
security_block new_descriptor()
{
    auto descriptor = allocate_security_block(SECURITY_DESCRIPTOR_MIN_LENGTH);
    check(api().initialize_security_descriptor(descriptor.descriptor(), SECURITY_DESCRIPTOR_REVISION));
    return descriptor;
}

// An ACL with one access-allowed entry.
security_block single_entry_acl(PSID sid, DWORD access_mask)
{
    auto acl = allocate_security_block(api().get_length_sid(sid) + 16);
    check(api().initialize_acl(acl.acl(), static_cast<DWORD>(acl.size), ACL_REVISION));
    check(api().add_access_allowed_ace(acl.acl(), ACL_REVISION, access_mask, sid));
    return acl;
}

// Whether an entry is for `sid`. Only the entry types whose SID follows the
// header and the mask directly are compared.
bool ace_is_for(const ACE_HEADER* ace, PSID sid)
{
    if (ace->AceType > ACCESS_MAX_MS_V2_ACE_TYPE)
        return false;
    const auto sid_offset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
    if (ace->AceSize < sid_offset + api().get_length_sid(sid))
        return false;
    auto* ace_sid = reinterpret_cast<const std::byte*>(ace) + sid_offset;
    return api().equal_sid(const_cast<std::byte*>(ace_sid), sid) != FALSE;
}

}

HRESULT hresult_from_win32(DWORD code) noexcept
{
    const auto value = static_cast<HRESULT>(code);
    return value <= 0 ? value : static_cast<HRESULT>(0x80070000u | (code & 0xFFFF));
}

void throw_hresult(HRESULT hr)
{
    throw std::system_error(static_cast<int>(hr), std::system_category());
}

void throw_last_error()
{
    throw_hresult(hresult_from_win32(GetLastError()));
}

HMODULE security_module()
{
    static HMODULE module = [] {
        HMODULE loaded = GetModuleHandleW(L"advapi32.dll");
        if (!loaded)
            loaded = LoadLibraryExW(L"advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        if (!loaded)
            loaded = LoadLibraryExW(L"advapi32.dll", nullptr, 0);
        return loaded;
    }();
    if (!module)
        throw_hresult(E_UNEXPECTED);
    return module;
}

security_api& security_api::instance()
{
    static security_api table;
    return table;
}

owned_sid::owned_sid(sid_kind kind)
{
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    BOOL made = FALSE;
    switch (kind) {
    case sid_kind::everyone:
        made = api().allocate_and_initialize_sid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid_);
        break;
    case sid_kind::administrators:
        made = api().allocate_and_initialize_sid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                                 DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &sid_);
        break;
    case sid_kind::users:
        made = api().allocate_and_initialize_sid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                                 DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0, &sid_);
        break;
    case sid_kind::local_system:
        made = api().allocate_and_initialize_sid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &sid_);
        break;
    }
    if (!made) {
        sid_ = nullptr;
        throw_last_error();
    }
}

owned_sid& owned_sid::operator=(owned_sid&& other) noexcept
{
    std::swap(sid_, other.sid_);
    return *this;
}

owned_sid::~owned_sid()
{
    if (sid_)
        api().free_sid(sid_);
}

security_block allocate_security_block(std::size_t size)
{
    security_block block{std::unique_ptr<std::byte[]>(new (std::nothrow) std::byte[size]()), size};
    if (!block.bytes)
        throw_hresult(E_OUTOFMEMORY);
    return block;
}

security_block acl_granting(const ACL* old_dacl, PSID sid, DWORD access_mask, BYTE ace_flags)
{
    auto& a = api();
    if (!a.is_valid_sid(sid))
        throw_hresult(E_INVALIDARG);

    ACL_SIZE_INFORMATION info{0, sizeof(ACL), 0};
    auto* old_acl = const_cast<ACL*>(old_dacl);
    if (old_acl)
        check(a.get_acl_information(old_acl, &info, sizeof info, AclSizeInformation));

    auto acl = allocate_security_block(a.get_length_sid(sid) + info.AclBytesInUse + 8);
    check(a.initialize_acl(acl.acl(), static_cast<DWORD>(acl.size), ACL_REVISION));

    auto add_new_entry = [&] {
        if (ace_flags != 0 && a.add_access_allowed_ace_ex.available())
            check(a.add_access_allowed_ace_ex(acl.acl(), ACL_REVISION, ace_flags, access_mask, sid));
        else
            check(a.add_access_allowed_ace(acl.acl(), ACL_REVISION, access_mask, sid));
    };

    bool added = false;
    for (DWORD i = 0; i < info.AceCount; ++i) {
        void* entry = nullptr;
        check(a.get_ace(old_acl, i, &entry));
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (!added && (header->AceFlags & INHERITED_ACE)) {
            add_new_entry();
            added = true;
        }
        if (!ace_is_for(header, sid))
            check(a.add_ace(acl.acl(), ACL_REVISION, MAXDWORD, entry, header->AceSize));
    }
    if (!added)
        add_new_entry();
    return acl;
}

SECURITY_INFORMATION dacl_information_for(SECURITY_DESCRIPTOR_CONTROL old_control) noexcept
{
    return DACL_SECURITY_INFORMATION | ((old_control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION : 0);
}

bool is_administrator()
{
    if (api().check_token_membership.available())
        return is_administrator_by_membership();
    return is_administrator_by_access_check();
}

bool is_administrator_by_membership()
{
    const owned_sid administrators(sid_kind::administrators);
    BOOL member = FALSE;
    check(api().check_token_membership(nullptr, administrators.get(), &member));
    return member != FALSE;
}

bool is_administrator_by_access_check()
{
    auto& a = api();
    const owned_sid administrators(sid_kind::administrators);

    // A thread that already acts for a user is checked as that user, as
    // token membership does; otherwise the process's own rights count.
    kernel_handle token;
    std::optional<impersonation> impersonated;
    if (!a.open_thread_token(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
        if (GetLastError() != ERROR_NO_TOKEN)
            throw_last_error();
        impersonated.emplace();
        if (!a.open_thread_token(GetCurrentThread(), TOKEN_QUERY, FALSE, token.put())) {
            if (GetLastError() != ERROR_NO_TOKEN)
                throw_last_error();
            check(a.open_process_token(GetCurrentProcess(), TOKEN_QUERY, token.put()));
        }
    }

    const auto acl = single_entry_acl(administrators.get(), access_read | access_write);
    const auto descriptor = new_descriptor();
    check(a.set_security_descriptor_dacl(descriptor.descriptor(), TRUE, acl.acl(), FALSE));
    check(a.set_security_descriptor_owner(descriptor.descriptor(), administrators.get(), FALSE));
    check(a.set_security_descriptor_group(descriptor.descriptor(), administrators.get(), FALSE));
    if (!a.is_valid_security_descriptor(descriptor.descriptor()))
        throw_hresult(E_UNEXPECTED);

    GENERIC_MAPPING mapping{access_read, access_write, 0, access_read | access_write};
    PRIVILEGE_SET privileges{};
    DWORD privileges_size = sizeof privileges;
    DWORD granted = 0;
    BOOL status = FALSE;
    check(a.access_check(descriptor.descriptor(), token.get(), access_read, &mapping, &privileges,
                         &privileges_size, &granted, &status));
    return status != FALSE;
}

bool enable_privilege(const wchar_t* name, bool enable) noexcept
{
    try {
        auto& a = api();
        kernel_handle token;
        check(a.open_process_token(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                   token.put()));
        LUID luid{};
        check(a.lookup_privilege_value(nullptr, name, &luid));

        auto adjust = [&](TOKEN_PRIVILEGES& state, DWORD size, TOKEN_PRIVILEGES* previous,
                          DWORD* previous_size) {
            SetLastError(ERROR_SUCCESS);
            check(a.adjust_token_privileges(token.get(), FALSE, &state, size, previous, previous_size));
            // ERROR_NOT_ALL_ASSIGNED comes with success: the token lacks the privilege.
            if (const DWORD error = GetLastError(); error != ERROR_SUCCESS)
                throw_hresult(hresult_from_win32(error));
        };

        TOKEN_PRIVILEGES query{1, {{luid, 0}}};
        TOKEN_PRIVILEGES previous{};
        DWORD previous_size = sizeof previous;
        adjust(query, sizeof query, &previous, &previous_size);

        // The previous state lists only privileges that changed; an unchanged
        // one is put back in so the second pass always names it.
        previous.PrivilegeCount = 1;
        previous.Privileges[0].Luid = luid;
        if (enable)
            previous.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
        else
            previous.Privileges[0].Attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
        adjust(previous, previous_size, nullptr, nullptr);
        return true;
    }
    catch (...) {
        return false;
    }
}

kernel_handle open_for_access_change(const std::wstring& path)
{
    kernel_handle object(CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!object)
        throw_last_error();
    BY_HANDLE_FILE_INFORMATION information{};
    check(GetFileInformationByHandle(object.get(), &information));
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        throw_hresult(hresult_from_win32(ERROR_CANT_ACCESS_FILE));
    // Wine opens what a Unix link points to even with FILE_FLAG_OPEN_REPARSE_POINT,
    // and shows no attribute for a link to a file: the object must also be
    // where its folder really is, under its own name.
    const std::filesystem::path named(path);
    const kernel_handle folder(CreateFileW(named.parent_path().c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder)
        throw_last_error();
    try {
        const std::wstring reached = final_path_of(object.get());
        const std::wstring expected = (std::filesystem::path(final_path_of(folder.get())) / named.filename()).wstring();
        if (!is_within(reached, expected) || !is_within(expected, reached))
            throw_hresult(hresult_from_win32(ERROR_CANT_ACCESS_FILE));
    }
    catch (const std::system_error& e) {
        if (e.code().category() != std::system_category() || e.code().value() < 0)
            throw;
        throw_hresult(hresult_from_win32(static_cast<DWORD>(e.code().value())));
    }
    return object;
}

bool grant_users_access(const std::wstring& path, DWORD access_mask, BYTE ace_flags)
{
    auto& a = api();
    const owned_sid users(sid_kind::users);
    const kernel_handle object = open_for_access_change(path);

    DWORD needed = 0;
    if (!a.get_kernel_object_security(object.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed)
        && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        throw_last_error();
    const auto old_descriptor = allocate_security_block(needed);
    check(a.get_kernel_object_security(object.get(), DACL_SECURITY_INFORMATION, old_descriptor.descriptor(), needed,
                                       &needed));

    BOOL present = FALSE, defaulted = FALSE;
    ACL* old_dacl = nullptr;
    check(a.get_security_descriptor_dacl(old_descriptor.descriptor(), &present, &old_dacl, &defaulted));
    const auto acl = acl_granting(present ? old_dacl : nullptr, users.get(), access_mask, ace_flags);

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (a.get_security_descriptor_control.available())
        check(a.get_security_descriptor_control(old_descriptor.descriptor(), &control, &revision));
    const DWORD status = a.set_security_info(object.get(), SE_FILE_OBJECT, dacl_information_for(control), nullptr,
                                             nullptr, acl.acl(), nullptr);
    if (status != ERROR_SUCCESS)
        throw_hresult(hresult_from_win32(status));
    return true;
}

access_list program_files_access()
{
    constexpr BYTE below = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    return {{{sid_kind::administrators, FILE_ALL_ACCESS, below},
             {sid_kind::local_system, FILE_ALL_ACCESS, below},
             {sid_kind::users, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, below}},
            true};
}

access_list shared_data_access()
{
    return {{{sid_kind::users, FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE}}, false};
}

access_list shared_object_access(DWORD full, DWORD others)
{
    return {{{sid_kind::administrators, full, 0}, {sid_kind::local_system, full, 0}, {sid_kind::everyone, others, 0}},
            true};
}

security_block acl_of(const access_list& list)
{
    auto& a = api();
    std::vector<owned_sid> sids;
    std::size_t size = sizeof(ACL);
    for (const access_entry& entry : list.entries) {
        sids.emplace_back(entry.who);
        size += offsetof(ACCESS_ALLOWED_ACE, SidStart) + a.get_length_sid(sids.back().get());
    }
    auto acl = allocate_security_block(size);
    check(a.initialize_acl(acl.acl(), static_cast<DWORD>(acl.size), ACL_REVISION));
    for (std::size_t i = 0; i < sids.size(); ++i)
        check(a.add_access_allowed_ace_ex(acl.acl(), ACL_REVISION, list.entries[i].flags, list.entries[i].mask,
                                          sids[i].get()));
    return acl;
}

access_security_attributes::access_security_attributes(const access_list& list)
    : acl_(acl_of(list)), descriptor_(new_descriptor())
{
    auto& a = api();
    check(a.set_security_descriptor_dacl(descriptor_.descriptor(), TRUE, acl_.acl(), FALSE));
    if (list.is_protected)
        check(a.set_security_descriptor_control(descriptor_.descriptor(), SE_DACL_PROTECTED, SE_DACL_PROTECTED));
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_.descriptor();
    attributes_.bInheritHandle = FALSE;
}

void create_folder_with_access(const std::wstring& path, const access_list& list)
{
    access_security_attributes attributes(list);
    check(CreateDirectoryW(path.c_str(), attributes.get()));
}
