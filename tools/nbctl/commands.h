// The words nbctl understands and the window message each one posts to the supervisor.
// Plain data, free of windows.h, so that the table is checked natively as well.
#pragma once

#include <cstdint>
#include <cwchar>

namespace nbctl {

// Title of the supervisor's hidden window, the one every command is posted to.
constexpr wchar_t kWindowTitle[] = L"nbmonitorDlg";

constexpr std::uint32_t kWmCommand = 0x0111;
constexpr std::uint32_t kWmTrayCallback = 0x0400 + 100;  // WM_USER + 100 = 1124
constexpr std::intptr_t kWmLButtonDblClk = 0x0203;        // 515

struct Command {
    const wchar_t* word;
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    const char* summary;
};

constexpr Command kCommands[] = {
    {L"show", kWmCommand, 32771, 0, "show the supervisor window"},
    {L"backup", kWmCommand, 32776, 0, "run the backup script, then say so in a box"},
    {L"restore", kWmCommand, 32778, 0, "open the restore dialog"},
    {L"initialize", kWmCommand, 32779, 0, "delete htdocs\\data\\app.db after a confirmation"},
    {L"open", kWmTrayCallback, 0, kWmLButtonDblClk, "open the start page (as a double-click on the icon)"},
    {L"about", kWmCommand, 32777, 0, "show the About box"},
    {L"exit", kWmCommand, 32773, 0, "end the supervisor, which stops the web server"},
};

// The command named exactly by word (lower case, whole word), or nullptr.
inline const Command* FindCommand(const wchar_t* word) {
    if (word == nullptr) return nullptr;
    for (const Command& c : kCommands)
        if (std::wcscmp(c.word, word) == 0) return &c;
    return nullptr;
}

// How long `exit --wait` waits for nbmonitor to end by default, and at most (ms).
constexpr unsigned long kDefaultExitWaitMs = 30000;
constexpr unsigned long kMaxExitWaitMs = 0x7FFFFFFF;

// "--wait" (the default time) or "--wait=MS" (decimal digits only, at most kMaxExitWaitMs);
// false for anything else.
inline bool ParseWaitOption(const wchar_t* arg, unsigned long* ms) {
    if (arg == nullptr || std::wcsncmp(arg, L"--wait", 6) != 0) return false;
    if (arg[6] == L'\0') {
        *ms = kDefaultExitWaitMs;
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
