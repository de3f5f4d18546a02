// Checks nbctl's command table. Builds for Windows (nbctl_test.exe, run under Wine) and
// natively (g++ -std=c++17 commands_test.cpp); prints "N passed, M failed" last.
#include <cstdio>
#include <cwchar>
#include <set>
#include <string>

#include "commands.h"

static int passed = 0, failed = 0;

static void Check(bool ok, const char* what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL: %s\n", what);
    }
}

static bool Posts(const wchar_t* word, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    const nbctl::Command* c = nbctl::FindCommand(word);
    return c && c->message == message && c->wParam == wParam && c->lParam == lParam;
}

int main() {
    // The supervisor's window interface: WM_COMMAND ids and the tray double-click.
    Check(Posts(L"show", 0x0111, 32771, 0), "show posts WM_COMMAND 32771");
    Check(Posts(L"backup", 0x0111, 32776, 0), "backup posts WM_COMMAND 32776");
    Check(Posts(L"restore", 0x0111, 32778, 0), "restore posts WM_COMMAND 32778");
    Check(Posts(L"initialize", 0x0111, 32779, 0), "initialize posts WM_COMMAND 32779");
    Check(Posts(L"about", 0x0111, 32777, 0), "about posts WM_COMMAND 32777");
    Check(Posts(L"exit", 0x0111, 32773, 0), "exit posts WM_COMMAND 32773");
    Check(Posts(L"open", 1124, 0, 515), "open posts message 1124 with wParam 0, lParam 515");
    Check(std::wcscmp(nbctl::kWindowTitle, L"nbmonitorDlg") == 0, "window title");

    // Only whole, exact words select a command.
    Check(nbctl::FindCommand(L"") == nullptr, "empty word");
    Check(nbctl::FindCommand(nullptr) == nullptr, "no word");
    Check(nbctl::FindCommand(L"back") == nullptr, "prefix of a word");
    Check(nbctl::FindCommand(L"exits") == nullptr, "word with a tail");
    Check(nbctl::FindCommand(L"EXIT") == nullptr, "other case");
    Check(nbctl::FindCommand(L"status") == nullptr, "status is not a posted command");

    std::set<std::wstring> words;
    std::set<std::uintptr_t> ids;
    for (const nbctl::Command& c : nbctl::kCommands) {
        words.insert(c.word);
        if (c.message == nbctl::kWmCommand) ids.insert(c.wParam);
    }
    const std::size_t count = sizeof nbctl::kCommands / sizeof nbctl::kCommands[0];
    Check(words.size() == count, "every word appears once");
    Check(ids.size() + 1 == count, "every WM_COMMAND id appears once");

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
