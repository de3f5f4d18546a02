// nbmintray.exe: the smallest resident tray program that does what nbmonitor does at rest -
// a hidden window, one notification-area icon from its own resources, a message loop. The
// benchmark starts it in the same Wine prefix as nbmonitor and compares memory and idle CPU.
// WM_CLOSE ends it and removes the icon.
//
// Arguments add, once at start, one more of the things nbmonitor does, so that the benchmark
// can tell what each of them costs (without arguments the program is the bare yardstick):
//   manifest <exe>   activate the manifest of <exe> (nbmonitor.exe: common controls 6)
//   comctl           InitCommonControlsEx with the classes nbmonitor asks for
//   sockets          Windows Sockets: start-up, one listen probe, one connection attempt
//   dialog           a hidden modeless dialog from a template like nbmonitor's supervisor
//   url <url>        ShellExecuteW "open" of the URL, as nbmonitor opens its start page
//   timer <ms>       a periodic timer whose tick asks a process for its exit code, as
//                    nbmonitor's monitor tick does for the server
//   icon             with timer: each tick also sends the icon afresh (NIM_MODIFY), as
//                    nbmonitor's tick does
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
#include <cwchar>

namespace {

const wchar_t kTitle[] = L"nbmintray";
const UINT kTrayMessage = WM_USER + 100;
const int kDialogId = 2;
const UINT_PTR kTimerId = 1;

NOTIFYICONDATAW g_nid;
bool g_iconEveryTick = false;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    if (msg == WM_TIMER && wp == kTimerId) {
        DWORD code = 0;
        ::GetExitCodeProcess(::GetCurrentProcess(), &code);
        if (g_iconEveryTick) ::Shell_NotifyIconW(NIM_MODIFY, &g_nid);
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

INT_PTR CALLBACK DialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// The variants load their libraries at run time: the bare program must not import them.
template <typename F>
F Proc(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

void UseCommonControls() {
    HMODULE comctl = ::LoadLibraryW(L"comctl32.dll");
    auto init = Proc<BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*)>(comctl, "InitCommonControlsEx");
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
    if (init != nullptr) init(&icc);
}

void UseSockets() {
    HMODULE ws = ::LoadLibraryW(L"ws2_32.dll");
    auto startup = Proc<int(WINAPI*)(WORD, WSADATA*)>(ws, "WSAStartup");
    auto open = Proc<SOCKET(WINAPI*)(int, int, int)>(ws, "socket");
    auto bindTo = Proc<int(WINAPI*)(SOCKET, const sockaddr*, int)>(ws, "bind");
    auto listenOn = Proc<int(WINAPI*)(SOCKET, int)>(ws, "listen");
    auto connectTo = Proc<int(WINAPI*)(SOCKET, const sockaddr*, int)>(ws, "connect");
    auto close = Proc<int(WINAPI*)(SOCKET)>(ws, "closesocket");
    if (!startup || !open || !bindTo || !listenOn || !connectTo || !close) return;
    WSADATA wsa;
    startup(MAKEWORD(2, 0), &wsa);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = 0x0100007f;  // 127.0.0.1, network order
    SOCKET s = open(AF_INET, SOCK_STREAM, 0);
    bindTo(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listenOn(s, 5);
    close(s);
    a.sin_port = 0x0100;  // port 1, network order: nothing listens there
    s = open(AF_INET, SOCK_STREAM, 0);
    connectTo(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    close(s);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    HWND dialog = nullptr;
    UINT tickMs = 0;
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        const wchar_t* arg = argv[i];
        if (std::wcscmp(arg, L"manifest") == 0 && i + 1 < argc) {
            ACTCTXW ctx = {};
            ctx.cbSize = sizeof ctx;
            ctx.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
            ctx.lpSource = argv[++i];
            ctx.lpResourceName = MAKEINTRESOURCEW(1);
            HANDLE h = ::CreateActCtxW(&ctx);
            ULONG_PTR cookie = 0;
            if (h != INVALID_HANDLE_VALUE) ::ActivateActCtx(h, &cookie);
        } else if (std::wcscmp(arg, L"comctl") == 0) {
            UseCommonControls();
        } else if (std::wcscmp(arg, L"sockets") == 0) {
            UseSockets();
        } else if (std::wcscmp(arg, L"dialog") == 0) {
            dialog = ::CreateDialogW(instance, MAKEINTRESOURCEW(kDialogId), nullptr, DialogProc);
        } else if (std::wcscmp(arg, L"url") == 0 && i + 1 < argc) {
            ::ShellExecuteW(nullptr, L"open", argv[++i], nullptr, L"", SW_SHOW);
        } else if (std::wcscmp(arg, L"timer") == 0 && i + 1 < argc) {
            tickMs = static_cast<UINT>(std::wcstoul(argv[++i], nullptr, 10));
        } else if (std::wcscmp(arg, L"icon") == 0) {
            g_iconEveryTick = true;
        }
    }

    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kTitle;
    if (!::RegisterClassW(&wc)) return 1;
    HWND hwnd = ::CreateWindowW(kTitle, kTitle, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                instance, nullptr);
    if (hwnd == nullptr) return 1;

    NOTIFYICONDATAW& nid = g_nid;
    nid.cbSize = NOTIFYICONDATAW_V3_SIZE;
    nid.hWnd = hwnd;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = kTrayMessage;
    nid.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
    std::wcsncpy(nid.szTip, kTitle, sizeof nid.szTip / sizeof nid.szTip[0] - 1);
    ::Shell_NotifyIconW(NIM_ADD, &nid);
    if (tickMs != 0) ::SetTimer(hwnd, kTimerId, tickMs, nullptr);

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (dialog != nullptr && ::IsDialogMessageW(dialog, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    ::Shell_NotifyIconW(NIM_DELETE, &nid);
    return 0;
}
