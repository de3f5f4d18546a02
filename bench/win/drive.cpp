// nbbench_drive.exe: times nbmonitor from inside the Wine session it runs in, where process
// starts, windows, sockets and files can be watched at millisecond resolution.
//
//   nbbench_drive launch <exe> <arguments> <window title> <timeout_ms>
//       Starts exe with the arguments (one word, "" for none; current folder: its own) and
//       waits for a top-level window of that title of the new process. Prints "pid",
//       "window_ms". The program keeps running.
//
//   nbbench_drive session <home> <browser log> <monitor_interval> <restart_wait> [phase...]
//       Starts <home>bin\nbmonitor.exe with bin as its current folder and times, from just
//       before CreateProcess: the server process appearing (server_ms), the server accepting
//       connections (listen_ms), the start page
//       answering (page_ms), the browser being asked (browser_ms: the stand-in browser's log
//       grows) and the end of the start sequence (ready_ms: the window "nbmonitorDlg"
//       exists; the host gives that title right after the timers were started).
//       Then, for each phase (ms after a monitor tick), kills every httpd.exe at that moment
//       and times the way back: the new server process, listening, page answering. The ticks
//       are predicted as ready + k * monitor_interval (the timer keeps its phase; ticks missed
//       while the thread sleeps are dropped); tick_check_ms compares the tick inferred from
//       the new server's start (its appearance - 2000 - restart_wait) with the prediction;
//       conf_ms is when the new listen file was written (its last-write time).
//       nbmonitor keeps running. Prints "key value" lines, times in milliseconds;
//       launch_unix_ms is the moment of the launch as Unix time.
//
// Exit status: 0 done, 1 failure, 2 usage, 3 timed out.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "clock.h"

namespace {

const double kRestartPause = 2000;  // nbmonitor's fixed pause before a restart
const wchar_t kReadyTitle[] = L"nbmonitorDlg";

void SleepUntil(double when) {
    double left = when - NowMs();
    if (left > 30) ::Sleep(static_cast<DWORD>(left - 20));
    while (NowMs() < when) ::Sleep(1);
}

void Print(const char* key, double value) { std::printf("%s %.1f\n", key, value); }

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 128 ? static_cast<char>(c) : '?';
    return s;
}

std::wstring FolderOf(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

bool Launch(const std::wstring& exe, const std::wstring& args, PROCESS_INFORMATION* pi) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    std::wstring cmd = L"\"" + exe + L"\"";
    if (!args.empty()) cmd += L" " + args;
    std::wstring dir = FolderOf(exe);
    return ::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                            dir.c_str(), &si, pi) != FALSE;
}

bool Exited(HANDLE process) { return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

bool Connects(unsigned port) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return false;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    a.sin_port = ::htons(static_cast<u_short>(port));
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::closesocket(s);
    return ok;
}

// GET /index.php; true on a 200 answer.
bool PageAnswers(unsigned port) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return false;
    DWORD timeout = 2000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                 sizeof timeout);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    a.sin_port = ::htons(static_cast<u_short>(port));
    std::string answer;
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const char req[] = "GET /index.php HTTP/1.0\r\nHost: localhost\r\n\r\n";
        ::send(s, req, sizeof req - 1, 0);
        char buf[2048];
        int n;
        while ((n = ::recv(s, buf, sizeof buf, 0)) > 0) answer.append(buf, n);
    }
    ::closesocket(s);
    return answer.compare(0, 7, "HTTP/1.") == 0 && answer.find(" 200") == 8;
}

// The port of the "Listen address:port" line nbmonitor writes before each server start.
unsigned ListenPort(const std::wstring& home) {
    std::wstring path = home + L"conf\\extra\\httpd-port.conf";
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                             FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    char buf[256] = {};
    DWORD got = 0;
    ::ReadFile(h, buf, sizeof buf - 1, &got, nullptr);
    ::CloseHandle(h);
    const char* colon = std::strrchr(buf, ':');
    return colon ? static_cast<unsigned>(std::strtoul(colon + 1, nullptr, 10)) : 0;
}

