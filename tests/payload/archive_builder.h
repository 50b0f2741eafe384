// Builds payload archives on the fly with the same format writer as the
// packer, and records what an extraction reports.
#pragma once

#include "payload/archive_format.h"
#include "payload/extractor.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace payload_test {

struct stored_file {
    std::u16string source;
    std::u16string destination;
    std::string data;
    payload_kind kind = payload_kind::regular;
};

// The header entries of the files (sizes and CRCs from their data).
std::vector<archive_entry> entries_of(const std::vector<stored_file>& files);

// The decompressed archive: header, then every file's data.
std::string archive_of(const std::vector<archive_entry>& entries, const std::vector<stored_file>& files);
std::string archive_of(const std::vector<stored_file>& files);

std::string bzip2(std::string_view data);

// A folder of its own below the temporary folder, removed on destruction.
class scratch_folder {
public:
    scratch_folder();
    ~scratch_folder();
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return (path_ / name).native(); }

private:
    std::filesystem::path path_;
};

// A folder lookup that names a folder below `root` for every CSIDL code
// except those in `missing`.
folder_lookup fake_folders(const std::filesystem::path& root, std::vector<int> missing = {});

std::string read_file(const std::filesystem::path& file);
void write_file(const std::filesystem::path& file, std::string_view data);

// Every notification as one line, e.g. "progress 12/12", "file_begin a.txt",
// "failed compress 7 <message>"; answers come from `answer`.
class recorder {
public:
    std::vector<std::string> lines;
    std::function<notification::result(const notification&)> answer;

    notification_callback callback();
};

std::string narrow(const std::wstring& text);

}
