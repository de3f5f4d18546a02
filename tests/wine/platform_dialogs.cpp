// The framework's dialogs on real windows: creation order, command routing to the owner,
// modeless EndDialog, the modal loop (idle show, pre-translation, WM_QUIT, nesting) and the
// host window helpers. The templates are the program's own, linked into this test.
#include <vector>

#include "base/framework.h"
#include "platform_fixture.h"
#include "resources/resource.h"
#include "wine_test.h"

using namespace nb;

namespace {

using nb::win::H;

// Records what it receives and lets a test hook into its messages.
class Probe : public CDialog {
public:
    explicit Probe(int templateId) : CDialog(templateId) {}

    std::vector<UINT> seen;
    bool attachedAtCreate = false;
    std::vector<std::uintptr_t> commands;  // WM_COMMAND wParams handled by OnMessage
    UINT handledCommand = 0;               // the one command this window handles itself
    bool (*onInit)(Probe*) = nullptr;      // runs in OnInitDialog; its result is returned
    void (*onTimer)(Probe*, UINT_PTR) = nullptr;
    bool (*preTranslate)(Probe*, const nb::QueuedMessage&) = nullptr;
    bool initResult = true;
    intptr_t state = 0;  // scratch for the hooks
    std::vector<intptr_t> notes;

    std::intptr_t WindowProc(uint32_t msg, std::uintptr_t wp, std::intptr_t lp) override {
        seen.push_back(msg);
        if (msg == WM_CREATE) attachedAtCreate = GetSafeHwnd() != 0;
        return CDialog::WindowProc(msg, wp, lp);
    }
    bool PreTranslateMessage(const nb::QueuedMessage& m) override {
        if (preTranslate != nullptr && preTranslate(this, m)) return true;
        return CDialog::PreTranslateMessage(m);
    }

protected:
    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        return onInit != nullptr ? onInit(this) : initResult;
    }
    bool OnMessage(uint32_t msg, std::uintptr_t wp, std::intptr_t, std::intptr_t* result) override {
        if (msg == WM_TIMER && onTimer != nullptr) {
            onTimer(this, wp);
            *result = 0;
            return true;
        }
        if (msg == WM_COMMAND && handledCommand != 0 && LoWord(wp) == handledCommand) {
            commands.push_back(wp);
            *result = 0;
            return true;
        }
        return false;
    }
};

std::size_t IndexOf(const std::vector<UINT>& v, UINT msg) {
    for (std::size_t i = 0; i < v.size(); ++i)
        if (v[i] == msg) return i;
    return v.size();
}

}  // namespace

START_TEST(modeless_creation) {
    fx::Os();
    Probe dlg(IDD_MAINDLG);
    ok(dlg.Create(0), "the supervisor template should make a window, error %lu\n",
       ::GetLastError());
    HWND hwnd = H(dlg.GetSafeHwnd());
    if (hwnd == nullptr) return;
    std::size_t nc = IndexOf(dlg.seen, WM_NCCREATE);
    std::size_t create = IndexOf(dlg.seen, WM_CREATE);
    std::size_t init = IndexOf(dlg.seen, WM_INITDIALOG);
    ok(nc < create && create < init && init < dlg.seen.size(),
       "WM_NCCREATE, WM_CREATE, WM_INITDIALOG in that order expected, at %u %u %u of %u\n",
       unsigned(nc), unsigned(create), unsigned(init), unsigned(dlg.seen.size()));
    ok(dlg.attachedAtCreate, "the object should know its window at WM_CREATE\n");
    ok(!::IsWindowVisible(hwnd), "the template is not visible, so neither is the window\n");
    wchar_t title[32] = {};
    ::GetWindowTextW(hwnd, title, 32);
    ok(std::wstring(title) == L"\u30c0\u30a4\u30a2\u30ed\u30b0", "caption from the template expected, got %s\n",
       wt::Esc(title).c_str());
    ok(::GetDlgItem(hwnd, IDOK) != nullptr && ::GetDlgItem(hwnd, IDCANCEL) != nullptr,
       "the template's buttons expected\n");

    // The window is found by its title, as a second instance finds the supervisor.
    std::wstring name = L"nbwt-dlg-" + std::to_wstring(::GetCurrentProcessId());
    fx::Os().SetTitle(dlg.GetSafeHwnd(), name);
    ok(fx::Os().FindWindowByTitle(name) == dlg.GetSafeHwnd(), "the hidden window should be found\n");

    dlg.DestroyWindow();
    ok(!::IsWindow(hwnd), "the window should be destroyed\n");
    ok(dlg.GetSafeHwnd() == 0, "the object should forget its window at WM_NCDESTROY\n");
    ok(dlg.seen.back() == WM_NCDESTROY, "WM_NCDESTROY should be the last message, got %#x\n",
       dlg.seen.back());
    ok(fx::Os().FindWindowByTitle(name) == 0, "a destroyed window should not be found\n");
}

