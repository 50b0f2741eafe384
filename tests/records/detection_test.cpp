#include "records/detection.h"

#include "identity/product.h"
#include "platform/module_path.h"
#include "platform/registry.h"
#include "log_test_support.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

#include <fstream>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::wstring product_file(const wchar_t* name)
{
    return test_support::build_file(std::wstring(L"tests\\records\\product_files\\") + name);
}

// A small file at `relative` below the scratch folder, with its folders.
fs::path touch(const scratch_folder& folder, const fs::path& relative)
{
    const fs::path file = folder.path() / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "x";
    return file;
}

constexpr std::uint64_t own = 0x0003000500030001;

TEST(ExistingState, VersionsCompareAsNumbers)
{
    struct row {
        std::optional<std::uint64_t> installed;
        std::int32_t expected;
    };
    const row rows[] = {
        {0x0003000500030002, newer_installed},
        {0x0003000A00000000, newer_installed}, // 3.10 is above 3.5, though "3.1" sorts first as text
        {0x0004000000000000, newer_installed},
        {0x0003000500030001, same_installed},
        {std::nullopt, same_installed},
        {0x0003000500020009, older_installed},
        {0x0000000000000000, older_installed},
        {0x8000000000000000, newer_installed}, // unsigned: the top bit is not a sign
    };
    for (const auto& r : rows)
        EXPECT_EQ(existing_state_for(r.installed, own), r.expected) << std::hex << r.installed.value_or(~0ull);
}

TEST(ExistingState, NameAndVersionOnlyWhereTheyAreShown)
{
    const auto name = [] { return std::wstring(L"Quillmar 9"); };
    EXPECT_EQ(classify_existing(L"", 0x0003000500020009, name, own), existing_installation{});
    EXPECT_EQ(classify_existing(L"C:\\p.exe", 0x0003000500030002, name, own),
              (existing_installation{newer_installed, L"Quillmar 9", 0}));
    EXPECT_EQ(classify_existing(L"C:\\p.exe", own, name, own), (existing_installation{same_installed, L"", 0}));
    EXPECT_EQ(classify_existing(L"C:\\p.exe", std::nullopt, name, own), (existing_installation{same_installed, L"", 0}));
    EXPECT_EQ(classify_existing(L"C:\\p.exe", 0x0003000500020009, name, own),
              (existing_installation{older_installed, L"Quillmar 9", 0x0003000500020009}));
}

TEST(ClassifyExisting, InstalledProgramFiles)
{
    struct row {
        const wchar_t* file;
        existing_installation expected;
    };
    const row rows[] = {
        {L"quillmar_3_5_3_2.exe", {newer_installed, L"Quillmar 3.05d", 0}},
        {L"quillmar_3_10_0_0.exe", {newer_installed, L"Quillmar 3.10", 0}},
        {L"quillmar_3_5_3_1.exe", {same_installed, L"", 0}},
        {L"quillmar_3_5_2_9.exe", {older_installed, L"Quillmar 3.05b", 0x0003000500020009}},
        {L"quillmar_none.exe", {same_installed, L"", 0}},
    };
    for (const auto& r : rows) {
        const std::wstring path = product_file(r.file);
        ASSERT_TRUE(fs::exists(path)) << fs::path(path).string();
        const auto found = classify_existing(path);
        EXPECT_EQ(found.state, r.expected.state) << fs::path(r.file).string();
        EXPECT_EQ(found.name, r.expected.name) << fs::path(r.file).string();
        EXPECT_EQ(found.version, r.expected.version) << fs::path(r.file).string();
    }
}

TEST(ClassifyExisting, NothingRegisteredIsNotInstalled)
{
    EXPECT_EQ(classify_existing(std::wstring()), existing_installation{});
}

