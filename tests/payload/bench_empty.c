/* An empty Windows program (a benchmark program, not a test): it starts and
   ends at once, so that timing it from outside gives what the start and the
   end of a process cost under Wine, which every figure timed from outside a
   program includes. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;
    return 0;
}
