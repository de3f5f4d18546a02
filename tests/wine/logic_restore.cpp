// The restore dialog on a real list view, driven as a user would: its rows, a restore handed
// to a real nbrestore.bat, a refused hostile name, and deletion of selected rows.
#include "platform_fixture.h"  // windows.h first

#include <commctrl.h>
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "app/nbmonitor_app.h"
#include "maintenance/restore_dlg.h"
#include "resources/resource.h"
#include "wine_test.h"

using namespace nb;

namespace {

CnbmonitorApp& App() {
    static CnbmonitorApp app;
    return app;
}

// What one scripted step sees and does; the steps run from a thread timer, so they also run
// inside the nested loops of the dialog and of its message boxes.
struct Script {
    std::vector<std::wstring> rows;   // the list as first seen
    std::vector<int> select;          // rows to select, then press `button`
    int button = IDOK;
    int boxAnswer = IDOK;             // how to answer the first box
    std::wstring boxText;             // its text
    bool cancelAfterBox = false;      // close the dialog with Cancel after the box
    std::vector<std::wstring> after;  // rows after the box was answered
    int images = -1;                  // icons in the list view's image list, as first seen
    int step = 0;
};
Script* g_script = nullptr;

struct FindWindowArgs {
    const wchar_t* cls;
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND w, LPARAM p) {
    auto* f = reinterpret_cast<FindWindowArgs*>(p);
    wchar_t c[64] = {}, t[64] = {};
    ::GetClassNameW(w, c, 64);
    ::GetWindowTextW(w, t, 64);
    if (::IsWindowVisible(w) && std::wcscmp(c, f->cls) == 0 &&
        (f->caption == nullptr || std::wcscmp(t, f->caption) == 0)) {
        f->found = w;
        return FALSE;
    }
    return TRUE;
}

HWND ThreadWindow(const wchar_t* cls, const wchar_t* caption) {
    FindWindowArgs f = {cls, caption, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), &MatchWindow, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

std::vector<std::wstring> Rows(HWND list) {
    std::vector<std::wstring> out;
    int n = int(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        wchar_t text[260] = {};
        LVITEMW item = {};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = 260;
        ::SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
        out.push_back(text);
    }
    return out;
}

void SetSelected(HWND list, int row, bool on) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = on ? LVIS_SELECTED : 0;
    ::SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

std::wstring BoxText(HWND box) {
    wchar_t text[256] = {};
    ::GetDlgItemTextW(box, 0xFFFF, text, 256);  // the message box's static text
    return text;
}

void CALLBACK Step(HWND, UINT, UINT_PTR, DWORD) {
    Script& s = *g_script;
    HWND dlg = ThreadWindow(L"#32770", L"復旧");
    if (s.step == 0 && dlg != nullptr) {
        HWND list = ::GetDlgItem(dlg, IDC_BACKUP_LIST);
        s.rows = Rows(list);
        s.images = ::ImageList_GetImageCount(reinterpret_cast<HIMAGELIST>(
            ::SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0)));
        SetSelected(list, -1, false);
        for (int r : s.select) SetSelected(list, r, true);
        s.step = 1;
        ::PostMessageW(dlg, WM_COMMAND, s.button, 0);  // posted: the box then runs outside this call
        return;
    }
    if (s.step == 1) {
        HWND box = ThreadWindow(L"#32770", L"nbwine_platform");
        if (box == nullptr) return;
        s.boxText = BoxText(box);
        s.step = 2;
        ::PostMessageW(box, WM_COMMAND, s.boxAnswer, 0);
        return;
    }
    if (s.step == 2 && dlg != nullptr) {
        if (ThreadWindow(L"#32770", L"nbwine_platform") != nullptr) return;
        s.after = Rows(::GetDlgItem(dlg, IDC_BACKUP_LIST));
        s.step = 3;
        if (s.cancelAfterBox) ::PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
    }
}

std::intptr_t Run(const std::wstring& home, Script& script) {
    g_script = &script;
    UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &Step);
    CRestoreDlg dlg(home);
    std::intptr_t r = dlg.DoModal();
    ::KillTimer(nullptr, timer);
    g_script = nullptr;
    return r;
}

// home\backup with the given entries, home\bin\nbrestore.bat that writes its argument to
// home\restored.txt.
std::wstring Home(const wchar_t* name, std::initializer_list<const wchar_t*> entries) {
    std::wstring home = fx::NewFolder(name);
    ::CreateDirectoryW((home + L"\\backup").c_str(), nullptr);
    ::CreateDirectoryW((home + L"\\bin").c_str(), nullptr);
    for (const wchar_t* e : entries) fx::WriteBytes(home + L"\\backup\\" + e, "data");
    fx::WriteBytes(home + L"\\bin\\nbrestore.bat",
                   "@echo off\r\n>\"%~dp0..\\restored.txt\" echo %~1\r\n");
    return home + L"\\";
}

std::string WaitForFile(const std::wstring& path, DWORD ms) {
    DWORD end = ::GetTickCount() + ms;
    bool found = false;
    std::string bytes;
    while (LONG(end - ::GetTickCount()) > 0) {
        bytes = fx::ReadBytes(path, &found);
        if (found && !bytes.empty()) return bytes;
        ::Sleep(100);
    }
    return std::string();
}

