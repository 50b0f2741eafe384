#include "e2e/machine_state.h"

#include <windows.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/com.h"
#include "records/shell_link.h"
#include "support/registry_sandbox.h"

namespace fs = std::filesystem;
using namespace machine_state;

namespace {

fact_set as_set(const std::vector<fact>& facts)
{
    fact_set set;
    for (const auto& f : facts)
        set.insert_or_assign(f.identity(), f);
    return set;
}

TEST(machine_state, parses_kinds_fields_and_variables)
{
    SetEnvironmentVariableW(L"HV_STATE_TEST", L"C:\\Somewhere");
    auto facts = parse("# comment\r\n"
                       "\n"
                       "file\t%HV_STATE_TEST%\\a.txt\tsize=3\tcrc32=352441C2\r\n"
                       "folder\tC:\\x\tabsent\n"
                       "value\tHKLM\\Software\\X\tName\ttype=REG_SZ\tdata=Zürich\n"
                       "process\tQuillmar.exe\trunning\n");
    SetEnvironmentVariableW(L"HV_STATE_TEST", nullptr);
    ASSERT_EQ(facts.size(), 4u);
    EXPECT_EQ(facts[0].subject, L"C:\\Somewhere\\a.txt");
    EXPECT_EQ(facts[0].properties, (std::vector<std::wstring>{L"size=3", L"crc32=352441C2"}));
    EXPECT_TRUE(facts[1].absent());
    EXPECT_EQ(facts[2].name, L"Name");
    EXPECT_EQ(facts[2].properties.back(), L"data=Z\u00fcrich");
    EXPECT_EQ(facts[3].properties, std::vector<std::wstring>{L"present"});
    EXPECT_EQ(parse(format(facts)), facts);
}

TEST(machine_state, malformed_lines_name_their_number)
{
    const std::pair<const char*, const char*> cases[] = {
        {"folder\tC:\\a\nfiles\tC:\\b\n", "line 2: unknown kind"},
        {"value\tHKLM\\X\n", "line 1: 'value' needs 3 fields"},
        {"\n\nfile\t\tabsent\n", "line 3: 'file' needs 2 fields"},
    };
    for (const auto& [text, message] : cases) {
        try {
            parse(text);
            ADD_FAILURE() << "accepted: " << text;
        }
        catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
}

TEST(machine_state, differences_name_every_fact_that_does_not_hold)
{
    fact_set seen = as_set({
        {L"file", L"C:\\P\\a.exe", {}, {L"size=3", L"crc32=00000001", L"readonly=yes"}},
        {L"file", L"C:\\P\\b.dll", {}, {L"size=4", L"crc32=00000002", L"readonly=no"}},
        {L"key", L"HKLM\\Software\\X", {}, {L"present"}},
    });
    auto required = parse("file\tc:\\p\\A.EXE\treadonly=yes\n"            // holds, case aside
                          "file\tC:\\P\\b.dll\tsize=4\treadonly=yes\n"     // attribute differs
                          "file\tC:\\P\\c.txt\n"                           // missing
                          "key\tHKLM\\Software\\X\tabsent\n"               // present
                          "key\tHKLM\\Software\\Y\tabsent\n");             // holds
    auto found = differences(required, seen);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_NE(found[0].find(L"readonly=no"), std::wstring::npos);
    EXPECT_EQ(found[1].rfind(L"missing: file C:\\P\\c.txt", 0), 0u);
    EXPECT_EQ(found[2].rfind(L"must be absent: key HKLM\\Software\\X", 0), 0u);
}

TEST(machine_state, changes_list_added_removed_and_changed_facts_but_the_ignored)
{
    fact_set before = as_set({
        {L"file", L"C:\\T\\keep.txt", {}, {L"size=1"}},
        {L"file", L"C:\\T\\gone.txt", {}, {L"size=2"}},
        {L"value", L"HKCU\\Software\\H", L"InstallerSize", {L"type=REG_BINARY", L"data=00"}},
    });
    fact_set after = as_set({
        {L"file", L"C:\\T\\keep.txt", {}, {L"size=5"}},
        {L"file", L"C:\\T\\new.txt", {}, {L"size=3"}},
        {L"value", L"HKCU\\Software\\H", L"InstallerSize", {L"type=REG_BINARY", L"data=01"}},
    });
    auto found = changes(before, after, {L"value\tHKCU\\Software\\H\tInstallerSize"});
    ASSERT_EQ(found.size(), 3u) << found.size();
    EXPECT_EQ(found[0].rfind(L"removed: file C:\\T\\gone.txt", 0), 0u);
    EXPECT_EQ(found[1].rfind(L"changed: file C:\\T\\keep.txt size=1", 0), 0u);
    EXPECT_EQ(found[2].rfind(L"added: file C:\\T\\new.txt", 0), 0u);
    EXPECT_TRUE(changes(before, before, {}).empty());
}

TEST(machine_state, captures_files_links_and_registry_of_the_machine)
{
    fs::path folder = fs::temp_directory_path() / ("hv-state-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(folder);
    fs::create_directories(folder / "sub");
    std::ofstream(folder / "sub" / "a.txt", std::ios::binary) << "abc";
    SetFileAttributesW((folder / "sub" / "a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    com_apartment apartment;
    auto link = create_shortcut((folder / "sub" / "a.txt").wstring(), folder.wstring(), L"A");
    registry_sandbox sandbox(L"state");
    DWORD seven = 7;
    RegSetValueExW(sandbox.key(), L"Seven", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seven), 4);

    auto key = L"HKCU\\" + sandbox.path();
    auto picture = capture({folder.wstring()}, {key});
    auto state = L"folder\t" + (folder / "sub").wstring() + L"\n"
                 L"file\t" + (folder / "sub" / "a.txt").wstring() + L"\tsize=3\tcrc32=352441C2\treadonly=yes\n"
                 L"link\t" + link + L"\ttarget=" + (folder / "sub" / "a.txt").wstring() + L"\tworkdir=" +
                 (folder / "sub").wstring() + L"\n"
                 L"value\t" + key + L"\tseven\ttype=REG_DWORD\tdata=0x00000007\n"
                 L"file\t" + (folder / "b.txt").wstring() + L"\tabsent\n";
    auto required = parse(to_utf8(state));
    EXPECT_TRUE(differences(required, picture).empty()) << to_utf8(differences(required, picture).front());
    EXPECT_TRUE(differences(required, observe(required)).empty());

    std::ofstream(folder / "b.txt") << "x";
    auto found = changes(picture, capture({folder.wstring()}, {key}), {});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].rfind(L"added: file " + (folder / "b.txt").wstring(), 0), 0u);

    SetFileAttributesW((folder / "sub" / "a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(folder);
}

}