START_TEST(destructor_destroys_window) {
    fx::Os();
    Probe* dlg = new Probe(IDD_MAINDLG);
    dlg->Create(0);
    HWND hwnd = H(dlg->GetSafeHwnd());
    delete dlg;
    ok(hwnd != nullptr && !::IsWindow(hwnd), "deleting the object should destroy its window\n");
}

START_TEST(command_routing) {
    fx::Os();
    Probe host(IDD_HOSTDLG);
    host.handledCommand = ID_TRAY_EXIT;
    Probe sup(IDD_MAINDLG);
    ok(host.Create(0), "the host template should make a window\n");
    ok(sup.Create(host.GetSafeHwnd()), "the supervisor should be created with an owner\n");
    if (!host.GetSafeHwnd() || !sup.GetSafeHwnd()) return;
    ok(fx::Os().OwnerOf(sup.GetSafeHwnd()) == host.GetSafeHwnd(),
       "the owner of a popup should be its parent window\n");

    ::SendMessageW(H(sup.GetSafeHwnd()), WM_COMMAND, ID_TRAY_EXIT, 0);
    ok(host.commands.size() == 1 && host.commands[0] == ID_TRAY_EXIT,
       "command 32773 should reach the owner, got %u commands\n", unsigned(host.commands.size()));

    // The same command posted, as a menu would post it, goes through the queue.
    ::PostMessageW(H(sup.GetSafeHwnd()), WM_COMMAND, ID_TRAY_EXIT, 0);
    fx::Pump(200);
    ok(host.commands.size() == 2, "the posted command should reach the owner too, got %u\n",
       unsigned(host.commands.size()));

    // A control's notification (code 1, from a window) is not a command and is not passed
    // on; an accelerator's command (code 1, lParam 0) is taken by its low word.
    LPARAM control = reinterpret_cast<LPARAM>(::GetDlgItem(H(sup.GetSafeHwnd()), IDOK));
    ::SendMessageW(H(sup.GetSafeHwnd()), WM_COMMAND, MAKEWPARAM(ID_TRAY_EXIT, 1), control);
    ok(host.commands.size() == 2, "a notification should not be routed, got %u\n",
       unsigned(host.commands.size()));
    ::SendMessageW(H(sup.GetSafeHwnd()), WM_COMMAND, MAKEWPARAM(ID_TRAY_EXIT, 1), 0);
    ok(host.commands.size() == 3, "an accelerator's command should be routed, got %u\n",
       unsigned(host.commands.size()));
    sup.DestroyWindow();
    host.DestroyWindow();
}

START_TEST(modeless_end_dialog_hides) {
    fx::Os();
    Probe sup(IDD_MAINDLG);
    sup.Create(0);
    HWND hwnd = H(sup.GetSafeHwnd());
    if (hwnd == nullptr) return;
    fx::Os().ShowWin(sup.GetSafeHwnd(), SW_SHOW);
    ok(::IsWindowVisible(hwnd), "shown window expected\n");
    sup.EndDialog(IDOK);
    ok(::IsWindow(hwnd) && !::IsWindowVisible(hwnd), "EndDialog should only hide it\n");

    // The buttons and the close box keep the defaults: hidden, not destroyed.
    fx::Os().ShowWin(sup.GetSafeHwnd(), SW_SHOW);
    ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(hwnd, IDCANCEL)));
    ok(::IsWindow(hwnd) && !::IsWindowVisible(hwnd), "Cancel should hide it\n");
    fx::Os().ShowWin(sup.GetSafeHwnd(), SW_SHOW);
    ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
    fx::Pump(200);
    ok(::IsWindow(hwnd) && !::IsWindowVisible(hwnd), "the close box should hide it\n");
    sup.DestroyWindow();
}

