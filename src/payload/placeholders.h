// Destination templates such as "<InstallPath>\Lang": the token that may
// start a template, the folder it stands for, and the shared all-users
// folders below which ordinary users get access.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A folder below which files are written whose access is widened once (done)
// to the Users group.
struct shared_folder {
    std::filesystem::path folder;
    bool done = false;
};

// The folder of a CSIDL code, or an empty text when there is none.
using folder_lookup = std::function<std::wstring(int csidl)>;

// SHGetFolderPathW with SHGFP_TYPE_CURRENT; folders are not created.
std::wstring shell_folder(int csidl);

// Whether two paths denote the same folder: equal as paths, the same existing
// object, or, when that cannot be told, equal after lexical normalisation.
bool same_folder(const std::filesystem::path& a, const std::filesystem::path& b);

// What each folder is (its volume and file index, links followed), for one
// extraction, which asks about the same few folders for every file. Only
// folders found are kept: a missing one may be made by anyone before the
// next question (the installation makes a file's folders before the file).
class folder_identities {
public:
    struct identity {
        unsigned long volume;
        unsigned long long index;
        bool operator==(const identity&) const = default;
    };
    std::optional<identity> of(const std::filesystem::path& folder);

private:
    std::map<std::wstring, identity> known_;
};

// Appends `folder` unless an entry denotes the same folder already.
void record_shared_folder(std::vector<shared_folder>& folders, const std::filesystem::path& folder);

// The inputs of the expansion, held for one extraction.
struct path_placeholders {
    std::wstring install_folder;
    std::wstring samples_name; // empty, absolute, or a name below the common desktop
    std::wstring temporary_folder;
    std::vector<shared_folder> shared_folders;
    folder_lookup lookup = shell_folder;

    // The folder a destination template stands for. Throws
    // compress_errc::unexpected_error when a folder lookup gives nothing.
    std::filesystem::path expand_placeholders(const std::filesystem::path& destination);
};