// The folder's entries in the order the system enumerates them.
std::vector<std::wstring> Enumerated(const std::wstring& folder) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW d;
    HANDLE h = ::FindFirstFileW((folder + L"\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        if (std::wcscmp(d.cFileName, L".") != 0 && std::wcscmp(d.cFileName, L"..") != 0)
            out.push_back(d.cFileName);
    } while (::FindNextFileW(h, &d));
    ::FindClose(h);
    return out;
}

std::string Joined(const std::vector<std::wstring>& rows) {
    std::string s;
    for (const std::wstring& r : rows) s += (s.empty() ? "" : ",") + wt::Esc(r);
    return s;
}

}  // namespace

START_TEST(restore_lists_reversed_and_hands_over_the_name) {
    fx::Os();
    App();
    for (const wchar_t* name : {L"b.db", L"my backup.db"}) {
        std::wstring home = Home(name[0] == L'b' ? L"r1" : L"r2", {L"a.db", name, L"c.db"});
        // The dialog shows the folder in the reverse of the system's enumeration order (name
        // order on NTFS, directory order under Wine).
        std::vector<std::wstring> expected = Enumerated(home + L"backup");
        std::reverse(expected.begin(), expected.end());
        Script s;
        for (std::size_t i = 0; i < expected.size(); ++i)
            if (expected[i] == name) s.select = {int(i)};
        std::intptr_t r = Run(home, s);
        ok(r == IDOK, "the dialog should close with IDOK, got %ld\n", long(r));
        ok(Joined(s.rows) == Joined(expected), "rows %s expected, got %s\n", Joined(expected).c_str(),
           Joined(s.rows).c_str());
        ok(s.boxText == L"復旧しました  ", "the restored message expected, got %s\n",
           wt::Esc(s.boxText).c_str());
        std::string got = WaitForFile(home + L"\\restored.txt", 20000);
        std::string want = wt::Esc(name) + "\r\n";
        ok(got == want, "the script should receive %s, got [%s]\n", wt::Esc(name).c_str(), got.c_str());
    }
}

START_TEST(restore_refuses_a_name_cmd_would_run) {
    fx::Os();
    App();
    std::wstring home = Home(L"r3", {L"x & echo pwned", L"%PATH%.db"});
    for (int row : {0, 1}) {
        Script s;
        s.select = {row};
        s.cancelAfterBox = true;
        std::intptr_t r = Run(home, s);
        ok(s.boxText == L"このファイル名は復旧に使用できません。", "row %d: the refusal expected, got %s\n",
           row, wt::Esc(s.boxText).c_str());
        ok(s.after.size() == 2, "row %d: the dialog should stay open with its rows, got %s\n", row,
           Joined(s.after).c_str());
        ok(r == IDCANCEL, "row %d: closed by Cancel expected, got %ld\n", row, long(r));
    }
    ::Sleep(1500);
    bool found = true;
    fx::ReadBytes(home + L"\\restored.txt", &found);
    ok(!found, "the restore script must not have run\n");
}

START_TEST(delete_removes_selected_rows_and_files) {
    fx::Os();
    App();
    std::wstring home = Home(L"r4", {L"a.db", L"b.db", L"c.db", L"d.db"});
    std::vector<std::wstring> shown = Enumerated(home + L"backup");
    std::reverse(shown.begin(), shown.end());
    Script s;
    s.select = {1, 3};
    s.button = IDC_DELETE;
    s.boxAnswer = IDYES;
    s.cancelAfterBox = true;
    Run(home, s);
    ok(s.boxText == L"削除します。\nよろしいですか？", "the confirmation expected, got %s\n",
       wt::Esc(s.boxText).c_str());
    std::vector<std::wstring> kept = {shown[0], shown[2]};
    ok(Joined(s.after) == Joined(kept), "rows %s expected, got %s\n", Joined(kept).c_str(),
       Joined(s.after).c_str());
    std::vector<std::wstring> left = Enumerated(home + L"backup");
    std::sort(left.begin(), left.end());
    std::sort(kept.begin(), kept.end());
    ok(Joined(left) == Joined(kept), "%s expected in the folder, got %s\n", Joined(kept).c_str(),
       Joined(left).c_str());
}

START_TEST(restore_dialog_opens_and_closes_again_and_again) {
    // The list view owns the image list it is given and destroys it with itself: the dialog
    // must not destroy it a second time, however often it is opened.
    fx::Os();
    App();
    std::wstring home = Home(L"r5", {L"a.db", L"b.db", L"c.db"});
    for (int round = 0; round < 20; ++round) {
        Script s;
        s.button = IDCANCEL;
        std::intptr_t r = Run(home, s);
        ok(r == IDCANCEL && s.rows.size() == 3 && s.images == 3,
           "round %d: rows and icons expected, got result %ld, %u rows, %d icons\n", round,
           long(r), unsigned(s.rows.size()), s.images);
    }
}
