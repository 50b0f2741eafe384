// The checks that run before the entry point. Only the installer (and the
// programs that test its start-up) link this file: its objects run during
// static initialisation, the processor check first.
#include "core/installer_context.h"

#include <windows.h>

namespace {

struct processor_check {
    processor_check()
    {
        const UINT exit_code = check_processor(
            [](DWORD feature) { return IsProcessorFeaturePresent(feature) != FALSE; },
            [](const wchar_t* text, UINT flags) { MessageBoxW(nullptr, text, nullptr, flags); });
        if (exit_code)
            ExitProcess(exit_code);
        processor_check_passed = true;
    }
};

struct application_start {
    application_start()
    {
        try {
            initialise_application();
        }
        catch (...) {
            MessageBoxW(nullptr, L"Initialization Error", nullptr, MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
            ExitProcess(static_cast<UINT>(-11));
        }
    }
};

const processor_check run_processor_check;
const application_start run_application_start;

}
