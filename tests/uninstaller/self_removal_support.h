// What the tests of the whole uninstaller need around its self-removal: its
// temporary folder, the system's list of files to delete at the next start
// (which the temporary copy adds itself to), and waiting for both.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace test_support {

// Polls every 100 ms; false when the limit passed first.
template <class Condition>
bool wait_until(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

// PendingFileRenameOperations, put back as it was when the guard ends.
class pending_renames_guard {
public:
    pending_renames_guard() : before_(read()) {}
    pending_renames_guard(const pending_renames_guard&) = delete;
    pending_renames_guard& operator=(const pending_renames_guard&) = delete;
    ~pending_renames_guard() { restore(); }

    bool changed() const { return read() != before_; }

private:
    static constexpr const wchar_t* session_manager = L"System\\CurrentControlSet\\Control\\Session Manager";
    static constexpr const wchar_t* value_name = L"PendingFileRenameOperations";

    static std::optional<std::vector<BYTE>> read()
    {
        DWORD size = 0;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, session_manager, value_name, RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                         &size) != ERROR_SUCCESS)
            return std::nullopt;
        std::vector<BYTE> data(size);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, session_manager, value_name, RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                         &size) != ERROR_SUCCESS)
            return std::nullopt;
        data.resize(size);
        return data;
    }

    void restore() const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, session_manager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            return;
        if (before_)
            RegSetValueExW(key, value_name, 0, REG_MULTI_SZ, before_->data(), static_cast<DWORD>(before_->size()));
        else
            RegDeleteValueW(key, value_name);
        RegCloseKey(key);
    }

    std::optional<std::vector<BYTE>> before_;
};

// TMP and TEMP of this process, and so of the programs it starts.
class temp_folder_guard {
public:
    explicit temp_folder_guard(const std::filesystem::path& folder)
    {
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            wchar_t value[MAX_PATH] = {};
            const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
            saved_.emplace_back(name, length ? std::optional<std::wstring>(value) : std::nullopt);
            SetEnvironmentVariableW(name, folder.c_str());
        }
    }
    temp_folder_guard(const temp_folder_guard&) = delete;
    temp_folder_guard& operator=(const temp_folder_guard&) = delete;
    ~temp_folder_guard()
    {
        for (const auto& [name, value] : saved_)
            SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
    }

private:
    std::vector<std::pair<const wchar_t*, std::optional<std::wstring>>> saved_;
};

// Runs the uninstaller at `program` with /quiet and its temporary folder in
// `temp`, then waits until `gone` no longer exists and the temporary copy
// has finished, and puts the list of files to delete at the next start
// back. Returns the uninstaller's exit code.
inline unsigned long run_uninstaller_to_the_end(const std::wstring& program, const std::filesystem::path& temp,
                                                const std::filesystem::path& gone)
{
    pending_renames_guard renames;
    std::filesystem::create_directories(temp);
    unsigned long exit_code = ~0ul;
    {
        temp_folder_guard temp_folder(temp);
        exit_code = run_process(program, L"/quiet", 120000);
    }
    EXPECT_TRUE(wait_until([&] { return !std::filesystem::exists(gone); })) << "the uninstaller's folder stays";
    // The copy's last steps leave itself and its folder to the next start.
    EXPECT_TRUE(wait_until([&] { return renames.changed(); })) << "the temporary copy did not finish";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return exit_code;
}

}
