// A folder of one test's own under the temporary folder, removed with
// everything in it at the end.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

class scratch_folder {
public:
    explicit scratch_folder(const std::wstring& name)
        : path_(std::filesystem::temp_directory_path() /
                (L"hv-" + name + L"-" + std::to_wstring(GetCurrentProcessId())))
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        std::filesystem::create_directories(path_);
    }
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
    ~scratch_folder()
    {
        std::error_code ignored;
        for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
            SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }
    std::wstring operator/(const std::wstring& relative) const
    {
        return (path_ / relative).wstring();
    }

    // Writes a small file, creating its folders.
    static void write_file(const std::filesystem::path& file, const char* text = "x")
    {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream{file, std::ios::binary} << text;
    }

private:
    std::filesystem::path path_;
};
