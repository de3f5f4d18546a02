// Supervisor window: construction, start sequence, monitoring, tray icon, browser.
#include "supervisor/main_dlg.h"

#include "base/exit_codes.h"
#include "base/layout.h"
#include "base/settings.h"
#include "base/supervision_log.h"
#include "platform/processes.h"
#include "platform/shell.h"
#include "platform/sockets.h"
#include "platform/windowing.h"
#include "resources/resource.h"
#include "maintenance/maintenance.h"
#include "server/php_ini.h"
// NB_VERSION_TEXT and NB_BUILD_ID, written by the build.
#include "nbmonitor_version.h"

namespace nb {

namespace {
constexpr uint32_t kRestartPause = 2000;
constexpr int kReadinessAttempts = 5;
constexpr int kBrowserChecks = 6;

std::wstring Ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// server-exited, with the code's hex form and, for the codes the table knows, its meaning.
void LogServerExited(uint32_t pid, bool known, uint32_t code, uint64_t ranMs) {
    std::vector<slog::Field> fields{{"pid", pid}};
    if (!known) {
        fields.emplace_back("code", L"unknown");
    } else {
        fields.emplace_back("code", code);
        fields.emplace_back("code_hex", Ascii(exit_codes::Hex(code)));
        if (const char* meaning = exit_codes::MeaningOf(code))
            fields.emplace_back("meaning", Ascii(meaning));
    }
    fields.emplace_back("ran_ms", ranMs);
    slog::Write("server-exited", fields);
}
}  // namespace

std::wstring CrashLoopBalloonText(const std::wstring& home, const std::wstring& said) {
    const std::wstring text = supervisor_text::kCrashLoop;
    // The log's path without the doubled separator the file functions accept: a text to read.
    if (said.empty()) return text + home + (layout::kLogFile + 1);
    // The server's own words replace the second line, cut to what the balloon holds.
    const std::wstring first = text.substr(0, text.find(L'\n') + 1);
    const std::size_t room = kBalloonChars - first.size();
    return first + (said.size() <= room ? said : said.substr(0, room - 1) + L"\u2026");
}

CMainDlg::CMainDlg(const CWinApp& app)
    : CDialog(IDD_MAINDLG),
      m_app(app),
      m_timers{{TIMER_MONITOR, 0}, {TIMER_BACKUP, 0}},
      m_apache(app) {
    m_debug = static_cast<int>(settings::ReadInt(m_app, settings::kMonitorDebug));
    GetHomeDir(m_home);
    m_timers[0].interval = settings::ReadInt(m_app, settings::kMonitorInterval);
    m_timers[1].interval = settings::ReadInt(m_app, settings::kBackupInterval);
    m_health.Configure(settings::ReadInt(m_app, settings::kHealthInterval),
                       settings::ReadInt(m_app, settings::kHealthTimeout),
                       settings::ReadInt(m_app, settings::kHealthFailures),
                       settings::ReadInt(m_app, settings::kHealthStartPeriod));
    m_crashBalloon = static_cast<int>(settings::ReadInt(m_app, settings::kCrashBalloon));
    slog::Open(m_home);
    LogStart();
    if (settings::HasUtf8Mark(m_app)) slog::Write("settings-bom", {{"file", m_app.SettingsPath()}});
    m_apache.SetPath(m_home);
    m_apache.CreateConf();
    CreatePhpIni(m_home);
}

CMainDlg::~CMainDlg() = default;

int CMainDlg::GetHomeDir(std::wstring& home) {
    std::wstring module;
    if (!nb::Processes().ModulePath(module, layout::kHomeChars)) return 0;
    home = HomeFromModulePath(module);
    if (m_debug != 0) nb::Windows().MsgBox(0, home, L"CMainDlg::GetHomeDir", MB_OK);
    return 1;
}

int CMainDlg::CreatePhpIni(const std::wstring& home) { return RegeneratePhpIni(home) ? 1 : 0; }

void CMainDlg::LogStart() {
    // The two pauses and stop_timeout are read again at every use; these are their values now.
    slog::Write("start", {{"version", L"" NB_VERSION_TEXT},
                          {"build", L"" NB_BUILD_ID},
                          {"home", m_home},
                          {"settings", m_app.SettingsPath()},
                          {"httpd.default_port", m_apache.Port()},
                          {"httpd.default_address", m_apache.Address()},
                          {"httpd.debug", m_apache.Debug()},
                          {"httpd.restart_wait", settings::ReadInt(m_app, settings::kRestartWait)},
                          {"httpd.stop_timeout", m_apache.StopTimeout()},
                          {"httpd.error_log", m_apache.Said().Setting()},
                          {"httpd.config_test", m_apache.Said().ConfigTest() ? 1 : 0},
                          {"nbmonitor.monitor_interval", m_timers[0].interval},
                          {"nbmonitor.backup_interval", m_timers[1].interval},
                          {"nbmonitor.debug", m_debug},
                          {"nbmonitor.wait_time", WaitTime()},
                          {"nbmonitor.health_interval", m_health.Interval()},
                          {"nbmonitor.health_timeout", m_health.Timeout()},
                          {"nbmonitor.health_failures", m_health.FailuresAllowed()},
                          {"nbmonitor.health_start_period", m_health.StartPeriod()},
                          {"nbmonitor.crash_balloon", m_crashBalloon}});
}

uint32_t CMainDlg::WaitTime() const { return settings::ReadInt(m_app, settings::kWaitTime); }

void CMainDlg::Pause() { nb::Processes().SleepMs(WaitTime()); }

bool CMainDlg::ServerRunning(uint32_t* exitCode, bool* known) const {
    nb::ProcessRef h = m_apache.Process();
    uint32_t code = 0;
    bool queried = h != 0 && nb::Processes().QueryExitCode(h, &code);
    if (exitCode != nullptr) *exitCode = code;
    if (known != nullptr) *known = queried;
    return queried && code == STILL_ACTIVE;
}

bool CMainDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetTrayIcon(NIM_ADD, IDI_STOPPED);
    nb::Windows().MakeTopmost(m_hWnd);

