// Stopping without losing data: the graceful stop before the kill, Windows' end of session,
// a listen file held by a reader, and a supervisor window that cannot be created.
#include "server/server_stop.h"

#include "app/host_dlg.h"
#include "base/supervision_log.h"
#include "server/apache_control.h"
#include "supervisor/main_dlg.h"
#include "test_env.h"

using namespace nb;

class StopTest : public NbTest {
protected:
    StopTest() {
        os.File(L"C:\\nimbara\\php\\php.ini.ORG") = "x = 1\r\n";
        slog::Open(L"C:\\nimbara\\");
    }
    std::vector<std::string> Stops() const {
        return os.Only({"SetEvent", "OpenToWait", "WaitAny", "Terminate"});
    }
};

TEST_F(StopTest, GracefulServersAreWaitedForTogetherTheRestEndedAtOnceOrAtTheTimeout) {
    // 11 stops 300 ms after its event, and its worker 14 with it; 12 never does; 13 offers
    // no event; 15 is not named exactly httpd.exe.
    os.processes = {{11, L"httpd.exe"}, {12, L"httpd.exe"}, {13, L"httpd.exe"},
                    {14, L"httpd.exe", 11}, {15, L"HTTPD.EXE"}};
    os.shutdownEvents = {{11, 300}, {12, FakePlatform::kNever}};
    const uint64_t before = os.monotonicMs;
    EXPECT_EQ(CProcessControl::TerminateHttpd(1000), 4);
    EXPECT_THAT(Stops(), ElementsAre("SetEvent ap11_shutdown", "OpenToWait 11",
                                     "SetEvent ap12_shutdown", "OpenToWait 12",
                                     "SetEvent ap13_shutdown", "SetEvent ap14_shutdown",
                                     "Terminate 13 0", "OpenToWait 14", "WaitAny 3 1000",
                                     "WaitAny 2 700", "WaitAny 1 700", "Terminate 12 0"));
    EXPECT_EQ(os.monotonicMs - before, 1000u);  // one bound for all, not one each
    EXPECT_THAT(os.LogLines(), ElementsAreArray(Stamped({
                                   "server-stop pid=13 forced=1 reason=no-event",
                                   "server-stop pid=11 graceful=1 ms=300",
                                   "server-stop pid=14 graceful=1 ms=300 parent=11",
                                   "server-stop pid=12 forced=1 reason=timeout",
                               })));
}

TEST_F(StopTest, AServerThatRunsButCannotBeWaitedForIsForcedNotCalledGraceful) {
    os.processes = {{11, L"httpd.exe"}};
    os.shutdownEvents = {{11, FakePlatform::kNever}};
    os.waitDenied = {11};
    EXPECT_EQ(CProcessControl::TerminateHttpd(1000), 1);
    EXPECT_THAT(Stops(), ElementsAre("SetEvent ap11_shutdown", "OpenToWait 11", "Terminate 11 0"));
    EXPECT_THAT(os.LogLines(), ElementsAre(kStamp + "server-stop pid=11 forced=1 reason=cannot-wait"));
}

TEST_F(StopTest, AtStartAServerOfThisHomeIsStoppedBeforeThePortProbeOneOfAnotherFolderIsNot) {
    // 21 (with its worker 22) was left by a supervisor of this home; 23 belongs to another one;
    // 24 is this home's too, but its supervisor (a copy under another name) still runs.
    os.processes = {{21, L"httpd.exe", 7}, {22, L"httpd.exe", 21}, {23, L"httpd.exe"},
                    {30, L"nbmonitor2.exe"}, {24, L"httpd.exe", 30}};
    os.imagePaths = {{21, L"c:\\NIMBARA\\bin\\HTTPD.exe"}, {22, L"C:\\nimbara\\bin\\httpd.exe"},
                     {23, L"C:\\other\\bin\\httpd.exe"}, {24, L"C:\\nimbara\\bin\\httpd.exe"}};
    os.shutdownEvents = {{21, 400}, {24, 400}};
    CMainDlg dlg{app};
    os.Clear();
    dlg.Create();
    EXPECT_THAT(os.Only({"SetEvent", "Terminate"}), ElementsAre("SetEvent ap21_shutdown", "SetEvent ap22_shutdown"));
    std::vector<std::string> log = os.LogLines();
    log.resize(3);
    EXPECT_THAT(log,
                ElementsAre(kStamp + "server-orphan pid=21 stopped=graceful ms=400",
                            kStamp + "server-orphan pid=22 stopped=graceful ms=400 parent=21",
                            HasSubstr("httpd-port.conf written=1")));  // the probed port's file
}

TEST_F(StopTest, StopTimeoutIsReadAtEachStopAndZeroEndsAtOnce) {
    CApacheControl c(app);
    os.processes = {{11, L"httpd.exe"}};
    os.shutdownEvents = {{11, FakePlatform::kNever}};
    Set(L"httpd", L"restart_wait", L"0");
    Set(L"httpd", L"stop_timeout", L"0");
    c.Restart();
    Set(L"httpd", L"stop_timeout", L"250");
    c.Restart();
    EXPECT_THAT(Stops(), ElementsAre("Terminate 11 0", "SetEvent ap11_shutdown", "OpenToWait 11",
                                     "WaitAny 1 250", "Terminate 11 0"));
    EXPECT_EQ(os.LogLines().front(), kStamp + "server-stop pid=11 forced=1 reason=graceful-off");
}

// --- end of the Windows session ---------------------------------------------------------------

