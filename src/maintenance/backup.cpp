// Backup: the installation's backup script, started and not awaited.
#include "base/layout.h"
#include "base/supervision_log.h"
#include "server/process_control.h"
#include "supervisor/main_dlg.h"

namespace {
constexpr const wchar_t* kBackupDone = L"バックアップしました   ";
}

std::wstring BackupCommandLine(const std::wstring& home) {
    return L"\"" + home + layout::kBackupScript + L"\"";
}

void CMainDlg::OnBackup(int notify) {
    std::wstring cmd = BackupCommandLine(m_home);
    if (m_debug != 0) nb::Os().MsgBox(m_hWnd, cmd, L"CMainDlg::OnBackup", MB_OK);
    CProcessControl script;  // its handle is closed when it goes out of scope
    int started = script.Execute(cmd);
    slog::Write("backup", {{"cmd", cmd}, {"started", started}, {"notify", notify}});
    if (started == 1 && notify == 1)
        nb::Os().MsgBox(m_hWnd, kBackupDone, names::kProduct, MB_OK | MB_ICONINFORMATION);
}
