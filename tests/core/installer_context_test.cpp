#include "core/installer_context.h"
#include "records/backup.h"

#include "identity/product.h"
#include "platform/error_text.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/string_table.h"
#include "support/registry_sandbox.h"
#include "support/restricted_token.h"
#include "support/sync_helper_process.h"
#include "support/test_support.h"
#include "ui/window_helpers.h"

#include <cerrno>
#include <fstream>
#include <regex>
#include <vector>

#include <fmt/xchar.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

constexpr LANGID english = 0x0409, french = 0x040C, german = 0x0407;

std::wstring unique_lock_name()
{
    static int serial = 0;
    return fmt::format(L"HvContextTest.{}.{}", GetCurrentProcessId(), ++serial);
}

struct shown_box {
    std::wstring text;
    std::wstring caption;
    UINT flags;
};

// Answers the message boxes of start-up in place of the user: the scripted
// answers in order, then Cancel, so that no loop can go on for ever.
class message_boxes {
public:
    explicit message_boxes(std::vector<int> answers = {}) : answers_(std::move(answers))
    {
        ui_hooks::instance().show_message_box = [this](HWND, const wchar_t* text, const wchar_t* caption, UINT flags) {
            shown.push_back({text, caption, flags});
            if (on_show)
                on_show(shown.size());
            return shown.size() <= answers_.size() ? answers_[shown.size() - 1] : IDCANCEL;
        };
    }
    ~message_boxes() { ui_hooks::instance().show_message_box = nullptr; }

    std::vector<shown_box> shown;
    std::function<void(std::size_t)> on_show;

private:
    std::vector<int> answers_;
};

using test_support::sync_helper_process;

std::wstring folder_of(const KNOWNFOLDERID& id)
{
    std::wstring path;
    EXPECT_EQ(query_known_folder(id, path), S_OK);
    return path;
}

// A lookup in which the given folders cannot be found.
known_folder_source failing_for(std::vector<KNOWNFOLDERID> failing, HRESULT hr)
{
    return [failing, hr](const KNOWNFOLDERID& id, std::wstring& path) {
        for (const auto& f : failing)
            if (IsEqualGUID(f, id))
                return hr;
        return query_known_folder(id, path);
    };
}

startup_sources sources_for(LANGID user_language = english)
{
    startup_sources sources;
    sources.user_language = [user_language] { return user_language; };
    sources.is_administrator = [] { return true; };
    return sources;
}

class Startup : public ::testing::Test {
protected:
    void SetUp() override { processor_check_passed = true; }
    void TearDown() override { processor_check_passed = false; }

    installer_context context{unique_lock_name()};
};

TEST_F(Startup, WithoutTheProcessorCheckStopsWithUnexpectedError)
{
    processor_check_passed = false;
    message_boxes boxes;
    EXPECT_FALSE(context.initialise(sources_for()));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, error_text(static_cast<DWORD>(E_UNEXPECTED)));
    EXPECT_EQ(boxes.shown[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_FALSE(context.instance_mutex.owned());
}

TEST_F(Startup, LockHeldByAnotherProgramShowsBusy)
{
    const std::wstring lock = unique_lock_name();
    installer_context second_installer(lock);
    sync_helper_process holder(L"hold", lock);
    ASSERT_TRUE(holder.wait_ready());

    message_boxes boxes;
    EXPECT_FALSE(second_installer.initialise(sources_for()));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, error_text(ERROR_BUSY));
    EXPECT_EQ(boxes.shown[0].caption, default_caption());
    EXPECT_FALSE(second_installer.instance_mutex.owned());
}

TEST_F(Startup, WithoutAdministratorRights)
{
    auto sources = sources_for();
    sources.is_administrator = [] { return false; };
    message_boxes boxes;
    EXPECT_FALSE(context.initialise(sources));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, L"You should have Administrator Rights in order to proceed to Installation.");
    EXPECT_EQ(boxes.shown[0].caption, installer_title(true));
    EXPECT_EQ(boxes.shown[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONWARNING));
}

TEST_F(Startup, TokenWithoutAdministratorsGroup)
{
    auto sources = sources_for();
    sources.is_administrator = nullptr;
    message_boxes boxes;
    bool started = true;
    {
        test_support::without_administrators user;
        ASSERT_TRUE(user.active()) << GetLastError();
        started = context.initialise(sources);
    }
    EXPECT_FALSE(started);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, load_string(1126));
}

TEST_F(Startup, AdministratorCheckThatFailsCountsAsNoRights)
{
    auto sources = sources_for();
    sources.is_administrator = []() -> bool { throw std::system_error(E_ACCESSDENIED, std::system_category()); };
    message_boxes boxes;
    EXPECT_FALSE(context.initialise(sources));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, load_string(1126));
}

