// The wizard's decisions as plain functions: page sequences, buttons, the
// exit question, the remembered size and the typed installation folder.
#include "records/detection.h"
#include "support/registry_sandbox.h"
#include "ui/dlg_main.h"
#include "ui/dlg_options.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace {

TEST(WizardSequence, NextAndBackFollowTheMode)
{
    struct step {
        int from;
        bool advanced;
        int next;
        int back;
    };
    const step steps[]{
        {start_page, false, mode_page, -1},         {start_page, true, mode_page, -1},
        {mode_page, false, install_page, start_page}, {mode_page, true, options_page, start_page},
        {options_page, true, install_page, mode_page}, {install_page, false, end_page, mode_page},
        {install_page, true, end_page, options_page}, {end_page, false, 5, install_page},
        {end_page, true, 5, install_page},
    };
    for (const step& s : steps) {
        SCOPED_TRACE(testing::Message() << "page " << s.from << (s.advanced ? " advanced" : " quick"));
        EXPECT_EQ(next_page(s.from, s.advanced), s.next);
        if (s.from != start_page) {
            EXPECT_EQ(previous_page(s.from, s.advanced), s.back);
        }
    }
}

TEST(WizardSequence, QuickAndAdvancedWalkThroughTheirPages)
{
    for (bool advanced : {false, true}) {
        std::vector<int> visited{start_page};
        while (visited.back() != end_page && visited.size() < 10)
            visited.push_back(next_page(visited.back(), advanced));
        const std::vector<int> expected = advanced
            ? std::vector<int>{start_page, mode_page, options_page, install_page, end_page}
            : std::vector<int>{start_page, mode_page, install_page, end_page};
        EXPECT_EQ(visited, expected) << (advanced ? "advanced" : "quick");
    }
}

TEST(WizardButtons, EachPageBeforeAndAfterTheInstallation)
{
    struct row {
        int page;
        bool installed;
        wizard_buttons expected;
    };
    const row rows[]{
        {start_page, false, {1006, 1002, false, true, IDOK}},
        {mode_page, false, {1006, 1002, true, true, IDOK}},
        {options_page, false, {1006, 1002, true, true, IDOK}},
        {install_page, false, {1007, 1002, true, true, IDOK}},
        {install_page, true, {1006, 1004, false, true, IDOK}},
        {end_page, true, {1006, 1004, true, false, IDCANCEL}},
        {end_page, false, {1006, 1002, true, false, IDCANCEL}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << "page " << r.page << (r.installed ? " installed" : ""));
        const wizard_buttons b = buttons_for(r.page, r.installed);
        EXPECT_EQ(b.next_text, r.expected.next_text);
        EXPECT_EQ(b.exit_text, r.expected.exit_text);
        EXPECT_EQ(b.back_enabled, r.expected.back_enabled);
        EXPECT_EQ(b.next_enabled, r.expected.next_enabled);
        EXPECT_EQ(b.default_button, r.expected.default_button);
    }
}

TEST(WizardExit, AsksUnlessNothingCanBeLost)
{
    struct row {
        bool installed;
        std::int32_t state;
        int page;
        bool asks;
    };
    const row rows[]{
        {false, not_installed, start_page, true},   {false, not_installed, install_page, true},
        {true, not_installed, install_page, false}, {true, not_installed, end_page, false},
        {false, newer_installed, start_page, false}, {false, same_installed, start_page, false},
        {false, same_installed, mode_page, true},   {false, older_installed, start_page, true},
    };
    for (const row& r : rows)
        EXPECT_EQ(exit_needs_question(r.installed, r.state, r.page), r.asks)
            << "installed " << r.installed << ", state " << r.state << ", page " << r.page;
}

TEST(WizardSize, StoredSizeNeverBelowTheMinimum)
{
    struct row {
        std::optional<SIZE> stored;
        SIZE expected;
    };
    const SIZE minimum{500, 300};
    const row rows[]{
        {std::nullopt, {500, 300}},
        {SIZE{800, 600}, {800, 600}},
        {SIZE{100, 100}, {500, 300}},
        {SIZE{900, 100}, {900, 300}},
        {SIZE{-5, 400}, {500, 400}},
    };
    for (const row& r : rows) {
        const SIZE size = wanted_size(minimum, r.stored);
        EXPECT_EQ(size.cx, r.expected.cx);
        EXPECT_EQ(size.cy, r.expected.cy);
    }
}

// The size a page's template asks for, from either form of dialog template.
TEST(WizardSize, DialogTemplateUnitsComeFromEitherForm)
{
    const auto bytes = [](std::initializer_list<int> values) {
        std::vector<std::byte> out;
        for (int v : values)
            out.push_back(static_cast<std::byte>(v));
        return out;
    };
    // style, extended style, item count, x, y, cx = 251, cy = 84
    const auto plain = bytes({0, 0, 0, 0x50, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 251, 0, 84, 0});
    // version 1, signature, help id, extended style, style, item count, x, y, cx = 279, cy = 82
    const auto extended = bytes({1, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x50, 3, 0, 0, 0, 0, 0,
                                 0x17, 0x01, 82, 0});
    struct row {
        const char* what;
        std::vector<std::byte> template_bytes;
        std::optional<SIZE> expected;
    };
    const row rows[]{
        {"a plain template", plain, SIZE{251, 84}},
        {"an extended template", extended, SIZE{279, 82}},
        {"a plain template cut short", {plain.begin(), plain.end() - 1}, std::nullopt},
        {"an extended template cut short", {extended.begin(), extended.end() - 1}, std::nullopt},
        {"a negative width", bytes({0, 0, 0, 0x50, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0xFF, 0xFF, 84, 0}), std::nullopt},
        {"nothing", {}, std::nullopt},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::optional<SIZE> units = dialog_template_units(r.template_bytes);
        ASSERT_EQ(units.has_value(), r.expected.has_value());
        if (units) {
            EXPECT_EQ(units->cx, r.expected->cx);
            EXPECT_EQ(units->cy, r.expected->cy);
        }
    }
}

