#include "records/shortcuts.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "identity/product.h"
#include "records/shell_link.h"
#include "records/uninstall_log.h"

namespace {

record_kind kind_of(shortcut_place place)
{
    return place == shortcut_place::start_menu ? record_kind::menu_shortcut
                                               : record_kind::desktop_shortcut;
}

// The earlier installation's link of a kind is the one add_shortcut puts aside.
const log_record* earlier_shortcut(const uninstall_log& log, record_kind kind)
{
    auto found = std::find_if(log.previous.begin(), log.previous.end(),
                              [kind](const log_record& record) { return record.kind == kind; });
    return found == log.previous.end() ? nullptr : &*found;
}

// The user keeps the earlier link when the new one cannot be made: it goes
// back to its place and the failed record leaves the log, so that the
// earlier record is written again.
void put_back_earlier_shortcut(uninstall_log& log, record_kind kind)
{
    if (log.current.empty() || log.current.back().kind != kind ||
        log.current.back().backup.empty())
        return;
    const log_record* earlier = earlier_shortcut(log, kind);
    if (!earlier || earlier->path.empty())
        return;
    if (!MoveFileExW(log.current.back().backup.c_str(), earlier->path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        return;
    log.current.pop_back();
}

}

bool shortcut_step(uninstall_log& log, shortcut_place place, const std::wstring& folder,
                   const std::wstring& program_path)
{
    try {
        log.add_shortcut(static_cast<int>(place), folder);
        // A folder the lookup could not name would put the link in the
        // current folder.
        if (!std::filesystem::path(folder).is_absolute())
            throw std::system_error(ERROR_PATH_NOT_FOUND, std::system_category(), "shortcut folder");
        log.announce_file(kind_of(place), shortcut_file(program_path, folder, product_name(false)), {}, {});
        std::wstring file = create_shortcut(program_path, folder, product_name(false));
        log.commit(true, file);
        return true;
    }
    catch (const std::exception&) {
        log.commit(false);
        put_back_earlier_shortcut(log, kind_of(place));
        return false;
    }
}

bool create_shortcuts(uninstall_log& log, const std::wstring& program_path,
                      const shortcut_choice& choice)
{
    bool ok = true;
    if (choice.menu_shortcut)
        ok = shortcut_step(log, shortcut_place::start_menu, choice.menu_folder, program_path) && ok;
    if (choice.desktop_shortcut)
        ok = shortcut_step(log, shortcut_place::desktop, choice.desktop_folder, program_path) && ok;
    return ok;
}

bool association_step(uninstall_log& log, const registration_runner& run,
                      const std::function<void()>& associations_changed)
{
    log.add_association();
    std::optional<std::uint32_t> exit_code = run ? run() : std::nullopt;
    bool success = exit_code == registration_succeeded;
    log.commit(success);
    if (success && associations_changed)
        associations_changed();
    return success;
}
