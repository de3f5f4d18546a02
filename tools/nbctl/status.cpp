// nbctl status: the supervisor found by its window, its home, the port of its listen file,
// the running server processes, whether the start page answers, the last lines of the log.
#include "platform/win32/windows_support.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/home_path.h"
#include "commands.h"
#include "nbctl.h"
#include "text.h"

namespace nbctl {
namespace {

using nb::win::ScopedKernelHandle;
using nb::win::ScopedSocket;

constexpr unsigned long kPageTimeoutMs = 5000;
constexpr std::size_t kStatusLogLines = 5;

// QueryFullProcessImageNameW gives the program file's DOS path on Windows; where it gives
// nothing of that shape, the process's first module, which is its program file.
std::wstring ImagePath(DWORD pid) {
    ScopedKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (process) {
        std::vector<wchar_t> path(32768);
        DWORD n = static_cast<DWORD>(path.size());
        if (::QueryFullProcessImageNameW(process.Get(), 0, path.data(), &n) && n >= 3 &&
            ((path[1] == L':' && path[2] == L'\\') || (path[0] == L'\\' && path[1] == L'\\')))
            return std::wstring(path.data(), n);
    }
    ScopedKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    if (snapshot && ::Module32FirstW(snapshot.Get(), &module)) return module.szExePath;
    return std::wstring();
}

std::vector<unsigned long> ServerPids() {
    std::vector<unsigned long> pids;
    ScopedKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!snapshot || !::Process32FirstW(snapshot.Get(), &entry)) return pids;
    do {
        // Exactly the name nbmonitor ends (case included), so that these are its servers.
        if (std::wcscmp(entry.szExeFile, L"httpd.exe") == 0) pids.push_back(entry.th32ProcessID);
    } while (::Process32NextW(snapshot.Get(), &entry));
    std::sort(pids.begin(), pids.end());
    return pids;
}

// The listen file's port; *problem says why there is none.
bool ReadPort(const std::wstring& file, unsigned* port, std::string* problem) {
    ScopedKernelHandle h(::CreateFileW(file.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) {
        *problem = "cannot read it (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    char buffer[4096];
    DWORD got = 0;
    std::string text;
    while (text.size() < 65536 && ::ReadFile(h.Get(), buffer, sizeof buffer, &got, nullptr) &&
           got > 0)
        text.append(buffer, got);
    if (!ParseListenPort(text, port)) {
        *problem = "no Listen line with a port";
        return false;
    }
    return true;
}

struct PageAnswer {
    bool ok = false;  // an HTTP answer with a status below 400
    int status = -1;  // -1: no HTTP answer
    unsigned long ms = 0;
    std::string error;
};

class Stopwatch {
public:
    Stopwatch() {
        ::QueryPerformanceFrequency(&m_frequency);
        ::QueryPerformanceCounter(&m_start);
    }
    unsigned long Ms() const {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        return static_cast<unsigned long>((now.QuadPart - m_start.QuadPart) * 1000 /
                                          m_frequency.QuadPart);
    }

private:
    LARGE_INTEGER m_frequency, m_start;
};

// Waits until the socket can be written (connected) or read, or the time is up.
bool WaitFor(SOCKET s, bool write, const Stopwatch& clock, bool* failed) {
    const unsigned long elapsed = clock.Ms();
    if (elapsed >= kPageTimeoutMs) return false;
    const unsigned long left = kPageTimeoutMs - elapsed;
    fd_set ready, error;
    FD_ZERO(&ready);
    FD_ZERO(&error);
    FD_SET(s, &ready);
    FD_SET(s, &error);
    timeval tv{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
    const int n = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, &error, &tv);
    *failed = n == SOCKET_ERROR || FD_ISSET(s, &error);
    return n > 0;
}

std::string SocketError(const char* what, int code) {
    if (code == WSAECONNREFUSED) return "connection refused";
    return std::string(what) + " failed (error " + std::to_string(code) + ")";
}

// Connects the non-blocking socket to 127.0.0.1:port; false with page->error set when it cannot.
bool ConnectWithin(SOCKET s, unsigned port, const Stopwatch& clock, PageAnswer* page,
                   const std::string& timeout) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = ::htons(static_cast<u_short>(port));
    to.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != SOCKET_ERROR)
        return true;
    const int code = ::WSAGetLastError();
    if (code != WSAEWOULDBLOCK) {
        page->error = SocketError("connect", code);
        return false;
    }
    bool failed = false;
    if (WaitFor(s, true, clock, &failed) && !failed) return true;
    int soError = 0;
    int length = sizeof soError;
    ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length);
    page->error = failed ? SocketError("connect", soError) : timeout;
    return false;
}

