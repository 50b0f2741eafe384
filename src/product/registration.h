// The product's self-registration: its registered program path and the
// machine-wide association of its document type, written under
// HKEY_LOCAL_MACHINE, and taken away again by the uninstaller.
#pragma once

#include <string>
#include <vector>

inline constexpr const wchar_t* document_extension = L".qmd";
inline constexpr const wchar_t* document_prog_id = L"Quillmar.Document.3";

// One string value of the registration, below HKEY_LOCAL_MACHINE; an empty
// name is the key's default value.
struct registry_entry {
    std::wstring key;
    std::wstring name;
    std::wstring data;

    friend bool operator==(const registry_entry&, const registry_entry&) = default;
};

// The values written for the program at `program_path`, in the order they
// are written.
std::vector<registry_entry> registration_entries(const std::wstring& program_path);

// The value under the maker's key (HKEY_LOCAL_MACHINE) that keeps the
// document type the registration replaced, for the uninstallation to put back.
std::wstring replaced_document_type_value();

// Every value the registration may write or change (their data left
// empty), and the keys all of them lie in.
std::vector<registry_entry> registration_places(const std::wstring& program_path);
std::vector<std::wstring> registration_key_roots();

// Writes every value (and the product's place in the document type's
// "Open with" list); when one fails, puts back what this call changed
// (values and keys) and throws the failure as std::system_error.
void register_product(const std::wstring& program_path);

// Removes the values that still say what the registration of this program
// wrote (a document type taken over by another program keeps its values),
// gives the document type back to the program it was taken from, then
// removes the keys left empty. Returns the number of values removed.
int unregister_product(const std::wstring& program_path);
