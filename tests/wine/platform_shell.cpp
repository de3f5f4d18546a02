// Shell and common controls: file icons (with the separator quirk), the image list and list
// view of the restore dialog, the tray menu, the notification-area icon and URL opening.
#include <cstdlib>

#include "base/framework.h"
#include "platform_fixture.h"
#include "resources/resource.h"
#include "wine_test.h"

using namespace nb;

namespace {

using nb::win::H;

class Plain : public CDialog {
public:
    explicit Plain(int id) : CDialog(id) {}
    std::vector<std::uintptr_t> commands;
    HWND menuOwner = nullptr;

protected:
    bool OnMessage(uint32_t msg, std::uintptr_t wp, std::intptr_t, std::intptr_t* r) override {
        if (msg == WM_COMMAND && HiWord(wp) == 0 && LoWord(wp) >= kFirstRoutedCommand) {
            commands.push_back(wp);
            *r = 0;
            return true;
        }
        return false;
    }
};

}  // namespace

START_TEST(collapse_separators) {
    struct {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"C:\\nimbara\\\\backup\\a.zip", L"C:\\nimbara\\backup\\a.zip"},
        {L"C:\\nimbara\\\\\\backup\\a.zip", L"C:\\nimbara\\backup\\a.zip"},  // %s\%s\%s of a home
        {L"C:\\nimbara\\backup\\a.zip", L"C:\\nimbara\\backup\\a.zip"},
        {L"\\\\server\\share\\\\backup\\a.zip", L"\\\\server\\share\\backup\\a.zip"},
        {L"\\\\\\server\\share", L"\\\\server\\share"},
        {L"\\nimbara\\\\bin\\", L"\\nimbara\\bin\\"},
        {L"C:\\a\\\\", L"C:\\a\\"},
        {L"a.zip", L"a.zip"},
        {L"", L""},
        {L"\\", L"\\"},
        {L"C:/x//y", L"C:/x//y"},  // only backslashes are touched
    };
    for (const auto& c : cases) {
        std::wstring got = nb::CollapseRepeatedSeparators(c.in);
        ok(got == c.out, "%s: %s expected, got %s\n", wt::Esc(c.in).c_str(),
           wt::Esc(c.out).c_str(), wt::Esc(got).c_str());
    }
}

START_TEST(shell_small_icon) {
    nb::win::Win32Platform& os = fx::Os();
    std::wstring dir = fx::NewFolder(L"icons");
    fx::WriteBytes(dir + L"\\20260101.zip", "zip");
    fx::NewFolder(L"icons\\20260102");

    // The program's own form of the path: home with its backslash, then "\backup", then "\".
    std::wstring doubled = dir.substr(0, dir.rfind(L'\\')) + L"\\\\icons\\\\20260101.zip";
    nb::IconRef icon = os.ShellSmallIcon(doubled);
    ok(icon != 0, "an icon for %s expected\n", wt::Esc(doubled).c_str());
    if (icon != 0) {
        ICONINFO info = {};
        BITMAP bm = {};
        ::GetIconInfo(reinterpret_cast<HICON>(icon), &info);
        ::GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
        ok(bm.bmWidth == ::GetSystemMetrics(SM_CXSMICON), "a small icon (%d) expected, got %ld\n",
           ::GetSystemMetrics(SM_CXSMICON), bm.bmWidth);
        if (info.hbmColor) ::DeleteObject(info.hbmColor);
        if (info.hbmMask) ::DeleteObject(info.hbmMask);
        os.DestroyIconRef(icon);
    }
    SHFILEINFOW raw = {};
    if (!::SHGetFileInfoW(doubled.c_str(), 0, &raw, sizeof raw, SHGFI_ICON | SHGFI_SMALLICON))
        trace("this system's SHGetFileInfoW finds no icon for a doubled separator\n");
    else
        ::DestroyIcon(raw.hIcon);

    icon = os.ShellSmallIcon(dir + L"\\\\20260102");
    ok(icon != 0, "a folder should have an icon too\n");
    os.DestroyIconRef(icon);
    ok(os.ShellSmallIcon(dir + L"\\missing.zip") == 0, "a missing file should give no icon\n");
}

