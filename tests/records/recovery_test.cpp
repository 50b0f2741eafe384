#include "records/recovery.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "records/backup.h"
#include "records/log_test_support.h"
#include "records/recovery_journal.h"
#include "support/registry_sandbox.h"

namespace {

namespace fs = std::filesystem;

const std::vector<journal_step> every_kind{
    journal_begin{L"C:\\Program Files\\Halden & Voss\\Quillmar 3", L"C:\\Start\\Quillmar 3", L"C:\\Desktop"},
    journal_folder{L"C:\\Program Files\\Halden & Voss\\Quillmar 3\\Lang"},
    journal_file{record_kind::file, L"C:\\Program Files\\Halden & Voss\\Quillmar 3\\Quillmar.exe",
                 L"C:\\ProgramData\\Setup\\halden_{1}\\hv-0a1b2.tmp", content_sum{123456789012ull, 0xDEADBEEF}},
    journal_file{record_kind::desktop_shortcut, L"C:\\Desktop\\100% \u00e9t\u00e9\tnew\nline.lnk", L"", std::nullopt},
    journal_key_values{L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3", true,
                       {{L"DisplayName", REG_SZ, {0x51, 0x00, 0x00, 0x00}}, {L"NoModify", REG_DWORD, {1, 0, 0, 0}}}},
    journal_key_values{L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3", false, {}},
    journal_registry_key{L"Software\\Classes\\.qmd"},
    journal_registry_value{L"Software\\Classes\\.qmd", L"", DWORD{REG_SZ}, {0x41, 0x00, 0x00, 0x00}},
    journal_registry_value{L"Software\\Halden & Voss", L"Quillmar 3 Path", std::nullopt, {}},
    journal_registry_value{L"Software\\Classes\\.qmd\\OpenWithProgids", L"Quillmar.Document.3", DWORD{REG_NONE}, {}},
    journal_commit{},
};

std::string text_of(const std::vector<journal_step>& steps, std::vector<std::size_t>* line_ends = nullptr)
{
    std::string bytes;
    for (const journal_step& step : steps) {
        bytes += journal_line(step);
        if (line_ends)
            line_ends->push_back(bytes.size());
    }
    return bytes;
}

TEST(recovery_journal, EveryKindOfStepReadsBackAsWritten)
{
    EXPECT_EQ(read_journal(text_of(every_kind)), every_kind);
}

TEST(recovery_journal, AJournalCutAtAnyByteReadsAsTheStepsBeforeTheCut)
{
    std::vector<std::size_t> line_ends;
    const std::string bytes = text_of(every_kind, &line_ends);
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        const auto whole = static_cast<std::size_t>(
            std::upper_bound(line_ends.begin(), line_ends.end(), cut) - line_ends.begin());
        const std::vector<journal_step> expected(every_kind.begin(), every_kind.begin() + whole);
        ASSERT_EQ(read_journal(std::string_view(bytes).substr(0, cut)), expected) << "cut at byte " << cut;
    }
}

TEST(recovery_journal, ADamagedLineEndsTheReadingThere)
{
    std::vector<std::size_t> line_ends;
    const std::string bytes = text_of(every_kind, &line_ends);
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        std::string damaged = bytes;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x01);
        const auto line = static_cast<std::size_t>(
            std::upper_bound(line_ends.begin(), line_ends.end(), at) - line_ends.begin());
        const std::vector<journal_step> before(every_kind.begin(), every_kind.begin() + line);
        const auto read = read_journal(damaged);
        // A flipped bit either breaks its line or, in the line feed, joins two.
        ASSERT_LE(read.size(), line) << "damage at byte " << at;
        ASSERT_TRUE(std::equal(read.begin(), read.end(), before.begin())) << "damage at byte " << at;
    }
}

// Only a change that could lose what stood before waits for the disk; a
// new file or folder is at worst left behind.
TEST(recovery_journal, LinesThatMustReachTheDiskFirst)
{
    const bool expected[] = {false, false, true, false, true, true, true, true, true, true, true};
    ASSERT_EQ(std::size(expected), every_kind.size());
    for (std::size_t i = 0; i < every_kind.size(); ++i)
        EXPECT_EQ(journal_line_must_reach_disk(every_kind[i]), expected[i]) << journal_line(every_kind[i]);
}