namespace {
bool StartTimer(Probe* p) {
    ::SetTimer(H(p->GetSafeHwnd()), 1, 50, nullptr);
    return true;
}
}  // namespace

START_TEST(modal_loop_basics) {
    fx::Os();
    Probe owner(IDD_HOSTDLG);
    owner.Create(0);
    HWND ownerHwnd = H(owner.GetSafeHwnd());

    Probe dlg(IDD_MAINDLG);
    dlg.onInit = &StartTimer;
    dlg.onTimer = [](Probe* p, UINT_PTR) {
        HWND h = H(p->GetSafeHwnd());
        ::KillTimer(h, 1);
        p->notes.push_back(::IsWindowVisible(h));
        p->notes.push_back(::IsWindowEnabled(::GetParent(h)));
        p->notes.push_back(reinterpret_cast<intptr_t>(h));
        p->EndDialog(42);
    };
    std::intptr_t r = dlg.DoModal(owner.GetSafeHwnd());
    ok(r == 42, "DoModal should return the EndDialog value 42, got %ld\n", long(r));
    ok(dlg.notes.size() == 3, "the timer should have run once, %u notes\n",
       unsigned(dlg.notes.size()));
    if (dlg.notes.size() == 3) {
        ok(dlg.notes[0] == 1, "the dialog should be shown once the queue was idle\n");
        ok(dlg.notes[1] == 0, "the owner should be disabled while the dialog runs\n");
        ok(!::IsWindow(reinterpret_cast<HWND>(dlg.notes[2])), "the dialog should be destroyed\n");
    }
    ok(::IsWindowEnabled(ownerHwnd), "the owner should be enabled again\n");
    ok(dlg.GetSafeHwnd() == 0, "the object should forget its window\n");

    // Ended during its initialisation: no loop, never shown.
    Probe early(IDD_MAINDLG);
    early.onInit = [](Probe* p) {
        p->EndDialog(7);
        return true;
    };
    r = early.DoModal(owner.GetSafeHwnd());
    ok(r == 7, "7 expected from a dialog ended at WM_INITDIALOG, got %ld\n", long(r));
    ok(IndexOf(early.seen, WM_SHOWWINDOW) == early.seen.size(),
       "a dialog ended at initialisation should never be shown\n");
    ok(::IsWindowEnabled(ownerHwnd), "the owner should be enabled again\n");
    owner.DestroyWindow();
}

START_TEST(modal_pre_translation) {
    fx::Os();
    // Escape reaches the dialog manager unless PreTranslateMessage takes it: then it is
    // Cancel (IDCANCEL), else the posted WM_APP ends the dialog with 5.
    auto postKeys = [](Probe* p) {
        HWND h = H(p->GetSafeHwnd());
        HWND ok = ::GetDlgItem(h, IDOK);
        ::PostMessageW(ok, WM_KEYDOWN, VK_ESCAPE, 0);
        ::SetTimer(h, 1, 300, nullptr);
        return true;
    };
    auto endOnTimer = [](Probe* p, UINT_PTR) { p->EndDialog(5); };

    Probe plain(IDD_MAINDLG);
    plain.onInit = postKeys;
    plain.onTimer = endOnTimer;
    std::intptr_t r = plain.DoModal(0);
    ok(r == IDCANCEL, "Escape should cancel a dialog (IDCANCEL), got %ld\n", long(r));

    Probe guarded(IDD_MAINDLG);
    guarded.onInit = postKeys;
    guarded.onTimer = endOnTimer;
    guarded.preTranslate = [](Probe* p, const nb::QueuedMessage& m) {
        if (m.message != WM_KEYDOWN || m.wParam != VK_ESCAPE) return false;
        p->state++;
        return true;
    };
    r = guarded.DoModal(0);
    ok(r == 5, "a consumed Escape should leave the dialog running (5), got %ld\n", long(r));
    ok(guarded.state == 1, "PreTranslateMessage should see the key once, saw %ld\n",
       long(guarded.state));
}

