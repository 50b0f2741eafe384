#include "ui/folder_browser.h"

#include "platform/common_controls.h"
#include "platform/error_text.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <system_error>

#include <memory>
#include <vector>

namespace {

struct co_task_free {
    void operator()(void* memory) const noexcept { CoTaskMemFree(memory); }
};
using item_id_list = std::unique_ptr<ITEMIDLIST, co_task_free>;

bool is_bare_drive(const std::wstring& path)
{
    return path.size() == 2 && path[1] == L':';
}

std::vector<std::wstring> path_elements(const std::wstring& path)
{
    std::vector<std::wstring> elements;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = path.find_first_of(L"\\/", start);
        const auto stop = end == std::wstring::npos ? path.size() : end;
        if (stop > start)
            elements.push_back(path.substr(start, stop - start));
        if (end == std::wstring::npos)
            break;
        start = end + 1;
    }
    return elements;
}

bool same_element(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// How many leading elements of `child` the path already ends with, trying
// the whole of it first.
std::size_t leading_elements_present(const std::vector<std::wstring>& path, const std::vector<std::wstring>& child)
{
    for (std::size_t count = child.size(); count > 0; --count) {
        if (count > path.size())
            continue;
        bool ends_with = true;
        for (std::size_t i = 0; i < count && ends_with; ++i)
            ends_with = same_element(path[path.size() - count + i], child[i]);
        if (ends_with)
            return count;
    }
    return 0;
}

[[noreturn]] void throw_too_long()
{
    throw std::system_error(ERROR_FILENAME_EXCED_RANGE, std::system_category(), "PathAppendW");
}

// Refuses rather than drop the sub-folder when the result would not fit.
std::wstring path_append(const std::wstring& path, const std::wstring& more)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    if (path.size() + 1 + more.size() >= buffer.size())
        throw_too_long();
    path.copy(buffer.data(), path.size());
    if (!PathAppendW(buffer.data(), more.c_str()))
        throw_too_long();
    return buffer.data();
}

std::wstring plainly_joined(const std::wstring& path, const std::wstring& more)
{
    if (path.empty() || path.back() == L'\\' || path.back() == L'/')
        return path + more;
    return path + L'\\' + more;
}

std::wstring window_text(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

const std::wstring& documents_folder()
{
    static const std::wstring folder = [] {
        std::wstring path;
        wchar_t* found = nullptr;
        if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &found)))
            path = found;
        CoTaskMemFree(found);
        return path;
    }();
    return folder;
}

std::wstring path_of(LPCITEMIDLIST item)
{
    wchar_t path[MAX_PATH] = {};
    if (!item || !SHGetPathFromIDListW(item, path))
        return {};
    return path;
}

void show_in_edit(HWND edit, const std::wstring& text)
{
    if (!edit)
        return;
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(edit, EM_SETSEL, 0, -1);
}

BOOL CALLBACK find_edit(HWND child, LPARAM found)
{
    if (!is_edit_control(child))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

void warn(HWND owner, DWORD error)
{
    const std::wstring text = system_error_text(error, 0);
    const UINT flags = MB_ICONEXCLAMATION | (message_box_right_to_left(owner) ? MB_RTLREADING : 0);
    auto& hooks = ui_hooks::instance();
    if (hooks.show_message_box)
        hooks.show_message_box(owner, text.c_str(), nullptr, flags);
    else
        MessageBoxW(owner, text.c_str(), nullptr, flags);
}

constexpr UINT_PTR ok_watch_id = 1;

// Sees OK before the shell does, so that what the edit shows is the result
// on every shell (some return the tree selection and ignore the edit).
LRESULT CALLBACK watch_ok(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR data)
{
    if (message == WM_COMMAND && LOWORD(wparam) == IDOK && HIWORD(wparam) == BN_CLICKED) {
        bool may_close = false;
        try {
            may_close = reinterpret_cast<folder_browser*>(data)->on_ok(dialog);
        }
        catch (...) {
            // A failed check keeps the dialog open for another try.
        }
        if (!may_close)
            return 0;
    }
    if (message == WM_NCDESTROY)
        common_controls_api::instance().remove_window_subclass(dialog, watch_ok, ok_watch_id);
    return common_controls_api::instance().def_subclass_proc(dialog, message, wparam, lparam);
}

int CALLBACK browse_callback(HWND dialog, UINT message, LPARAM parameter, LPARAM data)
{
    auto& browser = *reinterpret_cast<folder_browser*>(data);
    // No exception may cross into the shell's dialog code; a failed check of
    // a typed path keeps the dialog open.
    try {
        switch (message) {
        case BFFM_INITIALIZED:
            browser.on_initialized(dialog);
            break;
        case BFFM_SELCHANGED:
            browser.on_selection_changed(dialog, reinterpret_cast<LPCITEMIDLIST>(parameter));
            break;
        case BFFM_VALIDATEFAILEDW:
            return browser.on_validate_failed(dialog, reinterpret_cast<const wchar_t*>(parameter)) ? 0 : 1;
        default:
            break;
        }
    }
    catch (...) {
        if (message == BFFM_VALIDATEFAILEDW)
            return 1;
    }
    return 0;
}

}

bool has_only_path_characters(const std::wstring& text)
{
    for (const wchar_t c : text) {
        const UINT type = PathGetCharTypeW(c);
        if (type == GCT_INVALID || (type & GCT_WILD))
            return false;
    }
    return true;
}

