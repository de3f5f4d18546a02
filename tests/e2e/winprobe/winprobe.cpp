// winprobe: looks at and pokes the windows and processes of a running Windows session, for
// the end-to-end tests that drive nbmonitor under Wine.
//
// Output is UTF-8, one record per line, fields separated by tabs. Inside a field, a tab,
// carriage return, line feed and backslash are written as \t, \r, \n and \\.
// Arguments may carry \uXXXX escapes, so that callers can pass non-ASCII captions through a
// plain ASCII command line whatever the locale.
//
// Windows are named by their exact title, or by "hwnd:<hex>". Dialog-like windows
// (message boxes, the restore dialog) are looked up among the visible top-level windows of
// class #32770 with a non-empty area, topmost first, by exact caption.
//
// Exit status: 0 done, 1 not found / failed, 2 usage error, 3 timed out.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// ---- output ----------------------------------------------------------------------------

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring Escape(const std::wstring& in) {
    std::wstring out;
    for (wchar_t c : in) {
        switch (c) {
        case L'\\': out += L"\\\\"; break;
        case L'\t': out += L"\\t"; break;
        case L'\r': out += L"\\r"; break;
        case L'\n': out += L"\\n"; break;
        default: out += c;
        }
    }
    return out;
}

void Out(const std::wstring& line) {
    std::string s = Utf8(line + L"\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), (DWORD)s.size(), &written, nullptr);
}

void Err(const std::wstring& line) {
    std::string s = Utf8(L"winprobe: " + line + L"\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), s.data(), (DWORD)s.size(), &written, nullptr);
}

std::wstring Hex(uintptr_t v) {
    wchar_t buf[32];
    swprintf(buf, 32, L"0x%08llx", (unsigned long long)v);
    return buf;
}

std::wstring Num(long long v) {
    wchar_t buf[32];
    swprintf(buf, 32, L"%lld", v);
    return buf;
}

// ---- arguments -------------------------------------------------------------------------

std::wstring Unescape(const std::wstring& in) {
    std::wstring out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == L'\\' && i + 5 < in.size() && in[i + 1] == L'u') {
            std::wstring hex = in.substr(i + 2, 4);
            wchar_t* end = nullptr;
            unsigned long v = wcstoul(hex.c_str(), &end, 16);
            if (hex.size() == 4 && end && *end == 0) {
                out += (wchar_t)v;
                i += 5;
                continue;
            }
        }
        out += in[i];
    }
    return out;
}

long long ParseInt(const std::wstring& s) { return wcstoll(s.c_str(), nullptr, 0); }

// ---- windows ---------------------------------------------------------------------------

std::wstring TextOf(HWND h) {
    // Reads the text the window manager keeps, without sending the window a message: the
    // target's thread may be asleep.
    wchar_t buf[2048] = {0};
    InternalGetWindowText(h, buf, 2048);
    return buf;
}

std::wstring ClassOf(HWND h) {
    wchar_t buf[256] = {0};
    GetClassNameW(h, buf, 256);
    return buf;
}

struct TopWindow {
    HWND hwnd;
    DWORD pid;
    std::wstring cls;
    std::wstring title;
    bool visible;
    RECT rect;
    DWORD style;
    DWORD exStyle;
    HWND owner;
};

BOOL CALLBACK CollectTop(HWND h, LPARAM lp) {
    auto* v = reinterpret_cast<std::vector<TopWindow>*>(lp);
    TopWindow w{};
    w.hwnd = h;
    GetWindowThreadProcessId(h, &w.pid);
    w.cls = ClassOf(h);
    w.title = TextOf(h);
    w.visible = IsWindowVisible(h) != FALSE;
    GetWindowRect(h, &w.rect);
    w.style = (DWORD)GetWindowLongPtrW(h, GWL_STYLE);
    w.exStyle = (DWORD)GetWindowLongPtrW(h, GWL_EXSTYLE);
    w.owner = GetWindow(h, GW_OWNER);
    v->push_back(w);
    return TRUE;
}

