// A whole installation of the shipped payload by the installation sequence,
// then the installed uninstaller: the prefix's files, links and registry
// are as they were before.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include <fmt/xchar.h>
#include <gtest/gtest.h>

#include "engine/installation.h"
#include "platform/registry.h"
#include "platform/sync_objects.h"
#include "product/registration.h"
#include "records/log_test_support.h"
#include "records/uninstall_log.h"
#include "support/test_support.h"
#include "uninstaller/uninstall.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Every key and value below a key of HKEY_LOCAL_MACHINE, for comparing states.
using registry_tree = std::map<std::wstring, std::vector<BYTE>>;

void dump(HKEY key, const std::wstring& prefix, registry_tree& tree)
{
    tree[prefix];
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + 1);
        length = 256;
        RegEnumValueW(key, i, name, &length, nullptr, &type, data.data(), &size);
        data.resize(size);
        data.push_back(static_cast<BYTE>(type));
        tree[prefix + L" : " + name] = data;
    }
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            dump(sub, prefix + L"\\" + name, tree);
            RegCloseKey(sub);
        }
    }
}

// The parts of the machine's registry an installation touches.
registry_tree product_registry()
{
    registry_tree tree;
    for (const std::wstring& path : {std::wstring(uninstall_list_key) + L"\\" + product_key_name(),
                                     std::wstring(maker_key), std::wstring(L"Software\\Classes\\.qmd"),
                                     std::wstring(L"Software\\Classes\\Quillmar.Document.3")}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            dump(key, path, tree);
            RegCloseKey(key);
        }
    }
    return tree;
}

std::vector<fs::path> files_below(const fs::path& folder)
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        found.push_back(entry.path());
    std::sort(found.begin(), found.end());
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
    std::ifstream in(test_support::build_file(L"src\\resources\\payload.bz2"), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <class Condition>
bool wait_until(Condition condition, std::chrono::milliseconds limit = 30s)
{
    for (auto waited = 0ms; !condition(); waited += 100ms) {
        if (waited >= limit)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

const wchar_t* const session_manager = L"System\\CurrentControlSet\\Control\\Session Manager";

TEST(install_then_uninstall, leaves_the_machine_as_before)
{
    scratch_folder machine(L"install and uninstall");
    const registry_tree registry_before = product_registry();
    ASSERT_EQ(registry_before.count(std::wstring(uninstall_list_key) + L"\\" + product_key_name()), 0u)
        << "the product is installed in this prefix already";
    registry_tree pending_before;
    {
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, session_manager, 0, KEY_READ, &key);
        dump(key, L"", pending_before);
        RegCloseKey(key);
    }
    const std::vector<fs::path> files_before = files_below(machine.path());

    // Every shell folder of this installation is a folder of the test's own.
    installation_request request;
    request.install_folder = (machine / L"Program Files" / L"Halden & Voss" / L"Quillmar 3").wstring();
    request.menu_folder = (machine / L"Start Menu" / L"Programs").wstring();
    installation_sources sources;
    const std::string payload = payload_bytes();
    ASSERT_FALSE(payload.empty());
    sources.payload = [&payload] { return std::span<const char>(payload.data(), payload.size()); };
    sources.lookup = [&machine](int csidl) { return (machine / fmt::format(L"shell folder {:02x}", csidl)).wstring(); };
    sources.known_folder = [&machine](const KNOWNFOLDERID&, std::wstring& path) {
        path = (machine / L"Desktop").wstring();
        return S_OK;
    };
    uninstall_log log;
    named_mutex lock(installation_lock_name(L"Quillmar3"), false, true);
    ASSERT_TRUE(lock.try_lock());
    installation_state state{log, lock, [&machine](std::wstring& folder, std::wstring&) {
                                 folder = (machine / L"temp").wstring();
                                 return fs::create_directories(folder);
                             }};
    recording_view view;
    ASSERT_TRUE(run_installation(request, state, view, sources)) << fs::path(view.log).string();
    EXPECT_TRUE(lock.owned()) << "the lock is taken again after the product's registration";
    lock.release();

    const fs::path installed = request.install_folder;
    EXPECT_EQ(std::distance(fs::directory_iterator(installed / L"Lang"), fs::directory_iterator()), 9);
    EXPECT_TRUE(fs::exists(installed / uninstall_log_name));
    EXPECT_TRUE(fs::exists(machine / L"Desktop" / L"Quillmar 3.05c.lnk"));
    EXPECT_TRUE(fs::exists(fs::path(request.menu_folder) / L"Quillmar 3.05c.lnk"));
    const registry_tree installed_registry = product_registry();
    std::wstring registered;
    reg_key maker = open_key(registry_root::local_machine, maker_key);
    ASSERT_TRUE(maker && read_string(maker, L"Quillmar 3 Path", registered)) << "the product registered itself";
    EXPECT_TRUE(same_location(registered, installed / L"Quillmar.exe"));
    EXPECT_TRUE(open_key(registry_root::local_machine, L"Software\\Classes\\.qmd"));

    const std::wstring uninstaller = (installed / L"Uninstall.exe").wstring();
    const fs::path temp = machine / L"uninstaller temp";
    fs::create_directories(temp);
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    const unsigned long exit_code = test_support::run_process(uninstaller, L"/quiet", 120000);
    SetEnvironmentVariableW(L"TMP", nullptr);
    EXPECT_EQ(exit_code, static_cast<unsigned long>(uninstall_done));
    EXPECT_TRUE(wait_until([&] { return !fs::exists(machine / L"Program Files"); }))
        << "the uninstaller and its folders are still there";

    // The temporary copy's last step is to leave itself to the system's next start.
    registry_tree pending_after;
    EXPECT_TRUE(wait_until([&] {
        pending_after.clear();
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, session_manager, 0, KEY_READ, &key);
        dump(key, L"", pending_after);
        RegCloseKey(key);
        return pending_after != pending_before;
    }));
    std::this_thread::sleep_for(200ms);
    HKEY session = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, session_manager, 0, KEY_SET_VALUE, &session) == ERROR_SUCCESS) {
        const auto before = pending_before.find(L" : PendingFileRenameOperations");
        if (before == pending_before.end())
            RegDeleteValueW(session, L"PendingFileRenameOperations");
        else
            RegSetValueExW(session, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, before->second.data(),
                           static_cast<DWORD>(before->second.size() - 1));
        RegCloseKey(session);
    }
    scratch_folder::remove_all(temp);

    EXPECT_EQ(files_below(machine.path()), files_before);
    EXPECT_EQ(product_registry(), registry_before);
    if (HasFailure()) {
        // Leave the prefix clean for the next run whatever happened.
        unregister_product((installed / L"Quillmar.exe").wstring());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(uninstall_list_key) + L"\\" + product_key_name()).c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(uninstall_list_key) + L"\\" + product_key_name()).c_str());
    }
}

}
