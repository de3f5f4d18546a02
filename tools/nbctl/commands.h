// The words nbctl understands and the window message each one posts to the supervisor.
// Plain data, free of windows.h, so that the table is checked natively as well. The ids and
// the title are the program's own, from the headers it is built from.
#pragma once

#include <cstdint>
#include <cwchar>

#include "base/layout.h"
#include "resources/resource.h"
#include "server/server_stop.h"

namespace nbctl {

// Title of the supervisor's hidden window, the one every command is posted to.
constexpr const wchar_t* kWindowTitle = nb::names::kSupervisorTitle;

constexpr std::uint32_t kWmCommand = 0x0111;
constexpr std::uint32_t kWmTrayCallback = WM_TRAY_CALLBACK;  // WM_USER + 100 = 1124
constexpr std::intptr_t kWmLButtonDblClk = 0x0203;           // 515

struct Command {
    const wchar_t* word;
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    const char* summary;
};

constexpr Command kCommands[] = {
    {L"show", kWmCommand, ID_SHOW, 0, "show the supervisor window"},
    {L"backup", kWmCommand, ID_BACKUP, 0, "run the backup script, then say so in a box"},
    {L"restore", kWmCommand, ID_RESTORE, 0, "open the restore dialog"},
    {L"initialize", kWmCommand, ID_INITIALIZE, 0,
     "delete htdocs\\data\\app.db after a confirmation"},
    {L"open", kWmTrayCallback, 0, kWmLButtonDblClk,
     "open the start page (as a double-click on the icon)"},
    {L"about", kWmCommand, ID_TRAY_ABOUT, 0, "show the About box"},
    {L"exit", kWmCommand, ID_TRAY_EXIT, 0, "end the supervisor, which stops the web server"},
};

// The command named exactly by word (lower case, whole word), or nullptr.
inline const Command* FindCommand(const wchar_t* word) {
    if (word == nullptr) return nullptr;
    for (const Command& c : kCommands)
        if (std::wcscmp(c.word, word) == 0) return &c;
    return nullptr;
}

// How long `exit --wait` waits for nbmonitor to end, at most (ms).
constexpr unsigned long kMaxExitWaitMs = 0x7FFFFFFF;

// Its default: the installation's stop_timeout as the supervisor bounds its servers' stop,
// and 10 s beyond for the rest of its end; never less than 30 s.
inline unsigned long DefaultExitWaitMs(unsigned long stopTimeoutMs) {
    const unsigned long stop = nb::BoundedStopMs(static_cast<uint32_t>(stopTimeoutMs));
    return stop + 10000 > 30000 ? stop + 10000 : 30000;
}

// "--wait" (defaultMs) or "--wait=MS" (decimal digits only, at most kMaxExitWaitMs); false
// for anything else.
inline bool ParseWaitOption(const wchar_t* arg, unsigned long defaultMs, unsigned long* ms) {
    if (arg == nullptr || std::wcsncmp(arg, L"--wait", 6) != 0) return false;
    if (arg[6] == L'\0') {
        *ms = defaultMs;
        return true;
    }
    if (arg[6] != L'=' || arg[7] == L'\0') return false;
    unsigned long value = 0;
    for (const wchar_t* p = arg + 7; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9') return false;
        value = value * 10 + static_cast<unsigned long>(*p - L'0');
        if (value > kMaxExitWaitMs) return false;
    }
    *ms = value;
    return true;
}

}  // namespace nbctl