std::vector<TopWindow> TopWindows() {
    std::vector<TopWindow> v;
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&v));
    return v;
}

HWND FindByTitle(const std::wstring& title) {
    if (title.compare(0, 5, L"hwnd:") == 0)
        return reinterpret_cast<HWND>((uintptr_t)wcstoul(title.c_str() + 5, nullptr, 16));
    return FindWindowW(nullptr, title.c_str());
}

// Visible dialog-class window with the caption, topmost first.
HWND FindDialog(const std::wstring& caption) {
    if (caption.compare(0, 5, L"hwnd:") == 0) return FindByTitle(caption);
    for (const TopWindow& w : TopWindows()) {
        if (!w.visible || w.cls != L"#32770" || w.title != caption) continue;
        if (w.rect.right - w.rect.left <= 0 || w.rect.bottom - w.rect.top <= 0) continue;
        return w.hwnd;
    }
    return nullptr;
}

struct Child {
    HWND hwnd;
    int id;
    std::wstring cls;
    std::wstring text;
};

BOOL CALLBACK CollectChild(HWND h, LPARAM lp) {
    auto* v = reinterpret_cast<std::vector<Child>*>(lp);
    v->push_back(Child{h, GetDlgCtrlID(h), ClassOf(h), TextOf(h)});
    return TRUE;
}

std::vector<Child> Children(HWND parent) {
    std::vector<Child> v;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&v));
    return v;
}

// Waits until the dialog appears; 0 ms looks once.
HWND WaitDialog(const std::wstring& caption, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND h = FindDialog(caption);
        if (h) return h;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(100);
    }
}

void PrintDialog(HWND h) {
    TopWindow w{};
    GetWindowThreadProcessId(h, &w.pid);
    RECT r;
    GetWindowRect(h, &r);
    Out(L"dialog\t" + Hex((uintptr_t)h) + L"\t" + Num(w.pid) + L"\t" + Num(r.left) + L"," +
        Num(r.top) + L"," + Num(r.right - r.left) + L"," + Num(r.bottom - r.top) + L"\t" +
        Escape(TextOf(h)));
    std::wstring joined;
    for (const Child& c : Children(h)) {
        Out(L"ctl\t" + Num(c.id) + L"\t" + Escape(c.cls) + L"\t" + Escape(c.text));
        if (_wcsicmp(c.cls.c_str(), L"Static") == 0 && !c.text.empty()) {
            if (!joined.empty()) joined += L"\n";
            joined += c.text;
        }
    }
    Out(L"text\t" + Escape(joined));
}

// ---- remote list view ------------------------------------------------------------------

// Memory allocated inside another process, for messages whose lParam points to a structure.
class RemoteBuffer {
public:
    RemoteBuffer(HWND owner, size_t size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(owner, &pid);
        m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (m_process)
            m_mem = VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (m_mem) VirtualFreeEx(m_process, m_mem, 0, MEM_RELEASE);
        if (m_process) CloseHandle(m_process);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool ok() const { return m_mem != nullptr; }
    // Address as the owning process sees it.
    char* at(size_t offset) const { return static_cast<char*>(m_mem) + offset; }
    bool Write(size_t offset, const void* data, size_t n) {
        SIZE_T done = 0;
        return WriteProcessMemory(m_process, at(offset), data, n, &done) && done == n;
    }
    bool Read(size_t offset, void* data, size_t n) {
        SIZE_T done = 0;
        return ReadProcessMemory(m_process, at(offset), data, n, &done) && done == n;
    }

private:
    HANDLE m_process = nullptr;
    void* m_mem = nullptr;
};

constexpr UINT kSendTimeout = 3000;

bool SendTimed(HWND h, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result) {
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(h, msg, wp, lp, SMTO_ABORTIFHUNG, kSendTimeout, &r)) return false;
    if (result) *result = r;
    return true;
}