START_TEST(image_list_and_list_view) {
    nb::win::Win32Platform& os = fx::Os();
    os.InitCommonControls(ICC_WIN95_CLASSES);
    Plain dlg(IDD_RESTOREDLG);
    ok(dlg.Create(0), "the restore template should make a window, error %lu\n", ::GetLastError());
    if (dlg.GetSafeHwnd() == 0) return;
    nb::WindowId list = os.DialogItem(dlg.GetSafeHwnd(), IDC_BACKUP_LIST);
    ok(list != 0, "the list view 1004 expected\n");

    nb::ImageListRef images = os.ImageListCreate(16, 16, ILC_COLOR24, 2, 1);
    ok(images != 0, "an image list expected\n");
    std::wstring file = fx::NewFolder(L"lv") + L"\\a.zip";
    fx::WriteBytes(file, "a");
    nb::IconRef icon = os.ShellSmallIcon(file);
    int first = os.ImageListAddIcon(images, icon);
    int second = os.ImageListAddIcon(images, icon);
    ok(first == 0 && second == 1 && os.ImageListCount(images) == 2,
       "indices 0 and 1 and a count of 2 expected, got %d %d %d\n", first, second,
       os.ImageListCount(images));
    ok(os.ImageListAddIcon(images, 0) == -1, "no icon: -1 expected\n");
    os.DestroyIconRef(icon);

    os.ListSetSmallImages(list, images);
    ok(::SendMessageW(H(list), LVM_GETIMAGELIST, LVSIL_SMALL, 0) == LPARAM(images),
       "the small image list should be attached\n");
    ok(os.ListInsertColumn(list, 0, L"\u30d5\u30a1\u30a4\u30eb\u540d", 300) == 0,
       "column 0 expected\n");
    LVCOLUMNW col = {};
    wchar_t title[32] = {};
    col.mask = LVCF_WIDTH | LVCF_TEXT;
    col.pszText = title;
    col.cchTextMax = 32;
    ::SendMessageW(H(list), LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
    ok(col.cx == 300 && std::wstring(title) == L"\u30d5\u30a1\u30a4\u30eb\u540d",
       "column 300 wide titled ファイル名 expected, got %d %s\n", col.cx, wt::Esc(title).c_str());

    // Every row goes to the top: a, b, c read c, b, a.
    for (const wchar_t* name : {L"a.zip", L"b.zip", L"c.zip"})
        ok(os.ListInsertItem(list, 0, name, 1) == 0, "insertion at the top expected\n");
    std::wstring rows;
    for (int i = 0; i < 3; ++i) rows += os.ListItemText(list, i) + L" ";
    ok(rows == L"c.zip b.zip a.zip ", "c b a expected, got %s\n", wt::Esc(rows).c_str());
    LVITEMW item = {};
    item.mask = LVIF_IMAGE | LVIF_PARAM;
    item.iItem = 2;
    ::SendMessageW(H(list), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    ok(item.iImage == 1 && item.lParam == 0, "image 1 and parameter 0 expected, got %d %ld\n",
       item.iImage, long(item.lParam));

    std::wstring longName(600, L'x');
    os.ListInsertItem(list, 3, longName, 0);
    ok(os.ListItemText(list, 3) == longName, "a 600-character row should read back whole\n");
    os.ListDeleteItem(list, 3);

    // Several rows selected (the list allows it): walk them, delete from the highest.
    ok(os.SelectedRows(list).empty(), "no selection expected at first\n");
    LVITEMW sel = {};
    sel.stateMask = LVIS_SELECTED;
    sel.state = LVIS_SELECTED;
    ::SendMessageW(H(list), LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&sel));
    ::SendMessageW(H(list), LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&sel));
    std::vector<int> selected = os.SelectedRows(list);
    ok((selected == std::vector<int>{0, 2}),
       "rows 0 and 2 selected expected, got %d rows, first %d\n", int(selected.size()),
       selected.empty() ? -1 : selected[0]);
    ok(os.ListDeleteItem(list, 2) == 1 && os.ListDeleteItem(list, 0) == 1,
       "both rows should be deleted\n");
    ok(::SendMessageW(H(list), LVM_GETITEMCOUNT, 0, 0) == 1 && os.ListItemText(list, 0) == L"b.zip",
       "b.zip alone should remain\n");
    ok(os.ListDeleteItem(list, 5) == 0, "deleting a missing row should fail\n");

    dlg.DestroyWindow();
    os.ImageListDestroy(images);
}

