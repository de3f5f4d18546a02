// The one door between the program's logic and the operating system, in six roles: files and
// settings, processes, sockets, windows and the tray, dialogs and the list view, the shell. The
// logic includes the roles it uses and calls only what they declare, through Files(),
// Processes(), Sockets(), Windows(), Dialogs() and Shell(); platform/win32 implements them over
// the Win32 API (the only code that includes windows.h) and tests/fake with recorded calls and
// scripted answers. This header is for whoever installs an implementation: the entry point and
// the tests.
//
// Conventions: operations that can fail return int 1 on success and 0 on failure, and no
// operation throws. On failure, out-parameters are left untouched.
#pragma once

#include <cstddef>

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/shell.h"
#include "platform/sockets.h"
#include "platform/windowing.h"

namespace nb {

// The implementation of every role; a role left null is not installed.
struct Platform {
    IFiles* files = nullptr;
    IProcesses* processes = nullptr;
    ISockets* sockets = nullptr;
    IWindows* windows = nullptr;
    IDialogs* dialogs = nullptr;
    IShell* shell = nullptr;
};
void SetPlatform(const Platform& platform);
// An object that plays every role installs itself; nullptr uninstalls all.
template <class All>
void SetPlatform(All* all) {
    SetPlatform(Platform{all, all, all, all, all, all});
}
inline void SetPlatform(std::nullptr_t) { SetPlatform(Platform{}); }

}  // namespace nb
