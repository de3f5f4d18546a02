// What a failed server said: its error log's new error lines, its configuration test, and
// where they show (the supervision log, the crash loop's balloon).
#include "server/server_said.h"
#include "supervisor/main_dlg.h"
#include "test_env.h"

using namespace nb;

namespace {
const wchar_t kErrorLog[] = L"C:\\nimbara\\logs\\error.log";
std::string Line(const std::string& level, const std::string& text, const char* pid = "12") {
    return "[Wed Dec 09 10:00:01.000000 2026] [" + level + "] [pid " + pid + ":tid 4] " + text + "\r\n";
}
}  // namespace

class SaidTest : public NbTest {
protected:
    SaidTest() {
        os.File(L"C:\\nimbara\\php\\php.ini.ORG") = "x = 1\r\n";
        os.File(kErrorLog) = Line("core:error", "AH00000: an old failure", "11");
    }
    void Start() {
        dlg = std::make_unique<CMainDlg>(app);
        dlg->Create();
        os.Clear();
    }
    // The running server writes to its log, then dies; the monitor's tick finds it.
    void Die(const std::string& written = "") {
        if (!written.empty()) os.File(kErrorLog) += written;  // File() would make a missing log
        os.exitCodes[dlg->Apache().Process()] = 1;
        os.SendMsg(dlg->GetSafeHwnd(), WM_TIMER, 1, 0);
    }
    std::unique_ptr<CMainDlg> dlg;
};

TEST(ErrorLinesTest, KeepsTheLastFiveOfTheErrorLevelsInBothFormats) {
    const std::string piece = "ne\r\n" + Line("core:warn", "AH00098: pid file overwritten") +
                              Line("alert", "2.4 without a module") +
                              "[Wed Dec 09 10:00:01 2026] [error] [client 127.0.0.1] File does not exist: x\n" +
                              "not a log line\r\n" + Line("mpm_winnt:notice", "AH00455: configured") +
                              Line("ssl:crit", "AH01) crit") + Line("core:info", "info") +
                              Line("core:emerg", "(OS 10048)Only one usage: AH00072: make_sock") +
                              Line("mpm_winnt:error", "AH00451: no listening sockets", "13");
    std::vector<SaidLine> said = ErrorLines(piece, true);
    ASSERT_EQ(said.size(), 5u);
    EXPECT_EQ(said[0].level, "alert");
    EXPECT_EQ(U8(said[1].text), "[client 127.0.0.1] File does not exist: x");
    EXPECT_EQ(said[1].pid, 0u);
    EXPECT_EQ(said[2].level, "crit");
    EXPECT_EQ(U8(said[3].text), "(OS 10048)Only one usage: AH00072: make_sock");
    EXPECT_EQ(said[4].pid, 13u);
    // Without the partial first line, and with a sixth error line: the oldest goes.
    EXPECT_EQ(ErrorLines(Line("error", "first") + piece, false).front().level, "alert");
    EXPECT_TRUE(ErrorLines(Line("error", "cut off"), true).empty());
}

TEST_F(SaidTest, OnlyTheLinesWrittenSinceTheLaunchAreLogged) {
    Start();
    Die(Line("mpm_winnt:notice", "AH00455: configured") + Line("core:emerg", "AH00072: make_sock: could not bind"));
    EXPECT_THAT(Events("server-said"), ElementsAre("server-said pid=12 level=emerg text=\"AH00072: make_sock: could not bind\""));
    // Nor while restarts fail and each tick finds the same dead server, nor for the next server.
    os.ansiFails = true;  // the restart fails before its launch
    Die(Line("core:error", "AH00100: could not log pid to file"));
    os.SendMsg(dlg->GetSafeHwnd(), WM_TIMER, 1, 0);
    EXPECT_EQ(Events("server-exited").size(), 2u);  // each process's end once
    EXPECT_EQ(Events("server-said").size(), 2u);
}

