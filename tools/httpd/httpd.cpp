// httpd.exe of the demo installation: a stand-in web server, NOT Apache.
//
// It does what the supervisor relies on and nothing more: it stays alive, listens where
// ..\conf\extra\httpd-port.conf (next to its own bin folder) says, and serves the files of
// ..\htdocs over plain HTTP/1.0, one connection at a time. PHP is not run: a .php file is
// sent as it is, as HTML (the content type PHP gives a page), so the demo's start page, which
// holds no PHP code, reads in a browser as PHP would have sent it.
//
// Faults for tests come from conf\standin.ini, section [standin], or from environment
// variables; a key present in the file wins over the variable, so a test can change the
// faults of the next launch while the supervisor keeps running:
//   exit_now=1          NB_STANDIN_EXIT_NOW         end at once (exit code 3)
//   never_listen=1      NB_STANDIN_NEVER_LISTEN     stay alive but never open the port
//   exit_after_ms=N     NB_STANDIN_EXIT_AFTER_MS    end N ms after the start (exit code 4)
//   listen_delay_ms=N   NB_STANDIN_LISTEN_DELAY_MS  open the port only after N ms
//   hang=1              NB_STANDIN_HANG             keep the port open but never answer:
//   hang_after_ms=N     NB_STANDIN_HANG_AFTER_MS    from the start, or N ms after it
//   log=PATH            NB_STANDIN_LOG              append "pid=<id> listen=<addr>:<port>
//                                                   cwd=<current folder>" per start (a
//                                                   relative path is taken from the
//                                                   installation's home folder)
//   shutdown_event=1    NB_STANDIN_SHUTDOWN_EVENT   offer Apache's graceful stop: make the
//                                                   event ap<PID>_shutdown; once it is set,
//                                                   append "pid=<id> stopped=graceful" to the
//                                                   log and end (exit code 0)
//   shutdown_delay_ms=N NB_STANDIN_SHUTDOWN_DELAY_MS  ... N ms after the event was set
//   shutdown_ignore=1   NB_STANDIN_SHUTDOWN_IGNORE  make the event but never act on it (a
//                                                   server that hangs in its stop)
//   error_exit=1        NB_STANDIN_ERROR_EXIT       write an Apache-shaped error line to
//                                                   logs\error.log and end (exit code 1)
//   syntax_error=1      NB_STANDIN_SYNTAX_ERROR     run with -t, print Apache's syntax error
//                                                   on standard error (exit code 1)
// Run with -t it only tests the configuration, as Apache does: "Syntax OK" on standard
// error (exit code 0), or the syntax error above.
// Exit codes: 1 no Listen line, 2 bind or listen failed, 3 exit_now, 4 exit_after_ms.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

const wchar_t kHelp[] =
    L"httpd.exe - stand-in web server of the nbmonitor demo installation.\r\n"
    L"This is NOT Apache httpd: it only serves the files of ..\\htdocs over HTTP/1.0\r\n"
    L"(GET and HEAD, .php sent as it is, as HTML), listening where "
    L"..\\conf\\extra\\httpd-port.conf says.\r\n"
    L"Test faults: conf\\standin.ini [standin] exit_now, never_listen, exit_after_ms,\r\n"
    L"listen_delay_ms, log (or NB_STANDIN_EXIT_NOW, NB_STANDIN_NEVER_LISTEN,\r\n"
    L"NB_STANDIN_EXIT_AFTER_MS, NB_STANDIN_LISTEN_DELAY_MS, NB_STANDIN_LOG);\r\n"
    L"hang, hang_after_ms (NB_STANDIN_HANG, NB_STANDIN_HANG_AFTER_MS).\r\n"
    L"Graceful stop: shutdown_event, shutdown_delay_ms, shutdown_ignore "
    L"(NB_STANDIN_SHUTDOWN_EVENT,\r\n"
    L"NB_STANDIN_SHUTDOWN_DELAY_MS, NB_STANDIN_SHUTDOWN_IGNORE): the event ap<PID>_shutdown.\r\n"
    L"What a failing Apache says: error_exit (NB_STANDIN_ERROR_EXIT) writes an error line to\r\n"
    L"logs\\error.log and ends; syntax_error (NB_STANDIN_SYNTAX_ERROR) makes -t print a syntax "
    L"error.\r\n";

