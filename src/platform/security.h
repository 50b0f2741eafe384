// Security services: administrator check, token privileges, access for the
// Users group on files and folders, and security attributes for kernel
// objects every account may open. Every system security function is
// resolved by name from advapi32.dll on first use; failures are raised as
// std::system_error whose value is the HRESULT, in the system category.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

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
    security_function<decltype(::GetFileSecurityW)> get_file_security{"GetFileSecurityW"};
    security_function<decltype(::SetFileSecurityW)> set_file_security{"SetFileSecurityW"};
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

enum class sid_kind { everyone, administrators, users };

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

// The inheritance and protection bits a new DACL takes over from the old
// descriptor's control: auto-inherited (with its request bit) before
// protected; 0 for none.
SECURITY_DESCRIPTOR_CONTROL control_bits_carried_over(SECURITY_DESCRIPTOR_CONTROL old_control) noexcept;

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

// Gives the Users group exactly `access_mask` on a file or folder; true or raises.
bool grant_users_access(const std::wstring& path, DWORD access_mask, BYTE ace_flags);

// Security attributes whose DACL allows everyone `access_mask`, for kernel
// objects shared with other accounts. They own their descriptor and ACL.
class everyone_security_attributes {
public:
    explicit everyone_security_attributes(DWORD access_mask);
    everyone_security_attributes(everyone_security_attributes&&) noexcept = default;
    everyone_security_attributes& operator=(everyone_security_attributes&&) noexcept = default;

    SECURITY_ATTRIBUTES* get() noexcept { return &attributes_; }

private:
    security_block acl_;
    security_block descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

inline everyone_security_attributes everyone_security(DWORD access_mask)
{
    return everyone_security_attributes(access_mask);
}
