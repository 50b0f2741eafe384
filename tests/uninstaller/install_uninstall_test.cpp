// A whole installation of the shipped payload by the installation sequence,
// then the installed uninstaller: the prefix's files, links and registry
// are as they were before.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "identity/product.h"
#include "engine/installation.h"
#include "payload/placeholders.h"
#include "platform/registry.h"
#include "platform/sync_objects.h"
#include "product/registration.h"
#include "records/log_test_support.h"
#include "records/uninstall_log.h"
#include "support/registry_tree.h"
#include "support/test_support.h"
#include "uninstaller/self_removal_support.h"
#include "uninstaller/uninstall.h"

namespace fs = std::filesystem;

namespace {

// The parts of the machine's registry an installation touches.
test_support::registry_tree product_registry()
{
    return test_support::registry_tree_of(
        HKEY_LOCAL_MACHINE, {std::wstring(uninstall_list_key) + L"\\" + product_key_name(), maker_key,
                             L"Software\\Classes\\.qmd", L"Software\\Classes\\Quillmar.Document.3"});
}

std::vector<fs::path> files_below(const fs::path& folder)
{
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error))
        found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

// The machine's own folders the installation writes to besides its folder:
// the uninstaller acts only inside those.
std::vector<fs::path> files_in_shell_folders()
{
    std::vector<fs::path> found;
    for (const fs::path folder : {fs::path(shell_folder(CSIDL_COMMON_APPDATA)) / maker_name,
                                  fs::path(shell_folder(CSIDL_APPDATA)) / maker_name,
                                  fs::path(shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY)),
                                  fs::path(shell_folder(CSIDL_COMMON_PROGRAMS))}) {
        const auto below = files_below(folder);
        found.insert(found.end(), below.begin(), below.end());
    }
    return found;
}

class recording_view : public installation_view {
public:
    void set_status(const std::wstring& text) override { status = text; }
    void append_log(const std::wstring& text) override { log += text; }
    void set_progress(int percent) override { progress = percent; }

    std::wstring status;
    std::wstring log;
    int progress = 0;
};

std::string payload_bytes()
{
    std::ifstream in(fs::path(test_support::build_file(L"src\\resources\\payload.bz2")), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Whatever happened, the prefix's registry keeps no trace of a test that
// failed part-way (the test's folder goes with its scratch folder).
struct traces_cleanup {
    fs::path program;
    ~traces_cleanup()
    {
        if (!::testing::Test::HasFailure())
            return;
        unregister_product(program.wstring());
        std::error_code ignored;
        for (const fs::path& left : {fs::path(shell_folder(CSIDL_COMMON_PROGRAMS)) / L"Quillmar 3 test",
                                     fs::path(shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY)) / L"Quillmar 3.05c.lnk",
                                     fs::path(shell_folder(CSIDL_COMMON_APPDATA)) / maker_name / L"Quillmar",
                                     fs::path(shell_folder(CSIDL_APPDATA)) / maker_name / L"Quillmar"})
            fs::remove_all(left, ignored);
        const std::wstring entry = std::wstring(uninstall_list_key) + L"\\" + product_key_name();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, entry.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, entry.c_str());
    }
};

TEST(install_then_uninstall, leaves_the_machine_as_before)
{
    scratch_folder machine(L"install and uninstall");
    const auto registry_before = product_registry();
    ASSERT_EQ(registry_before.count(std::wstring(uninstall_list_key) + L"\\" + product_key_name()), 0u)
        << "the product is installed in this prefix already";
    const std::vector<fs::path> files_before = files_below(machine.path());
    const std::vector<fs::path> shell_files_before = files_in_shell_folders();
    const fs::path installed = machine / L"Program Files" / L"Halden & Voss" / L"Quillmar 3";
    traces_cleanup cleanup{installed / L"Quillmar.exe"};

    // The installation folder is the test's own; data, examples and links go
    // where the machine has them, as the uninstaller acts only there.
    installation_request request;
    request.install_folder = installed.wstring();
    request.menu_folder = (fs::path(shell_folder(CSIDL_COMMON_PROGRAMS)) / L"Quillmar 3 test").wstring();
    installation_sources sources;
    const std::string payload = payload_bytes();
    ASSERT_FALSE(payload.empty());
    sources.payload = [&payload] { return std::span<const char>(payload.data(), payload.size()); };
    uninstall_log log;
    named_mutex lock(installation_lock_name(L"Quillmar3"), false, true);
    ASSERT_TRUE(lock.try_lock());
    installation_state state{log, lock, [&machine](std::wstring& folder, std::wstring&) {
                                 folder = (machine / L"temp").wstring();
                                 return true;
                             }};
    recording_view view;
    ASSERT_TRUE(run_installation(request, state, view, sources)) << fs::path(view.log).string();
    EXPECT_TRUE(lock.owned()) << "the lock is taken again after the product's registration";
    lock.release();

    EXPECT_EQ(std::distance(fs::directory_iterator(installed / L"Lang"), fs::directory_iterator()), 9);
    EXPECT_TRUE(fs::exists(installed / uninstall_log_name));
    EXPECT_TRUE(fs::exists(fs::path(shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY)) / L"Quillmar 3.05c.lnk"));
    EXPECT_TRUE(fs::exists(fs::path(request.menu_folder) / L"Quillmar 3.05c.lnk"));
    std::wstring registered;
    reg_key maker = open_key(registry_root::local_machine, maker_key);
    ASSERT_TRUE(maker && read_string(maker, L"Quillmar 3 Path", registered)) << "the product registered itself";
    EXPECT_TRUE(same_location(registered, installed / L"Quillmar.exe"));
    EXPECT_TRUE(open_key(registry_root::local_machine, L"Software\\Classes\\.qmd"));

    EXPECT_EQ(test_support::run_uninstaller_to_the_end((installed / L"Uninstall.exe").wstring(),
                                                       machine / L"uninstaller temp", machine / L"Program Files"),
              static_cast<unsigned long>(uninstall_done));
    scratch_folder::remove_all(machine / L"uninstaller temp");

    EXPECT_EQ(files_below(machine.path()), files_before);
    EXPECT_EQ(files_in_shell_folders(), shell_files_before);
    EXPECT_EQ(product_registry(), registry_before);
}

}