class SessionEndTest : public StopTest {
protected:
    void SetUp() override {
        dlg.Create(0x50);
        w = dlg.GetSafeHwnd();
        os.processes = {{9, L"httpd.exe"}};
        os.shutdownEvents = {{9, FakePlatform::kNever}};
        Set(L"httpd", L"stop_timeout", L"10000");
        os.Clear();
    }
    CMainDlg dlg{app};
    nb::WindowId w = 0;
};

TEST_F(SessionEndTest, TimersStopFirstServersWithinThreeSecondsThenTheIconAndTheExitLine) {
    os.SendMsg(w, WM_ENDSESSION, 1, 0);
    EXPECT_THAT(os.Only({"KillTimer", "SetEvent", "WaitAny", "Terminate", "NotifyIcon", "EndModal"}),
                ElementsAre("KillTimer " + Hex(w) + " 1", "KillTimer " + Hex(w) + " 2",
                            "SetEvent ap9_shutdown", "WaitAny 1 3000", "Terminate 9 0",
                            "NotifyIcon DELETE 130", "EndModal 0x50 1"));
    EXPECT_EQ(os.LogLines().back(), kStamp + "exit reason=session-end servers_ended=1");
    // A tick already queued finds the server gone and restarts nothing; the window's end
    // later stops nothing twice.
    os.Clear();
    os.exitCodes[dlg.Apache().Process()] = 1;
    os.SendMsg(w, WM_TIMER, 1, 0);
    dlg.DestroyWindow();
    EXPECT_TRUE(os.Only({"CreateProcess", "Sleep", "Snapshot", "NotifyIcon"}).empty());
    EXPECT_TRUE(os.LogLines().empty());
}

TEST_F(SessionEndTest, BetweenTheQueryAndTheEndNothingRestartsACancelledLogOffChangesNothing) {
    os.SendMsg(w, WM_QUERYENDSESSION, 0, 0);
    os.exitCodes[dlg.Apache().Process()] = 1;  // the system ends the server meanwhile
    os.SendMsg(w, WM_TIMER, 1, 0);
    EXPECT_TRUE(os.Only({"Sleep", "Snapshot", "CreateProcess"}).empty());
    os.SendMsg(w, WM_ENDSESSION, 0, 0);
    EXPECT_TRUE(os.Only({"KillTimer", "Snapshot", "NotifyIcon", "EndModal"}).empty());
    os.SendMsg(w, WM_TIMER, 1, 0);
    EXPECT_EQ(os.Only({"CreateProcess"}).size(), 1u);  // the monitor restarts again
}

TEST_F(SessionEndTest, TheEndArrivingInsideARestartLaunchesNothingAndArmsNoTimer) {
    dlg.Health().Configure(1000, dlg.Health().Timeout(), dlg.Health().FailuresAllowed(), dlg.Health().StartPeriod());  // on: a restart re-arms its timer
    // The query inside restart_wait's pause, after the stop: the launch looks again.
    os.onSleep = [&](uint32_t) {
        if (os.Only({"Terminate"}).size() == 1) os.SendMsg(w, WM_QUERYENDSESSION, 0, 0);
    };
    os.exitCodes[dlg.Apache().Process()] = 1;
    os.SendMsg(w, WM_TIMER, 1, 0);
    EXPECT_TRUE(os.Only({"CreateProcess"}).empty());
    os.onSleep = nullptr;
    os.SendMsg(w, WM_ENDSESSION, 0, 0);
    // The end inside the restart's change of the icon.
    os.onNotifyIcon = [&](uint32_t op) { if (op == NIM_MODIFY) os.SendMsg(w, WM_ENDSESSION, 1, 0); };
    os.Clear();
    os.SendMsg(w, WM_TIMER, 1, 0);
    EXPECT_TRUE(os.Only({"CreateProcess", "SetTimer"}).empty());
}

// --- a listen file held open by a reader (nbctl status) ---------------------------------------

TEST_F(StopTest, ReplacementWaitsOutAReaderForUpTo200Ms) {
    const std::wstring conf = FakePlatform::Key(L"C:\\nimbara\\conf\\extra\\httpd-port.conf");
    CApacheControl c(app);
    os.heldUntil[conf] = os.monotonicMs + 60;
    EXPECT_EQ(c.Start(), 1);
    EXPECT_THAT(os.Only({"Sleep"}), ElementsAre("Sleep 25", "Sleep 25", "Sleep 25"));
    EXPECT_THAT(os.LogLines().front(), HasSubstr("httpd-port.conf written=1 waited_ms=75"));
    os.Clear();
    os.heldUntil[conf] = os.monotonicMs + 1000;
    EXPECT_EQ(c.Start(), 0);
    EXPECT_EQ(os.Only({"Sleep"}).size(), 8u);
    EXPECT_THAT(os.LogLines().front(), HasSubstr("written=0 reason=in-use waited_ms=200"));
    EXPECT_EQ(os.Boxes().size(), 1u);
}

// --- the supervisor's window cannot be created ------------------------------------------------

TEST_F(StopTest, HostEndsWithMinusOneAndALogLineWhenTheSupervisorWindowFails) {
    os.failingTemplates = {104};
    CnbmonitorDlg host;
    app.SetMainWindow(&host);
    host.DoModal();
    app.SetMainWindow(nullptr);
    EXPECT_TRUE(os.exited);
    EXPECT_EQ(os.exitCode, 0xFFFFFFFFu);
    EXPECT_EQ(os.LogLines().back(), kStamp + "exit reason=no-supervisor-window");
    EXPECT_TRUE(os.Only({"SetTitle", "HideAtOrigin"}).empty());
}
