// Backup, restore dialog and initialization, and the rules for names handed to cmd.exe.
#include "maintenance/restore_dlg.h"

#include "maintenance/restore_name.h"
#include "resources/resource.h"
#include "supervisor/main_dlg.h"
#include "test_env.h"

using namespace nb;

class MaintenanceTest : public NbTest {
protected:
    void SetUp() override {
        dlg.Create();
        w = dlg.GetSafeHwnd();
        os.Clear();
    }
    void Command(uint32_t id) { os.SendMsg(w, WM_COMMAND, id, 0); }
    void Backups(std::initializer_list<const wchar_t*> names) {
        auto& entries = os.folders[FakePlatform::Key(L"C:\\nimbara\\\\backup\\*")];
        entries = {{L".", true}, {L"..", true}};
        for (const wchar_t* n : names) entries.push_back({n, false});
    }
    static std::string Restore(const std::string& arg) {
        return "CreateProcess \"C:\\nimbara\\\\bin\\nbrestore.bat\" " + arg + " dir=C:\\nimbara\\bin\\";
    }
    CMainDlg dlg{app};
    nb::WindowId w = 0;
};

TEST_F(MaintenanceTest, BackupCommandShowsTheNoticeOnlyAfterASuccessfulLaunch) {
    dlg.SetDebug(1);
    Command(ID_BACKUP);
    const std::string cmd = "\"C:\\nimbara\\\\bin\\nbbackup.bat\"";
    EXPECT_THAT(os.Only({"MsgBox", "CreateProcess"}),
                ElementsAre(FakePlatform::Box(w, W(cmd), L"CMainDlg::OnBackup", MB_OK),
                            "CreateProcess " + cmd + " dir=C:\\nimbara\\bin\\",
                            FakePlatform::Box(w, L"バックアップしました   ", L"Nimbara",
                                              MB_OK | MB_ICONINFORMATION)));
    // The script's handle is not kept.
    EXPECT_EQ(os.openProcesses.count(os.lastProcess), 0u);

    os.Clear();
    os.createResults = {false};
    Command(ID_BACKUP);
    EXPECT_EQ(os.Boxes().size(), 1u);  // only the debug box
    os.Clear();
    dlg.SetDebug(0);
    dlg.OnBackup(0);
    dlg.OnBackup(2);
    EXPECT_TRUE(os.Boxes().empty());
}

TEST_F(MaintenanceTest, RestoreListIsReversedAndSkipsDotsAndIconFailures) {
    Backups({L"a", L"b", L"sub", L"c", L"noicon"});
    os.folders[FakePlatform::Key(L"C:\\nimbara\\\\backup\\*")][4].directory = true;
    os.iconFails = {FakePlatform::Key(L"C:\\nimbara\\backup\\noicon")};
    CRestoreDlg* seen = nullptr;
    std::vector<std::wstring> rows;
    os.onModal = [&](int id, CDialog* d) {
        EXPECT_EQ(id, IDD_RESTOREDLG);
        seen = static_cast<CRestoreDlg*>(d);
        rows = os.ListTexts(seen->List());
    };
    Command(ID_RESTORE);
    ASSERT_NE(seen, nullptr);
    EXPECT_THAT(rows, ElementsAre(L"c", L"sub", L"b", L"a"));
    EXPECT_THAT(os.Only({"ImageListCreate", "ListSetImageList", "ListInsertColumn"}),
                ElementsAre("ImageListCreate 16x16 0x18 2 1", "ListSetImageList 0x10203ec 0x5000",
                            "ListInsertColumn 0x10203ec 0 ファイル名 300"));
    EXPECT_EQ(os.liveIcons, 0);  // every shell icon released again
    EXPECT_TRUE(os.Only({"CreateProcess"}).empty());
    // The list view owns the image list it was given and destroys it with itself, once.
    EXPECT_THAT(os.Only({"ImageListDestroy"}), ElementsAre("ImageListDestroy 0x5000"));
}