TEST(recovery_journal, AWriterAppendsWholeLinesToANewFileOnly)
{
    scratch_folder scratch{L"journal writer"};
    const std::wstring path = (scratch / L"journal.log").wstring();
    {
        journal_writer writer(path);
        for (const journal_step& step : every_kind)
            writer.append(step);
        EXPECT_THROW(journal_writer{path}, std::system_error) << "an existing journal is never taken over";
    }
    const auto bytes = read_journal_file(path);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(read_journal(*bytes), every_kind);
}

// ------------------------------------------------------------ undoing

class journal_undo_test : public ::testing::Test {
protected:
    scratch_folder scratch_{L"journal undo"};
    fs::path install_ = scratch_ / L"Programs\\Quillmar 3";
    fs::path common_data_ = scratch_ / L"Common";
    fs::path desktop_ = scratch_ / L"Desktop";
    fs::path run_ = scratch_ / L"Storage\\halden_{test}";
    fs::path outside_ = scratch_ / L"Elsewhere";
    bool made_ = fs::create_directories(install_) && fs::create_directories(common_data_) &&
                 fs::create_directories(desktop_) && fs::create_directories(run_) && fs::create_directories(outside_);
    registry_sandbox registry_{L"recovery"};
    recovery_places places_{[this](int csidl) -> std::wstring {
                                switch (csidl) {
                                case CSIDL_COMMON_APPDATA:
                                    return common_data_.wstring();
                                case CSIDL_COMMON_DESKTOPDIRECTORY:
                                    return desktop_.wstring();
                                default:
                                    return {};
                                }
                            },
                            {}};

    void SetUp() override
    {
        ASSERT_TRUE(made_);
        places_.registry_roots = {L"Classes\\.qmd"};
        registry_.redirect_local_machine();
    }

    journal_begin begin() const { return {install_.wstring(), L"", desktop_.wstring()}; }

