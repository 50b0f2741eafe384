#include "records/uninstall_log.h"

#include <windows.h>

#include <algorithm>
#include <locale>
#include <optional>
#include <sstream>
#include <system_error>

#include <fmt/xchar.h>

#include "identity/product.h"
#include "platform/kernel_handle.h"
#include "records/backup.h"
#include "records/recovery_journal.h"
#include "records/text_file.h"

namespace fs = std::filesystem;

namespace {

bool is_missing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool is_folder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// False only when the system says there is nothing at `path`.
bool may_exist(const std::wstring& path)
{
    return exists(path) || !is_missing(GetLastError());
}

bool is_space(wchar_t c)
{
    return std::use_facet<std::ctype<wchar_t>>(std::locale()).is(std::ctype_base::space, c);
}

std::wstring trim_left(std::wstring text)
{
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), is_space));
    return text;
}

std::wstring trim_right(std::wstring text)
{
    text.erase(std::find_if_not(text.rbegin(), text.rend(), is_space).base(), text.end());
    return text;
}

std::wstring trim(std::wstring text)
{
    return trim_left(trim_right(std::move(text)));
}

// The text after `label` in a header line, or nothing when the label is absent.
std::optional<std::wstring> after(const std::wstring& line, std::wstring_view label)
{
    const auto at = line.find(label);
    if (at == std::wstring::npos)
        return std::nullopt;
    return line.substr(at + label.size());
}

