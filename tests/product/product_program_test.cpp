// The product's program as the installer and users start it: its
// registration run against the prefix's registry, and how it meets an
// installer through the application's named objects.
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/language.h"
#include "platform/registry.h"
#include "platform/string_table.h"
#include "platform/sync_objects.h"
#include "identity/product.h"
#include "product/command_line.h"
#include "product/product_ids.h"
#include "product/product_language.h"
#include "product/registration.h"
#include "support/sync_helper_process.h"
#include "support/test_support.h"
#include "ui_driver.h"

using namespace std::chrono_literals;

namespace {

std::wstring product_program()
{
    return test_support::build_file(L"src\\product\\Quillmar.exe");
}

std::wstring current_value(const registry_entry& entry)
{
    std::wstring text;
    reg_key key = open_key(registry_root::local_machine, entry.key.c_str());
    if (!key || !read_string(key, entry.name.c_str(), text))
        return L"(missing)";
    return text;
}

// Takes away what a registration run of the build's program wrote, before
// and after each test.
class registration_cleanup {
public:
    registration_cleanup() { unregister_product(product_program()); }
    ~registration_cleanup() { unregister_product(product_program()); }
};

DWORD exit_code_of(ui_driver::process& program)
{
    return program.wait_for_exit(30s).value_or(~0u);
}

TEST(product_program, registration_run_writes_its_values_and_exits_minus_ten)
{
    registration_cleanup cleanup;
    const auto entries = registration_entries(product_program());
    for (const auto& entry : entries)
        ASSERT_EQ(current_value(entry), L"(missing)") << "left over from an earlier run";

    const struct {
        const wchar_t* arguments;
        DWORD exit_code;
        bool registered;
    } runs[] = {
        {L"/Register /Background /update=00030005000200", product_exit_bad_command_line, false},
        {L"/Register /Background /update=0003000500020009x", product_exit_bad_command_line, false},
        {L"/Register /Background", 0xFFFFFFF6u, true},
        {L"/Register /Background", 0xFFFFFFF6u, true}, // a second run changes nothing
        {L"/Register /Background /update=0003000500020009", 0xFFFFFFF6u, true},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(std::wstring(run.arguments).size());
        EXPECT_EQ(test_support::run_process(product_program(), run.arguments), run.exit_code);
        for (const auto& entry : entries)
            EXPECT_EQ(current_value(entry), run.registered ? entry.data : L"(missing)");
    }
    // The entries and the product's place in the document type's "Open with" list.
    EXPECT_EQ(unregister_product(product_program()), static_cast<int>(entries.size()) + 1);
}

TEST(product_program, a_normal_start_during_an_installation_tells_the_user_and_ends)
{
    test_support::sync_helper_process installer(L"hold", installation_lock_name(L"Quillmar3"));
    ASSERT_TRUE(installer.wait_ready());
    ui_driver::process product(product_program(), L"");
    const HWND box = ui_driver::wait_for_dialog(product.id(), 20s);
    EXPECT_NE(ui_driver::message_box_text(box).find(L"Quillmar"), std::wstring::npos);
    ui_driver::answer_message_box(box, IDOK);
    EXPECT_EQ(exit_code_of(product), static_cast<DWORD>(product_exit_installation_running));
    EXPECT_EQ(installer.finish(), 0u);
}

// Whether a text is the installer's message 1127 in one of its languages.
bool is_product_running_question(const std::wstring& text)
{
    HMODULE installer = LoadLibraryExW(test_support::build_file(L"src\\Quillmar3Setup.exe").c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    bool found = false;
    for (const language_row& row : language_table) {
        const string_ref message = resource_string(installer, row.langid, 1127);
        found = found || (!message.empty() && format_text(message, std::wstring(L"Quillmar")) == text);
    }
    if (installer)
        FreeLibrary(installer);
    return found;
}

HWND wait_for_product_window(DWORD process_id)
{
    return ui_driver::wait_for_window(process_id, L"HaldenVoss.Quillmar3", 20s);
}

TEST(product_program, an_installer_started_meanwhile_asks_until_the_product_ends)
{
    ui_driver::process product(product_program(), L"");
    const HWND window = wait_for_product_window(product.id());
    ASSERT_NE(window, nullptr) << "the product's window did not come";

    ui_driver::process installer(test_support::build_file(L"src\\Quillmar3Setup.exe"), L"");
    const HWND box = ui_driver::wait_for_dialog(installer.id(), 30s);
    const std::wstring question = ui_driver::message_box_text(box);
    EXPECT_TRUE(is_product_running_question(question));
    EXPECT_NE(GetDlgItem(box, IDRETRY), nullptr);
    EXPECT_NE(GetDlgItem(box, IDCANCEL), nullptr);

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(exit_code_of(product), static_cast<DWORD>(product_exit_normal));
    ui_driver::answer_message_box(box, IDRETRY);

    // The installer goes on to its wizard.
    const HWND wizard = ui_driver::wait_for_dialog(installer.id(), 30s, {}, box);
    EXPECT_NE(ui_driver::text(wizard).find(L"Quillmar 3.05c"), std::wstring::npos) << ui_driver::utf8(ui_driver::text(wizard));
    EXPECT_NE(GetDlgItem(wizard, IDOK), nullptr);
    installer.terminate();
}

TEST(product_program, speaks_the_language_chosen_in_the_installer)
{
    const std::wstring entry = product_uninstall_key();
    ASSERT_FALSE(open_key(registry_root::local_machine, entry.c_str())) << "the product is installed in this prefix";
    struct entry_cleanup {
        std::wstring path;
        ~entry_cleanup()
        {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        }
    } cleanup{entry};
    reg_key key = create_key(registry_root::local_machine, entry.c_str());
    const std::wstring folder = test_support::build_file(L"src\\product");
    // German and Polish from their libraries, French from the program itself.
    for (language_index index : {2, 15, 0}) {
        SCOPED_TRACE(index);
        set_dword(key, L"HvLanguage", static_cast<std::uint32_t>(index));
        ui_driver::process product(product_program(), L"C:\\Docs\\Letter.qmd");
        const HWND window = wait_for_product_window(product.id());
        ASSERT_NE(window, nullptr);
        const std::wstring shown = ui_driver::text(ui_driver::control(window, IDC_PRODUCT_TEXT));
        const product_texts texts(folder, index);
        for (unsigned id : {IDS_PRODUCT_DESCRIPTION, IDS_DOCUMENTS_FOLDER, IDS_OPENED_DOCUMENT}) {
            ASSERT_FALSE(texts.text(id).empty());
            EXPECT_NE(shown.find(texts.text(id)), std::wstring::npos) << id;
        }
        EXPECT_NE(shown.find(L"C:\\Docs\\Letter.qmd"), std::wstring::npos);
        EXPECT_EQ(ui_driver::text(window), L"Quillmar " + version_label(product_version));
        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(exit_code_of(product), static_cast<DWORD>(product_exit_normal));
    }
}

}
