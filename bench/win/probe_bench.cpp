// nbbench_win.exe: the port probe and the configuration writers on the real Win32 platform,
// the Windows twin of bench/native_bench.cpp. The probe runs CApacheControl::PortCheck past
// 200 ports held by listeners of this process; the writers run CreateConf and the php.ini
// regeneration from a 150 KB template in a scratch folder, and CreatePortConf alone (the
// file every restart writes). Best of 20 rounds each; the listen file also as a median. Then
// slog::Write, as nbmonitor writes its supervision log: 1000 lines into a new file (median,
// mean and worst per line), 1000 lines among which the file passes 1 MiB once (mean), and the
// line that rotates the file alone (median of 20).
// Prints "key value" lines (times in milliseconds, the log's in microseconds) and exits 0, or
// 1 when a result is wrong.
#include "platform/win32/windows_support.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/nbmonitor_app.h"
#include "base/supervision_log.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/win32/win32_platform.h"
#include "server/apache_control.h"
#include "server/php_ini.h"
#include "clock.h"

using namespace nb;

namespace {

const int kTaken = 200;
const int kRounds = 20;
const int kLogLines = 1000;

SOCKET Listener(uint16_t port) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    a.sin_port = ::htons(port);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 1) != 0) {
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// Holds `count` consecutive listening ports followed by a free one; returns the first.
uint16_t HoldPorts(int count, std::vector<SOCKET>* held) {
    for (unsigned base = 41000; base + count < 60000; base += 500) {
        std::vector<SOCKET> run;
        for (int i = 0; i < count; ++i) {
            SOCKET s = Listener(static_cast<uint16_t>(base + i));
            if (s == INVALID_SOCKET) break;
            run.push_back(s);
        }
        if (static_cast<int>(run.size()) == count) {
            SOCKET after = Listener(static_cast<uint16_t>(base + count));
            if (after != INVALID_SOCKET) {
                ::closesocket(after);
                *held = run;
                return static_cast<uint16_t>(base);
            }
        }
        for (SOCKET s : run) ::closesocket(s);
    }
    return 0;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
    return ok && written == bytes.size();
}

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                ::DeleteFileW(path.c_str());
        } while (::FindNextFileW(find, &fd));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(folder.c_str());
}

// A line of the kind every restart writes four of (server-exited, config, server-start,
// restart); the time it took in microseconds.
const wchar_t kServerCmd[] = L"C:\\nimbara\\\\bin\\httpd.exe";

double TimedLogLine() {
    double t0 = NowMs();
    slog::Write("server-start", {{"cmd", kServerCmd}, {"pid", 1234u}, {"port", 28142u}});
    return (NowMs() - t0) * 1000.0;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Mean(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return sum / static_cast<double>(v.size());
}

// The supervision log's figures; false (and an error line) when the files are not as the
// writer should have left them.
bool LogBench(const std::wstring& home) {
    slog::Open(home + L"\\");
    const std::wstring path = slog::Path();
    const std::size_t lineBytes =
        slog::FormatLine(nb::Processes().Now(), nb::Processes().CurrentProcessId(), "server-start",
                         {{"cmd", kServerCmd}, {"pid", 1234u}, {"port", 28142u}})
            .size();

    // A new file in a folder that does not exist yet: the first line makes the folder.
    std::vector<double> plain;
    for (int i = 0; i < kLogLines; ++i) plain.push_back(TimedLogLine());
    if (nb::Files().FileSize(path) != static_cast<int64_t>(kLogLines * lineBytes)) {
        std::printf("error the log holds %lld bytes after %d lines of %u\n",
                    static_cast<long long>(nb::Files().FileSize(path)), kLogLines, static_cast<unsigned>(lineBytes));
        return false;
    }

    // 1000 lines that take the file past the bound half-way.
    const std::string old(slog::kRotateBytes - kLogLines / 2 * lineBytes, '#');
    std::vector<double> crossing;
    if (!WriteFileBytes(path, old)) {
        std::printf("error cannot write %u bytes into the log\n", static_cast<unsigned>(old.size()));
        return false;
    }
    for (int i = 0; i < kLogLines; ++i) crossing.push_back(TimedLogLine());
    if (nb::Files().FileSize(path + L".1") < static_cast<int64_t>(old.size()) ||
        nb::Files().FileSize(path) >= static_cast<int64_t>(old.size())) {
        std::printf("error no rotation: log %lld bytes, rotated %lld\n", static_cast<long long>(nb::Files().FileSize(path)),
                    static_cast<long long>(nb::Files().FileSize(path + L".1")));
        return false;
    }

    // The rotating line alone: the file one line short of the bound, nbmonitor.log.1 there.
    const std::string full(slog::kRotateBytes - lineBytes / 2, '#');
    std::vector<double> rotating;
    for (int r = 0; r < kRounds; ++r) {
        if (!WriteFileBytes(path, full)) {
            std::printf("error cannot fill the log\n");
            return false;
        }
        rotating.push_back(TimedLogLine());
        if (nb::Files().FileSize(path) != static_cast<int64_t>(lineBytes)) {
            std::printf("error the rotating line left %lld bytes\n", static_cast<long long>(nb::Files().FileSize(path)));
            return false;
        }
    }

    std::printf("log_line_bytes %u\n", static_cast<unsigned>(lineBytes));
    std::printf("log_line_median_us %.1f\n", Median(plain));
    std::printf("log_line_mean_us %.1f\n", Mean(plain));
    std::printf("log_line_max_us %.1f\n", *std::max_element(plain.begin(), plain.end()));
    std::printf("log_crossing_mean_us %.1f\n", Mean(crossing));
    std::printf("log_crossing_max_us %.1f\n", *std::max_element(crossing.begin(), crossing.end()));
    std::printf("log_rotate_median_us %.1f\n", Median(rotating));
    return true;
}

}  // namespace

