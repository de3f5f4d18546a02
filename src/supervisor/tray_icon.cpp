// The tray icon: its record, and the taskbar that refuses it. At logon the taskbar may not be
// ready when the program starts, and Shell_NotifyIcon then fails; every later update of an
// icon that was never added fails too. So a refused add is tried again every 2 s for up to
// 2 minutes (later only on TaskbarCreated), and a refused modify adds the icon again.
#include "supervisor/main_dlg.h"

#include "base/supervision_log.h"
#include "platform/windowing.h"
#include "resources/resource.h"

namespace nb {

namespace {
constexpr uint32_t kTrayRetryMs = 2000;
constexpr int kTrayRetries = 60;  // 2 minutes
}  // namespace

void CMainDlg::SetTrayIcon(uint32_t operation, int iconId) {
    m_nid.cbSize = kNotifyIconDataV3Size;
    m_nid.hWnd = m_hWnd;
    m_nid.uID = 0;
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_nid.uCallbackMessage = WM_TRAY_CALLBACK;
    m_nid.iconId = iconId;
    m_nid.tip = supervisor_text::kTip;
    if (nb::Windows().NotifyIcon(operation, m_nid)) {
        if (operation == NIM_ADD) NoteTrayShown();
        return;
    }
    if (operation == NIM_DELETE) return;
    NoteTrayMissing(operation == NIM_ADD ? L"add" : L"modify");
    if (operation == NIM_MODIFY && nb::Windows().NotifyIcon(NIM_ADD, m_nid)) NoteTrayShown();
}

void CMainDlg::NoteTrayMissing(const wchar_t* operation) {
    if (m_trayMissing) return;
    m_trayMissing = true;
    m_trayRetries = 0;
    slog::Write("tray-failed", {{"op", operation}});
    nb::Windows().StartTimer(m_hWnd, TIMER_TRAY_RETRY, kTrayRetryMs);
}

void CMainDlg::NoteTrayShown() {
    if (!m_trayMissing) return;
    m_trayMissing = false;
    nb::Windows().StopTimer(m_hWnd, TIMER_TRAY_RETRY);
    slog::Write("tray-added", {{"retries", m_trayRetries}});
}

void CMainDlg::RetryTrayIcon() {
    if (!m_trayMissing || m_shutDown) return;
    ++m_trayRetries;
    if (nb::Windows().NotifyIcon(NIM_ADD, m_nid)) {
        NoteTrayShown();
    } else if (m_trayRetries >= kTrayRetries) {
        // From here on only TaskbarCreated (a taskbar that starts at last) adds it.
        nb::Windows().StopTimer(m_hWnd, TIMER_TRAY_RETRY);
    }
}

}  // namespace nb
