#include "engine/installation.h"

#include <windows.h>
#include <knownfolders.h>

#include <cmath>
#include <exception>
#include <filesystem>
#include <optional>
#include <variant>
#include <vector>

#include <fmt/xchar.h>

#include "identity/product.h"
#include "engine/file_policy.h"
#include "engine/uninstall_registration.h"
#include "payload/compress_error.h"
#include "payload/extractor.h"
#include "payload/memstream.h"
#include "platform/path_rules.h"
#include "platform/private_folder.h"
#include "platform/security.h"
#include "platform/string_table.h"
#include "platform/sync_objects.h"
#include "product/registration.h"
#include "records/backup.h"
#include "records/owned_folders.h"
#include "records/recovery.h"
#include "records/recovery_journal.h"
#include "records/registration_run.h"
#include "records/shortcuts.h"
#include "records/uninstall_log.h"

namespace fs = std::filesystem;

namespace {

// Generic read, generic write and delete for the Users group on data files.
constexpr DWORD users_data_access = 0x13019F;

const std::wstring line_end = L"\r\n";

std::wstring ok_or_failed(bool ok)
{
    return load_string(ok ? 1011 : 1012) + line_end;
}

std::wstring failure_status(const std::wstring& code_text)
{
    return format_text(load_string(1121), code_text);
}

void set_read_only(const std::wstring& path)
{
    if (path.empty())
        return;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY);
}

// Whether an existing file is byte for byte what the archive carries for it
// (its size and CRC-32); a file that cannot be read is not.
bool holds_shipped_content(const payload_entry& entry)
{
    std::error_code error;
    if (fs::file_size(entry.destination, error) != entry.size || error)
        return false;
    try {
        return file_crc32(entry.destination) == entry.crc32;
    }
    catch (const std::exception&) {
        return false;
    }
}

std::wstring desktop_folder(const known_folder_source& source)
{
    std::wstring folder = known_folder(FOLDERID_PublicDesktop, {}, source);
    return folder.empty() ? known_folder(FOLDERID_Desktop, {}, source) : folder;
}

// Takes the installation lock again however the registration run ends.
class relock {
public:
    explicit relock(named_mutex& lock) : lock_(lock) { lock_.release(); }
    relock(const relock&) = delete;
    relock& operator=(const relock&) = delete;
    ~relock() { lock_.try_lock(); }

private:
    named_mutex& lock_;
};

class installation {
public:
    installation(const installation_request& request, installation_state& state, installation_view& view,
                 const installation_sources& sources)
        : request_(request), state_(state), view_(view), sources_(sources)
    {
    }

    bool run()
    {
        view_.begin_wait();
        const bool result = steps();
        view_.end_wait();
        return result;
    }

private:
    bool steps()
    {
        view_.append_log(log_separator() + line_end);
        view_.set_status(load_string(1114));

        std::wstring temporary_folder;
        std::wstring error_text;
        if (!state_.make_temporary_folder(temporary_folder, error_text) ||
            !create_run_folder(temporary_folder, error_text)) {
            const std::wstring text = failure_status(error_text);
            view_.set_status(text);
            view_.append_log(text + line_end);
            return false;
        }
        state_.log.backup_folder = temporary_folder;
        state_.log.access_for_new_folder =
            new_folder_access_rule(new_folder_places_for(request_.install_folder, sources_.lookup));
        view_.show_progress();
        percent_ = 0;
        cleanup_paths_ = {temporary_folder};
        drop_unowned_previous_records();
        if (!begin_journal(temporary_folder, error_text)) {
            const std::wstring text = failure_status(error_text);
            view_.set_status(text);
            view_.append_log(text + line_end);
            remove_cleanup_paths();
            return false;
        }

        if (!extract(temporary_folder)) {
            const bool undone = undo();
            end_journal(undone);
            remove_cleanup_paths();
            return false;
        }

        set_read_only(program_path_);
        set_read_only(uninstaller_path_);
        create_shortcuts_step();
        registration_step();
        write_log_step();
        view_.set_status(format_text(load_string(1106), load_string(1006)));
        end_journal(true);
        remove_cleanup_paths();
        return true;
    }