// "InstallerSize" under the current user, read and written with HKEY_CURRENT_USER
// redirected into a key of this test.
class InstallerSizeValue : public testing::Test {
protected:
    registry_sandbox sandbox{L"wizard size"};

    void SetUp() override { ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, sandbox.key()), ERROR_SUCCESS); }
    void TearDown() override { RegOverridePredefKey(HKEY_CURRENT_USER, nullptr); }

    void store(DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(sandbox.key(), L"Software\\Halden & Voss", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, L"InstallerSize", 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
};

TEST_F(InstallerSizeValue, OnlyEightBinaryBytesCount)
{
    EXPECT_FALSE(stored_installer_size()) << "no key";

    const std::int32_t pair[2]{640, 480};
    store(REG_BINARY, pair, sizeof pair);
    const auto read = stored_installer_size();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->cx, 640);
    EXPECT_EQ(read->cy, 480);

    const std::int32_t three[3]{640, 480, 1};
    store(REG_BINARY, three, sizeof three);
    EXPECT_FALSE(stored_installer_size()) << "12 bytes";

    const DWORD number = 640;
    store(REG_DWORD, &number, sizeof number);
    EXPECT_FALSE(stored_installer_size()) << "REG_DWORD";

    store(REG_QWORD, pair, sizeof pair);
    EXPECT_FALSE(stored_installer_size()) << "REG_QWORD of 8 bytes";
}

TEST_F(InstallerSizeValue, StoredAsWidthThenHeight)
{
    store_installer_size({1024, -7});
    std::int32_t pair[2]{};
    DWORD type = 0;
    DWORD size = sizeof pair;
    ASSERT_EQ(RegGetValueW(sandbox.key(), L"Software\\Halden & Voss", L"InstallerSize", RRF_RT_ANY, &type,
                           pair, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(pair[0], 1024);
    EXPECT_EQ(pair[1], -7);
}

TEST(WizardAbout, MenuItemReadingOrder)
{
    EXPECT_EQ(about_item_text(L"About 'Installer'", false), L"&About 'Installer'...");
    EXPECT_EQ(about_item_text(L"About 'Installer'", true), L"...About 'Installer'");
}

TEST(WizardAbout, CentredOnTheParentTruncatingHalves)
{
    struct row {
        RECT box, parent, expected;
    };
    const row rows[]{
        {{0, 0, 100, 50}, {0, 0, 300, 250}, {100, 100, 200, 150}},
        {{0, 0, 101, 51}, {0, 0, 300, 250}, {99, 99, 200, 150}},
        {{500, 500, 600, 560}, {-301, -201, 0, 0}, {-200, -130, -100, -70}},
    };
    for (const row& r : rows) {
        const RECT c = centred_on(r.box, r.parent);
        EXPECT_EQ(c.left, r.expected.left);
        EXPECT_EQ(c.top, r.expected.top);
        EXPECT_EQ(c.right, r.expected.right);
        EXPECT_EQ(c.bottom, r.expected.bottom);
    }
}

TEST(TypedInstallFolder, JoinedUnderProgramFilesAndNormalised)
{
    struct row {
        const wchar_t* typed;
        const wchar_t* program_files;
        const wchar_t* expected;
    };
    const row rows[]{
        {L"Tools\\Quillmar", L"C:\\Program Files", L"C:\\Program Files\\Tools\\Quillmar"},
        {L"C:/Apps//Quillmar/./x/..", L"C:\\Program Files", L"C:\\Apps\\Quillmar\\"},
        {L"\\Apps\\Quillmar", L"D:\\Program Files", L"D:\\Apps\\Quillmar"},
        {L"E:\\Data\\..\\Quillmar", L"C:\\Program Files", L"E:\\Quillmar"},
        {L"\\\\server\\share\\Quillmar", L"C:\\Program Files", L"\\\\server\\share\\Quillmar"},
        {L"C:\\..\\..\\Quillmar", L"C:\\Program Files", L"C:\\Quillmar"},
        {L"..\\Quillmar", L"C:\\Program Files", L"C:\\Quillmar"},
        {L"a\\..", L"", L"."},
        {L"Quillmar", L"", L"Quillmar"},
        {L"", L"C:\\Program Files", L"C:\\Program Files\\"},
        {L"C:\\Apps\\Quillmar\\..", L"C:\\Program Files", L"C:\\Apps\\"},
        {L"..\\", L"", L".."},
        {L"a\\.", L"", L"a\\"},
        {L"D:Quillmar", L"C:\\Program Files", L"D:Quillmar"},
        {L"c:Quillmar", L"C:\\Program Files", L"C:\\Program Files\\Quillmar"},
        {L"x\\..\\..\\y", L"", L"..\\y"},
        {L"\\\\server\\share\\..\\..\\x", L"C:\\Program Files", L"\\\\server\\x"},
    };
    for (const row& r : rows)
        EXPECT_EQ(typed_install_folder(r.typed, r.program_files), r.expected)
            << "typed \"" << testing::PrintToString(std::wstring(r.typed)) << "\"";
}

}
