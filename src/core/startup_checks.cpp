// The checks that run before the entry point. Only the installer (and the
// programs that test its start-up) link this file: its objects run during
// static initialisation, the processor check first.
#include "core/installer_context.h"

#include <windows.h>

namespace {

struct processor_check {
    processor_check()
    {
        if (!IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE)) {
            MessageBoxW(nullptr,
                        L"This Version is not compatible with your Configuration.\n\n"
                        L"Cette version n'est pas compatible avec votre configuration.\n\n"
                        L"Diese Version ist nicht mit Ihrer Konfiguration kompatibel.",
                        nullptr, MB_ICONERROR);
            ExitProcess(1);
        }
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