    // Every change from here on is announced in the run's folder first, so
    // that the next run can undo this one if it ends part-way.
    bool begin_journal(const std::wstring& run_folder, std::wstring& error_text)
    {
        try {
            journal_.emplace(run_folder + L"\\" + recovery_journal_name);
            journal_->append(journal_begin{request_.install_folder, request_.menu_folder,
                                           desktop_folder(sources_.known_folder)});
            state_.log.journal = &*journal_;
            return true;
        }
        catch (const std::system_error& e) {
            error_text = error_code_text(e.code());
            if (journal_)
                DeleteFileW(journal_->path().c_str());
            journal_.reset();
            return false;
        }
    }

    // The run has ended, completed or undone. When undoing left something,
    // the journal stays for the next run to try again.
    void end_journal(bool ended_cleanly)
    {
        run_hold_.release();
        state_.log.journal = nullptr;
        if (!journal_)
            return;
        const std::wstring path = journal_->path();
        journal_.reset();
        if (ended_cleanly) {
            // Nothing the run kept in its folder is needed any more.
            DeleteFileW(path.c_str());
            remove_run_folder(fs::path(path).parent_path().wstring());
        }
        else {
            cleanup_paths_.clear();
        }
    }

    // The earlier log lies in the installation folder, where users may be
    // able to change it: records naming anything outside the folders this
    // installation writes to are neither acted on nor carried into the new log.
    void drop_unowned_previous_records()
    {
        owned_folders& owned = owned_;
        owned = owned_folders_for(request_.install_folder, sources_.lookup);
        if (!request_.menu_folder.empty())
            owned.menu_folders.push_back(request_.menu_folder);
        if (const std::wstring desktop = desktop_folder(sources_.known_folder); !desktop.empty())
            owned.desktop_folders.push_back(desktop);
        for (const log_record& record : take_unowned_records(state_.log.previous, owned))
            view_.append_log(format_text(load_string(1134), record.path) + line_end);
    }

    bool extract(const std::wstring& temporary_folder)
    {
        try {
            std::unique_ptr<std::istream> stream;
            if (sources_.payload_stream) {
                stream = sources_.payload_stream();
            }
            else {
                const std::span<const char> bytes = sources_.payload ? sources_.payload() : payload_resource();
                stream = std::make_unique<hv::imemstream>(bytes.data(), bytes.size());
            }
            if (!stream)
                throw std::system_error(make_error_code(compress_errc::unexpected_error));
            stream_ = stream.get();
            const bool extracted = extract_payload(
                *stream, request_.install_folder, format_text(load_string(1018), product_name(true)),
                temporary_folder, [this](notification n) { return notify(std::move(n)); }, sources_.lookup);
            stream_ = nullptr;
            return extracted;
        }
        catch (...) {
            // The reader reports its own failures; whatever else goes wrong
            // around it is shown the same way.
            stream_ = nullptr;
            state_.log.commit(false);
            view_.append_log(ok_or_failed(false));
            view_.set_status(failure_status(error_code_text(std::current_exception())));
            return false;
        }
    }

    // Undoes what the failed extraction recorded. A user's file that could
    // not be put back stays under its backup name, which the log shows. An
    // error while undoing is shown as the installation's failure; it must
    // not leave the page.
    bool undo()
    {
        try {
            const auto problems = sources_.rollback ? sources_.rollback(state_.log) : state_.log.rollback();
            for (const rollback_problem& problem : problems)
                if (!problem.backup.empty())
                    view_.append_log(format_text(load_string(1133), problem.path, problem.backup) + L"\r\n");
            return problems.empty();
        }
        catch (...) {
            view_.set_status(failure_status(error_code_text(std::current_exception())));
            return false;
        }
    }

    // The run's folder holds the backups of the user's files: only
    // administrators and the system may open it, and it is made new, so that
    // nobody can change or swap a backup before a rollback puts it back. It
    // is held from the moment it is made, so that the recovery of another
    // installation running beside this one leaves it alone; and made again
    // when the storage went in between (a run removes the storage when it
    // leaves it empty).
    bool create_run_folder(const std::wstring& folder, std::wstring& error_text)
    {
        for (int attempt = 1;; ++attempt) {
            try {
                ensure_private_folder(fs::path(folder).parent_path().wstring());
                create_private_folder(folder);
                run_hold_ = run_folder_hold(folder);
                return true;
            }
            catch (const std::system_error& e) {
                const bool gone = e.code() == std::error_code(ERROR_PATH_NOT_FOUND, std::system_category()) ||
                                  e.code() == std::error_code(ERROR_FILE_NOT_FOUND, std::system_category());
                if (gone && attempt < 3)
                    continue;
                error_text = error_code_text(e.code());
                return false;
            }
        }
    }

