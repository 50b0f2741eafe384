#include "uninstaller/uninstall.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include <fmt/xchar.h>

#include "identity/product.h"
#include "platform/kernel_handle.h"
#include "platform/language.h"
#include "platform/private_folder.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/string_table.h"
#include "platform/sync_objects.h"
#include "platform/system_random.h"
#include "product/registration.h"
#include "records/backup.h"
#include "records/recovery.h"
#include "uninstaller/uninstaller_ids.h"

namespace fs = std::filesystem;

namespace {

std::size_t depth(const std::wstring& path)
{
    const fs::path elements(path);
    return static_cast<std::size_t>(std::distance(elements.begin(), elements.end()));
}

std::wstring folded(const std::wstring& path)
{
    std::wstring text = fs::path(path).lexically_normal().wstring();
    std::replace(text.begin(), text.end(), L'/', L'\\');
    while (text.size() > 3 && text.back() == L'\\')
        text.pop_back();
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// Whether the file holds exactly `expected`, read in blocks: a huge file
// (or a sparse one) is told apart by its size without being read.
bool file_holds(const fs::path& path, std::string_view expected)
{
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (error || size != expected.size())
        return false;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> block(1 << 16);
    for (std::size_t done = 0; done < expected.size();) {
        const std::size_t wanted = std::min(block.size(), expected.size() - done);
        if (!in.read(block.data(), static_cast<std::streamsize>(wanted)))
            return false;
        if (std::string_view(block.data(), wanted) != expected.substr(done, wanted))
            return false;
        done += wanted;
    }
    return true;
}

// Data files and examples are the user's documents once their content is
// not what the installation shipped; a file nothing was shipped for counts
// as changed.
bool changed_by_user(const uninstall_step& step, const uninstall_options& options)
{
    std::error_code error;
    if (!fs::is_regular_file(step.path, error))
        return false;
    const auto shipped = options.shipped_data ? options.shipped_data(fs::path(step.path).filename().wstring())
                                              : std::nullopt;
    return !shipped || !file_holds(step.path, *shipped);
}

bool is_user_document(const uninstall_step& step)
{
    return step.what == uninstall_step::action::remove_file && (step.value == 3 || step.value == 4);
}

std::wstring lines(const std::vector<std::wstring>& items)
{
    std::wstring text;
    for (const std::wstring& item : items)
        text += item + L"\n";
    return text;
}

bool is_running_process_file(const std::wstring& path, const std::wstring& own_path)
{
    return !own_path.empty() && same_location(path, own_path);
}

// A folder name nobody can guess before it exists: 64 bits of the system's
// random source.
std::wstring unpredictable_name()
{
    std::uint64_t bits = 0;
    system_random_bytes(&bits, sizeof bits);
    return fmt::format(L"hv-uninstall-{:016x}", bits);
}

// Writes the copy of the running program, then holds it open for reading
// only (no writing, no deleting, no renaming) until the copy has started.
kernel_handle write_held_copy(const std::wstring& source, const std::wstring& copy)
{
    {
        const kernel_handle in(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        const kernel_handle out(
            CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!in || !out)
            return {};
        std::vector<char> block(1 << 16);
        for (;;) {
            DWORD read = 0;
            DWORD written = 0;
            if (!ReadFile(in.get(), block.data(), static_cast<DWORD>(block.size()), &read, nullptr))
                return {};
            if (read == 0)
                break;
            if (!WriteFile(out.get(), block.data(), read, &written, nullptr) || written != read)
                return {};
        }
    }
    return kernel_handle(
        CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

// Starts a copy of the uninstaller in a fresh temporary folder that deletes
// the original once this process has ended, then the emptied folders. The
// folder gets a name nobody can guess, is made new (never one found there),
// and when this program runs elevated only administrators and the system may
// open it: the copy runs elevated too, so nobody else may swap it.
bool start_self_removal(const std::wstring& own_path, const std::vector<std::wstring>& folders)
{
    wchar_t temp[MAX_PATH + 1] = {};
    if (!GetTempPathW(MAX_PATH + 1, temp))
        return false;
    std::wstring folder;
    try {
        folder = std::wstring(temp) + unpredictable_name();
        if (is_administrator())
            create_private_folder(folder);
        else if (!CreateDirectoryW(folder.c_str(), nullptr))
            return false;
    }
    catch (const std::exception&) {
        return false;
    }
    const std::wstring copy = folder + L"\\" + fs::path(own_path).filename().wstring();
    const auto give_up = [&] {
        DeleteFileW(copy.c_str());
        RemoveDirectoryW(folder.c_str());
        return false;
    };
    const kernel_handle held = write_held_copy(own_path, copy);
    if (!held)
        return give_up();
    std::wstring command = L"\"" + copy + L"\" /cleanup " + std::to_wstring(GetCurrentProcessId()) + L" \"" +
                           own_path + L"\"";
    for (const std::wstring& f : folders)
        command += L" \"" + f + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process))
        return give_up();
    kernel_handle thread(process.hThread);
    kernel_handle started(process.hProcess);
    return true;
}

}

namespace {

bool is_alone_in_its_folder(const std::wstring& program)
{
    std::error_code error;
    auto entry = fs::directory_iterator(fs::path(program).parent_path(), error);
    if (error || entry == fs::directory_iterator() || !same_location(entry->path(), program))
        return false;
    entry.increment(error);
    return !error && entry == fs::directory_iterator();
}

}

void remove_at_reboot(const std::wstring& program, const std::vector<std::wstring>& folders)
{
    if (!program.empty()) {
        SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_NORMAL);
        MoveFileExW(program.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    for (const std::wstring& folder : folders)
        MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

std::vector<uninstall_step> plan_uninstall(const std::vector<log_record>& records)
{
    using action = uninstall_step::action;
    std::vector<uninstall_step> steps;
    std::vector<uninstall_step> folders;
    std::set<std::wstring> seen;
    std::wstring program;
    for (const log_record& record : records)
        if (record.kind == record_kind::file && record.value == 1 && record.done)
            program = record.path;
    bool key_done = false;
    bool registration_done = false;
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        const log_record& record = *it;
        switch (record.kind) {
        case record_kind::file:
        case record_kind::menu_shortcut:
        case record_kind::desktop_shortcut:
            if (record.done && !record.path.empty() && seen.insert(folded(record.path)).second)
                steps.push_back({action::remove_file, record.path,
                                 record.kind == record_kind::file ? record.value : -1});
            break;
        case record_kind::directory:
            if (record.done && !record.path.empty() && seen.insert(folded(record.path)).second)
                folders.push_back({action::remove_folder, record.path, -1});
            break;
        case record_kind::uninstall_key:
            // The key is the product's own, whether or not all its values were written.
            if (!std::exchange(key_done, true))
                steps.push_back({action::remove_uninstall_key, {}, -1});
            break;
        case record_kind::associations:
            if (!program.empty() && !std::exchange(registration_done, true))
                steps.push_back({action::remove_registration, program, -1});
            break;
        default:
            break;
        }
    }
    std::stable_sort(folders.begin(), folders.end(),
                     [](const uninstall_step& a, const uninstall_step& b) { return depth(a.path) > depth(b.path); });
    steps.insert(steps.end(), folders.begin(), folders.end());
    return steps;
}

std::wstring uninstaller_text(int language, unsigned id)
{
    HMODULE module = GetModuleHandleW(nullptr);
    string_ref text = resource_string(module, language_langid(language), id);
    if (text.empty())
        text = resource_string(module, language_langid(1), id);
    return std::wstring(text);
}

uninstall_report run_uninstall(const uninstall_options& options)
{
    using action = uninstall_step::action;
    uninstall_report report;
    const auto text = [&](unsigned id) { return uninstaller_text(options.language, id); };
    const std::wstring name = product_name(true);

    instance_counter counter(instance_counter_name(options.application_id));
    named_mutex lock(installation_lock_name(options.application_id), false, true);
    if (!lock.try_lock()) {
        options.ask(prompt::refused, format_text(text(IDS_INSTALLER_RUNNING), name));
        report.exit_code = uninstall_refused;
        return report;
    }
    if (counter.running_count() >= 2) {
        options.ask(prompt::refused, format_text(text(IDS_PRODUCT_RUNNING), name));
        report.exit_code = uninstall_refused;
        return report;
    }

    // An installation ended part-way is undone first, and files of the user
    // a failed installation could not put back go back, while this run
    // holds the installation lock.
    recover_interrupted_runs({csidl_folder, registration_key_roots()});
    const left_behind_report left_behind = restore_left_behind_backups();

    // An uninstallation ended after it removed its log and the entry left
    // only this program, alone in the folders that hold it.
    std::error_code no_log;
    if (options.self_delete && !fs::exists(options.log_path, no_log) && !no_log &&
        is_alone_in_its_folder(options.own_path) &&
        !open_key(registry_root::local_machine, product_uninstall_key().c_str())) {
        std::vector<std::wstring> folders{options.log_path.parent_path().wstring()};
        if (options.log_path.parent_path().parent_path().filename() == fs::path(std::wstring(maker_name)))
            folders.push_back(options.log_path.parent_path().parent_path().wstring());
        if (!start_self_removal(options.own_path, folders))
            remove_at_reboot(options.own_path, folders);
        return report;
    }

    uninstall_log log;
    if (!log.read(options.log_path)) {
        options.ask(prompt::bad_log, format_text(text(IDS_BAD_LOG), options.log_path.wstring()));
        report.exit_code = uninstall_bad_log;
        return report;
    }
    if (!options.ask(prompt::confirm, format_text(text(IDS_CONFIRM), name))) {
        report.exit_code = uninstall_cancelled;
        return report;
    }

    // A record pointing outside the installation's folders was not written
    // by the installer: it is left alone, and the log stays for another run.
    const owned_folders owned =
        options.owned ? *options.owned : owned_folders_for(options.log_path.parent_path().wstring());
    for (const log_record& record : take_unowned_records(log.previous, owned))
        report.left_alone.push_back(record.path);

    const std::vector<uninstall_step> steps = plan_uninstall(log.previous);
    std::vector<std::wstring> changed;
    for (const uninstall_step& step : steps)
        if (is_user_document(step) && changed_by_user(step, options))
            changed.push_back(step.path);
    const bool remove_changed =
        !changed.empty() &&
        options.ask(prompt::remove_changed_files, format_text(text(IDS_CHANGED_FILES), lines(changed)));

    std::vector<std::wstring> remaining_folders;
    bool own_file_recorded = false;
    const auto run_step = [&](const uninstall_step& step) {
        try {
            switch (step.what) {
            case action::remove_file: {
                if (is_running_process_file(step.path, options.own_path)) {
                    own_file_recorded = true;
                    return;
                }
                if (!remove_changed && std::find(changed.begin(), changed.end(), step.path) != changed.end()) {
                    report.kept.push_back(step.path);
                    return;
                }
                std::error_code error;
                if (!fs::exists(step.path, error))
                    return;
                remove_file(step.path);
                report.removed.push_back(step.path);
                ++report.files;
                break;
            }
            case action::remove_folder: {
                std::error_code error;
                if (!fs::is_directory(step.path, error))
                    return;
                if (!fs::is_empty(step.path, error)) {
                    remaining_folders.push_back(step.path);
                    return;
                }
                remove_folder(step.path);
                report.removed.push_back(step.path);
                ++report.folders;
                break;
            }
            case action::remove_uninstall_key: {
                const std::wstring key = product_uninstall_key();
                const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
                if (status == ERROR_SUCCESS)
                    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
                if (status == ERROR_SUCCESS) {
                    report.removed.push_back(L"HKEY_LOCAL_MACHINE\\" + key);
                    ++report.registry;
                }
                else if (status != ERROR_FILE_NOT_FOUND)
                    throw std::system_error(static_cast<int>(status), std::system_category(), "RegDeleteTreeW");
                break;
            }
            case action::remove_registration: {
                const int values = unregister_product(step.path);
                if (values > 0)
                    report.removed.push_back(L"HKEY_LOCAL_MACHINE\\Software\\Classes\\" +
                                             std::wstring(document_extension));
                report.registry += values;
                break;
            }
            }
        }
        catch (const std::exception&) {
            report.failed.push_back(step.path.empty() ? L"HKEY_LOCAL_MACHINE\\" + product_uninstall_key() : step.path);
        }
    };
    const auto is_registry_step = [](const uninstall_step& step) {
        return step.what == action::remove_uninstall_key || step.what == action::remove_registration;
    };
    for (const uninstall_step& step : steps)
        if (!is_registry_step(step))
            run_step(step);
    // The entry in the list of installed programs, and the registration the
    // program's own start needs, go last: after an incomplete run the user
    // can still start the uninstallation from the list to finish it.
    const bool complete = report.failed.empty() && report.left_alone.empty();
    if (complete)
        for (const uninstall_step& step : steps)
            if (is_registry_step(step))
                run_step(step);

    const bool finished = report.failed.empty() && report.left_alone.empty();
    if (finished) {
        std::error_code error;
        try {
            remove_file(options.log_path.wstring());
        }
        catch (const std::exception&) {
            report.failed.push_back(options.log_path.wstring());
        }
        // The folders that held the log or the uninstaller itself.
        std::vector<std::wstring> still_there;
        for (const std::wstring& folder : remaining_folders) {
            if (fs::is_directory(folder, error) && fs::is_empty(folder, error) && RemoveDirectoryW(folder.c_str())) {
                report.removed.push_back(folder);
                ++report.folders;
            }
            else
                still_there.push_back(folder);
        }
        remaining_folders = std::move(still_there);
    }

    report.exit_code = report.failed.empty() && report.left_alone.empty() ? uninstall_done : uninstall_incomplete;
    std::wstring summary = format_text(text(IDS_REMOVED), name, report.files, report.folders, report.registry);
    if (!report.kept.empty())
        summary += L"\n\n" + text(IDS_KEPT) + L"\n" + lines(report.kept);
    if (!report.failed.empty())
        summary += L"\n\n" + text(IDS_NOT_REMOVED) + L"\n" + lines(report.failed);
    if (!report.left_alone.empty())
        summary += L"\n\n" + text(IDS_LEFT_ALONE) + L"\n" + lines(report.left_alone);
    if (!left_behind.put_back.empty())
        summary += L"\n\n" + text(IDS_PUT_BACK) + L"\n" + lines(left_behind.put_back);
    for (const not_restored_entry& entry : left_behind.still_left)
        summary += L"\n\n" + format_text(text(IDS_NOT_PUT_BACK), entry.original, entry.backup);
    options.ask(prompt::summary, summary);
    // The copy that removes this program starts once the user has closed
    // the summary, however long that took.
    if (own_file_recorded && options.self_delete && report.exit_code == uninstall_done &&
        !start_self_removal(options.own_path, remaining_folders))
        remove_at_reboot(options.own_path, remaining_folders);
    return report;
}

bool finish_self_removal(unsigned long process_id, const std::wstring& program,
                         const std::vector<std::wstring>& folders)
{
    // The uninstaller ends right after starting this copy; whatever keeps
    // it, the copy waits: giving up would leave the program behind.
    if (const kernel_handle process{OpenProcess(SYNCHRONIZE, FALSE, process_id)})
        WaitForSingleObject(process.get(), INFINITE);
    bool gone = false;
    for (int attempt = 0; attempt < 50 && !gone; ++attempt) {
        SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_NORMAL);
        gone = DeleteFileW(program.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
        if (!gone)
            Sleep(100);
    }
    bool all = gone;
    for (const std::wstring& folder : folders)
        all = (RemoveDirectoryW(folder.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) && all;
    if (!all)
        remove_at_reboot(gone ? std::wstring() : program, folders);
    return all;
}