std::wstring usable_child_folder(const std::wstring& name)
{
    if (name.empty() || !has_only_path_characters(name))
        return {};
    const auto end = name.find_last_not_of(L'.');
    return end == std::wstring::npos ? std::wstring{} : name.substr(0, end + 1);
}

std::wstring append_child_folder(const std::wstring& path, const std::wstring& child)
{
    const auto child_elements = path_elements(child);
    if (child_elements.empty())
        return path;
    const std::size_t present = leading_elements_present(path_elements(path), child_elements);
    std::wstring rest;
    for (std::size_t i = present; i < child_elements.size(); ++i) {
        if (!rest.empty())
            rest += L'\\';
        rest += child_elements[i];
    }
    return rest.empty() ? path : path_append(path, rest);
}

typed_path_result validate_typed_path(const std::wstring& typed)
{
    if (typed.size() >= MAX_PATH)
        return {{}, static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE))};
    wchar_t text[MAX_PATH] = {};
    typed.copy(text, typed.size());
    PathRemoveBlanksW(text);
    PathRemoveBackslashW(text);
    if (is_bare_drive(text))
        lstrcatW(text, L"\\");
    if (!*text && !GetCurrentDirectoryW(MAX_PATH, text))
        return {{}, GetLastError()};
    wchar_t qualified[MAX_PATH] = {};
    if (!PathSearchAndQualifyW(text, qualified, MAX_PATH) || !has_only_path_characters(qualified))
        return {{}, ERROR_BAD_PATHNAME};
    return {qualified, 0};
}

folder_browser::~folder_browser()
{
    if (flags & com_initialised)
        CoUninitialize();
}

void folder_browser::on_initialized(HWND dialog)
{
    std::vector<wchar_t> existing(folder.begin(), folder.end());
    existing.push_back(L'\0');
    existing.resize(std::max<std::size_t>(existing.size(), MAX_PATH));
    bool found = false;
    while (existing[0]) {
        if (PathIsDirectoryW(existing.data())) {
            found = true;
            break;
        }
        if (!PathRemoveFileSpecW(existing.data()))
            break;
    }
    if (found) {
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(existing.data()));
        SendMessageW(dialog, BFFM_SETEXPANDED, TRUE, reinterpret_cast<LPARAM>(existing.data()));
    }
    if (!child_folder.empty()) {
        EnumChildWindows(dialog, find_edit, reinterpret_cast<LPARAM>(&edit));
        if (found)
            show_in_edit(edit, folder);
        if (edit)
            common_controls_api::instance().set_window_subclass(dialog, watch_ok, ok_watch_id, reinterpret_cast<DWORD_PTR>(this));
    }
    // Only now: the selection made above notifies a change at once, which
    // must not replace the initial folder the edit shows.
    flags |= dialog_initialised;
}

void folder_browser::on_selection_changed(HWND dialog, LPCITEMIDLIST item)
{
    if (!(flags & dialog_initialised))
        return;
    const std::wstring path = path_of(item);
    if (child_folder.empty()) {
        SendMessageW(dialog, BFFM_ENABLEOK, 0, !path.empty());
        return;
    }
    if (path.empty())
        return;
    try {
        folder = append_child_folder(path, child_folder);
    }
    catch (const std::system_error&) {
        // Too long with the sub-folder: shown whole, so OK refuses it with its reason.
        folder = plainly_joined(path, child_folder);
    }
    show_in_edit(edit, folder);
}

bool folder_browser::on_ok(HWND dialog)
{
    if (child_folder.empty() || !edit)
        return true;
    return on_validate_failed(dialog, window_text(edit).c_str());
}

bool folder_browser::on_validate_failed(HWND dialog, const wchar_t* typed)
{
    const auto result = validate_typed_path(typed ? typed : L"");
    if (result.error) {
        warn(dialog, result.error);
        return false;
    }
    folder = result.path;
    flags |= typed_path_accepted;
    return true;
}

std::wstring folder_browser::browse(HWND owner, const std::wstring& initial_folder, const std::wstring& sub_folder)
{
    if (!(flags & com_initialised)) {
        const HRESULT hr = CoInitialize(nullptr);
        if (FAILED(hr)) {
            warn(owner, static_cast<DWORD>(hr));
            return {};
        }
        flags |= com_initialised;
    }
    flags &= ~(dialog_initialised | typed_path_accepted);
    edit = nullptr;

    folder = initial_folder;
    if (folder.empty() || PathIsRelativeW(folder.c_str()))
        folder = documents_folder();
    if (is_bare_drive(folder))
        folder += L'\\';
    child_folder = usable_child_folder(sub_folder);
    if (!child_folder.empty())
        folder = append_child_folder(folder, child_folder);

    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = title.empty() ? nullptr : title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_NEWDIALOGSTYLE;
    if (!child_folder.empty())
        info.ulFlags |= BIF_EDITBOX | BIF_VALIDATE;
    info.lpfn = browse_callback;
    info.lParam = reinterpret_cast<LPARAM>(this);

    const item_id_list item{SHBrowseForFolderW(&info)};
    if (!item)
        return {};
    wchar_t path[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(item.get(), path))
        return {};
    if (!(flags & typed_path_accepted))
        folder = path;
    return folder;
}

std::wstring browse_for_folder(const std::wstring& initial_folder, const std::wstring& sub_folder,
                               const message_text& title)
{
    folder_browser browser(title.resolve());
    return browser.browse(owner_window(), initial_folder, sub_folder);
}