    // Transient files first, the temporary folder last, and only when empty;
    // then the private storage when nothing else is kept there.
    void remove_cleanup_paths()
    {
        run_hold_.release();
        for (auto path = cleanup_paths_.rbegin(); path != cleanup_paths_.rend(); ++path) {
            std::error_code ignored;
            fs::remove(*path, ignored);
        }
        if (!cleanup_paths_.empty() && same_location(fs::path(cleanup_paths_.front()).parent_path(),
                                                     private_storage_folder()()))
            RemoveDirectoryW(private_storage_folder()().c_str());
    }

    notification::result notify(notification n)
    {
        try {
            const notification::result answer = std::visit([this](const auto& event) { return on(event); }, n.event);
            after_notification();
            return answer;
        }
        catch (...) {
            after_notification();
            throw;
        }
    }

    void after_notification()
    {
        view_.pump();
        view_.restore_wait();
    }

    notification::result on(const notification::started&)
    {
        const std::wstring text = load_string(1114);
        view_.set_status(text);
        view_.append_log(text);
        if (!stream_ || !verify_payload(*stream_))
            throw std::system_error(make_error_code(compress_errc::verification_failed));
        stream_->clear();
        stream_->seekg(0);
        view_.append_log(ok_or_failed(true));
        return notification::result::proceed;
    }

    notification::result on(const notification::finished&) { return notification::result::proceed; }

    // A folder of the installation that a user replaced by a link (before a
    // first installation, or since the last) would have the installation
    // write, and widen access, wherever the link points.
    void refuse_links_on_the_way(const std::wstring& destination) const
    {
        if (!link_on_the_way(owned_, destination).empty())
            throw std::system_error(ERROR_CANT_ACCESS_FILE, std::system_category(), "a link stands in the way");
    }

    notification::result on(const notification::file_begin& begin)
    {
        const payload_entry& entry = begin.entry;
        const std::wstring destination = entry.destination.wstring();
        refuse_links_on_the_way(destination);
        if (entry.kind == payload_kind::program)
            program_path_ = destination;
        else if (entry.kind == payload_kind::uninstaller)
            uninstaller_path_ = destination;

        std::error_code ignored;
        const bool exists = fs::exists(entry.destination, ignored);
        const bool as_shipped = !exists || entry.kind != payload_kind::sample || holds_shipped_content(entry);
        const file_decision decision = file_action_for(entry.kind, request_.existing_state, state_.log.previous,
                                                       entry.destination, exists, as_shipped);
        if (decision.remove_afterwards)
            cleanup_paths_.push_back(destination);

        switch (decision.action) {
        case file_action::keep_silently:
            grant_users_access(destination, users_data_access, 0);
            return notification::result::skip;
        case file_action::keep_and_record:
            state_.log.add_file(entry.destination, static_cast<std::int32_t>(entry.kind), decision.copy_backup);
            state_.log.commit(true);
            grant_users_access(destination, users_data_access, 0);
            return notification::result::skip;
        case file_action::skip:
            return notification::result::skip;
        case file_action::write:
            break;
        }
        // Shown before the file is recorded, so that a file that cannot be
        // put aside still has its line to end with "Failed".
        const std::wstring text = format_text(load_string(1115), destination);
        view_.set_status(text);
        view_.append_log(text);
        if (decision.record) {
            state_.log.add_file(entry.destination, static_cast<std::int32_t>(entry.kind), decision.copy_backup);
            state_.log.current.back().written_sum = content_sum{entry.size, entry.crc32};
        }
        return notification::result::proceed;
    }

    notification::result on(const notification::file_end& end)
    {
        if (end.entry.kind == payload_kind::shared_data)
            grant_users_access(end.entry.destination.wstring(), users_data_access, 0);
        if (end.entry.kind != payload_kind::transient)
            state_.log.commit(true);
        view_.append_log(ok_or_failed(true));
        return notification::result::proceed;
    }

    notification::result on(const notification::progress& progress)
    {
        // Thousands of blocks, a hundred positions: the bar is set only when
        // its position changes.
        const int percent = progress_percent(progress.position, progress.archive_size);
        if (percent != percent_) {
            view_.set_progress(percent);
            percent_ = percent;
        }
        return notification::result::proceed;
    }

    notification::result on(const notification::failed& failure)
    {
        state_.log.commit(false);
        view_.append_log(ok_or_failed(false));
        view_.set_status(failure_status(error_code_text(failure.code)));
        return notification::result::cancel;
    }

