// Windows, message boxes, timers and window messages over Win32, the notification-area icon
// and its menu, and the host window's details.
#include "platform/win32/windows_support.h"

#include "platform/win32/win32_platform.h"
#include "platform/win32/window_handles.h"

#include <cwchar>

#ifndef _WIN64
static_assert(NOTIFYICONDATAW_V3_SIZE == kNotifyIconDataV3Size,
              "the tray record is the version 3 NOTIFYICONDATAW of 32-bit Windows");
#endif

namespace nb {
namespace win {

const std::wstring& Win32Windows::AppTitle() {
    if (m_appTitle.empty()) {
        std::wstring module;
        if (Win32Processes().ModulePath(module, kMaxModulePathChars)) m_appTitle = FileStem(module);
    }
    return m_appTitle;
}

void* Win32Windows::LoadedIcon(int iconId) {
    auto it = m_icons.find(iconId);
    if (it != m_icons.end()) return it->second;
    // LoadIcon gives a shared icon: the system frees it with the module, never we.
    HICON icon = ::LoadIconW(Module(), MAKEINTRESOURCEW(iconId));
    if (icon != nullptr) m_icons[iconId] = icon;
    return icon;
}

int Win32Windows::MsgBox(WindowId owner, const std::wstring& text, const wchar_t* caption,
                         uint32_t style) {
    return ::MessageBoxW(H(owner), text.c_str(), caption != nullptr ? caption : AppTitle().c_str(),
                         style);
}

std::uintptr_t Win32Windows::StartTimer(WindowId hwnd, std::uintptr_t id, uint32_t ms) {
    return ::SetTimer(H(hwnd), id, ms, nullptr);
}

int Win32Windows::StopTimer(WindowId hwnd, std::uintptr_t id) {
    return ::KillTimer(H(hwnd), id) ? 1 : 0;
}

void Win32Windows::MakeTopmost(WindowId hwnd) {
    ::SetWindowPos(H(hwnd), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void Win32Windows::HideAtOrigin(WindowId hwnd) {
    ::SetWindowPos(H(hwnd), HWND_TOP, 0, 0, 0, 0, SWP_HIDEWINDOW);
}

void Win32Windows::ShowWin(WindowId hwnd, int showCmd) { ::ShowWindow(H(hwnd), showCmd); }

void Win32Windows::SetTitle(WindowId hwnd, const std::wstring& title) {
    ::SetWindowTextW(H(hwnd), title.c_str());
}

WindowId Win32Windows::FindWindowByTitle(const std::wstring& title) {
    return W(::FindWindowW(nullptr, title.c_str()));
}

int Win32Windows::PostMsg(WindowId hwnd, uint32_t msg, std::uintptr_t wp, std::intptr_t lp) {
    return ::PostMessageW(H(hwnd), msg, wp, lp) ? 1 : 0;
}

std::intptr_t Win32Windows::SendMsg(WindowId hwnd, uint32_t msg, std::uintptr_t wp,
                                    std::intptr_t lp) {
    return ::SendMessageW(H(hwnd), msg, wp, lp);
}

WindowId Win32Windows::OwnerOf(WindowId hwnd) { return W(::GetParent(H(hwnd))); }

uint32_t Win32Windows::RegisterMessage(const std::wstring& name) {
    return ::RegisterWindowMessageW(name.c_str());
}

int Win32Windows::AllowForegroundTo(WindowId hwnd) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(H(hwnd), &pid);
    if (pid == 0) return 0;
    return ::AllowSetForegroundWindow(pid) ? 1 : 0;
}

int Win32Windows::AllowMessageFromBelow(WindowId hwnd, uint32_t msg) {
    // Windows 7 and later; looked up so that an older system still starts.
    using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    HMODULE user = ::GetModuleHandleW(L"user32.dll");
    auto filter = user != nullptr ? reinterpret_cast<FilterFn>(reinterpret_cast<void*>(
                                        ::GetProcAddress(user, "ChangeWindowMessageFilterEx")))
                                  : nullptr;
    if (filter == nullptr) return 0;
    return filter(H(hwnd), msg, 1 /* MSGFLT_ALLOW */, nullptr) ? 1 : 0;
}

int Win32Windows::NotifyIcon(uint32_t operation, const NotifyIconRecord& record) {
    NOTIFYICONDATAW nid = {};
    // The logic names the version 3 record by its 32-bit size; a 64-bit build passes its own.
    nid.cbSize = record.cbSize == kNotifyIconDataV3Size ? NOTIFYICONDATAW_V3_SIZE : record.cbSize;
    nid.hWnd = H(record.hWnd);
    nid.uID = record.uID;
    nid.uFlags = record.uFlags;
    nid.uCallbackMessage = record.uCallbackMessage;
    nid.hIcon = record.iconId != 0 ? static_cast<HICON>(LoadedIcon(record.iconId)) : nullptr;
    std::wcsncpy(nid.szTip, record.tip.c_str(), ARRAYSIZE(nid.szTip) - 1);
    if (record.uFlags & NIF_INFO) {
        std::wcsncpy(nid.szInfo, record.info.c_str(), ARRAYSIZE(nid.szInfo) - 1);
        std::wcsncpy(nid.szInfoTitle, record.infoTitle.c_str(), ARRAYSIZE(nid.szInfoTitle) - 1);
        nid.dwInfoFlags = record.infoFlags;
    }
    return ::Shell_NotifyIconW(operation, &nid) ? 1 : 0;
}

int Win32Windows::TrackTrayMenu(int menuId, WindowId owner) {
    POINT pt = {};
    ::GetCursorPos(&pt);
    ::SetForegroundWindow(H(owner));  // else the menu does not close on a click elsewhere
    ScopedHMenu menu(::LoadMenuW(Module(), MAKEINTRESOURCEW(menuId)));
    if (!menu) return 0;
    HMENU popup = ::GetSubMenu(menu.Get(), 0);
    if (popup == nullptr) return 0;
    return ::TrackPopupMenu(popup, TPM_RIGHTBUTTON, pt.x, pt.y, 0, H(owner), nullptr);
}

int Win32Windows::AppendSystemMenuItem(WindowId hwnd, uint32_t id, const std::wstring& text) {
    HMENU menu = ::GetSystemMenu(H(hwnd), FALSE);
    if (menu == nullptr) return 0;
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, id, text.c_str());
    return 1;
}

std::wstring Win32Windows::LoadStringResource(uint32_t id) {
    // With a zero buffer size LoadStringW hands out the resource's own text, which is not
    // terminated; the result is its length.
    const wchar_t* text = nullptr;
    int n = ::LoadStringW(Module(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (n <= 0 || text == nullptr) return std::wstring();
    return std::wstring(text, static_cast<std::size_t>(n));
}

void Win32Windows::SetWindowIcons(WindowId hwnd, int iconId) {
    LPARAM icon = reinterpret_cast<LPARAM>(LoadedIcon(iconId));
    ::SendMessageW(H(hwnd), WM_SETICON, ICON_BIG, icon);
    ::SendMessageW(H(hwnd), WM_SETICON, ICON_SMALL, icon);
}

void Win32Windows::RemoveAppWindowStyle(WindowId hwnd) {
    LONG ex = ::GetWindowLongW(H(hwnd), GWL_EXSTYLE);
    if (ex & WS_EX_APPWINDOW) ::SetWindowLongW(H(hwnd), GWL_EXSTYLE, ex & ~WS_EX_APPWINDOW);
}

int Win32Windows::PaintIconIfMinimized(WindowId hwnd, int iconId) {
    if (!::IsIconic(H(hwnd))) return 0;
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(H(hwnd), &ps);
    ::SendMessageW(H(hwnd), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT rc;
    ::GetClientRect(H(hwnd), &rc);
    int x = (rc.right - rc.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (rc.bottom - rc.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, static_cast<HICON>(LoadedIcon(iconId)));
    ::EndPaint(H(hwnd), &ps);
    return 1;
}

std::intptr_t Win32Windows::IconHandle(int iconId) {
    return reinterpret_cast<std::intptr_t>(LoadedIcon(iconId));
}

}  // namespace win
}  // namespace nb
