#include "platform/system_library.h"

#include <string>
#include <string_view>

namespace {

std::wstring system_folder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "GetSystemDirectoryW");
    return {folder, length};
}

bool in_system_folder(HMODULE module)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    const std::wstring_view file(path, length);
    const std::wstring folder = system_folder();
    const auto separator = file.find_last_of(L'\\');
    return separator == folder.size() &&
           CompareStringOrdinal(file.data(), static_cast<int>(separator), folder.data(),
                                static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

}

system_module::system_module(const wchar_t* name)
{
    module_ = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A loader without the search flags (Windows 7 before its loader update)
    // rejects them; the full path names the same file.
    if (!module_ && GetLastError() == ERROR_INVALID_PARAMETER)
        module_ = LoadLibraryExW((system_folder() + L'\\' + name).c_str(), nullptr, 0);
    if (!module_)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "LoadLibraryExW");
    // A module of that name loaded earlier from elsewhere (by a DLL's own
    // import before our search limit) is handed out by name; never use it.
    if (!in_system_folder(module_)) {
        reset();
        throw std::system_error(ERROR_MOD_NOT_FOUND, std::system_category(), "not in the system folder");
    }
}

FARPROC system_module::address(const char* name) const
{
    const FARPROC found = module_ ? GetProcAddress(module_, name) : nullptr;
    if (!found)
        throw std::system_error(ERROR_PROC_NOT_FOUND, std::system_category(), name);
    return found;
}

void system_module::reset() noexcept
{
    if (module_)
        FreeLibrary(std::exchange(module_, nullptr));
}

bool restrict_dll_search() noexcept
{
    // Resolved by name: a static import would keep the executable from
    // starting on a Windows 7 without the loader update.
    using set_default_dll_directories = BOOL WINAPI(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto set_default = kernel ? reinterpret_cast<set_default_dll_directories*>(reinterpret_cast<void*>(
                                          GetProcAddress(kernel, "SetDefaultDllDirectories")))
                                    : nullptr;
    if (set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return true;
    SetDllDirectoryW(L"");
    return false;
}
