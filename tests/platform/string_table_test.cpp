#include "platform/string_table.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

class string_table_test : public ::testing::Test {
protected:
    language_index saved = locale_state::instance().current;
    void TearDown() override { set_language(saved); }
};

TEST(StringCandidateSlot, SameDefaultNeutralAndNeutralDefault)
{
    const struct {
        LANGID wanted, found;
        int slot;
    } cases[] = {
        {0x0C0A, 0x0C0A, 0}, {0x0C0A, 0x040A, 1}, {0x0C0A, 0x000A, 2}, {0x0C0A, 0x0400, 3},
        {0x0C0A, 0x0409, -1}, {0x0C0A, 0x0000, -1}, {0x0C0A, 0x080A, -1},
        {0x040C, 0x040C, 0}, {0x040C, 0x000C, 2}, {0x040C, 0x0C0C, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(string_candidate_slot(c.wanted, c.found), c.slot)
            << std::hex << c.wanted << " " << c.found;
}

TEST(FindString, CandidatesPlaceholdersAndGaps)
{
    const struct {
        language_index language;
        unsigned id;
        const wchar_t* text; // null: absent
    } cases[] = {
        {1, 1000, L"Installer"},
        {2, 1000, L"Installationsprogramm"},
        {12, 1006, L"Další"},
        {12, 1007, nullptr},                         // placeholder
        {15, 1000, nullptr},
        {3, 1006, L"Siguiente"},                     // default sub-language first
        {3, 1000, L"Instalador"},                    // then the neutral sub-language
        {1, 1005, L"Back from the neutral table"},   // then the neutral default
        {1, 1116, nullptr},                          // empty entry
        {1, 5000, nullptr},                          // no block at all
        {0, 1132, nullptr},
    };
    for (const auto& c : cases) {
        string_ref text = find_string(c.language, c.id);
        if (c.text)
            EXPECT_EQ(text, c.text) << c.language << " " << c.id;
        else
            EXPECT_EQ(text.data(), nullptr) << c.language << " " << c.id << ": " << std::wstring(text);
    }
}

TEST_F(string_table_test, LoadStringFallsBackToEnglishThenFrench)
{
    const struct {
        language_index current;
        unsigned id;
        const wchar_t* text;
    } cases[] = {
        {15, 1006, L"Next"},                   // Polish has no installer texts
        {15, 1000, L"Installer"},
        {12, 1007, L"Install"},                // Czech placeholder
        {12, 1006, L"Další"},
        {2, 1002, L"Cancel"},                  // placeholder in German
        {1, 1130, L"Seulement en français"},   // missing in English
        {1, 1131, L"Aussi en français"},       // placeholder in English
        {0, 1132, L""},                        // French has no fallback
        {0, 1000, L"Programme d'installation"},
        {1, 5000, L""},
    };
    for (const auto& c : cases) {
        set_language(c.current);
        EXPECT_EQ(load_string(c.id), c.text) << c.current << " " << c.id;
    }
    for (language_index i = 0; i < language_count; ++i) {
        set_language(i);
        EXPECT_EQ(load_string(1116), L"") << i;
    }
}

TEST_F(string_table_test, InstallerTitle)
{
    set_language(2);
    EXPECT_EQ(installer_title(false), L"Installationsprogramm");
    EXPECT_EQ(installer_title(true), L"Installationsprogramm \u2013 Quillmar 3.05c");
    set_language(1);
    EXPECT_EQ(installer_title(true), L"Installer – Quillmar 3.05c");
}

TEST_F(string_table_test, FormatsTheFieldsOfAText)
{
    set_language(1);
    EXPECT_EQ(format_text(load_string(1105), load_string(1006), load_string(1002)),
              L"Click on 'Next' to continue or on 'Cancel' to exit Installation.");
    EXPECT_EQ(format_text(load_string(1110)),
              L"Installation is not complete.\n\nDo you still confirm exit Installation ?");
}

TEST(FormatText, FieldSyntax)
{
    const std::wstring a = L"A", b = L"{1}";
    EXPECT_EQ(format_text(L"{1}{0}{1}", a, b), L"{1}A{1}"); // arguments are not formatted again
    EXPECT_EQ(format_text(L"{{{0}}}", a), L"{A}");
    EXPECT_EQ(format_text(L"{}-{}", a, std::wstring(L"B")), L"A-B");
    EXPECT_EQ(format_text(L"1:{:08X}", 0x8007000Eu), L"1:8007000E");
    EXPECT_EQ(format_text(L"{:04x}", 255), L"00ff");
    EXPECT_EQ(format_text(L"{:016x}", 0x1234ull), L"0000000000001234");
    EXPECT_EQ(format_text(L"{:>4}|{}", 7, 2.5), L"   7|2.5");
    EXPECT_EQ(format_text(L"{:L}", 1234567.5), L"1234567.5");
}

TEST(FormatText, MalformedFieldsRaise)
{
    const std::wstring a = L"A";
    for (const wchar_t* text : {L"{0", L"}", L"{x}", L"{2}", L"{0:Q}", L"{}{0}"})
        EXPECT_THROW(format_text(text, a), fmt::format_error) << text;
}

TEST(LoadModuleString, TheSystemsChoiceThenTheExecutable)
{
    auto& state = locale_state::instance();
    EXPECT_EQ(load_module_string(2000), L"Only block");
    EXPECT_EQ(load_module_string(5000).data(), nullptr);

    HMODULE without_strings = GetModuleHandleW(L"ntdll.dll");
    if (FindResourceW(without_strings, MAKEINTRESOURCEW(126), RT_STRING))
        GTEST_SKIP() << "ntdll.dll has a string block of its own here";
    state.resource_module = without_strings;
    string_ref text = load_module_string(2000);
    state.resource_module = nullptr;
    EXPECT_EQ(text, L"Only block");
}

// Sets the thread's locale and user-interface language for one test.
class scoped_thread_language {
public:
    explicit scoped_thread_language(LANGID language)
    {
        SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
        SetThreadUILanguage(language);
    }
    scoped_thread_language(const scoped_thread_language&) = delete;
    scoped_thread_language& operator=(const scoped_thread_language&) = delete;
    ~scoped_thread_language()
    {
        SetThreadLocale(locale_);
        SetThreadUILanguage(ui_language_);
    }

private:
    LCID locale_ = GetThreadLocale();
    LANGID ui_language_ = GetThreadUILanguage();
};

std::wstring system_lookup(unsigned id)
{
    const wchar_t* text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

TEST(LoadModuleString, APlaceholderIsAbsentWithTheEnglishFallback)
{
    for (unsigned id = 992; id < 1136; ++id)
        EXPECT_NE(load_module_string(id), L"#") << id;
    if (system_lookup(1131) == L"#") {
        EXPECT_EQ(load_module_string(1131).data(), nullptr) << "English marks 1131 absent";
    }

    scoped_thread_language polish(0x0415);
    if (system_lookup(1000) != L"#")
        GTEST_SKIP() << "the system's lookup does not follow the thread's language here (text 1000 reads \""
                     << std::string(system_lookup(1000).begin(), system_lookup(1000).end())
                     << "\"), so the Polish placeholders cannot be reached";
    EXPECT_EQ(load_module_string(1000), L"Installer");
    EXPECT_EQ(load_module_string(1007), L"Install");
}

}
