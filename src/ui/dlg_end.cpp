#include "ui/dlg_end.h"

dlg_end& dlg_end::instance()
{
    static dlg_end page;
    return page;
}
