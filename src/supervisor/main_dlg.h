// The supervisor window: start sequence, monitor and backup timers, tray icon, browser
// launch, and the window commands that arrive from outside.
#pragma once

#include <cstdint>
#include <string>

#include "base/framework.h"
#include "platform/windowing.h"
#include "server/apache_control.h"
#include "supervisor/crash_loop.h"
#include "supervisor/health_check.h"

namespace nb {

// The process's exit code when the start fails (-1).
constexpr uint32_t kStartFailedExitCode = 0xFFFFFFFF;
// The characters a balloon's text holds (its terminator not counted).
constexpr std::size_t kBalloonChars = 255;

// The crash loop's balloon text: its first line, then what the server said when it said
// something, else the supervision log's path.
std::wstring CrashLoopBalloonText(const std::wstring& home, const std::wstring& said);

// What Shutdown stops first. The icon: the user sees at once that the program goes. The
// timers and the health check: at the session's end, a tick that came while the servers stop
// would start them again.
enum class StopOrder { IconFirst, TimersFirst };

class CMainDlg : public CDialog {
public:
    // app: the application object, whose settings file every settings read uses.
    explicit CMainDlg(const CWinApp& app);
    ~CMainDlg() override;

    int GetHomeDir(std::wstring& home);
    int CreatePhpIni(const std::wstring& home);
    bool OpenBrowser();
    bool WaitForServer();
    void SetTrayIcon(uint32_t operation, int iconId);
    // Stops everything, once: the icon, the timers and the health check (StopOrder says which
    // go first), and the servers, with a graceful stop of stop_timeout or of atMostMs when that
    // is shorter; then the exit line with m_exitReason.
    void Shutdown(StopOrder order = StopOrder::IconFirst, uint32_t atMostMs = UINT32_MAX);
    // The data maintenance commands (maintenance.h), for this home and window.
    void OnBackup(int notify);
    void OnRestore();
    void OnInitialize();
    void OnShow();

    std::wstring StartUrl() const;

    struct TimerEntry {
        std::uintptr_t id;
        uint32_t interval;
    };

    // The monitor (0) and backup (1) timers; the controller; the icon's record; the value of
    // the registered message TaskbarCreated; the home directory; the "nbmonitor" "debug"
    // setting (boxes that show values).
    const TimerEntry& Timer(int i) const { return m_timers[i]; }
    CApacheControl& Apache() { return m_apache; }
    const nb::NotifyIconRecord& IconRecord() const { return m_nid; }
    uint32_t TaskbarCreatedMessage() const { return m_taskbarCreated; }
    const std::wstring& Home() const { return m_home; }
    int Debug() const { return m_debug; }
    void SetDebug(int debug) { m_debug = debug; }
    CHealthCheck& Health() { return m_health; }

protected:
    bool OnInitDialog() override;
    bool OnMessage(uint32_t msg, std::uintptr_t wp, std::intptr_t lp,
                   std::intptr_t* result) override;

private:
    uint32_t WaitTime() const;
    // Whether the server launched last still runs; *exitCode and *known tell its exit code
    // and whether it could be asked at all.
    bool ServerRunning(uint32_t* exitCode = nullptr, bool* known = nullptr) const;
    void Pause();
    void LogStart();
    // The dead server's restart of a monitor tick: red icon, the fixed pause, Restart.
    void RestartServer();
    // A server died (code and meaning as logged) or was found hung: a crash loop's notice.
    void NoteFailure(const std::wstring& code, const std::wstring& meaning);
    void OnHealthTick();
    // The taskbar refused the icon: noted once, then tried again on a timer of its own.
    void NoteTrayMissing(const wchar_t* operation);
    void NoteTrayShown();
    void RetryTrayIcon();
    void OnHealthOutcome(CHealthCheck::Outcome outcome);
    void OnMonitorTick();
    void StopTimers();
    void RemoveTrayIcon();

    // The rows of the message table.
    std::intptr_t OnCreate(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnTrayCallback(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnNull(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnTaskbarCreated(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnDestroy(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnTimer(std::uintptr_t id, std::intptr_t lp);
    std::intptr_t OnHealthSocket(std::uintptr_t wp, std::intptr_t lp);
    // Windows asks whether the session may end / says that it ends (wp true) or that a log-off
    // was cancelled (wp false).
    std::intptr_t OnQueryEndSession(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnEndSession(std::uintptr_t ending, std::intptr_t lp);
    // Exit, which the host handles: only its reason is noted here.
    bool NoteExitCommand();

    const CWinApp& m_app;
    TimerEntry m_timers[2];
    CApacheControl m_apache;
    nb::NotifyIconRecord m_nid;
    uint32_t m_taskbarCreated = 0;
    std::wstring m_home;
    int m_debug = 0;
    CHealthCheck m_health;
    CCrashLoop m_crashLoop;
    int m_crashBalloon = 0;
    // What the server said about its last failure (its first line), for the balloon.
    std::wstring m_lastSaid;
    // Set while a restart runs: its failure box runs a nested message loop.
    bool m_restarting = false;
    // For the supervision log: why the window goes, and whether a command now comes from the
    // tray menu that was just tracked.
    const wchar_t* m_exitReason = L"window-destroyed";
    bool m_menuCommandPending = false;
    // Set once Shutdown (or the session's end) has stopped everything: it is not done twice,
    // and no tick restarts anything after it.
    bool m_shutDown = false;
    // From WM_QUERYENDSESSION until a WM_ENDSESSION that cancels it: Windows may end the
    // server meanwhile, and nothing is restarted or checked.
    bool m_sessionEnding = false;
    // The end (or hang) of the server in m_hProcess has been logged and counted; a new launch
    // clears it.
    bool m_endNoted = false;
    // The icon is not in the taskbar (it refused it); the retries made since.
    bool m_trayMissing = false;
    int m_trayRetries = 0;
};

namespace supervisor_text {
constexpr const wchar_t* kNotReady =
    L"正常に動作を開始することができませんでした。\nNimbaraを終了します。";
constexpr const wchar_t* kTip = L"Nimbara";
// The crash loop's balloon; the log's path follows it.
constexpr const wchar_t* kCrashLoop = L"Webサーバーが停止を繰り返しています。\nログ: ";
}  // namespace supervisor_text

}  // namespace nb
