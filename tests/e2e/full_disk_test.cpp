// An installation onto a drive that fills up part-way (a small drive image
// mapped into the prefix by with_small_drive.sh): the installer reports the
// failure and rolls back, leaving the drive and the machine as they were.
#include <cstdlib>
#include <string>

#include "e2e/scenario.h"

namespace {

using namespace e2e;

class full_disk : public scenario {};

TEST_F(full_disk, a_drive_that_fills_up_part_way_rolls_the_installation_back)
{
    const char* drive = std::getenv("HV_SMALL_DRIVE");
    if (!drive || !*drive) {
        const char* why = std::getenv("HV_SMALL_DRIVE_UNAVAILABLE");
        GTEST_SKIP() << "no small drive: " << (why ? why : "HV_SMALL_DRIVE is not set");
    }
    const std::wstring root = from_utf8(drive) + L"\\";
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