int wmain() {
    static nb::win::Win32Platform platform;
    nb::SetPlatform(&platform);
    CnbmonitorApp app;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    wchar_t scratch[40];
    std::swprintf(scratch, 40, L"nbbench-%lu", ::GetCurrentProcessId());
    const std::wstring home = std::wstring(temp) + scratch;
    app.SetSettingsPath(home + L"\\conf\\none.ini");  // no such file: every default

    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 0), &wsa);
    std::vector<SOCKET> held;
    uint16_t base = HoldPorts(kTaken, &held);
    if (base == 0) {
        std::printf("error no run of %d free ports found\n", kTaken + 1);
        return 1;
    }
    double best = 1e9;
    for (int r = 0; r < kRounds; ++r) {
        CApacheControl c(app);
        c.SetPort(base);
        double t0 = NowMs();
        int ok = c.PortCheck();
        double ms = NowMs() - t0;
        if (ok != 1 || c.Port() != static_cast<uint32_t>(base + kTaken)) {
            std::printf("error probe gave %d at port %u, expected %u\n", ok, c.Port(),
                        static_cast<unsigned>(base + kTaken));
            return 1;
        }
        if (ms < best) best = ms;
    }
    for (SOCKET s : held) ::closesocket(s);
    std::printf("probe_ms %.3f\n", best);
    std::printf("probe_ports %d\n", kTaken + 1);

    for (const wchar_t* sub : {L"", L"\\conf", L"\\conf\\extra", L"\\php"})
        ::CreateDirectoryW((home + sub).c_str(), nullptr);
    // The four lines the regeneration rewrites, among ordinary ones up to 150 KB.
    std::string tpl;
    tpl += "extension_dir = \"/nimbara/php/ext\"\r\nsession.save_path = \"/nimbara/tmp\"\r\n";
    tpl += "eaccelerator.cache_dir=\"/nimbara/tmp/eaccelerator\"\r\n";
    tpl += "zend_extension=\"/nimbara/php/ext/php_nbloader.dll\"\r\n";
    while (tpl.size() < 150 * 1024)
        tpl += "; a comment line of the kind php.ini has thousands of\r\nx = 1\r\n";
    if (!WriteFileBytes(home + L"\\php\\php.ini.ORG", tpl)) {
        std::printf("error cannot write the template\n");
        return 1;
    }
    double bestFiles = 1e9;
    for (int r = 0; r < kRounds; ++r) {
        CApacheControl c(app);
        c.SetPath(home + L"\\");
        double t0 = NowMs();
        int a = c.CreateConf();
        int b = RegeneratePhpIni(home + L"\\");
        double ms = NowMs() - t0;
        if (a != 1 || b != 1) {
            std::printf("error configuration writers gave %d %d\n", a, b);
            RemoveTree(home);
            return 1;
        }
        if (ms < bestFiles) bestFiles = ms;
    }
    // The listen file alone, as every restart writes it: best and median.
    std::vector<double> listenTimes;
    for (int r = 0; r < kRounds; ++r) {
        CApacheControl c(app);
        c.SetPath(home + L"\\");
        c.SetPort(28142);
        double t0 = NowMs();
        int ok = c.CreatePortConf();
        listenTimes.push_back(NowMs() - t0);
        if (ok != 1) {
            std::printf("error CreatePortConf gave %d\n", ok);
            RemoveTree(home);
            return 1;
        }
    }
    std::sort(listenTimes.begin(), listenTimes.end());
    bool logOk = LogBench(home);
    RemoveTree(home);
    std::printf("files_ms %.3f\n", bestFiles);
    std::printf("portconf_best_ms %.3f\n", listenTimes.front());
    std::printf("portconf_median_ms %.3f\n", listenTimes[listenTimes.size() / 2]);
    std::printf("template_bytes %u\n", static_cast<unsigned>(tpl.size()));
    return logOk ? 0 : 1;
}