TEST_F(MaintenanceTest, EmptyOrMissingFolderAndFailedImageList) {
    os.onModal = [&](int, CDialog* d) {
        auto* r = static_cast<CRestoreDlg*>(d);
        EXPECT_TRUE(os.ListTexts(r->List()).empty());
        os.SendMsg(r->GetSafeHwnd(), WM_COMMAND, IDOK, 0);  // nothing selected: closes
    };
    Command(ID_RESTORE);
    EXPECT_EQ(os.Only({"EndModal"}).size(), 1u);
    EXPECT_THAT(os.Only({"EndModal"})[0], HasSubstr(" 1"));

    Backups({L"a"});
    os.imageListFails = true;
    os.Clear();
    Command(ID_RESTORE);
    EXPECT_TRUE(os.Only({"ListSetImageList", "ListInsertColumn", "ListInsertItem"}).empty());
}

TEST_F(MaintenanceTest, RestoreOneEntry) {
    Backups({L"app-20261208.db"});
    os.onModal = [&](int, CDialog* d) {
        auto* r = static_cast<CRestoreDlg*>(d);
        os.Select(r->List(), {0});
        os.SendMsg(r->GetSafeHwnd(), WM_COMMAND, IDOK, 0);
    };
    Command(ID_RESTORE);
    EXPECT_THAT(os.Only({"CreateProcess", "MsgBox", "EndModal"}),
                ElementsAre(Restore("app-20261208.db"),
                            FakePlatform::Box(0x102, L"復旧しました  ", nullptr, MB_OK | MB_ICONINFORMATION),
                            "EndModal 0x102 1"));
    // A failed launch closes the dialog all the same, without the message.
    os.Clear();
    os.createResults = {false};
    Command(ID_RESTORE);
    EXPECT_THAT(os.Only({"MsgBox", "EndModal"}), ElementsAre("EndModal 0x103 1"));
}

TEST_F(MaintenanceTest, MoreThanOneSelectedKeepsTheDialogOpen) {
    Backups({L"a", L"b", L"c"});
    bool stillSelected = false;
    os.onModal = [&](int, CDialog* d) {
        auto* r = static_cast<CRestoreDlg*>(d);
        os.Select(r->List(), {0, 1, 2});
        os.SendMsg(r->GetSafeHwnd(), WM_COMMAND, IDOK, 0);
        stillSelected = os.SelectedRows(r->List()) == std::vector<int>{0, 1, 2};
    };
    Command(ID_RESTORE);
    EXPECT_THAT(os.Boxes(), ElementsAre(FakePlatform::Box(0x102, L"1つのみ選択してください", nullptr, MB_OK)));
    EXPECT_TRUE(os.Only({"EndModal", "CreateProcess"}).empty());
    EXPECT_TRUE(stillSelected);
}

TEST_F(MaintenanceTest, DeleteRemovesSelectedRowsHighestFirst) {
    Backups({L"a", L"b", L"c", L"d", L"e"});  // shown e d c b a
    std::vector<std::wstring> after;
    os.undeletable = {FakePlatform::Key(L"C:\\nimbara\\backup\\b")};
    os.onModal = [&](int, CDialog* d) {
        auto* r = static_cast<CRestoreDlg*>(d);
        os.Select(r->List(), {1, 3});
        os.SendMsg(r->GetSafeHwnd(), WM_COMMAND, IDC_DELETE, 0);
        after = os.ListTexts(r->List());
    };
    Command(ID_RESTORE);
    EXPECT_THAT(os.Only({"MsgBox", "DeleteFile", "ListDeleteItem", "EndModal"}),
                ElementsAre(FakePlatform::Box(0x102, L"削除します。\nよろしいですか？", nullptr,
                                              MB_YESNO | MB_ICONQUESTION),
                            "DeleteFile C:\\nimbara\\\\\\backup\\b", "ListDeleteItem 3",
                            "DeleteFile C:\\nimbara\\\\\\backup\\d", "ListDeleteItem 1"));
    EXPECT_THAT(after, ElementsAre(L"e", L"c", L"a"));  // the row that failed to delete goes too
}

TEST_F(MaintenanceTest, DeleteAnsweredNoOrWithNothingSelected) {
    Backups({L"a"});
    os.answers = {IDNO};
    os.onModal = [&](int, CDialog* d) {
        auto* r = static_cast<CRestoreDlg*>(d);
        os.Select(r->List(), {0});
        os.SendMsg(r->GetSafeHwnd(), WM_COMMAND, IDC_DELETE, 0);
        os.Select(r->List(), {});
        os.SendMsg(r->GetSafeHwnd(), WM_COMMAND, IDC_DELETE, 0);  // Yes, but nothing chosen
    };
    Command(ID_RESTORE);
    EXPECT_EQ(os.Boxes().size(), 2u);
    EXPECT_TRUE(os.Only({"DeleteFile", "ListDeleteItem", "EndModal"}).empty());
}

