// The window framework's portable half: message dispatch, default dialog commands and the
// routing of unhandled commands to the owner window.
#include "base/framework.h"

#include "platform/dialogs.h"
#include "platform/file_paths.h"
#include "platform/processes.h"
#include "platform/windowing.h"

namespace nb {

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

CWinApp* CWinApp::Current() { return g_app; }

nb::WindowId CWinApp::MainWindowHandle() {
    if (g_app == nullptr || g_app->m_pMainWnd == nullptr) return 0;
    return g_app->m_pMainWnd->GetSafeHwnd();
}

int CWinApp::Run() {
    std::wstring module;
    if (nb::Processes().ModulePath(module, nb::kMaxModulePathChars)) m_title = nb::FileStem(module);
    InitInstance();
    return ExitInstance();
}

CDialog::~CDialog() {
    if (m_hWnd != 0) nb::Dialogs().DestroyWin(m_hWnd);
}

std::intptr_t CDialog::DoModal(nb::WindowId owner) {
    m_modal = true;
    if (owner == 0) owner = CWinApp::MainWindowHandle();
    std::intptr_t r = nb::Dialogs().RunModalDialog(m_templateId, owner, this);
    m_modal = false;
    return r;
}

bool CDialog::Create(nb::WindowId owner) {
    m_modal = false;
    if (owner == 0) owner = CWinApp::MainWindowHandle();
    nb::WindowId hwnd = nb::Dialogs().CreateDialogWindow(m_templateId, owner, this);
    if (hwnd != 0) m_hWnd = hwnd;
    return hwnd != 0;
}

void CDialog::DestroyWindow() {
    if (m_hWnd != 0) nb::Dialogs().DestroyWin(m_hWnd);
}

void CDialog::EndDialog(std::intptr_t result) {
    if (m_hWnd == 0) return;
    // A modeless dialog is only hidden, as ::EndDialog does for it.
    if (m_modal)
        nb::Dialogs().EndModal(m_hWnd, result);
    else
        nb::Windows().ShowWin(m_hWnd, SW_HIDE);
}

std::intptr_t CDialog::WindowProc(uint32_t msg, std::uintptr_t wp, std::intptr_t lp) {
    std::intptr_t result = 0;
    if (OnWndMsg(msg, wp, lp, &result)) return result;
    return Default(msg, wp, lp);
}

bool CDialog::PreTranslateMessage(const nb::QueuedMessage&) { return false; }

bool CDialog::OnInitDialog() { return true; }

bool CDialog::OnMessage(uint32_t, std::uintptr_t, std::intptr_t, std::intptr_t*) { return false; }

std::intptr_t CDialog::Default(uint32_t msg, std::uintptr_t wp, std::intptr_t lp) {
    return nb::Dialogs().DefaultProc(m_hWnd, msg, wp, lp);
}

bool CDialog::OnWndMsg(uint32_t msg, std::uintptr_t wp, std::intptr_t lp, std::intptr_t* result) {
    if (msg == WM_INITDIALOG) {
        *result = OnInitDialog() ? 1 : 0;
        return true;
    }
    if (OnMessage(msg, wp, lp, result)) return true;
    if (msg != WM_COMMAND || !IsCommand(wp, lp)) return false;
    switch (LoWord(wp)) {
    case IDOK:
        OnOK();
        *result = 0;
        return true;
    case IDCANCEL:
        OnCancel();
        *result = 0;
        return true;
    default:
        if (RouteCommand(wp, lp)) {
            *result = 0;
            return true;
        }
        return false;
    }
}

// Unhandled menu commands go to the owner, as with the framework's command routing: the tray
// menu is tracked by the supervisor window, but About and Exit belong to the host.
bool CDialog::RouteCommand(std::uintptr_t wp, std::intptr_t lp) {
    uint32_t id = LoWord(wp);
    if (id < kFirstRoutedCommand || id > kLastRoutedCommand) return false;
    nb::WindowId owner = nb::Windows().OwnerOf(m_hWnd);
    if (owner == 0) return false;
    nb::Windows().SendMsg(owner, WM_COMMAND, wp, lp);
    return true;
}

}  // namespace nb
