// The health check's requests, answers and timeouts.
#include "supervisor/health_check.h"

#include "base/supervision_log.h"
#include "platform/processes.h"
#include "platform/sockets.h"
#include "platform/windowing.h"
#include "resources/resource.h"

namespace nb {

namespace {
constexpr std::size_t kStatusLineBytes = 12;  // "HTTP/1.1 200"
constexpr std::size_t kAnswerBytes = 64;      // what is read of an answer at most
constexpr const wchar_t* kRefused = L"refused";
constexpr const wchar_t* kTimeout = L"timeout";
constexpr const wchar_t* kNoStatus = L"no-status";

bool Digit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool StartsWithStatusLine(const std::string& a) {
    return a.size() >= kStatusLineBytes && a.compare(0, 7, "HTTP/1.") == 0 && Digit(a[7]) &&
           a[8] == ' ' && Digit(a[9]) && Digit(a[10]) && Digit(a[11]);
}

void CHealthCheck::Configure(uint32_t interval, uint32_t timeout, uint32_t failuresAllowed,
                             uint32_t startPeriod) {
    m_interval = interval;
    m_timeout = timeout < kMinTimeoutMs ? kMinTimeoutMs : timeout;
    m_failuresAllowed = failuresAllowed;
    m_startPeriod = startPeriod;
}

void CHealthCheck::Begin(nb::WindowId hwnd) {
    m_hWnd = hwnd;
    Rearm();
}

CHealthCheck::Outcome CHealthCheck::Start(uint32_t pid, uint32_t port, uint64_t launchMs) {
    if (!On() || m_socket) return Outcome::Pending;
    m_pid = pid;
    m_port = port;
    m_launchMs = launchMs;
    m_answer.clear();
    m_startedMs = nb::Processes().MonotonicMs();
    nb::SocketRef s = 0;
    if (!nb::Sockets().BeginConnect(m_hWnd, WM_HEALTH_SOCKET, "127.0.0.1",
                                    static_cast<uint16_t>(port), &s))
        return Finish(kRefused);
    m_socket.Reset(s);
    nb::Windows().StartTimer(m_hWnd, TIMER_HEALTH_TIMEOUT, m_timeout);
    return Outcome::Pending;
}

CHealthCheck::Outcome CHealthCheck::OnSocket(std::uintptr_t wp, std::intptr_t lp) {
    // Events of a check already ended may still be queued.
    if (!m_socket || wp != m_socket.Get()) return Outcome::Pending;
    const uint32_t event = static_cast<uint32_t>(lp) & 0xFFFF;
    const uint32_t error = (static_cast<uint32_t>(lp) >> 16) & 0xFFFF;
    if (event == FD_CONNECT) {
        if (error != 0) return Finish(kRefused);
        const std::string request = "GET /index.php HTTP/1.0\r\nHost: localhost:" +
                                    std::to_string(m_port) + "\r\n\r\n";
        // A few dozen bytes on a new connection: the send buffer takes them at once.
        if (nb::Sockets().SocketSend(m_socket.Get(), request) != static_cast<int>(request.size()))
            return Finish(kNoStatus);
        return Outcome::Pending;
    }
    if (event != FD_READ && event != FD_CLOSE) return Outcome::Pending;
    bool closed = event == FD_CLOSE;
    while (m_answer.size() < kAnswerBytes) {
        int n = nb::Sockets().SocketReceive(m_socket.Get(), m_answer,
                                            kAnswerBytes - m_answer.size());
        if (n <= 0) {
            closed = closed || n == 0;
            break;
        }
    }
    if (StartsWithStatusLine(m_answer)) return Finish(nullptr);
    if (closed || m_answer.size() >= kStatusLineBytes) return Finish(kNoStatus);
    return Outcome::Pending;
}

CHealthCheck::Outcome CHealthCheck::OnTimeout() {
    if (!m_socket) return Outcome::Pending;  // queued before its check ended
    return Finish(kTimeout);
}

void CHealthCheck::Drop() {
    if (!m_socket) return;
    m_socket.Reset();
    nb::Windows().StopTimer(m_hWnd, TIMER_HEALTH_TIMEOUT);
}

CHealthCheck::Outcome CHealthCheck::Finish(const wchar_t* failure) {
    Drop();
    const uint64_t ms = nb::Processes().MonotonicMs() - m_startedMs;
    if (failure == nullptr) {
        if (!m_healthySaid)
            slog::Write("health-ok", {{"pid", m_pid}, {"port", m_port}, {"ms", ms}});
        m_healthySaid = true;
        m_answered = true;
        m_failures = 0;
        return Outcome::Healthy;
    }
    m_healthySaid = false;
    m_lastFailure = failure;
    // A server still starting (loading its modules, scanned by an antivirus) is not hung yet.
    const bool starting = !m_answered && m_startedMs - m_launchMs < m_startPeriod;
    if (!starting) ++m_failures;
    std::vector<slog::Field> fields{{"pid", m_pid},
                                    {"port", m_port},
                                    {"reason", failure},
                                    {"failures", m_failures},
                                    {"ms", ms}};
    if (starting) fields.emplace_back("starting", 1);
    slog::Write("health-failed", fields);
    return starting ? Outcome::Pending : Outcome::Failed;
}

void CHealthCheck::Reset() {
    Drop();
    m_failures = 0;
    m_healthySaid = false;
    m_answered = false;
}

void CHealthCheck::Rearm() {
    if (On()) nb::Windows().StartTimer(m_hWnd, TIMER_HEALTH, m_interval);
}

void CHealthCheck::Stop() {
    if (!On()) return;
    Drop();
    nb::Windows().StopTimer(m_hWnd, TIMER_HEALTH);
}

}  // namespace nb
