// Stopping the server processes: a graceful stop where the server offers one, bounded, then
// the hard end.
#pragma once

#include <cstdint>
#include <string>

// Apache on Windows waits on the named event ap<PID>_shutdown of its parent process: set, it
// lets its child finish the requests it is serving and exits.
std::wstring ShutdownEventName(uint32_t pid);

// Ends every process whose executable is named exactly "httpd.exe". With gracefulMs above
// 0, each one whose shutdown event exists is asked to stop through it, and these (with their
// own "httpd.exe" children) are waited for together, at most gracefulMs; every other one is
// terminated at once, and whatever still runs when the time is up is terminated then. With
// 0 all are terminated at once. Writes one server-stop line per process; returns how many
// have ended.
int StopServers(uint32_t gracefulMs);

// Whether any process named exactly "httpd.exe" runs; true when the process list cannot be
// read, so that a caller that must not run beside a server holds back.
bool AnyServerRunning();

// The same stop for the servers whose executable is exactly serverExe (full path, case
// ignored), which a supervisor of this home ended from outside has left running; each is
// logged as server-orphan. Servers of other folders are not touched.
int StopOrphanServers(const std::wstring& serverExe, uint32_t gracefulMs);

// The longest graceful wait used, whatever the settings say (Apache itself gives its child
// 30 s).
constexpr uint32_t kMaxStopTimeoutMs = 60000;
