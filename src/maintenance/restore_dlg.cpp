// The restore dialog.
#include "maintenance/restore_dlg.h"

#include <utility>
#include <vector>

#include "base/layout.h"
#include "base/supervision_log.h"
#include "maintenance/maintenance.h"
#include "maintenance/restore_name.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/windowing.h"
#include "resources/resource.h"
#include "server/process_control.h"

namespace nb {

namespace {
constexpr int kIconSize = 16;
constexpr int kColumnWidth = 300;
}  // namespace

void RunRestoreDialog(const std::wstring& home) {
    CRestoreDlg dlg(home);
    dlg.DoModal();
}

CRestoreDlg::CRestoreDlg(std::wstring home) : CDialog(IDD_RESTOREDLG), m_homeDir(std::move(home)) {}

CRestoreDlg::~CRestoreDlg() = default;

void CRestoreDlg::FindListControl() { m_list = nb::Dialogs().DialogItem(m_hWnd, IDC_BACKUP_LIST); }

bool CRestoreDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    FindListControl();
    InitList();
    FillList();
    return true;
}

bool CRestoreDlg::OnMessage(uint32_t msg, std::uintptr_t wp, std::intptr_t lp,
                            std::intptr_t* result) {
    using R = MessageRows<CRestoreDlg>;
    static const MessageEntry<CRestoreDlg> table[] = {
        R::Command<&CRestoreDlg::RestoreSelected>(IDOK),
        R::Command<&CRestoreDlg::DeleteSelected>(IDC_DELETE),
    };
    return DispatchTable(this, table, msg, wp, lp, result);
}

void CRestoreDlg::InitList() {
    m_ownedImages.Reset(nb::Dialogs().ImageListCreate(kIconSize, kIconSize, ILC_COLOR24, 2, 1));
    if (!m_ownedImages) return;
    m_imageList = m_ownedImages.Get();
    if (nb::Dialogs().ListSetSmallImages(m_list, m_imageList)) m_ownedImages.Release();
    nb::Dialogs().ListInsertColumn(m_list, 0, restore_text::kColumn, kColumnWidth);
}

void CRestoreDlg::FillList() {
    const std::wstring folder = m_homeDir + layout::kBackupFolder;
    std::vector<nb::FindEntry> entries;
    if (!nb::Files().ListFolder(folder + L"\\*", entries)) return;
    for (const nb::FindEntry& e : entries) {
        if (e.name == L"." || e.name == L"..") continue;
        AddEntry(e.name, folder + L"\\" + e.name);
    }
}

void CRestoreDlg::AddEntry(const std::wstring& name, const std::wstring& fullPath) {
    nb::ScopedIcon icon(nb::Shell().ShellSmallIcon(fullPath));
    if (!icon) return;
    // The image list keeps a copy of the icon; ours is released on return.
    if (nb::Dialogs().ImageListAddIcon(m_imageList, icon.Get()) == -1) return;
    nb::Dialogs().ListInsertItem(m_list, 0, name, nb::Dialogs().ImageListCount(m_imageList) - 1);
}

std::wstring CRestoreDlg::RestoreCommandLine(const std::wstring& name) const {
    return L"\"" + m_homeDir + layout::kRestoreScript + L"\" " + RestoreArgument(name);
}

void CRestoreDlg::RestoreSelected() {
    const std::vector<int> rows = nb::Dialogs().SelectedRows(m_list);
    if (rows.empty()) {
        EndDialog(IDOK);
        return;
    }
    if (rows.size() != 1) {
        nb::Windows().MsgBox(m_hWnd, restore_text::kSelectOne, nullptr, MB_OK);
        return;
    }
    const std::wstring name = nb::Dialogs().ListItemText(m_list, rows[0]);
    if (!IsRestorableName(name)) {
        slog::Write("restore", {{"name", name}, {"refused", 1}});
        nb::Windows().MsgBox(m_hWnd, restore_text::kUnsafeName, nullptr, MB_OK | MB_ICONWARNING);
        return;
    }
    CProcessControl script;
    const std::wstring cmd = RestoreCommandLine(name);
    int started = script.Execute(cmd);
    slog::Write("restore", {{"cmd", cmd}, {"started", started}});
    if (started == 1)
        nb::Windows().MsgBox(m_hWnd, restore_text::kRestored, nullptr, MB_OK | MB_ICONINFORMATION);
    EndDialog(IDOK);
}

void CRestoreDlg::DeleteSelected() {
    if (nb::Windows().MsgBox(m_hWnd, restore_text::kConfirmDelete, nullptr,
                             MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    // Highest index first, so the indices still to come stay valid as rows go.
    const std::vector<int> rows = nb::Dialogs().SelectedRows(m_list);
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        const int r = *it;
        std::wstring name = nb::Dialogs().ListItemText(m_list, r);
        std::wstring file = m_homeDir + L"\\" + layout::kBackupFolder + L"\\" + name;
        slog::Write("delete", {{"file", file}, {"deleted", nb::Files().RemoveFile(file)}});
        nb::Dialogs().ListDeleteItem(m_list, r);
    }
}

}  // namespace nb
