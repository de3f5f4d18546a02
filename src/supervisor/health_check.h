// The health check: whether the server answers HTTP, not only whether its process runs. Off
// unless health_interval is set; then every health_interval one GET /index.php to 127.0.0.1
// and the server's port, begun without waiting: the socket's events arrive as window
// messages and a timer ends a check that takes longer than health_timeout, so the GUI
// thread never blocks on it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sockets.h"

namespace nb {

// Whether an answer begins with an HTTP status line ("HTTP/1.x NNN"), whatever its code:
// an error page means the server answers.
bool StartsWithStatusLine(const std::string& answer);

class CHealthCheck {
public:
    enum class Outcome { Pending, Healthy, Failed };

    // interval 0 leaves the check off: nothing here then makes a single call. A timeout below
    // kMinTimeoutMs is read as that.
    void Configure(uint32_t interval, uint32_t timeout, uint32_t failuresAllowed,
                   uint32_t startPeriod);
    static constexpr uint32_t kMinTimeoutMs = 100;
    bool On() const { return m_interval != 0; }
    // Starts the interval timer (when on).
    void Begin(nb::WindowId hwnd);
    // One check of the server (pid, port, launched at launchMs), unless the last one still
    // waits.
    Outcome Start(uint32_t pid, uint32_t port, uint64_t launchMs);
    // A socket event (WM_HEALTH_SOCKET), and the timeout's tick.
    Outcome OnSocket(std::uintptr_t wp, std::intptr_t lp);
    Outcome OnTimeout();
    // A restart: the waiting check, if any, is dropped and the failures are forgotten.
    void Reset();
    // After a restart: the new server's first check comes a whole interval after its launch,
    // not at a tick that fell due while the restart slept.
    void Rearm();
    // The window goes: both timers, and the waiting check.
    void Stop();
    // Enough failures in a row for a restart.
    bool Hung() const { return m_failures >= (m_failuresAllowed == 0 ? 1 : m_failuresAllowed); }

    // The settings as Configure took them; the failures in a row and the last one's kind.
    uint32_t Interval() const { return m_interval; }
    uint32_t Timeout() const { return m_timeout; }
    uint32_t FailuresAllowed() const { return m_failuresAllowed; }
    uint32_t StartPeriod() const { return m_startPeriod; }
    uint32_t Failures() const { return m_failures; }
    const wchar_t* LastFailure() const { return m_lastFailure; }

private:
    uint32_t m_interval = 0;
    uint32_t m_timeout = 0;
    uint32_t m_failuresAllowed = 0;
    uint32_t m_startPeriod = 0;
    uint32_t m_failures = 0;             // unhealthy checks in a row
    const wchar_t* m_lastFailure = L"";  // refused, timeout or no-status

    Outcome Finish(const wchar_t* failure);  // nullptr: healthy
    void Drop();

    nb::WindowId m_hWnd = 0;
    nb::ScopedSocketRef m_socket;
    std::string m_answer;
    uint64_t m_startedMs = 0;
    uint32_t m_pid = 0;
    uint32_t m_port = 0;
    bool m_healthySaid = false;  // the log says the server answers, since the last change
    uint64_t m_launchMs = 0;
    bool m_answered = false;  // this server has answered once: its start period is over
};

}  // namespace nb
