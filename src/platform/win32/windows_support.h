// The one place that includes windows.h, with the settings every Win32 file of the program
// shares, and the ScopedHandle traits for the system's handle kinds.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// mingw-w64 defaults _WIN32_WINNT to an old release; say which API level we build against.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#undef WINVER
#define WINVER 0x0601
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

// winsock2.h must come first: windows.h would otherwise pull in the old winsock.h.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include "platform/scoped_handle.h"

namespace nb {
namespace win {

// Kernel handles: CreateFile reports failure as INVALID_HANDLE_VALUE, most others as NULL.
// Close keeps the caller's last error, so a cleanup on a failure path does not hide it.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) {
        DWORD err = ::GetLastError();
        ::CloseHandle(h);
        ::SetLastError(err);
    }
};
using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::FindClose(h); }
};
using ScopedFindHandle = ScopedHandle<FindHandleTraits>;

struct HIconTraits {
    using Handle = HICON;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::DestroyIcon(h); }
};
using ScopedHIcon = ScopedHandle<HIconTraits>;

struct HMenuTraits {
    using Handle = HMENU;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::DestroyMenu(h); }
};
using ScopedHMenu = ScopedHandle<HMenuTraits>;

struct SocketTraits {
    using Handle = SOCKET;
    static Handle Invalid() { return INVALID_SOCKET; }
    static bool IsValid(Handle h) { return h != INVALID_SOCKET; }
    static void Close(Handle h) { ::closesocket(h); }
};
using ScopedSocket = ScopedHandle<SocketTraits>;

struct HImageListTraits {
    using Handle = HIMAGELIST;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::ImageList_Destroy(h); }
};
using ScopedHImageList = ScopedHandle<HImageListTraits>;

}  // namespace win
}  // namespace nb
