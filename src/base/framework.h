// Our small window framework: an application object with a start-up hook, dialogs built from
// templates (modal or modeless) with a message table per class, and command routing from an
// owned window to its owner. It talks to the system only through nb::Os().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

inline uint16_t LoWord(std::uintptr_t v) { return static_cast<uint16_t>(v & 0xFFFF); }
inline uint16_t HiWord(std::uintptr_t v) { return static_cast<uint16_t>((v >> 16) & 0xFFFF); }

// A WM_COMMAND is a command: from a menu or an accelerator (lParam 0; the high word is 0 or
// 1), or a control's BN_CLICKED (the high word 0). Other notifications of a control are not.
inline bool IsCommand(std::uintptr_t wp, std::intptr_t lp) { return lp == 0 || HiWord(wp) == 0; }

// Command ids that an unhandled WM_COMMAND passes on to the owner window.
constexpr uint32_t kFirstRoutedCommand = 0x8000;  // 32768
constexpr uint32_t kLastRoutedCommand = 0xEFFF;   // 61439

class CDialog;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Start-up; returning false ends the process without a message loop.
    virtual bool InitInstance() { return false; }
    virtual int ExitInstance() { return 0; }

    // Runs InitInstance and, when it returned true, nothing else: this program never runs
    // a loop of its own after it. ExitInstance always follows.
    int Run();

    // The executable's file name without folder and extension: caption of the boxes given
    // no caption, and the single-instance mutex's name.
    const std::wstring& Title() const { return m_title; }
    void SetTitle(const std::wstring& title) { m_title = title; }

    // Path of the settings file every settings read uses (MFC's profile name); empty until
    // the application has fixed it.
    virtual const wchar_t* SettingsPath() const { return L""; }

    // The main window: owner of every dialog created without one.
    CDialog* m_pMainWnd = nullptr;

    static CWinApp* Current();
    static nb::WindowId MainWindowHandle();

private:
    std::wstring m_title;
};

class CDialog : public nb::IMessageTarget {
public:
    explicit CDialog(int templateId) : m_templateId(templateId) {}
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Modal run with its own loop; returns the value given to EndDialog.
    std::intptr_t DoModal(nb::WindowId owner = 0);
    // Modeless creation; runs WM_CREATE and WM_INITDIALOG before it returns.
    bool Create(nb::WindowId owner = 0);
    void DestroyWindow();
    void EndDialog(std::intptr_t result);

    nb::WindowId GetSafeHwnd() const { return m_hWnd; }
    int TemplateId() const { return m_templateId; }

    // Entry of every message the window receives (the platform calls it).
    std::intptr_t WindowProc(uint32_t msg, std::uintptr_t wp, std::intptr_t lp) override;
    // Offered every message of the modal loop before dispatch; true consumes it.
    bool PreTranslateMessage(const nb::QueuedMessage& msg) override;

    // Called by the platform when the window comes to be and when it is gone.
    void Attach(nb::WindowId hwnd) override { m_hWnd = hwnd; }
    void Detach() override { m_hWnd = 0; }

protected:
    virtual bool OnInitDialog();
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    // The class's own message table: returns true when it handled the message.
    virtual bool OnMessage(uint32_t msg, std::uintptr_t wp, std::intptr_t lp,
                           std::intptr_t* result);

    std::intptr_t Default(uint32_t msg, std::uintptr_t wp, std::intptr_t lp);

    nb::WindowId m_hWnd = 0;

private:
    bool OnWndMsg(uint32_t msg, std::uintptr_t wp, std::intptr_t lp, std::intptr_t* result);
    bool RouteCommand(std::uintptr_t wp, std::intptr_t lp);

    int m_templateId;
    bool m_modal = false;
};

// A message table: rows of {message, command id (WM_COMMAND only), member handler}.
template <class T>
struct MessageEntry {
    uint32_t message;
    uint32_t commandId;
    std::intptr_t (T::*handler)(std::uintptr_t wp, std::intptr_t lp);
};

template <class T, std::size_t N>
bool DispatchTable(T* self, const MessageEntry<T> (&table)[N], uint32_t msg, std::uintptr_t wp,
                   std::intptr_t lp, std::intptr_t* result) {
    for (const auto& e : table) {
        if (e.message != msg) continue;
        if (msg == WM_COMMAND && (!IsCommand(wp, lp) || LoWord(wp) != e.commandId)) continue;
        *result = (self->*e.handler)(wp, lp);
        return true;
    }
    return false;
}
