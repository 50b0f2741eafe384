// The language the product and its uninstaller speak: the one chosen in the
// installer ("HvLanguage" of the product's Uninstall entry).
#pragma once

#include <windows.h>

#include <string>

#include "platform/language.h"

// The language recorded by the installer; without a usable record, the
// user's language among the product's languages.
language_index product_language();

// "Quillmar.de.dll" for German; empty for French, which the program carries
// itself. Languages without a library of their own use the English one.
std::wstring language_library_name(language_index index);

// The product's texts: its language library beside the program (in "Lang"),
// loaded as data only; without it the program's own texts.
class product_texts {
public:
    product_texts(const std::wstring& program_folder, language_index index);
    product_texts(const product_texts&) = delete;
    product_texts& operator=(const product_texts&) = delete;
    ~product_texts();

    std::wstring text(unsigned id) const;
    bool from_library() const noexcept { return library_ != nullptr; }

private:
    HMODULE library_ = nullptr;
    LANGID language_ = 0;
};
