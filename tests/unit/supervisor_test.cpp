// Supervisor window: the start sequence as one recorded sequence, its failure exits, the
// monitor cycle, the tray icon and menu, and the browser launch.
#include "supervisor/main_dlg.h"

#include "app/host_dlg.h"
#include "resources/resource.h"
#include "test_env.h"

using namespace nb;

class SupervisorTest : public NbTest {
protected:
    SupervisorTest() {
        os.File(L"C:\\nimbara\\php\\php.ini.ORG") = "x = 1\r\n";
    }
    // The calls that make up the start sequence's visible behaviour.
    std::vector<std::string> Sequence() const {
        return os.Only({"NotifyIcon", "Topmost", "CreateProcess", "Connect", "Sleep", "OpenUrl",
                        "MsgBox", "SetTimer", "KillTimer", "Terminate", "ExitProcess"});
    }
    static std::string Server() { return "CreateProcess C:\\nimbara\\\\bin\\httpd.exe dir=C:\\nimbara\\bin\\"; }
    static std::string Backup() {
        return "CreateProcess \"C:\\nimbara\\\\bin\\nbbackup.bat\" dir=C:\\nimbara\\bin\\";
    }
};

// What other programs post to the supervisor window (nbctl, installers, a second start) and the
// tray menu's items are fixed numbers; they are pinned here, every other test names them.
TEST(WindowInterface, CommandIdsAndTheTrayMessageKeepTheirNumbers) {
    const std::pair<unsigned, unsigned> fixed[] = {
        {ID_SHOW, 32771},      {ID_BACKUP, 32776},     {ID_RESTORE, 32778}, {ID_INITIALIZE, 32779},
        {ID_TRAY_EXIT, 32773}, {ID_TRAY_ABOUT, 32777}, {WM_TRAY_CALLBACK, 1124}};
    for (const auto& [id, number] : fixed) EXPECT_EQ(id, number);
}

TEST_F(SupervisorTest, ConstructionWritesTheConfigurationInOrder) {
    CMainDlg dlg{app};
    EXPECT_THAT(os.Only({"WriteFile"}),
                ElementsAre("WriteFile C:\\nimbara\\\\conf\\extra\\httpd-nb.conf",
                            "WriteFile C:\\nimbara\\\\php\\php.ini"));
    EXPECT_EQ(U8(dlg.Home()), "C:\\nimbara\\");
    EXPECT_EQ(U8(dlg.Apache().ServerPath()), "nimbara");
    EXPECT_TRUE(os.Only({"CreateProcess", "NotifyIcon"}).empty());  // nothing runs yet
}

TEST_F(SupervisorTest, StartSequenceWithDefaults) {
    CMainDlg dlg{app};
    os.Clear();
    ASSERT_TRUE(dlg.Create(0x50));
    nb::WindowId w = dlg.GetSafeHwnd();
    EXPECT_THAT(Sequence(),
                ElementsAre("NotifyIcon ADD 130", "Topmost " + Hex(w), Server(),
                            "Connect 127.0.0.1:27142", "Sleep 2000",
                            "OpenUrl http://localhost:27142/index.php", "Sleep 2000", Backup(),
                            "SetTimer " + Hex(w) + " 1 5000",
                            "SetTimer " + Hex(w) + " 2 86400000"));
    EXPECT_EQ(os.calls.front(), "CreateDialog 104 owner=0x50 -> " + Hex(w));
    EXPECT_EQ(os.calls[1], "RegisterMessage TaskbarCreated");  // on WM_CREATE, first
    EXPECT_EQ(dlg.TaskbarCreatedMessage(), os.taskbarCreatedId);
    EXPECT_FALSE(os.exited);
    // The icon record, exactly.
    EXPECT_EQ(os.lastNid.cbSize, 952u);
    EXPECT_EQ(os.lastNid.hWnd, w);
    EXPECT_EQ(os.lastNid.uID, 0u);
    EXPECT_EQ(os.lastNid.uFlags, 7u);
    EXPECT_EQ(os.lastNid.uCallbackMessage, unsigned(WM_TRAY_CALLBACK));
    EXPECT_EQ(U8(os.lastNid.tip), "Nimbara");
}

