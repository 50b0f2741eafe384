#include "records/owned_folders.h"

#include <windows.h>

#include <algorithm>

#include "identity/product.h"
#include "platform/path_rules.h"

namespace {

bool within_any(const std::wstring& path, const std::vector<std::wstring>& folders, bool strictly)
{
    return std::any_of(folders.begin(), folders.end(), [&](const std::wstring& folder) {
        return strictly ? is_strictly_within(path, folder) : is_within(path, folder);
    });
}

std::wstring parent_of(const std::wstring& path)
{
    const auto end = path.find_last_of(L"\\/");
    return end == std::wstring::npos ? std::wstring() : path.substr(0, end);
}

bool ends_with_link_extension(const std::wstring& path)
{
    return path.size() > 4 && CompareStringOrdinal(path.c_str() + path.size() - 4, 4, L".lnk", 4, TRUE) == CSTR_EQUAL;
}

// A folder the installation made on its way to its own folder (for example
// the maker's folder above "Quillmar 3"), never a drive's root.
bool is_above_install_folder(const std::wstring& path, const owned_folders& folders)
{
    return !folders.install_folder.empty() && is_strictly_within(folders.install_folder, path) &&
           is_strictly_within(path, path.substr(0, 3));
}

}

owned_folders owned_folders_for(const std::wstring& install_folder, const csidl_lookup& lookup)
{
    owned_folders folders;
    folders.install_folder = install_folder;
    const auto add = [&](std::vector<std::wstring>& list, int csidl, std::wstring_view below) {
        const std::wstring folder = lookup(csidl);
        if (!folder.empty())
            list.push_back(below.empty() ? folder : folder + L"\\" + std::wstring(below));
    };
    folders.data_folders.push_back(install_folder);
    add(folders.data_folders, CSIDL_COMMON_APPDATA, maker_name);
    add(folders.data_folders, CSIDL_APPDATA, maker_name);
    add(folders.desktop_folders, CSIDL_COMMON_DESKTOPDIRECTORY, {});
    add(folders.desktop_folders, CSIDL_DESKTOPDIRECTORY, {});
    add(folders.menu_folders, CSIDL_COMMON_PROGRAMS, {});
    add(folders.menu_folders, CSIDL_PROGRAMS, {});
    return folders;
}

bool is_owned_record(const log_record& record, const owned_folders& folders)
{
    switch (record.kind) {
    case record_kind::uninstall_key:
    case record_kind::associations:
        return true;
    case record_kind::directory:
        return is_plain_absolute(record.path) &&
               (within_any(record.path, folders.data_folders, false) ||
                within_any(record.path, folders.menu_folders, true) ||
                within_any(record.path, folders.desktop_folders, true) ||
                is_above_install_folder(record.path, folders));
    case record_kind::file:
        if (!is_plain_absolute(record.path))
            return false;
        if (within_any(record.path, folders.data_folders, true))
            return true;
        // The examples, in their own folder on a desktop.
        return record.value == 4 && std::any_of(folders.desktop_folders.begin(), folders.desktop_folders.end(),
                                                [&](const std::wstring& desktop) {
                                                    const std::wstring examples = parent_of(record.path);
                                                    return is_strictly_within(examples, desktop) &&
                                                           is_within(desktop, parent_of(examples));
                                                });
    case record_kind::menu_shortcut:
    case record_kind::desktop_shortcut:
        // A failed shortcut has no path and names nothing.
        return record.path.empty() ||
               (is_plain_absolute(record.path) && ends_with_link_extension(record.path) &&
                (within_any(record.path, folders.menu_folders, true) ||
                 within_any(record.path, folders.desktop_folders, true)));
    default:
        // Records of kinds nothing acts on.
        return true;
    }
}

std::vector<log_record> take_unowned_records(std::vector<log_record>& records, const owned_folders& folders)
{
    std::vector<log_record> refused;
    const auto keep = std::stable_partition(records.begin(), records.end(), [&](const log_record& record) {
        return is_owned_record(record, folders);
    });
    refused.assign(std::make_move_iterator(keep), std::make_move_iterator(records.end()));
    records.erase(keep, records.end());
    return refused;
}

std::wstring link_on_the_way(const owned_folders& folders, const std::wstring& path)
{
    return first_link_from(link_check_root(path, folders), path);
}

std::wstring link_check_root(const std::wstring& path, const owned_folders& folders)
{
    std::wstring root;
    for (const auto* list : {&folders.data_folders, &folders.menu_folders})
        for (const std::wstring& folder : *list)
            if (!folder.empty() && is_strictly_within(path, folder) && folder.size() > root.size())
                root = folder;
    if (!root.empty())
        return root;
    // A shortcut on a desktop, or an example in its folder one below it.
    const std::wstring parent = parent_of(path);
    for (const std::wstring& desktop : folders.desktop_folders) {
        if (desktop.empty() || !is_strictly_within(path, desktop))
            continue;
        if (is_within(desktop, parent))
            return desktop;
        if (is_within(desktop, parent_of(parent)))
            return parent;
    }
    if (path.starts_with(L"\\\\")) {
        const std::size_t server_end = path.find_first_of(L"\\/", 2);
        const std::size_t share_end =
            server_end == std::wstring::npos ? std::wstring::npos : path.find_first_of(L"\\/", server_end + 1);
        return path.substr(0, share_end);
    }
    return path.substr(0, 3);
}

new_folder_places new_folder_places_for(const std::wstring& install_folder, const csidl_lookup& lookup)
{
    new_folder_places places{install_folder, lookup(CSIDL_PROGRAM_FILES), {}, {}};
    if (const std::wstring data = lookup(CSIDL_COMMON_APPDATA); !data.empty())
        places.common_data = data + L"\\" + std::wstring(maker_name);
    for (const int desktop : {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY})
        if (std::wstring folder = lookup(desktop); !folder.empty())
            places.desktops.push_back(std::move(folder));
    return places;
}

new_folder_access access_for_new_folder(const std::wstring& folder, const new_folder_places& places)
{
    // An installation folder outside Program Files would otherwise inherit
    // what a drive's root gives every authenticated user: write access
    // beside a program that runs elevated.
    if (!places.install_folder.empty() && is_within(places.install_folder, folder) &&
        (places.program_files.empty() || !is_within(folder, places.program_files)))
        return new_folder_access::installation;
    if (!places.common_data.empty() && is_within(folder, places.common_data))
        return new_folder_access::shared_data;
    for (const std::wstring& desktop : places.desktops)
        if (!desktop.empty() && is_strictly_within(folder, desktop) && is_within(desktop, parent_of(folder)))
            return new_folder_access::shared_data;
    return new_folder_access::inherited;
}

std::function<std::optional<access_list>(const std::wstring&)> new_folder_access_rule(new_folder_places places)
{
    return [places = std::move(places)](const std::wstring& folder) -> std::optional<access_list> {
        switch (access_for_new_folder(folder, places)) {
        case new_folder_access::installation:
            return program_files_access();
        case new_folder_access::shared_data:
            return shared_data_access();
        case new_folder_access::inherited:
            break;
        }
        return std::nullopt;
    };
}
