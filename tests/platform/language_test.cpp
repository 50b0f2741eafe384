#include "platform/language.h"

#include <windows.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <locale>
#include <sstream>
#include <stdexcept>

#include <locale.h>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "support/registry_sandbox.h"

namespace {

constexpr std::uint32_t bit(int index) { return 1u << index; }

// Leaves the process-wide language as it found it.
class language_test : public ::testing::Test {
protected:
    language_index saved = locale_state::instance().current;
    void TearDown() override { set_language(saved); }
};

TEST(LanguageTable, InstallerLanguagesAndOfferedOnes)
{
    const LANGID langids[language_count] = {
        1036, 1033, 1031, 3082, 2070, 1043, 1030, 1055, 1026, 1048, 2052, 1040, 1029,
        1044, 1032, 1045, 1037, 1066, 1041, 1038, 2074, 1025, 1060, 1049, 1050};
    for (language_index i = 0; i < language_count; ++i) {
        EXPECT_EQ(language_langid(i), langids[i]) << i;
        const bool offered = product_language_mask >> i & 1;
        EXPECT_EQ(language_table[i].flag_icon != 0, offered) << i;
    }
    std::uint32_t installer = 0;
    for (language_index i = -2; i < 40; ++i)
        if (is_installer_language(i))
            installer |= bit(i);
    EXPECT_EQ(installer, bit(0) | bit(1) | bit(2) | bit(3) | bit(4) | bit(7) | bit(9) | bit(11) |
                             bit(12) | bit(19) | bit(21) | bit(24));
    for (language_index i : language_list_order)
        EXPECT_TRUE(product_language_mask >> i & 1) << i;
}

TEST(LanguageForUser, TableOfUserLanguagesAndMasks)
{
    const std::uint32_t all = (1u << language_count) - 1;
    const struct {
        LANGID user;
        std::uint32_t mask;
        language_index expected;
    } cases[] = {
        {0x0407, product_language_mask, 2},  // German
        {0x0C0C, product_language_mask, 0},  // French (Canada)
        {0x0415, product_language_mask, 15}, // Polish
        {0x0410, product_language_mask, 11}, // Italian
        {0x0405, product_language_mask, 1},  // Czech: not offered
        {0x0405, all, 12},
        {0x0401, all, 21},                   // Arabic
        {0x041A, bit(24) | bit(1), 24},      // Croatian
        {0x041A, product_language_mask, 1},
        {0x101A, bit(24), 24},               // Croatian (Bosnia), sub-language 4
        {0x141A, all, 1},                    // Bosnian (Latin), sub-language 5
        {0x201A, all, 1},                    // Bosnian (Cyrillic), sub-language 8
        {0x0C1A, all, 20},                   // Serbian (Cyrillic), sub-language 3
        {0x081A, all, 20},                   // Serbian (Latin), sub-language 2
        {0x001A, all, 20},
        {0x241A, all, 20},                   // sub-language 9
        {0x0404, all, 1},                    // Chinese (Taiwan)
        {0x0804, all, 10},                   // Chinese (PRC)
        {0x1004, all, 10},                   // Chinese (Singapore)
        {0x0C04, all, 1},                    // Chinese (Hong Kong)
        {0x0425, bit(2) | bit(3), 0},        // Estonian, neither French nor English offered
        {0x0425, bit(1), 1},
        {0x0409, bit(0), 0},                 // English not offered
        {0x042A, all, 17},                   // Vietnamese
        {0x0424, all, 22},                   // Slovenian
        {0x0419, all, 23},                   // Russian
        {0x0411, all, 18},                   // Japanese
        {0x0414, all, 13},                   // Norwegian
        {0x0814, all, 13},                   // Norwegian (Nynorsk)
        {0x040D, all, 16},                   // Hebrew
        {0x0408, all, 14},                   // Greek
    };
    for (const auto& c : cases)
        EXPECT_EQ(language_for_user(c.user, c.mask), c.expected)
            << std::hex << "user " << c.user << " mask " << c.mask;
}

TEST(DefaultLanguage, ReadsTheUserLanguageThroughTheSeam)
{
    EXPECT_EQ(default_language(product_language_mask, [] { return LANGID{0x0416}; }), 4);
    EXPECT_EQ(default_language(product_language_mask, [] { return LANGID{0x041F}; }), 7);
    // Without a mask only French is available.
    EXPECT_EQ(default_language(0, [] { return LANGID{0x0409}; }), 0);
    EXPECT_EQ(default_language(0, [] { return LANGID{0x040C}; }), 0);
}

TEST(LanguageLcid, KeepsTheUsersSortOrder)
{
    EXPECT_EQ(language_lcid(2, 0x10407), 0x10407u);
    EXPECT_EQ(language_lcid(2, 0x0409), 0x0407u);
    EXPECT_EQ(language_lcid(0, 0x0C0C), 0x040Cu);
}

TEST(LocaleNameLcid, PrefersTheUsersOwnLocale)
{
    const struct {
        LANGID language, user_language;
        LCID user_lcid, expected;
    } cases[] = {
        {0x040C, 0x0C0C, 0x0C0C, LOCALE_USER_DEFAULT}, // French (Canada) user keeps Canada
        {0x040C, 0x0409, 0x040C, 0x040C},
        {0x0407, 0x0409, 0x10407, 0x10407},            // same LANGID in the user LCID only
        {0x0405, 0x0409, 0x0409, 0x0405},
    };
    for (const auto& c : cases)
        EXPECT_EQ(locale_name_lcid(c.language, c.user_language, c.user_lcid), c.expected)
            << std::hex << c.language << " " << c.user_language;
}

TEST(LanguageLocaleName, NamesLanguagesOtherThanTheUsers)
{
    const LANGID user = GetUserDefaultLangID();
    const struct {
        language_index index;
        const char* name;
    } cases[] = {{12, "cs-CZ"}, {2, "de-DE"}, {21, "ar-SA"}, {10, "zh-CN"}, {7, "tr-TR"}};
    for (const auto& c : cases) {
        if ((language_langid(c.index) & 0x3FF) == (user & 0x3FF))
            continue;
        EXPECT_EQ(language_locale_name(c.index), c.name) << c.index;
    }
}

TEST(RightToLeft, HebrewAndArabic)
{
    for (language_index i = 0; i < language_count; ++i)
        EXPECT_EQ(is_right_to_left(i), i == 16 || i == 21) << i;
}

TEST(LanguageList, CapitalisedNativeNames)
{
    EXPECT_EQ(native_language_name(0x0415), L"polski");
    const struct {
        language_index index;
        const wchar_t* text;
    } cases[] = {{15, L"Polski"}, {0, L"Français"}, {2, L"Deutsch"}, {19, L"Magyar"}};
    for (const auto& c : cases)
        EXPECT_EQ(language_list_text(c.index), c.text) << c.index;
    EXPECT_EQ(native_language_name(0x7FFF), L"");
}

TEST_F(language_test, SetLanguageFollowsTheIndex)
{
    set_language(1);
    int changes = 0;
    auto& state = locale_state::instance();
    auto connection = state.language_changed.connect([&] { ++changes; });

    const struct {
        language_index index;
        UINT code_page;
        bool right_to_left;
    } cases[] = {{12, 1250, false}, {21, 1256, true}, {7, 1254, false}, {1, 1252, false}};
    for (const auto& c : cases) {
        state.resource_module = GetModuleHandleW(L"kernel32.dll");
        set_language(c.index);
        EXPECT_EQ(state.current, c.index);
        EXPECT_EQ(state.lcid, language_lcid(c.index));
        EXPECT_EQ(state.code_page, c.code_page) << c.index;
        EXPECT_EQ(state.right_to_left, c.right_to_left) << c.index;
        EXPECT_EQ(state.resource_module, nullptr);
    }
    EXPECT_EQ(changes, 4);
    EXPECT_EQ(resource_module(), GetModuleHandleW(nullptr));
    state.language_changed.disconnect(connection);
}

TEST_F(language_test, SetLanguageWithTheCurrentIndexOnlyRefreshes)
{
    set_language(12);
    auto& state = locale_state::instance();
    int changes = 0;
    auto connection = state.language_changed.connect([&] { ++changes; });
    std::setlocale(LC_ALL, "C"); // an untouched runtime locale stays as it is
    state.lcid = 0;
    state.code_page = 0;
    state.right_to_left = true;

    set_language(12);

    EXPECT_EQ(changes, 0);
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
    EXPECT_EQ(state.lcid, language_lcid(12));
    EXPECT_EQ(state.code_page, 1250u);
    EXPECT_FALSE(state.right_to_left);
    state.language_changed.disconnect(connection);
    apply_runtime_locale(12);
}

TEST_F(language_test, RuntimeLocaleTakesTheCodePageButKeepsNumbersClassic)
{
    const struct {
        language_index index;
        UINT code_page;
    } cases[] = {{12, 1250}, {21, 1256}, {18, 932}, {23, 1251}, {0, 1252}};
    for (const auto& c : cases) {
        apply_runtime_locale(c.index);
        EXPECT_STRNE(std::setlocale(LC_CTYPE, nullptr), "C") << c.index;
        EXPECT_EQ(___lc_codepage_func(), c.code_page) << c.index;
        EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
        char text[16];
        std::snprintf(text, sizeof text, "%.2f", 1.25);
        EXPECT_STREQ(text, "1.25");
        std::ostringstream stream;
        stream << 1234.5;
        EXPECT_EQ(stream.str(), "1234.5");
    }
}

class initial_language_test : public language_test {
protected:
    registry_sandbox sandbox{L"language"};
    void SetUp() override { sandbox.redirect_local_machine(); }
    reg_key entry()
    {
        return create_key(registry_root::local_machine,
                          L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3");
    }
};

TEST_F(initial_language_test, RecordedProductLanguageWinsWhenItHasInstallerTexts)
{
    const LANGID german = 0x0407, polish = 0x0415, czech = 0x0405;
    const struct {
        LANGID user;
        bool has_entry;
        std::int64_t recorded; // -1: no value
        language_index expected;
    } cases[] = {
        {german, false, -1, 2},
        {german, true, -1, 2},
        {german, true, 11, 11},
        {german, true, 15, 1},  // Polish has no installer texts
        {german, true, 12, 12}, // Czech has, although it is not offered
        {polish, false, -1, 1},
        {czech, false, -1, 1},
        {german, true, 25, 2},  // outside the table: ignored
        {german, true, 0xFFFFFFFF, 2},
    };
    for (const auto& c : cases) {
        set_language(5);
        RegDeleteTreeW(sandbox.key(), L"Software");
        if (c.has_entry) {
            reg_key key = entry();
            if (c.recorded >= 0)
                set_dword(key, L"HvLanguage", static_cast<std::uint32_t>(c.recorded));
        }
        select_initial_language([&] { return c.user; });
        EXPECT_EQ(locale_state::instance().current, c.expected)
            << "user " << std::hex << c.user << std::dec << " recorded " << c.recorded;
    }
}

TEST_F(initial_language_test, RecordedLanguageOfAnotherTypeIsIgnored)
{
    set_string(entry(), L"HvLanguage", L"11");
    select_initial_language([] { return LANGID{0x0407}; });
    EXPECT_EQ(locale_state::instance().current, 2);
}

TEST_F(initial_language_test, AnyFailureWhileTakingTheRecordedLanguageIsIgnored)
{
    set_dword(entry(), L"HvLanguage", 11);
    set_language(5);
    auto& state = locale_state::instance();
    const auto connection = state.language_changed.connect([] {
        if (locale_state::instance().current == 11)
            throw std::runtime_error("a receiver failed");
    });
    EXPECT_NO_THROW(select_initial_language([] { return LANGID{0x0407}; }));
    state.language_changed.disconnect(connection);
    EXPECT_TRUE(is_installer_language(state.current)) << state.current;
}

}
