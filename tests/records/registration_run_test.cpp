#include "records/registration_run.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "support/test_support.h"

TEST(registration_command_line, quotes_the_program_and_adds_the_earlier_version)
{
    struct row {
        std::uint64_t existing_version;
        const wchar_t* command;
    };
    const row rows[] = {
        {0, L"\"C:\\Program Files\\Q 3\\Quillmar.exe\" /Register /Background"},
        {0x0003000500020009,
         L"\"C:\\Program Files\\Q 3\\Quillmar.exe\" /Register /Background "
         L"/update=0003000500020009"},
    };
    for (const row& r : rows)
        EXPECT_EQ(registration_command_line(L"C:\\Program Files\\Q 3\\Quillmar.exe",
                                            r.existing_version),
                  r.command);
}

TEST(run_and_wait, gives_the_exit_code_of_a_program_run_in_its_folder)
{
    std::wstring probe = test_support::build_file(L"tests\\records\\registration_probe.exe");
    std::wstring folder = std::filesystem::path{probe}.parent_path().wstring();

    EXPECT_EQ(run_and_wait(registration_command_line(probe, 0), folder, 60000),
              registration_succeeded);
    // Started elsewhere, the probe answers 3.
    EXPECT_EQ(run_and_wait(registration_command_line(probe, 0),
                           std::filesystem::temp_directory_path().wstring(), 60000),
              3u);
}

TEST(run_and_wait, a_program_that_cannot_start_gives_nothing)
{
    std::wstring missing =
        (std::filesystem::temp_directory_path() / L"hv-no-such-program.exe").wstring();
    EXPECT_EQ(run_and_wait(registration_command_line(missing, 0), L"", 60000), std::nullopt);
}
