// Security services: administrator check, token privileges, access for the
// Users group on files and folders, and the access lists of the folders and
// kernel objects the programs create. Every system security function is
// resolved by name from advapi32.dll on first use; failures are raised as
// std::system_error whose value is the HRESULT, in the system category.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <cstddef>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/kernel_handle.h"

// 0x80070000 | (code & 0xFFFF) for a positive code, the code itself otherwise.
HRESULT hresult_from_win32(DWORD code) noexcept;

[[noreturn]] void throw_hresult(HRESULT hr);

// Raises the HRESULT of GetLastError().
[[noreturn]] void throw_last_error();

// The security library, loaded once and kept for the whole run.
HMODULE security_module();

// One system security function, resolved on its first call. Raises E_UNEXPECTED
// when the library cannot be loaded and E_NOTIMPL when it lacks the function.
template <class F>
class security_function {
public:
    explicit constexpr security_function(const char* name) noexcept : name_(name) {}

    F* get()
    {
        if (!function_) {
            const FARPROC address = GetProcAddress(security_module(), name_);
            if (!address)
                throw_hresult(E_NOTIMPL);
            function_ = reinterpret_cast<F*>(reinterpret_cast<void*>(address));
        }
        return function_;
    }

    // Whether the library has the function; raises only E_UNEXPECTED.
    bool available();

    template <class... Args>
    auto operator()(Args&&... args)
    {
        return get()(std::forward<Args>(args)...);
    }

private:
    const char* name_;
    F* function_ = nullptr;
};

// The process-wide table of the security functions the installer uses.
struct security_api {
    static security_api& instance();

    security_function<decltype(::AllocateAndInitializeSid)> allocate_and_initialize_sid{"AllocateAndInitializeSid"};
    security_function<decltype(::FreeSid)> free_sid{"FreeSid"};
    security_function<decltype(::GetLengthSid)> get_length_sid{"GetLengthSid"};
    security_function<decltype(::IsValidSid)> is_valid_sid{"IsValidSid"};
    security_function<decltype(::EqualSid)> equal_sid{"EqualSid"};
    security_function<decltype(::InitializeAcl)> initialize_acl{"InitializeAcl"};
    security_function<decltype(::AddAce)> add_ace{"AddAce"};
    security_function<decltype(::AddAccessAllowedAce)> add_access_allowed_ace{"AddAccessAllowedAce"};
    security_function<decltype(::AddAccessAllowedAceEx)> add_access_allowed_ace_ex{"AddAccessAllowedAceEx"};
    security_function<decltype(::GetAce)> get_ace{"GetAce"};
    security_function<decltype(::GetAclInformation)> get_acl_information{"GetAclInformation"};
    security_function<decltype(::InitializeSecurityDescriptor)> initialize_security_descriptor{"InitializeSecurityDescriptor"};
    security_function<decltype(::IsValidSecurityDescriptor)> is_valid_security_descriptor{"IsValidSecurityDescriptor"};
    security_function<decltype(::GetSecurityDescriptorDacl)> get_security_descriptor_dacl{"GetSecurityDescriptorDacl"};
    security_function<decltype(::SetSecurityDescriptorDacl)> set_security_descriptor_dacl{"SetSecurityDescriptorDacl"};
    security_function<decltype(::SetSecurityDescriptorGroup)> set_security_descriptor_group{"SetSecurityDescriptorGroup"};
    security_function<decltype(::SetSecurityDescriptorOwner)> set_security_descriptor_owner{"SetSecurityDescriptorOwner"};
    security_function<decltype(::GetSecurityDescriptorControl)> get_security_descriptor_control{"GetSecurityDescriptorControl"};
    security_function<decltype(::SetSecurityDescriptorControl)> set_security_descriptor_control{"SetSecurityDescriptorControl"};
    security_function<decltype(::GetKernelObjectSecurity)> get_kernel_object_security{"GetKernelObjectSecurity"};
    security_function<decltype(::SetSecurityInfo)> set_security_info{"SetSecurityInfo"};
    security_function<decltype(::OpenProcessToken)> open_process_token{"OpenProcessToken"};
    security_function<decltype(::OpenThreadToken)> open_thread_token{"OpenThreadToken"};
    security_function<decltype(::CheckTokenMembership)> check_token_membership{"CheckTokenMembership"};
    security_function<decltype(::ImpersonateSelf)> impersonate_self{"ImpersonateSelf"};
    security_function<decltype(::RevertToSelf)> revert_to_self{"RevertToSelf"};
    security_function<decltype(::AccessCheck)> access_check{"AccessCheck"};
    security_function<decltype(::LookupPrivilegeValueW)> lookup_privilege_value{"LookupPrivilegeValueW"};
    security_function<decltype(::AdjustTokenPrivileges)> adjust_token_privileges{"AdjustTokenPrivileges"};
};

