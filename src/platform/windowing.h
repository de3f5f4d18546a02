// Windows, message boxes, timers, window messages, and the notification-area icon with its
// menu.
// Part of the door between the logic and the system (platform.h); the logic calls these
// through Windows(), which the entry point or a test has installed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handles.h"
#include "platform/winapi_values.h"

namespace nb {

// What the logic puts into the notification-area record; the Win32 layer turns iconId into
// a shared icon loaded from the program's own resources.
struct NotifyIconRecord {
    uint32_t cbSize = 0;
    WindowId hWnd = 0;
    uint32_t uID = 0;
    uint32_t uFlags = 0;
    uint32_t uCallbackMessage = 0;
    int iconId = 0;
    std::wstring tip;
    // A balloon, used only when uFlags holds NIF_INFO.
    std::wstring info;
    std::wstring infoTitle;
    uint32_t infoFlags = 0;
};

class IWindows {
public:
    // caption may be null: the system then shows the application title.
    virtual int MsgBox(WindowId owner, const std::wstring& text, const wchar_t* caption,
                       uint32_t style) = 0;
    virtual std::uintptr_t StartTimer(WindowId hwnd, std::uintptr_t id, uint32_t ms) = 0;
    virtual int StopTimer(WindowId hwnd, std::uintptr_t id) = 0;
    virtual void MakeTopmost(WindowId hwnd) = 0;   // HWND_TOPMOST, SWP_NOMOVE|SWP_NOSIZE
    virtual void HideAtOrigin(WindowId hwnd) = 0;  // HWND_TOP, 0,0,0,0, SWP_HIDEWINDOW
    virtual void ShowWin(WindowId hwnd, int showCmd) = 0;
    virtual void SetTitle(WindowId hwnd, const std::wstring& title) = 0;
    virtual WindowId FindWindowByTitle(const std::wstring& title) = 0;
    virtual int PostMsg(WindowId hwnd, uint32_t msg, std::uintptr_t wp, std::intptr_t lp) = 0;
    virtual std::intptr_t SendMsg(WindowId hwnd, uint32_t msg, std::uintptr_t wp,
                                  std::intptr_t lp) = 0;
    // The owner of a popup window (GetParent), 0 when none.
    virtual WindowId OwnerOf(WindowId hwnd) = 0;
    virtual uint32_t RegisterMessage(const std::wstring& name) = 0;
    // Lets the process that owns the window take the foreground (AllowSetForegroundWindow
    // with that process's id), before a message asks it to show something. 0 on failure.
    virtual int AllowForegroundTo(WindowId hwnd) = 0;
    // Lets the message reach the window from processes of a lower integrity level
    // (ChangeWindowMessageFilterEx); 0 where the system has no such call or it fails.
    virtual int AllowMessageFromBelow(WindowId hwnd, uint32_t msg) = 0;
    virtual int NotifyIcon(uint32_t operation, const NotifyIconRecord& record) = 0;
    // The tray icon's popup menu: loads the menu resource, brings owner to the foreground (else
    // the menu does not close on a click elsewhere), tracks the menu's first submenu at the
    // cursor (TPM_RIGHTBUTTON) for owner and destroys it again. 0 when it cannot be loaded.
    virtual int TrackTrayMenu(int menuId, WindowId owner) = 0;
    // Appends a separator and the item to the system menu; 0 when there is no system menu.
    virtual int AppendSystemMenuItem(WindowId hwnd, uint32_t id, const std::wstring& text) = 0;
    virtual std::wstring LoadStringResource(uint32_t id) = 0;
    virtual void SetWindowIcons(WindowId hwnd, int iconId) = 0;  // WM_SETICON big, then small
    virtual void RemoveAppWindowStyle(WindowId hwnd) = 0;
    // A minimized window's WM_PAINT: paints the icon in the middle of its client area; 0 (and
    // nothing painted) when it is not minimized.
    virtual int PaintIconIfMinimized(WindowId hwnd, int iconId) = 0;
    virtual std::intptr_t IconHandle(int iconId) = 0;

protected:
    ~IWindows() = default;
};

IWindows& Windows();

}  // namespace nb
