// Stands in for the installed program's registration run: answers the
// success code only when started with the registration arguments in its own
// folder, and 3 otherwise.
#include <windows.h>

#include <string>

int wmain()
{
    std::wstring command = GetCommandLineW();
    const std::wstring arguments = L" /Register /Background";
    bool arguments_ok = command.size() > arguments.size() &&
                        command.compare(command.size() - arguments.size(), arguments.size(),
                                        arguments) == 0;

    wchar_t module[MAX_PATH]{};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring own_folder = module;
    own_folder.erase(own_folder.find_last_of(L'\\'));
    wchar_t current[MAX_PATH]{};
    GetCurrentDirectoryW(MAX_PATH, current);
    bool folder_ok = lstrcmpiW(own_folder.c_str(), current) == 0;

    return arguments_ok && folder_ok ? -10 : 3;
}
