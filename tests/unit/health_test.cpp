// When the server runs but does not answer, or keeps failing: the opt-in health check, the
// exit-code table of the log and the crash loop's one notice.
#include "base/exit_codes.h"
#include "resources/resource.h"
#include "supervisor/main_dlg.h"
#include "test_env.h"

using namespace nb;

namespace {
constexpr std::intptr_t kRefused = (10061 << 16) | FD_CONNECT;  // WSAECONNREFUSED
const std::string kRequest = "GET /index.php HTTP/1.0\r\nHost: localhost:27142\r\n\r\n";
}  // namespace

class HealthTest : public NbTest {
protected:
    HealthTest() {
        os.File(L"C:\\nimbara\\php\\php.ini.ORG") = "x = 1\r\n";
        Set(L"nbmonitor", L"health_start_period", L"0");
    }
    // The supervisor, built once the test has written its settings, and through its start.
    void Start() {
        dlg = std::make_unique<CMainDlg>(app);
        dlg->Create();
        w = dlg->GetSafeHwnd();
        os.Clear();
    }
    void Tick(std::uintptr_t id) { os.SendMsg(w, WM_TIMER, id, 0); }
    void Event(std::intptr_t lp) { os.SendMsg(w, WM_HEALTH_SOCKET, socket, lp); }
    // One check that fails the way the script says; returns the socket it used.
    void FailingCheck(const char* how) {
        Tick(TIMER_HEALTH);
        socket = os.liveSockets ? 0x6000 + checks : 0;
        ++checks;
        if (std::string(how) == "timeout") Tick(TIMER_HEALTH_TIMEOUT);
        if (std::string(how) == "refused") Event(kRefused);
        if (std::string(how) == "no-status") Event(FD_CLOSE);
    }
    void HealthyCheck(const char* answer = "HTTP/1.1 500 Internal Server Error\r\n") {
        Tick(TIMER_HEALTH);
        socket = 0x6000 + checks++;
        Event(FD_CONNECT);
        os.received = {answer};
        Event(FD_READ);
    }
    void KillServer(uint32_t code = 1) { os.exitCodes[dlg->Apache().Process()] = code; }
    std::vector<std::string> Health() const {
        return os.Only({"BeginConnect", "SocketSend", "CloseSocket", "SetTimer", "KillTimer", "CreateProcess"});
    }
    std::unique_ptr<CMainDlg> dlg;
    nb::WindowId w = 0;
    nb::SocketRef socket = 0;
    int checks = 0;
};

TEST_F(HealthTest, OffByDefaultMakesNoSocketCallAndNoTimerOfItsOwn) {
    dlg = std::make_unique<CMainDlg>(app);
    dlg->Create();
    w = dlg->GetSafeHwnd();
    for (std::uintptr_t id : {TIMER_MONITOR, TIMER_HEALTH, TIMER_HEALTH_TIMEOUT}) Tick(id);
    os.SendMsg(w, WM_HEALTH_SOCKET, 0x6000, FD_CONNECT);
    dlg->DestroyWindow();
    EXPECT_THAT(os.Only({"BeginConnect", "SocketSend", "CloseSocket", "SetTimer", "KillTimer"}),
                ElementsAre("SetTimer " + Hex(w) + " 1 5000", "SetTimer " + Hex(w) + " 2 86400000",
                            "KillTimer " + Hex(w) + " 1", "KillTimer " + Hex(w) + " 2"));
}

TEST_F(HealthTest, AnyStatusLineIsHealthyAndEndsTheCheck) {
    Set(L"nbmonitor", L"health_interval", L"10000");
    dlg = std::make_unique<CMainDlg>(app);
    dlg->Create();
    w = dlg->GetSafeHwnd();
    EXPECT_EQ(os.Only({"SetTimer"}).back(), "SetTimer " + Hex(w) + " 72 10000");
    os.Clear();
    HealthyCheck();
    EXPECT_THAT(Health(), ElementsAre("BeginConnect " + Hex(w) + " 1224 127.0.0.1:27142",
                                      "SetTimer " + Hex(w) + " 73 3000", "SocketSend 0x6000 " + kRequest,
                                      "CloseSocket 0x6000", "KillTimer " + Hex(w) + " 73"));
    EXPECT_THAT(Events("health-ok"), ElementsAre("health-ok pid=500 port=27142 ms=0"));
    // Silent while it stays healthy; a check still waiting is not doubled by the next tick.
    HealthyCheck("HTTP/1.0 200 OK\r\n");
    Tick(TIMER_HEALTH);
    Tick(TIMER_HEALTH);
    EXPECT_EQ(Events("health-ok").size(), 1u);
    EXPECT_EQ(os.Only({"BeginConnect"}).size(), 3u);
    EXPECT_EQ(os.liveSockets, 1);
    dlg->DestroyWindow();
    EXPECT_EQ(os.liveSockets, 0);
    EXPECT_THAT(os.Only({"KillTimer"}), testing::Contains("KillTimer " + Hex(w) + " 72"));
}

