// Launching a command line with a hidden window, and ending every server process.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

class CProcessControl {
public:
    CProcessControl() = default;

    // Starts the command line hidden, with the drive-less folder of this executable as
    // current directory; does not wait. 1 when the process was created. On failure the
    // fields keep what they held.
    int Execute(std::wstring cmdLine);

    // Ends every process whose executable is named exactly "httpd.exe", whoever started it.
    void TerminateHttpd();

    // The last process launched through this object. A new launch closes the handle it
    // replaces.
    nb::ScopedProcess m_hProcess;
    uint32_t m_dwProcessId = 0;
};

// Drive-less folder of a module path, trailing backslash kept: C:\nimbara\bin\x.exe gives
// \nimbara\bin\.
std::wstring DrivelessFolderOf(const std::wstring& modulePath);
