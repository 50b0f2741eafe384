/* Loads each DLL named on its command line by name, with the loader's
   default search (the program's folder first): whatever planted DLL of
   those names it does not load, the folder and the loader settings of the
   test would not show being loaded by anybody. */
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    int i;
    for (i = 1; i < argc; ++i)
        LoadLibraryW(argv[i]);
    return 0;
}
