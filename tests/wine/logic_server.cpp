// The server controller on the real system: the probe skips a port another program holds,
// Start launches the stand-in server hidden from a laid-out installation (also one whose
// path has a blank, passed unquoted) and the page answers, and TerminateHttpd ends exactly
// the processes named httpd.exe.
#include <cwchar>

#include "app/nbmonitor_app.h"
#include "platform_fixture.h"
#include "server/apache_control.h"
#include "wine_test.h"

using namespace nb;

namespace {

CnbmonitorApp& App() {
    static CnbmonitorApp app;
    static bool once = (app.SetSettingsPath(fx::ScratchDir() + L"\\no-settings.ini"), true);
    (void)once;
    return app;
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

std::wstring TestFolder() {
    std::wstring self = fx::SelfPath();
    return self.substr(0, self.rfind(L'\\'));
}

// The stand-in web server built beside the tests.
std::wstring StandIn() { return TestFolder() + L"\\..\\..\\tools\\bin\\httpd.exe"; }

// home\bin\httpd.exe (the stand-in), home\conf\extra\, home\htdocs\index.php.
std::wstring LayOut(const wchar_t* name) {
    std::wstring home = fx::NewFolder(name);
    for (const wchar_t* sub : {L"\\bin", L"\\conf", L"\\conf\\extra", L"\\htdocs"})
        ::CreateDirectoryW((home + sub).c_str(), nullptr);
    ::CopyFileW(StandIn().c_str(), (home + L"\\bin\\httpd.exe").c_str(), FALSE);
    fx::WriteBytes(home + L"\\htdocs\\index.php", "<?php echo 'nimbara'; ?>\n");
    return home + L"\\";
}

// A plain HTTP GET through Winsock; the body of the answer, or "" on failure.
std::string Get(uint16_t port, const char* path) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    a.sin_port = ::htons(port);
    std::string answer;
    DWORD timeout = 5000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        std::string req = std::string("GET ") + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
        ::send(s, req.data(), int(req.size()), 0);
        char buf[4096];
        int n;
        while ((n = ::recv(s, buf, sizeof buf, 0)) > 0) answer.append(buf, n);
    }
    ::closesocket(s);
    std::size_t body = answer.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : answer.substr(body + 4);
}

bool WaitForPort(uint16_t port, DWORD ms) {
    DWORD end = ::GetTickCount() + ms;
    while (LONG(end - ::GetTickCount()) > 0) {
        if (fx::Os().TryConnect("127.0.0.1", port)) return true;
        ::Sleep(50);
    }
    return false;
}

bool Exited(nb::ProcessRef p, DWORD ms) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(p), ms) == WAIT_OBJECT_0;
}

}  // namespace

