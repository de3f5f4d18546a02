// The hidden host dialog (never seen: zero-sized tool window) and the About box.
#pragma once

#include "base/framework.h"
#include "platform/dialogs.h"

namespace nb {

class CMainDlg;

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
};

class CnbmonitorDlg : public CDialog {
public:
    CnbmonitorDlg();
    ~CnbmonitorDlg() override;

    bool PreTranslateMessage(const nb::QueuedMessage& msg) override;

    CMainDlg* Supervisor() const { return m_supervisor; }

protected:
    bool OnInitDialog() override;
    bool OnMessage(uint32_t msg, std::uintptr_t wp, std::intptr_t lp,
                   std::intptr_t* result) override;

private:
    std::intptr_t OnSysCommand(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnPaint(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnQueryDragIcon(std::uintptr_t wp, std::intptr_t lp);
    std::intptr_t OnDestroy(std::uintptr_t wp, std::intptr_t lp);
    void ShowAbout();

    std::intptr_t m_icon;
    CMainDlg* m_supervisor = nullptr;
};

}  // namespace nb