TEST_F(Startup, RunningProductAsksAgainOnRetryAndCancelEnds)
{
    sync_helper_process product(L"count", instance_counter_name(application_id()));
    ASSERT_TRUE(product.wait_ready());

    message_boxes boxes({IDRETRY, IDRETRY, IDCANCEL});
    EXPECT_FALSE(context.initialise(sources_for()));
    ASSERT_EQ(boxes.shown.size(), 3u);
    for (const auto& box : boxes.shown) {
        EXPECT_EQ(box.text, L"You should close 'Quillmar' before continuing Installation.");
        EXPECT_EQ(box.caption, installer_title(true));
        EXPECT_EQ(box.flags, static_cast<UINT>(MB_ICONWARNING | MB_RETRYCANCEL));
    }
    EXPECT_EQ(application_instance_counter().running_count(), 2);
}

TEST_F(Startup, RetryAfterTheProductEndedGoesOn)
{
    sync_helper_process product(L"count", instance_counter_name(application_id()));
    ASSERT_TRUE(product.wait_ready());

    message_boxes boxes({IDRETRY});
    boxes.on_show = [&](std::size_t) { product.finish(); };
    EXPECT_TRUE(context.initialise(sources_for()));
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(application_instance_counter().running_count(), 1);
}

TEST_F(Startup, WithoutEarlierInstallationProposesTheDefaults)
{
    message_boxes boxes;
    context.menu_shortcut = context.desktop_shortcut = context.advanced = true;
    ASSERT_TRUE(context.initialise(sources_for()));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(context.instance_mutex.owned());
    EXPECT_EQ(context.existing_state, not_installed);
    EXPECT_EQ(context.existing_name, L"");
    EXPECT_EQ(context.existing_version, 0u);

    const fs::path program_files = folder_of(FOLDERID_ProgramFiles);
    EXPECT_EQ(context.install_folder, (program_files / L"Halden & Voss" / L"Quillmar 3").wstring());
    EXPECT_EQ(context.menu_folder, folder_of(FOLDERID_CommonPrograms));
    if (test_support::running_under_wine()) {
        EXPECT_EQ(context.install_folder, L"C:\\Program Files\\Halden & Voss\\Quillmar 3");
        EXPECT_EQ(context.menu_folder, L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
    }
    EXPECT_TRUE(context.menu_shortcut);
    EXPECT_TRUE(context.desktop_shortcut);
    EXPECT_FALSE(context.advanced);
    EXPECT_EQ(context.temporary_folder, L"");
    EXPECT_FALSE(context.installed);
}

TEST_F(Startup, CommonProgramsMissingFallsBackToTheUsersProgramsSilently)
{
    message_boxes boxes;
    auto sources = sources_for();
    sources.known_folder = failing_for({FOLDERID_CommonPrograms}, E_FAIL);
    ASSERT_TRUE(context.initialise(sources));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(context.menu_folder, folder_of(FOLDERID_Programs));
}

TEST_F(Startup, MissingFoldersShowTheSystemTextAndStop)
{
    const HRESULT not_found = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    const std::vector<KNOWNFOLDERID> failing[] = {
        {FOLDERID_ProgramFiles},
        {FOLDERID_CommonPrograms, FOLDERID_Programs},
    };
    for (const auto& folders : failing) {
        installer_context run(unique_lock_name());
        auto sources = sources_for();
        sources.known_folder = failing_for(folders, not_found);
        message_boxes boxes;
        EXPECT_FALSE(run.initialise(sources));
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, system_error_text(static_cast<DWORD>(not_found), 0));
        EXPECT_EQ(boxes.shown[0].caption, installer_title(true));
        EXPECT_EQ(boxes.shown[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONWARNING));
    }
}

// What the Uninstall entry holds as the earlier installation's language.
struct language_case {
    const char* what;
    LANGID user;
    std::function<void(const reg_key& entry)> record; // null: no entry at all
    std::vector<language_index> changes;
};

