#include "core/installer_context.h"

#include "identity/product.h"
#include "platform/common_controls.h"
#include "platform/error_text.h"
#include "platform/module_path.h"
#include "platform/security.h"
#include "platform/string_table.h"
#include "platform/system_random.h"
#include "platform/version_info.h"
#include "records/backup.h"
#include "ui/window_helpers.h"

#include <commctrl.h>
#include <comdef.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include <boost/uuid/uuid_io.hpp>
#include <fmt/xchar.h>

namespace {

// Errors raised by the COM support classes travel as system errors.
void WINAPI throw_com_error(HRESULT hr, IErrorInfo*)
{
    throw std::system_error(hr, std::system_category());
}

std::wstring product_caption()
{
    return installer_title(true);
}

}

const std::wstring& application_id()
{
    static const std::wstring id = [] {
        const version_info own;
        return application_id_from(own.string_value(L"ApplicationId"), own.product_name(), executable_path());
    }();
    return id;
}

instance_counter& application_instance_counter()
{
    return instance_counter::instance(instance_counter_name(application_id()));
}

UINT check_processor(const processor_feature_query& feature_present, const processor_box& show_box)
{
    if (feature_present(PF_XMMI64_INSTRUCTIONS_AVAILABLE))
        return 0;
    show_box(L"This Version is not compatible with your Configuration.\n\n"
             L"Cette version n'est pas compatible avec votre configuration.\n\n"
             L"Diese Version ist nicht mit Ihrer Konfiguration kompatibel.",
             MB_ICONERROR);
    return 1;
}

void initialise_application()
{
    static std::once_flag once;
    std::call_once(once, [] {
        set_exception_message_function([](const std::exception_ptr& error) { return exception_text(error); });
        ui_hooks::instance();
        if (!common_controls_6_active())
            throw std::runtime_error("common controls 6.0 are not available");
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_LINK_CLASS};
        if (!common_controls_api::instance().init_common_controls_ex(&classes))
            throw std::runtime_error("the common control classes cannot be registered");
        application_instance_counter();
        _set_com_error_handler(throw_com_error);
    });
}

installer_context& installer_context::instance()
{
    static installer_context context(installation_lock_name(application_id()));
    return context;
}

installer_context::installer_context(const std::wstring& lock_name) : instance_mutex(lock_name, false, true)
{
    product_code = installer_product_code;
}

void warn_folder_unavailable(HRESULT hr)
{
    message_box(system_error_text(static_cast<DWORD>(hr), 0), product_caption(), MB_ICONWARNING);
}

bool installer_context::initialise(const startup_sources& sources)
{
    if (!processor_check_passed) {
        show_error_code(static_cast<DWORD>(E_UNEXPECTED));
        return false;
    }
    if (!instance_mutex.try_lock()) {
        show_error_code(ERROR_BUSY);
        return false;
    }

    select_initial_language(sources.user_language);

    bool administrator = false;
    try {
        administrator = sources.is_administrator ? sources.is_administrator() : is_administrator();
    }
    catch (const std::system_error&) {
        // A membership that cannot be checked is not taken for granted.
    }
    if (!administrator) {
        message_box(load_string(1126), product_caption(), MB_ICONWARNING);
        return false;
    }

    auto& counter = application_instance_counter();
    while (counter.running_count() > 1) {
        const int answer = message_box(format_text(load_string(1127), product_name(true)), product_caption(),
                                       MB_ICONWARNING | MB_RETRYCANCEL);
        // Only Retry counts again; a box that could not be shown ends start-up too.
        if (answer != IDRETRY)
            return false;
    }

    const std::wstring registered = sources.registered_program ? sources.registered_program() : previous_program_path();
    classify_existing(registered);
    load_previous_installation([&] { return find_previous_log(registered); });

    if (!choose_default_folders(sources.known_folder))
        return false;
    advanced = false;
    return true;
}

void installer_context::classify_existing(const std::wstring& registered_path)
{
    const existing_installation found = ::classify_existing(registered_path);
    existing_state = found.state;
    existing_name = found.name;
    existing_version = found.version;
}

void installer_context::load_previous_installation(const std::function<std::wstring()>& find_log)
{
    if (::load_previous_installation(existing_state, log, find_log)) {
        install_folder = log.install_folder;
        menu_folder = log.shortcut_folder;
        desktop_shortcut = log.had_desktop_shortcut;
    }
}

bool installer_context::choose_default_folders(const known_folder_source& source)
{
    if (install_folder.empty()) {
        const std::wstring program_files = known_folder(FOLDERID_ProgramFiles, warn_folder_unavailable, source);
        if (program_files.empty())
            return false;
        install_folder = (std::filesystem::path(program_files) / maker_name / product_key_name()).wstring();
    }
    if (menu_folder.empty()) {
        menu_folder = known_folder(FOLDERID_CommonPrograms, {}, source);
        if (menu_folder.empty())
            menu_folder = known_folder(FOLDERID_Programs, warn_folder_unavailable, source);
        if (menu_folder.empty())
            return false;
    }
    return true;
}

bool installer_context::make_temporary_folder(std::wstring& error_text)
{
    // The run keeps the backups of the user's files there: a folder of the
    // user's temporary folder could be renamed and replaced by the user.
    const std::filesystem::path temporary = private_storage_folder()();
    if (temporary.empty()) {
        error_text = fmt::format(L"{:08x} ({})", static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND),
                                 L"private_storage_folder");
        return false;
    }
    boost::uuids::uuid id;
    try {
        id = random_uuid();
    }
    catch (const std::system_error& failure) {
        error_text = fmt::format(L"{:08x} ({})", static_cast<std::uint32_t>(failure.code().value()), L"random_uuid");
        return false;
    }
    temporary_folder = (temporary / (L"halden_{" + boost::uuids::to_wstring(id) + L"}")).wstring();
    return true;
}

DWORD temporary_folder_error(const std::error_code& error)
{
    if (error.category() != std::generic_category())
        return static_cast<DWORD>(error.value());
    static constexpr std::pair<int, DWORD> file_errors[] = {
        {EPERM, ERROR_ACCESS_DENIED},     {ENOENT, ERROR_PATH_NOT_FOUND},
        {EACCES, ERROR_ACCESS_DENIED},    {ENOTDIR, ERROR_DIRECTORY},
        {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& [posix, windows] : file_errors)
        if (posix == error.value())
            return windows;
    return errno_to_win32(error.value()).value_or(static_cast<DWORD>(error.value()));
}

std::wstring left_behind_message(const left_behind_report& report)
{
    std::wstring text;
    if (!report.put_back.empty()) {
        text += load_string(1135) + L"\n";
        for (const std::wstring& original : report.put_back)
            text += original + L"\n";
    }
    for (const not_restored_entry& entry : report.still_left)
        text += (text.empty() ? L"" : L"\n") + format_text(load_string(1133), entry.original, entry.backup);
    return text;
}

std::wstring recovery_message(const recovery_report& report)
{
    std::wstring text;
    if (report.undone > 0)
        text += load_string(1136) + L"\n";
    if (!report.left.empty()) {
        text += (text.empty() ? L"" : L"\n") + load_string(1137) + L"\n";
        for (const std::wstring& place : report.left)
            text += place + L"\n";
    }
    return text;
}