START_TEST(modal_quit) {
    fx::Os();
    Probe dlg(IDD_MAINDLG);
    dlg.onInit = &StartTimer;
    dlg.onTimer = [](Probe* p, UINT_PTR) {
        ::KillTimer(H(p->GetSafeHwnd()), 1);
        ::PostQuitMessage(3);
    };
    std::intptr_t r = dlg.DoModal(0);
    ok(r == -1, "WM_QUIT should end the modal loop with -1, got %ld\n", long(r));
    MSG msg;
    bool requeued = ::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    ok(requeued && msg.wParam == 3, "WM_QUIT(3) should be put back for the outer loop\n");
}

namespace {
// Finds the message box owned by g_boxOwner, keeps its caption and presses OK.
std::wstring g_boxCaption;
HWND g_boxOwner = nullptr;
BOOL CALLBACK FindBox(HWND w, LPARAM p) {
    wchar_t cls[16] = {};
    ::GetClassNameW(w, cls, 16);
    if (std::wstring(cls) == L"#32770" && ::GetWindow(w, GW_OWNER) == g_boxOwner) {
        *reinterpret_cast<HWND*>(p) = w;
        return FALSE;
    }
    return TRUE;
}
void CALLBACK CloseBox(HWND, UINT, UINT_PTR id, DWORD) {
    HWND box = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), &FindBox, reinterpret_cast<LPARAM>(&box));
    if (box == nullptr) return;
    ::KillTimer(nullptr, id);
    wchar_t caption[64] = {};
    ::GetWindowTextW(box, caption, 64);
    g_boxCaption = caption;
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
}
}  // namespace

START_TEST(modal_nesting) {
    fx::Os();
    // Inside a modal run: a message box (its own loop) and a nested modal dialog.
    Probe outer(IDD_MAINDLG);
    outer.onInit = &StartTimer;
    outer.onTimer = [](Probe* p, UINT_PTR) {
        HWND h = H(p->GetSafeHwnd());
        ::KillTimer(h, 1);
        g_boxCaption.clear();
        g_boxOwner = h;
        ::SetTimer(nullptr, 0, 100, &CloseBox);
        p->notes.push_back(fx::Os().MsgBox(p->GetSafeHwnd(), L"nested box", nullptr, MB_OK));

        Probe inner(IDD_MAINDLG);
        inner.onInit = &StartTimer;
        inner.onTimer = [](Probe* q, UINT_PTR) {
            q->notes.push_back(::IsWindowEnabled(::GetParent(H(q->GetSafeHwnd()))));
            q->EndDialog(9);
        };
        p->notes.push_back(inner.DoModal(p->GetSafeHwnd()));
        p->notes.push_back(inner.notes.empty() ? -1 : inner.notes[0]);
        p->notes.push_back(::IsWindowEnabled(h));
        p->EndDialog(10);
    };
    std::intptr_t r = outer.DoModal(0);
    ok(r == 10, "the outer dialog should end with 10, got %ld\n", long(r));
    ok(outer.notes.size() == 4, "4 notes expected, got %u\n", unsigned(outer.notes.size()));
    if (outer.notes.size() == 4) {
        ok(outer.notes[0] == IDOK, "the nested message box should return IDOK, got %ld\n",
           long(outer.notes[0]));
        ok(outer.notes[1] == 9, "the nested dialog should return 9, got %ld\n",
           long(outer.notes[1]));
        ok(outer.notes[2] == 0, "the outer dialog should be disabled under the nested one\n");
        ok(outer.notes[3] == 1, "the outer dialog should be enabled again\n");
    }
    // No caption given: the application title, the program's file name without extension.
    ok(g_boxCaption == L"nbwine_platform", "caption nbwine_platform expected, got %s\n",
       wt::Esc(g_boxCaption).c_str());
}

