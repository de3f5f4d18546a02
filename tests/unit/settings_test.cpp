// Home directory, server path, settings path and the settings' defaults.
#include "base/settings.h"

#include "server/apache_control.h"
#include "supervisor/main_dlg.h"
#include "test_env.h"

using namespace nb;

TEST(HomeDir, FollowsTheExecutableTwoLevelsUp) {
    struct Case {
        const wchar_t* module;
        const wchar_t* home;
        const wchar_t* serverPath;
    } cases[] = {
        {L"C:\\nimbara\\bin\\nbmonitor.exe", L"C:\\nimbara\\", L"nimbara"},
        {L"D:\\apps\\nimbara\\bin\\nbmonitor.exe", L"D:\\apps\\nimbara\\", L"apps/nimbara"},
        {L"C:\\bin\\nbmonitor.exe", L"C:\\", L""},
        {L"nbmonitor.exe", L"nbmonitor.exe", L""},
        {L"C:\\nbmonitor.exe", L"C:", L""},
    };
    for (const Case& c : cases) {
        std::wstring home = HomeFromModulePath(c.module);
        EXPECT_EQ(U8(home), U8(c.home)) << U8(c.module);
        EXPECT_EQ(U8(ServerPathOf(home)), U8(c.serverPath)) << U8(c.module);
    }
}

TEST(SettingsPath, IsTheCurrentDirectorysParentConfFile) {
    std::wstring out;
    ASSERT_TRUE(SettingsPathFromCurrentDir(L"C:\\nimbara\\bin", 260, &out));
    EXPECT_EQ(U8(out), "C:\\nimbara\\conf\\nbmonitor.ini");
    ASSERT_TRUE(SettingsPathFromCurrentDir(L"C:\\", 260, &out));
    EXPECT_EQ(U8(out), "C:\\conf\\nbmonitor.ini");
    ASSERT_TRUE(SettingsPathFromCurrentDir(L"E:\\work\\shortcut", 260, &out));
    EXPECT_EQ(U8(out), "E:\\work\\conf\\nbmonitor.ini");
}

TEST(SettingsPath, ThatDoesNotFitIsRefusedNotCut) {
    std::wstring out = L"unchanged";
    std::wstring dir = L"C:\\" + std::wstring(245, L'a') + L"\\bin";  // parent: 248 chars
    EXPECT_FALSE(SettingsPathFromCurrentDir(dir, 260, &out));
    EXPECT_EQ(U8(out), "unchanged");
    // 259 characters plus the terminator fit exactly.
    std::wstring parent = L"C:\\" + std::wstring(259 - 19 - 3, L'p');
    ASSERT_TRUE(SettingsPathFromCurrentDir(parent + L"\\bin", 260, &out));
    EXPECT_EQ(out.size(), 259u);
}

class SettingsDefaults : public NbTest {};

TEST_F(SettingsDefaults, ApplyWhenTheFileIsMissing) {
    CMainDlg dlg(app);
    EXPECT_EQ(dlg.Apache().Port(), 27142u);
    EXPECT_EQ(U8(dlg.Apache().Address()), "127.0.0.1");
    EXPECT_EQ(dlg.Apache().Debug(), 0);
    EXPECT_EQ(dlg.Debug(), 0);
    EXPECT_EQ(dlg.Timer(0).id, 1u);
    EXPECT_EQ(dlg.Timer(0).interval, 5000u);
    EXPECT_EQ(dlg.Timer(1).id, 2u);
    EXPECT_EQ(dlg.Timer(1).interval, 86400000u);
    EXPECT_TRUE(os.Boxes().empty());
    EXPECT_EQ(U8(os.lastProfileFile), "C:\\nimbara\\conf\\nbmonitor.ini");
}

TEST_F(SettingsDefaults, DebugTwoSwitchesDiagnosticsOnAndAddressIsCut) {
    Set(L"nbmonitor", L"debug", L"2");
    Set(L"httpd", L"debug", L"2");
    Set(L"httpd", L"default_address", std::wstring(300, L'9'));
    CMainDlg dlg(app);
    EXPECT_EQ(dlg.Apache().Address().size(), 255u);
    // Controller: SetPath's two boxes for the default home, then for the real one; then the
    // supervisor's home box comes between them, with no owner window.
    auto boxes = os.Boxes();
    ASSERT_GE(boxes.size(), 5u);
    EXPECT_EQ(boxes[0], FakePlatform::Box(0, L"C:\\nimbara\\", L"SetPath: m_path", MB_OK));
    EXPECT_EQ(boxes[1], FakePlatform::Box(0, L"nimbara", L"SetPath: m_dir", MB_OK));
    EXPECT_EQ(boxes[2], FakePlatform::Box(0, L"C:\\nimbara\\", L"CMainDlg::GetHomeDir", MB_OK));
    EXPECT_EQ(boxes[3], FakePlatform::Box(0, L"C:\\nimbara\\", L"SetPath: m_path", MB_OK));
}

TEST_F(SettingsDefaults, GarbageAndNegativeNumbersReadAsTheSystemReadsThem) {
    Set(L"httpd", L"default_port", L"abc");
    Set(L"nbmonitor", L"monitor_interval", L"-1");
    Set(L"nbmonitor", L"backup_interval", L"");
    CMainDlg dlg(app);
    EXPECT_EQ(dlg.Apache().Port(), 0u);
    EXPECT_EQ(dlg.Timer(0).interval, 0xFFFFFFFFu);
    EXPECT_EQ(dlg.Timer(1).interval, 86400000u);
}
