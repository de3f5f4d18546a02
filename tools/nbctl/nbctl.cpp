// nbctl: drives and inspects a running nbmonitor from a console or a script.
//   nbctl show|backup|restore|initialize|open|about|exit   post the command; 0 when posted
//   nbctl exit --wait[=MS]    post exit, then wait for nbmonitor's end: 0 ended, 4 still runs
//                             (without MS: stop_timeout + 10 s, at least 30 s)
//   nbctl status [--json]     the supervisor, its server and page, the last log lines;
//                             0 page answers, 3 it does not, 1 no supervisor runs
//   nbctl log [-n N] [-f]     the last N lines of the supervision log, then follow it
//   nbctl --version           nbctl's build id (1.1.0.0+g<commit>)
// Exit status 1 when no supervisor window exists (a posted command) or no log is there (log),
// 2 for a wrong command line.
#include "platform/win32/windows_support.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/home_path.h"
#include "base/settings.h"
#include "commands.h"
#include "nbctl.h"
#include "nbmonitor_version.h"
#include "platform/win32/dll_search.h"
#include "text.h"

namespace nbctl {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int length = static_cast<int>(text.size());
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string s(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &s[0], n, nullptr, nullptr);
    return s;
}

bool Print(const std::string& text) {
    static HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE && ::GetConsoleMode(out, &mode)) {
        std::fflush(stdout);
        int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
        std::vector<wchar_t> wide(static_cast<std::size_t>(n > 0 ? n : 1));
        n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                  wide.data(), n);
        DWORD written = 0;
        return n <= 0 ||
               ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(n), &written, nullptr);
    }
    return std::fputs(text.c_str(), stdout) >= 0;
}

std::wstring OwnHome() {
    std::vector<wchar_t> path(32768);
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return nb::HomeFromModulePath(std::wstring(path.data(), n < path.size() ? n : 0));
}

}  // namespace nbctl

namespace {

void Usage(std::FILE* out) {
    std::fputs(
        "usage: nbctl COMMAND\n"
        "Sends COMMAND to the running nbmonitor (its window titled \"nbmonitorDlg\"), or reports\n"
        "on it.\n\n",
        out);
    for (const nbctl::Command& c : nbctl::kCommands)
        std::fprintf(out, "  %-11s %s\n", nbctl::Utf8(c.word).c_str(), c.summary);
    std::fputs(
        "  status      nbmonitor's pid and home, its port, the httpd.exe processes, whether\n"
        "              http://localhost:<port>/index.php answers, the health check, the last\n"
        "              server exit and its meaning, the restarts of the last hour, the crash\n"
        "              loop, the newest backup, the last 5 lines of the log;\n"
        "              --json: the same as one JSON object. Exit status 0 when it runs and\n"
        "              the page answers, 3 when it runs and the page does not, 1 when it\n"
        "              does not run\n"
        "  log         the last 20 lines of the log (logs\\nbmonitor.log of the home);\n"
        "              -n N: the last N lines; -f: then the new ones as they come, until\n"
        "              Ctrl-C. Exit status 1 when there is no log\n\n"
        "  exit --wait[=MS]  post exit, then wait until nbmonitor has ended, at most MS\n"
        "              milliseconds; without =MS, the home's stop_timeout (conf\\nbmonitor.ini,\n"
        "              [httpd], at most 60000) + 10000, at least 30000: exit status 0 when\n"
        "              it has, 4 when it still runs\n"
        "  --version   nbctl's build id: version, commit, +dirty for a changed tree\n"
        "Exit status 2 for a wrong command line.\n",
        out);
}

// exit --wait's default, from the settings of the home whose supervisor runs (else nbctl's own).
unsigned long DefaultExitWait() {
    const std::wstring ini = nbctl::LogHome() + nb::layout::kSettingsSuffix;
    const nb::settings::IntKey& key = nb::settings::kStopTimeout;
    return nbctl::DefaultExitWaitMs(
        ::GetPrivateProfileIntW(key.section, key.key, key.defaultValue, ini.c_str()));
}

int Wrong(const char* what, const wchar_t* word) {
    std::fprintf(stderr, "nbctl: %s \"%s\" (see nbctl --help)\n", what, nbctl::Utf8(word).c_str());
    return nbctl::kExitUsage;
}

int Status(int argc, wchar_t** argv) {
    bool json = false;
    for (int i = 2; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--json") != 0) return Wrong("unknown option of status", argv[i]);
        json = true;
    }
    return nbctl::StatusCommand(json);
}

int Log(int argc, wchar_t** argv) {
    std::size_t lines = 20;
    bool follow = false;
    for (int i = 2; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"-f") == 0) {
            follow = true;
        } else if (std::wcscmp(argv[i], L"-n") == 0) {
            if (i + 1 == argc) return Wrong("a number of lines must follow", argv[i]);
            const wchar_t* n = argv[++i];
            wchar_t* end = nullptr;
            const unsigned long value = std::wcstoul(n, &end, 10);
            if (*n < L'0' || *n > L'9' || *end != L'\0' || value > 10000000ul)
                return Wrong("-n wants a number of lines, not", n);
            lines = value;
        } else {
            return Wrong("unknown option of log", argv[i]);
        }
    }
    return nbctl::LogCommand(lines, follow);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    nb::win::RestrictDllSearchToSystem();  // user32 and ws2_32 are delay-loaded
    if (argc == 2 && (std::wcscmp(argv[1], L"--help") == 0 || std::wcscmp(argv[1], L"-h") == 0 ||
                      std::wcscmp(argv[1], L"/?") == 0)) {
        Usage(stdout);
        return nbctl::kExitOk;
    }
    if (argc == 2 && std::wcscmp(argv[1], L"--version") == 0) {
        nbctl::Print("nbctl " NB_BUILD_ID "\n");
        return nbctl::kExitOk;
    }
    if (argc < 2) {
        Usage(stderr);
        return nbctl::kExitUsage;
    }
    if (std::wcscmp(argv[1], L"status") == 0) return Status(argc, argv);
    if (std::wcscmp(argv[1], L"log") == 0) return Log(argc, argv);
    const nbctl::Command* command = nbctl::FindCommand(argv[1]);
    if (!command) return Wrong("unknown command", argv[1]);
    unsigned long waitMs = 0;
    const bool wait = argc == 3 && std::wcscmp(argv[1], L"exit") == 0;
    if (wait && !nbctl::ParseWaitOption(argv[2], DefaultExitWait(), &waitMs))
        return Wrong("exit takes only --wait or --wait=MS, not", argv[2]);
    if (argc != 2 && !wait) return Wrong("no options for the command", argv[1]);
    HWND window = ::FindWindowW(nullptr, nbctl::kWindowTitle);
    if (!window) {
        std::fprintf(stderr, "nbctl: nbmonitor is not running (no window titled \"%s\")\n",
                     nbctl::Utf8(nbctl::kWindowTitle).c_str());
        return nbctl::kExitNotRunning;
    }
    nbctl::AllowForeground(window);
    if (wait)
        return nbctl::PostAndWaitForEnd(window, command->message, command->wParam, command->lParam,
                                        waitMs);
    if (!::PostMessageW(window, command->message, static_cast<WPARAM>(command->wParam),
                        static_cast<LPARAM>(command->lParam))) {
        std::fprintf(stderr, "nbctl: posting to the nbmonitor window failed (error %lu)\n",
                     static_cast<unsigned long>(::GetLastError()));
        return nbctl::kExitNotRunning;
    }
    return nbctl::kExitOk;
}
