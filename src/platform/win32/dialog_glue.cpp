// The framework's dialogs on real windows, in the manner of MFC: a thread CBT hook catches
// the dialog window as it is created and subclasses it, so that every message from the very
// first one reaches the message target's WindowProc; the dialog manager's own window
// procedure (DefDlgProc) becomes the default processing. Modal dialogs run their own loop.
#include "platform/win32/windows_support.h"

#include "platform/win32/win32_platform.h"
#include "platform/win32/window_handles.h"

#include <unordered_map>

namespace nb {
namespace win {

namespace {

struct ModalState {
    bool running = true;
    INT_PTR result = -1;
};

struct Binding {
    IMessageTarget* self = nullptr;
    WNDPROC original = nullptr;
    ModalState* modal = nullptr;  // set while a modal run owns the window
    bool attached = false;
};

// Windows of this thread that belong to a message target. The program has one GUI thread.
std::unordered_map<HWND, Binding>& Bindings() {
    static std::unordered_map<HWND, Binding> map;
    return map;
}

Binding* Find(HWND hwnd) {
    auto it = Bindings().find(hwnd);
    return it == Bindings().end() ? nullptr : &it->second;
}

// The creation in progress. Creations nest (a dialog's WM_INITDIALOG may create another
// dialog), so each keeps the outer one and restores it.
struct PendingCreation {
    IMessageTarget* self;
    ModalState* modal;
};
PendingCreation* g_pending = nullptr;

LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Binding* b = Find(hwnd);
    if (b == nullptr) return ::DefDlgProcW(hwnd, msg, wp, lp);
    IMessageTarget* self = b->self;
    if (!b->attached) {
        b->attached = true;
        self->Attach(W(hwnd));
    }
    LRESULT result = self->WindowProc(msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        // The map may have changed while the message ran; look the window up again.
        Binding* gone = Find(hwnd);
        if (gone != nullptr) {
            ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gone->original));
            if (gone->modal != nullptr) gone->modal->running = false;
            Bindings().erase(hwnd);
        }
        self->Detach();
    }
    return result;
}

bool IsImeWindow(HWND hwnd, const CREATESTRUCTW* cs) {
    // The system may create the thread's default IME window inside the dialog's creation;
    // it must not be taken for the dialog (MFC skips it the same way).
    if (::GetClassLongW(hwnd, GCL_STYLE) & CS_IME) return true;
    wchar_t name[8] = {};
    if (cs != nullptr && !IS_INTRESOURCE(cs->lpszClass))
        lstrcpynW(name, cs->lpszClass, 8);
    else
        ::GetClassNameW(hwnd, name, 8);
    return ::lstrcmpiW(name, L"ime") == 0;
}

LRESULT CALLBACK CbtHook(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_CREATEWND && g_pending != nullptr && g_pending->self != nullptr) {
        HWND hwnd = reinterpret_cast<HWND>(wp);
        const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(lp)->lpcs;
        if (!IsImeWindow(hwnd, cs)) {
            Binding b;
            b.self = g_pending->self;
            b.modal = g_pending->modal;
            b.original = reinterpret_cast<WNDPROC>(
                ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc)));
            Bindings()[hwnd] = b;
            g_pending->self = nullptr;  // the controls that follow are not ours
        }
    }
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

// Everything is done by the subclass; the dialog manager then does its defaults.
INT_PTR CALLBACK NullDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

HWND CreateBound(int templateId, HWND owner, IMessageTarget* self, ModalState* modal) {
    PendingCreation pending = {self, modal};
    PendingCreation* outer = g_pending;
    g_pending = &pending;
    HHOOK hook = ::SetWindowsHookExW(WH_CBT, &CbtHook, nullptr, ::GetCurrentThreadId());
    HWND hwnd = nullptr;
    if (hook != nullptr) {
        hwnd = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId),
                                    owner, &NullDialogProc, 0);
        ::UnhookWindowsHookEx(hook);
    }
    g_pending = outer;
    return hwnd;
}

// Who gets to translate a message before it is dispatched, as MFC's pre-translation walk
// does: from the target window up through its parents and owners, each dialog of ours is
// offered the message (its PreTranslateMessage, then the dialog manager's keyboard
// handling); the walk stops at the dialog whose loop runs, and that dialog always has its
// turn, last if the message is not in its tree.
bool PreTranslate(IMessageTarget* self, HWND selfHwnd, MSG& msg) {
    QueuedMessage text;
    text.hwnd = W(msg.hwnd);
    text.message = msg.message;
    text.wParam = msg.wParam;
    text.lParam = msg.lParam;
    bool selfOffered = false;
    for (HWND h = msg.hwnd; h != nullptr; h = ::GetParent(h)) {
        Binding* b = Find(h);
        if (b != nullptr) {
            IMessageTarget* dlg = b->self;
            if (dlg == self) selfOffered = true;
            if (dlg->PreTranslateMessage(text)) return true;
            if (::IsDialogMessageW(h, &msg)) return true;
        }
        if (h == selfHwnd) break;
    }
    return !selfOffered && self->PreTranslateMessage(text);
}

