// nbctl exit --wait: the supervisor's end, waited for, so that an upgrade script can replace
// its files once it returns.
#include "platform/win32/windows_support.h"

#include <cstdio>

#include "nbctl.h"

namespace nbctl {

void AllowForeground(void* window) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(static_cast<HWND>(window), &pid);
    if (pid != 0) ::AllowSetForegroundWindow(pid);
}

int PostAndWaitForEnd(void* window, std::uint32_t message, std::uintptr_t wParam,
                      std::intptr_t lParam, unsigned long ms) {
    HWND hwnd = static_cast<HWND>(window);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    // Opened before the post: once the process has ended its id may name another one.
    nb::win::ScopedKernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!process) {
        std::fprintf(stderr, "nbctl: cannot wait for nbmonitor (process %lu, error %lu)\n",
                     static_cast<unsigned long>(pid), static_cast<unsigned long>(::GetLastError()));
        return kExitNotRunning;
    }
    if (!::PostMessageW(hwnd, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam))) {
        std::fprintf(stderr, "nbctl: posting to the nbmonitor window failed (error %lu)\n",
                     static_cast<unsigned long>(::GetLastError()));
        return kExitNotRunning;
    }
    if (::WaitForSingleObject(process.Get(), static_cast<DWORD>(ms)) == WAIT_OBJECT_0)
        return kExitOk;
    std::fprintf(stderr, "nbctl: nbmonitor (process %lu) still runs after %lu ms\n",
                 static_cast<unsigned long>(pid), ms);
    return kExitStillRunning;
}

}  // namespace nbctl
