#include "records/shortcuts.h"

#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "records/log_test_support.h"
#include "records/uninstall_log.h"

namespace fs = std::filesystem;

namespace {

const std::wstring link_name = L"Quillmar 3.05c.lnk";

shortcut_choice choose(const std::wstring& menu_folder, const std::wstring& desktop_folder)
{
    return {!menu_folder.empty(), menu_folder, !desktop_folder.empty(), desktop_folder};
}

std::set<std::wstring> names_in(const std::wstring& folder)
{
    std::set<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().wstring());
    return names;
}

class shortcuts_test : public ::testing::Test {
protected:
    scratch_folder scratch{L"shortcuts"};
    std::wstring program = (scratch / L"Quillmar 3\\Quillmar.exe").wstring();
    std::wstring desktop = (scratch / L"Desktop").wstring();
    std::wstring earlier_link = (scratch / L"Desktop\\Quillmar 3.05b.lnk").wstring();
    uninstall_log log;

    void SetUp() override
    {
        fs::create_directories(fs::path{program}.parent_path());
        write_bytes(program, "x");
        fs::create_directories(desktop);
    }

    // The log of an earlier installation that made a desktop link of another name.
    void earlier_installation_with_desktop_link()
    {
        write_bytes(earlier_link, "earlier link");
        log.previous.push_back({record_kind::desktop_shortcut, earlier_link, L"", true, -1});
    }

    // Writes the log and reads it back as the next installation would.
    uninstall_log written_and_read_back()
    {
        std::wstring file = (scratch / L"Uninstall.ulog").wstring();
        EXPECT_TRUE(
            log.write(file, (scratch / L"Quillmar 3").wstring(), (scratch / L"Menu").wstring()));
        uninstall_log next;
        next.read(file);
        return next;
    }
};

}

TEST_F(shortcuts_test, a_missing_start_menu_folder_is_created_and_recorded_before_the_link)
{
    std::wstring menu = (scratch / L"Start Menu\\Programs\\Halden & Voss").wstring();

    EXPECT_TRUE(create_shortcuts(log, program, choose(menu, L"")));

    ASSERT_EQ(log.current.size(), 4u);
    const wchar_t* folders[] = {L"Start Menu", L"Start Menu\\Programs",
                                L"Start Menu\\Programs\\Halden & Voss"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(log.current[i].kind, record_kind::directory);
        EXPECT_TRUE(same_location(log.current[i].path, scratch / folders[i]))
            << log.current[i].path;
        EXPECT_TRUE(log.current[i].done);
    }
    const log_record& link = log.current[3];
    EXPECT_EQ(link.kind, record_kind::menu_shortcut);
    EXPECT_TRUE(link.done);
    EXPECT_EQ(link.path, menu + L"\\" + link_name);
    EXPECT_TRUE(fs::is_regular_file(link.path));
    EXPECT_FALSE(log.pending);
}

TEST_F(shortcuts_test, an_update_replaces_an_earlier_desktop_link_of_another_name)
{
    earlier_installation_with_desktop_link();

    EXPECT_TRUE(create_shortcuts(log, program, choose(L"", desktop)));

    EXPECT_EQ(names_in(desktop), std::set<std::wstring>{link_name});
    ASSERT_EQ(log.current.size(), 1u);
    std::wstring backup = log.current[0].backup;
    EXPECT_FALSE(backup.empty());

    uninstall_log next = written_and_read_back();
    EXPECT_FALSE(fs::exists(backup)) << "the earlier link stays in the temporary folder";
    EXPECT_EQ(names_in(desktop), std::set<std::wstring>{link_name});
    ASSERT_EQ(next.previous.size(), 1u);
    EXPECT_EQ(next.previous[0].kind, record_kind::desktop_shortcut);
    EXPECT_EQ(next.previous[0].path, desktop + L"\\" + link_name);
}

TEST_F(shortcuts_test, no_requested_shortcut_writes_no_record)
{
    shortcut_choice neither{false, (scratch / L"Menu").wstring(), false, desktop};
    EXPECT_TRUE(create_shortcuts(log, program, neither));

    EXPECT_TRUE(log.current.empty());
    EXPECT_TRUE(names_in(desktop).empty());
    EXPECT_FALSE(fs::exists(scratch / L"Menu"));
    EXPECT_FALSE(written_and_read_back().had_desktop_shortcut);
}