    static void write(const fs::path& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    static std::string read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(journal_undo_test, OriginalsComeBackAndWhatTheRunCreatedGoes)
{
    const fs::path replaced = install_ / L"Quillmar.exe";
    const fs::path created_folder = install_ / L"Lang";
    const fs::path created = created_folder / L"Quillmar.de.dll";
    const fs::path backup = run_ / L"hv-00001.tmp";
    const fs::path never_moved = install_ / L"Readme.txt";
    write(backup, "the user's earlier program");
    write(replaced, "half of the new progr");
    fs::create_directories(created_folder);
    write(created, "new");
    write(never_moved, "still the earlier readme");
    const std::vector<journal_step> steps{
        begin(),
        journal_file{record_kind::file, replaced.wstring(), backup.wstring(), content_sum{26, 0}},
        journal_folder{created_folder.wstring()},
        journal_file{record_kind::file, created.wstring(), L"", std::nullopt},
        // Announced, but the run ended before the original was moved.
        journal_file{record_kind::file, never_moved.wstring(), (run_ / L"hv-00002.tmp").wstring(), std::nullopt},
    };
    auto with_sum = steps;
    std::get<journal_file>(with_sum[1]).backup_sum = file_content_sum(backup.wstring());

    EXPECT_TRUE(undo_journal(with_sum, run_.wstring(), places_).empty());
    EXPECT_EQ(read(replaced), "the user's earlier program");
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_FALSE(fs::exists(created_folder));
    EXPECT_EQ(read(never_moved), "still the earlier readme");
    // Undoing again (a recovery itself ended part-way) changes nothing more.
    EXPECT_TRUE(undo_journal(with_sum, run_.wstring(), places_).empty());
    EXPECT_EQ(read(replaced), "the user's earlier program");
}

TEST_F(journal_undo_test, ACommittedRunIsLeftAsItStands)
{
    const fs::path created = install_ / L"Quillmar.exe";
    write(created, "the new program");
    const std::vector<journal_step> steps{begin(), journal_file{record_kind::file, created.wstring(), L"", std::nullopt},
                                          journal_commit{}};
    EXPECT_TRUE(undo_journal(steps, run_.wstring(), places_).empty());
    EXPECT_EQ(read(created), "the new program");
}

TEST_F(journal_undo_test, StepsNamingPlacesOutsideTheRunsFoldersAreNeverActedOn)
{
    const fs::path victim = outside_ / L"system.dll";
    const fs::path foreign_backup = outside_ / L"hv-00003.tmp";
    const fs::path example_target = install_ / L"Letter.qmd";
    write(victim, "keep me");
    write(foreign_backup, "planted");
    write(example_target, "the user's letter");
    const std::vector<std::pair<const char*, journal_step>> hostile{
        {"a file outside", journal_file{record_kind::file, victim.wstring(), L"", std::nullopt}},
        {"a folder outside", journal_folder{outside_.wstring()}},
        {"a way up", journal_file{record_kind::file, (install_ / L"..\\..\\Elsewhere\\system.dll").wstring(), L"",
                                  std::nullopt}},
        {"a backup outside the run",
         journal_file{record_kind::file, example_target.wstring(), foreign_backup.wstring(), std::nullopt}},
        {"a shortcut that is no link", journal_file{record_kind::desktop_shortcut, (desktop_ / L"x.exe").wstring(),
                                                    L"", std::nullopt}},
        {"a relative path", journal_file{record_kind::file, L"Elsewhere\\system.dll", L"", std::nullopt}},
        {"a key outside", journal_registry_value{L"Other", L"v", std::nullopt, {}}},
        {"a key climbing out", journal_registry_key{L"Classes\\.qmd\\..\\..\\Other"}},
    };
    HKEY other = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Other", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &other, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(other, L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    RegCloseKey(other);
    for (const auto& [what, step] : hostile) {
        const auto left = undo_journal({begin(), step}, run_.wstring(), places_);
        EXPECT_EQ(left.size(), 1u) << what;
    }
    EXPECT_EQ(read(victim), "keep me");
    EXPECT_EQ(read(foreign_backup), "planted");
    EXPECT_EQ(read(example_target), "the user's letter");
    EXPECT_TRUE(fs::exists(outside_));
    DWORD size = 0;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, L"Other", L"v", RRF_RT_ANY, nullptr, nullptr, &size), ERROR_SUCCESS)
        << "a value outside the registration's keys stays";
    // Without its first step a journal names no folder at all.
    EXPECT_EQ(undo_journal({journal_file{record_kind::file, victim.wstring(), L"", std::nullopt}}, run_.wstring(),
                           places_)
                  .size(),
              1u);
    EXPECT_EQ(read(victim), "keep me");
}

TEST_F(journal_undo_test, RegistryValuesAndKeysComeBackAsTheyWere)
{
    const std::wstring root = L"Classes\\.qmd";
    const std::wstring created = root + L"\\OpenWithProgids";
    // Before the run: the root key with another program's document type.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, root.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const std::wstring earlier = L"Other.Document";
    RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(earlier.c_str()),
                   static_cast<DWORD>((earlier.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);

    scratch_folder scratch{L"journal registry"};
    const std::wstring journal_path = (scratch / L"journal.log").wstring();
    {
        journal_writer writer(journal_path);
        writer.append(begin());
        journal_registry_places(writer, {{root, L""}, {created, L"Quillmar.Document.3"}}, places_.registry_roots);
    }
    // The run writes its values.
    const std::wstring ours = L"Quillmar.Document.3";
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, root.c_str(), L"", REG_SZ, ours.c_str(),
                              static_cast<DWORD>((ours.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, created.c_str(), ours.c_str(), REG_NONE, nullptr, 0),
              ERROR_SUCCESS);

    const auto steps = read_journal(*read_journal_file(journal_path));
    ASSERT_EQ(steps.size(), 4u) << "begin, the missing key, two values:\n" << *read_journal_file(journal_path);
    EXPECT_TRUE(undo_journal(steps, run_.wstring(), places_).empty());

    wchar_t value[64] = {};
    DWORD size = sizeof value;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, root.c_str(), L"", RRF_RT_REG_SZ, nullptr, value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(value), earlier);
    HKEY gone = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, created.c_str(), 0, KEY_READ, &gone), ERROR_SUCCESS)
        << "the key the run created is gone";
}

