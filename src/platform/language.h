// The installer's 25 languages, the process-wide current language and the
// process locale that follows it.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// 0..24, the position in the language table.
using language_index = int;

inline constexpr int language_count = 25;

struct language_row {
    LANGID langid;
    bool installer_texts; // the installer's own string tables are complete
    int flag_icon;        // icon resource shown in the language list, 0 when not offered
};

inline constexpr std::array<language_row, language_count> language_table{{
    {0x040C, true, 144},  // French
    {0x0409, true, 145},  // English
    {0x0407, true, 141},  // German
    {0x0C0A, true, 143},  // Spanish
    {0x0816, true, 148},  // Portuguese
    {0x0413, false, 0},   // Dutch
    {0x0406, false, 0},   // Danish
    {0x041F, true, 149},  // Turkish
    {0x0402, false, 0},   // Bulgarian
    {0x0418, true, 151},  // Romanian
    {0x0804, false, 0},   // Chinese (simplified)
    {0x0410, true, 146},  // Italian
    {0x0405, true, 0},    // Czech
    {0x0414, false, 0},   // Norwegian
    {0x0408, false, 0},   // Greek
    {0x0415, false, 156}, // Polish
    {0x040D, false, 0},   // Hebrew
    {0x042A, false, 0},   // Vietnamese
    {0x0411, false, 0},   // Japanese
    {0x040E, true, 161},  // Hungarian
    {0x081A, false, 0},   // Serbian (Latin)
    {0x0401, true, 0},    // Arabic
    {0x0424, false, 0},   // Slovenian
    {0x0419, false, 0},   // Russian
    {0x041A, true, 0},    // Croatian
}};

// The languages the product ships, one bit per index: the ones offered to the user.
inline constexpr std::uint32_t product_language_mask = 0x88A9F;

// The order of the start page's language list.
inline constexpr std::array<language_index, 10> language_list_order{0, 1, 2, 11, 3, 4, 15, 19, 9, 7};

// Receivers of a notification without arguments.
class language_change_signal {
public:
    std::size_t connect(std::function<void()> receiver);
    void disconnect(std::size_t connection);
    void emit() const;

private:
    std::vector<std::pair<std::size_t, std::function<void()>>> receivers_;
    std::size_t next_ = 0;
};

// The current language and what follows from it; one per process, created
// on first use in French.
class locale_state {
public:
    static locale_state& instance();

    std::uint32_t available = 1;
    language_index current = 0;
    LCID lcid = 0;
    UINT code_page = 1252;
    HMODULE resource_module = nullptr; // empty: the installer's own executable
    bool right_to_left = false;
    language_change_signal language_changed;

    locale_state(const locale_state&) = delete;
    locale_state& operator=(const locale_state&) = delete;

private:
    locale_state();
};

// Where a test must control the user's default language.
using user_language_source = std::function<LANGID()>;

LANGID language_langid(language_index index);
LCID language_lcid(language_index index);
// The user's full LCID (it may carry a sort order) when it names the same
// language, else the language's own LANGID.
LCID language_lcid(language_index index, LCID user_lcid);
bool is_installer_language(language_index index);

// The index for a user's default language among the offered languages of
// `mask`; English, else French, when there is none.
language_index language_for_user(LANGID user_language, std::uint32_t mask);
// A mask of 0 means the available languages of the locale state.
language_index default_language(std::uint32_t mask = 0,
                                const user_language_source& user_language = GetUserDefaultLangID);

void set_language(language_index index);

// The start-up choice: the user's language among the offered ones, unless a
// previous installation recorded its product language; always a language
// with installer texts.
void select_initial_language(const user_language_source& user_language = GetUserDefaultLangID);

// The LCID whose locale name the runtime locale of a language uses: the
// user's own locale when it is the same language, so regional settings are kept.
LCID locale_name_lcid(LANGID language, LANGID user_language, LCID user_lcid);
std::string language_locale_name(language_index index);
void apply_runtime_locale(language_index index);

bool is_right_to_left(language_index index);
std::wstring native_language_name(LCID lcid);
// The native name of a language as the language list shows it, capitalised.
std::wstring language_list_text(language_index index);

HMODULE resource_module();
