// Backup: the installation's backup script, started and not awaited.
#include "base/layout.h"
#include "base/supervision_log.h"
#include "maintenance/maintenance.h"
#include "platform/windowing.h"
#include "server/process_control.h"

namespace nb {

namespace {
constexpr const wchar_t* kBackupDone = L"バックアップしました   ";
}

std::wstring BackupCommandLine(const std::wstring& home) {
    return L"\"" + home + layout::kBackupScript + L"\"";
}

void RunBackup(const std::wstring& home, nb::WindowId owner, int notify, bool debug) {
    std::wstring cmd = BackupCommandLine(home);
    if (debug) nb::Windows().MsgBox(owner, cmd, L"CMainDlg::OnBackup", MB_OK);
    CProcessControl script;  // its handle is closed when it goes out of scope
    int started = script.Execute(cmd);
    slog::Write("backup", {{"cmd", cmd}, {"started", started}, {"notify", notify}});
    if (started == 1 && notify == 1)
        nb::Windows().MsgBox(owner, kBackupDone, names::kProduct, MB_OK | MB_ICONINFORMATION);
}

}  // namespace nb
