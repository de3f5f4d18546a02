// Checks nbctl's command table and the text it reads (listen file, log lines, HTTP status
// line, what status tells from the log) and writes (JSON). Builds for Windows (nbctl_test.exe, run under Wine) and natively
// (g++ -std=c++17 -I../../src commands_test.cpp); prints "N passed, M failed" last.
#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "base/home_path.h"
#include "commands.h"
#include "history.h"
#include "text.h"

static int passed = 0, failed = 0;

static void Check(bool ok, const char* what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL: %s\n", what);
    }
}

static bool Posts(const wchar_t* word, std::uint32_t message, std::uintptr_t wParam,
                  std::intptr_t lParam) {
    const nbctl::Command* c = nbctl::FindCommand(word);
    return c && c->message == message && c->wParam == wParam && c->lParam == lParam;
}

int main() {
    // The supervisor's window interface: WM_COMMAND ids and the tray double-click (their
    // numbers are pinned by the supervisor's own unit test).
    Check(Posts(L"show", 0x0111, ID_SHOW, 0), "show posts WM_COMMAND ID_SHOW");
    Check(Posts(L"backup", 0x0111, ID_BACKUP, 0), "backup posts WM_COMMAND ID_BACKUP");
    Check(Posts(L"restore", 0x0111, ID_RESTORE, 0), "restore posts WM_COMMAND ID_RESTORE");
    Check(Posts(L"initialize", 0x0111, ID_INITIALIZE, 0),
          "initialize posts WM_COMMAND ID_INITIALIZE");
    Check(Posts(L"about", 0x0111, ID_TRAY_ABOUT, 0), "about posts WM_COMMAND ID_TRAY_ABOUT");
    Check(Posts(L"exit", 0x0111, ID_TRAY_EXIT, 0), "exit posts WM_COMMAND ID_TRAY_EXIT");
    Check(Posts(L"open", WM_TRAY_CALLBACK, 0, 515),
          "open posts WM_TRAY_CALLBACK with wParam 0, lParam 515");
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

    // exit --wait[=MS]
    unsigned long ms = 1;
    Check(nbctl::ParseWaitOption(L"--wait", 12345, &ms) && ms == 12345, "--wait waits the default");
    // The default outlasts the supervisor's own bounded stop of its servers.
    Check(nbctl::DefaultExitWaitMs(40000) == 50000 && nbctl::DefaultExitWaitMs(5000) == 30000 &&
              nbctl::DefaultExitWaitMs(4000000000ul) == 70000,
          "--wait's default: stop_timeout (at most 60000) + 10000, at least 30000");
    Check(nbctl::ParseWaitOption(L"--wait=0", 1, &ms) && ms == 0, "--wait=0");
    Check(nbctl::ParseWaitOption(L"--wait=2147483647", 1, &ms) && ms == 2147483647ul,
          "--wait at its bound");
    Check(!nbctl::ParseWaitOption(L"--wait=2147483648", 1, &ms) &&
              !nbctl::ParseWaitOption(L"--wait=", 1, &ms) &&
              !nbctl::ParseWaitOption(L"--wait=-1", 1, &ms) &&
              !nbctl::ParseWaitOption(L"--waits", 1, &ms) &&
              !nbctl::ParseWaitOption(L"--wait=5s", 1, &ms),
          "a wrong --wait is refused");

    // Home of a program file, as the supervisor derives its own.
    Check(nb::HomeFromModulePath(L"C:\\nimbara\\bin\\nbmonitor.exe") == L"C:\\nimbara\\",
          "home of C:\\nimbara\\bin");
    Check(nb::HomeFromModulePath(L"C:\\bin\\nbctl.exe") == L"C:\\",
          "home of C:\\bin is the drive root");

    // The listen file: the first Listen line's port, whatever address or case it has.
    unsigned port = 0;
    Check(nbctl::ParseListenPort("Listen 127.0.0.1:27143\r\n", &port) && port == 27143,
          "Listen line's port");
    Check(
        nbctl::ParseListenPort("# port\r\n  listen\t[::1]:8080\r\nListen 1.2.3.4:99\r\n", &port) &&
            port == 8080,
        "first Listen line, IPv6 address, other case, no final line end");
    Check(nbctl::ParseListenPort("Listen 80", &port) && port == 80, "port without an address");
    port = 7;
    Check(!nbctl::ParseListenPort("Listen 127.0.0.1:\r\n", &port) &&
              !nbctl::ParseListenPort("Listen 1.2.3.4:65536", &port) &&
              !nbctl::ParseListenPort("Listening 1.2.3.4:80\r\n", &port) &&
              !nbctl::ParseListenPort("", &port) && port == 7,
          "no port: empty, too large, another word, no line");

    int status = 0;
    Check(nbctl::ParseHttpStatus("HTTP/1.0 200 OK\r\n", &status) && status == 200,
          "HTTP status line");
    Check(nbctl::ParseHttpStatus("HTTP/1.1 404\r\n", &status) && status == 404,
          "status line without a reason");
    Check(!nbctl::ParseHttpStatus("SSH-2.0-x\r\n", &status) &&
              !nbctl::ParseHttpStatus("HTTP/1.0 20", &status) &&
              !nbctl::ParseHttpStatus("HTTP/1.0 2000 x", &status),
          "no HTTP status line");

    // Lines of the log: CR LF ends, an unfinished last line kept apart.
    std::string rest;
    const std::vector<std::string> lines = nbctl::CompleteLines("a\r\n\r\nb c\r\npart", &rest);
    Check(lines == std::vector<std::string>{"a", "", "b c"} && rest == "part",
          "lines split at CR LF, unfinished kept");

    nbctl::LogLine line;
    Check(nbctl::ParseLogLine("2026-12-08T23:55:01.123+09:00 1234 server-start cmd=\"C:\\my "
                              "apps\\nimbara\\\\bin\\httpd.exe\" "
                              "pid=5678 port=27142",
                              &line) &&
              line.time == "2026-12-08T23:55:01.123+09:00" && line.pid == 1234 &&
              line.event == "server-start" && line.fields.size() == 3 &&
              line.fields[0].first == "cmd" &&
              line.fields[0].second == "C:\\my apps\\nimbara\\\\bin\\httpd.exe" &&
              line.fields[2].second == "27142",
          "log line: time, pid, event, a quoted value with blanks and backslashes, plain values");
    Check(nbctl::ParseLogLine("2026-12-08T23:55:01.123+09:00 1 server-failed reason=\"say "
                              "\"\"no\"\"\" text=\"\" x=\"a\tb\"",
                              &line) &&
              line.fields.size() == 3 && line.fields[0].second == "say \"no\"" &&
              line.fields[1].second.empty() && line.fields[2].second == "a\tb",
          "log line: doubled quotes, empty value, a tab inside quotes");
    line.event = "kept";
    Check(
        !nbctl::ParseLogLine("2026-12-08T23:55:01.123+09:00 1 exit why=\"menu", &line) &&
            !nbctl::ParseLogLine("2026-12-08T23:55:01.123+09:00 x exit", &line) &&
            !nbctl::ParseLogLine("2026-12-08T23:55:01.123+09:00 1", &line) &&
            !nbctl::ParseLogLine("hello world 1 start", &line) &&
            !nbctl::ParseLogLine("2026-12-08T23:55:01.123+09:00 1 exit a=\"b\"c", &line) &&
            line.event == "kept",
        "not log lines: open quote, pid no number, no event, no time, text after a closing quote");

    // JSON strings: escapes, UTF-8 passed on, bytes that are no UTF-8 replaced.
    Check(nbctl::JsonString("a\"b\\c\r\n\t\x01") == "\"a\\\"b\\\\c\\r\\n\\t\\u0001\"",
          "JSON escapes");
    Check(nbctl::JsonString("C:\\\xE3\x83\x8B\xF0\x9F\x98\x80") ==
              "\"C:\\\\\xE3\x83\x8B\xF0\x9F\x98\x80\"",
          "JSON keeps UTF-8");
    Check(nbctl::JsonString("\x82\xC0\xAF\xED\xA0\x80\xE3\x83") ==
              "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF"
              "\xBD\xEF\xBF\xBD\"",
          "JSON replaces a stray byte, an overlong form, a surrogate, a cut sequence");

    // What status tells from the log: the last start's settings and what followed it.
    long long when = 0;
    Check(nbctl::LogTimeToUnix("2026-12-09T08:55:01.123+09:00", &when) && when == 1796774101LL &&
              nbctl::LogTimeToUnix("2026-12-08T20:25:01.000-03:30", &when) && when == 1796774101LL,
          "log time to seconds since 1970, either sign of offset");
    const std::string t0 = "2026-12-09T07:00:00.000+09:00 9 ";
    const nbctl::History h = nbctl::Summarize(
        {t0 + "server-exited pid=1 code=3221225781",  // an older line, without the hex form
         t0 + "start build=1.1.0.0+g0123456789 nbmonitor.health_interval=1000 "
              "nbmonitor.health_failures=2 nbmonitor.backup_interval=60000",
         t0 + "health-failed pid=2 port=80 reason=refused failures=1 ms=3",
         t0 + "health-ok pid=2 port=80 ms=2",
         "2026-12-09T07:50:00.000+09:00 9 restart pid=3 port=80",
         "2026-12-09T08:40:00.000+09:00 9 restart started=0 ended=1",
         "2026-12-09T08:50:00.000+09:00 9 health-failed pid=3 port=80 reason=timeout failures=2 "
         "ms=500",
         "2026-12-09T08:55:00.000+09:00 9 crash-loop count=3 code=hung meaning=\"no answer\""},
        1796774101LL);
    Check(h.build == "1.1.0.0+g0123456789" && h.healthInterval == 1000 && h.healthTimeout == 3000 &&
              h.healthFailuresAllowed == 2 && h.backupInterval == 60000 &&
              h.healthLast == "timeout" && h.healthFailures == 2,
          "health: the start's build and settings, the last result and the failures in a row");
    Check(h.haveExit && h.exitCodeHex == "0xC0000135" &&
              h.exitMeaning == "a DLL the server needs is missing",
          "last exit: an older line's code named from the table");
    Check(h.restartsLastHour == 1, "restarts in the last hour");
    Check(h.crashState == "looping" && h.crashCode == "hung" && h.crashMeaning == "no answer",
          "crash loop");
    Check(
        nbctl::Summarize({t0 + "crash-loop count=3 code=1", t0 + "start"}, 0).crashState == "none",
        "a new start forgets the crash loop");
    const nbctl::History said = nbctl::Summarize(
        {t0 + "server-exited pid=1 code=1", t0 + "server-said pid=5 level=error text=old",
         t0 + "server-failed port=80",
         t0 + "server-said pid=6 level=emerg text=\"AH00072: make_sock\"",
         t0 + "crash-loop count=3 code=1",
         t0 + "server-said pid=900 text=\"Syntax OK\" source=config-test",
         t0 + "restart pid=7 port=80"},
        0);
    Check(said.said.size() == 2 && nbctl::FieldOf(said.said[0], "text") == "AH00072: make_sock" &&
              nbctl::FieldOf(said.said[1], "source") == "config-test",
          "what the server said: the lines after the last failure only");

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