HWND DialogControl(const std::wstring& caption, int id) {
    HWND dlg = FindDialog(caption);
    if (!dlg) {
        Err(L"no dialog captioned \"" + caption + L"\"");
        return nullptr;
    }
    HWND ctl = GetDlgItem(dlg, id);
    if (!ctl) Err(L"dialog has no control " + Num(id));
    return ctl;
}

// LVITEMW as the list view's own process lays it out: a 64-bit probe may look at a 32-bit
// program, so both layouts are spelled out.
template <typename Ptr>
struct RemoteLvItem {
    UINT mask;
    int iItem;
    int iSubItem;
    UINT state;
    UINT stateMask;
    Ptr pszText;
    int cchTextMax;
    int iImage;
    Ptr lParam;
    int iIndent;
    int iGroupId;
    UINT cColumns;
    Ptr puColumns;
    Ptr piColFmt;
    int iGroup;
};

bool IsTarget32(HWND h) {
#ifdef _WIN64
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    BOOL wow = FALSE;
    if (p) {
        IsWow64Process(p, &wow);
        CloseHandle(p);
    }
    return wow != FALSE;
#else
    (void)h;
    return true;
#endif
}

template <typename Ptr>
int ListViewRows(HWND lv) {
    using Item = RemoteLvItem<Ptr>;
    DWORD_PTR count = 0;
    if (!SendTimed(lv, LVM_GETITEMCOUNT, 0, 0, &count)) {
        Err(L"list view does not answer");
        return 1;
    }
    constexpr size_t kChars = 520;
    RemoteBuffer buf(lv, sizeof(Item) + kChars * sizeof(wchar_t));
    if (!buf.ok()) {
        Err(L"cannot reach the list view's process memory");
        return 1;
    }
    Out(L"count\t" + Num((long long)count));
    for (int row = 0; row < (int)count; ++row) {
        Item item{};
        item.cchTextMax = kChars;
        item.pszText = (Ptr)(uintptr_t)buf.at(sizeof(Item));
        wchar_t zero = 0;
        if (!buf.Write(sizeof(Item), &zero, sizeof zero) || !buf.Write(0, &item, sizeof item)) {
            Err(L"cannot write into the list view's process");
            return 1;
        }
        DWORD_PTR len = 0;
        if (!SendTimed(lv, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(buf.at(0)), &len)) {
            Err(L"list view does not answer");
            return 1;
        }
        std::vector<wchar_t> text(kChars + 1, 0);
        buf.Read(sizeof(Item), text.data(), kChars * sizeof(wchar_t));
        DWORD_PTR state = 0;
        SendTimed(lv, LVM_GETITEMSTATE, row, LVIS_SELECTED, &state);
        Out(L"row\t" + Num(row) + L"\t" + ((state & LVIS_SELECTED) ? L"1" : L"0") + L"\t" +
            Escape(text.data()));
    }
    return 0;
}

template <typename Ptr>
int SelectRows(HWND lv, const std::vector<int>& rows) {
    using Item = RemoteLvItem<Ptr>;
    RemoteBuffer buf(lv, sizeof(Item));
    if (!buf.ok()) {
        Err(L"cannot reach the list view's process memory");
        return 1;
    }
    auto setState = [&](int row, UINT state) {
        Item item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = state;
        return buf.Write(0, &item, sizeof item) &&
               SendTimed(lv, LVM_SETITEMSTATE, (WPARAM)row, reinterpret_cast<LPARAM>(buf.at(0)),
                         nullptr);
    };
    if (!setState(-1, 0)) return 1;  // clear every row first
    bool first = true;
    for (int row : rows) {
        if (!setState(row, LVIS_SELECTED | (first ? LVIS_FOCUSED : 0))) return 1;
        first = false;
    }
    Out(L"selected\t" + Num((long long)rows.size()));
    return 0;
}

int CmdListView(const std::wstring& caption, int id) {
    HWND lv = DialogControl(caption, id);
    if (!lv) return 1;
    return IsTarget32(lv) ? ListViewRows<uint32_t>(lv) : ListViewRows<uint64_t>(lv);
}

