#include "platform/version_info.h"

#include "identity/product.h"
#include "platform/language.h"
#include "platform/system_library.h"

#include <shlwapi.h>

#include <memory>
#include <mutex>
#include <optional>

#include <fmt/xchar.h>

namespace {

// The version API, from the system folder on first use; without it every
// version resource reads as missing.
struct version_library {
    system_module module{L"version.dll"};
    decltype(GetFileVersionInfoSizeW)* info_size =
        module.function<decltype(GetFileVersionInfoSizeW)>("GetFileVersionInfoSizeW");
    decltype(GetFileVersionInfoW)* info = module.function<decltype(GetFileVersionInfoW)>("GetFileVersionInfoW");
    decltype(VerQueryValueW)* query_value = module.function<decltype(VerQueryValueW)>("VerQueryValueW");
};

const version_library* version_api() noexcept
{
    static const std::unique_ptr<const version_library> library = []() -> std::unique_ptr<const version_library> {
        try {
            return std::make_unique<const version_library>();
        }
        catch (const std::exception&) {
            return nullptr;
        }
    }();
    return library.get();
}

struct resource_block {
    const void* data = nullptr;
    std::uint32_t size = 0;
};

// The executable's own block, located once and shared by every reader.
const resource_block& own_block()
{
    static const resource_block block = [] {
        resource_block found;
        const HMODULE module = GetModuleHandleW(nullptr);
        const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), RT_VERSION);
        if (!resource)
            return found;
        const HGLOBAL loaded = LoadResource(module, resource);
        const DWORD size = SizeofResource(module, resource);
        const void* data = loaded ? LockResource(loaded) : nullptr;
        if (data && size) {
            found.data = data;
            found.size = size;
        }
        return found;
    }();
    return block;
}

// Whether the process runs a build with a special name is decided by the
// first object that needs to know and kept for the rest of the run.
class special_build_test {
public:
    explicit special_build_test(const wchar_t* build) : build_(build) {}

    bool holds(const version_info& info)
    {
        std::call_once(once_, [&] { answer_ = is_special_build(info.string_value(L"SpecialBuild"), build_); });
        return answer_;
    }

private:
    const wchar_t* build_;
    std::once_flag once_;
    bool answer_ = false;
};

special_build_test merrin_build{L"Merrin"};
special_build_test pellary_build{L"Pellary"};

void replace_first(std::wstring& text, std::wstring_view what, std::wstring_view with)
{
    const auto at = text.find(what);
    if (at != std::wstring::npos)
        text.replace(at, what.size(), with);
}

constexpr unsigned german = 2;
constexpr unsigned french = 0;

bool in_own_family(unsigned code) { return code >= 256 && code < 512; }
bool in_corvane_family(unsigned code) { return code >= 512 && code < 768; }

// Frees a library only when it was loaded for this one question.
class loaded_module {
public:
    loaded_module(HMODULE module, bool owned) : module_(module), owned_(owned) {}
    loaded_module(const loaded_module&) = delete;
    loaded_module& operator=(const loaded_module&) = delete;
    ~loaded_module()
    {
        if (module_ && owned_)
            FreeLibrary(module_);
    }
    HMODULE get() const noexcept { return module_; }

private:
    HMODULE module_;
    bool owned_;
};

loaded_module common_controls()
{
    if (const HMODULE loaded = GetModuleHandleW(L"Comctl32.dll"))
        return {loaded, false};
    HMODULE module = LoadLibraryExW(L"Comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!module)
        module = LoadLibraryExW(L"Comctl32.dll", nullptr, 0);
    return {module, true};
}

}

version_info::version_info()
{
    const auto& own = own_block();
    block_ = own.data;
    size_ = own.size;
    read_block();
}

version_info::version_info(const std::wstring& path)
{
    DWORD ignored = 0;
    const auto* api = version_api();
    const DWORD size = api ? api->info_size(path.c_str(), &ignored) : 0;
    if (size) {
        data_.resize(size);
        if (api->info(path.c_str(), 0, size, data_.data())) {
            block_ = data_.data();
            size_ = size;
        }
        else {
            data_.clear();
        }
    }
    read_block();
}

void version_info::read_block()
{
    const auto* api = version_api();
    if (!api)
        size_ = 0;
    if (!size_)
        return;
    // VerQueryValueW takes a non-const block although it only reads it.
    void* block = const_cast<void*>(block_);
    void* value = nullptr;
    UINT length = 0;
    if (api->query_value(block, L"\\", &value, &length) && value && length >= sizeof(VS_FIXEDFILEINFO))
        fixed_ = static_cast<const VS_FIXEDFILEINFO*>(value);

    value = nullptr;
    length = 0;
    if (api->query_value(block, L"\\VarFileInfo\\Translation", &value, &length) && value) {
        const auto* pairs = static_cast<const WORD*>(value);
        for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2)
            if (pairs[i + 1] == 1200)
                translations_.push_back(fmt::format(L"{:04x}{:04x}", pairs[i], pairs[i + 1]));
    }
}

std::uint64_t version_info::file_version() const noexcept
{
    if (!fixed_)
        return 0;
    return (std::uint64_t{fixed_->dwFileVersionMS} << 32) | fixed_->dwFileVersionLS;
}

std::uint32_t version_info::file_flags() const noexcept
{
    return fixed_ ? fixed_->dwFileFlags & fixed_->dwFileFlagsMask : 0;
}

