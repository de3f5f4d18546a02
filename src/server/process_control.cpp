// Process launching (the server's termination: server_stop.cpp).
#include "server/process_control.h"

#include "base/layout.h"
#include "base/settings.h"
#include "platform/file_paths.h"
#include "platform/processes.h"

namespace nb {

std::wstring LaunchFolderOf(const std::wstring& modulePath) {
    nb::PathParts parts = nb::SplitPath(modulePath);
    return parts.drive + parts.dir;
}

std::wstring LaunchFolder() {
    std::wstring module;
    return nb::Processes().ModulePath(module, nb::kMaxPathChars) ? LaunchFolderOf(module)
                                                                 : std::wstring();
}

int CProcessControl::Execute(std::wstring cmdLine) {
    const std::wstring folder = LaunchFolder();

    nb::ProcessRef process = 0;
    uint32_t pid = 0;
    if (!nb::Processes().CreateHiddenProcess(cmdLine, folder, &process, &pid)) return 0;
    m_hProcess.Reset(process);
    m_dwProcessId = pid;
    return 1;
}

}  // namespace nb
