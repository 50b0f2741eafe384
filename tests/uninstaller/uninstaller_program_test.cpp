// The uninstaller as users start it: it undoes its log, then a temporary
// copy of it removes the uninstaller itself and its folder.
#include <windows.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "records/log_test_support.h"
#include "records/uninstall_log.h"
#include "support/test_support.h"
#include "uninstaller/self_removal_support.h"
#include "uninstaller/uninstall.h"
#include "ui_driver.h"

namespace fs = std::filesystem;

namespace {

class uninstaller_program : public ::testing::Test {
protected:
    void SetUp() override
    {
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
    EXPECT_EQ(test_support::run_uninstaller_to_the_end(uninstaller(), temp_, install_),
              static_cast<unsigned long>(uninstall_done));
    EXPECT_FALSE(fs::exists(uninstaller()));
}

// The copy that removes the uninstaller starts only once the user has closed
// the summary, so a summary left open for long cannot make it give up.
TEST_F(uninstaller_program, removes_itself_only_after_the_summary_is_closed)
{
    using namespace std::chrono_literals;
    test_support::pending_renames_guard renames;
    fs::create_directories(temp_);
    {
        test_support::temp_folder_guard temp_folder(temp_);
        ui_driver::process uninstaller_process(uninstaller(), L"");
        ui_driver::answer_message_box(ui_driver::wait_for_dialog(uninstaller_process.id(), 30s), IDYES);
        const HWND summary = ui_driver::wait_for_dialog(uninstaller_process.id(), 30s);
        Sleep(1500);
        EXPECT_TRUE(fs::is_empty(temp_)) << "the copy started while the summary was open";
        EXPECT_TRUE(fs::exists(uninstaller()));
        ui_driver::answer_message_box(summary, IDOK);
        const auto code = uninstaller_process.wait_for_exit(30s);
        ASSERT_TRUE(code);
        EXPECT_EQ(*code, static_cast<unsigned long>(uninstall_done));
    }
    EXPECT_TRUE(test_support::wait_until([&] { return !fs::exists(install_); })) << "the uninstaller's folder stays";
    EXPECT_TRUE(test_support::wait_until([&] { return renames.changed(); })) << "the temporary copy did not finish";
    Sleep(500);
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
