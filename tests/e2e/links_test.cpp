// Links a standard user can put where the installation's folders are (a
// Unix link inside the prefix, which Wine follows as Windows follows a
// junction; with_link_maker.sh makes them on request): the uninstaller
// deletes nothing through them.
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "e2e/scenario.h"
#include "support/link_maker.h"

namespace {

using namespace e2e;

void make_link(const fs::path& link, const fs::path& target, const char* answer = "made\n")
{
    EXPECT_EQ(test_support::request_link(link, target), answer);
}

class links : public scenario {
protected:
    void SetUp() override
    {
        if (const std::string why = test_support::link_maker_unavailable(); !why.empty())
            GTEST_SKIP() << "no link helper: " << why;
        scenario::SetUp();
    }
};

TEST_F(links, the_uninstaller_deletes_nothing_through_a_link_in_place_of_the_examples_folder)
{
    use_folder(default_install_folder());
    {
        wizard installer;
        installer.quick_to_install_page();
        ASSERT_TRUE(installer.install()) << installer.outcome();
        EXPECT_EQ(installer.finish(), 0u);
    }
    // Another folder holding files named and made like the examples, and the
    // examples folder moved aside and replaced by a link to it.
    const fs::path examples = examples_folder();
    const fs::path moved = examples.wstring() + L" (moved)";
    const fs::path victim = expand(L"%SystemDrive%\\hv-victim folder");
    fs::create_directories(victim);
    for (const auto& entry : fs::directory_iterator(examples))
        fs::copy_file(entry.path(), victim / entry.path().filename());
    const fact_set victim_before = capture({victim.wstring()}, {});
    fs::rename(examples, moved);
    make_link(examples, victim);
    ASSERT_TRUE(GetFileAttributesW(examples.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) << "no link was made";

    EXPECT_EQ(uninstall_quietly(install_folder_), 4u) << "the uninstallation could not be complete";
    expect_same(victim_before, capture({victim.wstring()}, {}));

    // With the link gone and the examples back, the next run finishes.
    make_link(examples, {}, "removed\n");
    EXPECT_TRUE(fs::exists(victim / L"Letter.qmd"));
    EXPECT_TRUE(fs::exists(victim / L"Letter.qmd"));
    fs::rename(moved, examples);
    EXPECT_EQ(uninstall(install_folder_), 0u);
    expect_same(before_, picture());
    std::error_code ignored;
    fs::remove_all(victim, ignored);
}

// A user who can create folders below the common application data makes the
// maker's folder there a link to a system folder before the first
// installation: the installation writes nothing through it and widens no
// access there, but stops and is rolled back.
TEST_F(links, an_installation_writes_nothing_through_a_link_in_place_of_a_data_folder)
{
    use_folder(default_install_folder());
    const fs::path system_folder = expand(L"%SystemDrive%\\hv-system folder");
    fs::create_directories(system_folder);
    { std::ofstream(system_folder / L"system.ini", std::ios::binary) << "system"; }
    const fact_set system_before = capture({system_folder.wstring()}, {});
    const fs::path maker = expand(L"%ProgramData%\\Halden & Voss");
    make_link(maker, system_folder);
    ASSERT_TRUE(GetFileAttributesW(maker.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) << "no link was made";
    before_ = picture();
    {
        wizard installer;
        installer.quick_to_install_page();
        EXPECT_FALSE(installer.install());
        EXPECT_EQ(installer.status(), L"Installation failed (Error Code 1:00000780).") << "ERROR_CANT_ACCESS_FILE";
        EXPECT_EQ(installer.leave(), 0u);
    }
    expect_same(system_before, capture({system_folder.wstring()}, {}));
    expect_same(before_, picture());
    make_link(maker, {}, "removed\n");
    std::error_code ignored;
    fs::remove_all(system_folder, ignored);
}

}
