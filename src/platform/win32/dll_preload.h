// System DLLs that nbmonitor.exe's libraries load by name once it runs, loaded from the
// system folder before the first window. Some of these loads (a themed-drawing library's
// delay-load of msimg32, the shell's of ole32) do not follow the search that
// RestrictDllSearchToSystem sets: a DLL planted under such a name in the program's folder
// would be taken from there. A DLL already in the process is never searched for again, so
// after this every such load finds the system's own.
#pragma once

#include "platform/win32/dll_search.h"

namespace nb {
namespace win {

// Every DLL a start, the tray menu, the restore dialog and the About box load after the
// process has begun (Wine's +loaddll trace), in the order they come, less comctl32 (the
// manifest redirects it to the common controls 6, which a load from the system folder would
// not give) and Wine's own display driver. A name the system does not have is skipped.
constexpr const wchar_t* kPreloadedDlls[] = {
    L"sechost.dll", L"advapi32.dll", L"zlib1.dll",  L"version.dll", L"win32u.dll",
    L"user32.dll",  L"gdi32.dll",    L"imm32.dll",  L"uxtheme.dll", L"ws2_32.dll",
    L"shcore.dll",  L"shlwapi.dll",  L"shell32.dll", L"rpcrt4.dll", L"combase.dll",
    L"ole32.dll",   L"msimg32.dll",
};

// Loaded for the life of the process: the modules are never freed.
inline void PreloadSystemDlls() {
    for (const wchar_t* name : kPreloadedDlls)
        ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace win
}  // namespace nb
