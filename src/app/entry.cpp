// Process entry: restricts the DLL search, loads the system DLLs used later from the system
// folder, installs the Win32 platform and runs the application object.
#include "platform/win32/windows_support.h"

#include "app/nbmonitor_app.h"
#include "platform/win32/dll_preload.h"
#include "platform/win32/win32_platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything loads user32, comctl32 or the shell (all delay-loaded).
    nb::win::RestrictDllSearchToSystem();
    nb::win::PreloadSystemDlls();
    static nb::win::Win32Platform platform;
    nb::SetPlatform(&platform);
    CnbmonitorApp app;
    return app.Run();
}
