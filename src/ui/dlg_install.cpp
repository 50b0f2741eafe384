#include "ui/dlg_install.h"

dlg_install& dlg_install::instance()
{
    static dlg_install page;
    return page;
}