TEST_F(SupervisorTest, WaitTimeIsReadAtEveryPause) {
    Set(L"nbmonitor", L"wait_time", L"100");
    int answered = 0;
    os.connectAnswers = [&](uint16_t) { return ++answered == 3; };
    int sleeps = 0;
    os.onSleep = [&](uint32_t) { Set(L"nbmonitor", L"wait_time", std::to_wstring(100 * (++sleeps + 1))); };
    CMainDlg dlg{app};
    dlg.Create();
    EXPECT_THAT(os.Only({"Sleep", "Connect"}),
                ElementsAre("Connect 127.0.0.1:27142", "Sleep 100", "Connect 127.0.0.1:27142",
                            "Sleep 200", "Connect 127.0.0.1:27142", "Sleep 300", "Sleep 400"));
}

TEST_F(SupervisorTest, StartFailureShutsDownAndExitsWithoutAMessageOfItsOwn) {
    os.createResults = {false};
    os.processes = {{7, L"httpd.exe"}};
    CMainDlg dlg{app};
    os.Clear();
    dlg.Create();
    nb::WindowId w = dlg.GetSafeHwnd();
    EXPECT_THAT(Sequence(),
                ElementsAre("NotifyIcon ADD 130", "Topmost " + Hex(w), Server(),
                            FakePlatform::Box(0, L"Nimbaraの起動に失敗しました。(Exec)", L"Nimbara", 0x10),
                            "NotifyIcon DELETE 130", "Terminate 7 0", "KillTimer " + Hex(w) + " 1",
                            "KillTimer " + Hex(w) + " 2", "ExitProcess -1"));
}

TEST_F(SupervisorTest, ServerThatNeverAnswersGivesUpAfterFiveAttempts) {
    os.connectAnswers = [](uint16_t) { return false; };
    CMainDlg dlg{app};
    os.Clear();
    dlg.Create();
    nb::WindowId w = dlg.GetSafeHwnd();
    std::vector<std::string> expected = {"NotifyIcon ADD 130", "Topmost " + Hex(w), Server()};
    for (int i = 0; i < 5; ++i) {
        expected.push_back("Connect 127.0.0.1:27142");
        expected.push_back("Sleep 2000");
    }
    // The icon goes and the servers stop before the box is shown.
    expected.insert(expected.end(),
                    {"NotifyIcon DELETE 130", "KillTimer " + Hex(w) + " 1", "KillTimer " + Hex(w) + " 2",
                     FakePlatform::Box(w, L"正常に動作を開始することができませんでした。\nNimbaraを終了します。",
                                       L"Nimbara", MB_OK | MB_ICONWARNING),
                     "ExitProcess -1"});
    EXPECT_THAT(Sequence(), ElementsAreArray(expected));
}

TEST_F(SupervisorTest, FailedTimersAreStoredAsZeroAndNeverMatch) {
    os.timersFail = true;
    CMainDlg dlg{app};
    dlg.Create();
    EXPECT_EQ(dlg.Timer(0).id, 0u);
    EXPECT_EQ(dlg.Timer(1).id, 0u);
}

class MonitorTest : public SupervisorTest {
protected:
    void SetUp() override {
        dlg.Create();
        w = dlg.GetSafeHwnd();
        os.Clear();
    }
    void Tick(std::uintptr_t id) { os.SendMsg(w, WM_TIMER, id, 0); }
    void KillServer() { os.exitCodes[dlg.Apache().Process()] = 1; }
    CMainDlg dlg{app};
    nb::WindowId w = 0;
};

TEST_F(MonitorTest, AliveTickTurnsTheIconBlueAndDoesNothingElse) {
    Tick(1);
    EXPECT_THAT(Sequence(), ElementsAre("NotifyIcon MODIFY 129"));
}

TEST_F(MonitorTest, DeadServerIsRestartedAfterTheFixedPause) {
    KillServer();
    os.processes = {{9, L"httpd.exe"}};
    Set(L"nbmonitor", L"wait_time", L"1");  // not used by the monitor
    Set(L"httpd", L"restart_wait", L"300");
    Tick(1);
    EXPECT_THAT(Sequence(), ElementsAre("NotifyIcon MODIFY 130", "Sleep 2000", "Terminate 9 0",
                                        "Sleep 300", Server()));
    Tick(1);
    EXPECT_THAT(Sequence().back(), "NotifyIcon MODIFY 129");
}

TEST_F(MonitorTest, NullHandleOrFailedQueryCountsAsDead) {
    os.queryFails.insert(dlg.Apache().Process());
    Tick(1);
    EXPECT_EQ(Sequence().front(), "NotifyIcon MODIFY 130");
    os.Clear();
    dlg.Apache().ForgetProcess();
    Tick(1);
    EXPECT_EQ(Sequence().front(), "NotifyIcon MODIFY 130");
}

TEST_F(MonitorTest, BackupTickRunsTheScriptSilently) {
    Tick(2);
    EXPECT_THAT(Sequence(), ElementsAre(Backup()));
}