    void create_shortcuts_step()
    {
        if (!request_.menu_shortcut && !request_.desktop_shortcut)
            return;
        const std::wstring text = load_string(1117);
        view_.set_status(text);
        view_.append_log(text);
        bool ok = false;
        try {
            shortcut_choice choice{request_.menu_shortcut, request_.menu_folder, request_.desktop_shortcut, {}};
            if (request_.desktop_shortcut)
                choice.desktop_folder = desktop_folder(sources_.known_folder);
            ok = create_shortcuts(state_.log, program_path_, choice);
        }
        catch (const std::exception&) {
            ok = false;
        }
        view_.append_log(ok_or_failed(ok));
    }

    void registration_step()
    {
        const std::wstring text = load_string(1118);
        view_.set_status(text);
        view_.append_log(text);
        bool ok = false;
        try {
            ok = sources_.register_entry ? sources_.register_entry(state_.log, program_path_, uninstaller_path_)
                                         : register_uninstall_entry(state_.log, program_path_, uninstaller_path_);
        }
        catch (const std::exception&) {
            ok = false;
        }
        bool registered = false;
        try {
            const std::wstring command = registration_command_line(program_path_, request_.existing_version);
            const std::wstring folder = fs::path(program_path_).parent_path().wstring();
            if (journal_)
                journal_registry_places(*journal_, registration_value_places(), registration_key_roots());
            registered = association_step(state_.log, [&]() -> std::optional<std::uint32_t> {
                // The product takes the installation lock itself when it starts.
                relock lock(state_.lock);
                return run_and_wait(command, folder);
            });
        }
        catch (const std::exception&) {
            state_.log.commit(false);
        }
        view_.append_log(ok_or_failed(ok && registered));
    }

    std::vector<registry_place> registration_value_places() const
    {
        std::vector<registry_place> places;
        for (const registry_entry& entry : registration_places(program_path_))
            places.push_back({entry.key, entry.name});
        return places;
    }

    void write_log_step()
    {
        const std::wstring text = load_string(1119);
        view_.set_status(text);
        view_.append_log(text);
        // Without an uninstaller there is no folder the log belongs in.
        const bool written = !uninstaller_path_.empty() &&
                             state_.log.write(fs::path(uninstaller_path_).parent_path() / uninstall_log_name,
                                              request_.install_folder, request_.menu_folder);
        view_.append_log(ok_or_failed(written));
    }

    const installation_request& request_;
    installation_state& state_;
    installation_view& view_;
    const installation_sources& sources_;
    std::wstring program_path_;
    std::wstring uninstaller_path_;
    std::vector<std::wstring> cleanup_paths_;
    std::istream* stream_ = nullptr;
    int percent_ = -1;
    owned_folders owned_;
    run_folder_hold run_hold_;
    std::optional<journal_writer> journal_;
};

}

bool run_installation(const installation_request& request, installation_state& state, installation_view& view,
                      const installation_sources& sources) noexcept
{
    try {
        return installation(request, state, view, sources).run();
    }
    catch (...) {
        // Whatever step failed, the user sees a failed installation with its code.
        try {
            view.set_status(failure_status(error_code_text(std::current_exception())));
            view.end_wait();
        }
        catch (...) {
        }
        return false;
    }
}

int progress_percent(std::uint64_t done, std::uint64_t total)
{
    if (total == 0 || done >= total)
        return 100;
    const int percent =
        static_cast<int>(std::floor(static_cast<double>(done) / static_cast<double>(total) * 100.0 + 0.5));
    return percent >= 100 ? 99 : percent;
}

std::wstring error_code_text(const std::error_code& code)
{
    const auto value = static_cast<std::uint32_t>(code.value());
    if (code.category() == std::system_category())
        return fmt::format(L"1:{:08X}", value);
    if (code.category() == std::generic_category())
        return fmt::format(L"2:{:08X}", value);
    if (code.category() == compress_category())
        return fmt::format(L"{}", code.value());
    return L"7";
}

std::wstring error_code_text(const std::exception_ptr& failure)
{
    try {
        if (failure)
            std::rethrow_exception(failure);
    }
    catch (const std::system_error& e) {
        return error_code_text(e.code());
    }
    catch (...) {
    }
    return L"7";
}

std::wstring log_separator()
{
    return std::wstring(45, L'\u2500');
}
