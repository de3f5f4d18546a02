// The first thing a program of ours does: restrict where the system looks for DLLs that are
// loaded later. The program delay-loads every DLL beyond kernel32 and the C runtime, so that
// from here on nothing is looked for in its own folder (or the current one), where anybody
// who can write there could plant a DLL under a system DLL's name.
#pragma once

#include "platform/win32/windows_support.h"

namespace nb {
namespace win {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// Looked up at run time: a system without SetDefaultDllDirectories (before Windows 7 with
// KB2533623) still starts, with the system's own search order.
inline void RestrictDllSearchToSystem() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    auto set = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (set != nullptr) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace win
}  // namespace nb
