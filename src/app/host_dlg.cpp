// Host dialog: creates the supervisor, hides everything, and takes About and Exit from the
// tray menu (they reach it through command routing from the supervisor window).
#include "app/host_dlg.h"

#include "base/layout.h"
#include "base/supervision_log.h"
#include "platform/dialogs.h"
#include "platform/processes.h"
#include "platform/windowing.h"
#include "resources/resource.h"
#include "supervisor/main_dlg.h"

namespace nb {

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

CnbmonitorDlg::CnbmonitorDlg()
    : CDialog(IDD_HOSTDLG), m_icon(nb::Windows().IconHandle(IDI_PROGRAM)) {}

CnbmonitorDlg::~CnbmonitorDlg() {
    delete m_supervisor;
    m_supervisor = nullptr;
}

bool CnbmonitorDlg::PreTranslateMessage(const nb::QueuedMessage& msg) {
    // Enter and Escape would end the dialog, and with it the program.
    if (msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE))
        return true;
    return CDialog::PreTranslateMessage(msg);
}

bool CnbmonitorDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    std::wstring aboutText = nb::Windows().LoadStringResource(IDS_ABOUTBOX);
    if (!aboutText.empty()) nb::Windows().AppendSystemMenuItem(m_hWnd, IDM_ABOUTBOX, aboutText);

    nb::Windows().SetWindowIcons(m_hWnd, IDI_PROGRAM);
    nb::Windows().RemoveAppWindowStyle(m_hWnd);

    // The supervisor's start sequence runs inside Create and may end the process.
    m_supervisor = new CMainDlg(*CWinApp::Current());
    if (!m_supervisor->Create()) {
        // Without its window there is no server, no icon and no way to Exit; running on would
        // only hold the mutex against every later start.
        slog::Write("exit", {{"reason", L"no-supervisor-window"}});
        nb::Processes().EndProcess(kStartFailedExitCode);
        return false;
    }
    nb::WindowId sup = m_supervisor->GetSafeHwnd();
    nb::Windows().SetTitle(sup, names::kSupervisorTitle);
    nb::Windows().ShowWin(sup, SW_HIDE);

    nb::Windows().HideAtOrigin(m_hWnd);
    return true;
}

bool CnbmonitorDlg::OnMessage(uint32_t msg, std::uintptr_t wp, std::intptr_t lp,
                              std::intptr_t* result) {
    using R = MessageRows<CnbmonitorDlg>;
    static const MessageEntry<CnbmonitorDlg> table[] = {
        R::Message<&CnbmonitorDlg::OnSysCommand>(WM_SYSCOMMAND),
        R::Message<&CnbmonitorDlg::OnPaint>(WM_PAINT),
        R::Message<&CnbmonitorDlg::OnQueryDragIcon>(WM_QUERYDRAGICON),
        R::Message<&CnbmonitorDlg::OnDestroy>(WM_DESTROY),
        R::Command<&CnbmonitorDlg::EndDialog, IDOK>(ID_TRAY_EXIT),
        R::Command<&CnbmonitorDlg::ShowAbout>(ID_TRAY_ABOUT),
    };
    return DispatchTable(this, table, msg, wp, lp, result);
}

std::intptr_t CnbmonitorDlg::OnSysCommand(std::uintptr_t wp, std::intptr_t lp) {
    if ((wp & 0xFFF0) == IDM_ABOUTBOX) {
        ShowAbout();
        return 0;
    }
    return Default(WM_SYSCOMMAND, wp, lp);
}

std::intptr_t CnbmonitorDlg::OnPaint(std::uintptr_t wp, std::intptr_t lp) {
    if (nb::Windows().PaintIconIfMinimized(m_hWnd, IDI_PROGRAM)) return 0;
    return Default(WM_PAINT, wp, lp);
}

std::intptr_t CnbmonitorDlg::OnQueryDragIcon(std::uintptr_t, std::intptr_t) { return m_icon; }

std::intptr_t CnbmonitorDlg::OnDestroy(std::uintptr_t wp, std::intptr_t lp) {
    std::intptr_t r = Default(WM_DESTROY, wp, lp);
    if (m_supervisor != nullptr) m_supervisor->DestroyWindow();
    return r;
}

void CnbmonitorDlg::ShowAbout() {
    CAboutDlg about;
    about.DoModal();
}

}  // namespace nb
