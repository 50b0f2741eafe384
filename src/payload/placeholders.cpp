#include "payload/placeholders.h"

#include "payload/compress_error.h"
#include "platform/kernel_handle.h"
#include "platform/known_folders.h"

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string_view>

namespace fs = std::filesystem;

namespace {

std::wstring folder_of(const folder_lookup& lookup, int csidl, std::optional<int> fallback)
{
    std::wstring folder = lookup(csidl);
    if (folder.empty() && fallback)
        folder = lookup(*fallback);
    if (folder.empty())
        throw_compress_error(compress_errc::unexpected_error);
    return folder;
}

struct token_folder {
    std::wstring_view token;
    int csidl;
    std::optional<int> fallback;
    bool shared;
};

// The lexically normal form without a trailing separator ("A\\." is "A").
fs::path normal_folder(const fs::path& folder)
{
    fs::path normal = folder.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path())
        normal = normal.parent_path();
    return normal;
}

constexpr token_folder shell_tokens[] = {
    {L"<ProgramFiles>", CSIDL_PROGRAM_FILES, {}, false},
    {L"<ProgramCommon>", CSIDL_PROGRAM_FILES_COMMON, {}, false},
    {L"<CommonData>", CSIDL_COMMON_APPDATA, CSIDL_APPDATA, true},
    {L"<UserData>", CSIDL_APPDATA, {}, false},
    {L"<CommonDocuments>", CSIDL_COMMON_DOCUMENTS, CSIDL_PERSONAL, true},
    {L"<Documents>", CSIDL_PERSONAL, {}, false},
    {L"<CommonDesktop>", CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, true},
    {L"<Desktop>", CSIDL_DESKTOPDIRECTORY, {}, false},
    {L"<WinDir>", CSIDL_WINDOWS, {}, false},
    {L"<System>", CSIDL_SYSTEM, {}, false},
};

}

std::wstring shell_folder(int csidl)
{
    return csidl_folder(csidl);
}

bool same_folder(const fs::path& a, const fs::path& b)
{
    if (a == b)
        return true;
    std::error_code error;
    const bool equivalent = fs::equivalent(a, b, error);
    if (!error)
        return equivalent;
    return normal_folder(a) == normal_folder(b);
}

std::optional<folder_identities::identity> folder_identities::of(const fs::path& folder)
{
    if (const auto found = known_.find(folder.native()); found != known_.end())
        return found->second;
    // As the file system compares two paths: links are followed.
    const kernel_handle handle(CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle || !GetFileInformationByHandle(handle.get(), &information))
        return std::nullopt;
    const identity id{information.dwVolumeSerialNumber,
                      (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
    known_.emplace(folder.native(), id);
    return id;
}

void record_shared_folder(std::vector<shared_folder>& folders, const fs::path& folder)
{
    for (const auto& f : folders)
        if (same_folder(f.folder, folder))
            return;
    folders.push_back({folder, false});
}

fs::path path_placeholders::expand_placeholders(const fs::path& destination)
{
    auto element = destination.begin();
    if (element == destination.end())
        return destination;
    const std::wstring& token = element->native();
    if (token.size() < 2 || token.front() != L'<' || token.back() != L'>')
        return destination;

    fs::path folder;
    bool shared = false;
    if (token == L"<InstallPath>") {
        folder = install_folder;
    }
    else if (token == L"<Temporary>") {
        folder = temporary_folder.empty() ? install_folder : temporary_folder;
    }
    else if (token == L"<SamplePath>") {
        const fs::path samples = samples_name;
        if (samples.is_absolute()) {
            folder = samples;
        }
        else {
            folder = folder_of(lookup, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY);
            if (!samples.empty()) {
                folder /= samples;
                record_shared_folder(shared_folders, folder);
            }
        }
    }
    else {
        for (const auto& t : shell_tokens) {
            if (token == t.token) {
                folder = folder_of(lookup, t.csidl, t.fallback);
                shared = t.shared;
                break;
            }
        }
    }

    for (++element; element != destination.end(); ++element) {
        if (element->empty())
            continue;
        folder /= *element;
        if (shared)
            record_shared_folder(shared_folders, folder);
    }
    return folder;
}