TEST_F(SaidTest, AMissingLockedOrShrunkLogGivesNoLine) {
    const std::wstring key = FakePlatform::Key(kErrorLog);
    for (int how = 0; how < 3; ++how) {  // missing, locked, shrunk (rotated away)
        SCOPED_TRACE(how);
        Start();
        if (how == 0) os.files.erase(key);
        if (how == 1) os.locked = {key};
        if (how == 2) os.File(kErrorLog).clear();
        Die(how == 0 ? "" : Line("error", "rotated away"));
        EXPECT_TRUE(Events("server-said").empty());
        EXPECT_EQ(Events("restart").size(), 1u);  // the death's handling went on as ever
        EXPECT_TRUE(os.Only({"RunForOutput"}).empty() && Events("config-test").empty());  // its setting is off
        os.locked.clear();
    }
}

TEST_F(SaidTest, OnlyTheLast64KiBOfALongAdditionAreRead) {
    Start();
    std::string written;
    while (written.size() < 100 * 1024) written += Line("core:notice", "AH00000: chatter");
    for (int i = 1; i <= 6; ++i) written += Line("core:error", "failure " + std::to_string(i));
    Die(written);
    EXPECT_THAT(os.Only({"ReadFrom"}),
                ElementsAre("ReadFrom C:\\nimbara\\logs\\error.log " + std::to_string(os.File(kErrorLog).size() - 65536)));
    const std::vector<std::string> said = Events("server-said");
    ASSERT_EQ(said.size(), 5u);
    EXPECT_THAT(said.front(), HasSubstr("failure 2"));
}

TEST_F(SaidTest, ConfigTestRunsOncePerQuickFailuresNeverBesideAServerAndAtMostTenSeconds) {
    Set(L"httpd", L"config_test", L"1");
    os.outputRuns = {{"AH00526: Syntax error on line 12 of C:/nimbara/conf/httpd.conf:\r\n"
                      "Invalid command 'Foo', perhaps misspelled\r\n", 1, 40}};
    Start();
    Die(Line("core:notice", "AH00000: not an error"));
    EXPECT_THAT(os.Only({"RunForOutput"}),
                ElementsAre("RunForOutput C:\\nimbara\\\\bin\\httpd.exe -t dir=C:\\nimbara\\bin\\ bound=10000"));
    EXPECT_THAT(Events("server-said"),
                ElementsAre("server-said pid=900 text=\"AH00526: Syntax error on line 12 of "
                            "C:/nimbara/conf/httpd.conf: Invalid command 'Foo', perhaps misspelled\" "
                            "source=config-test"));
    Die();
    Die();
    EXPECT_EQ(os.Only({"RunForOutput"}).size(), 1u);
    // A server that ran past a minute ends the run of quick failures; with a server of this
    // home still running (an httpd.exe in the list) the test waits.
    os.monotonicMs += kConfigTestWithinMs;
    os.SendMsg(dlg->GetSafeHwnd(), WM_TIMER, 1, 0);
    Die();  // that server's: not quick
    os.processes = {{7, L"httpd.exe"}};
    Die();
    EXPECT_EQ(Events("config-test").back(), "config-test skipped=server-running");
    // One that runs past its bound is ended.
    os.processes.clear();
    os.outputRuns = {{"", 0, 20000}};
    Die();
    EXPECT_THAT(Events("config-test").back(), HasSubstr("code=1 ran_ms=10000 ended=1"));
}

TEST_F(SaidTest, TheCrashLoopBalloonCarriesWhatTheServerSaid) {
    Set(L"nbmonitor", L"crash_balloon", L"1");
    Start();
    for (int i = 0; i < 3; ++i) Die(Line("core:emerg", "AH00072: make_sock: could not bind"));
    EXPECT_THAT(os.Only({"NotifyIcon"}),
                testing::Contains("NotifyIcon MODIFY 130 info=0x2 Nimbara: Webサーバーが停止を繰り返しています。\n"
                                  "AH00072: make_sock: could not bind"));
    const std::wstring cut = CrashLoopBalloonText(L"C:\\nimbara\\", std::wstring(400, L'x'));
    EXPECT_EQ(cut.size(), kBalloonChars);
    EXPECT_EQ(cut.back(), L'\u2026');
}