TEST_F(MonitorTest, TickDuringARestartsFailureBoxStartsNoNestedRestart) {
    KillServer();
    os.createResults = {false};
    int nested = 0;
    os.onMsgBox = [&](const std::wstring&) {
        if (nested++ == 0) Tick(1);  // the box's loop delivers another tick
    };
    Tick(1);
    EXPECT_EQ(os.Only({"CreateProcess"}).size(), 1u);
    EXPECT_EQ(os.Boxes().size(), 1u);
    // Once the box is closed the next tick restarts again, silently.
    os.onMsgBox = nullptr;
    os.Clear();
    Tick(1);
    EXPECT_EQ(os.Only({"CreateProcess"}).size(), 1u);
    EXPECT_TRUE(os.Boxes().empty());
}

TEST_F(MonitorTest, DoubleClickOpensTheCurrentPortAndSingleClicksDoNothing) {
    dlg.Apache().SetPort(8);
    for (std::intptr_t m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE, WM_RBUTTONDBLCLK, WM_RBUTTONUP})
        os.SendMsg(w, WM_TRAY_CALLBACK, 0, m);
    EXPECT_TRUE(Sequence().empty());
    os.SendMsg(w, WM_TRAY_CALLBACK, 0, WM_LBUTTONDBLCLK);
    EXPECT_THAT(Sequence(), ElementsAre("OpenUrl http://localhost:8/index.php"));
}

TEST_F(MonitorTest, DoubleClickWhileTheServerIsDownPausesSixTimes) {
    KillServer();
    os.SendMsg(w, WM_TRAY_CALLBACK, 0, WM_LBUTTONDBLCLK);
    EXPECT_THAT(Sequence(), ElementsAre("Sleep 2000", "Sleep 2000", "Sleep 2000", "Sleep 2000",
                                        "Sleep 2000", "Sleep 2000"));
    EXPECT_FALSE(dlg.OpenBrowser());
}

TEST_F(MonitorTest, TaskbarRecreatedAddsTheIconRedAgain) {
    os.SendMsg(w, os.taskbarCreatedId, 0, 0);
    EXPECT_THAT(Sequence(), ElementsAre("NotifyIcon ADD 130"));
}

TEST_F(MonitorTest, RightClickTracksTheMenuAndExitReachesTheHostThroughRouting) {
    // Stand-in owner that records what arrives.
    struct Owner : CDialog {
        Owner() : CDialog(102) {}
        std::vector<uint32_t> got;
        bool OnMessage(uint32_t m, std::uintptr_t wp, std::intptr_t, std::intptr_t* r) override {
            if (m == WM_COMMAND) got.push_back(LoWord(wp));
            *r = 0;
            return m == WM_COMMAND;
        }
    } owner;
    owner.Create();
    os.owners[w] = owner.GetSafeHwnd();
    os.onMenu = [&] { os.SendMsg(w, WM_COMMAND, ID_TRAY_EXIT, 0); };
    os.Clear();
    os.SendMsg(w, WM_TRAY_CALLBACK, 0, WM_RBUTTONDOWN);
    EXPECT_THAT(os.Only({"SetForeground", "TrackMenu", "Post"}),
                ElementsAre("SetForeground " + Hex(w), "TrackMenu 131 0 0x2 10,20 " + Hex(w),
                            "Post " + Hex(w) + " 0 0 0"));
    EXPECT_THAT(owner.got, ElementsAre(ID_TRAY_EXIT));
    // Commands outside the routed range, or a control's notification, stay where they are;
    // an accelerator's command (high word 1, lParam 0) is routed by its low word.
    os.SendMsg(w, WM_COMMAND, 1000, 0);
    os.SendMsg(w, WM_COMMAND, (1u << 16) | ID_TRAY_ABOUT, 0x999);
    os.SendMsg(w, WM_COMMAND, (1u << 16) | ID_TRAY_ABOUT, 0);
    EXPECT_THAT(owner.got, ElementsAre(ID_TRAY_EXIT, ID_TRAY_ABOUT));
    // The supervisor's own commands are taken by their low word too.
    os.Clear();
    os.SendMsg(w, WM_COMMAND, (1u << 16) | ID_BACKUP, 0);
    os.SendMsg(w, WM_COMMAND, (1u << 16) | ID_SHOW, 0x999);
    EXPECT_THAT(os.Only({"CreateProcess", "ShowWindow"}), ElementsAre(Backup()));
}

