// The uninstaller as users start it: it undoes its log, then a temporary
// copy of it removes the uninstaller itself and its folder.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "records/log_test_support.h"
#include "records/uninstall_log.h"
#include "support/test_support.h"
#include "uninstaller/uninstall.h"

namespace fs = std::filesystem;

namespace {

const wchar_t* const session_manager = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t* const pending_renames = L"PendingFileRenameOperations";

// The system's list of files to delete at its next start, which the
// temporary copy adds itself to; put back as it was at the end.
class pending_renames_guard {
public:
    pending_renames_guard() : before_(read()) {}
    ~pending_renames_guard() { restore(); }

    static std::optional<std::vector<BYTE>> read()
    {
        DWORD size = 0;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, session_manager, pending_renames, RRF_RT_REG_MULTI_SZ, nullptr,
                         nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        std::vector<BYTE> data(size);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, session_manager, pending_renames, RRF_RT_REG_MULTI_SZ, nullptr,
                         data.data(), &size) != ERROR_SUCCESS)
            return std::nullopt;
        data.resize(size);
        return data;
    }
    bool changed() const { return read() != before_; }

private:
    void restore() const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, session_manager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            return;
        if (before_)
            RegSetValueExW(key, pending_renames, 0, REG_MULTI_SZ, before_->data(), static_cast<DWORD>(before_->size()));
        else
            RegDeleteValueW(key, pending_renames);
        RegCloseKey(key);
    }

    std::optional<std::vector<BYTE>> before_;
};

// TMP and TEMP of this process, and so of the programs it starts.
class temp_folder_guard {
public:
    explicit temp_folder_guard(const fs::path& folder)
    {
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            wchar_t value[MAX_PATH] = {};
            const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
            saved_.emplace_back(name, length ? std::optional<std::wstring>(value) : std::nullopt);
            SetEnvironmentVariableW(name, folder.c_str());
        }
    }
    ~temp_folder_guard()
    {
        for (const auto& [name, value] : saved_)
            SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
    }

private:
    std::vector<std::pair<const wchar_t*, std::optional<std::wstring>>> saved_;
};

template <class Condition>
bool wait_until(Condition condition, std::chrono::seconds limit = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

class uninstaller_program : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(temp_);
        uninstall_log log;
        ASSERT_TRUE(log.create_directories(install_));
        fs::copy_file(test_support::build_file(L"src\\product\\Uninstall.exe"), uninstaller());
        SetFileAttributesW(uninstaller().c_str(), FILE_ATTRIBUTE_READONLY);
        write_bytes(install_ / L"readme.txt", "read me");
        log.current.push_back({record_kind::file, (install_ / L"readme.txt").wstring(), L"", true, 0});
        log.current.push_back({record_kind::file, uninstaller().wstring(), L"", true, 2});
        ASSERT_TRUE(log.write(install_ / uninstall_log_name, install_.wstring(), scratch_.path().wstring()));
    }

    fs::path uninstaller() const { return install_ / L"Uninstall.exe"; }

    scratch_folder scratch_{L"uninstaller program"};
    const fs::path install_ = scratch_ / L"Quillmar 3";
    const fs::path temp_ = scratch_ / L"temp";
};

TEST_F(uninstaller_program, removes_the_installation_then_itself_and_its_folder)
{
    pending_renames_guard renames;
    {
        temp_folder_guard temp(temp_);
        EXPECT_EQ(test_support::run_process(uninstaller(), L"/quiet"), static_cast<unsigned long>(uninstall_done));
    }
    EXPECT_TRUE(wait_until([&] { return !fs::exists(install_); })) << "the uninstaller's folder is still there";
    EXPECT_FALSE(fs::exists(uninstaller()));
    // The copy's last step: it leaves itself to the system's next start.
    EXPECT_TRUE(wait_until([&] { return renames.changed(); })) << "the temporary copy did not finish";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

TEST_F(uninstaller_program, a_damaged_log_ends_with_an_error_and_leaves_everything)
{
    SetFileAttributesW((install_ / uninstall_log_name).c_str(), FILE_ATTRIBUTE_NORMAL);
    write_bytes(install_ / uninstall_log_name, "not a log");
    EXPECT_EQ(test_support::run_process(uninstaller(), L"/quiet"), static_cast<unsigned long>(uninstall_bad_log));
    EXPECT_TRUE(fs::exists(install_ / L"readme.txt"));
    EXPECT_TRUE(fs::exists(uninstaller()));
}

TEST_F(uninstaller_program, an_unknown_switch_changes_nothing)
{
    EXPECT_EQ(test_support::run_process(uninstaller(), L"/silently"), static_cast<unsigned long>(uninstall_failure));
    EXPECT_TRUE(fs::exists(install_ / L"readme.txt"));
    EXPECT_TRUE(fs::exists(install_ / uninstall_log_name));
}

}
