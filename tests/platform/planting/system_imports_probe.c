/* Imports the system DLLs the installer imports (comctl32 it loads at run
   time) and runs no code of its own
   beyond that: whatever planted DLL it loads is taken by those system DLLs'
   own imports, before any code of a program could limit the search. */
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

int main(int argc, char** argv)
{
    (void)argv;
    /* Never true; keeps the imports. */
    if (argc > 100) {
        CoUninitialize();
        DragFinish(NULL);
        GetStockObject(0);
        MessageBeep(0);
        RegCloseKey(NULL);
    }
    return 0;
}
