// Start-up of the application object, in its fixed order, and its refusals.
#include "app/nbmonitor_app.h"

#include "base/framework.h"
#include "platform/file_paths.h"
#include "resources/resource.h"
#include "test_env.h"

using namespace nb;

class StartupTest : public ::testing::Test {
protected:
    FakePlatform os;
    CnbmonitorApp app;
    std::vector<std::string> Steps() const {
        return os.Only({"InitCommonControls", "WSAStartup", "WSACleanup", "CreateMutex", "Post",
                        "MsgBox", "CreateDialog"});
    }
    static std::string Warn(const wchar_t* text) {
        return FakePlatform::Box(0, text, nullptr, MB_OK | MB_ICONWARNING);
    }
};

TEST_F(StartupTest, SecondInstanceActivatesTheRunningOneAndEnds) {
    os.mutexExists = true;
    os.titles[L"nbmonitorDlg"] = 0x777;
    app.Run();
    EXPECT_THAT(Steps(), ElementsAre("InitCommonControls 0xff", "WSAStartup 0x101",
                                     "CreateMutex nbmonitor",
                                     "Post 0x777 " + std::to_string(WM_TRAY_CALLBACK) + " 0 515"));
    EXPECT_EQ(U8(app.SettingsPath()), "");
}

TEST_F(StartupTest, SecondInstanceDuringTheStartSequenceFindsNothing) {
    os.mutexExists = true;
    app.Run();
    EXPECT_TRUE(os.Only({"Post", "MsgBox"}).empty());
}

TEST_F(StartupTest, CopyUnderAnotherNameUsesItsOwnMutex) {
    os.modulePath = L"C:\\nimbara\\bin\\nbmonitor2.exe";
    os.mutexExists = true;
    app.Run();
    EXPECT_THAT(os.Only({"CreateMutex"}), ElementsAre("CreateMutex nbmonitor2"));
}

TEST_F(StartupTest, SocketsVersionOtherThan11IsRefused) {
    os.grantedVersion = 0x0202;
    app.Run();
    EXPECT_THAT(Steps(), ElementsAre("InitCommonControls 0xff", "WSAStartup 0x101", "WSACleanup",
                                     Warn(L"Windows ソケットの初期化に失敗しました。")));
    os.Clear();
    os.grantedVersion = 0;
    os.socketsFail = true;
    app.Run();
    EXPECT_THAT(os.Boxes(), ElementsAre(Warn(L"Windows ソケットの初期化に失敗しました。")));
}

TEST_F(StartupTest, UnusableCurrentDirectoryOrModulePathIsRefusedClearly) {
    os.currentDirFails = true;
    app.Run();
    EXPECT_THAT(os.Boxes(), ElementsAre(Warn(startup_text::kCurrentDirUnusable)));
    EXPECT_TRUE(os.Only({"CreateDialog"}).empty());

    os.Clear();
    os.currentDirFails = false;
    os.currentDir = L"C:\\" + std::wstring(260, L'd') + L"\\bin";
    app.Run();
    EXPECT_THAT(os.Boxes(), ElementsAre(Warn(startup_text::kCurrentDirUnusable)));

    os.Clear();
    os.currentDir = L"C:\\" + std::wstring(240, L'd') + L"\\bin";
    app.Run();
    EXPECT_THAT(os.Boxes(), ElementsAre(Warn(startup_text::kSettingsPathTooLong)));

    os.Clear();
    os.currentDir = L"C:\\nimbara\\bin";
    os.moduleFails = true;
    app.Run();
    EXPECT_THAT(os.Boxes(), ElementsAre(Warn(startup_text::kNoModulePath)));
    EXPECT_TRUE(os.Only({"CreateDialog"}).empty());

    // A program path over 255 characters is refused, not cut: the mutex still has the
    // program's own title, and nothing is written or started.
    os.Clear();
    os.moduleFails = false;
    os.modulePath = L"C:\\" + std::wstring(240, L'p') + L"\\bin\\nbmonitor.exe";
    app.Run();
    EXPECT_THAT(Steps(), ElementsAre("InitCommonControls 0xff", "WSAStartup 0x101",
                                     "CreateMutex nbmonitor",
                                     Warn(startup_text::kModulePathTooLong)));
    EXPECT_TRUE(os.Only({"WriteFile", "CreateProcess"}).empty());
}

TEST_F(StartupTest, SettingsPathFollowsTheCurrentDirectoryAndIsReleasedAtExit) {
    os.currentDir = L"E:\\elsewhere\\work";
    std::wstring seen;
    os.onModal = [&](int id, CDialog*) {
        if (id == 102) seen = app.SettingsPath();
    };
    os.connectAnswers = [](uint16_t) { return true; };
    app.Run();
    EXPECT_EQ(U8(seen), "E:\\elsewhere\\conf\\nbmonitor.ini");
    EXPECT_EQ(U8(os.lastProfileFile), "E:\\elsewhere\\conf\\nbmonitor.ini");
    EXPECT_EQ(U8(app.SettingsPath()), "");  // released by ExitInstance
    EXPECT_EQ(os.Only({"CreateDialog"}).front(), "CreateDialog 102 owner=0x0 -> 0x101");
}

TEST(Title, IsTheExecutablesNameWithoutFolderAndExtension) {
    EXPECT_EQ(U8(nb::FileStem(L"C:\\nimbara\\bin\\nbmonitor.exe")), "nbmonitor");
    EXPECT_EQ(U8(nb::FileStem(L"C:\\a.b\\nb.monitor.exe")), "nb.monitor");
    EXPECT_EQ(U8(nb::FileStem(L"nbmonitor")), "nbmonitor");
}
