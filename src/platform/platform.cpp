// The platform in use (installed once by the entry point, or per test case by the tests).
#include "platform/platform.h"

namespace nb {
namespace {
Platform g_platform;
}

void SetPlatform(const Platform& platform) { g_platform = platform; }

IFiles& Files() { return *g_platform.files; }
IProcesses& Processes() { return *g_platform.processes; }
ISockets& Sockets() { return *g_platform.sockets; }
IWindows& Windows() { return *g_platform.windows; }
IDialogs& Dialogs() { return *g_platform.dialogs; }
IShell& Shell() { return *g_platform.shell; }

}  // namespace nb
