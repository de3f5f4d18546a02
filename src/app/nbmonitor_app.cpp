// Start-up in its fixed order: common controls, sockets 1.1, single instance, settings path,
// then the host dialog run modally for the whole life of the process.
#include "app/nbmonitor_app.h"

#include <cwchar>
#include <new>

#include "app/host_dlg.h"
#include "base/layout.h"
#include "base/settings.h"
#include "resources/resource.h"

namespace {
constexpr std::size_t kMaxPath = 260;
constexpr std::size_t kModulePathChars = 255;  // the home directory's buffer, less its terminator
constexpr uint16_t kSocketsVersion11 = 0x0101;

void Refuse(const wchar_t* text) { nb::Os().MsgBox(0, text, nullptr, MB_OK | MB_ICONWARNING); }
}  // namespace

CnbmonitorApp::~CnbmonitorApp() = default;

CnbmonitorApp& CnbmonitorApp::Get() { return *static_cast<CnbmonitorApp*>(CWinApp::Current()); }

void CnbmonitorApp::SetSettingsPath(const std::wstring& path) {
    m_settingsPath.reset(new wchar_t[kMaxPath]());
    std::wcsncpy(m_settingsPath.get(), path.c_str(), kMaxPath - 1);
}

bool CnbmonitorApp::InitInstance() {
    nb::IPlatform& os = nb::Os();
    os.InitCommonControls(ICC_WIN95_CLASSES);

    uint16_t granted = 0;
    if (!os.SocketsStartup(kSocketsVersion11, &granted) || granted != kSocketsVersion11) {
        if (granted != 0) os.SocketsCleanup();
        Refuse(os.LoadStringResource(IDS_SOCKETS_INIT_FAILED).c_str());
        return false;
    }

    bool existed = false;
    if (os.CreateInstanceMutex(Title(), &existed) && existed) {
        nb::WindowId running = os.FindWindowByTitle(names::kSupervisorTitle);
        if (running != 0) os.PostMsg(running, WM_TRAY_CALLBACK, 0, WM_LBUTTONDBLCLK);
        return false;
    }

    if (!FixSettingsPath()) return false;

    // The home directory comes from the executable's location; without it nothing can be
    // found, so refuse here rather than work on an undefined folder. A path that does not
    // fit the home directory's 255 characters is refused too: cut, it would name another
    // home, title and mutex.
    std::wstring module;
    if (!os.ModulePath(module, nb::kMaxModulePathChars)) {
        Refuse(startup_text::kNoModulePath);
        return false;
    }
    if (module.size() > kModulePathChars) {
        Refuse(startup_text::kModulePathTooLong);
        return false;
    }

    {
        CnbmonitorDlg host;
        m_pMainWnd = &host;
        host.DoModal();
        m_pMainWnd = nullptr;
    }
    return false;
}

bool CnbmonitorApp::FixSettingsPath() {
    m_settingsPath.reset(new (std::nothrow) wchar_t[kMaxPath]());
    if (!m_settingsPath) {
        Refuse(startup_text::kOutOfMemory);
        return false;
    }
    // A path that does not fit is refused: cutting it would read some other file.
    std::wstring current, path;
    if (!nb::Os().CurrentDirectory(current, kMaxPath)) {
        Refuse(startup_text::kCurrentDirUnusable);
        return false;
    }
    if (!SettingsPathFromCurrentDir(current, kMaxPath, &path)) {
        Refuse(startup_text::kSettingsPathTooLong);
        return false;
    }
    std::wcsncpy(m_settingsPath.get(), path.c_str(), kMaxPath - 1);
    return true;
}

int CnbmonitorApp::ExitInstance() {
    m_settingsPath.reset();
    return CWinApp::ExitInstance();
}