    // A server of this home left running by a supervisor that was ended from outside holds
    // the port and the application's data: it goes before the port is probed.
    m_apache.StopOrphans();
    if (!m_apache.Start()) {
        m_exitReason = L"start-failed";
        Shutdown();  // Start has told the user already
        nb::Processes().EndProcess(kStartFailedExitCode);
        return false;
    }
    if (!WaitForServer()) {
        slog::Write("server-failed", {{"reason", supervisor_text::kNotReady},
                                      {"port", m_apache.Port()},
                                      {"attempts", kReadinessAttempts}});
        m_apache.ExplainFailure(nb::Processes().MonotonicMs() - m_apache.LaunchMs());
        m_exitReason = L"not-ready";
        Shutdown();
        nb::Windows().MsgBox(m_hWnd, supervisor_text::kNotReady, names::kProduct,
                             MB_OK | MB_ICONWARNING);
        nb::Processes().EndProcess(kStartFailedExitCode);
        return false;
    }
    Pause();
    OpenBrowser();
    Pause();
    OnBackup(0);
    for (TimerEntry& t : m_timers) t.id = nb::Windows().StartTimer(m_hWnd, t.id, t.interval);
    m_health.Begin(m_hWnd);
    return true;
}

bool CMainDlg::WaitForServer() {
    uint16_t granted = 0;
    nb::Sockets().SocketsStartup(SOCKETS_VERSION_2_0, &granted);
    // A fresh socket per attempt: a socket whose connect failed may not be reused.
    int attemptsLeft = kReadinessAttempts;
    for (;;) {
        if (nb::Sockets().TryConnect("127.0.0.1", static_cast<uint16_t>(m_apache.Port()))) break;
        Pause();
        if (--attemptsLeft == 0) break;
    }
    if (attemptsLeft > 0)
        slog::Write("server-ready", {{"port", m_apache.Port()},
                                     {"ms", nb::Processes().MonotonicMs() - m_apache.LaunchMs()},
                                     {"attempts", kReadinessAttempts - attemptsLeft + 1}});
    return attemptsLeft > 0;
}

std::wstring CMainDlg::StartUrl() const {
    return L"http://localhost:" + std::to_wstring(m_apache.Port()) + layout::kStartPage;
}

bool CMainDlg::OpenBrowser() {
    for (int check = 0; check < kBrowserChecks; ++check) {
        if (ServerRunning()) {
            std::wstring url = StartUrl();
            nb::Shell().OpenUrl(url);
            slog::Write("browser", {{"url", url}});
            if (m_debug != 0) nb::Windows().MsgBox(m_hWnd, url, L"url", MB_OK);
            return true;
        }
        Pause();
    }
    slog::Write("browser",
                {{"opened", 0}, {"reason", L"server-not-running"}, {"checks", kBrowserChecks}});
    return false;
}

void CMainDlg::Shutdown(StopOrder order, uint32_t atMostMs) {
    if (m_shutDown) return;
    m_shutDown = true;
    if (order == StopOrder::IconFirst)
        RemoveTrayIcon();
    else
        StopTimers();
    int ended = m_apache.StopServers(atMostMs);
    if (order == StopOrder::IconFirst)
        StopTimers();
    else
        RemoveTrayIcon();
    slog::Write("exit", {{"reason", m_exitReason}, {"servers_ended", ended}});
}

