// The supervisor window: start sequence, monitor and backup timers, tray icon, browser
// launch, and the window commands that arrive from outside.
#pragma once

#include <cstdint>
#include <string>

#include "base/framework.h"
#include "server/apache_control.h"

constexpr std::uintptr_t TIMER_MONITOR = 1;
constexpr std::uintptr_t TIMER_BACKUP = 2;

class CMainDlg : public CDialog {
public:
    // app: the application object, whose settings file every settings read uses.
    explicit CMainDlg(const CWinApp& app);
    ~CMainDlg() override;

    std::intptr_t WindowProc(uint32_t msg, std::uintptr_t wp, std::intptr_t lp) override;

    int GetHomeDir(std::wstring& home);
    int CreatePhpIni(const std::wstring& home);
    bool OpenBrowser();
    bool WaitForServer();
    void SetTrayIcon(uint32_t operation, int iconId);
    void Shutdown();
    // Windows logs off or shuts down (ending true) or a log-off was cancelled (false).
    void OnEndSession(bool ending);
    void OnTimer(std::uintptr_t id);
    void OnBackup(int notify);
    void OnRestore();
    void OnInitialize();
    void OnShow();

    std::wstring StartUrl() const;

    struct TimerEntry {
        std::uintptr_t id;
        uint32_t interval;
    };

    const CWinApp& m_app;
    TimerEntry m_timers[2];
    CApacheControl m_apache;
    nb::NotifyIconRecord m_nid;
    uint32_t m_taskbarCreated = 0;
    std::wstring m_home;
    int m_debug = 0;

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

    std::intptr_t OnDestroyMsg(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnTimerMsg(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnShowCmd(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnBackupCmd(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnRestoreCmd(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnInitializeCmd(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnEndSessionMsg(std::uintptr_t wp, std::intptr_t lp);

    // Set while a restart runs: its failure box runs a nested message loop.
    bool m_restarting = false;
    // For the supervision log: why the window goes, and whether a command now comes from the
    // tray menu that was just tracked.
    const wchar_t* m_exitReason = L"window-destroyed";
    bool m_menuCommandPending = false;
    // Set once Shutdown (or the session's end) has stopped everything: it is not done twice,
    // and no tick restarts anything after it.
    bool m_shutDown = false;
};

namespace supervisor_text {
constexpr const wchar_t* kNotReady =
    L"正常に動作を開始することができませんでした。\nNimbaraを終了します。";
constexpr const wchar_t* kTip = L"Nimbara";
}  // namespace supervisor_text
