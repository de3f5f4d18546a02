// The opaque handles the logic holds, shared by the roles of the door (platform.h).
#pragma once

#include <cstdint>

namespace nb {

// Opaque handles as the logic sees them; 0 is "none" for all of them.
using WindowId = std::uintptr_t;      // HWND
using ProcessRef = std::uintptr_t;    // process HANDLE
using ImageListRef = std::uintptr_t;  // HIMAGELIST
using IconRef = std::uintptr_t;       // HICON
using SocketRef = std::uintptr_t;     // SOCKET

}  // namespace nb