template <class F>
bool security_function<F>::available()
{
    try {
        get();
        return true;
    }
    catch (const std::system_error& e) {
        if (e.code().value() != E_NOTIMPL)
            throw;
        return false;
    }
}

enum class sid_kind { everyone, administrators, users, local_system };

// A SID from AllocateAndInitializeSid, freed with FreeSid.
class owned_sid {
public:
    explicit owned_sid(sid_kind kind);
    owned_sid(owned_sid&& other) noexcept : sid_(std::exchange(other.sid_, nullptr)) {}
    owned_sid& operator=(owned_sid&& other) noexcept;
    ~owned_sid();

    PSID get() const noexcept { return sid_; }

private:
    PSID sid_ = nullptr;
};

// A zeroed heap block holding an ACL or a security descriptor.
struct security_block {
    std::unique_ptr<std::byte[]> bytes;
    std::size_t size = 0;

    ACL* acl() const noexcept { return reinterpret_cast<ACL*>(bytes.get()); }
    PSECURITY_DESCRIPTOR descriptor() const noexcept { return bytes.get(); }
};

// A zeroed block; E_OUTOFMEMORY when it cannot be allocated.
security_block allocate_security_block(std::size_t size);

// The DACL that gives `sid` exactly `access_mask`: the explicit entries of
// `old_dacl` (up to its first inherited one), the new entry, then the
// inherited entries, every earlier entry for `sid` left out. A null
// `old_dacl` stands for a missing or null DACL.
security_block acl_granting(const ACL* old_dacl, PSID sid, DWORD access_mask, BYTE ace_flags);

// Whether the process is a member of BUILTIN\Administrators.
bool is_administrator();

// The two ways is_administrator decides: token membership, and an access
// check against a descriptor that admits only administrators (for systems
// whose security library lacks CheckTokenMembership). Both answer for the
// thread's token when the thread acts for a user, else for the process.
bool is_administrator_by_membership();
bool is_administrator_by_access_check();

// Enables or disables one privilege of the process token; false on any failure.
bool enable_privilege(const wchar_t* name, bool enable) noexcept;

// The SECURITY_INFORMATION with which a DACL is set in place of one whose
// descriptor had `old_control`: a protected list stays protected.
SECURITY_INFORMATION dacl_information_for(SECURITY_DESCRIPTOR_CONTROL old_control) noexcept;

// The file or folder itself, opened to read and change its access list
// without following a link: a link (junction, symbolic link) standing
// there is refused with ERROR_CANT_ACCESS_FILE, since the installation never
// makes one and whatever it points to is not the installation's.
kernel_handle open_for_access_change(const std::wstring& path);

// Gives the Users group exactly `access_mask` on a file or folder, through
// a handle from open_for_access_change; true or raises.
bool grant_users_access(const std::wstring& path, DWORD access_mask, BYTE ace_flags);

// One access-allowed entry of an access list the programs write.
struct access_entry {
    sid_kind who;
    DWORD mask;
    BYTE flags;
    friend bool operator==(const access_entry&, const access_entry&) = default;
};

// An access list: its entries, and whether it keeps out what the parent
// folder hands down (protected).
struct access_list {
    std::vector<access_entry> entries;
    bool is_protected = false;
    friend bool operator==(const access_list&, const access_list&) = default;
};

// What Program Files gives: Administrators and SYSTEM full control, Users
// read and execute, for the folder and everything below; nothing inherited.
access_list program_files_access();

// A shared data folder: Users get full control of it and everything below,
// beside what its parent hands down.
access_list shared_data_access();

// The installation lock and the instance counter: Administrators and SYSTEM
// get `full`, every other account only `others` (what waiting and counting
// need), so nobody else can change the object's access or owner.
access_list shared_object_access(DWORD full, DWORD others);

// The ACL of an access list.
security_block acl_of(const access_list& list);

// Security attributes carrying an access list, for creating an object with
// it. They own their descriptor and ACL; not inheritable.
class access_security_attributes {
public:
    explicit access_security_attributes(const access_list& list);
    access_security_attributes(access_security_attributes&&) noexcept = default;
    access_security_attributes& operator=(access_security_attributes&&) noexcept = default;

    SECURITY_ATTRIBUTES* get() noexcept { return &attributes_; }

private:
    security_block acl_;
    security_block descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

// Creates a folder new, with `list` as its access list from the start.
// Raises, with ERROR_ALREADY_EXISTS when anything has that name.
void create_folder_with_access(const std::wstring& path, const access_list& list);