std::wstring version_info::string_value(const wchar_t* name) const
{
    if (!size_ || translations_.empty())
        return {};
    const std::wstring sub_block = L"\\StringFileInfo\\" + translations_.front() + L"\\" + name;
    void* value = nullptr;
    UINT length = 0;
    if (!version_api()->query_value(const_cast<void*>(block_), sub_block.c_str(), &value, &length) || !value || !length)
        return {};
    std::wstring text(static_cast<const wchar_t*>(value), length);
    if (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

std::wstring version_info::localized_product_name(unsigned language) const
{
    const unsigned code = product_code;
    const bool merrin = in_corvane_family(code) && merrin_build.holds(*this);
    const bool pellary = in_own_family(code) && pellary_build.holds(*this);
    return ::localized_product_name(product_name(), code, language, merrin, pellary);
}

std::wstring version_info::display_name(unsigned language, LCID lcid) const
{
    return ::display_name(localized_product_name(language), product_version(), file_flags(), lcid);
}

bool is_special_build(const std::wstring& special_build, const wchar_t* build)
{
    return special_build == build;
}

std::wstring localized_product_name(std::wstring name, unsigned code, unsigned language,
                                    bool merrin_build, bool pellary_build)
{
    if (in_corvane_family(code)) {
        if (merrin_build && language == german)
            replace_first(name, L"Corvane", L"Merrin");
        else if (language != french)
            replace_first(name, L"Corvane", L"Tallow");
    }
    if (in_own_family(code) && pellary_build && language == german)
        replace_first(name, L"Quillmar", L"Pellary");
    return name;
}

std::wstring display_name(std::wstring name, const std::wstring& version, std::uint32_t flags, LCID lcid)
{
    if (!version.empty()) {
        name += L' ';
        name += version;
    }
    if ((flags & VS_FF_PRERELEASE) && PRIMARYLANGID(LANGIDFROMLCID(lcid)) != LANG_FRENCH)
        replace_first(name, L"b\u00eata", L"beta");
    if (flags & VS_FF_PRIVATEBUILD)
        name += L" \u2013 Private";
    if (flags & VS_FF_DEBUG)
        name += L" \u2013 Debug";
    return name;
}

std::uint32_t comctl32_version()
{
    const loaded_module module = common_controls();
    if (!module.get())
        return 0;
    const auto get_version = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void*>(GetProcAddress(module.get(), "DllGetVersion")));
    if (!get_version)
        return 0;
    DLLVERSIONINFO version{};
    version.cbSize = sizeof version;
    if (get_version(&version) < 0)
        return 0;
    return (version.dwMajorVersion << 16) | (version.dwMinorVersion & 0xFFFF);
}

std::wstring version_info::localized_product_name() const
{
    return localized_product_name(static_cast<unsigned>(locale_state::instance().current));
}

std::wstring version_info::display_name() const
{
    const auto& locale = locale_state::instance();
    return display_name(static_cast<unsigned>(locale.current), locale.lcid);
}

std::uint32_t assembly_identity_version(std::wstring_view identity)
{
    constexpr std::wstring_view key = L"version=\"";
    const auto at = identity.find(key);
    if (at == std::wstring_view::npos)
        return 0;
    std::uint32_t parts[2] = {};
    std::size_t position = at + key.size();
    for (auto& part : parts) {
        std::size_t digits = 0;
        while (position < identity.size() && identity[position] >= L'0' && identity[position] <= L'9') {
            part = part * 10 + static_cast<std::uint32_t>(identity[position] - L'0');
            if (part > 0xFFFF)
                return 0;
            ++position;
            ++digits;
        }
        if (!digits)
            return 0;
        if (position < identity.size() && identity[position] == L'.')
            ++position;
    }
    return (parts[0] << 16) | parts[1];
}

std::uint32_t common_controls_assembly_version()
{
    ACTCTX_SECTION_KEYED_DATA redirection{};
    redirection.cbSize = sizeof redirection;
    if (!FindActCtxSectionStringW(FIND_ACTCTX_SECTION_KEY_RETURN_HACTCTX, nullptr,
                                  ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll", &redirection))
        return 0;
    struct context_reference {
        HANDLE context;
        ~context_reference()
        {
            if (context)
                ReleaseActCtx(context);
        }
    } const reference{redirection.hActCtx};

    DWORD index = redirection.ulAssemblyRosterIndex;
    SIZE_T needed = 0;
    QueryActCtxW(0, reference.context, &index, AssemblyDetailedInformationInActivationContext, nullptr, 0, &needed);
    if (needed < sizeof(ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION))
        return 0;
    std::vector<std::byte> buffer(needed);
    if (!QueryActCtxW(0, reference.context, &index, AssemblyDetailedInformationInActivationContext, buffer.data(),
                      buffer.size(), &needed))
        return 0;
    const auto* assembly = reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
    if (!assembly->lpAssemblyEncodedAssemblyIdentity)
        return 0;
    const std::wstring_view identity = assembly->lpAssemblyEncodedAssemblyIdentity;
    constexpr std::wstring_view common_controls = L"Microsoft.Windows.Common-Controls,";
    if (identity.size() < common_controls.size() ||
        CompareStringOrdinal(identity.data(), static_cast<int>(common_controls.size()), common_controls.data(),
                             static_cast<int>(common_controls.size()), TRUE) != CSTR_EQUAL)
        return 0;
    return assembly_identity_version(identity);
}

bool common_controls_6_active(std::uint32_t library_version, std::uint32_t assembly_version)
{
    return library_version >= 0x60000 || assembly_version >= 0x60000;
}

bool common_controls_6_active()
{
    const std::uint32_t library = comctl32_version();
    return common_controls_6_active(library, library >= 0x60000 ? 0 : common_controls_assembly_version());
}