bool SendRequest(SOCKET s, unsigned port, const Stopwatch& clock, PageAnswer* page,
                 const std::string& timeout) {
    const std::string request = "GET /index.php HTTP/1.0\r\nHost: localhost:" +
                                std::to_string(port) + "\r\nConnection: close\r\n\r\n";
    bool failed = false;
    for (std::size_t sent = 0; sent < request.size();) {
        const int n = ::send(s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            page->error = SocketError("send", ::WSAGetLastError());
            return false;
        } else if (!WaitFor(s, true, clock, &failed) || failed) {
            page->error = failed ? "the connection failed while sending" : timeout;
            return false;
        }
    }
    return true;
}

// The answer up to its first line feed (at most about 1 KiB), or all of it when it is shorter.
bool ReceiveFirstLine(SOCKET s, const Stopwatch& clock, std::string* answer, PageAnswer* page,
                      const std::string& timeout) {
    bool failed = false;
    while (answer->find('\n') == std::string::npos && answer->size() < 1024) {
        char buffer[512];
        const int n = ::recv(s, buffer, sizeof buffer, 0);
        if (n > 0) {
            answer->append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            page->error = SocketError("recv", ::WSAGetLastError());
            return false;
        } else if (!WaitFor(s, false, clock, &failed)) {
            page->error = timeout;
            return false;
        }
    }
    return true;
}

// GET /index.php on 127.0.0.1, where the supervisor itself waits for the server, within
// kPageTimeoutMs for the connection, the request and the answer's first line together.
PageAnswer GetPage(unsigned port) {
    PageAnswer page;
    const std::string timeout = "no answer within " + std::to_string(kPageTimeoutMs) + " ms";
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        page.error = "Windows Sockets cannot be initialized";
        return page;
    }
    ScopedSocket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    u_long nonblocking = 1;
    if (!s || ::ioctlsocket(s.Get(), FIONBIO, &nonblocking) != 0) {
        page.error = SocketError("socket", ::WSAGetLastError());
        return page;
    }
    Stopwatch clock;
    std::string answer;
    if (!ConnectWithin(s.Get(), port, clock, &page, timeout) ||
        !SendRequest(s.Get(), port, clock, &page, timeout) ||
        !ReceiveFirstLine(s.Get(), clock, &answer, &page, timeout))
        return page;
    page.ms = clock.Ms();
    if (!ParseHttpStatus(answer, &page.status)) {
        page.status = -1;
        page.error = answer.empty() ? "closed without an answer" : "not an HTTP answer";
        return page;
    }
    page.ok = page.status < 400;
    if (!page.ok) page.error = "error status";
    return page;
}

std::string Number(unsigned long n) { return std::to_string(n); }

std::string JsonLogLine(const std::string& text) {
    std::string out = "{\"text\":" + JsonString(text);
    LogLine line;
    if (ParseLogLine(text, &line)) {
        out += ",\"time\":" + JsonString(line.time) + ",\"pid\":" + Number(line.pid) +
               ",\"event\":" + JsonString(line.event) + ",\"fields\":{";
        for (std::size_t i = 0; i < line.fields.size(); ++i)
            out += (i ? "," : "") + JsonString(line.fields[i].first) + ":" +
                   JsonString(line.fields[i].second);
        out += "}";
    }
    return out + "}";
}

}  // namespace

bool FindSupervisor(SupervisorInfo* info) {
    HWND window = ::FindWindowW(nullptr, kWindowTitle);
    if (!window) return false;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    info->pid = pid;
    const std::wstring exe = pid ? ImagePath(pid) : std::wstring();
    info->home = exe.empty() ? std::wstring() : nb::HomeFromModulePath(exe);
    return true;
}

std::wstring LogHome() {
    SupervisorInfo supervisor;
    if (FindSupervisor(&supervisor) && !supervisor.home.empty()) return supervisor.home;
    return OwnHome();
}

