// System DLLs that nbmonitor.exe's libraries load by name once it runs, loaded from the
// system folder before the first window. Some of these loads (a themed-drawing library's
// delay-load of msimg32, the shell's of ole32) do not follow the search that
// RestrictDllSearchToSystem sets: a DLL planted under such a name in the program's folder
// would be taken from there. A DLL already in the process is never searched for again, so
// after this every such load finds the system's own.
#pragma once

#include <cwchar>

#include "platform/win32/dll_search.h"

namespace nb {
namespace win {

// Every DLL a start, the tray menu, the restore dialog and the About box load after the
// process has begun (Wine's +loaddll trace), in the order they come, less comctl32 (the
// manifest redirects it to the common controls 6, which a load from the system folder would
// not give), Wine's own display driver and what is no DLL of Windows (zlib1.dll: a load of
// it "from the system folder" would take whatever copy an installer left there). Names
// Windows 7 lacks (win32u, combase, shcore: 8 and 10) are skipped where missing.
constexpr const wchar_t* kPreloadedDlls[] = {
    L"sechost.dll", L"advapi32.dll", L"version.dll", L"win32u.dll",  L"user32.dll",  L"gdi32.dll",
    L"imm32.dll",   L"uxtheme.dll",  L"ws2_32.dll",  L"shcore.dll",  L"shlwapi.dll", L"shell32.dll",
    L"rpcrt4.dll",  L"combase.dll",  L"ole32.dll",   L"msimg32.dll",
};

// What preloading needs of the system; a test stands in for it.
struct DllLoader {
    // LOAD_LIBRARY_SEARCH_SYSTEM32 is understood (Windows 8 and later, 7 and Vista with
    // KB2533623): the system has SetDefaultDllDirectories.
    bool searchFlags;
    HMODULE (*loadFromSystemFolder)(const wchar_t* name);  // by the flag
    HMODULE (*loadByPath)(const wchar_t* path);            // a full path: no search at all
    UINT (*systemFolder)(wchar_t* buffer, UINT chars);     // GetSystemDirectoryW
};

inline DllLoader SystemDllLoader() {
    DllLoader l;
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    l.searchFlags = kernel != nullptr &&
                    ::GetProcAddress(kernel, "SetDefaultDllDirectories") != nullptr;
    l.loadFromSystemFolder = [](const wchar_t* name) {
        return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    };
    l.loadByPath = [](const wchar_t* path) { return ::LoadLibraryW(path); };
    l.systemFolder = [](wchar_t* buffer, UINT chars) {
        return ::GetSystemDirectoryW(buffer, chars);
    };
    return l;
}

// Loaded for the life of the process: the modules are never freed. Without the flag (where
// it is not understood, the load fails) each is loaded by its full path in the system
// folder. Returns how many were loaded.
inline int PreloadSystemDlls(const DllLoader& loader) {
    wchar_t folder[MAX_PATH];
    UINT n = loader.searchFlags ? 0 : loader.systemFolder(folder, MAX_PATH);
    if (!loader.searchFlags && (n == 0 || n >= MAX_PATH - 16)) return 0;
    int loaded = 0;
    for (const wchar_t* name : kPreloadedDlls) {
        HMODULE module = nullptr;
        if (loader.searchFlags) {
            module = loader.loadFromSystemFolder(name);
        } else {
            wchar_t path[MAX_PATH];
            std::swprintf(path, MAX_PATH, L"%ls\\%ls", folder, name);
            module = loader.loadByPath(path);
        }
        if (module != nullptr) ++loaded;
    }
    return loaded;
}

inline void PreloadSystemDlls() { PreloadSystemDlls(SystemDllLoader()); }

}  // namespace win
}  // namespace nb
