// Process entry: restricts the DLL search, loads the system DLLs used later from the system
// folder, installs the Win32 platform and runs the application object.
#include "platform/win32/windows_support.h"

#include "app/nbmonitor_app.h"
#include "platform/win32/dll_preload.h"
#include "platform/win32/win32_platform.h"

#include <cstdlib>

#if defined(__GLIBCXX__)
// An exception that nothing catches ends the program through abort(), as libstdc++'s own
// handler does after it has written the exception's demangled type to stderr, which a GUI
// program does not have. That handler brings the whole demangler (about 45 KB of the exe).
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything loads user32, comctl32 or the shell (all delay-loaded).
    nb::win::RestrictDllSearchToSystem();
    nb::win::PreloadSystemDlls();
    // One object per role (an object of all of them, Win32Platform, would bring the run-time
    // type support of multiple inheritance into the program).
    static nb::win::Win32Files files;
    static nb::win::Win32Processes processes;
    static nb::win::Win32Sockets sockets;
    static nb::win::Win32Windows windows;
    static nb::win::Win32Dialogs dialogs;
    static nb::win::Win32Shell shell;
    nb::SetPlatform({&files, &processes, &sockets, &windows, &dialogs, &shell});
    nb::CnbmonitorApp app;
    return app.Run();
}
