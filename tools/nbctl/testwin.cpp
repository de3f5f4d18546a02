// nbtestwin: a hidden window titled like the supervisor's ("nbmonitorDlg" unless told
// otherwise) that appends every command it receives to a log, for testing nbctl and scripts
// without the real program.
//   nbtestwin.exe LOG [TITLE] [TIMEOUT_MS]
// Log lines: "ready", then "msg=<message> wp=<wParam> lp=<lParam>" per WM_COMMAND or
// message 1124. WM_COMMAND 32773 (exit) ends it, and so does TIMEOUT_MS (default 60000).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "resources/resource.h"

namespace {

std::wstring g_log;

void Log(const char* line) {
    HANDLE h = ::CreateFileW(g_log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(h, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    ::WriteFile(h, "\r\n", 2, &written, nullptr);
    ::CloseHandle(h);
}

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COMMAND || msg == WM_TRAY_CALLBACK) {
        char line[96];
        std::snprintf(line, sizeof line, "msg=%u wp=%lu lp=%ld", msg,
                      static_cast<unsigned long>(wp), static_cast<long>(lp));
        Log(line);
        if (msg == WM_COMMAND && LOWORD(wp) == ID_TRAY_EXIT) ::DestroyWindow(hwnd);
        return 0;
    }
    if (msg == WM_TIMER) {
        Log("timeout");
        ::DestroyWindow(hwnd);
        return 0;
    }
    if (msg == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    g_log = argv[1];
    const wchar_t* title = argc > 2 ? argv[2] : L"nbmonitorDlg";
    UINT timeout = argc > 3 ? static_cast<UINT>(std::wcstoul(argv[3], nullptr, 10)) : 60000;

    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.lpszClassName = L"nbtestwin";
    if (!::RegisterClassW(&wc)) return 1;
    HWND hwnd = ::CreateWindowExW(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                  nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 1;
    ::SetTimer(hwnd, 1, timeout, nullptr);
    Log("ready");
    MSG m;
    while (::GetMessageW(&m, nullptr, 0, 0) > 0) ::DispatchMessageW(&m);
    return 0;
}
