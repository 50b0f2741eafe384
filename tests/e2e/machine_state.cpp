#include "e2e/machine_state.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "payload/extractor.h"
#include "platform/com.h"
#include "records/uninstall_log.h"

namespace fs = std::filesystem;

namespace machine_state {
namespace {

std::wstring lower(std::wstring text)
{
    for (auto& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

bool starts_with_ci(const std::wstring& text, const std::wstring& prefix)
{
    return lower(text).rfind(lower(prefix), 0) == 0;
}

std::vector<std::wstring> split_tabs(const std::wstring& line)
{
    std::vector<std::wstring> fields;
    std::wstring::size_type start = 0;
    for (;;) {
        auto tab = line.find(L'\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::wstring::npos)
            return fields;
        start = tab + 1;
    }
}

std::size_t name_fields(const std::wstring& kind)
{
    return kind == L"value" || kind == L"record" ? 1 : 0;
}

const std::set<std::wstring> known_kinds{L"file", L"folder", L"key", L"value", L"link", L"record", L"process"};

// Control characters in registry strings would break the line format.
std::wstring escaped(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\\' || c >= L' ')
            out += c;
        else
            out += fmt::format(L"\\x{:02x}", static_cast<unsigned>(c));
    }
    return out;
}

struct root_name {
    const wchar_t* name;
    HKEY key;
};
const root_name registry_roots[] = {
    {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKCU", HKEY_CURRENT_USER},
    {L"HKCR", HKEY_CLASSES_ROOT},
};

// "HKLM\Software\X" as its root and sub-key.
std::pair<HKEY, std::wstring> split_key(const std::wstring& path)
{
    auto slash = path.find(L'\\');
    std::wstring root = path.substr(0, slash);
    for (const auto& r : registry_roots)
        if (lower(root) == lower(r.name))
            return {r.key, slash == std::wstring::npos ? L"" : path.substr(slash + 1)};
    throw std::runtime_error("unknown registry root in " + to_utf8(path));
}

class open_registry_key {
public:
    explicit open_registry_key(const std::wstring& path)
    {
        auto [root, sub] = split_key(path);
        if (RegOpenKeyExW(root, sub.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    open_registry_key(const open_registry_key&) = delete;
    open_registry_key& operator=(const open_registry_key&) = delete;
    ~open_registry_key()
    {
        if (key_)
            RegCloseKey(key_);
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::wstring type_name(DWORD type)
{
    switch (type) {
    case REG_SZ: return L"REG_SZ";
    case REG_EXPAND_SZ: return L"REG_EXPAND_SZ";
    case REG_MULTI_SZ: return L"REG_MULTI_SZ";
    case REG_DWORD: return L"REG_DWORD";
    case REG_QWORD: return L"REG_QWORD";
    case REG_BINARY: return L"REG_BINARY";
    case REG_NONE: return L"REG_NONE";
    default: return fmt::format(L"type{}", type);
    }
}

std::wstring value_data(DWORD type, const std::vector<BYTE>& bytes)
{
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        // A string written without its terminator shows as a difference.
        if (!text.empty() && text.back() == L'\0' && type != REG_MULTI_SZ)
            text.pop_back();
        else if (type != REG_MULTI_SZ)
            text += L"\\(no terminator)";
        return escaped(text);
    }
    if (type == REG_DWORD && bytes.size() == 4) {
        DWORD v;
        std::memcpy(&v, bytes.data(), 4);
        return fmt::format(L"0x{:08x}", v);
    }
    if (type == REG_QWORD && bytes.size() == 8) {
        unsigned long long v;
        std::memcpy(&v, bytes.data(), 8);
        return fmt::format(L"0x{:016x}", v);
    }
    std::wstring hex;
    for (BYTE b : bytes)
        hex += fmt::format(L"{:02x}", b);
    return hex;
}

void add(fact_set& facts, fact f)
{
    auto id = f.identity();
    facts.insert_or_assign(id, std::move(f));
}

void observe_value(fact_set& facts, const std::wstring& key_path, HKEY key, const std::wstring& name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return;
    std::vector<BYTE> bytes(size);
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS)
        return;
    bytes.resize(size);
    add(facts, {L"value", key_path, name, {L"type=" + type_name(type), L"data=" + value_data(type, bytes)}});
}

void capture_key(fact_set& facts, const std::wstring& path)
{
    open_registry_key key(path);
    if (!key.get())
        return;
    add(facts, {L"key", path, {}, {L"present"}});
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD length = std::size(name);
        if (RegEnumValueW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        observe_value(facts, path, key.get(), std::wstring(name, length));
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = std::size(name);
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.emplace_back(name, length);
    }
    for (const auto& child : children)
        capture_key(facts, path + L'\\' + child);
}

void observe_link(fact_set& facts, const std::wstring& path)
{
    com_apartment apartment;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return;
    com_ptr<IShellLinkW> owned_link(link);
    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))))
        return;
    com_ptr<IPersistFile> owned_file(file);
    if (FAILED(file->Load(path.c_str(), STGM_READ)))
        return;
    wchar_t target[MAX_PATH * 4]{};
    wchar_t folder[MAX_PATH * 4]{};
    link->GetPath(target, static_cast<int>(std::size(target)), nullptr, 0);
    link->GetWorkingDirectory(folder, static_cast<int>(std::size(folder)));
    add(facts, {L"link", path, {}, {L"target=" + std::wstring(target), L"workdir=" + std::wstring(folder)}});
}

void observe_records(fact_set& facts, const std::wstring& log_file)
{
    uninstall_log log;
    log.read(log_file);
    for (const auto& r : log.previous) {
        auto text = fmt::format(L"{} {} {} {}", static_cast<int>(r.kind), r.done ? 1 : 0, r.value, r.path);
        add(facts, {L"record", log_file, text, {L"present"}});
    }
}

void observe_file(fact_set& facts, const fs::path& path)
{
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    if (ec)
        return;
    DWORD attributes = GetFileAttributesW(path.c_str());
    std::wstring crc;
    try {
        crc = fmt::format(L"{:08X}", file_crc32(path));
    }
    catch (const std::exception&) {
        crc = L"unreadable";
    }
    add(facts, {L"file", path.wstring(), {},
                {fmt::format(L"size={}", size), L"crc32=" + crc,
                 std::wstring(L"readonly=") + ((attributes & FILE_ATTRIBUTE_READONLY) ? L"yes" : L"no")}});
    if (lower(path.extension().wstring()) == L".lnk")
        observe_link(facts, path.wstring());
    if (lower(path.filename().wstring()) == lower(uninstall_log_name))
        observe_records(facts, path.wstring());
}

void capture_folder(fact_set& facts, const fs::path& folder)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return;
    add(facts, {L"folder", folder.wstring(), {}, {L"present"}});
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec))
            capture_folder(facts, it->path());
        else
            observe_file(facts, it->path());
    }
}

