// Install benchmark (a program, not a test): one whole installation by the
// engine, without a window, into a fresh folder of its own, timed from the
// call of run_installation to its return; prints the seconds and the peak
// working set, then removes everything the installation made.
//
//   bench_install SOURCE FOLDER
//   bench_install --generate ARCHIVE MEGABYTES
//
// SOURCE is an installer (its payload resource is installed, read from
// memory as the installer does) or an archive file (streamed from disk, for
// payloads larger than memory should hold). The installation goes to a new
// folder under FOLDER, shell folders included; HKEY_LOCAL_MACHINE is
// redirected into a key of this program's own, so the machine's Uninstall
// entry is untouched. The installed product registers itself for real; what
// it wrote is put back as it was.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/installation.h"
#include "payload/extractor.h"
#include "platform/language.h"
#include "platform/registry.h"
#include "platform/string_table.h"
#include "platform/sync_objects.h"
#include "product/registration.h"
#include "records/uninstall_log.h"

#include "bench_support.h"

namespace fs = std::filesystem;
using bench_support::now;

namespace {

constexpr language_index english = 1;

// Notes when each status appears, so that the time of every step can be
// told: a step lasts from its status to the next one's.
class timing_view : public installation_view {
public:
    std::wstring log;
    std::wstring status;
    std::vector<std::pair<double, std::wstring>> statuses;

    void set_status(const std::wstring& text) override
    {
        statuses.emplace_back(now(), text);
        status = text;
    }
    void append_log(const std::wstring& text) override { log += text; }
    void set_progress(int) override {}
};

struct step_time {
    const char* name;
    double seconds;
};

// The installation's steps by their status lines. The preparation status is
// shown twice: when the run begins and when the payload's check starts.
std::vector<step_time> step_times(const std::vector<std::pair<double, std::wstring>>& statuses, double start,
                                  double end)
{
    const std::wstring preparing = load_string(1114);
    const std::wstring copying = load_string(1115);
    const std::wstring copying_prefix = copying.substr(0, copying.find(L"{0}"));
    const std::pair<int, const char*> named[] = {
        {1117, "shortcuts"}, {1118, "Uninstall entry and registration"}, {1119, "uninstall log"}};

    std::vector<step_time> steps{{"preparation (run folder, journal)", 0}};
    double since = start;
    int preparations = 0;
    for (const auto& [at, text] : statuses) {
        const char* name = "finishing";
        if (text == preparing)
            name = ++preparations == 1 ? "preparation (run folder, journal)" : "payload check (first decode)";
        else if (text.starts_with(copying_prefix))
            name = "files (second decode, writing)";
        for (const auto& [id, step] : named)
            if (text == load_string(id))
                name = step;
        steps.back().seconds += at - since;
        since = at;
        if (std::string_view(steps.back().name) != name)
            steps.push_back({name, 0});
    }
    steps.back().seconds += end - since;
    return steps;
}

// The values the product's registration writes, as they were before.
class registration_guard {
public:
    explicit registration_guard(std::wstring program) : program_(std::move(program))
    {
        for (const registry_entry& entry : registration_entries(program_))
            saved_.push_back({entry, read(entry)});
    }
    registration_guard(const registration_guard&) = delete;
    registration_guard& operator=(const registration_guard&) = delete;
    ~registration_guard()
    {
        unregister_product(program_);
        for (const auto& [entry, value] : saved_) {
            if (!value)
                continue;
            HKEY key = nullptr;
            if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, entry.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                nullptr) != ERROR_SUCCESS)
                continue;
            RegSetValueExW(key, entry.name.empty() ? nullptr : entry.name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value->c_str()),
                           static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
    }

private:
    static std::optional<std::wstring> read(const registry_entry& entry)
    {
        wchar_t data[2048];
        DWORD size = sizeof data;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, entry.key.c_str(), entry.name.empty() ? nullptr : entry.name.c_str(),
                         RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
            return std::nullopt;
        return std::wstring(data);
    }

    std::wstring program_;
    std::vector<std::pair<registry_entry, std::optional<std::wstring>>> saved_;
};

// HKEY_LOCAL_MACHINE of this process redirected into a key of its own under
// HKEY_CURRENT_USER, deleted at the end.
class local_machine_sandbox {
public:
    local_machine_sandbox()
        : path_(L"Software\\Halden & Voss Bench-" + std::to_wstring(GetCurrentProcessId()))
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS ||
            RegOverridePredefKey(HKEY_LOCAL_MACHINE, key_) != ERROR_SUCCESS)
            throw std::runtime_error("cannot redirect HKEY_LOCAL_MACHINE");
        create_key(registry_root::local_machine, uninstall_list_key);
    }
    local_machine_sandbox(const local_machine_sandbox&) = delete;
    local_machine_sandbox& operator=(const local_machine_sandbox&) = delete;
    ~local_machine_sandbox() { release(); }

    void release()
    {
        if (!key_)
            return;
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegCloseKey(key_);
        key_ = nullptr;
        RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
    }

private:
    std::wstring path_;
    HKEY key_ = nullptr;
};