TEST(ClassifyExisting, DeletedRegisteredProgramIsNotInstalledDespiteEntryAndLog)
{
    registry_sandbox sandbox(L"detection-deleted");
    sandbox.redirect_local_machine();
    scratch_folder folder(L"detection");
    const fs::path program = touch(folder, L"Quillmar 3\\quillmar.exe");
    touch(folder, L"Quillmar 3\\Uninstall.ulog");
    set_string(create_key(registry_root::local_machine, maker_key), L"Quillmar 3 Path", program.wstring());
    set_string(create_key(registry_root::local_machine,
                          L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3"),
               L"UninstallString", (program.parent_path() / L"uninstall.exe").wstring());

    ASSERT_EQ(registered_product_path(installer_product_code), program.wstring());
    fs::remove(program);
    const std::wstring registered = registered_product_path(installer_product_code);
    EXPECT_EQ(registered, L"");
    EXPECT_EQ(classify_existing(registered).state, not_installed);
}

TEST(PreviousLog, CandidatesInOrderFromTheGivenSources)
{
    const auto candidates = previous_log_candidates(std::wstring(L"C:\\P\\Quillmar 3\\uninstall.exe"),
                                                    L"c:\\p\\QUILLMAR 3\\Quillmar3Setup.exe",
                                                    L"C:\\P\\Quillmar 3\\quillmar.exe");
    const std::vector<fs::path> expected{L"C:\\P\\Quillmar 3\\Uninstall.ulog", L"c:\\p\\QUILLMAR 3\\Uninstall.ulog",
                                         L"C:\\P\\Quillmar 3\\Uninstall.ulog"};
    EXPECT_EQ(candidates, expected);
}

// A log planted beside an installer started from the downloads would steer
// the installation: that folder counts only when it is the installation's.
TEST(PreviousLog, TheInstallersFolderCountsOnlyWhenItIsTheInstallationFolder)
{
    const std::vector<fs::path> registered_only{L"C:\\P\\Quillmar 3\\Uninstall.ulog"};
    EXPECT_EQ(previous_log_candidates(std::nullopt, L"C:\\Users\\u\\Downloads\\Quillmar3Setup.exe",
                                      L"C:\\P\\Quillmar 3\\quillmar.exe"),
              registered_only);
    EXPECT_EQ(previous_log_candidates(std::nullopt, L"C:\\P\\Quillmar 3\\Lang\\Quillmar3Setup.exe",
                                      L"C:\\P\\Quillmar 3\\quillmar.exe"),
              registered_only);
    EXPECT_TRUE(previous_log_candidates(std::nullopt, L"C:\\Users\\u\\Downloads\\Quillmar3Setup.exe", L"").empty())
        << "nothing registered: no installation folder to compare with";
}

TEST(PreviousLog, EmptySourcesGiveNoCandidateInTheCurrentFolder)
{
    EXPECT_TRUE(previous_log_candidates(std::nullopt, L"D:\\S\\setup.exe", L"").empty());
    EXPECT_EQ(previous_log_candidates(std::wstring(), L"", L"C:\\Q\\q.exe"),
              std::vector<fs::path>{L"C:\\Q\\Uninstall.ulog"});
}

TEST(PreviousLog, UninstallStringIsTakenAsStored)
{
    const auto candidates =
        previous_log_candidates(std::wstring(L"\"C:\\P\\Quillmar 3\\uninstall.exe\""), L"D:\\s.exe", L"");
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_EQ(candidates[0], fs::path(L"\"C:\\P\\Quillmar 3\\Uninstall.ulog"));
}

TEST(PreviousLog, FirstExistingCandidateWins)
{
    scratch_folder folder(L"detection");
    const fs::path second = touch(folder, L"b\\Uninstall.ulog");
    const fs::path third = touch(folder, L"c\\Uninstall.ulog");
    EXPECT_EQ(first_existing({folder.path() / L"a\\Uninstall.ulog", second, third}), second.wstring());
    EXPECT_EQ(first_existing({folder.path() / L"a\\Uninstall.ulog"}), L"");
    EXPECT_EQ(first_existing({}), L"");
}

TEST(PreviousLog, QuotedUninstallStringFallsThroughToTheRegisteredProgram)
{
    registry_sandbox sandbox(L"detection-quoted");
    sandbox.redirect_local_machine();
    scratch_folder folder(L"detection");
    const fs::path log = touch(folder, L"Quillmar 3\\Uninstall.ulog");
    const fs::path program = touch(folder, L"Quillmar 3\\quillmar.exe");
    const reg_key entry = create_key(registry_root::local_machine,
                                     L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3");
    const std::wstring quoted = L"\"" + (folder.path() / L"Quillmar 3\\uninstall.exe").wstring() + L"\"";
    set_string(entry, L"UninstallString", quoted);

    EXPECT_EQ(recorded_uninstall_string(), quoted);
    EXPECT_EQ(find_previous_log(program.wstring()), log.wstring());

    // Unquoted, the entry's candidate is found first.
    const fs::path other = touch(folder, L"Uninstaller\\Uninstall.ulog");
    set_string(entry, L"UninstallString", (folder.path() / L"Uninstaller\\uninstall.exe").wstring());
    EXPECT_EQ(find_previous_log(program.wstring()), other.wstring());
}

TEST(PreviousLog, ALogPlantedBesideTheInstallerIsIgnored)
{
    registry_sandbox sandbox(L"detection-own");
    sandbox.redirect_local_machine();
    EXPECT_EQ(recorded_uninstall_string(), std::nullopt);
    scratch_folder folder(L"detection");
    const fs::path program = touch(folder, L"Quillmar 3\\quillmar.exe");
    EXPECT_EQ(find_previous_log(program.wstring()), L"");
    const fs::path log = touch(folder, L"Quillmar 3\\Uninstall.ulog");
    EXPECT_EQ(find_previous_log(program.wstring()), log.wstring());

    const fs::path own_log = fs::path(executable_path()).parent_path() / uninstall_log_name;
    ASSERT_FALSE(fs::exists(own_log));
    std::ofstream(own_log) << "x";
    const std::wstring found = find_previous_log(program.wstring());
    fs::remove(own_log);
    EXPECT_EQ(found, log.wstring()) << "the installer does not run from the installation folder";
}

TEST(LoadPreviousInstallation, OnlyStatesWithAnEarlierInstallationReadTheLog)
{
    struct row {
        std::int32_t state;
        const wchar_t* found;
        bool read;
        bool searched;
    };
    const row rows[] = {
        {newer_installed, L"C:\\x\\Uninstall.ulog", false, false},
        {not_installed, L"C:\\x\\Uninstall.ulog", false, false},
        {same_installed, L"", false, true},
        {older_installed, L"", false, true},
    };
    for (const auto& r : rows) {
        uninstall_log log;
        log.install_folder = L"kept";
        bool searched = false;
        const bool read = load_previous_installation(r.state, log, [&] {
            searched = true;
            return std::wstring(r.found);
        });
        EXPECT_EQ(read, r.read) << r.state;
        EXPECT_EQ(searched, r.searched) << r.state;
        // A state without an earlier installation resets the log; a missing log changes nothing.
        EXPECT_EQ(log.install_folder, r.searched ? L"kept" : L"") << r.state;
    }
}

}
