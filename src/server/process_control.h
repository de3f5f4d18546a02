// Launching a command line with a hidden window, and ending every server process.
#pragma once

#include <cstdint>
#include <string>

#include "platform/processes.h"

namespace nb {

class CProcessControl {
public:
    CProcessControl() = default;

    // Starts the command line hidden, with the folder of this executable (the bin folder of
    // the home directory) as current directory; does not wait. 1 when the process was
    // created. On failure the fields keep what they held.
    int Execute(std::wstring cmdLine);

    // Ends every process whose executable is named exactly "httpd.exe", whoever started it.
    // With gracefulMs above 0, each one whose shutdown event exists (server_stop.h) is asked to
    // stop through it, and these (with their own "httpd.exe" children) are waited for
    // together, at most BoundedStopMs(gracefulMs); every other one is terminated at once, and
    // whatever still runs when the time is up is terminated then. With 0 all are terminated
    // at once. Writes one server-stop line per process; returns how many have ended (for the
    // supervision log; the callers need no result).
    static int TerminateHttpd(uint32_t gracefulMs = 0);

    // The last process launched through this object (0: none) and its id. A new launch closes
    // the handle it replaces.
    nb::ProcessRef Process() const { return m_hProcess.Get(); }
    uint32_t ProcessId() const { return m_dwProcessId; }
    // Closes that handle, as before the first launch.
    void ForgetProcess() { m_hProcess.Reset(); }

protected:
    nb::ScopedProcess m_hProcess;
    uint32_t m_dwProcessId = 0;
};

// Folder of a module path with its drive, trailing backslash kept: C:\nimbara\bin\x.exe gives
// C:\nimbara\bin\. (Without the drive it would name that folder on the current drive,
// which is another one when the program was started from a shortcut on another drive.)
std::wstring LaunchFolderOf(const std::wstring& modulePath);
// The folder every launch runs in: this executable's (empty when it cannot be asked).
std::wstring LaunchFolder();

}  // namespace nb
