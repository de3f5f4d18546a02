// The Win32 handles behind the opaque window ids the logic holds, one pair of casts for every
// Win32 file of the platform and for the Wine tests.
#pragma once

#include "platform/platform.h"
#include "platform/win32/windows_support.h"

namespace nb {
namespace win {

inline HWND H(WindowId w) { return reinterpret_cast<HWND>(w); }
inline WindowId W(HWND h) { return reinterpret_cast<WindowId>(h); }

}  // namespace win
}  // namespace nb
