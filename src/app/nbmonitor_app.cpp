// Start-up in its fixed order: the error mode, common controls, sockets 1.1, single instance, settings path,
// then the host dialog run modally for the whole life of the process.
#include "app/nbmonitor_app.h"

#include <cwchar>
#include <new>

#include "app/host_dlg.h"
#include "base/layout.h"
#include "base/settings.h"
#include "platform/dialogs.h"
#include "platform/file_paths.h"
#include "platform/processes.h"
#include "platform/sockets.h"
#include "platform/windowing.h"
#include "resources/resource.h"

namespace nb {

namespace {
using nb::kMaxPathChars;

void Refuse(const wchar_t* text) { nb::Windows().MsgBox(0, text, nullptr, MB_OK | MB_ICONWARNING); }
}  // namespace

CnbmonitorApp::~CnbmonitorApp() = default;

CnbmonitorApp& CnbmonitorApp::Get() { return *static_cast<CnbmonitorApp*>(CWinApp::Current()); }

void CnbmonitorApp::SetSettingsPath(const std::wstring& path) {
    m_settingsPath.reset(new wchar_t[kMaxPathChars]());
    std::wcsncpy(m_settingsPath.get(), path.c_str(), kMaxPathChars - 1);
}

// The program runs inside InitInstance and ends when it returns; it always returns false, so
// that the framework exits rather than runs a message loop of its own.
bool CnbmonitorApp::InitInstance() {
    // Before anything is launched, for the server and the scripts inherit it: without it a
    // crashed server waits behind Windows' "has stopped working" box (and still counts as
    // running), and a server missing a DLL shows a system-modal box at every restart.
    nb::Processes().AddErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX |
                                 SEM_NOOPENFILEERRORBOX);
    nb::Dialogs().InitCommonControls(ICC_WIN95_CLASSES);
    if (!StartSockets()) return false;
    if (AnotherInstanceRuns()) return false;
    if (!LocateSettingsFile()) return false;
    if (!ModulePathUsable()) return false;
    RunHostDialog();
    return false;
}

bool CnbmonitorApp::StartSockets() {
    uint16_t granted = 0;
    if (nb::Sockets().SocketsStartup(SOCKETS_VERSION_1_1, &granted) &&
        granted == SOCKETS_VERSION_1_1)
        return true;
    if (granted != 0) nb::Sockets().SocketsCleanup();
    Refuse(nb::Windows().LoadStringResource(IDS_SOCKETS_INIT_FAILED).c_str());
    return false;
}

// A second start opens the start page of the running instance (as a double-click on its icon)
// and ends.
bool CnbmonitorApp::AnotherInstanceRuns() {
    bool existed = false;
    if (!nb::Processes().CreateInstanceMutex(Title(), &existed) || !existed) return false;
    nb::WindowId running = nb::Windows().FindWindowByTitle(names::kSupervisorTitle);
    if (running != 0) {
        // Windows gives the foreground only to whom the user is working with: this process.
        nb::Windows().AllowForegroundTo(running);
        nb::Windows().PostMsg(running, WM_TRAY_CALLBACK, 0, WM_LBUTTONDBLCLK);
    }
    return true;
}

// The home directory comes from the executable's location; without it nothing can be found,
// so refuse here rather than work on an undefined folder. A path that does not fit the home
// directory's 255 characters is refused too: cut, it would name another home, title and mutex.
bool CnbmonitorApp::ModulePathUsable() {
    std::wstring module;
    if (!nb::Processes().ModulePath(module, nb::kMaxModulePathChars)) {
        Refuse(startup_text::kNoModulePath);
        return false;
    }
    if (module.size() > layout::kHomeChars) {
        Refuse(startup_text::kModulePathTooLong);
        return false;
    }
    return true;
}

void CnbmonitorApp::RunHostDialog() {
    CnbmonitorDlg host;
    SetMainWindow(&host);
    host.DoModal();
    SetMainWindow(nullptr);
}

bool CnbmonitorApp::LocateSettingsFile() {
    m_settingsPath.reset(new (std::nothrow) wchar_t[kMaxPathChars]());
    if (!m_settingsPath) {
        Refuse(startup_text::kOutOfMemory);
        return false;
    }
    // A path that does not fit is refused: cutting it would read some other file.
    std::wstring current, path;
    if (!nb::Processes().CurrentDirectory(current, kMaxPathChars)) {
        Refuse(startup_text::kCurrentDirUnusable);
        return false;
    }
    if (!SettingsPathFromCurrentDir(current, kMaxPathChars, &path)) {
        Refuse(startup_text::kSettingsPathTooLong);
        return false;
    }
    std::wcsncpy(m_settingsPath.get(), path.c_str(), kMaxPathChars - 1);
    return true;
}

int CnbmonitorApp::ExitInstance() {
    m_settingsPath.reset();
    return CWinApp::ExitInstance();
}

}  // namespace nb
