// The supervision log: its lines for a start, a dead server, a failed restart and a refused
// restore name; its rotation; and that a log that cannot be written changes nothing else.
#include "base/supervision_log.h"

#include "maintenance/restore_dlg.h"
#include "resources/resource.h"
#include "supervisor/main_dlg.h"
#include "test_env.h"
#include "nbmonitor_version.h"

using namespace nb;

namespace {
const std::wstring kLog = L"C:\\nimbara\\\\logs\\nbmonitor.log";
}  // namespace

class LogTest : public NbTest {
protected:
    LogTest() { os.File(L"C:\\nimbara\\php\\php.ini.ORG") = "x = 1\r\n"; }
};

TEST_F(LogTest, LineFormat) {
    nb::LocalTime t{2027, 1, 2, 3, 4, 5, 6, -(3 * 60 + 30)};
    EXPECT_EQ(slog::FormatLine(t, 7, "x", {{"a", L"plain"}, {"b", L"with blank"}, {"c", L""},
                                           {"d", L"say \"hi\""}, {"e", L"two\r\nlines\ttab"},
                                           {"f", L"ニンバラ"}, {"n", 42}}),
              "2027-01-02T03:04:05.006-03:30 7 x a=plain b=\"with blank\" c=\"\" "
              "d=\"say \"\"hi\"\"\" e=\"two  lines tab\" f=\xE3\x83\x8B\xE3\x83\xB3\xE3\x83\x90\xE3\x83\xA9 "
              "n=42\r\n");
}

TEST_F(LogTest, ACharacterBeyondTheBasicPlaneStaysOneInQuotes) {
    // U+20BB7 as Windows holds it, a surrogate pair, in a value that is quoted.
    const std::wstring home = {L'C', L':', L'\\', 0xD842, 0xDFB7, L' ', L'x', L'\\'};
    EXPECT_EQ(slog::FormatLine(os.now, 1, "start", {{"home", home}}),
              "2026-12-08T23:55:01.123+09:00 1 start home=\"C:\\\xF0\xA0\xAE\xB7 x\\\"\r\n");
}

TEST_F(LogTest, StartDeadServerAndAFailedRestart) {
    CMainDlg dlg(app);
    dlg.Create();
    EXPECT_THAT(os.LogLines(),
                ElementsAreArray(Stamped({
                    "start version=1.1.0.0 build=" NB_BUILD_ID " home=C:\\nimbara\\ settings=C:\\nimbara\\conf\\nbmonitor.ini "
                    "httpd.default_port=27142 httpd.default_address=127.0.0.1 httpd.debug=0 "
                    "httpd.restart_wait=2000 httpd.stop_timeout=5000 httpd.error_log=logs\\error.log httpd.config_test=0 nbmonitor.monitor_interval=5000 "
                    "nbmonitor.backup_interval=86400000 nbmonitor.debug=0 nbmonitor.wait_time=2000 "
                    "nbmonitor.health_interval=0 nbmonitor.health_timeout=3000 "
                    "nbmonitor.health_failures=3 nbmonitor.health_start_period=30000 nbmonitor.crash_balloon=0",
                    "config file=C:\\nimbara\\\\conf\\extra\\httpd-nb.conf written=1",
                    "config file=C:\\nimbara\\\\php\\php.ini written=1",
                    "config file=C:\\nimbara\\\\conf\\extra\\httpd-port.conf written=1",
                    "server-start cmd=C:\\nimbara\\\\bin\\httpd.exe pid=500 port=27142",
                    "server-ready port=27142 ms=0 attempts=1",
                    "browser url=http://localhost:27142/index.php",
                    "backup cmd=\"\"\"C:\\nimbara\\\\bin\\nbbackup.bat\"\"\" started=1 notify=0",
                })));
    // The server dies with code 3, 11 s after its launch (the start sequence slept 4 of them);
    // its restart cannot write the listen file.
    os.monotonicMs += 7000;
    os.exitCodes[dlg.Apache().Process()] = 3;
    os.processes = {{500, L"httpd.exe"}};
    os.unwritable = {FakePlatform::Key(L"C:\\nimbara\\conf\\extra\\httpd-port.conf")};
    os.Clear();
    os.SendMsg(dlg.GetSafeHwnd(), WM_TIMER, 1, 0);
    EXPECT_THAT(os.LogLines(),
                ElementsAreArray(Stamped({
                    "server-exited pid=500 code=3 code_hex=0x00000003 ran_ms=11000",
                    "server-stop pid=500 forced=1 reason=no-event",
                    "config file=C:\\nimbara\\\\conf\\extra\\httpd-port.conf written=0 reason=cannot-open",
                    "server-failed reason=\"Nimbaraの起動に失敗しました。 フォルダに書き込み権限があることを確認してください。\" "
                    "port=27142",
                    "restart started=0 ended=1 restart_wait=2000",
                })));
    // The next tick restarts without telling that end again; then a server the system can no
    // longer be asked about.
    os.unwritable.clear();
    os.Clear();
    os.SendMsg(dlg.GetSafeHwnd(), WM_TIMER, 1, 0);
    EXPECT_THAT(os.LogLines().at(0), HasSubstr("server-stop pid=500"));
    os.queryFails = {dlg.Apache().Process()};
    os.Clear();
    os.SendMsg(dlg.GetSafeHwnd(), WM_TIMER, 1, 0);
    EXPECT_EQ(os.LogLines().at(0), kStamp + "server-exited pid=502 code=unknown ran_ms=0");
    os.Clear();
    os.SendMsg(dlg.GetSafeHwnd(), WM_TIMER, 2, 0);  // nothing but the backup's line
    EXPECT_EQ(os.LogLines().size(), 1u);
    dlg.DestroyWindow();
    EXPECT_EQ(os.LogLines().back(), kStamp + "exit reason=window-destroyed servers_ended=1");
}

