// Stands in for the log reader until it is built: reads nothing.
#include "records/uninstall_log.h"

void uninstall_log::read(const std::filesystem::path&)
{
    install_folder.clear();
    shortcut_folder.clear();
    had_desktop_shortcut = true;
}