TEST_F(HealthTest, HungServerIsRestartedAfterTheFailuresInARow) {
    Set(L"nbmonitor", L"health_interval", L"1000");
    Set(L"nbmonitor", L"health_failures", L"3");
    os.processes = {{500, L"httpd.exe"}};
    Start();
    FailingCheck("timeout");
    FailingCheck("refused");
    EXPECT_TRUE(os.Only({"Terminate"}).empty());
    os.Clear();
    FailingCheck("no-status");
    EXPECT_THAT(Events("health-failed"),
                ElementsAre("health-failed pid=500 port=27142 reason=no-status failures=3 ms=0"));
    EXPECT_THAT(Events("server-hung"),
                ElementsAre("server-hung pid=500 port=27142 failures=3 last=no-status ran_ms=4000"));
    // Exactly what a monitor tick does for a dead server.
    EXPECT_THAT(os.Only({"NotifyIcon", "Sleep", "Terminate", "CreateProcess"}),
                ElementsAre("NotifyIcon MODIFY 130", "Sleep 2000", "Terminate 500 0", "Sleep 2000",
                            "CreateProcess C:\\nimbara\\\\bin\\httpd.exe dir=C:\\nimbara\\bin\\"));
}

TEST_F(HealthTest, TheEndOfTheSessionStopsTheCheckSoThatNoLateFailureRestarts) {
    Set(L"nbmonitor", L"health_interval", L"1000");
    Set(L"nbmonitor", L"health_failures", L"1");
    Start();
    Tick(TIMER_HEALTH);  // a check waits on its socket when Windows logs off
    os.SendMsg(w, WM_ENDSESSION, 1, 0);
    EXPECT_THAT(os.Only({"KillTimer"}), testing::Contains("KillTimer " + Hex(w) + " " + std::to_string(TIMER_HEALTH)));
    os.Clear();
    os.SendMsg(w, WM_HEALTH_SOCKET, 0x6000, FD_CLOSE);
    Tick(TIMER_HEALTH_TIMEOUT);
    Tick(TIMER_HEALTH);
    EXPECT_TRUE(os.Only({"BeginConnect", "CreateProcess"}).empty());
    EXPECT_TRUE(Events("server-hung").empty());
}

TEST_F(HealthTest, FailuresResetOnAnAnswerAndAtEveryRestart) {
    Set(L"nbmonitor", L"health_interval", L"1000");
    Set(L"nbmonitor", L"health_failures", L"2");
    Start();
    FailingCheck("timeout");
    HealthyCheck();
    FailingCheck("timeout");
    EXPECT_TRUE(Events("server-hung").empty());
    // A check waits when the monitor finds the server dead: it is dropped with the restart,
    // and the new server's first check comes a whole interval after its launch.
    Tick(TIMER_HEALTH);
    nb::SocketRef waiting = 0x6000 + checks++;
    KillServer();
    os.Clear();
    Tick(1);
    EXPECT_THAT(Health(), ElementsAre("CloseSocket " + Hex(waiting), "KillTimer " + Hex(w) + " 73",
                                      "CreateProcess C:\\nimbara\\\\bin\\httpd.exe dir=C:\\nimbara\\bin\\",
                                      "SetTimer " + Hex(w) + " 72 1000"));
    socket = waiting;
    Event(FD_CONNECT);  // queued before the restart: ignored
    EXPECT_TRUE(os.Only({"SocketSend"}).empty());
    FailingCheck("timeout");
    EXPECT_TRUE(Events("server-hung").empty());
    FailingCheck("timeout");
    EXPECT_EQ(Events("server-hung").size(), 1u);
}