TEST_F(LogTest, RefusedRestoreName) {
    CMainDlg dlg(app);
    dlg.Create();
    os.folders[FakePlatform::Key(L"C:\\nimbara\\\\backup\\*")] = {{L"x & calc", false}};
    os.onModal = [&](int, CDialog* d) {
        auto* r = static_cast<CRestoreDlg*>(d);
        os.Select(r->List(), {0});
        os.SendMsg(r->GetSafeHwnd(), WM_COMMAND, IDOK, 0);
    };
    os.Clear();
    os.SendMsg(dlg.GetSafeHwnd(), WM_COMMAND, ID_RESTORE, 0);
    EXPECT_THAT(os.LogLines(), ElementsAre(kStamp + "restore name=\"x & calc\" refused=1"));
}

TEST_F(LogTest, RotatesBeforePassingTheBound) {
    slog::Open(L"C:\\nimbara\\");
    os.File(kLog) = std::string(slog::kRotateBytes - 40, 'x');
    os.File(kLog + L".1") = "older";
    slog::Write("browser", {{"opened", 0}});  // 52 bytes: it would pass the bound
    EXPECT_EQ(os.File(kLog + L".1").size(), slog::kRotateBytes - 40);
    EXPECT_EQ(os.File(kLog), kStamp + "browser opened=0\r\n");
    slog::Write("browser", {{"opened", 0}});  // fits: appended
    EXPECT_EQ(os.File(kLog).size(), 2 * (kStamp.size() + 18));
    EXPECT_EQ(os.Only({"Rename"}).size(), 1u);
    // Full again, and the older file cannot be replaced: the line is dropped, not appended.
    os.File(kLog) = std::string(slog::kRotateBytes - 10, 'x');
    os.unwritable = {FakePlatform::Key(kLog + L".1")};
    os.undeletable = os.unwritable;
    slog::Write("browser", {{"opened", 0}});
    EXPECT_EQ(os.File(kLog).size(), slog::kRotateBytes - 10);
}

TEST_F(LogTest, ALogThatCannotBeWrittenChangesNothingElse) {
    // The same life twice, each on a platform of its own, once with the log unwritable.
    auto run = [&](bool writable) {
        FakePlatform fake;
        fake.File(L"C:\\nimbara\\php\\php.ini.ORG") = "x = 1\r\n";
        if (!writable) fake.unwritable = {FakePlatform::Key(kLog)};
        {
            CMainDlg dlg(app);
            dlg.Create();
            fake.exitCodes[dlg.Apache().Process()] = 1;
            fake.SendMsg(dlg.GetSafeHwnd(), WM_TIMER, 1, 0);
            dlg.DestroyWindow();
        }
        std::vector<std::string> rest;
        for (const std::string& c : fake.calls)
            if (c.compare(0, 4, "Log ") != 0) rest.push_back(c);
        return rest;
    };
    std::vector<std::string> with = run(true);
    EXPECT_EQ(run(false), with);
    EXPECT_GT(with.size(), 20u);
}

TEST_F(LogTest, ExitReasonTellsTheTrayMenuFromAWindowCommand) {
    for (bool fromMenu : {true, false}) {
        CMainDlg dlg(app);
        dlg.Create();
        nb::WindowId w = dlg.GetSafeHwnd();
        if (fromMenu) {
            // The menu's command arrives before the WM_NULL posted after the menu.
            os.onMenu = [&] { os.SendMsg(w, WM_COMMAND, ID_TRAY_EXIT, 0); };
            os.SendMsg(w, WM_TRAY_CALLBACK, 0, WM_RBUTTONDOWN);
        } else {
            os.onMenu = nullptr;
            os.SendMsg(w, WM_TRAY_CALLBACK, 0, WM_RBUTTONDOWN);  // a menu closed without a choice
            os.SendMsg(w, WM_NULL, 0, 0);
            os.SendMsg(w, WM_COMMAND, ID_TRAY_EXIT, 0);  // then, say, nbctl exit
        }
        dlg.DestroyWindow();
        EXPECT_EQ(os.LogLines().back(), kStamp + "exit reason=" + (fromMenu ? "menu" : "command") +
                                            " servers_ended=0");
    }
}
