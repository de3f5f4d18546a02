// Stopping the server processes: a graceful stop where the server offers one, bounded, then
// the hard end.
#pragma once

#include <cstdint>
#include <string>

namespace nb {

// Apache on Windows waits on the named event ap<PID>_shutdown of its parent process: set, it
// lets its child finish the requests it is serving and exits.
std::wstring ShutdownEventName(uint32_t pid);

// Whether any process named exactly "httpd.exe" runs; true when the process list cannot be
// read, so that a caller that must not run beside a server holds back.
bool AnyServerRunning();

// The stop of CProcessControl::TerminateHttpd for the servers whose executable is exactly
// serverExe (full path, case ignored), which a supervisor of this home ended from outside has
// left running; each is logged as server-orphan. Servers of other folders are not touched.
int StopOrphanServers(const std::wstring& serverExe, uint32_t gracefulMs);

// The longest graceful wait used, whatever the settings say (Apache itself gives its child
// 30 s): a graceful stop asked for ms waits BoundedStopMs(ms).
constexpr uint32_t kMaxStopTimeoutMs = 60000;
constexpr uint32_t BoundedStopMs(uint32_t ms) {
    return ms < kMaxStopTimeoutMs ? ms : kMaxStopTimeoutMs;
}

}  // namespace nb