TEST(RestoreName, HostileNamesAreRefused) {
    const wchar_t* hostile[] = {
        L"x & del /q *.*", L"%PATH%.zip", L"%~dp0", L"!x!.zip", L"a\"b", L"\"quoted\"",
        L"a^b", L"a|b", L"a<b", L"a>b", L"(a)", L"a)b", L"a\rb", L"a\nb", L"a\tb", L"a\x1b",
        L"x&&calc", L"x||calc", L"x%", L"a\x7f", L"%COMSPEC%", L"^&", L"",
    };
    for (const wchar_t* n : hostile) EXPECT_FALSE(IsRestorableName(n)) << U8(n);
    const wchar_t* plain[] = {L"app.db", L"バックアップ_1.zip", L"a-b_c.d", L"日付 2026.zip",
                              L"a,b", L"a;b", L"a=b", L"x'y", L"@at", L"é"};
    for (const wchar_t* n : plain) EXPECT_TRUE(IsRestorableName(n)) << U8(n);
    EXPECT_EQ(U8(RestoreArgument(L"app.db")), "app.db");
    EXPECT_EQ(U8(RestoreArgument(L"my file.zip")), "\"my file.zip\"");
    EXPECT_EQ(U8(RestoreArgument(L"a,b")), "\"a,b\"");
    EXPECT_EQ(U8(RestoreArgument(L"a;b")), "\"a;b\"");
    EXPECT_EQ(U8(RestoreArgument(L"a=b")), "\"a=b\"");
    EXPECT_EQ(U8(RestoreArgument(L"a\u00FFb")), "\"a\u00FFb\"");
}

TEST_F(MaintenanceTest, HostileNameLaunchesNothingAndKeepsTheDialogOpen) {
    Backups({L"x & del /q *.*"});
    os.onModal = [&](int, CDialog* d) {
        auto* r = static_cast<CRestoreDlg*>(d);
        os.Select(r->List(), {0});
        os.SendMsg(r->GetSafeHwnd(), WM_COMMAND, IDOK, 0);
    };
    Command(ID_RESTORE);
    EXPECT_THAT(os.Boxes(), ElementsAre(FakePlatform::Box(0x102, L"このファイル名は復旧に使用できません。",
                                                          nullptr, MB_OK | MB_ICONWARNING)));
    EXPECT_TRUE(os.Only({"CreateProcess", "EndModal"}).empty());

    Backups({L"my backup.zip"});
    os.Clear();
    Command(ID_RESTORE);
    EXPECT_THAT(os.Only({"CreateProcess"}), ElementsAre(Restore("\"my backup.zip\"")));
}

TEST_F(MaintenanceTest, InitializationAsksFirstThenDeletesTheDatabase) {
    dlg.SetDebug(1);
    os.answers = {IDNO};
    Command(ID_INITIALIZE);
    EXPECT_THAT(os.Only({"MsgBox", "DeleteFile"}),
                ElementsAre(FakePlatform::Box(w, L"初期化を実行します。\nよろしいですか？", L"",
                                              MB_YESNO | MB_ICONQUESTION)));
    os.Clear();
    os.File(L"C:\\nimbara\\htdocs\\data\\app.db") = "db";
    Command(ID_INITIALIZE);
    EXPECT_THAT(os.Only({"MsgBox", "DeleteFile"}),
                ElementsAre(FakePlatform::Box(w, L"初期化を実行します。\nよろしいですか？", L"",
                                              MB_YESNO | MB_ICONQUESTION),
                            FakePlatform::Box(w, L"C:\\nimbara\\\\htdocs\\data\\app.db",
                                              L"CMainDlg::OnInitialize", MB_OK),
                            "DeleteFile C:\\nimbara\\\\htdocs\\data\\app.db"));
    EXPECT_FALSE(os.HasFile(L"C:\\nimbara\\htdocs\\data\\app.db"));
    // Missing file: nothing visible.
    os.Clear();
    dlg.SetDebug(0);
    Command(ID_INITIALIZE);
    EXPECT_EQ(os.Boxes().size(), 1u);
}