TEST_F(journal_undo_test, TheUninstallEntryHoldsExactlyItsEarlierValuesOrGoes)
{
    const std::wstring entry = product_uninstall_key();
    const auto set = [&](const wchar_t* name, const std::wstring& text) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, entry.c_str(), name, REG_SZ, text.c_str(),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    };
    const journal_key_values absent = key_values_of(entry);
    EXPECT_FALSE(absent.existed);
    set(L"DisplayName", L"Quillmar 3.05b");
    set(L"Publisher", L"Halden & Voss");
    const journal_key_values earlier = key_values_of(entry);
    ASSERT_TRUE(earlier.existed);
    ASSERT_EQ(earlier.values.size(), 2u);
    // The run writes its own entry over it.
    set(L"DisplayName", L"Quillmar 3.05c");
    set(L"DisplayVersion", L"3.5.3.1");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, entry.c_str(), L"Publisher");

    EXPECT_TRUE(undo_journal({begin(), earlier}, run_.wstring(), places_).empty());
    EXPECT_EQ(key_values_of(entry), earlier);
    EXPECT_TRUE(undo_journal({begin(), absent}, run_.wstring(), places_).empty());
    EXPECT_FALSE(key_values_of(entry).existed);
}

TEST_F(journal_undo_test, TheStorageIsSweptOfUndoneRunsAndEmptyOnes)
{
    const fs::path storage = run_.parent_path();
    const std::function<std::wstring()> saved = private_storage_folder();
    private_storage_folder() = [&] { return storage.wstring(); };
    const fs::path created = install_ / L"Quillmar.exe";
    write(created, "new");
    {
        journal_writer writer((run_ / recovery_journal_name).wstring());
        writer.append(begin());
        writer.append(journal_file{record_kind::file, created.wstring(), L"", std::nullopt});
    }
    write(run_ / L"hv-12345.tmp", "a copy of a kept file");
    const fs::path empty_run = storage / L"halden_{empty}";
    fs::create_directories(empty_run);

    const recovery_report report = recover_interrupted_runs(places_);
    private_storage_folder() = saved;
    EXPECT_EQ(report.undone, 1);
    EXPECT_TRUE(report.left.empty());
    EXPECT_FALSE(fs::exists(created));
    EXPECT_FALSE(fs::exists(storage)) << "the run folders and then the storage itself are gone";
}

// Another installation running beside this one (another of the maker's
// products, with a lock of its own) holds its run folders: its journal,
// not committed yet, is not undone, and its folders, with a journal or not
// yet, are not removed, until the run lets go of them.
TEST_F(journal_undo_test, RunFoldersHeldByARunningInstallationAreLeftAlone)
{
    const fs::path storage = run_.parent_path();
    const std::function<std::wstring()> saved = private_storage_folder();
    private_storage_folder() = [&] { return storage.wstring(); };
    const fs::path created = install_ / L"Quillmar.exe";
    write(created, "new");
    const fs::path starting_run = storage / L"halden_{starting}";
    fs::create_directories(starting_run);
    run_folder_hold running(run_.wstring());
    run_folder_hold starting(starting_run.wstring());
    EXPECT_TRUE(run_folder_in_use(run_.wstring()));
    {
        journal_writer writer((run_ / recovery_journal_name).wstring());
        writer.append(begin());
        writer.append(journal_file{record_kind::file, created.wstring(), L"", std::nullopt});

        const recovery_report report = recover_interrupted_runs(places_);
        EXPECT_EQ(report.undone, 0);
        EXPECT_TRUE(fs::exists(created));
        EXPECT_TRUE(fs::exists(run_ / recovery_journal_name));
        EXPECT_TRUE(fs::exists(starting_run));
    }
    running.release();
    starting.release();
    EXPECT_FALSE(run_folder_in_use(run_.wstring()));

    const recovery_report report = recover_interrupted_runs(places_);
    private_storage_folder() = saved;
    EXPECT_EQ(report.undone, 1);
    EXPECT_FALSE(fs::exists(created));
    EXPECT_FALSE(fs::exists(storage));
}

}