const DWORD kIoTimeoutMs = 3000;  // per recv/send; a silent client is dropped after this
const int kMaxRequestBytes = 8192;

std::wstring g_home;  // installation home, no trailing backslash: <exe folder>\..

struct Faults {
    bool exitNow = false;
    bool neverListen = false;
    DWORD exitAfterMs = 0;
    DWORD listenDelayMs = 0;
    std::wstring log;
    bool shutdownEvent = false;
    DWORD shutdownDelayMs = 0;
    bool shutdownIgnore = false;
};

void WriteOut(const wchar_t* text) {
    // A GUI-subsystem program has no console of its own: borrow the parent's if there is one.
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (::AttachConsole(ATTACH_PARENT_PROCESS))
            out = ::CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    }
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    char bytes[2048];
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    DWORD written = 0;
    if (n > 1) ::WriteFile(out, bytes, n - 1, &written, nullptr);
}

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH * 2];
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring s(path, n);
    std::size_t slash = s.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring(L".") : s.substr(0, slash);
}

// The file's value when the key is there, else the variable's, else empty.
std::wstring Setting(const wchar_t* key, const wchar_t* variable) {
    const std::wstring ini = g_home + L"\\conf\\standin.ini";
    const wchar_t kAbsent[] = L"\x01absent";
    wchar_t value[MAX_PATH * 2];
    ::GetPrivateProfileStringW(L"standin", key, kAbsent, value, MAX_PATH * 2, ini.c_str());
    if (std::wcscmp(value, kAbsent) != 0) return value;
    DWORD n = ::GetEnvironmentVariableW(variable, value, MAX_PATH * 2);
    return n > 0 && n < MAX_PATH * 2 ? std::wstring(value, n) : std::wstring();
}

DWORD Number(const std::wstring& s) {
    return static_cast<DWORD>(std::wcstoul(s.c_str(), nullptr, 10));
}

Faults ReadFaults() {
    Faults f;
    f.exitNow = Number(Setting(L"exit_now", L"NB_STANDIN_EXIT_NOW")) != 0;
    f.neverListen = Number(Setting(L"never_listen", L"NB_STANDIN_NEVER_LISTEN")) != 0;
    f.exitAfterMs = Number(Setting(L"exit_after_ms", L"NB_STANDIN_EXIT_AFTER_MS"));
    f.listenDelayMs = Number(Setting(L"listen_delay_ms", L"NB_STANDIN_LISTEN_DELAY_MS"));
    f.log = Setting(L"log", L"NB_STANDIN_LOG");
    f.shutdownEvent = Number(Setting(L"shutdown_event", L"NB_STANDIN_SHUTDOWN_EVENT")) != 0;
    f.shutdownDelayMs = Number(Setting(L"shutdown_delay_ms", L"NB_STANDIN_SHUTDOWN_DELAY_MS"));
    f.shutdownIgnore = Number(Setting(L"shutdown_ignore", L"NB_STANDIN_SHUTDOWN_IGNORE")) != 0;
    if (!f.log.empty() && f.log.find(L':') == std::wstring::npos && f.log[0] != L'\\')
        f.log = g_home + L"\\" + f.log;
    return f;
}

// The hang: whether connections are taken and then held without an answer, and from when.
struct Hang {
    bool on = false;
    DWORD afterMs = 0;
};

Hang ReadHang() {
    Hang h;
    const std::wstring after = Setting(L"hang_after_ms", L"NB_STANDIN_HANG_AFTER_MS");
    h.afterMs = Number(after);
    h.on = Number(Setting(L"hang", L"NB_STANDIN_HANG")) != 0 || h.afterMs > 0;
    return h;
}

// A hung server: the connection is taken and kept, never read nor answered. The oldest is
// let go once many are held.
void Hold(SOCKET client) {
    static SOCKET held[256];
    static unsigned next = 0;
    SOCKET& slot = held[next++ % 256];
    if (slot != 0) ::closesocket(slot);
    slot = client;
}