// Last write of a file as a moment on NowMs()'s scale, given one moment known on both clocks;
// -1 when the file is missing.
double WrittenAt(const std::wstring& path, unsigned long long wallRef, double msRef) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d)) return -1;
    ULARGE_INTEGER w;
    w.LowPart = d.ftLastWriteTime.dwLowDateTime;
    w.HighPart = d.ftLastWriteTime.dwHighDateTime;
    return msRef + (static_cast<double>(w.QuadPart) - static_cast<double>(wallRef)) / 1e4;
}

long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d)) return -1;
    return (static_cast<long long>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

std::vector<DWORD> ServerPids() {
    std::vector<DWORD> pids;
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W e = {};
    e.dwSize = sizeof e;
    for (BOOL more = ::Process32FirstW(snap, &e); more; more = ::Process32NextW(snap, &e))
        if (std::wcscmp(e.szExeFile, L"httpd.exe") == 0) pids.push_back(e.th32ProcessID);
    ::CloseHandle(snap);
    return pids;
}

bool Contains(const std::vector<DWORD>& v, DWORD x) {
    for (DWORD y : v)
        if (y == x) return true;
    return false;
}

struct WindowQuery {
    const wchar_t* title;
    DWORD pid;
    bool found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lp) {
    WindowQuery* q = reinterpret_cast<WindowQuery*>(lp);
    wchar_t text[256];
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (pid == q->pid && ::GetWindowTextW(hwnd, text, 256) > 0 && std::wcscmp(text, q->title) == 0) {
        q->found = true;
        return FALSE;
    }
    return TRUE;
}

// A top-level window of that title that belongs to the process (hidden ones count).
bool HasWindow(DWORD pid, const std::wstring& title) {
    WindowQuery q = {title.c_str(), pid, false};
    ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&q));
    return q.found;
}

int CmdLaunch(const std::wstring& exe, const std::wstring& args, const std::wstring& title,
              double timeout) {
    PROCESS_INFORMATION pi;
    double t0 = NowMs();
    if (!Launch(exe, args, &pi)) {
        std::printf("error cannot start %s (%lu)\n", Narrow(exe).c_str(), ::GetLastError());
        return 1;
    }
    std::printf("pid %lu\n", pi.dwProcessId);
    while (NowMs() - t0 < timeout) {
        if (HasWindow(pi.dwProcessId, title)) {
            Print("window_ms", NowMs() - t0);
            return 0;
        }
        if (Exited(pi.hProcess)) {
            std::printf("error the program ended\n");
            return 1;
        }
        ::Sleep(2);
    }
    std::printf("error no window \"%s\" within %.0f ms\n", Narrow(title).c_str(), timeout);
    return 3;
}

