// Port-probe speed past a run of taken ports, and the time to write the server
// configuration and php.ini from a 150 KB template, on this machine's own sockets and files.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/nbmonitor_app.h"
#include "fake_platform.h"
#include "server/apache_control.h"
#include "server/php_ini.h"

using namespace nb;

namespace {

// Real sockets and files behind the fake's bookkeeping.
class PosixPlatform : public FakePlatform {
public:
    nb::ProbeResult ProbeListen(const std::string& address, uint16_t port, int backlog) override {
        int s = ::socket(AF_INET, SOCK_STREAM, 0);
        if (s < 0) return nb::ProbeResult::NoSocket;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = ::inet_addr(address.c_str());
        a.sin_port = htons(port);
        nb::ProbeResult r = nb::ProbeResult::BindFailed;
        if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            r = ::listen(s, backlog) == 0 ? nb::ProbeResult::Listening : nb::ProbeResult::ListenFailed;
        ::close(s);
        return r;
    }
    int ReadWholeFile(const std::wstring& path, std::string& bytes) override {
        FILE* f = std::fopen(Native(path).c_str(), "rb");
        if (!f) return 0;
        std::string out;
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
        bytes.swap(out);
        return 1;
    }
    int ReplaceFileContent(const std::wstring& path, const std::string& bytes,
                           nb::WriteError*) override {
        std::string target = Native(path), temp = target + ".tmp";
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0) return 0;
        bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        ok = ::fsync(fd) == 0 && ok;
        ::close(fd);
        if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
            ::unlink(temp.c_str());
            return 0;
        }
        return 1;
    }
    static std::string Native(const std::wstring& w) {
        std::string s;
        for (wchar_t c : w) s += c == L'\\' ? '/' : static_cast<char>(c);
        return s;
    }
};

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Holds `count` consecutive listening ports; returns the first, 0 when no run was free.
uint16_t HoldPorts(int count, std::vector<int>* sockets) {
    for (uint16_t base = 41000; base < 60000; base += 500) {
        std::vector<int> held;
        for (int i = 0; i <= count; ++i) {
            int s = ::socket(AF_INET, SOCK_STREAM, 0);
            int one = 1;
            ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<uint16_t>(base + i));
            bool ok = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(s, 1) == 0;
            if (i == count) {  // the port after the run must be free
                ::close(s);
                if (ok) {
                    *sockets = held;
                    return base;
                }
                break;
            }
            if (!ok) {
                ::close(s);
                break;
            }
            held.push_back(s);
        }
        for (int s : held) ::close(s);
    }
    return 0;
}

}  // namespace

int main() {
    PosixPlatform os;
    CnbmonitorApp app;
    app.SetSettingsPath(L"/nonexistent/nbmonitor.ini");

    const int kTaken = 200, kRounds = 20;
    std::vector<int> held;
    uint16_t base = HoldPorts(kTaken, &held);
    if (base == 0) {
        std::printf("port probe: no run of %d free ports found\n", kTaken);
        return 1;
    }
    double best = 1e9;
    for (int r = 0; r < kRounds; ++r) {
        CApacheControl c(app);
        c.SetPort(base);
        auto t0 = Clock::now();
        int ok = c.PortCheck();
        double ms = Ms(Clock::now() - t0);
        if (ok != 1 || c.Port() != static_cast<uint32_t>(base + kTaken)) {
            std::printf("port probe: wrong result %d at %u\n", ok, c.Port());
            return 1;
        }
        if (ms < best) best = ms;
    }
    for (int s : held) ::close(s);
    std::printf("%-44s %10.3f ms  (%.0f ports/s)\n", "port probe past 200 taken ports (native)",
                best, (kTaken + 1) / (best / 1000.0));

    // 150 KB template with the four path lines among ordinary ones.
    char dirTemplate[] = "/tmp/nbbench.XXXXXX";
    std::string dir = ::mkdtemp(dirTemplate);
    for (const char* sub : {"/conf", "/conf/extra", "/php"}) ::mkdir((dir + sub).c_str(), 0755);
    std::string tpl;
    tpl += "extension_dir = \"/nimbara/php/ext\"\r\nsession.save_path = \"/nimbara/tmp\"\r\n";
    tpl += "eaccelerator.cache_dir=\"/nimbara/tmp/eaccelerator\"\r\n";
    tpl += "zend_extension=\"/nimbara/php/ext/php_nbloader.dll\"\r\n";
    while (tpl.size() < 150 * 1024) tpl += "; a comment line of the kind php.ini has thousands of\r\nx = 1\r\n";
    FILE* f = std::fopen((dir + "/php/php.ini.ORG").c_str(), "wb");
    std::fwrite(tpl.data(), 1, tpl.size(), f);
    std::fclose(f);

    std::wstring home(dir.begin(), dir.end());
    home += L"/";
    double bestFiles = 1e9;
    for (int r = 0; r < kRounds; ++r) {
        CApacheControl c(app);
        c.SetPath(home);
        auto t0 = Clock::now();
        int a = c.CreateConf();
        int b = RegeneratePhpIni(home);
        double ms = Ms(Clock::now() - t0);
        if (a != 1 || b != 1) {
            std::printf("configuration writers failed: %d %d\n", a, b);
            return 1;
        }
        if (ms < bestFiles) bestFiles = ms;
    }
    std::printf("%-44s %10.3f ms  (template %zu bytes)\n", "CreateConf + php.ini, 150 KB (native)",
                bestFiles, tpl.size());
    std::string cleanup = "rm -rf '" + dir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
