#include "platform/private_folder.h"

#include <sddl.h>
#include <aclapi.h>

#include <memory>
#include <system_error>
#include <vector>

#include "platform/kernel_handle.h"
#include "platform/security.h"

namespace {

[[noreturn]] void throw_error(DWORD error, const char* what)
{
    throw std::system_error(static_cast<int>(error), std::system_category(), what);
}

struct local_free {
    void operator()(void* memory) const noexcept { LocalFree(memory); }
};

// Administrators and SYSTEM: full control, for the folder and what it holds.
constexpr const wchar_t* private_access = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

std::unique_ptr<void, local_free> private_descriptor()
{
    static security_function<decltype(::ConvertStringSecurityDescriptorToSecurityDescriptorW)> convert{
        "ConvertStringSecurityDescriptorToSecurityDescriptorW"};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!convert(private_access, SDDL_REVISION_1, &descriptor, nullptr))
        throw_error(GetLastError(), "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    return std::unique_ptr<void, local_free>(descriptor);
}

bool is_well_known(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE buffer[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof buffer;
    return CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer);
}

std::vector<BYTE> process_user()
{
    kernel_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        throw_error(GetLastError(), "OpenProcessToken");
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        throw_error(GetLastError(), "GetTokenInformation");
    return buffer;
}

}

bool is_trusted_owner(PSID owner, PSID user)
{
    return owner && IsValidSid(owner) &&
           (is_well_known(owner, WinBuiltinAdministratorsSid) || is_well_known(owner, WinLocalSystemSid) ||
            (user && EqualSid(owner, user)));
}

void create_private_folder(const std::wstring& path)
{
    const auto descriptor = private_descriptor();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    if (!CreateDirectoryW(path.c_str(), &attributes))
        throw_error(GetLastError(), "CreateDirectoryW");
}

void ensure_private_folder(const std::wstring& path)
{
    // The path's own attributes tell a link, without following it (Wine
    // reports it only this way, and makes a folder "through" it).
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            throw_error(error, "GetFileAttributesW");
        try {
            create_private_folder(path);
            return;
        }
        catch (const std::system_error& e) {
            if (e.code().value() != ERROR_ALREADY_EXISTS)
                throw;
        }
        attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            throw_error(GetLastError(), "GetFileAttributesW");
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        throw_error(ERROR_CANT_ACCESS_FILE, "a link or a file stands where a private folder goes");
    const kernel_handle folder(CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                           nullptr));
    if (!folder)
        throw_error(GetLastError(), "CreateFileW");
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(folder.get(), &information))
        throw_error(GetLastError(), "GetFileInformationByHandle");
    if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        throw_error(ERROR_CANT_ACCESS_FILE, "a link or a file stands where a private folder goes");
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status = GetSecurityInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                         nullptr, nullptr, nullptr, &descriptor);
    if (status != ERROR_SUCCESS)
        throw_error(status, "GetSecurityInfo");
    const std::unique_ptr<void, local_free> owned_descriptor(descriptor);
    const std::vector<BYTE> user = process_user();
    if (!is_trusted_owner(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid))
        throw_error(ERROR_INVALID_OWNER, "a private folder owned by another user");
}
