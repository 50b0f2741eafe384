// Helpers of the uninstall log's tests: a folder of one test program's own
// in the temporary folder, removed with everything in it at the end,
// byte-level file helpers and a readable form of a log record.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "records/uninstall_log.h"

inline void PrintTo(const log_record& r, std::ostream* out)
{
    *out << "{" << static_cast<int>(r.kind) << ", \"" << std::filesystem::path(r.path).string()
         << "\", backup \"" << std::filesystem::path(r.backup).string() << "\", "
         << (r.done ? "done" : "not done") << ", " << r.value << "}";
}

class scratch_folder {
public:
    explicit scratch_folder(const wchar_t* name)
        : path_(std::filesystem::temp_directory_path() /
                (std::wstring(L"hv-test ") + name + L"-" + std::to_wstring(GetCurrentProcessId())))
    {
        remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
    ~scratch_folder() { remove_all(path_); }

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::wstring& name) const { return path_ / name; }

    // Read-only files and folders would stop remove_all.
    static void remove_all(const std::filesystem::path& path)
    {
        std::error_code error;
        if (!std::filesystem::exists(path, error))
            return;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path, error))
            SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(path, error);
    }

private:
    std::filesystem::path path_;
};

inline void write_bytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline std::string read_bytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// UTF-16 little-endian bytes of a text, with or without a byte-order mark.
inline std::string utf16_bytes(const std::wstring& text, bool mark = true)
{
    std::string bytes = mark ? std::string("\xFF\xFE") : std::string();
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

inline std::string utf8_bytes(const std::wstring& text, bool mark = false)
{
    std::string bytes = mark ? std::string("\xEF\xBB\xBF") : std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), converted.data(),
                        size, nullptr, nullptr);
    return bytes + converted;
}