START_TEST(probe_skips_a_held_port) {
    fx::Os();
    App();
    uint16_t granted = 0;
    fx::Os().SocketsStartup(0x0002, &granted);
    SOCKET held = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    int len = sizeof a;
    bool listening = ::bind(held, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                     ::listen(held, 5) == 0 &&
                     ::getsockname(held, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    ok(listening, "the test's listener failed, error %d\n", ::WSAGetLastError());
    if (!listening) return;
    uint16_t port = ::ntohs(a.sin_port);

    CApacheControl c(App());
    c.SetPort(port);
    ok(c.PortCheck() == 1, "a free port after %u expected\n", port);
    ok(c.Port() == port + 1u, "port %u expected, got %u\n", port + 1u, c.Port());
    ::closesocket(held);
}

START_TEST(start_serves_the_page_from_a_laid_out_home) {
    fx::Os();
    App();
    if (::GetFileAttributesW(StandIn().c_str()) == INVALID_FILE_ATTRIBUTES) {
        skip("the stand-in server is not built\n");
        return;
    }
    for (const wchar_t* name : {L"home", L"my home"}) {
        std::wstring home = LayOut(name);
        CApacheControl c(App());
        c.SetPath(home);
        c.SetPort(27342);
        ok(c.Start() == 1, "%s: Start should launch the server\n", wt::Esc(name).c_str());
        // The command line is the path itself, in quotes when it holds a blank.
        std::wstring exe = home + L"\\bin\\httpd.exe";
        if (home.find(L' ') != std::wstring::npos) exe = L"\"" + exe + L"\"";
        ok(c.ServerCommandLine() == exe, "%s: command line %s\n",
           wt::Esc(name).c_str(), wt::Esc(c.ServerCommandLine()).c_str());
        uint16_t port = static_cast<uint16_t>(c.Port());
        std::string listen = fx::ReadBytes(home + L"\\conf\\extra\\httpd-port.conf");
        ok(listen == "Listen 127.0.0.1:" + std::to_string(port) + "\r\n", "listen file: %s\n",
           listen.c_str());
        ok(WaitForPort(port, 15000), "%s: the server should accept on %u\n", wt::Esc(name).c_str(), port);
        std::string page = Get(port, "/index.php");
        ok(page.find("nimbara") != std::string::npos, "%s: the page expected, got [%s]\n",
           wt::Esc(name).c_str(), page.c_str());
        uint32_t code = 0;
        ok(fx::Os().QueryExitCode(c.Process(), &code) && code == STILL_ACTIVE,
           "the server should run, exit code %u\n", code);
        c.TerminateHttpd();
        ok(Exited(c.Process(), 15000), "TerminateHttpd should end the server\n");
    }
}

START_TEST(terminate_matches_the_exact_name) {
    nb::win::Win32Platform& os = fx::Os();
    App();
    // Two copies named httpd.exe, and two names that only look like it.
    const wchar_t* names[] = {L"a\\httpd.exe", L"b\\httpd.exe", L"c\\HTTPD.EXE", L"d\\httpd2.exe"};
    nb::ProcessRef procs[4] = {};
    for (int i = 0; i < 4; ++i) {
        std::wstring dir = fx::NewFolder(std::wstring(names[i], 1).c_str());
        std::wstring exe = dir + (names[i] + 1);
        ::CopyFileW(fx::SelfPath().c_str(), exe.c_str(), FALSE);
        std::wstring cmd = Quoted(exe) + L" --child wait";
        uint32_t pid = 0;
        ok(os.CreateHiddenProcess(cmd, L"", &procs[i], &pid) == 1, "%s should start\n",
           wt::Esc(names[i]).c_str());
    }
    ::Sleep(500);  // let each appear in the process list under its name
    CProcessControl pc;
    pc.TerminateHttpd();
    ok(Exited(procs[0], 15000) && Exited(procs[1], 15000), "both httpd.exe should end\n");
    ok(!Exited(procs[2], 500), "HTTPD.EXE should be left alone\n");
    ok(!Exited(procs[3], 0), "httpd2.exe should be left alone\n");
    for (nb::ProcessRef p : procs) {
        ::TerminateProcess(reinterpret_cast<HANDLE>(p), 0);
        os.CloseProcess(p);
    }
}

START_TEST(execute_runs_hidden_from_the_driveless_program_folder) {
    nb::win::Win32Platform& os = fx::Os();
    (void)os;
    std::wstring folder = TestFolder();
    std::wstring driveless = folder.substr(2);  // "\..." without "C:"
    CProcessControl pc;
    ok(pc.Execute(Quoted(fx::SelfPath()) + L" --child cwd " + Quoted(folder)) == 1, "child expected\n");
    ok(Exited(pc.Process(), 30000), "the child should end\n");
    uint32_t code = 0;
    fx::Os().QueryExitCode(pc.Process(), &code);
    ok(code == 20, "the child's folder should be %s (20), got %u\n", wt::Esc(driveless).c_str(), code);

    ok(pc.Execute(Quoted(fx::SelfPath()) + L" --child hidden") == 1, "child expected\n");
    ok(Exited(pc.Process(), 30000), "the child should end\n");
    fx::Os().QueryExitCode(pc.Process(), &code);
    ok(code == 10, "the child should start hidden (10), got %u\n", code);
}
