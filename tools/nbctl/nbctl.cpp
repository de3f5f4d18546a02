// nbctl: sends one command to a running nbmonitor from a console or a script.
//   nbctl show|backup|restore|initialize|open|about|exit   post the command; 0 when posted
//   nbctl status                                           0 when a supervisor window exists
// Exit status 1 when no supervisor window exists, 2 for a wrong command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "commands.h"
#include "platform/win32/dll_search.h"

namespace {

std::string Narrow(const wchar_t* text) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string s(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &s[0], n, nullptr, nullptr);
    s.resize(static_cast<std::size_t>(n - 1));
    return s;
}

void Usage(std::FILE* out) {
    std::fputs("usage: nbctl COMMAND\n"
               "Sends COMMAND to the running nbmonitor (its window titled \"nbmonitorDlg\").\n\n",
               out);
    for (const nbctl::Command& c : nbctl::kCommands)
        std::fprintf(out, "  %-11s %s\n", Narrow(c.word).c_str(), c.summary);
    std::fputs("  status      exit status 0 when nbmonitor is running, 1 when not\n", out);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    nb::win::RestrictDllSearchToSystem();  // user32 is delay-loaded
    if (argc == 2 && (std::wcscmp(argv[1], L"--help") == 0 || std::wcscmp(argv[1], L"-h") == 0 ||
                      std::wcscmp(argv[1], L"/?") == 0)) {
        Usage(stdout);
        return 0;
    }
    if (argc != 2) {
        Usage(stderr);
        return 2;
    }
    const bool statusOnly = std::wcscmp(argv[1], L"status") == 0;
    const nbctl::Command* command = nbctl::FindCommand(argv[1]);
    if (!command && !statusOnly) {
        std::fprintf(stderr, "nbctl: unknown command \"%s\" (nbctl --help lists them)\n",
                     Narrow(argv[1]).c_str());
        return 2;
    }
    HWND window = ::FindWindowW(nullptr, nbctl::kWindowTitle);
    if (statusOnly) {
        std::puts(window ? "running" : "not running");
        return window ? 0 : 1;
    }
    if (!window) {
        std::fprintf(stderr, "nbctl: nbmonitor is not running (no window titled \"%s\")\n",
                     Narrow(nbctl::kWindowTitle).c_str());
        return 1;
    }
    if (!::PostMessageW(window, command->message, static_cast<WPARAM>(command->wParam),
                        static_cast<LPARAM>(command->lParam))) {
        std::fprintf(stderr, "nbctl: posting to the nbmonitor window failed (error %lu)\n",
                     static_cast<unsigned long>(::GetLastError()));
        return 1;
    }
    return 0;
}
