// An installation onto a drive that fills up part-way (a small drive image
// mapped into the prefix by with_small_drive.sh): the installer reports the
// failure and rolls back, leaving the drive and the machine as they were.
#include <cstdlib>
#include <string>

#include "e2e/scenario.h"
#include "records/uninstall_log.h"

namespace {

using namespace e2e;

class full_disk : public scenario {};

std::wstring small_drive_or_skip_reason(std::string& reason)
{
    const char* drive = std::getenv("HV_SMALL_DRIVE");
    if (drive && *drive)
        return from_utf8(drive) + L"\\";
    const char* why = std::getenv("HV_SMALL_DRIVE_UNAVAILABLE");
    reason = why ? why : "HV_SMALL_DRIVE is not set";
    return {};
}

// An update whose log cannot be written whole (the drive fills up while
// it is written) keeps the earlier log as it was: the uninstaller still
// knows every record of the earlier installation.
TEST(log_on_a_full_drive, a_write_that_fails_part_way_leaves_the_earlier_log_whole)
{
    std::string reason;
    const std::wstring root = small_drive_or_skip_reason(reason);
    if (root.empty())
        GTEST_SKIP() << "no small drive: " << reason;
    const fs::path folder = root + L"log test";
    fs::create_directories(folder);
    const fs::path file = folder / uninstall_log_name;

    uninstall_log earlier;
    earlier.current = {{record_kind::directory, folder.wstring(), L"", true, -1},
                       {record_kind::file, (folder / L"Quillmar.exe").wstring(), L"", true, 1}};
    ASSERT_TRUE(earlier.write(file, folder.wstring(), L""));
    const std::string earlier_bytes = read_text(file);

    // Far more than the drive has left: a record for every one of many files.
    uninstall_log update;
    ASSERT_TRUE(update.read(file));
    for (int i = 0; i < 40000; ++i)
        update.current.push_back({record_kind::file,
                                  (folder / (L"a file with a rather long name to fill the drive " + std::to_wstring(i) +
                                             L".dat")).wstring(),
                                  L"", true, 0});
    EXPECT_FALSE(update.write(file, folder.wstring(), L"")) << "the drive did not fill up";

    EXPECT_EQ(read_text(file), earlier_bytes) << "the earlier log was damaged";
    EXPECT_FALSE(fs::exists(folder / (std::wstring(uninstall_log_name) + L".new"))) << "a partial file is left";
    uninstall_log again;
    EXPECT_TRUE(again.read(file));
    EXPECT_EQ(again.previous, earlier.current);

    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

TEST_F(full_disk, a_drive_that_fills_up_part_way_rolls_the_installation_back)
{
    std::string reason;
    const std::wstring root = small_drive_or_skip_reason(reason);
    if (root.empty())
        GTEST_SKIP() << "no small drive: " << reason;
    ULARGE_INTEGER free_bytes{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(root.c_str(), &free_bytes, nullptr, nullptr)) << GetLastError();
    // The programs alone need more than what is left.
    ASSERT_LT(free_bytes.QuadPart, 2'800'000u) << "the small drive has too much room";

    use_folder(root + L"Quillmar 3");
    const auto drive_picture = [&] { return capture({root}, {}); };
    before_ = picture();
    const fact_set drive_before = drive_picture();
    {
        wizard installer;
        installer.advanced_to_install_page(install_folder_, true);
        EXPECT_FALSE(installer.install());
        const std::wstring status = installer.status();
        EXPECT_EQ(status, L"Installation failed (Error Code 1:00000070).") << "ERROR_DISK_FULL";
        EXPECT_EQ(installer.leave(), 0u);
    }
    expect_same(before_, picture());
    expect_same(drive_before, drive_picture());
}

}