void CMainDlg::StopTimers() {
    nb::Windows().StopTimer(m_hWnd, m_timers[0].id);
    nb::Windows().StopTimer(m_hWnd, m_timers[1].id);
    m_health.Stop();  // a check that failed now would restart the server
}

void CMainDlg::RemoveTrayIcon() {
    nb::Windows().NotifyIcon(NIM_DELETE, m_nid);
    if (m_trayMissing) nb::Windows().StopTimer(m_hWnd, TIMER_TRAY_RETRY);
}

std::intptr_t CMainDlg::OnTimer(std::uintptr_t id, std::intptr_t lp) {
    if (id == m_timers[0].id)
        OnMonitorTick();
    else if (id == m_timers[1].id)
        OnBackup(0);
    else if (id == TIMER_HEALTH)
        OnHealthTick();
    else if (id == TIMER_HEALTH_TIMEOUT)
        OnHealthOutcome(m_health.OnTimeout());
    else if (id == TIMER_TRAY_RETRY)
        RetryTrayIcon();
    return Default(WM_TIMER, id, lp);
}

void CMainDlg::OnMonitorTick() {
    // A restart's failure box runs a nested loop in which ticks keep coming; a tick then must
    // not start a second restart inside the first.
    // Between WM_QUERYENDSESSION and WM_ENDSESSION Windows may end the server itself.
    if (m_restarting || m_shutDown || m_sessionEnding) return;
    uint32_t code = 0;
    bool known = false;
    const uint64_t ranMs = nb::Processes().MonotonicMs() - m_apache.LaunchMs();
    if (ServerRunning(&code, &known)) {
        SetTrayIcon(NIM_MODIFY, IDI_RUNNING);
        if (m_crashLoop.Running(ranMs)) slog::Write("crash-loop-over", {{"ran_ms", ranMs}});
        if (ranMs >= kConfigTestWithinMs) m_apache.Said().Settled();
        return;
    }
    // After a restart that launched nothing the handle is still the dead server's: its end was
    // told and counted at the first tick.
    if (!m_endNoted) {
        m_endNoted = true;
        LogServerExited(m_apache.ProcessId(), known, code, ranMs);
        m_lastSaid = m_apache.ExplainFailure(ranMs);
        if (m_crashLoop.Failed(ranMs)) {
            const char* meaning = known ? exit_codes::MeaningOf(code) : nullptr;
            NoteFailure(known ? Ascii(exit_codes::Hex(code)) : L"unknown",
                        meaning ? Ascii(meaning) : L"");
        }
    }
    RestartServer();
}

void CMainDlg::NoteFailure(const std::wstring& code, const std::wstring& meaning) {
    std::vector<slog::Field> fields{{"count", m_crashLoop.QuickFailures()}, {"code", code}};
    if (!meaning.empty()) fields.emplace_back("meaning", meaning);
    slog::Write("crash-loop", fields);
    if (m_crashBalloon == 0) return;
    // A record of its own: m_nid stays as the icon's last fill, for NIM_DELETE.
    nb::NotifyIconRecord balloon = m_nid;
    balloon.uFlags = NIF_INFO;
    balloon.info = CrashLoopBalloonText(m_home, m_lastSaid);
    balloon.infoTitle = names::kProduct;
    balloon.infoFlags = NIIF_WARNING;
    nb::Windows().NotifyIcon(NIM_MODIFY, balloon);
}

void CMainDlg::OnHealthTick() {
    // A dead server is the monitor tick's to restart; a restart's own box may be up.
    if (!m_health.On() || m_restarting || m_shutDown || m_sessionEnding || !ServerRunning()) return;
    OnHealthOutcome(m_health.Start(m_apache.ProcessId(), m_apache.Port(), m_apache.LaunchMs()));
}

void CMainDlg::OnHealthOutcome(CHealthCheck::Outcome outcome) {
    if (outcome != CHealthCheck::Outcome::Failed || !m_health.Hung() || m_shutDown ||
        m_sessionEnding)
        return;
    const uint64_t ranMs = nb::Processes().MonotonicMs() - m_apache.LaunchMs();
    slog::Write("server-hung", {{"pid", m_apache.ProcessId()},
                                {"port", m_apache.Port()},
                                {"failures", m_health.Failures()},
                                {"last", m_health.LastFailure()},
                                {"ran_ms", ranMs}});
    m_endNoted = true;
    m_lastSaid.clear();  // a hung server's log is not read: it has not ended
    if (m_crashLoop.Failed(ranMs)) NoteFailure(L"hung", L"no answer to the health check");
    RestartServer();
}

