// The uninstaller, started from the list of installed programs: undoes the
// installation recorded in "Uninstall.ulog" beside it. "/quiet" asks
// nothing (changed data files are kept); "/cleanup" is the temporary copy
// that removes the uninstaller itself at the end.
#include <windows.h>

#include <array>
#include <string>
#include <utility>

#include "identity/product.h"
#include "platform/module_path.h"
#include "platform/string_table.h"
#include "platform/sync_objects.h"
#include "platform/version_info.h"
#include "product/command_line.h"
#include "product/product_language.h"
#include "uninstaller/uninstall.h"
#include "uninstaller/uninstaller_ids.h"

namespace {

// What the installation shipped, to tell the data files and examples the
// user changed from those still as installed.
constexpr std::array<const wchar_t*, 16> shipped_files{
    L"Quillmar.ini", L"Styles.ini", L"UserDictionary.dic",
    L"Welcome.qmd", L"Letter.qmd", L"Invoice.qmd", L"Meeting Notes.qmd", L"Recipe.qmd", L"Travel Plan.qmd",
    L"Newsletter.qmd", L"Report.qmd", L"Poem.qmd", L"Checklist.qmd", L"Shopping List.qmd", L"Tables.qmd",
    L"Styles.qmd",
};

std::optional<std::string> shipped_data(const std::wstring& file_name)
{
    for (std::size_t i = 0; i < shipped_files.size(); ++i) {
        if (CompareStringOrdinal(shipped_files[i], -1, file_name.c_str(), -1, TRUE) != CSTR_EQUAL)
            continue;
        const int id = IDR_SHIPPED_DATA_FIRST + static_cast<int>(i);
        HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_RCDATA);
        HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
        const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
        if (!bytes)
            return std::nullopt;
        return std::string(bytes, SizeofResource(nullptr, resource));
    }
    return std::nullopt;
}

UINT prompt_flags(prompt kind)
{
    switch (kind) {
    case prompt::confirm:
        return MB_YESNO | MB_ICONQUESTION;
    case prompt::remove_changed_files:
        return MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;
    case prompt::refused:
        return MB_OK | MB_ICONWARNING;
    case prompt::bad_log:
        return MB_OK | MB_ICONERROR;
    case prompt::summary:
        break;
    }
    return MB_OK | MB_ICONINFORMATION;
}

std::wstring parent_folder(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L"\\/"));
}

}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    try {
        const std::vector<std::wstring> arguments = command_line_arguments(GetCommandLineW());
        const std::wstring program = executable_path();
        if (arguments.size() >= 3 && arguments[0] == L"/cleanup") {
            const bool done = finish_self_removal(std::stoul(arguments[1]), arguments[2],
                                                  {arguments.begin() + 3, arguments.end()});
            remove_at_reboot(program, {parent_folder(program)});
            return done ? uninstall_done : uninstall_incomplete;
        }
        bool quiet = false;
        for (const std::wstring& argument : arguments) {
            if (CompareStringOrdinal(argument.c_str(), -1, L"/quiet", -1, TRUE) != CSTR_EQUAL)
                return uninstall_failure;
            quiet = true;
        }

        const version_info own;
        uninstall_options options;
        options.application_id = application_id_from(own.string_value(L"ApplicationId"), own.product_name(), program);
        options.log_path = parent_folder(program) + L"\\" + uninstall_log_name;
        options.own_path = program;
        options.shipped_data = shipped_data;
        options.language = product_language();
        const std::wstring caption = format_text(uninstaller_text(options.language, IDS_UNINSTALL_CAPTION),
                                                 own.product_name() + L" " + own.product_version());
        if (quiet)
            options.ask = [](prompt kind, const std::wstring&) { return kind == prompt::confirm; };
        else
            options.ask = [&caption](prompt kind, const std::wstring& text) {
                const int answer = MessageBoxW(nullptr, text.c_str(), caption.c_str(), prompt_flags(kind));
                return answer == IDYES || answer == IDOK;
            };
        return run_uninstall(options).exit_code;
    }
    catch (...) {
        return uninstall_failure;
    }
}
