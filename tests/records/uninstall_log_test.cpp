#include "records/uninstall_log.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "records/log_test_support.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using kind = record_kind;

std::wstring lines(std::initializer_list<std::wstring> items, const wchar_t* end = L"\r\n")
{
    std::wstring text;
    for (const auto& item : items)
        text += item + end;
    return text;
}

const std::wstring warning_line =
    L"// ############ WARNING: Do not delete or modify this file. ############";
const std::wstring rule_line = L"// " + std::wstring(100, L'-');

class log_test : public ::testing::Test {
protected:
    scratch_folder folder_{L"uninstall log \x017C\x00F3\x0142w"};
    fs::path file_ = folder_ / L"Uninstall.ulog";

    std::wstring dir(const std::wstring& name) const { return (folder_ / name).wstring(); }

    std::wstring header(const std::wstring& install, const std::wstring& shortcuts) const
    {
        return lines({L"// Uninstall Log File v1", warning_line, L"// Install Quillmar 3.05b",
                      L"// Install Path : " + install, L"// Shortcut Path : " + shortcuts, rule_line});
    }

    uninstall_log read_text(const std::wstring& text)
    {
        write_bytes(file_, utf16_bytes(text));
        uninstall_log log;
        log.read(file_);
        return log;
    }

    // The file as text, one element per line, from its UTF-16 bytes.
    std::vector<std::wstring> written_lines() const
    {
        const std::string bytes = read_bytes(file_);
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
        std::wstring text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8);
        std::vector<std::wstring> result;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
            result.push_back(text.substr(start, end - start));
        EXPECT_EQ(start, text.size()) << "the last line lacks CR LF";
        return result;
    }
};

// ---------------------------------------------------------------- reading

struct read_case {
    const char* name;
    std::wstring records; // after the six header lines
    std::vector<log_record> expected;
    bool had_desktop_shortcut;
};

