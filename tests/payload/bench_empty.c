/* An empty Windows program (a benchmark program, not a test). Without
   arguments it starts and ends at once, so that timing it from outside gives
   what the start and the end of a process cost under Wine, which every figure
   timed from outside a program includes. With "window" it shows an empty
   dialog with a Cancel button until that is pressed: the first paint of a
   program that does nothing else. Built with THEMED (bench_empty_themed.exe)
   it carries the installer's manifest and registers the same common control
   classes first, as the installer does: common controls 6.0 and the visual
   styles, the floor of the installer's first paint. */
#include <windows.h>
#ifdef THEMED
#include <commctrl.h>
#endif

#include <string.h>

static INT_PTR CALLBACK empty_dialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    (void)lparam;
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

/* A dialog template in memory: the frame and one push button. */
struct empty_template {
    DLGTEMPLATE frame;
    WORD frame_menu, frame_class, frame_title;
    DLGITEMTEMPLATE button __attribute__((aligned(4)));
    WORD button_class[2], button_title, button_data;
};

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    (void)previous;
    (void)show;
#ifdef THEMED
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_LINK_CLASS};
    if (!InitCommonControlsEx(&classes))
        return 1;
#endif
    if (!command_line || strcmp(command_line, "window") != 0)
        return 0;
    static struct empty_template dialog = {
        {WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME | DS_CENTER, 0, 1, 0, 0, 300, 180},
        0, 0, 0,
        {WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 240, 160, 50, 14, IDCANCEL},
        {0xFFFF, 0x0080}, 0, 0,
    };
    return (int)DialogBoxIndirectParamW(instance, &dialog.frame, NULL, empty_dialog, 0);
}