namespace {

// Whether the settings file begins with a UTF-8 byte-order mark, which Windows' profile
// functions read as part of the first line: that section's keys are then not found.
bool HasUtf8Mark(const std::wstring& file) {
    ScopedKernelHandle h(::CreateFileW(file.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char head[3] = {};
    DWORD got = 0;
    return h && ::ReadFile(h.Get(), head, sizeof head, &got, nullptr) && got == 3 &&
           std::string(head, 3) == "\xEF\xBB\xBF";
}

// What status reports, gathered once for either form.
struct StatusFacts {
    SupervisorInfo supervisor;
    bool running = false;
    bool ownHome = false;  // no supervisor tells its home: nbctl's own installation
    std::wstring home, listenFile, logPath, settingsFile;
    bool settingsBom = false;
    unsigned port = 0;
    bool havePort = false;
    std::string portProblem, url;
    std::vector<unsigned long> servers;
    PageAnswer page;
    std::vector<std::string> lines;
    bool haveLog = false;
};

StatusFacts GatherStatus() {
    StatusFacts f;
    f.running = FindSupervisor(&f.supervisor);
    f.ownHome = f.supervisor.home.empty();
    f.home = f.ownHome ? OwnHome() : f.supervisor.home;

    f.listenFile = f.home + L"conf\\extra\\httpd-port.conf";
    f.settingsFile = f.home + L"conf\\nbmonitor.ini";
    f.settingsBom = HasUtf8Mark(f.settingsFile);
    f.havePort = ReadPort(f.listenFile, &f.port, &f.portProblem);
    f.servers = ServerPids();

    // The page counts only for a running supervisor: without one nothing keeps it up.
    if (f.havePort) f.url = "http://localhost:" + Number(f.port) + "/index.php";
    if (f.running && f.havePort) f.page = GetPage(f.port);
    if (f.running && !f.havePort) f.page.error = "port unknown";

    f.logPath = LogPath(f.home);
    f.haveLog = LastLogLines(f.home, kStatusLogLines, &f.lines);
    return f;
}

std::string StatusJson(const StatusFacts& f) {
    const char* kNull = "null";
    const PageAnswer& page = f.page;
    std::string out = "{\"running\":" + std::string(f.running ? "true" : "false");
    out += ",\"pid\":" + (f.running ? Number(f.supervisor.pid) : kNull);
    out += ",\"home\":" + JsonString(Utf8(f.home));
    out += ",\"settings_bom\":" + std::string(f.settingsBom ? "true" : "false");
    out += ",\"port\":" + (f.havePort ? Number(f.port) : kNull);
    out += ",\"httpd\":[";
    for (std::size_t i = 0; i < f.servers.size(); ++i) out += (i ? "," : "") + Number(f.servers[i]);
    out += "],\"page\":";
    if (!f.running) {
        out += kNull;
    } else {
        out += "{\"url\":" + (f.havePort ? JsonString(f.url) : kNull);
        out += ",\"ok\":" + std::string(page.ok ? "true" : "false");
        out += ",\"status\":" +
               (page.status >= 0 ? Number(static_cast<unsigned long>(page.status)) : kNull);
        out += ",\"ms\":" + (page.status >= 0 ? Number(page.ms) : kNull);
        out += ",\"error\":" + (page.error.empty() ? kNull : JsonString(page.error)) + "}";
    }
    out += StatusHistory(f.home, true);
    out += ",\"log\":{\"path\":" + JsonString(Utf8(f.logPath)) + ",\"lines\":[";
    for (std::size_t i = 0; i < f.lines.size(); ++i)
        out += (i ? "," : "") + JsonLogLine(f.lines[i]);
    out += "]}}\n";
    return out;
}

std::string PageRow(const StatusFacts& f) {
    const PageAnswer& page = f.page;
    if (!f.havePort) return "not checked (port unknown)";
    if (page.status < 0) return f.url + ": " + page.error;
    return f.url + ": HTTP " + Number(static_cast<unsigned long>(page.status)) + " in " +
           Number(page.ms) + " ms" + (page.ok ? "" : " (" + page.error + ")");
}

std::string StatusText(const StatusFacts& f) {
    std::string out;
    auto row = [&out](const char* name, const std::string& value) {
        out += StatusRow(name, value);
    };
    row("nbmonitor", f.running ? "running, pid " + Number(f.supervisor.pid) : "not running");
    row("home", Utf8(f.home) + (f.ownHome ? " (where nbctl is installed)" : ""));
    if (f.settingsBom)
        row("settings", Utf8(f.settingsFile) +
                            ": begins with a UTF-8 byte-order mark; Windows misses "
                            "the keys of its first section (save it as ANSI or UTF-16 LE)");
    row("port", f.havePort ? Number(f.port) + " (" + Utf8(f.listenFile) + ")"
                           : "unknown: " + Utf8(f.listenFile) + ": " + f.portProblem);
    std::string pids;
    for (unsigned long pid : f.servers) pids += (pids.empty() ? "" : " ") + Number(pid);
    row("httpd.exe", pids.empty() ? "none running" : pids);
    if (f.running) row("page", PageRow(f));
    out += StatusHistory(f.home, false);
    row("log", Utf8(f.logPath) + (!f.haveLog ? ": none" : f.lines.empty() ? ": empty" : ""));
    for (const std::string& line : f.lines) out += "  " + line + "\n";
    return out;
}

}  // namespace

int StatusCommand(bool json) {
    const StatusFacts f = GatherStatus();
    Print(json ? StatusJson(f) : StatusText(f));
    return !f.running ? kExitNotRunning : f.page.ok ? kExitOk : kExitNoAnswer;
}

}  // namespace nbctl
