// Our small window framework: an application object with a start-up hook, dialogs built from
// templates (modal or modeless) with a message table per class, and command routing from an
// owned window to its owner. It talks to the system only through the door (platform/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/dialogs.h"

namespace nb {

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
    CDialog* MainWindow() const { return m_pMainWnd; }
    void SetMainWindow(CDialog* window) { m_pMainWnd = window; }

    static CWinApp* Current();
    static nb::WindowId MainWindowHandle();

private:
    CDialog* m_pMainWnd = nullptr;
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

// A message table: one row per message, command or registered message a class handles, made
// with MessageRows<T>. The first row that matches a message handles it.
template <class T>
struct MessageEntry {
    enum Kind : uint8_t { kMessage, kCommand, kRegistered };
    Kind kind;
    uint32_t key;             // kMessage: the message; kCommand: the command id
    uint32_t T::*registered;  // kRegistered: the member that holds the message's value
    // Handles the message; false lets it go on as if no row had matched.
    bool (*call)(T& self, std::uintptr_t wp, std::intptr_t lp, std::intptr_t* result);
};

template <class T>
struct MessageRows {
    using Entry = MessageEntry<T>;
    using Handler = std::intptr_t (T::*)(std::uintptr_t wp, std::intptr_t lp);

    // A message; the handler returns its result.
    template <Handler H>
    static constexpr Entry Message(uint32_t msg) {
        return {Entry::kMessage, msg, nullptr, &CallMessage<H>};
    }
    // A command (WM_COMMAND from a menu, an accelerator or a button): H(args...), result 0. A
    // handler that returns bool may only look: false lets the command go on to the owner.
    template <auto H, auto... Args>
    static constexpr Entry Command(uint32_t id) {
        return {Entry::kCommand, id, nullptr, &CallCommand<H, Args...>};
    }
    // A message registered at run time, whose value *value holds (0: not registered).
    template <Handler H>
    static constexpr Entry Registered(uint32_t T::*value) {
        return {Entry::kRegistered, 0, value, &CallMessage<H>};
    }

private:
    template <Handler H>
    static bool CallMessage(T& self, std::uintptr_t wp, std::intptr_t lp, std::intptr_t* result) {
        *result = (self.*H)(wp, lp);
        return true;
    }
    template <auto H, auto... Args>
    static bool CallCommand(T& self, std::uintptr_t, std::intptr_t, std::intptr_t* result) {
        *result = 0;
        if constexpr (std::is_same_v<decltype((self.*H)(Args...)), bool>) {
            return (self.*H)(Args...);
        } else {
            (self.*H)(Args...);
            return true;
        }
    }
};

template <class T, std::size_t N>
bool DispatchTable(T* self, const MessageEntry<T> (&table)[N], uint32_t msg, std::uintptr_t wp,
                   std::intptr_t lp, std::intptr_t* result) {
    using Entry = MessageEntry<T>;
    for (const Entry& e : table) {
        bool match = false;
        switch (e.kind) {
        case Entry::kMessage: match = e.key == msg; break;
        case Entry::kCommand:
            match = msg == WM_COMMAND && IsCommand(wp, lp) && LoWord(wp) == e.key;
            break;
        case Entry::kRegistered:
            match = self->*e.registered != 0 && self->*e.registered == msg;
            break;
        }
        if (match) return e.call(*self, wp, lp, result);
    }
    return false;
}

}  // namespace nb
