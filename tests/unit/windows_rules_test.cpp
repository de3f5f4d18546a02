// Rules of Windows that Wine does not enforce, as the fake models them: the error mode the
// server inherits, a port shared with a wildcard listener, the foreground handed to the
// running instance, a taskbar that refuses the icon, a settings file with a UTF-8 mark.
#include <algorithm>

#include "app/host_dlg.h"
#include "base/settings.h"
#include "resources/resource.h"
#include "server/apache_control.h"
#include "supervisor/main_dlg.h"
#include "test_env.h"

using namespace nb;

class WindowsRulesTest : public NbTest {
protected:
    WindowsRulesTest() { os.File(L"C:\\nimbara\\php\\php.ini.ORG") = "x = 1\r\n"; }
};

TEST_F(WindowsRulesTest, ErrorModeIsSetBeforeAnythingIsLaunchedKeepingItsBits) {
    os.errorMode = 0x4;
    app.Run();
    EXPECT_THAT(os.Only({"ErrorMode", "CreateProcess"}),
                ElementsAre("ErrorMode 0x8007", HasSubstr("httpd.exe"), HasSubstr("nbbackup.bat")));
}

// Windows' bind table: beside a wildcard listener without exclusive use the specific probe
// binds; the wildcard bind then finds it. A specific listener elsewhere leaves the port free.
TEST_F(WindowsRulesTest, PortProbeSkipsExactlyThePortsAWildcardListenerHolds) {
    os.listeners = {{27142, {"0.0.0.0"}},
                    {27143, {"::"}},
                    {27144, {"0.0.0.0", true}},
                    {27145, {"192.168.1.5"}}};
    CApacheControl c(app);
    EXPECT_EQ(c.PortCheck(), 1);
    EXPECT_EQ(c.Port(), 27145u);
    EXPECT_THAT(os.Only({"BindWildcard"}),
                ElementsAre("BindWildcard 27142", "BindWildcard 27143", "BindWildcard 27145"));
}

TEST_F(WindowsRulesTest, SecondStartLetsTheRunningInstanceTakeTheForegroundBeforeItPosts) {
    os.mutexExists = true;
    os.titles[L"nbmonitorDlg"] = 0x777;
    os.windowPids[0x777] = 5150;
    app.Run();
    EXPECT_THAT(os.Only({"AllowForeground", "Post"}),
                ElementsAre("AllowForeground 5150",
                            "Post 0x777 " + std::to_string(WM_TRAY_CALLBACK) + " 0 515"));
}

TEST_F(WindowsRulesTest, RefusedTrayAddIsRetriedEveryTwoSecondsForTwoMinutesThenOnTaskbarCreated) {
    os.trayAddFailures = 2;
    CMainDlg dlg{app};
    dlg.Create();
    const nb::WindowId w = dlg.GetSafeHwnd();
    const auto Tick = [&](std::uintptr_t id) { os.SendMsg(w, WM_TIMER, id, 0); };
    EXPECT_THAT(os.Only({"AllowMessage"}), ElementsAre("AllowMessage " + Hex(w) + " 0xc0de"));
    EXPECT_THAT(Events("tray-"), ElementsAre("tray-failed op=add"));
    Tick(TIMER_TRAY_RETRY);
    os.Clear();
    Tick(TIMER_TRAY_RETRY);  // the second retry is taken
    Tick(TIMER_TRAY_RETRY);  // one already queued does nothing
    EXPECT_THAT(os.Only({"NotifyIcon", "SetTimer", "KillTimer", "AllowMessage"}), ElementsAre("NotifyIcon ADD 130", "KillTimer " + Hex(w) + " 74"));
    os.trayAddFailures = 1000;
    os.trayModifyFailures = 1;  // the taskbar lost it: a refused modify adds it again
    Tick(1);
    for (int i = 0; i < 60; ++i) Tick(TIMER_TRAY_RETRY);
    EXPECT_EQ(std::count(os.calls.begin(), os.calls.end(), "KillTimer " + Hex(w) + " 74"), 2);  // taken; 2 min
    os.trayAddFailures = 0;
    os.SendMsg(w, os.taskbarCreatedId, 0, 0);
    EXPECT_THAT(Events("tray-"),
                ElementsAre("tray-added retries=2", "tray-failed op=modify", "tray-added retries=60"));
}

// Windows' profile functions take a UTF-8 mark for part of the first line: the first
// section's keys are missed. The program says so in its log.
TEST_F(WindowsRulesTest, SettingsFileWithAUtf8MarkLosesItsFirstSectionAndIsLogged) {
    const std::string ini = "[httpd]\r\ndefault_port=8080\r\n[nbmonitor]\r\nwait_time=100\r\n";
    os.File(L"C:\\nimbara\\conf\\nbmonitor.ini") = "\xEF\xBB\xBF" + ini;
    {
        CMainDlg dlg{app};
        EXPECT_EQ(dlg.Apache().Port(), 27142u);
        EXPECT_EQ(settings::ReadInt(app, settings::kWaitTime), 100u);
    }
    EXPECT_THAT(Events("settings-bom"), ElementsAre("settings-bom file=C:\\nimbara\\conf\\nbmonitor.ini"));
    os.Clear();
    os.File(L"C:\\nimbara\\conf\\nbmonitor.ini") = ini;
    CMainDlg dlg{app};
    EXPECT_EQ(dlg.Apache().Port(), 8080u);
    EXPECT_TRUE(Events("settings-bom").empty());
}