std::set<std::wstring> running_images()
{
    std::set<std::wstring> images;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return images;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        images.insert(lower(entry.szExeFile));
    CloseHandle(snapshot);
    return images;
}

std::wstring describe(const fact& f)
{
    std::wstring text = f.kind + L' ' + f.subject;
    if (!f.name.empty())
        text += L" \"" + f.name + L'"';
    for (const auto& p : f.properties)
        text += L' ' + p;
    return text;
}

bool satisfies(const fact& seen, const fact& required)
{
    for (const auto& p : required.properties) {
        if (p == L"present")
            continue;
        if (std::find(seen.properties.begin(), seen.properties.end(), p) == seen.properties.end())
            return false;
    }
    return true;
}

}

std::wstring fact::identity() const
{
    // Windows names files, keys and value names without regard to case.
    return kind + L'\t' + lower(subject) + L'\t' + (kind == L"record" ? name : lower(name));
}

bool fact::absent() const
{
    return properties.size() == 1 && properties.front() == L"absent";
}

std::string to_utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring from_utf8(const std::string& text)
{
    if (text.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::wstring expand(const std::wstring& text)
{
    if (text.find(L'%') == std::wstring::npos)
        return text;
    DWORD n = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::wstring out(n, L'\0');
    ExpandEnvironmentStringsW(text.c_str(), out.data(), n);
    out.resize(n ? n - 1 : 0);
    return out;
}

std::vector<fact> parse(const std::string& utf8_text)
{
    std::vector<fact> facts;
    std::istringstream lines(utf8_text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        auto fields = split_tabs(from_utf8(line));
        fact f;
        f.kind = fields[0];
        if (!known_kinds.contains(f.kind))
            throw std::runtime_error(fmt::format("line {}: unknown kind '{}'", number, to_utf8(f.kind)));
        std::size_t needed = 2 + name_fields(f.kind);
        if (fields.size() < needed || fields[1].empty())
            throw std::runtime_error(fmt::format("line {}: '{}' needs {} fields", number, to_utf8(f.kind), needed));
        f.subject = expand(fields[1]);
        if (name_fields(f.kind))
            f.name = f.kind == L"record" ? expand(fields[2]) : fields[2];
        for (auto field = fields.begin() + static_cast<std::ptrdiff_t>(needed); field != fields.end(); ++field)
            f.properties.push_back(expand(*field));
        if (f.properties.empty())
            f.properties.push_back(L"present");
        if (f.kind == L"process" && f.properties.front() == L"running")
            f.properties.front() = L"present";
        facts.push_back(std::move(f));
    }
    return facts;
}

std::string format(const std::vector<fact>& facts)
{
    std::wstring text;
    for (const auto& f : facts) {
        text += f.kind + L'\t' + f.subject;
        if (name_fields(f.kind))
            text += L'\t' + f.name;
        for (const auto& p : f.properties)
            text += L'\t' + p;
        text += L'\n';
    }
    return to_utf8(text);
}

std::vector<std::wstring> differences(const std::vector<fact>& required, const fact_set& seen)
{
    std::vector<std::wstring> out;
    for (const auto& r : required) {
        auto it = seen.find(r.identity());
        if (r.absent()) {
            if (it != seen.end())
                out.push_back(L"must be absent: " + describe(it->second));
        }
        else if (it == seen.end()) {
            out.push_back(L"missing: " + describe(r));
        }
        else if (!satisfies(it->second, r)) {
            out.push_back(L"expected: " + describe(r) + L"\n   found: " + describe(it->second));
        }
    }
    return out;
}

std::vector<std::wstring> changes(const fact_set& before, const fact_set& after,
                                  const std::vector<std::wstring>& ignored)
{
    auto is_ignored = [&](const fact& f) {
        return std::any_of(ignored.begin(), ignored.end(), [&](const std::wstring& prefix) {
            return starts_with_ci(f.kind + L'\t' + f.subject + L'\t' + f.name, expand(prefix));
        });
    };
    std::vector<std::wstring> out;
    for (const auto& [id, f] : before) {
        if (is_ignored(f))
            continue;
        auto it = after.find(id);
        if (it == after.end())
            out.push_back(L"removed: " + describe(f));
        else if (it->second.properties != f.properties)
            out.push_back(L"changed: " + describe(f) + L"\n     now: " + describe(it->second));
    }
    for (const auto& [id, f] : after)
        if (!before.contains(id) && !is_ignored(f))
            out.push_back(L"added: " + describe(f));
    return out;
}

fact_set observe(const std::vector<fact>& required)
{
    fact_set seen;
    std::set<std::wstring> images;
    bool images_read = false;
    for (const auto& r : required) {
        if (r.kind == L"file" || r.kind == L"link") {
            observe_file(seen, r.subject);
        }
        else if (r.kind == L"folder") {
            std::error_code ec;
            if (fs::is_directory(r.subject, ec))
                add(seen, {L"folder", r.subject, {}, {L"present"}});
        }
        else if (r.kind == L"key") {
            open_registry_key key(r.subject);
            if (key.get())
                add(seen, {L"key", r.subject, {}, {L"present"}});
        }
        else if (r.kind == L"value") {
            open_registry_key key(r.subject);
            if (key.get())
                observe_value(seen, r.subject, key.get(), r.name);
        }
        else if (r.kind == L"record") {
            observe_records(seen, r.subject);
        }
        else if (r.kind == L"process") {
            if (!images_read) {
                images = running_images();
                images_read = true;
            }
            if (images.contains(lower(r.subject)))
                add(seen, {L"process", r.subject, {}, {L"present"}});
        }
    }
    return seen;
}

fact_set capture(const std::vector<std::wstring>& folders, const std::vector<std::wstring>& keys)
{
    fact_set facts;
    for (const auto& folder : folders)
        capture_folder(facts, expand(folder));
    for (const auto& key : keys)
        capture_key(facts, key);
    return facts;
}

std::vector<std::wstring> default_folders()
{
    return {
        L"%ProgramFiles%\\Halden & Voss",
        L"%ProgramData%\\Halden & Voss",
        L"%ProgramData%\\Halden & Voss Setup",
        L"%APPDATA%\\Halden & Voss",
        L"%PUBLIC%\\Desktop",
        L"%PUBLIC%\\Documents",
        L"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs",
        L"%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs",
        L"%TEMP%",
    };
}

std::vector<std::wstring> default_keys()
{
    return {
        L"HKLM\\Software\\Halden & Voss",
        L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmar 3",
        L"HKCU\\Software\\Halden & Voss",
    };
}

}
