// The supervisor when Windows logs off or shuts down: everything stops before the system
// ends the process, and nothing is restarted meanwhile.
#include "supervisor/main_dlg.h"

#include "base/supervision_log.h"
#include "platform/dialogs.h"
#include "platform/windowing.h"

namespace nb {

namespace {
// Windows gives a program about 5 s after WM_ENDSESSION before it ends it (or asks the user
// to); the servers get at most this much of it, whatever stop_timeout says.
constexpr uint32_t kSessionEndStopMs = 3000;
}  // namespace

std::intptr_t CMainDlg::OnQueryEndSession(std::uintptr_t wp, std::intptr_t lp) {
    m_sessionEnding = true;  // the answer stays the system's default: the session may end
    return Default(WM_QUERYENDSESSION, wp, lp);
}

std::intptr_t CMainDlg::OnEndSession(std::uintptr_t ending, std::intptr_t lp) {
    m_sessionEnding = ending != 0;
    if (ending != 0 && !m_shutDown) {
        m_exitReason = L"session-end";
        Shutdown(StopOrder::TimersFirst, kSessionEndStopMs);
        // Where the system lets the process live on, it ends as after Exit (Shutdown then does
        // nothing more).
        nb::WindowId owner = nb::Windows().OwnerOf(m_hWnd);
        if (owner != 0) nb::Dialogs().EndModal(owner, IDOK);
    }
    return Default(WM_ENDSESSION, ending, lp);
}

}  // namespace nb
