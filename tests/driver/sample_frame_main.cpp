// The frame sample as a program of its own, driven from outside.
#include <windows.h>

#include "sample_frame.h"
#include "sample_ids.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    static sample_frame frame;
    return static_cast<int>(frame.create(nullptr, IDD_FRAME));
}