TEST_F(Startup, LanguageOfTheEarlierInstallation)
{
    const language_case cases[] = {
        {"no entry", german, nullptr, {2}},
        {"entry without value", german, [](const reg_key&) {}, {2}},
        {"product language without installer texts", french,
         [](const reg_key& entry) { set_dword(entry, L"HvLanguage", 15); }, {15, 1}},
        {"installer language", english, [](const reg_key& entry) { set_dword(entry, L"HvLanguage", 2); }, {1, 2}},
        {"unreadable value", german,
         [](const reg_key& entry) {
             const std::uint64_t too_large = 0x100000000;
             RegSetValueExW(entry.get(), L"HvLanguage", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&too_large), 8);
         },
         {2}},
    };
    for (const auto& c : cases) {
        registry_sandbox sandbox(L"context-language");
        sandbox.redirect_local_machine();
        if (c.record)
            c.record(create_key(registry_root::local_machine,
                                L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3"));
        set_language(0);
        std::vector<language_index> changes;
        auto& locale = locale_state::instance();
        const auto connection = locale.language_changed.connect([&] { changes.push_back(locale.current); });

        installer_context run(unique_lock_name());
        message_boxes boxes;
        EXPECT_TRUE(run.initialise(sources_for(c.user))) << c.what;
        locale.language_changed.disconnect(connection);
        EXPECT_EQ(changes, c.changes) << c.what;
        EXPECT_TRUE(boxes.shown.empty()) << c.what;
    }
}

TEST(InstallerContext, CreatingTheRecordSetsTheProductCode)
{
    product_code = 0x600;
    installer_context context(unique_lock_name());
    EXPECT_EQ(product_code, 259u);
    EXPECT_FALSE(context.instance_mutex.owned());
    EXPECT_NE(context.instance_mutex.handle(), nullptr);
}

TEST(InstallerContext, InstanceIsOneRecordNamedAfterTheApplication)
{
    auto& first = installer_context::instance();
    EXPECT_EQ(&first, &installer_context::instance());
    EXPECT_EQ(application_id(), L"test_core_installer_context");
    const kernel_handle lock(OpenMutexW(SYNCHRONIZE, FALSE, (L"Global\\" + installation_lock_name(application_id())).c_str()));
    EXPECT_TRUE(lock) << GetLastError();
}

TEST(InstallerContext, EarlierInstallationFromTheRegisteredProgram)
{
    struct row {
        const wchar_t* file;
        std::int32_t state;
        const wchar_t* name;
        std::uint64_t version;
    };
    const row rows[] = {
        {L"quillmar_3_5_3_2.exe", newer_installed, L"Quillmar 3.05d", 0},
        {L"quillmar_3_5_3_1.exe", same_installed, L"", 0},
        {L"quillmar_3_5_2_9.exe", older_installed, L"Quillmar 3.05b", 0x0003000500020009},
        {L"quillmar_none.exe", same_installed, L"", 0},
        {L"", not_installed, L"", 0},
    };
    for (const auto& r : rows) {
        installer_context context(unique_lock_name());
        const std::wstring file = *r.file ? test_support::build_file(std::wstring(L"tests\\records\\product_files\\") + r.file)
                                          : std::wstring();
        context.classify_existing(file);
        EXPECT_EQ(context.existing_state, r.state) << fs::path(r.file).string();
        EXPECT_EQ(context.existing_name, r.name) << fs::path(r.file).string();
        EXPECT_EQ(context.existing_version, r.version) << fs::path(r.file).string();
    }
}

TEST(InstallerContext, NoLogFoundKeepsTheOptions)
{
    installer_context context(unique_lock_name());
    context.existing_state = older_installed;
    context.desktop_shortcut = false;
    context.load_previous_installation([] { return std::wstring(); });
    EXPECT_EQ(context.install_folder, L"");
    EXPECT_EQ(context.menu_folder, L"");
    EXPECT_FALSE(context.desktop_shortcut);
}

TEST(TemporaryFolder, NamedWithARandomUuidInThePrivateStorageFolder)
{
    installer_context context(unique_lock_name());
    std::wstring error;
    ASSERT_TRUE(context.make_temporary_folder(error));
    const fs::path first = context.temporary_folder;
    EXPECT_EQ(error, L"");
    EXPECT_TRUE(std::regex_match(first.filename().string(),
                                 std::regex(R"(halden_\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\})")))
        << first.string();
    EXPECT_EQ(first.parent_path(), fs::path(private_storage_folder()()));
    EXPECT_TRUE(first.parent_path().wstring().ends_with(L"\\Halden & Voss Setup")) << first.string();
    EXPECT_FALSE(fs::exists(first)) << "the folder is only named";

    ASSERT_TRUE(context.make_temporary_folder(error));
    EXPECT_NE(fs::path(context.temporary_folder), first);
}

TEST(TemporaryFolder, NoPrivateStorageGivesTheWindowsErrorCode)
{
    const auto saved = private_storage_folder();
    private_storage_folder() = [] { return std::wstring(); };
    installer_context context(unique_lock_name());
    std::wstring error;
    EXPECT_FALSE(context.make_temporary_folder(error));
    private_storage_folder() = saved;
    EXPECT_EQ(error, L"00000003 (private_storage_folder)");
    EXPECT_EQ(context.temporary_folder, L"");
}

TEST(TemporaryFolder, FileErrorsReadAsWindowsErrors)
{
    const struct {
        std::error_code error;
        DWORD windows;
    } cases[] = {
        {{EACCES, std::generic_category()}, ERROR_ACCESS_DENIED},
        {{EPERM, std::generic_category()}, ERROR_ACCESS_DENIED},
        {{ENOENT, std::generic_category()}, ERROR_PATH_NOT_FOUND},
        {{ENOTDIR, std::generic_category()}, ERROR_DIRECTORY},
        {{ENAMETOOLONG, std::generic_category()}, ERROR_FILENAME_EXCED_RANGE},
        {{ENOSPC, std::generic_category()}, ERROR_DISK_FULL},
        {{ERROR_ACCESS_DENIED, std::system_category()}, ERROR_ACCESS_DENIED},
        {{ERROR_SHARING_VIOLATION, std::system_category()}, ERROR_SHARING_VIOLATION},
    };
    for (const auto& c : cases)
        EXPECT_EQ(temporary_folder_error(c.error), c.windows) << c.error.category().name() << " " << c.error.value();
}

}