int CmdSession(const std::wstring& home, const std::wstring& browserLog, double interval,
               double restartWait, const std::vector<double>& phases) {
    const long long logSize = FileSize(browserLog);
    PROCESS_INFORMATION pi;
    FILETIME wall;
    ::GetSystemTimePreciseAsFileTime(&wall);
    const double t0 = NowMs();
    if (!Launch(home + L"bin\\nbmonitor.exe", L"", &pi)) {
        std::printf("error cannot start nbmonitor.exe (%lu)\n", ::GetLastError());
        return 1;
    }
    std::printf("pid %lu\n", pi.dwProcessId);
    // The same moment as Unix time, to compare with the times of the files nbmonitor writes.
    ULARGE_INTEGER w;
    w.LowPart = wall.dwLowDateTime;
    w.HighPart = wall.dwHighDateTime;
    std::printf("launch_unix_ms %.1f\n", static_cast<double>(w.QuadPart - 116444736000000000ULL) / 1e4);
    double server = -1, listen = -1, page = -1, browser = -1, ready = -1;
    unsigned port = 0;
    while (ready < 0 && NowMs() - t0 < 60000) {
        if (Exited(pi.hProcess)) {
            std::printf("error nbmonitor ended during its start\n");
            return 1;
        }
        double now = NowMs();
        if (server < 0 && !ServerPids().empty()) server = now - t0;
        if (port == 0) port = ListenPort(home);
        if (port != 0 && listen < 0 && Connects(port)) listen = now - t0;
        if (listen >= 0 && page < 0 && PageAnswers(port)) page = now - t0;
        if (browser < 0 && FileSize(browserLog) > logSize) browser = now - t0;
        if (::FindWindowW(nullptr, kReadyTitle) != nullptr) ready = now - t0;
        ::Sleep(2);
    }
    if (ready < 0) {
        std::printf("error the start sequence did not finish within 60 s\n");
        return 3;
    }
    std::printf("port %u\n", port);
    Print("server_ms", server);
    Print("listen_ms", listen);
    Print("page_ms", page);
    Print("browser_ms", browser);
    Print("ready_ms", ready);
    const double ticks0 = t0 + ready;  // the timers' phase

    int n = 0;
    for (double phase : phases) {
        ++n;
        // Kill `phase` ms after a tick at least 300 ms ahead.
        double k = std::ceil((NowMs() + 300 - phase - ticks0) / interval);
        double killAt = ticks0 + k * interval + phase;
        SleepUntil(killAt);
        std::vector<DWORD> old = ServerPids();
        for (DWORD pid : old) {
            HANDLE h = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
            if (h == nullptr) continue;
            ::TerminateProcess(h, 1);
            ::WaitForSingleObject(h, 2000);
            ::CloseHandle(h);
        }
        const double killed = NowMs();
        const double nextTick = ticks0 + std::ceil((killed - ticks0) / interval) * interval;
        const double expected = (nextTick - killed) + kRestartPause + restartWait;
        double proc = -1, up = -1, back = -1;
        unsigned newPort = 0;
        while (back < 0 && NowMs() - killed < expected + 30000) {
            double now = NowMs();
            if (proc < 0) {
                for (DWORD pid : ServerPids())
                    if (!Contains(old, pid)) proc = now - killed;
            }
            if (proc >= 0) {
                if (newPort == 0) newPort = ListenPort(home);
                if (up < 0 && newPort != 0 && Connects(newPort)) up = now - killed;
                if (up >= 0 && PageAnswers(newPort)) back = now - killed;
            }
            ::Sleep(2);
        }
        char key[64];
        auto put = [&](const char* name, double v) {
            std::snprintf(key, sizeof key, "restart%d_%s", n, name);
            Print(key, v);
        };
        put("phase_ms", phase);
        put("killed_servers", static_cast<double>(old.size()));
        put("tick_wait_ms", nextTick - killed);
        put("expected_ms", expected);
        put("process_ms", proc);
        put("listen_ms", up);
        put("page_ms", back);
        put("tick_check_ms", proc < 0 ? -1 : (killed + proc - kRestartPause - restartWait) - nextTick);
        // nbmonitor writes the listen file just before it launches the server.
        double conf = WrittenAt(home + L"conf\\extra\\httpd-port.conf", w.QuadPart, t0);
        put("conf_ms", conf < 0 ? -1 : conf - killed);
        std::snprintf(key, sizeof key, "restart%d_port", n);
        std::printf("%s %u\n", key, newPort);
        std::fflush(stdout);
        if (back < 0) {
            std::printf("error the page did not answer again after kill %d\n", n);
            return 3;
        }
    }
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: nbbench_drive launch <exe> <arguments> <title> <timeout_ms>\n"
                 "       nbbench_drive session <home\\> <browser log> <monitor_interval> "
                 "<restart_wait> [phase_ms...]\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
    std::vector<std::wstring> a(argv + 1, argv + argc);
    int rc;
    if (a.size() >= 5 && a[0] == L"launch") {
        rc = CmdLaunch(a[1], a[2], a[3], _wtof(a[4].c_str()));
    } else if (a.size() >= 5 && a[0] == L"session") {
        std::wstring home = a[1];
        if (home.empty() || home.back() != L'\\') home += L'\\';
        std::vector<double> phases;
        for (std::size_t i = 5; i < a.size(); ++i) phases.push_back(_wtof(a[i].c_str()));
        rc = CmdSession(home, a[2], _wtof(a[3].c_str()), _wtof(a[4].c_str()), phases);
    } else {
        rc = Usage();
    }
    std::fflush(stdout);
    return rc;
}
