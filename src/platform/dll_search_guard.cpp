// Linked into every program of the application as a source of its own (a
// static library's unreferenced object would be dropped): before any other
// static initialiser can load a DLL, the loader's search is limited to the
// system folder, so DLLs planted beside the executable are never loaded.
#include "platform/system_library.h"

namespace {

__attribute__((constructor(101))) void limit_dll_search()
{
    restrict_dll_search();
}

}