TEST_F(MonitorTest, DestroyRemovesTheIconStopsServersAndTimers) {
    os.processes = {{3, L"httpd.exe"}};
    dlg.DestroyWindow();
    EXPECT_THAT(Sequence(), ElementsAre("NotifyIcon DELETE 130", "Terminate 3 0",
                                        "KillTimer " + Hex(w) + " 1", "KillTimer " + Hex(w) + " 2"));
}

TEST_F(MonitorTest, ShowCommandShowsTheWindow) {
    os.SendMsg(w, WM_COMMAND, ID_SHOW, 0);
    EXPECT_THAT(os.Only({"ShowWindow"}), ElementsAre("ShowWindow " + Hex(w) + " 5"));
}

TEST_F(MonitorTest, DebugUrlBoxFollowsTheLaunch) {
    dlg.SetDebug(1);
    dlg.Apache().SetPort(27143);
    EXPECT_TRUE(dlg.OpenBrowser());
    EXPECT_THAT(Sequence(), ElementsAre("OpenUrl http://localhost:27143/index.php",
                                        FakePlatform::Box(w, L"http://localhost:27143/index.php", L"url", MB_OK)));
}

// --- host ------------------------------------------------------------------------------------

class HostTest : public SupervisorTest {};

TEST_F(HostTest, InitializationCreatesTitlesAndHidesTheSupervisor) {
    CnbmonitorDlg host;
    app.SetMainWindow(&host);
    os.onModal = [&](int id, CDialog* dlg) {
        if (id != 102) return;
        nb::WindowId h = dlg->GetSafeHwnd();
        nb::WindowId s = host.Supervisor()->GetSafeHwnd();
        EXPECT_EQ(os.OwnerOf(s), h);
        EXPECT_EQ(os.FindWindowByTitle(L"nbmonitorDlg"), s);
        // Enter and Escape are swallowed; Exit routed from the supervisor ends the dialog.
        EXPECT_TRUE(host.PreTranslateMessage({h, WM_KEYDOWN, VK_RETURN, 0}));
        EXPECT_TRUE(host.PreTranslateMessage({h, WM_KEYDOWN, VK_ESCAPE, 0}));
        EXPECT_FALSE(host.PreTranslateMessage({h, WM_KEYDOWN, 'A', 0}));
        os.SendMsg(s, WM_COMMAND, ID_TRAY_EXIT, 0);
    };
    host.DoModal();
    app.SetMainWindow(nullptr);
    auto seq = os.Only({"SystemMenuItem", "SetIcons", "NoAppWindow", "CreateDialog", "SetTitle",
                        "ShowWindow", "HideAtOrigin", "EndModal", "DestroyWindow", "NotifyIcon"});
    ASSERT_GE(seq.size(), 10u);
    EXPECT_EQ(seq[0], "CreateDialog 102 owner=0x0 -> 0x101");
    EXPECT_EQ(seq[1], "SystemMenuItem 0x101 16 情報(&A)...");
    EXPECT_EQ(seq[2], "SetIcons 0x101 128");
    EXPECT_EQ(seq[3], "NoAppWindow 0x101");
    EXPECT_EQ(seq[4], "CreateDialog 104 owner=0x101 -> 0x102");
    EXPECT_EQ(seq[5], "NotifyIcon ADD 130");
    EXPECT_EQ(seq[6], "SetTitle 0x102 nbmonitorDlg");
    EXPECT_EQ(seq[7], "ShowWindow 0x102 0");
    EXPECT_EQ(seq[8], "HideAtOrigin 0x101");
    EXPECT_EQ(seq[9], "EndModal 0x101 1");
    // The supervisor goes first, then the host; the servers are stopped with it.
    EXPECT_THAT(std::vector<std::string>(seq.begin() + 10, seq.end()),
                ElementsAre("DestroyWindow 0x101", "DestroyWindow 0x102", "NotifyIcon DELETE 130"));
}

TEST_F(HostTest, SystemMenuAboutAndOtherCommands) {
    CnbmonitorDlg host;
    std::vector<int> modals;
    os.onModal = [&](int id, CDialog*) {
        modals.push_back(id);
        if (id == 102) {
            nb::WindowId h = host.GetSafeHwnd();
            os.SendMsg(h, WM_SYSCOMMAND, 0x0013, 0);  // 16 with low bits set
            os.SendMsg(h, WM_COMMAND, ID_TRAY_ABOUT, 0);
            EXPECT_EQ(os.SendMsg(h, WM_QUERYDRAGICON, 0, 0), os.IconHandle(128));
        }
    };
    host.DoModal();
    EXPECT_THAT(modals, ElementsAre(102, 100, 100));
}
