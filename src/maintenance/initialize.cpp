// Initialization: deletes the application's database after the user confirms.
#include "base/layout.h"
#include "base/supervision_log.h"
#include "maintenance/maintenance.h"
#include "platform/files.h"
#include "platform/windowing.h"

namespace nb {

namespace {
constexpr const wchar_t* kConfirm = L"初期化を実行します。\nよろしいですか？";
}

void RunInitialize(const std::wstring& home, nb::WindowId owner, bool debug) {
    if (nb::Windows().MsgBox(owner, kConfirm, L"", MB_YESNO | MB_ICONQUESTION) != IDYES) {
        slog::Write("initialize", {{"confirmed", 0}});
        return;
    }
    std::wstring path = home + layout::kDatabase;
    if (debug) nb::Windows().MsgBox(owner, path, L"CMainDlg::OnInitialize", MB_OK);
    slog::Write("initialize", {{"file", path}, {"deleted", nb::Files().RemoveFile(path)}});
}

}  // namespace nb