// The window a modal dialog disables: the top-level window of the owner given.
HWND TopLevelOwner(HWND owner) {
    if (owner == nullptr) return nullptr;
    HWND root = ::GetAncestor(owner, GA_ROOT);
    return root != nullptr ? root : owner;
}

// Disables the owner for the modal run and enables it again, once: at Restore or when the
// run ends early. An owner that was disabled already is left as it is.
class OwnerDisabled {
public:
    explicit OwnerDisabled(HWND owner)
        : m_owner(owner != nullptr && ::IsWindowEnabled(owner) ? owner : nullptr) {
        if (m_owner != nullptr) ::EnableWindow(m_owner, FALSE);
    }
    ~OwnerDisabled() { Restore(); }
    OwnerDisabled(const OwnerDisabled&) = delete;
    OwnerDisabled& operator=(const OwnerDisabled&) = delete;

    void Restore() {
        if (m_owner != nullptr) ::EnableWindow(m_owner, TRUE);
        m_owner = nullptr;
    }

private:
    HWND m_owner;
};

// The modal loop, until EndModal, WM_QUIT or a failed GetMessage. A dialog that is not visible
// yet is shown once its queue first runs dry, after the messages its creation left behind: so
// it appears fully initialised.
void RunModalLoop(HWND hwnd, IMessageTarget* self, ModalState& state) {
    bool showWhenIdle = (::GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) == 0;
    MSG msg;
    while (state.running) {
        if (showWhenIdle && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!::IsWindow(hwnd)) break;
            ::ShowWindow(hwnd, SW_SHOWNORMAL);
            ::UpdateWindow(hwnd);
            showWhenIdle = false;
            continue;  // showing may have ended the run or queued messages
        }
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT is for the outermost loop: leave, and put it back for the next one.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            state.result = -1;
            break;
        }
        if (got == -1) {
            state.result = -1;
            break;
        }
        if (!PreTranslate(self, hwnd, msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

// After the loop: the dialog hidden, the owner enabled and activated again, the dialog gone.
void LeaveModal(HWND hwnd, HWND ownerTop, OwnerDisabled& ownerOff) {
    if (Binding* b = Find(hwnd)) b->modal = nullptr;
    if (::IsWindow(hwnd)) {
        // Hidden before the owner comes back, so that the owner is what gets activated.
        ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    }
    ownerOff.Restore();
    if (ownerTop != nullptr && ::GetActiveWindow() == hwnd) ::SetActiveWindow(ownerTop);
    if (::IsWindow(hwnd)) ::DestroyWindow(hwnd);
}

}  // namespace

WindowId Win32Dialogs::CreateDialogWindow(int templateId, WindowId owner, IMessageTarget* self) {
    return W(CreateBound(templateId, H(owner), self, nullptr));
}

std::intptr_t Win32Dialogs::RunModalDialog(int templateId, WindowId owner, IMessageTarget* self) {
    HWND ownerTop = TopLevelOwner(H(owner));
    OwnerDisabled ownerOff(ownerTop);
    ModalState state;
    HWND hwnd = CreateBound(templateId, ownerTop, self, &state);
    if (hwnd == nullptr) return -1;
    RunModalLoop(hwnd, self, state);
    LeaveModal(hwnd, ownerTop, ownerOff);
    return state.result;
}

void Win32Dialogs::EndModal(WindowId hwnd, std::intptr_t result) {
    Binding* b = Find(H(hwnd));
    if (b == nullptr || b->modal == nullptr) {
        ::ShowWindow(H(hwnd), SW_HIDE);
        return;
    }
    b->modal->result = result;
    if (b->modal->running) {
        b->modal->running = false;
        // Wakes the loop if it is waiting in GetMessage.
        ::PostMessageW(H(hwnd), WM_NULL, 0, 0);
    }
}

void Win32Dialogs::DestroyWin(WindowId hwnd) {
    if (hwnd != 0 && ::IsWindow(H(hwnd))) ::DestroyWindow(H(hwnd));
}

std::intptr_t Win32Dialogs::DefaultProc(WindowId hwnd, uint32_t msg, std::uintptr_t wp,
                                        std::intptr_t lp) {
    Binding* b = Find(H(hwnd));
    if (b != nullptr && b->original != nullptr)
        return ::CallWindowProcW(b->original, H(hwnd), msg, wp, lp);
    return ::DefWindowProcW(H(hwnd), msg, wp, lp);
}

}  // namespace win
}  // namespace nb