int CmdSelect(const std::wstring& caption, int id, const std::wstring& list) {
    HWND lv = DialogControl(caption, id);
    if (!lv) return 1;
    std::vector<int> rows;
    size_t pos = 0;
    while (pos < list.size()) {
        size_t comma = list.find(L',', pos);
        if (comma == std::wstring::npos) comma = list.size();
        if (comma > pos) rows.push_back((int)ParseInt(list.substr(pos, comma - pos)));
        pos = comma + 1;
    }
    return IsTarget32(lv) ? SelectRows<uint32_t>(lv, rows) : SelectRows<uint64_t>(lv, rows);
}

// ---- processes -------------------------------------------------------------------------

struct Proc {
    DWORD pid;
    DWORD parent;
    std::wstring name;
};

std::vector<Proc> Processes() {
    std::vector<Proc> v;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return v;
    PROCESSENTRY32W e{};
    e.dwSize = sizeof e;
    for (BOOL more = Process32FirstW(snap, &e); more; more = Process32NextW(snap, &e))
        v.push_back(Proc{e.th32ProcessID, e.th32ParentProcessID, e.szExeFile});
    CloseHandle(snap);
    return v;
}

bool KillPid(DWORD pid, UINT code) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    if (!h) return false;
    BOOL ok = TerminateProcess(h, code);
    CloseHandle(h);
    return ok != FALSE;
}

// Handles a process holds, counted in the system's handle table. GetProcessHandleCount
// reports 0 for every process under Wine; the table (SystemHandleInformation, class 16) is
// filled in there. -1 when the table cannot be read.
long long OwnedHandles(DWORD pid) {
    struct Entry {
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    typedef LONG(WINAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
    QueryFn query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    const LONG kInfoLengthMismatch = (LONG)0xC0000004L;
    std::vector<char> buf(1 << 18);
    LONG status;
    ULONG needed = 0;
    while ((status = query(16, buf.data(), (ULONG)buf.size(), &needed)) == kInfoLengthMismatch &&
           buf.size() < (64u << 20))
        buf.resize(buf.size() * 2);
    if (status != 0) return -1;
    const Table* table = reinterpret_cast<const Table*>(buf.data());
    long long n = 0;
    for (ULONG i = 0; i < table->count; ++i)
        if (table->entries[i].ownerPid == pid) ++n;
    return n;
}

ULONGLONG Ms(const FILETIME& ft) {
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return u.QuadPart / 10000;
}

int CmdStats(DWORD pid) {
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!h) {
        Err(L"cannot open process " + Num(pid));
        return 1;
    }
    DWORD handles = 0;
    GetProcessHandleCount(h, &handles);
    PROCESS_MEMORY_COUNTERS_EX mem{};
    mem.cb = sizeof mem;
    GetProcessMemoryInfo(h, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mem), sizeof mem);
    FILETIME created, exited, kernel, user;
    ULONGLONG cpu = 0;
    if (GetProcessTimes(h, &created, &exited, &kernel, &user)) cpu = Ms(kernel) + Ms(user);
    DWORD code = 0;
    GetExitCodeProcess(h, &code);
    CloseHandle(h);
    Out(L"handles\t" + Num(handles));
    Out(L"owned_handles\t" + Num(OwnedHandles(pid)));
    Out(L"working_set\t" + Num((long long)mem.WorkingSetSize));
    Out(L"private_bytes\t" + Num((long long)mem.PrivateUsage));
    Out(L"cpu_ms\t" + Num((long long)cpu));
    Out(L"exit_code\t" + Num(code));
    return 0;
}

// ---- commands --------------------------------------------------------------------------

