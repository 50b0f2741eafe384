#include "ui/dlg_options.h"

#include "core/installer_context.h"
#include "identity/product.h"
#include "platform/known_folders.h"
#include "platform/string_table.h"
#include "resources/resource_ids.h"
#include "ui/folder_browser.h"

#include <cwctype>
#include <vector>

namespace {

bool is_separator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// The root of a path: a drive ("C:") or a server ("\\server") as its name,
// and whether a separator follows it.
struct path_root {
    std::wstring name;
    bool directory = false;
    std::size_t length = 0; // characters of the text the root takes
};

path_root root_of(const std::wstring& path)
{
    path_root root;
    if (path.size() >= 2 && std::iswalpha(path[0]) && path[1] == L':') {
        root.name = path.substr(0, 2);
        root.length = 2;
    }
    else if (path.size() > 2 && is_separator(path[0]) && is_separator(path[1]) && !is_separator(path[2])) {
        std::size_t end = 2;
        while (end < path.size() && !is_separator(path[end]))
            ++end;
        root.name = L"\\\\" + path.substr(2, end - 2);
        root.length = end;
    }
    if (root.length < path.size() && is_separator(path[root.length])) {
        root.directory = true;
        while (root.length < path.size() && is_separator(path[root.length]))
            ++root.length;
    }
    return root;
}

bool same_drive(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                                        static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// `typed` under `base` by the usual path rules: a text with a drive of its
// own keeps it, one starting with a separator keeps only the base's drive.
std::wstring joined(const std::wstring& base, const std::wstring& typed)
{
    const path_root root = root_of(typed);
    if (!root.name.empty()) {
        if (!same_drive(root.name, root_of(base).name))
            return typed;
        return joined(base, typed.substr(2));
    }
    if (root.directory)
        return root_of(base).name + typed;
    if (base.empty())
        return typed;
    return is_separator(base.back()) ? base + typed : base + L'\\' + typed;
}

}

bool is_absolute_folder(const std::wstring& path)
{
    const path_root root = root_of(path);
    return root.name.size() > 2 || (!root.name.empty() && root.directory);
}

std::wstring normalised_folder(const std::wstring& path)
{
    const path_root root = root_of(path);
    std::vector<std::wstring> kept;
    bool ends_with_separator = false;
    std::size_t start = root.length;
    while (start < path.size()) {
        std::size_t end = start;
        while (end < path.size() && !is_separator(path[end]))
            ++end;
        const std::wstring element = path.substr(start, end - start);
        const bool followed_by_separator = end < path.size();
        while (end < path.size() && is_separator(path[end]))
            ++end;
        start = end;
        if (element.empty())
            continue;
        if (element == L".") {
            ends_with_separator = true;
            continue;
        }
        if (element == L".." && !kept.empty() && kept.back() != L"..") {
            kept.pop_back();
            ends_with_separator = true;
            continue;
        }
        if (element == L".." && kept.empty() && root.directory) {
            ends_with_separator = true;
            continue;
        }
        kept.push_back(element);
        ends_with_separator = followed_by_separator;
    }

    std::wstring result = root.name + (root.directory ? L"\\" : L"");
    for (std::size_t i = 0; i < kept.size(); ++i)
        result += (i ? L"\\" : L"") + kept[i];
    if (kept.empty())
        return result.empty() ? L"." : result;
    if (ends_with_separator && kept.back() != L"..")
        result += L'\\';
    return result;
}

std::wstring typed_install_folder(const std::wstring& typed, const std::wstring& program_files)
{
    return normalised_folder(is_absolute_folder(typed) ? typed : joined(program_files, typed));
}

dlg_options& dlg_options::instance()
{
    static dlg_options page;
    return page;
}

void dlg_options::show_folder(const std::wstring& folder)
{
    struct guard {
        std::uint32_t& flag;
        explicit guard(std::uint32_t& f) : flag(f) { flag = 1; }
        ~guard() { flag = 0; }
    } guarding(edit_guard);
    set_text(GetDlgItem(hwnd, IDC_FOLDER_EDIT), folder);
}

void dlg_options::on_init()
{
    installer_context& context = installer_context::instance();
    program_files = known_folder(FOLDERID_ProgramFiles, warn_folder_unavailable);
    show_folder(context.install_folder);
    if (context.existing_state != not_installed) {
        EnableWindow(GetDlgItem(hwnd, IDC_FOLDER_LABEL), FALSE);
        SendDlgItemMessageW(hwnd, IDC_FOLDER_EDIT, EM_SETREADONLY, TRUE, 0);
        EnableWindow(GetDlgItem(hwnd, IDC_BROWSE), FALSE);
    }
    CheckDlgButton(hwnd, IDC_MENU_SHORTCUT, context.menu_shortcut ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hwnd, IDC_DESKTOP_SHORTCUT, context.desktop_shortcut ? BST_CHECKED : BST_UNCHECKED);
}

void dlg_options::update_texts()
{
    set_text(GetDlgItem(hwnd, IDC_FOLDER_GROUP), load_string(1010));
    set_text(GetDlgItem(hwnd, IDC_FOLDER_LABEL), format_text(load_string(1111), product_name(true)));
    set_text(GetDlgItem(hwnd, IDC_BROWSE), load_string(1008));
    set_text(GetDlgItem(hwnd, IDC_MENU_SHORTCUT), load_string(1112));
    set_text(GetDlgItem(hwnd, IDC_DESKTOP_SHORTCUT), load_string(1113));
    set_text(GetDlgItem(hwnd, IDC_STATUS), format_text(load_string(1106), load_string(1006)));
}

void dlg_options::on_size(int new_width, int new_height)
{
    const anchored_control controls[]{
        {anchor::size_x, GetDlgItem(hwnd, IDC_FOLDER_GROUP)},
        {anchor::size_x, GetDlgItem(hwnd, IDC_FOLDER_LABEL)},
        {anchor::size_x, GetDlgItem(hwnd, IDC_FOLDER_EDIT)},
        {anchor::move_x, GetDlgItem(hwnd, IDC_BROWSE)},
        {anchor::size_x, GetDlgItem(hwnd, IDC_MENU_SHORTCUT)},
        {anchor::size_x, GetDlgItem(hwnd, IDC_DESKTOP_SHORTCUT)},
        {anchor::size_x | anchor::move_y, GetDlgItem(hwnd, IDC_STATUS)},
    };
    layout(new_width, new_height, controls);
}

bool dlg_options::on_command(int id, int code)
{
    installer_context& context = installer_context::instance();
    switch (id) {
    case IDC_BROWSE: {
        const std::wstring chosen = browse_for_folder(
            context.install_folder, product_key_name(),
            format_text(load_string(1111), product_name(true)));
        if (!chosen.empty()) {
            context.install_folder = chosen;
            show_folder(chosen);
        }
        return true;
    }
    case IDC_FOLDER_EDIT:
        if (code != EN_UPDATE || edit_guard)
            return false;
        context.install_folder = typed_install_folder(get_text(GetDlgItem(hwnd, IDC_FOLDER_EDIT)), program_files);
        return true;
    case IDC_DESKTOP_SHORTCUT:
        context.desktop_shortcut = IsDlgButtonChecked(hwnd, IDC_DESKTOP_SHORTCUT) == BST_CHECKED;
        return true;
    case IDC_MENU_SHORTCUT:
        context.menu_shortcut = IsDlgButtonChecked(hwnd, IDC_MENU_SHORTCUT) == BST_CHECKED;
        return true;
    default:
        return false;
    }
}
