// The supervisor when Windows logs off or shuts down: everything stops before the system
// ends the process, and nothing is restarted meanwhile.
#include "supervisor/main_dlg.h"

#include <algorithm>

#include "base/supervision_log.h"

namespace {
// Windows gives a program about 5 s after WM_ENDSESSION before it ends it (or asks the user
// to); the servers get at most this much of it, whatever stop_timeout says.
constexpr uint32_t kSessionEndStopMs = 3000;
}  // namespace

void CMainDlg::OnEndSession(bool ending) {
    m_sessionEnding = ending;
    if (!ending || m_shutDown) return;
    m_shutDown = true;
    nb::IPlatform& os = nb::Os();
    // The timers first: a tick that came now would start the server again.
    os.StopTimer(m_hWnd, m_timers[0].id);
    os.StopTimer(m_hWnd, m_timers[1].id);
    m_health.Stop();  // a check that fails now would restart the server too
    int ended = m_apache.TerminateHttpd(std::min(m_apache.StopTimeout(), kSessionEndStopMs));
    os.NotifyIcon(NIM_DELETE, m_nid);
    m_exitReason = L"session-end";
    slog::Write("exit", {{"reason", m_exitReason}, {"servers_ended", ended}});
    // Where the system lets the process live on, it ends as after Exit (Shutdown then does
    // nothing more).
    nb::WindowId owner = os.OwnerOf(m_hWnd);
    if (owner != 0) os.EndModal(owner, IDOK);
}

std::intptr_t CMainDlg::OnQueryEndSessionMsg(std::uintptr_t wp, std::intptr_t lp) {
    m_sessionEnding = true;  // the answer stays the system's default: the session may end
    return Default(WM_QUERYENDSESSION, wp, lp);
}

std::intptr_t CMainDlg::OnEndSessionMsg(std::uintptr_t wp, std::intptr_t lp) {
    OnEndSession(wp != 0);
    return Default(WM_ENDSESSION, wp, lp);
}
