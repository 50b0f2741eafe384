// The folders an installation of the product writes to, and the records of
// an uninstall log that point inside them. The log lies in the installation
// folder, which users may be able to change: a record pointing anywhere else
// is never acted on.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/known_folders.h"
#include "records/uninstall_log.h"

struct owned_folders {
    std::wstring install_folder;
    // Data folders: files and folders at or below them.
    std::vector<std::wstring> data_folders;
    // Desktops: shortcuts anywhere below; examples one folder below.
    std::vector<std::wstring> desktop_folders;
    // Start-menu program folders: shortcuts and their folders below.
    std::vector<std::wstring> menu_folders;
};

// The folder of a CSIDL code, or an empty text when there is none.
using csidl_lookup = std::function<std::wstring(int csidl)>;

// The installation folder, the maker's folders below the common and the
// user's application data, both desktops and both Start-menu program folders.
owned_folders owned_folders_for(const std::wstring& install_folder, const csidl_lookup& lookup = csidl_folder);

// Whether the installation may act on what the record names. Records that
// name nothing on disk (the Uninstall key, the associations) always may.
bool is_owned_record(const log_record& record, const owned_folders& folders);

// Removes the records the installation may not act on and returns them.
std::vector<log_record> take_unowned_records(std::vector<log_record>& records, const owned_folders& folders);

// The first link (junction or symbolic link) on the way to `path` from
// link_check_root; empty when there is none. A folder of the installation
// that a user replaced by a link would have the installation write wherever
// the link points.
std::wstring link_on_the_way(const owned_folders& folders, const std::wstring& path);

// Where a look for links on the way to `path` starts, as the installation
// looks before it writes: the innermost data or Start-menu folder holding
// it, the examples folder for a file one folder below a desktop, and
// otherwise the path's drive (or share), so that no folder on the way is
// taken on trust.
std::wstring link_check_root(const std::wstring& path, const owned_folders& folders);

// How a folder the installation creates is protected from the start.
enum class new_folder_access {
    inherited,     // what its parent hands down
    installation,  // the installation folder, or one above it, outside Program Files: as Program Files
    shared_data,   // the maker's data below the common application data, the examples folder: Users may write
};

// What decides it: the installation folder, Program Files, the maker's
// folder below the common application data and the desktops (whose
// folders one below hold the examples).
struct new_folder_places {
    std::wstring install_folder;
    std::wstring program_files;
    std::wstring common_data;
    std::vector<std::wstring> desktops;
};

new_folder_places new_folder_places_for(const std::wstring& install_folder, const csidl_lookup& lookup = csidl_folder);
new_folder_access access_for_new_folder(const std::wstring& folder, const new_folder_places& places);

// The access list of a new folder as uninstall_log::access_for_new_folder
// wants it, nothing for an inherited one.
std::function<std::optional<access_list>(const std::wstring&)> new_folder_access_rule(new_folder_places places);