START_TEST(host_window_helpers) {
    nb::win::Win32Platform& os = fx::Os();
    Probe host(IDD_HOSTDLG);
    Probe sup(IDD_MAINDLG);
    host.Create(0);
    sup.Create(0);
    nb::WindowId h = host.GetSafeHwnd(), s = sup.GetSafeHwnd();
    if (h == 0 || s == 0) return;

    // The host has no system menu; the supervisor template has one.
    ok(os.AppendSystemMenuItem(h, IDM_ABOUTBOX, L"about") == 0,
       "a window without WS_SYSMENU has no system menu to extend\n");
    ok(os.AppendSystemMenuItem(s, IDM_ABOUTBOX, L"\u60c5\u5831(&A)...") == 1,
       "the system menu should take the item\n");
    HMENU sys = ::GetSystemMenu(H(s), FALSE);
    int n = ::GetMenuItemCount(sys);
    wchar_t text[32] = {};
    ::GetMenuStringW(sys, n - 1, text, 32, MF_BYPOSITION);
    ok(n >= 2 && ::GetMenuItemID(sys, n - 1) == IDM_ABOUTBOX &&
           (::GetMenuState(sys, n - 2, MF_BYPOSITION) & MF_SEPARATOR),
       "a separator then item 16 expected at the end, %d items\n", n);
    ok(std::wstring(text) == L"\u60c5\u5831(&A)...", "item text expected, got %s\n",
       wt::Esc(text).c_str());

    // Extended style: only WS_EX_APPWINDOW goes.
    LONG before = ::GetWindowLongW(H(h), GWL_EXSTYLE);
    ok((before & (WS_EX_APPWINDOW | WS_EX_TOOLWINDOW)) == (WS_EX_APPWINDOW | WS_EX_TOOLWINDOW),
       "the host template gives app and tool window styles, got %#lx\n", before);
    os.RemoveAppWindowStyle(h);
    LONG after = ::GetWindowLongW(H(h), GWL_EXSTYLE);
    ok(after == (before & ~WS_EX_APPWINDOW), "%#lx expected, got %#lx\n",
       before & ~WS_EX_APPWINDOW, after);

    // Icons: one shared handle per resource, set big and small.
    std::intptr_t icon = os.IconHandle(IDI_PROGRAM);
    ok(icon != 0 && icon == os.IconHandle(IDI_PROGRAM), "one handle for icon 128 expected\n");
    ok(os.IconHandle(IDI_STOPPED) != icon && os.IconHandle(IDI_STOPPED) != 0,
       "icon 130 should be another handle\n");
    os.SetWindowIcons(h, IDI_PROGRAM);
    ok(::SendMessageW(H(h), WM_GETICON, ICON_BIG, 0) == icon &&
           ::SendMessageW(H(h), WM_GETICON, ICON_SMALL, 0) == icon,
       "both window icons should be icon 128\n");

    os.ShowWin(h, SW_SHOW);
    os.HideAtOrigin(h);
    RECT rc = {1, 1, 1, 1};
    ::GetWindowRect(H(h), &rc);
    ok(!::IsWindowVisible(H(h)) && rc.left == 0 && rc.top == 0 && rc.right == 0 && rc.bottom == 0,
       "hidden at 0,0 with zero size expected, got %ld,%ld-%ld,%ld\n", rc.left, rc.top, rc.right,
       rc.bottom);

    os.MakeTopmost(s);
    ok(::GetWindowLongW(H(s), GWL_EXSTYLE) & WS_EX_TOPMOST, "the supervisor should be topmost\n");
    ok(!::IsWindowVisible(H(s)), "making it topmost should not show it\n");

    ok(os.PaintIconIfMinimized(s, IDI_PROGRAM) == 0, "not minimized: nothing painted expected\n");
    ::ShowWindow(H(s), SW_MINIMIZE);
    ::UpdateWindow(H(s));
    ok(os.PaintIconIfMinimized(s, IDI_PROGRAM) == 1, "minimized: the icon painted expected\n");

    ok(os.StartTimer(s, 7, 20) == 7, "SetTimer should return the id\n");
    ok(os.StopTimer(s, 7) == 1 && os.StopTimer(s, 7) == 0, "the timer should stop once\n");
    ok(os.DialogItem(s, IDOK) == reinterpret_cast<nb::WindowId>(::GetDlgItem(H(s), IDOK)),
       "DialogItem should find the OK button\n");
    sup.DestroyWindow();
    host.DestroyWindow();
}

START_TEST(string_resources) {
    nb::win::Win32Platform& os = fx::Os();
    std::wstring about = os.LoadStringResource(IDS_ABOUTBOX);
    ok(about == L"\u60c5\u5831(&A)...", "string 101 expected, got %s\n", wt::Esc(about).c_str());
    std::wstring sockets = os.LoadStringResource(IDS_SOCKETS_INIT_FAILED);
    ok(sockets.size() == 24 && sockets.compare(0, 8, L"Windows ") == 0,
       "string 103 expected, got %s\n", wt::Esc(sockets).c_str());
    ok(os.LoadStringResource(999).empty(), "a missing string should read empty\n");
}