// "Listen 127.0.0.1:27142" or "Listen 27142"; the first such line counts.
bool ReadListen(std::string& address, unsigned& port) {
    const std::wstring path = g_home + L"\\conf\\extra\\httpd-port.conf";
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    char buf[4096];
    DWORD got = 0;
    BOOL ok = ::ReadFile(h, buf, sizeof buf - 1, &got, nullptr);
    ::CloseHandle(h);
    if (!ok) return false;
    buf[got] = '\0';
    for (char* line = std::strtok(buf, "\r\n"); line; line = std::strtok(nullptr, "\r\n")) {
        while (*line == ' ' || *line == '\t') ++line;
        if (_strnicmp(line, "Listen", 6) != 0 || (line[6] != ' ' && line[6] != '\t')) continue;
        char* value = line + 6;
        while (*value == ' ' || *value == '\t') ++value;
        char* end = value;
        while (*end && *end != ' ' && *end != '\t') ++end;
        *end = '\0';
        char* colon = std::strrchr(value, ':');
        address = colon ? std::string(value, colon) : std::string("0.0.0.0");
        char* digits = colon ? colon + 1 : value;
        char* stop = nullptr;
        unsigned long p = std::strtoul(digits, &stop, 10);
        if (stop == digits || *stop != '\0' || p == 0 || p > 65535) return false;
        port = static_cast<unsigned>(p);
        return true;
    }
    return false;
}

void AppendLog(const std::wstring& log, const char* line) {
    if (log.empty()) return;
    HANDLE h = ::CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(h, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    ::CloseHandle(h);
}

// Apache's error log line: "[Wed Dec 09 21:30:46.123456 2026] [core:emerg] [pid 1:tid 2] text".
void WriteErrorLog(const char* levelAndModule, const char* text) {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char line[512];
    std::snprintf(line, sizeof line,
                  "[%s %s %02u %02u:%02u:%02u.%03u000 %u] [%s] [pid %lu:tid %lu] %s\r\n",
                  kDays[t.wDayOfWeek % 7], kMonths[(t.wMonth + 11) % 12], t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds, t.wYear, levelAndModule,
                  static_cast<unsigned long>(::GetCurrentProcessId()),
                  static_cast<unsigned long>(::GetCurrentThreadId()), text);
    ::CreateDirectoryW((g_home + L"\\logs").c_str(), nullptr);
    AppendLog(g_home + L"\\logs\\error.log", line);
}

// httpd -t: what Apache prints on standard error for a configuration that loads, or for one
// with an unknown directive.
int ConfigTest() {
    HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    char text[MAX_PATH * 3 + 200];
    int exitCode = 0;
    if (Number(Setting(L"syntax_error", L"NB_STANDIN_SYNTAX_ERROR")) != 0) {
        char conf[MAX_PATH * 3];
        ::WideCharToMultiByte(CP_UTF8, 0, (g_home + L"\\conf\\httpd.conf").c_str(), -1, conf,
                              sizeof conf, nullptr, nullptr);
        std::snprintf(text, sizeof text,
                      "AH00526: Syntax error on line 1 of %s:\r\nInvalid command 'StandinFault', "
                      "perhaps misspelled "
                      "or defined by a module not included in the server configuration\r\n",
                      conf);
        exitCode = 1;
    } else {
        std::snprintf(text, sizeof text, "Syntax OK\r\n");
    }
    DWORD written = 0;
    if (err != nullptr && err != INVALID_HANDLE_VALUE)
        ::WriteFile(err, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    return exitCode;
}

void LogStart(const Faults& f, const std::string& address, unsigned port) {
    if (f.log.empty()) return;
    // The current folder in the ANSI code page: what the log's reader needs is its drive and
    // its folders.
    char cwd[MAX_PATH] = "?";
    if (::GetCurrentDirectoryA(MAX_PATH, cwd) == 0) std::snprintf(cwd, sizeof cwd, "?");
    char line[160 + MAX_PATH];
    std::snprintf(line, sizeof line, "pid=%lu listen=%s:%u cwd=%s\r\n",
                  static_cast<unsigned long>(::GetCurrentProcessId()),
                  address.empty() ? "none" : address.c_str(), port, cwd);
    AppendLog(f.log, line);
}

// Apache's graceful stop as its Windows parent process offers it: whoever sets the event
// ap<PID>_shutdown asks it to finish its requests and end.
struct ShutdownWatch {
    HANDLE event;
    Faults faults;
};

DWORD WINAPI WatchShutdown(LPVOID param) {
    const ShutdownWatch* watch = static_cast<const ShutdownWatch*>(param);
    if (::WaitForSingleObject(watch->event, INFINITE) != WAIT_OBJECT_0) return 0;
    if (watch->faults.shutdownIgnore) return 0;  // hangs in its stop: only a kill ends it
    if (watch->faults.shutdownDelayMs > 0) ::Sleep(watch->faults.shutdownDelayMs);
    char line[64];
    std::snprintf(line, sizeof line, "pid=%lu stopped=graceful\r\n",
                  static_cast<unsigned long>(::GetCurrentProcessId()));
    AppendLog(watch->faults.log, line);
    ::ExitProcess(0);
    return 0;
}

void OfferGracefulStop(const Faults& f) {
    if (!f.shutdownEvent) return;
    wchar_t name[64];
    std::swprintf(name, 64, L"ap%lu_shutdown", static_cast<unsigned long>(::GetCurrentProcessId()));
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, name);
    if (event == nullptr) return;
    static ShutdownWatch watch;  // lives as long as the process
    watch.event = event;
    watch.faults = f;
    ::CloseHandle(::CreateThread(nullptr, 0, WatchShutdown, &watch, 0, nullptr));
}

DWORD WINAPI ExitLater(LPVOID ms) {
    ::Sleep(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(ms)));
    ::ExitProcess(4);
    return 0;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Maps a request target to a file below htdocs; false for anything that could leave it.
bool TargetToPath(const std::string& target, std::wstring& path) {
    if (target.empty() || target[0] != '/') return false;
    std::string decoded;
    for (std::size_t i = 0; i < target.size() && target[i] != '?' && target[i] != '#'; ++i) {
        char c = target[i];
        if (c == '%') {
            if (i + 2 >= target.size() || Hex(target[i + 1]) < 0 || Hex(target[i + 2]) < 0)
                return false;
            c = static_cast<char>(Hex(target[i + 1]) * 16 + Hex(target[i + 2]));
            i += 2;
        }
        if (c == '\0' || c == '\\' || c == ':') return false;
        decoded += c;
    }
    // Refuse any segment that Windows would read as "..": only dots and blanks, two dots or
    // more ("..", ". .", ".. "). Names merely containing dots are fine.
    std::size_t start = 1;
    while (start <= decoded.size()) {
        std::size_t end = decoded.find('/', start);
        if (end == std::string::npos) end = decoded.size();
        std::string segment = decoded.substr(start, end - start);
        if (segment.find_first_not_of(". ") == std::string::npos &&
            std::count(segment.begin(), segment.end(), '.') >= 2)
            return false;
        start = end + 1;
    }
    if (decoded.back() == '/') decoded += "index.php";
    int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, decoded.c_str(), -1, nullptr, 0);
    if (n <= 0) return false;
    std::wstring relative(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, decoded.c_str(), -1, &relative[0], n);
    relative.resize(static_cast<std::size_t>(n - 1));
    for (wchar_t& c : relative)
        if (c == L'/') c = L'\\';
    path = g_home + L"\\htdocs" + relative;
    return true;
}

