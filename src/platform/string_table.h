// The installer's texts: string-table resources by id in the current
// language, with fallbacks, and the formatting of their "{0}"/"{1}" fields.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include <fmt/xchar.h>

#include "platform/language.h"

// A text inside a loaded module, valid for the whole run; an absent text
// has a null pointer.
using string_ref = std::wstring_view;

// Which of the four candidate slots a resource language fills when looking
// for `wanted`: 0 the same, 1 the default sub-language, 2 the neutral
// sub-language, 3 the neutral default; -1 none.
int string_candidate_slot(LANGID wanted, LANGID found);

// Entry `id` of the string table of exactly one resource language, as stored.
string_ref resource_string(HMODULE module, LANGID language, unsigned id);

string_ref find_string(language_index index, unsigned id);
// The current language's text, else English, else French; empty when absent everywhere.
std::wstring load_string(unsigned id);
// The text as the system's lookup finds it in the resource module, the
// English text where that is absent or "#", else the same in the installer's
// executable; absent when none has a text.
string_ref load_module_string(unsigned id);

// Text 1000, with " – " and the product's name and version when asked for.
std::wstring installer_title(bool with_product);

// Fills the replacement fields of a text; a malformed field throws fmt::format_error.
template <class... Args>
std::wstring format_text(std::wstring_view text, const Args&... args)
{
    return fmt::vformat(fmt::wstring_view(text.data(), text.size()), fmt::make_wformat_args(args...));
}