namespace {
// Drives the popup menu from inside TrackPopupMenu's own loop, as a user's keys would.
int g_keyCount = 0;
const WPARAM* g_keys = nullptr;
HWND g_keyTarget = nullptr;
void CALLBACK PressKeys(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    for (int i = 0; i < g_keyCount; ++i) {
        ::PostMessageW(g_keyTarget, WM_KEYDOWN, g_keys[i], 0);
        ::PostMessageW(g_keyTarget, WM_KEYUP, g_keys[i], 0xC0000000);
    }
}
}  // namespace

START_TEST(tray_menu_tracking) {
    nb::win::Win32Platform& os = fx::Os();
    Plain owner(IDD_MAINDLG);
    owner.Create(0);
    if (owner.GetSafeHwnd() == 0) return;

    struct {
        WPARAM keys[3];
        int count;
        std::uintptr_t command;  // 0: none
    } cases[] = {
        {{VK_DOWN, VK_RETURN}, 2, ID_TRAY_ABOUT},
        {{VK_DOWN, VK_DOWN, VK_RETURN}, 3, ID_TRAY_EXIT},
        {{VK_ESCAPE}, 1, 0},
    };
    for (const auto& c : cases) {
        owner.commands.clear();
        g_keys = c.keys;
        g_keyCount = c.count;
        g_keyTarget = H(owner.GetSafeHwnd());
        ::SetTimer(nullptr, 0, 200, &PressKeys);
        os.TrackTrayMenu(IDR_TRAYMENU, owner.GetSafeHwnd());
        os.PostMsg(owner.GetSafeHwnd(), WM_NULL, 0, 0);
        fx::Pump(300);
        if (c.command != 0)
            ok(owner.commands.size() == 1 && owner.commands[0] == c.command,
               "command %lu expected at the owner, got %u commands, first %lu\n",
               static_cast<unsigned long>(c.command), unsigned(owner.commands.size()),
               owner.commands.empty() ? 0ul : static_cast<unsigned long>(owner.commands[0]));
        else
            ok(owner.commands.empty(), "a dismissed menu should send nothing, got %u\n",
               unsigned(owner.commands.size()));
    }
    ok(os.TrackTrayMenu(999, owner.GetSafeHwnd()) == 0,
       "a missing menu should fail\n");
    owner.DestroyWindow();
}

START_TEST(notification_icon) {
    nb::win::Win32Platform& os = fx::Os();
    Plain sup(IDD_MAINDLG);
    sup.Create(0);
    if (sup.GetSafeHwnd() == 0) return;
    nb::NotifyIconRecord rec;
    rec.cbSize = kNotifyIconDataV3Size;
    rec.hWnd = sup.GetSafeHwnd();
    rec.uID = 0;
    rec.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    rec.uCallbackMessage = WM_TRAY_CALLBACK;
    rec.iconId = IDI_STOPPED;
    rec.tip = L"Nimbara";
    int added = os.NotifyIcon(NIM_ADD, rec);
    if (!added) {
        skip("no notification area on this desktop\n");
    } else {
        rec.iconId = IDI_RUNNING;
        ok(os.NotifyIcon(NIM_MODIFY, rec) == 1, "the icon should change\n");
        ok(os.NotifyIcon(NIM_DELETE, rec) == 1, "the icon should go\n");
        ok(os.NotifyIcon(NIM_MODIFY, rec) == 0, "a deleted icon cannot change\n");
    }
    sup.DestroyWindow();
}

START_TEST(open_url) {
    const char* log = std::getenv("NB_BROWSER_LOG");
    if (log == nullptr || log[0] != '/') {
        skip("no stand-in browser (NB_BROWSER_LOG) in this environment\n");
        return;
    }
    // The log is a file of the host; Wine shows the host's root as drive Z:.
    std::wstring path = L"Z:";
    for (const char* p = log; *p; ++p) path.push_back(*p == '/' ? L'\\' : wchar_t(*p));
    std::wstring url = L"http://localhost:" + std::to_wstring(20000 + ::GetCurrentProcessId() % 9999) +
                       L"/index.php";
    std::string wanted(url.begin(), url.end());
    ok(fx::Os().OpenUrl(url) == 1, "the shell should take the URL\n");
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        seen = fx::ReadBytes(path).find(wanted + "\n") != std::string::npos;
        if (!seen) ::Sleep(100);
    }
    ok(seen, "the browser should be asked for %s\n", wanted.c_str());
}
