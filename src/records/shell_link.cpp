#include "records/shell_link.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <filesystem>

#include "platform/com.h"

namespace {

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

void check(HRESULT hr, const char* what)
{
    if (FAILED(hr))
        throw_hresult(hr, what);
}

}

std::wstring shortcut_working_folder(const std::wstring& target)
{
    std::size_t last = target.size();
    while (last > 0 && !is_separator(target[last - 1]))
        --last;
    std::size_t end = last;
    while (end > 0 && is_separator(target[end - 1]))
        --end;
    // "D:\Quillmar.exe" starts in "D:\", not in the drive's current folder "D:".
    if (end == 2 && target[1] == L':' && last > end)
        ++end;
    return target.substr(0, end);
}

std::wstring shortcut_file(const std::wstring& target, const std::wstring& folder,
                           const std::wstring& name)
{
    std::filesystem::path file{folder};
    file /= name.empty() ? std::filesystem::path{target}.stem() : std::filesystem::path{name};
    return file.wstring() + L".lnk";
}

std::wstring create_shortcut(const std::wstring& target, const std::wstring& folder,
                             const std::wstring& name)
{
    com_apartment apartment;

    com_ptr<IShellLinkW> link;
    check(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkW),
                           link.put_void()),
          "CoCreateInstance");
    check(link->SetPath(target.c_str()), "IShellLinkW::SetPath");
    check(link->SetWorkingDirectory(shortcut_working_folder(target).c_str()),
          "IShellLinkW::SetWorkingDirectory");

    com_ptr<IPersistFile> persist;
    HRESULT hr = link.query(persist);
    if (hr == E_NOINTERFACE || (SUCCEEDED(hr) && !persist))
        hr = E_POINTER;
    check(hr, "IPersistFile");

    std::wstring file = shortcut_file(target, folder, name);
    check(persist->Save(file.c_str(), TRUE), "IPersistFile::Save");
    return file;
}
