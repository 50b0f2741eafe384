#include "records/detection.h"

#include "platform/path_rules.h"

#include "identity/product.h"
#include "platform/module_path.h"
#include "platform/registry.h"
#include "platform/version_info.h"

#include <system_error>

std::int32_t existing_state_for(std::optional<std::uint64_t> installed_version, std::uint64_t own_version)
{
    if (!installed_version || *installed_version == own_version)
        return same_installed;
    return *installed_version > own_version ? newer_installed : older_installed;
}

existing_installation classify_existing(const std::wstring& registered_path,
                                        std::optional<std::uint64_t> installed_version,
                                        const std::function<std::wstring()>& display_name,
                                        std::uint64_t own_version)
{
    existing_installation found;
    if (registered_path.empty())
        return found;
    found.state = existing_state_for(installed_version, own_version);
    if (found.state == newer_installed || found.state == older_installed)
        found.name = display_name();
    if (found.state == older_installed)
        found.version = *installed_version;
    return found;
}

const std::wstring& previous_program_path()
{
    static const std::wstring path = registered_product_path(product_code);
    return path;
}

existing_installation classify_existing(const std::wstring& registered_path)
{
    if (registered_path.empty())
        return {};
    const version_info installed(registered_path);
    std::optional<std::uint64_t> version;
    if (installed.fixed())
        version = installed.file_version();
    return classify_existing(registered_path, version, [&] { return installed.display_name(); }, product_version);
}

existing_installation classify_existing()
{
    return classify_existing(previous_program_path());
}

std::vector<std::filesystem::path> previous_log_candidates(const std::optional<std::wstring>& uninstall_string,
                                                           const std::wstring& own_program,
                                                           const std::wstring& registered_path)
{
    std::vector<std::filesystem::path> candidates;
    // The installer usually runs from a folder any user can write to (the
    // downloads): a log beside it counts only when that folder is the
    // installation's own.
    const auto folder_of = [](const std::wstring& program) { return std::filesystem::path(program).parent_path(); };
    const bool beside_installation = !own_program.empty() && !registered_path.empty() &&
                                     is_within(folder_of(own_program).wstring(), folder_of(registered_path).wstring()) &&
                                     is_within(folder_of(registered_path).wstring(), folder_of(own_program).wstring());
    // An empty source would name a log relative to the current folder.
    for (const std::wstring* program : {uninstall_string ? &*uninstall_string : nullptr,
                                        beside_installation ? &own_program : nullptr, &registered_path})
        if (program && !program->empty())
            candidates.push_back(folder_of(*program) / uninstall_log_name);
    return candidates;
}

std::wstring first_existing(const std::vector<std::filesystem::path>& candidates)
{
    for (const auto& candidate : candidates) {
        // A name the file system refuses (quotes of an UninstallString
        // written with them) is simply not there.
        std::error_code ignored;
        if (std::filesystem::exists(candidate, ignored))
            return candidate.wstring();
    }
    return {};
}

std::optional<std::wstring> recorded_uninstall_string()
{
    const std::wstring entry = product_uninstall_key();
    try {
        const reg_key key = open_key(registry_root::local_machine, entry.c_str());
        std::wstring value;
        if (key && read_string(key, L"UninstallString", value))
            return value;
    }
    catch (const std::system_error&) {
        // An entry that cannot be read only skips its candidate.
    }
    return std::nullopt;
}

std::wstring find_previous_log(const std::wstring& registered_path)
{
    return first_existing(previous_log_candidates(recorded_uninstall_string(), executable_path(), registered_path));
}

std::wstring find_previous_log()
{
    return find_previous_log(previous_program_path());
}

bool load_previous_installation(std::int32_t state, uninstall_log& log,
                                const std::function<std::wstring()>& find_log)
{
    if (state != same_installed && state != older_installed) {
        log.read({});
        return false;
    }
    const std::wstring file = find_log();
    if (file.empty())
        return false;
    log.read(file);
    return true;
}