TEST_F(HealthTest, AServerStillStartingIsNotHungUntilItsStartPeriodEndsOrItHasAnswered) {
    Set(L"nbmonitor", L"health_interval", L"1000");
    Set(L"nbmonitor", L"health_timeout", L"0");  // read as 100
    Set(L"nbmonitor", L"health_failures", L"2");
    Set(L"nbmonitor", L"health_start_period", L"10000");
    Start();
    for (int i = 0; i < 3; ++i) {  // refused for 3 s more (the start sequence took 4)
        FailingCheck("refused");
        os.monotonicMs += 1000;
    }
    EXPECT_TRUE(Events("server-hung").empty());
    HealthyCheck();
    EXPECT_THAT(Health(), testing::Contains("SetTimer " + Hex(w) + " 73 100"));
    FailingCheck("timeout");  // once it has answered, every failure counts
    FailingCheck("timeout");
    EXPECT_EQ(Events("server-hung").size(), 1u);
    EXPECT_EQ(os.Only({"CreateProcess"}).size(), 1u);
}

TEST_F(HealthTest, OneDeathIsCountedOnceWhateverTheFailedStartsAfterIt) {
    Start();
    KillServer();
    os.createResults = {false, false};
    for (int i = 0; i < 3; ++i) Tick(1);
    EXPECT_EQ(os.Only({"CreateProcess"}).size(), 3u);
    EXPECT_EQ(Events("server-exited").size(), 1u);
    EXPECT_TRUE(Events("crash-loop").empty());
}

TEST_F(HealthTest, NoCheckWhileTheServerIsFoundDead) {
    Set(L"nbmonitor", L"health_interval", L"1000");
    Start();
    KillServer();
    Tick(TIMER_HEALTH);
    EXPECT_TRUE(os.Only({"BeginConnect"}).empty());
}

TEST_F(HealthTest, ExitCodesUsersMeetAreExplained) {
    for (uint32_t code : {0x0u, 0x1u, 0xC0000005u, 0xC0000135u, 0xC0000139u, 0xC000013Au, 0xC00000FDu,
                          0xC0000409u, 0xC0000142u})
        EXPECT_NE(exit_codes::MeaningOf(code), nullptr) << exit_codes::Hex(code);
    EXPECT_EQ(exit_codes::MeaningOf(3), nullptr);
    Start();
    KillServer(0xC0000135);
    Tick(1);
    EXPECT_THAT(Events("server-exited"),
                ElementsAre("server-exited pid=500 code=3221225781 code_hex=0xC0000135 "
                            "meaning=\"a DLL the server needs is missing\" ran_ms=4000"));
}

TEST_F(HealthTest, OneBalloonPerCrashLoopAgainOnceAServerRanTenMinutes) {
    Set(L"nbmonitor", L"crash_balloon", L"1");
    Start();
    const std::string balloon =
        "NotifyIcon MODIFY 130 info=0x2 Nimbara: Webサーバーが停止を繰り返しています。\nログ: "
        "C:\\nimbara\\logs\\nbmonitor.log";
    auto quickFailures = [&](int n) {
        for (int i = 0; i < n; ++i) {
            KillServer(0xC0000005);
            Tick(1);
        }
    };
    quickFailures(2);
    EXPECT_TRUE(Events("crash-loop").empty());
    quickFailures(3);
    EXPECT_THAT(os.Only({"NotifyIcon"}), testing::Contains(balloon));
    EXPECT_EQ(std::count(os.calls.begin(), os.calls.end(), balloon), 1);
    EXPECT_THAT(Events("crash-loop"),
                ElementsAre("crash-loop count=3 code=0xC0000005 "
                            "meaning=\"crashed: access violation (in the server, PHP or one of its extensions)\""));
    // The icon's own record is untouched by the balloon.
    EXPECT_EQ(dlg->IconRecord().uFlags, 7u);
    // A server that runs ten minutes ends the loop; the next loop is told again.
    os.monotonicMs += CCrashLoop::kSettledMs;
    Tick(1);
    EXPECT_EQ(Events("crash-loop-over").size(), 1u);
    os.Clear();
    quickFailures(3);  // the first is that long-running server's: not quick
    EXPECT_EQ(std::count(os.calls.begin(), os.calls.end(), balloon), 0);
    quickFailures(1);
    EXPECT_EQ(std::count(os.calls.begin(), os.calls.end(), balloon), 1);
}

TEST_F(HealthTest, WithoutItsSettingACrashLoopIsOnlyLogged) {
    Start();
    for (int i = 0; i < 3; ++i) {
        KillServer();
        Tick(1);
    }
    EXPECT_EQ(Events("crash-loop").size(), 1u);
    for (const std::string& c : os.Only({"NotifyIcon"})) EXPECT_EQ(c.find("info="), std::string::npos) << c;
}