TEST_F(log_test, ReadsRecordLines)
{
    const std::vector<read_case> cases = {
        {"examples",
         lines({L"0003:0401:1 -- C:\\x", L"0003:05ff:0 -- anything", L"0004:06ff:1 -- HKEY_CLASSES_ROOT\\...",
                L"12:0102:0 -- C:\\Program Files\\Q\\a b.txt", L"0005:07ff:1 -- DirectX Update",
                L"0006:0300:1 -- C:\\three"}),
         {{kind::desktop_shortcut, L"C:\\x", L"", true, 1},
          {kind::uninstall_key, L"", L"", false, -1},
          {kind::associations, L"", L"", true, -1},
          {kind::file, L"C:\\Program Files\\Q\\a b.txt", L"", false, 2},
          {kind::directx_update, L"DirectX Update", L"", true, -1},
          {static_cast<kind>(3), L"C:\\three", L"", true, 0}},
         true},
        {"no desktop shortcut", lines({L"0000:02ff:1 -- C:\\m.lnk"}),
         {{kind::menu_shortcut, L"C:\\m.lnk", L"", true, -1}}, false},
        {"record ending in --", lines({L"0000:02ff:0 --", L"0001:02ff:0 -- ", L"0002:0100:1 -- C:\\y"}),
         {{kind::menu_shortcut, L"", L"", false, -1},
          {kind::menu_shortcut, L"", L"", false, -1},
          {kind::file, L"C:\\y", L"", true, 0}},
         false},
        {"middle field 0800", lines({L"0000:0101:1 -- C:\\a", L"0001:0800:1 -- C:\\b", L"0002:0101:1 -- C:\\c"}),
         {{kind::file, L"C:\\a", L"", true, 1}}, true},
        {"flag 2", lines({L"0000:0101:1 -- C:\\a", L"0001:0101:2 -- C:\\b", L"0002:0101:1 -- C:\\c"}),
         {{kind::file, L"C:\\a", L"", true, 1}}, true},
        {"no --", lines({L"0000:0101:1 -- C:\\a", L"0001:0101:1 C:\\b", L"0002:0101:1 -- C:\\c"}),
         {{kind::file, L"C:\\a", L"", true, 1}}, true},
        {"negative number", lines({L"-001:0101:1 -- C:\\a"}), {}, true},
        {"trailing spaces and tabs", lines({L"0000:0101:1 --   C:\\a b \t "}),
         {{kind::file, L"C:\\a b", L"", true, 1}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uninstall_log log = read_text(header(L"C:\\nowhere", L"C:\\nowhere") + c.records);
        EXPECT_EQ(log.previous, c.expected);
        EXPECT_EQ(log.had_desktop_shortcut, c.had_desktop_shortcut);
        EXPECT_EQ(log.previous_product, L"Quillmar 3.05b");
    }
}

TEST_F(log_test, ReadsHeaderLines)
{
    const std::wstring install = dir(L"install");
    const std::wstring shortcuts = dir(L"shortcuts");
    fs::create_directories(install);
    fs::create_directories(shortcuts);
    const std::wstring record = L"0000:04ff:1 -- C:\\d.lnk\r\n";
    struct header_case {
        const char* name;
        std::wstring text;
        std::wstring install_folder;
        std::wstring shortcut_folder;
        std::wstring product;
        std::size_t records;
    };
    const std::vector<header_case> cases = {
        {"blank lines do not count",
         lines({L"", L"// Uninstall Log File v1", L"  ", warning_line, L"", L"// Install Quillmar 3.05b",
                L"\t", L"// Install Path : " + install, L"// Shortcut Path : " + shortcuts + L"  ",
                rule_line, L""}) +
             record,
         install, shortcuts, L"Quillmar 3.05b", 1},
        {"LF only, slashes and spaces",
         lines({L"/// Uninstall Log File v1", warning_line,
                L"//Install Quillmar 3.05b -- Update (Quillmar 3.05a)", L"//  Install Path :   " + install,
                L"// Shortcut Path : " + shortcuts, rule_line},
               L"\n") +
             record,
         install, shortcuts, L"Quillmar 3.05b", 1},
        {"vanished folders",
         header(dir(L"gone"), dir(L"gone too")) + record, L"", L"", L"Quillmar 3.05b", 1},
        {"empty folders", header(L"", L"") + record, L"", L"", L"Quillmar 3.05b", 1},
        {"version 01", lines({L"// Uninstall Log File v01", warning_line, L"// Install X"}) + record, L"",
         L"", L"X", 1},
        {"bare slashes", lines({L"// Uninstall Log File v1", L"////", L"//Install X"}) + record, L"", L"", L"X",
         1},
        {"bare slashes first", lines({L"//", L"// Uninstall Log File v1"}) + record, L"", L"", L"", 0},
        {"version 2",
         lines({L"// Uninstall Log File v2", warning_line, L"// Install X", L"// Install Path : " + install}) +
             record,
         L"", L"", L"", 0},
        {"version 10", lines({L"// Uninstall Log File v10"}) + record, L"", L"", L"", 0},
        {"no version line", lines({L"// Uninstall Log File"}) + record, L"", L"", L"", 0},
        {"record before the version", record + lines({L"// Uninstall Log File v1"}), L"", L"", L"", 0},
        {"no Install on line 2", lines({L"// Uninstall Log File v1", warning_line, L"// Quillmar"}) + record,
         L"", L"", L"", 0},
        {"no Install Path on line 3",
         lines({L"// Uninstall Log File v1", warning_line, L"// Install X", L"// Path : " + install}) + record,
         L"", L"", L"X", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uninstall_log log = read_text(c.text);
        EXPECT_TRUE(same_location(log.install_folder, c.install_folder)) << log.install_folder;
        EXPECT_EQ(log.install_folder.empty(), c.install_folder.empty());
        EXPECT_TRUE(same_location(log.shortcut_folder, c.shortcut_folder)) << log.shortcut_folder;
        EXPECT_EQ(log.shortcut_folder.empty(), c.shortcut_folder.empty());
        EXPECT_EQ(log.previous_product, c.product);
        EXPECT_EQ(log.previous.size(), c.records);
        // Only a log read to its end says whether it had a desktop shortcut.
        EXPECT_TRUE(log.had_desktop_shortcut);
    }
}

TEST_F(log_test, ReadsEveryEncoding)
{
    const std::wstring install = dir(L"Pr\x00F3gram \x0141\x00FC");
    fs::create_directories(install);
    const std::wstring text =
        header(install, L"C:\\nowhere") + lines({L"0000:0101:1 -- " + install + L"\\\x4E2D\x6587.txt"});
    const std::vector<std::pair<const char*, std::string>> encodings = {
        {"UTF-16 with mark", utf16_bytes(text, true)},
        {"UTF-8 with mark", utf8_bytes(text, true)},
        {"UTF-8 without mark", utf8_bytes(text, false)},
    };
    for (const auto& [name, bytes] : encodings) {
        SCOPED_TRACE(name);
        write_bytes(file_, bytes);
        uninstall_log log;
        log.read(file_);
        EXPECT_EQ(log.install_folder, install);
        ASSERT_EQ(log.previous.size(), 1u);
        EXPECT_EQ(log.previous[0].path, install + L"\\\x4E2D\x6587.txt");
        EXPECT_FALSE(log.had_desktop_shortcut);
    }

    // Without a mark UTF-16 is taken for single bytes: the first line is
    // not the version line, so nothing is read and nothing is assumed.
    write_bytes(file_, utf16_bytes(text, false));
    uninstall_log log;
    log.read(file_);
    EXPECT_EQ(log.install_folder, L"");
    EXPECT_TRUE(log.previous.empty());
    EXPECT_TRUE(log.had_desktop_shortcut);
}

TEST_F(log_test, AReadErrorKeepsTheRecordsAndDecidesTheFlag)
{
    // A lone byte after the last UTF-16 unit cannot be decoded.
    write_bytes(file_, utf16_bytes(header(L"C:\\nowhere", L"C:\\nowhere") +
                                   lines({L"0000:0101:1 -- C:\\a", L"0001:02ff:1 -- C:\\m.lnk"})) +
                           "\x41");
    uninstall_log log;
    log.read(file_);
    EXPECT_EQ(log.previous.size(), 2u);
    EXPECT_FALSE(log.had_desktop_shortcut) << "unlike a malformed line, a read error decides the flag";
}

TEST_F(log_test, MissingAndEmptyNames)
{
    uninstall_log log;
    log.install_folder = L"C:\\old";
    log.shortcut_folder = L"C:\\old";
    log.had_desktop_shortcut = false;
    log.read({});
    EXPECT_EQ(log.install_folder, L"");
    EXPECT_EQ(log.shortcut_folder, L"");
    EXPECT_TRUE(log.had_desktop_shortcut);

    log.read(folder_ / L"missing.ulog");
    EXPECT_TRUE(log.previous.empty());
    EXPECT_FALSE(log.had_desktop_shortcut);
}

// ---------------------------------------------------------------- writing

TEST_F(log_test, FirstInstallationMatchesTheFixture)
{
    const std::wstring base = L"C:\\Program Files (x86)\\Halden & Voss";
    uninstall_log log;
    log.read({});
    log.current = {
        {kind::directory, base, L"", true, -1},
        {kind::directory, base + L"\\Quillmar 3", L"", true, -1},
        {kind::file, base + L"\\Quillmar 3\\Quillmar.exe", L"", true, 1},
        {kind::menu_shortcut,
         L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quillmar 3.05c.lnk", L"", true, -1},
        {kind::uninstall_key, L"", L"", true, -1},
        {kind::associations, L"", L"", true, -1},
    };
    ASSERT_TRUE(log.write(file_, base + L"\\Quillmar 3",
                          L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"));
    const char* source = std::getenv("HV_TEST_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const std::string expected =
        read_bytes(test_support::windows_path(source) + L"\\tests\\records\\first_install.ulog");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(read_bytes(file_), expected);
    EXPECT_TRUE(log.previous.empty());
}

TEST_F(log_test, UpdateMergesTheEarlierRecords)
{
    const std::wstring base = dir(L"Halden & Voss");
    const std::wstring program = base + L"\\Quillmar 3";
    fs::create_directories(program);
    write_bytes(program + L"\\a.exe", "new");
    write_bytes(program + L"\\old.dat", "old");

    uninstall_log log;
    write_bytes(file_, utf16_bytes(
                           lines({L"// Uninstall Log File v1", warning_line, L"// Install Quillmar 3.05b",
                                  L"// Install Path : " + program, L"// Shortcut Path : C:\\menu", rule_line,
                                  L"0000:00ff:1 -- " + base, L"0001:00ff:1 -- " + program,
                                  // the same file, spelt differently
                                  L"0002:0101:1 -- " + base + L"/Quillmar 3//A.EXE",
                                  L"0003:0103:0 -- " + program + L"\\old.dat",
                                  L"0004:02ff:1 -- C:\\menu\\Quillmar 3.05b.lnk",
                                  L"0005:04ff:1 -- C:\\desk\\Quillmar.lnk",
                                  L"0006:05ff:1 -- HKEY_LOCAL_MACHINE\\...",
                                  L"0007:07ff:1 -- DirectX Update"})));
    log.read(file_);
    ASSERT_EQ(log.previous.size(), 8u);
    EXPECT_EQ(log.previous_product, L"Quillmar 3.05b");

    log.current = {
        {kind::file, program + L"\\a.exe", L"", true, 1},
        {kind::menu_shortcut, L"C:\\menu\\Quillmar 3.05c.lnk", L"", true, -1},
        {kind::uninstall_key, L"", L"", true, -1},
    };
    ASSERT_TRUE(log.write(file_, program, L"C:\\menu"));
    const std::vector<std::wstring> expected = {
        L"// Uninstall Log File v1",
        warning_line,
        L"// Install Quillmar 3.05c -- Update (Quillmar 3.05b)",
        L"// Install Path : " + program,
        L"// Shortcut Path : C:\\menu",
        rule_line,
        L"0000:0101:1 -- " + program + L"\\a.exe",
        L"0001:02ff:1 -- C:\\menu\\Quillmar 3.05c.lnk",
        L"0002:05ff:1 -- HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3",
        L"0003:00ff:1 -- " + base,
        L"0004:00ff:1 -- " + program,
        L"0005:0103:0 -- " + program + L"\\old.dat",
        L"0006:04ff:1 -- C:\\desk\\Quillmar.lnk",
        L"0007:07ff:1 -- DirectX Update",
    };
    EXPECT_EQ(written_lines(), expected);
    EXPECT_TRUE(log.previous.empty());

    // What was written reads back as the same records.
    uninstall_log again;
    again.read(file_);
    EXPECT_EQ(again.previous.size(), log.current.size());
    for (std::size_t i = 0; i < again.previous.size() && i < log.current.size(); ++i) {
        log_record r = log.current[i];
        if (r.kind == kind::uninstall_key)
            r.path.clear();
        EXPECT_EQ(again.previous[i], r) << i;
    }
    EXPECT_TRUE(again.had_desktop_shortcut);
}

TEST_F(log_test, ReadOnlyAttributesAndAnEarlierReadOnlyLog)
{
    write_bytes(file_, std::string(5000, 'x'));
    ASSERT_TRUE(SetFileAttributesW(file_.c_str(), FILE_ATTRIBUTE_READONLY));
    uninstall_log log;
    log.read({});
    log.current = {{kind::file, L"C:\\a", L"", true, 0}};
    ASSERT_TRUE(log.write(file_, L"C:\\", L""));
    const std::vector<std::wstring> written = written_lines();
    ASSERT_EQ(written.size(), 7u);
    EXPECT_EQ(written[4], L"// Shortcut Path : ");
    EXPECT_EQ(written[6], L"0000:0100:1 -- C:\\a");
    const DWORD attributes = GetFileAttributesW(file_.c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_ARCHIVE);
    if (attributes & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
        EXPECT_EQ(attributes, 0x2021u);
    else if (test_support::running_under_wine())
        GTEST_SKIP() << "Wine does not keep FILE_ATTRIBUTE_NOT_CONTENT_INDEXED (attributes "
                     << attributes << "); read-only and archive were checked";
    else
        ADD_FAILURE() << "attributes " << attributes;
}

TEST_F(log_test, WriteDiscardsTheBackupsEvenWhenItFails)
{
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "failing write" : "write");
        const fs::path backup = folder_ / L"backup.tmp";
        write_bytes(backup, "old");
        SetFileAttributesW(backup.c_str(), FILE_ATTRIBUTE_READONLY);
        uninstall_log log;
        log.current = {{kind::file, L"C:\\a", backup.wstring(), true, 0},
                       {kind::file, L"C:\\b", (folder_ / L"gone.tmp").wstring(), true, 0}};
        const fs::path target = fails ? folder_ / L"no folder" / L"Uninstall.ulog" : file_;
        EXPECT_EQ(log.write(target, L"C:\\", L"C:\\"), !fails);
        EXPECT_FALSE(fs::exists(backup));
        EXPECT_EQ(log.current[0].backup, L"");
        EXPECT_EQ(log.current[1].backup, L"");
    }
}

// ---------------------------------------------------------------- recording

TEST_F(log_test, CreateDirectoriesRecordsOutermostFirst)
{
    uninstall_log log;
    const std::wstring deep = dir(L"a\\b\\c");
    EXPECT_TRUE(log.create_directories(deep + L"\\"));
    const std::vector<log_record> expected = {
        {kind::directory, dir(L"a"), L"", true, -1},
        {kind::directory, dir(L"a\\b"), L"", true, -1},
        {kind::directory, deep, L"", true, -1},
    };
    EXPECT_EQ(log.current, expected);
    EXPECT_TRUE(fs::is_directory(deep));

    EXPECT_TRUE(log.create_directories(deep));
    EXPECT_EQ(log.current.size(), 3u) << "an existing folder is not recorded";

    write_bytes(dir(L"file"), "x");
    EXPECT_FALSE(log.create_directories(dir(L"file")));
    EXPECT_FALSE(log.create_directories(dir(L"file\\below")));
    EXPECT_EQ(log.current.size(), 3u);
}

TEST_F(log_test, CommitCompletesOnlyThePendingRecord)
{
    uninstall_log log;
    log.add_association();
    EXPECT_TRUE(log.pending);
    log.commit(true, L"C:\\given");
    EXPECT_FALSE(log.pending);
    const log_record committed{kind::associations, L"C:\\given", L"", true, -1};
    EXPECT_EQ(log.current.back(), committed);
    log.commit(false, L"C:\\other");
    EXPECT_EQ(log.current.back(), committed) << "nothing was pending";
    log.add_association();
    log.commit(false);
    EXPECT_EQ(log.current.back(), (log_record{kind::associations, L"", L"", false, -1}));
}

TEST_F(log_test, AddShortcutPutsTheEarlierShortcutAside)
{
    const fs::path menu = folder_ / L"menu";
    const fs::path old_link = menu / L"Quillmar 3.05b.lnk";
    uninstall_log log;
    log.previous = {{kind::desktop_shortcut, L"C:\\nowhere\\d.lnk", L"", true, -1},
                    {kind::menu_shortcut, old_link.wstring(), L"", true, -1}};
    log.add_shortcut(0, menu);
    ASSERT_EQ(log.current.size(), 2u);
    EXPECT_EQ(log.current[0], (log_record{kind::directory, menu.wstring(), L"", true, -1}));
    EXPECT_EQ(log.current[1], (log_record{kind::menu_shortcut, L"", L"", false, -1}));

    write_bytes(old_link, "link");
    log.add_shortcut(0, menu);
    ASSERT_EQ(log.current.size(), 3u);
    EXPECT_FALSE(fs::exists(old_link));
    EXPECT_EQ(read_bytes(log.current[2].backup), "link");
    log.commit(true, (menu / L"Quillmar 3.05c.lnk").wstring());

    log.add_shortcut(1, folder_.path());
    EXPECT_EQ(log.current.back(), (log_record{kind::desktop_shortcut, L"", L"", false, -1}))
        << "the earlier desktop shortcut is gone";
    fs::remove(log.current[2].backup);
}

// ---------------------------------------------------------------- locations

TEST_F(log_test, SameLocation)
{
    const std::wstring f = dir(L"Sub\\File.txt");
    fs::create_directories(dir(L"Sub"));
    write_bytes(f, "x");
    write_bytes(dir(L"Sub\\other.txt"), "y");
    struct location_case {
        std::wstring a;
        std::wstring b;
        bool same;
    };
    const std::vector<location_case> cases = {
        {L"C:\\a\\b", L"C:\\a\\b", true},
        {L"C:\\a\\b", L"C:/a//b", true},
        {L"C:\\a\\\\b", L"C:\\a/b", true},
        {L"C:\\missing\\B", L"c:\\MISSING\\b", true},
        {L"C:\\missing\\b", L"C:\\missing\\b\\c", false},
        {L"C:\\missing\\b.", L"C:\\missing\\b", false},
        {L"C:\\missing\\.\\b", L"C:\\missing\\b", false},
        {f, dir(L"SUB\\file.TXT"), true},
        {f, dir(L"Sub\\.\\File.txt"), true},
        {f, dir(L"Sub\\other.txt"), false},
        {dir(L"Sub"), dir(L"sub\\"), true},
        {f, dir(L"Sub\\missing.txt"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(same_location(c.a, c.b), c.same) << c.a << " vs " << c.b;
        EXPECT_EQ(same_location(c.b, c.a), c.same) << c.b << " vs " << c.a;
    }

    // Relative paths are made absolute from the current folder.
    const fs::path saved = fs::current_path();
    fs::current_path(folder_.path());
    EXPECT_TRUE(same_location(L"sub\\missing", dir(L"SUB\\Missing")));
    EXPECT_FALSE(same_location(L"sub\\missing", dir(L"sub\\missing2")));
    fs::current_path(saved);
}

}
