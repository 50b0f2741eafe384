// The installer's own string tables, linked into this program: English as
// the installer shows it, and every language against English.
#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/string_table.h"

namespace {

const std::map<unsigned, std::wstring> english = {
    {1000, L"Installer"},
    {1001, L"OK"},
    {1002, L"Cancel"},
    {1003, L"About '{0}'"},
    {1004, L"Exit"},
    {1005, L"Back"},
    {1006, L"Next"},
    {1007, L"Install"},
    {1008, L"Browse..."},
    {1010, L"Installation Folder Selection"},
    {1011, L"OK"},
    {1012, L"Failed"},
    {1013, L"Error"},
    {1014, L"Select Installation Langage"},
    {1015, L"Installation Method"},
    {1016, L"Quick Installation (Recommended)"},
    {1017, L"Advanced Installation"},
    {1018, L"{0} Examples"},
    {1019, L"Help"},
    {1100, L"'{0}' Installation."},
    {1101, L"Update from '{0}' to '{1}'."},
    {1102, L"'{0}' is already installed."},
    {1103, L"A more recent Version ({0}) is already installed."},
    {1104, L"Do you confirm Reinstallation ?"},
    {1105, L"Click on '{0}' to continue or on '{1}' to exit Installation."},
    {1106, L"Click on '{0}' to continue."},
    {1107, L"Click on '{0}' to exit Installation."},
    {1108, L"Click on '{0}' to start Installation."},
    {1110, L"Installation is not complete.\n\nDo you still confirm exit Installation ?"},
    {1111, L"Select '{0}' Installation Folder."},
    {1112, L"Create a Shortcut in the Start Menu."},
    {1113, L"Create a Shortcut on the Desktop."},
    {1114, L"Preparing Installation..."},
    {1115, L"Copying File \"{0}\"..."},
    {1117, L"Shortcuts Creation..."},
    {1118, L"Registry Data Writing..."},
    {1119, L"Installation Data Writing..."},
    {1120, L"Installation is complete."},
    {1121, L"Installation failed (Error Code {0})."},
    {1122, L"Installation Options"},
    {1123, L"Installation Folder: \"{0}\"."},
    {1124, L"Creating a Shortcut in the Start Menu."},
    {1125, L"Creating a Shortcut on the Desktop."},
    {1126, L"You should have Administrator Rights in order to proceed to Installation."},
    {1127, L"You should close '{0}' before continuing Installation."},
    {1129, L"'{0}' will be installed in the selected Langage, but the Installer, still under "
           L"translation, shall run in English."},
    {1133, L"Not restored: \"{0}\" is kept as \"{1}\"."},
    {1134, L"Not carried over from the earlier log, outside the installation's folders: \"{0}\"."},
    {1135, L"Put back after an earlier installation had failed:"},
};

// The real texts of the languages without installer texts; all their other
// entries are placeholders.
std::set<unsigned> partial_texts(language_index language)
{
    switch (language) {
    case 5: // Dutch
    case 6: // Danish
        return {1001, 1002, 1003, 1004, 1005, 1006, 1008, 1013, 1019};
    case 13: // Norwegian
        return {1001, 1002, 1003, 1004, 1005, 1006, 1008, 1019};
    case 16: // Hebrew
        return {1001, 1002, 1003, 1004, 1008, 1019};
    case 8:  // Bulgarian
    case 10: // Chinese
    case 18: // Japanese
    case 20: // Serbian
        return {1013};
    default:
        return {};
    }
}

constexpr unsigned text_blocks[] = {63, 64, 69, 70, 71};

std::set<std::wstring> fields_of(const std::wstring& text)
{
    std::set<std::wstring> fields;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'{' && i + 1 < text.size() && text[i + 1] == L'{') {
            ++i;
            continue;
        }
        if (text[i] != L'{')
            continue;
        std::size_t end = text.find(L'}', i);
        fields.insert(text.substr(i, end == std::wstring::npos ? end : end - i + 1));
    }
    return fields;
}

std::wstring entry(language_index language, unsigned id)
{
    return std::wstring(resource_string(GetModuleHandleW(nullptr), language_langid(language), id));
}

template <class Check>
void for_each_text_id(Check check)
{
    for (unsigned block : text_blocks)
        for (unsigned id = (block - 1) * 16; id < block * 16; ++id)
            check(id);
}

TEST(InstallerStrings, EnglishAsTheInstallerShowsIt)
{
    for_each_text_id([](unsigned id) {
        auto expected = english.find(id);
        EXPECT_EQ(entry(1, id), expected == english.end() ? L"" : expected->second) << id;
    });
}

TEST(InstallerStrings, InstallerLanguagesTranslateEveryTextKeepingItsFields)
{
    for (language_index language = 0; language < language_count; ++language) {
        if (!is_installer_language(language) || language == 1)
            continue;
        for_each_text_id([&](unsigned id) {
            const std::wstring text = entry(language, id);
            auto source = english.find(id);
            if (source == english.end()) {
                EXPECT_EQ(text, L"") << "language " << language << " id " << id;
                return;
            }
            if (language == 12 && id == 1007) {
                EXPECT_EQ(text, L"#") << "Czech shows the English Install";
                return;
            }
            EXPECT_FALSE(text.empty() || text == L"#") << "language " << language << " id " << id;
            EXPECT_EQ(fields_of(text), fields_of(source->second)) << "language " << language << " id " << id;
            EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'),
                      std::count(source->second.begin(), source->second.end(), L'\n'))
                << "language " << language << " id " << id;
            EXPECT_NO_THROW(format_text(text, std::wstring(L"a"), std::wstring(L"b")))
                << "language " << language << " id " << id;
        });
    }
}

TEST(InstallerStrings, OtherLanguagesArePlaceholdersBesideTheirFewTexts)
{
    for (language_index language = 0; language < language_count; ++language) {
        if (is_installer_language(language))
            continue;
        const std::set<unsigned> real = partial_texts(language);
        for_each_text_id([&](unsigned id) {
            const std::wstring text = entry(language, id);
            if (english.find(id) == english.end())
                EXPECT_EQ(text, L"") << "language " << language << " id " << id;
            else if (real.count(id))
                EXPECT_FALSE(text.empty() || text == L"#") << "language " << language << " id " << id;
            else
                EXPECT_EQ(text, L"#") << "language " << language << " id " << id;
        });
    }
}

class installer_texts : public ::testing::Test {
protected:
    language_index saved = locale_state::instance().current;
    void TearDown() override { set_language(saved); }
};

TEST_F(installer_texts, LoadedInTheCurrentLanguageWithFallbacks)
{
    set_language(15);
    EXPECT_EQ(load_string(1006), L"Next");
    set_language(12);
    EXPECT_EQ(load_string(1007), L"Install");
    EXPECT_EQ(load_string(1006), entry(12, 1006));
    for (language_index i = 0; i < language_count; ++i) {
        set_language(i);
        EXPECT_EQ(load_string(1116), L"") << i;
    }
    set_language(2);
    EXPECT_EQ(installer_title(false), entry(2, 1000));
    EXPECT_EQ(installer_title(true), entry(2, 1000) + L" \u2013 Quillmar 3.05c");
    set_language(1);
    EXPECT_EQ(installer_title(true), L"Installer \u2013 Quillmar 3.05c");
    EXPECT_EQ(format_text(load_string(1105), load_string(1006), load_string(1002)),
              L"Click on 'Next' to continue or on 'Cancel' to exit Installation.");
}

}