std::intptr_t CMainDlg::OnHealthSocket(std::uintptr_t wp, std::intptr_t lp) {
    OnHealthOutcome(m_health.OnSocket(wp, lp));
    return 0;
}

void CMainDlg::RestartServer() {
    // Messages sent to the window are handled inside Shell_NotifyIconW and the failure box:
    // the session may end, or begin to, in the middle of a restart.
    SetTrayIcon(NIM_MODIFY, IDI_STOPPED);
    if (m_shutDown || m_sessionEnding) return;
    nb::Processes().SleepMs(kRestartPause);
    m_restarting = true;
    m_health.Reset();
    if (m_apache.Restart([this] { return !m_shutDown && !m_sessionEnding; })) m_endNoted = false;
    if (!m_shutDown) m_health.Rearm();
    m_restarting = false;
}

void CMainDlg::OnShow() { nb::Windows().ShowWin(m_hWnd, SW_SHOW); }

void CMainDlg::OnBackup(int notify) { RunBackup(m_home, m_hWnd, notify, m_debug != 0); }

void CMainDlg::OnRestore() { RunRestoreDialog(m_home); }

void CMainDlg::OnInitialize() { RunInitialize(m_home, m_hWnd, m_debug != 0); }

bool CMainDlg::OnMessage(uint32_t msg, std::uintptr_t wp, std::intptr_t lp, std::intptr_t* result) {
    using R = MessageRows<CMainDlg>;
    static const MessageEntry<CMainDlg> table[] = {
        R::Message<&CMainDlg::OnCreate>(WM_CREATE),
        R::Message<&CMainDlg::OnDestroy>(WM_DESTROY),
        R::Message<&CMainDlg::OnTimer>(WM_TIMER),
        R::Message<&CMainDlg::OnTrayCallback>(WM_TRAY_CALLBACK),
        R::Message<&CMainDlg::OnNull>(WM_NULL),
        R::Message<&CMainDlg::OnHealthSocket>(WM_HEALTH_SOCKET),
        R::Message<&CMainDlg::OnQueryEndSession>(WM_QUERYENDSESSION),
        R::Message<&CMainDlg::OnEndSession>(WM_ENDSESSION),
        R::Registered<&CMainDlg::OnTaskbarCreated>(&CMainDlg::m_taskbarCreated),
        R::Command<&CMainDlg::OnShow>(ID_SHOW),
        R::Command<&CMainDlg::OnBackup, 1>(ID_BACKUP),
        R::Command<&CMainDlg::OnRestore>(ID_RESTORE),
        R::Command<&CMainDlg::OnInitialize>(ID_INITIALIZE),
        R::Command<&CMainDlg::NoteExitCommand>(ID_TRAY_EXIT),
    };
    return DispatchTable(this, table, msg, wp, lp, result);
}

std::intptr_t CMainDlg::OnCreate(std::uintptr_t wp, std::intptr_t lp) {
    m_taskbarCreated = nb::Windows().RegisterMessage(names::kTaskbarCreated);
    // An elevated program gets it from the (unelevated) taskbar only when let through.
    if (m_taskbarCreated != 0) nb::Windows().AllowMessageFromBelow(m_hWnd, m_taskbarCreated);
    return Default(WM_CREATE, wp, lp);
}

std::intptr_t CMainDlg::OnTrayCallback(std::uintptr_t wp, std::intptr_t lp) {
    if (lp == WM_LBUTTONDBLCLK) {
        OpenBrowser();
    } else if (lp == WM_RBUTTONDOWN) {
        // The chosen item's command is posted before the WM_NULL below: until that comes, a
        // command is the menu's (for the log's exit reason).
        m_menuCommandPending = true;
        nb::Windows().TrackTrayMenu(IDR_TRAYMENU, m_hWnd);
        nb::Windows().PostMsg(m_hWnd, WM_NULL, 0, 0);
    }
    return Default(WM_TRAY_CALLBACK, wp, lp);
}

std::intptr_t CMainDlg::OnNull(std::uintptr_t wp, std::intptr_t lp) {
    m_menuCommandPending = false;
    return Default(WM_NULL, wp, lp);
}

bool CMainDlg::NoteExitCommand() {
    m_exitReason = m_menuCommandPending ? L"menu" : L"command";
    return false;
}

std::intptr_t CMainDlg::OnTaskbarCreated(std::uintptr_t wp, std::intptr_t lp) {
    SetTrayIcon(NIM_ADD, IDI_STOPPED);
    return Default(m_taskbarCreated, wp, lp);
}

std::intptr_t CMainDlg::OnDestroy(std::uintptr_t wp, std::intptr_t lp) {
    std::intptr_t r = Default(WM_DESTROY, wp, lp);
    Shutdown();
    return r;
}

}  // namespace nb