int Usage() {
    Err(L"usage:\n"
        L"  windows [pid]                       top-level windows: hwnd, pid, class, visible,\n"
        L"                                      x,y,w,h, style, exstyle, owner, title\n"
        L"  find <title>                        hwnd of the window with that title\n"
        L"  waitwin <title> <ms>                wait until a window with that title exists\n"
        L"  waitgone <title> <ms>               wait until no window has that title\n"
        L"  boxtext <caption> [ms]              controls and text of a visible dialog\n"
        L"  press <caption> <id> [ms]           click button <id> of a visible dialog\n"
        L"  close <caption>                     WM_CLOSE to a visible dialog\n"
        L"  post|send <title> <msg> <wp> <lp>   message to a window\n"
        L"  command <title> <id>                post WM_COMMAND <id> to a window\n"
        L"  listview <caption> <id>             rows of a list view in a dialog\n"
        L"  select <caption> <id> <row,...>     select exactly these rows\n"
        L"  procs                               processes\n"
        L"  kill <exe name>                     terminate every process of that name\n"
        L"  killpid <pid> [code]                terminate one process (exit code 1 by default)\n"
        L"  stats <pid>                         handles, memory, cpu time, exit code\n"
        L"  holdfile <path> <ms>                keep a file open without sharing for <ms>\n"
        L"  hold [ms]                           stay alive (and keep the desktop up)\n");
    return 2;
}