const char* ContentType(const std::wstring& path) {
    std::size_t dot = path.find_last_of(L'.');
    std::wstring ext = dot == std::wstring::npos ? L"" : path.substr(dot);
    // PHP runs no code here, but what it would send is HTML.
    if (_wcsicmp(ext.c_str(), L".html") == 0 || _wcsicmp(ext.c_str(), L".htm") == 0 ||
        _wcsicmp(ext.c_str(), L".php") == 0)
        return "text/html; charset=utf-8";
    if (_wcsicmp(ext.c_str(), L".css") == 0) return "text/css";
    if (_wcsicmp(ext.c_str(), L".js") == 0) return "application/javascript";
    if (_wcsicmp(ext.c_str(), L".png") == 0) return "image/png";
    if (_wcsicmp(ext.c_str(), L".txt") == 0) return "text/plain; charset=utf-8";
    return "application/octet-stream";
}

bool SendAll(SOCKET s, const char* data, int size) {
    while (size > 0) {
        int n = ::send(s, data, size, 0);
        if (n <= 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

void SendStatus(SOCKET s, const char* status, bool body) {
    char head[256];
    int n = std::snprintf(
        head, sizeof head,
        "HTTP/1.0 %s\r\nServer: nbmonitor-standin (not Apache)\r\n"
        "Content-Type: text/plain\r\nContent-Length: %u\r\nConnection: close\r\n\r\n",
        status, static_cast<unsigned>(std::strlen(status) + 1));
    SendAll(s, head, n);
    if (body) {
        SendAll(s, status, static_cast<int>(std::strlen(status)));
        SendAll(s, "\n", 1);
    }
}

void Serve(SOCKET s) {
    DWORD timeout = kIoTimeoutMs;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                 sizeof timeout);
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
                 sizeof timeout);

    char request[kMaxRequestBytes + 1];
    int size = 0;
    const DWORD started = ::GetTickCount();
    while (size < kMaxRequestBytes) {
        int n = ::recv(s, request + size, kMaxRequestBytes - size, 0);
        if (n <= 0) return;  // closed, reset or silent past the timeout
        size += n;
        request[size] = '\0';
        if (std::strstr(request, "\r\n\r\n") || std::strstr(request, "\n\n")) break;
        if (::GetTickCount() - started > 2 * kIoTimeoutMs) return;  // a trickling client
    }
    request[size] = '\0';

    char method[16] = "", target[4096] = "";
    if (std::sscanf(request, "%15s %4095s", method, target) != 2) {
        SendStatus(s, "400 Bad Request", true);
        return;
    }
    const bool head = std::strcmp(method, "HEAD") == 0;
    if (!head && std::strcmp(method, "GET") != 0) {
        SendStatus(s, "501 Not Implemented", true);
        return;
    }
    std::wstring path;
    if (!TargetToPath(target, path)) {
        SendStatus(s, "400 Bad Request", !head);
        return;
    }
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    if (file == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || info.nFileSizeHigh != 0) {
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        SendStatus(s, "404 Not Found", !head);
        return;
    }
    char header[512];
    int n = std::snprintf(header, sizeof header,
                          "HTTP/1.0 200 OK\r\nServer: nbmonitor-standin (not Apache)\r\n"
                          "Content-Type: %s\r\nContent-Length: %lu\r\nConnection: close\r\n\r\n",
                          ContentType(path), static_cast<unsigned long>(info.nFileSizeLow));
    if (SendAll(s, header, n) && !head) {
        char chunk[16384];
        DWORD got = 0;
        while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
            if (!SendAll(s, chunk, static_cast<int>(got))) break;
    }
    ::CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
    std::wstring args = cmdLine ? cmdLine : L"";
    const std::size_t first = args.find_first_not_of(L" \t");
    args = first == std::wstring::npos
               ? L""
               : args.substr(first, args.find_last_not_of(L" \t") - first + 1);
    if (args == L"--help" || args == L"-h" || args == L"/?") {
        WriteOut(kHelp);
        return 0;
    }
    g_home = ExeFolder() + L"\\..";
    if (args == L"-t") return ConfigTest();
    const Faults faults = ReadFaults();
    const Hang hang = ReadHang();
    const DWORD started = ::GetTickCount();

    std::string address;
    unsigned port = 0;
    const bool haveListen = ReadListen(address, port);
    LogStart(faults, address, port);

    if (faults.exitNow) return 3;
    if (Number(Setting(L"error_exit", L"NB_STANDIN_ERROR_EXIT")) != 0) {
        WriteErrorLog(
            "mpm_winnt:error",
            "AH00451: no listening sockets available, shutting down (stand-in error_exit)");
        return 1;
    }
    if (!haveListen) return 1;
    OfferGracefulStop(faults);
    if (faults.exitAfterMs > 0)
        ::CloseHandle(::CreateThread(
            nullptr, 0, ExitLater,
            reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(faults.exitAfterMs)), 0, nullptr));
    if (faults.listenDelayMs > 0) ::Sleep(faults.listenDelayMs);
    if (faults.neverListen)
        for (;;) ::Sleep(INFINITE);

    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 2;
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = ::htons(static_cast<u_short>(port));
    where.sin_addr.s_addr = ::inet_addr(address.c_str());
    if (listener == INVALID_SOCKET || where.sin_addr.s_addr == INADDR_NONE ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(listener, SOMAXCONN) != 0)
        return 2;
    for (;;) {
        SOCKET client = ::accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            ::Sleep(10);
            continue;
        }
        if (hang.on && ::GetTickCount() - started >= hang.afterMs) {
            Hold(client);
            continue;
        }
        Serve(client);
        ::shutdown(client, SD_SEND);
        ::closesocket(client);
    }
}