bool is_version_one(const std::wstring& line)
{
    const auto rest = after(line, L"Uninstall Log File v");
    if (!rest)
        return false;
    const auto digits = std::find_if_not(rest->begin(), rest->end(),
                                         [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    const std::wstring number(rest->begin(), digits);
    return !number.empty() && number.find_first_not_of(L'0') == number.size() - 1 &&
           number.back() == L'1';
}

// "nnnn:kkvv:d -- text"; false for anything else.
bool parse_record(const std::wstring& line, log_record& record)
{
    std::wistringstream in(line);
    in.imbue(std::locale::classic());
    long long number = -1;
    long long code = -1;
    wchar_t first_colon = 0;
    wchar_t second_colon = 0;
    wchar_t flag = 0;
    std::wstring word;
    if (!(in >> std::dec >> number >> first_colon >> std::hex >> code >> second_colon >> flag >> word))
        return false;
    if (number < 0 || first_colon != L':' || code < 0 || code >= 0x800 || second_colon != L':' ||
        (flag != L'0' && flag != L'1') || word != L"--")
        return false;
    std::wstring text;
    std::getline(in, text);
    record.kind = static_cast<record_kind>(code >> 8);
    record.value = (code & 0xFF) == 0xFF ? -1 : static_cast<std::int32_t>(code & 0xFF);
    record.done = flag == L'1';
    record.backup.clear();
    record.path.clear();
    if (record.kind != record_kind::uninstall_key && record.kind != record_kind::associations)
        record.path = trim_left(std::move(text));
    return true;
}

enum class read_end { end_of_file, malformed, no_version };

read_end read_lines(const fs::path& file, uninstall_log& log)
{
    hv::txtf::wifstream in(file);
    if (!in.is_open())
        return read_end::no_version;
    in.exceptions(std::ios_base::badbit);
    bool version_given = false;
    int number = 0;
    for (std::wstring line; std::getline(in, line);) {
        line = trim_right(std::move(line));
        if (line.empty())
            continue;
        const int index = number++;
        if (line.starts_with(L"//")) {
            const auto slashes_end = std::min(line.find_first_not_of(L'/'), line.size());
            const std::wstring text = trim_left(line.substr(slashes_end));
            if (index == 0) {
                if (!is_version_one(text))
                    return read_end::malformed;
                version_given = true;
            }
            else if (index == 2) {
                auto rest = after(text, L"Install");
                if (!rest)
                    return read_end::malformed;
                log.previous_product = trim(rest->substr(0, rest->find(L"--")));
            }
            else if (index == 3 || index == 4) {
                // The line's trailing space is gone when the folder is empty.
                auto rest = after(text, index == 3 ? L"Install Path :" : L"Shortcut Path :");
                if (!rest)
                    return read_end::malformed;
                std::wstring folder = trim(std::move(*rest));
                if (is_folder(folder))
                    (index == 3 ? log.install_folder : log.shortcut_folder) = std::move(folder);
            }
            continue;
        }
        log_record record;
        if (!version_given || !parse_record(line, record))
            return read_end::malformed;
        log.previous.push_back(std::move(record));
    }
    return version_given ? read_end::end_of_file : read_end::no_version;
}

// What the log says for a record, as the uninstaller reads it.
std::wstring record_text(const log_record& record)
{
    switch (record.kind) {
    case record_kind::uninstall_key:
        return L"HKEY_LOCAL_MACHINE\\" + product_uninstall_key();
    case record_kind::associations:
        return L"HKEY_CLASSES_ROOT\\...";
    case record_kind::directx_update:
        return L"DirectX Update";
    default:
        return record.path;
    }
}

std::wstring record_line(std::size_t number, const log_record& record)
{
    const int code = static_cast<int>(record.kind) * 256 + (record.value & 0xFF);
    return fmt::format(L"{:04}:{:04x}:{}", number, code, record.done ? 1 : 0) + L" -- " +
           record_text(record);
}

// Records of the previous installation that this one did not make again
// go after this installation's own.
void merge_previous_records(const std::vector<log_record>& previous, std::vector<log_record>& current)
{
    for (const log_record& old : previous) {
        const bool by_location = old.kind == record_kind::directory || old.kind == record_kind::file;
        const bool replaced = std::any_of(current.begin(), current.end(), [&](const log_record& r) {
            return r.kind == old.kind && (!by_location || same_location(r.path, old.path));
        });
        if (!replaced)
            current.push_back(old);
    }
}

void discard_backups(std::vector<log_record>& records)
{
    for (log_record& record : records) {
        if (record.backup.empty())
            continue;
        try {
            remove_file(record.backup);
        }
        catch (const std::system_error&) {
            // A backup that cannot be deleted is left in the temporary folder.
        }
        record.backup.clear();
    }
}

std::wstring element_text(const fs::path& element)
{
    std::wstring text = element.wstring();
    std::replace(text.begin(), text.end(), L'/', L'\\');
    return text;
}

template <class Equal>
bool equal_elements(const fs::path& a, const fs::path& b, Equal equal)
{
    auto i = a.begin();
    auto j = b.begin();
    for (; i != a.end() && j != b.end(); ++i, ++j) {
        if (!equal(element_text(*i), element_text(*j)))
            return false;
    }
    return i == a.end() && j == b.end();
}

bool equal_ignoring_case(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() &&
           CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::optional<BY_HANDLE_FILE_INFORMATION> identity_of(const fs::path& path)
{
    kernel_handle handle(CreateFileW(path.c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!handle || !GetFileInformationByHandle(handle.get(), &info))
        return std::nullopt;
    return info;
}

// Taken when a backup is made, checked before it is put back.
std::optional<content_sum> sum_of_backup(const std::wstring& backup)
{
    if (backup.empty())
        return std::nullopt;
    try {
        return file_content_sum(backup);
    }
    catch (const std::system_error&) {
        return std::nullopt;
    }
}

fs::path absolute_or_same(const fs::path& path)
{
    std::error_code error;
    fs::path result = fs::absolute(path, error);
    return error ? path : result;
}

}

bool same_location(const fs::path& a, const fs::path& b)
{
    if (equal_elements(a, b, std::equal_to<>()))
        return true;
    const auto first = identity_of(a);
    const auto second = identity_of(b);
    if (first && second)
        return first->dwVolumeSerialNumber == second->dwVolumeSerialNumber &&
               first->nFileIndexHigh == second->nFileIndexHigh &&
               first->nFileIndexLow == second->nFileIndexLow;
    return equal_elements(absolute_or_same(a), absolute_or_same(b), equal_ignoring_case);
}

bool uninstall_log::read(const fs::path& file)
{
    install_folder.clear();
    shortcut_folder.clear();
    had_desktop_shortcut = true;
    if (file.empty())
        return false;
    read_end end = read_end::malformed;
    try {
        end = read_lines(file, *this);
        if (end == read_end::malformed)
            return false;
    }
    catch (...) {
        // A read error ends the reading like the end of the file.
    }
    had_desktop_shortcut = std::any_of(previous.begin(), previous.end(), [](const log_record& r) {
        return r.kind == record_kind::desktop_shortcut;
    });
    return end == read_end::end_of_file;
}

bool uninstall_log::create_directories(const fs::path& folder)
{
    fs::path path = folder;
    if (!path.has_filename() && path.has_relative_path())
        path = path.parent_path();
    const std::wstring text = path.wstring();
    if (text.empty())
        return false;
    if (exists(text))
        return is_folder(text);
    const fs::path parent = path.parent_path();
    if (parent.has_relative_path() && !create_directories(parent))
        return false;
    if (journal)
        journal->append(journal_folder{text});
    if (const auto access = access_for_new_folder ? access_for_new_folder(text) : std::nullopt) {
        try {
            create_folder_with_access(text, *access);
        }
        catch (const std::system_error&) {
            // Whatever stands there now is looked at below.
        }
    }
    else {
        CreateDirectoryW(text.c_str(), nullptr);
    }
    if (!is_folder(text))
        return false;
    current.push_back({record_kind::directory, text, {}, true, -1});
    return true;
}

void uninstall_log::add_file(const fs::path& path, std::int32_t value, bool copy_backup)
{
    pending = true;
    create_directories(path.parent_path());
    const std::wstring text = path.wstring();
    current.push_back({record_kind::file, text, {}, false, value});
    if (!may_exist(text)) {
        announce_file(record_kind::file, text, {}, {});
        return;
    }
    std::error_code error;
    std::wstring backup;
    if (copy_backup) {
        // The file stays as it is, so a missing copy loses nothing.
        current.back().kept = true;
        try {
            current.back().backup = make_backup(text, true, error, backup_folder);
        }
        catch (...) {
        }
        return;
    }
    // A folder standing where the file goes is the user's, with whatever it
    // holds: it is neither moved aside nor replaced, and the step fails as
    // opening a folder for writing does.
    if (is_folder(text)) {
        current.pop_back();
        pending = false;
        throw std::system_error(ERROR_ACCESS_DENIED, std::system_category(), "a folder stands where the file goes");
    }
    // Without a backup the file would be overwritten now and deleted by a
    // rollback: the step must not go ahead, and its record must not stay.
    // The original's sum is taken before it moves, for the same read.
    std::optional<content_sum> original_sum;
    try {
        backup = make_backup(text, false, error, backup_folder, [&](const std::wstring& name) {
            original_sum = sum_of_backup(text);
            announce_file(record_kind::file, text, name, original_sum);
        });
    }
    catch (...) {
        current.pop_back();
        pending = false;
        throw;
    }
    if (backup.empty()) {
        current.pop_back();
        pending = false;
        throw std::system_error(error, "cannot put the existing file aside");
    }
    current.back().backup = std::move(backup);
    current.back().backup_sum = original_sum;
}

void uninstall_log::announce_file(record_kind kind, const std::wstring& path, const std::wstring& backup,
                                  const std::optional<content_sum>& backup_sum)
{
    if (journal)
        journal->append(journal_file{kind, path, backup, backup_sum});
}

void uninstall_log::add_shortcut(int where, const fs::path& folder)
{
    pending = true;
    create_directories(folder);
    const record_kind kind = where == 0 ? record_kind::menu_shortcut : record_kind::desktop_shortcut;
    current.push_back({kind, {}, {}, false, -1});
    const auto old = std::find_if(previous.begin(), previous.end(),
                                  [&](const log_record& r) { return r.kind == kind; });
    if (old != previous.end() && !old->path.empty() && exists(old->path)) {
        std::error_code ignored;
        std::optional<content_sum> original_sum;
        current.back().backup = make_backup(old->path, false, ignored, backup_folder, [&](const std::wstring& name) {
            original_sum = sum_of_backup(old->path);
            announce_file(kind, old->path, name, original_sum);
        });
        current.back().backup_sum = original_sum;
    }
}

void uninstall_log::add_association()
{
    pending = true;
    current.push_back({record_kind::associations, {}, {}, false, -1});
}

void uninstall_log::commit(bool done, const std::wstring& path)
{
    if (!pending || current.empty())
        return;
    pending = false;
    current.back().done = done;
    if (!path.empty())
        current.back().path = path;
}

std::wstring uninstall_log::text(const std::wstring& install_path, const std::wstring& shortcut_path) const
{
    std::wstring out = L"// Uninstall Log File v1\n"
                       L"// ############ WARNING: Do not delete or modify this file. ############\n"
                       L"// Install " +
                       product_name(false);
    if (!previous_product.empty())
        out += L" -- Update (" + previous_product + L")";
    out += L"\n// Install Path : " + install_path + L"\n// Shortcut Path : " + shortcut_path + L"\n// " +
           std::wstring(100, L'-') + L'\n';
    for (std::size_t i = 0; i < current.size(); ++i)
        out += record_line(i, current[i]) + L'\n';
    return out;
}

bool uninstall_log::write(const fs::path& file, const std::wstring& install_path,
                          const std::wstring& shortcut_path)
{
    bool written = false;
    std::wstring earlier_log;
    try {
        if (journal) {
            // The earlier log comes back if the run ends before it stands.
            const std::wstring path = file.wstring();
            announce_file(record_kind::file, path + L".new", {}, {});
            std::error_code error;
            std::optional<content_sum> earlier_sum;
            if (exists(path))
                earlier_log = make_backup(path, true, error, backup_folder, [&](const std::wstring& name) {
                    earlier_sum = sum_of_backup(path);
                    announce_file(record_kind::file, path, name, earlier_sum);
                });
            else
                announce_file(record_kind::file, path, {}, {});
            if (error)
                throw std::system_error(error, "cannot keep a copy of the earlier log");
        }
        merge_previous_records(previous, current);
        previous.clear();
        // The earlier log stays whole until the new one is complete: an update
        // whose write fails part-way must not lose the earlier installation's
        // records.
        replace_file(file.wstring(), hv::txtf::utf16_file_bytes(text(install_path, shortcut_path)),
                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        written = true;
        if (journal)
            journal->append(journal_commit{});
    }
    catch (...) {
        // The caller reports the failure.
    }
    discard_backups(current);
    if (!earlier_log.empty())
        DeleteFileW(earlier_log.c_str());
    return written;
}