int Run(std::vector<std::wstring> a) {
    if (a.empty()) return Usage();
    const std::wstring cmd = a[0];
    auto need = [&](size_t n) { return a.size() >= n + 1; };

    if (cmd == L"windows") {
        DWORD only = need(1) ? (DWORD)ParseInt(a[1]) : 0;
        for (const TopWindow& w : TopWindows()) {
            if (only && w.pid != only) continue;
            Out(L"window\t" + Hex((uintptr_t)w.hwnd) + L"\t" + Num(w.pid) + L"\t" + Escape(w.cls) +
                L"\t" + (w.visible ? L"1" : L"0") + L"\t" + Num(w.rect.left) + L"," +
                Num(w.rect.top) + L"," + Num(w.rect.right - w.rect.left) + L"," +
                Num(w.rect.bottom - w.rect.top) + L"\t" + Hex(w.style) + L"\t" + Hex(w.exStyle) +
                L"\t" + Hex((uintptr_t)w.owner) + L"\t" + Escape(w.title));
        }
        return 0;
    }
    if (cmd == L"find" && need(1)) {
        HWND h = FindByTitle(a[1]);
        if (!h) return 1;
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        Out(L"hwnd\t" + Hex((uintptr_t)h) + L"\t" + Num(pid) + L"\t" + (IsWindowVisible(h) ? L"1" : L"0"));
        return 0;
    }
    if ((cmd == L"waitwin" || cmd == L"waitgone") && need(2)) {
        const bool wantPresent = cmd == L"waitwin";
        const DWORD timeout = (DWORD)ParseInt(a[2]);
        const DWORD start = GetTickCount();
        for (;;) {
            HWND h = FindByTitle(a[1]);
            if (h && !IsWindow(h)) h = nullptr;
            if ((h != nullptr) == wantPresent) {
                if (h) Out(L"hwnd\t" + Hex((uintptr_t)h));
                return 0;
            }
            if (GetTickCount() - start >= timeout) return 3;
            Sleep(100);
        }
    }
    if (cmd == L"boxtext" && need(1)) {
        HWND h = WaitDialog(a[1], need(2) ? (DWORD)ParseInt(a[2]) : 0);
        if (!h) return need(2) ? 3 : 1;
        PrintDialog(h);
        return 0;
    }
    if (cmd == L"press" && need(2)) {
        HWND h = WaitDialog(a[1], need(3) ? (DWORD)ParseInt(a[3]) : 0);
        if (!h) return need(3) ? 3 : 1;
        const int id = (int)ParseInt(a[2]);
        HWND button = GetDlgItem(h, id);
        // Posted, not sent: the dialog's thread may be busy, and the click must not wait.
        if (!PostMessageW(h, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)))
            return 1;
        Out(L"pressed\t" + Hex((uintptr_t)h) + L"\t" + Num(id) + L"\t" + (button ? L"1" : L"0"));
        return 0;
    }
    if (cmd == L"close" && need(1)) {
        HWND h = FindDialog(a[1]);
        if (!h) return 1;
        return PostMessageW(h, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if ((cmd == L"post" || cmd == L"send") && need(4)) {
        HWND h = FindByTitle(a[1]);
        if (!h) {
            Err(L"no window titled \"" + a[1] + L"\"");
            return 1;
        }
        UINT msg = (UINT)ParseInt(a[2]);
        WPARAM wp = (WPARAM)ParseInt(a[3]);
        LPARAM lp = (LPARAM)ParseInt(a[4]);
        if (cmd == L"post") return PostMessageW(h, msg, wp, lp) ? 0 : 1;
        DWORD_PTR r = 0;
        if (!SendTimed(h, msg, wp, lp, &r)) return 3;
        Out(L"result\t" + Num((long long)r));
        return 0;
    }
    if (cmd == L"command" && need(2)) {
        HWND h = FindByTitle(a[1]);
        if (!h) {
            Err(L"no window titled \"" + a[1] + L"\"");
            return 1;
        }
        return PostMessageW(h, WM_COMMAND, (WPARAM)ParseInt(a[2]), 0) ? 0 : 1;
    }
    if (cmd == L"listview" && need(2)) return CmdListView(a[1], (int)ParseInt(a[2]));
    if (cmd == L"select" && need(3)) return CmdSelect(a[1], (int)ParseInt(a[2]), a[3]);
    if (cmd == L"procs") {
        for (const Proc& p : Processes())
            Out(L"proc\t" + Num(p.pid) + L"\t" + Num(p.parent) + L"\t" + Escape(p.name));
        return 0;
    }
    if (cmd == L"watchprocs" && need(2)) {
        // Every process of the name that comes to be within MS ms, however short its life:
        // the list is looked at every few milliseconds.
        std::vector<DWORD> seen;
        const ULONGLONG until = GetTickCount64() + (ULONGLONG)ParseInt(a[1]);
        while (GetTickCount64() < until) {
            for (const Proc& p : Processes())
                if (_wcsicmp(p.name.c_str(), a[2].c_str()) == 0 &&
                    std::find(seen.begin(), seen.end(), p.pid) == seen.end()) {
                    seen.push_back(p.pid);
                    Out(L"seen\t" + Num(p.pid) + L"\t" + Num(p.parent));
                }
            Sleep(2);
        }
        return 0;
    }
    if (cmd == L"kill" && need(1)) {
        int killed = 0;
        for (const Proc& p : Processes())
            if (_wcsicmp(p.name.c_str(), a[1].c_str()) == 0 && KillPid(p.pid, 1)) ++killed;
        Out(L"killed\t" + Num(killed));
        return killed ? 0 : 1;
    }
    if (cmd == L"killpid" && need(1))  // killpid PID [EXIT_CODE], 1 by default
        return KillPid((DWORD)ParseInt(a[1]), a.size() > 2 ? (UINT)ParseInt(a[2]) : 1) ? 0 : 1;
    if (cmd == L"stats" && need(1)) return CmdStats((DWORD)ParseInt(a[1]));
    if (cmd == L"holdfile" && need(2)) {
        // Another program's open file that nobody may share: writes, renames over it and
        // deletes fail while it is held.
        HANDLE h = CreateFileW(a[1].c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            Err(L"cannot open " + a[1] + L" (error " + Num(GetLastError()) + L")");
            return 1;
        }
        Out(L"held\t" + Escape(a[1]));
        Sleep((DWORD)ParseInt(a[2]));
        CloseHandle(h);
        return 0;
    }
    if (cmd == L"hold") {
        // Keeps a desktop client alive: Wine closes the desktop (and its taskbar) soon after
        // its last program ends, and one brought up anew while another program starts can
        // leave that program waiting.
        Out(L"desktop\t" + Hex((uintptr_t)GetDesktopWindow()));
        Sleep(need(1) ? (DWORD)ParseInt(a[1]) : 3600 * 1000);
        return 0;
    }
    return Usage();
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(Unescape(argv[i]));
    LocalFree(argv);
    return Run(args);
}
