// Process launching and server termination.
#include "server/process_control.h"

#include "base/layout.h"
#include "base/settings.h"

std::wstring LaunchFolderOf(const std::wstring& modulePath) {
    PathParts parts = SplitPath(modulePath);
    return parts.drive + parts.dir;
}

int CProcessControl::Execute(std::wstring cmdLine) {
    nb::IPlatform& os = nb::Os();
    std::wstring module;
    std::wstring folder;
    if (os.ModulePath(module, 260)) folder = LaunchFolderOf(module);

    nb::ProcessRef process = 0;
    uint32_t pid = 0;
    if (!os.CreateHiddenProcess(cmdLine, folder, &process, &pid)) return 0;
    m_hProcess.Reset(process);
    m_dwProcessId = pid;
    return 1;
}

int CProcessControl::TerminateHttpd() {
    std::vector<nb::ProcessEntry> processes;
    if (!nb::Os().SnapshotProcesses(processes)) return 0;
    int ended = 0;
    for (const nb::ProcessEntry& p : processes) {
        if (p.exeName == layout::kServerExe) ended += nb::Os().TerminateProcessById(p.pid, 0);
    }
    return ended;
}
