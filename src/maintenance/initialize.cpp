// Initialization: deletes the application's database after the user confirms.
#include "base/layout.h"
#include "base/supervision_log.h"
#include "supervisor/main_dlg.h"

namespace {
constexpr const wchar_t* kConfirm = L"初期化を実行します。\nよろしいですか？";
}

void CMainDlg::OnInitialize() {
    nb::IPlatform& os = nb::Os();
    if (os.MsgBox(m_hWnd, kConfirm, L"", MB_YESNO | MB_ICONQUESTION) != IDYES) {
        slog::Write("initialize", {{"confirmed", 0}});
        return;
    }
    std::wstring path = m_home + layout::kDatabase;
    if (m_debug != 0) os.MsgBox(m_hWnd, path, L"CMainDlg::OnInitialize", MB_OK);
    slog::Write("initialize", {{"file", path}, {"deleted", os.RemoveFile(path)}});
}