TEST_F(shortcuts_test, a_failed_link_puts_the_earlier_one_back)
{
    earlier_installation_with_desktop_link();
    // A folder of the link's name makes saving the link fail.
    fs::create_directories(desktop + L"\\" + link_name);

    EXPECT_FALSE(create_shortcuts(log, program, choose(L"", desktop)));

    EXPECT_EQ(read_bytes(earlier_link), "earlier link");
    EXPECT_TRUE(log.current.empty());
    EXPECT_FALSE(log.pending);

    uninstall_log next = written_and_read_back();
    EXPECT_TRUE(fs::exists(earlier_link));
    ASSERT_EQ(next.previous.size(), 1u);
    EXPECT_EQ(next.previous[0].kind, record_kind::desktop_shortcut);
    EXPECT_EQ(next.previous[0].path, earlier_link);
    EXPECT_TRUE(next.had_desktop_shortcut);
}

TEST_F(shortcuts_test, a_failed_link_without_an_earlier_one_is_recorded_as_not_done)
{
    fs::create_directories(desktop + L"\\" + link_name);

    EXPECT_FALSE(shortcut_step(log, shortcut_place::desktop, desktop, program));

    ASSERT_EQ(log.current.size(), 1u);
    EXPECT_EQ(log.current[0].kind, record_kind::desktop_shortcut);
    EXPECT_FALSE(log.current[0].done);
    EXPECT_EQ(log.current[0].path, L"");
    EXPECT_FALSE(log.pending);
}

TEST_F(shortcuts_test, a_folder_that_is_not_a_full_path_makes_no_link)
{
    wchar_t current[MAX_PATH]{};
    GetCurrentDirectoryW(MAX_PATH, current);
    SetCurrentDirectoryW(scratch.path().c_str());
    for (const wchar_t* folder : {L"", L"Desktop"}) {
        uninstall_log fresh;
        EXPECT_FALSE(shortcut_step(fresh, shortcut_place::desktop, folder, program)) << fs::path(folder);
        EXPECT_EQ(fresh.current, (std::vector<log_record>{{record_kind::desktop_shortcut, L"", L"", false, -1}}));
    }
    SetCurrentDirectoryW(current);
    EXPECT_FALSE(fs::exists(scratch / link_name));
    EXPECT_TRUE(names_in(desktop).empty());
}

TEST_F(shortcuts_test, a_failed_start_menu_link_does_not_keep_the_desktop_link_from_being_made)
{
    std::wstring blocked = (scratch / L"Menu").wstring();
    fs::create_directories(blocked + L"\\" + link_name);

    EXPECT_FALSE(create_shortcuts(log, program, choose(blocked, desktop)));

    ASSERT_EQ(log.current.size(), 2u);
    EXPECT_EQ(log.current[0].kind, record_kind::menu_shortcut);
    EXPECT_FALSE(log.current[0].done);
    EXPECT_EQ(log.current[1].kind, record_kind::desktop_shortcut);
    EXPECT_TRUE(log.current[1].done);
    EXPECT_TRUE(fs::is_regular_file(desktop + L"\\" + link_name));
}

TEST(association_step, succeeds_only_with_the_registration_exit_code)
{
    struct row {
        std::optional<std::uint32_t> exit_code;
        bool success;
    };
    const row rows[] = {
        {registration_succeeded, true},
        {0u, false},
        {1u, false},
        {std::nullopt, false}, // the program could not be started
    };
    for (const row& r : rows) {
        uninstall_log log;
        int notified = 0;
        bool result = association_step(
            log, [&] { return r.exit_code; }, [&] { ++notified; });

        EXPECT_EQ(result, r.success);
        EXPECT_EQ(notified, r.success ? 1 : 0);
        ASSERT_EQ(log.current.size(), 1u);
        EXPECT_EQ(log.current[0].kind, record_kind::associations);
        EXPECT_EQ(log.current[0].done, r.success);
        EXPECT_EQ(log.current[0].path, L"");
        EXPECT_FALSE(log.pending);
    }
}
