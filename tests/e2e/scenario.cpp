#include "e2e/scenario.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "payload/extractor.h"

namespace e2e {

std::wstring default_install_folder()
{
    return expand(L"%ProgramFiles%\\Halden & Voss\\Quillmar 3");
}

std::wstring examples_folder()
{
    return expand(L"%PUBLIC%\\Desktop\\Quillmar Examples");
}

std::vector<std::wstring> watched_keys()
{
    auto keys = default_keys();
    keys.push_back(L"HKLM\\Software\\Classes\\.qmd");
    keys.push_back(L"HKLM\\Software\\Classes\\Quillmar.Document.3");
    return keys;
}

fact_set picture()
{
    return capture(default_folders(), watched_keys());
}

// What stays after an uninstallation on purpose: the wizard's remembered
// size under the user's key. Not the installation's either: the scratch
// folders other test programs, run beside a scenario, keep in the
// temporary folder.
const std::vector<std::wstring> left_on_purpose{
    L"key\tHKCU\\Software\\Halden & Voss\t",
    L"value\tHKCU\\Software\\Halden & Voss\tInstallerSize",
    L"file\t%TEMP%\\hv-test ",
    L"folder\t%TEMP%\\hv-test ",
    L"record\t%TEMP%\\hv-test ",
    L"link\t%TEMP%\\hv-test ",
    L"file\t%TEMP%\\hv-payload-test-",
    L"folder\t%TEMP%\\hv-payload-test-",
    L"record\t%TEMP%\\hv-payload-test-",
    L"link\t%TEMP%\\hv-payload-test-",
};

std::string read_text(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<fact> state(const wchar_t* name)
{
    const char* source = std::getenv("HV_TEST_SOURCE_DIR");
    if (!source)
        throw std::runtime_error("HV_TEST_SOURCE_DIR is not set; run the tests through ctest");
    return parse(read_text(fs::path(test_support::windows_path(source)) / L"tests" / L"e2e" / L"states" / name));
}

// The shipped payload as files that must be there: every entry of the
// build's manifest with the size and CRC-32 of the staged file. Examples and
// data files are listed only when `with_examples`/`with_data` ask for them.
std::vector<fact> payload_files(const std::wstring& install_folder, bool with_examples)
{
    const fs::path manifest = test_support::build_file(L"src\\resources\\payload-manifest.txt");
    std::vector<fact> files;
    std::istringstream lines(read_text(manifest));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            fields.push_back(cell);
        if (fields.size() != 3)
            continue;
        const fs::path source = manifest.parent_path() / from_utf8(fields[0]);
        std::wstring folder = from_utf8(fields[1]);
        const std::pair<std::wstring, std::wstring> tokens[] = {
            {L"<InstallPath>", install_folder},
            {L"<CommonData>", expand(L"%ProgramData%")},
            {L"<UserData>", expand(L"%APPDATA%")},
            {L"<SamplePath>", examples_folder()},
        };
        for (const auto& [token, value] : tokens)
            if (folder.rfind(token, 0) == 0)
                folder = value + folder.substr(token.size());
        if (fields[2] == "sample" && !with_examples)
            continue;
        files.push_back({L"file", (fs::path(folder) / source.filename()).wstring(), {},
                         {L"size=" + std::to_wstring(fs::file_size(source)),
                          L"crc32=" + from_utf8(fmt::format("{:08X}", file_crc32(source)))}});
    }
    return files;
}

void expect_state(const std::vector<fact>& required)
{
    for (const auto& difference : differences(required, observe(required)))
        ADD_FAILURE() << to_utf8(difference);
}

unsigned long uninstall_quietly(const std::wstring& folder)
{
    const fs::path temp = fs::temp_directory_path() / ("hv-e2e-quiet-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(temp);
    test_support::temp_folder_guard temp_folder(temp);
    const unsigned long code = test_support::run_process(folder + L"\\Uninstall.exe", L"/quiet", 120000);
    std::error_code ignored;
    fs::remove_all(temp, ignored);
    return code;
}

void expect_same(const fact_set& before, const fact_set& after)
{
    for (const auto& change : changes(before, after, left_on_purpose))
        ADD_FAILURE() << to_utf8(change);
}

scoped_environment::scoped_environment(std::wstring name, const std::wstring& value) : name_(std::move(name))
{
    const DWORD length = GetEnvironmentVariableW(name_.c_str(), nullptr, 0);
    if (length > 0) {
        old_value_.resize(length);
        old_value_.resize(GetEnvironmentVariableW(name_.c_str(), old_value_.data(), length));
        had_value_ = true;
    }
    SetEnvironmentVariableW(name_.c_str(), value.c_str());
}

scoped_environment::~scoped_environment()
{
    SetEnvironmentVariableW(name_.c_str(), had_value_ ? old_value_.c_str() : nullptr);
}

}