void remove_tree(const fs::path& folder)
{
    std::error_code ignored;
    for (auto& entry : fs::recursive_directory_iterator(folder, ignored))
        SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(folder, ignored);
}

std::size_t file_count(const fs::path& folder)
{
    std::size_t count = 0;
    std::error_code ignored;
    for (auto& entry : fs::recursive_directory_iterator(folder, ignored))
        count += entry.is_regular_file(ignored) ? 1 : 0;
    return count;
}

int install(const fs::path& source, const fs::path& prefix)
{
    set_language(english);
    const fs::path run = prefix / (L"install-" + std::to_wstring(GetCurrentProcessId()));
    remove_tree(run);
    fs::create_directories(run);

    // An installer's payload is its resource, in memory as in the installer.
    const bench_support::payload_source payload(source);

    const std::wstring lock_name = L"HvBenchInstall." + std::to_wstring(GetCurrentProcessId());
    named_mutex lock(lock_name, true, false);
    uninstall_log log;
    timing_view view;
    const installation_request request{(run / L"Programs\\Quillmar").wstring(), (run / L"Menu\\Quillmar").wstring(),
                                       true, true, 0, 0};
    installation_sources sources;
    if (!payload.resource().empty())
        sources.payload = [&payload] { return payload.resource(); };
    else
        sources.payload_stream = [&payload] { return payload.open(); };
    sources.lookup = [run](int csidl) { return (run / (L"csidl-" + std::to_wstring(csidl))).wstring(); };
    sources.known_folder = [run](const KNOWNFOLDERID&, std::wstring& path) {
        path = (run / L"Desktop").wstring();
        return S_OK;
    };
    installation_state state{log, lock, [run](std::wstring& folder, std::wstring&) {
                                 // Named only: the installation makes it, private.
                                 folder = (run / L"halden_{bench}").wstring();
                                 return true;
                             }};

    // The installer has its window open when the installation starts; a
    // program without one connects to the display at its first shortcut
    // (under Wine that is a tenth of a second), which is not the engine's.
    // A generated archive measures the engine's memory while streaming, so
    // its run stays without the display's libraries.
    if (!payload.resource().empty())
        ReleaseDC(nullptr, GetDC(nullptr));

    bool installed = false;
    double start = 0, end = 0;
    {
        // Whatever the product writes into the real HKEY_LOCAL_MACHINE is
        // put back after the run.
        const registration_guard registration((fs::path(request.install_folder) / L"Quillmar.exe").wstring());
        local_machine_sandbox sandbox;
        start = now();
        installed = run_installation(request, state, view, sources);
        end = now();
        sandbox.release();
    }
    PROCESS_MEMORY_COUNTERS memory{};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);

    const std::size_t files = file_count(run);
    std::printf("installation %s, %zu files\n", installed ? "succeeded" : "FAILED", files);
    if (!installed)
        std::printf("status: %ls\nlog:\n%ls\n", view.status.c_str(), view.log.c_str());
    std::printf("install: %.3f s\n", end - start);
    // The extraction: everything before the first step after the files.
    double extraction = 0;
    bool extracting = true;
    const std::vector<step_time> steps = step_times(view.statuses, start, end);
    if (GetEnvironmentVariableW(L"HV_BENCH_STATUSES", nullptr, 0))
        for (const auto& [at, text] : view.statuses)
            std::printf("at %.3f s: %ls\n", at - start, text.c_str());
    for (const step_time& step : steps) {
        extracting = extracting && (step.name[0] == 'p' || step.name[0] == 'f');
        extraction += extracting ? step.seconds : 0;
    }
    std::printf("extraction: %.3f s\n", extraction);
    if (GetEnvironmentVariableW(L"HV_BENCH_STATUSES", nullptr, 0))
        for (const auto& [at, text] : view.statuses)
            std::printf("at %.3f s: %ls\n", at - start, text.c_str());
    for (const step_time& step : steps)
        std::printf("step %s: %.3f s\n", step.name, step.seconds);
    std::printf("peak working set: %.1f MB\n", static_cast<double>(memory.PeakWorkingSetSize) / (1 << 20));
    // The payload's check alone, after the run so that it warms nothing the
    // run uses: what of the check step is the decode itself.
    if (const auto stream = payload.open()) {
        const double check_start = now();
        const bool checked = verify_payload(*stream);
        std::printf("payload check alone: %.3f s%s\n", now() - check_start, checked ? "" : " (FAILED)");
    }

    for (const log_record& record : log.current)
        if (!record.backup.empty())
            DeleteFileW(record.backup.c_str());
    remove_tree(run);
    return installed ? 0 : 1;
}

}

int wmain(int argc, wchar_t** argv)
{
    try {
        if (argc == 4 && std::wstring(argv[1]) == L"--generate")
            return bench_support::generate(argv[2], std::stoull(argv[3])) ? 0 : 1;
        if (argc != 3) {
            std::printf("usage: bench_install SOURCE FOLDER | --generate ARCHIVE MEGABYTES\n");
            return 2;
        }
        return install(argv[1], argv[2]);
    }
    catch (const std::exception& e) {
        std::printf("bench_install: %s\n", e.what());
        return 1;
    }
}
