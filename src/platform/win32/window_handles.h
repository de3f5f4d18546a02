// The Win32 handles behind the opaque window ids the logic holds, one pair of casts for every
// Win32 file of the platform and for the Wine tests, and the program's module.
#pragma once

#include "platform/handles.h"
#include "platform/win32/windows_support.h"

namespace nb {
namespace win {

inline HWND H(WindowId w) { return reinterpret_cast<HWND>(w); }
inline WindowId W(HWND h) { return reinterpret_cast<WindowId>(h); }

// The program's own module, whose resources (icons, menus, strings, templates) it loads.
inline HINSTANCE Module() { return ::GetModuleHandleW(nullptr); }

}  // namespace win
}  // namespace nb
