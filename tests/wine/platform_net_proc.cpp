// Sockets against a listener the test holds, and processes: the test program re-launched as
// its own child, also under the names httpd.exe and HTTPD.EXE.
#include <cwchar>

#include "platform_fixture.h"
#include "wine_test.h"

namespace {

// A listening socket on 127.0.0.1 at a port the system picks.
struct Listener {
    SOCKET s = INVALID_SOCKET;
    uint16_t port = 0;
    Listener() {
        s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
        a.sin_port = 0;
        int len = sizeof a;
        if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(s, 5) != 0 || ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port = ::ntohs(a.sin_port);
    }
    ~Listener() { Close(); }
    void Close() {
        if (s != INVALID_SOCKET) ::closesocket(s);
        s = INVALID_SOCKET;
    }
};

const char* ProbeName(nb::ProbeResult r) {
    switch (r) {
    case nb::ProbeResult::NoSocket: return "NoSocket";
    case nb::ProbeResult::BindFailed: return "BindFailed";
    case nb::ProbeResult::ListenFailed: return "ListenFailed";
    case nb::ProbeResult::Listening: return "Listening";
    }
    return "?";
}

}  // namespace

START_TEST(sockets) {
    nb::win::Win32Platform& os = fx::Os();
    uint16_t granted = 0;
    os.SocketsStartup(0x0002, &granted);
    Listener held;
    ok(held.port != 0, "the test's own listener failed, error %d\n", ::WSAGetLastError());
    if (held.port == 0) return;

    nb::ProbeResult r = os.ProbeListen("127.0.0.1", held.port, 5);
    ok(r == nb::ProbeResult::BindFailed, "a port in use should fail to bind, got %s\n",
       ProbeName(r));
    ok(os.TryConnect("127.0.0.1", held.port) == 1, "a connection to the listener expected\n");

    uint16_t port = held.port;
    held.Close();
    r = os.ProbeListen("127.0.0.1", port, 5);
    ok(r == nb::ProbeResult::Listening, "a free port should listen, got %s\n", ProbeName(r));
    // The probe closed its socket: the port is free again at once.
    r = os.ProbeListen("127.0.0.1", port, 5);
    ok(r == nb::ProbeResult::Listening, "the probe should release the port, got %s\n",
       ProbeName(r));
    ok(os.TryConnect("127.0.0.1", port) == 0, "nothing listens after the probe\n");

    r = os.ProbeListen("0.0.0.0", port, 5);
    ok(r == nb::ProbeResult::Listening, "all interfaces should listen, got %s\n", ProbeName(r));
    // inet_addr gives INADDR_NONE for a name, which no socket can be bound to.
    r = os.ProbeListen("localhost", port, 5);
    if (r == nb::ProbeResult::Listening && wt::OnWine())
        skip("Wine on Linux binds a TCP socket to 255.255.255.255; Windows refuses it\n");
    else
        ok(r == nb::ProbeResult::BindFailed, "a host name should fail to bind, got %s\n",
           ProbeName(r));
    os.SocketsCleanup();
}

namespace {

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

DWORD WaitExit(nb::ProcessRef p, DWORD ms) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(p), ms);
}

bool InSnapshot(uint32_t pid, std::wstring* name) {
    std::vector<nb::ProcessEntry> all;
    if (!fx::Os().SnapshotProcesses(all)) return false;
    for (const nb::ProcessEntry& e : all)
        if (e.pid == pid) {
            *name = e.exeName;
            return true;
        }
    return false;
}

}  // namespace

START_TEST(process_exit_code) {
    nb::win::Win32Platform& os = fx::Os();
    std::wstring cmd = Quoted(fx::SelfPath()) + L" --child exit 7";
    const std::wstring original = cmd;
    nb::ProcessRef p = 0;
    uint32_t pid = 0;
    ok(os.CreateHiddenProcess(cmd, L"", &p, &pid) == 1, "the child should start, error %lu\n",
       ::GetLastError());
    if (p == 0) return;
    ok(pid != 0 && ::GetProcessId(reinterpret_cast<HANDLE>(p)) == pid,
       "the id should be the process's, got %u\n", pid);
    ok(cmd == original, "the command line should come back unchanged, got %s\n",
       wt::Esc(cmd).c_str());
    ok(WaitExit(p, 30000) == WAIT_OBJECT_0, "the child should end\n");
    uint32_t code = 0;
    ok(os.QueryExitCode(p, &code) == 1 && code == 7, "exit code 7 expected, got %u\n", code);
    os.CloseProcess(p);

    code = 12345;
    ok(os.QueryExitCode(0, &code) == 0 && code == 12345,
       "no handle: failure and the code untouched expected, got %u\n", code);
}

START_TEST(process_hidden_and_folder) {
    nb::win::Win32Platform& os = fx::Os();
    std::wstring cmd = Quoted(fx::SelfPath()) + L" --child hidden";
    nb::ProcessRef p = 0;
    uint32_t pid = 0, code = 0;
    if (os.CreateHiddenProcess(cmd, L"", &p, &pid) && WaitExit(p, 30000) == WAIT_OBJECT_0)
        os.QueryExitCode(p, &code);
    ok(code == 10, "the child should be told to hide its window (10), got %u\n", code);
    os.CloseProcess(p);

    // The program hands its folder without the drive; the system takes the current drive.
    std::wstring dir = fx::NewFolder(L"cwd");
    std::wstring driveless = dir.substr(2) + L"\\";
    cmd = Quoted(fx::SelfPath()) + L" --child cwd " + Quoted(dir);
    p = 0;
    code = 0;
    wchar_t here[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, here);
    bool sameDrive = ::towupper(here[0]) == ::towupper(dir[0]);
    if (os.CreateHiddenProcess(cmd, sameDrive ? driveless : dir, &p, &pid) &&
        WaitExit(p, 30000) == WAIT_OBJECT_0)
        os.QueryExitCode(p, &code);
    ok(code == 20, "the child should run in %s (20), got %u\n",
       wt::Esc(sameDrive ? driveless : dir).c_str(), code);
    os.CloseProcess(p);
}

START_TEST(process_output_through_a_pipe) {
    nb::win::Win32Platform& os = fx::Os();
    // An inheritable handle of this process that is not the pipe: the child must not get it.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE other = ::CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    std::wstring cmd = Quoted(fx::SelfPath()) + L" --child say " +
                       std::to_wstring(reinterpret_cast<uintptr_t>(other));
    nb::OutputRun run;
    ok(os.RunForOutput(cmd, L"", 30000, 1024, &run) == 1, "the child should start, error %lu\n", ::GetLastError());
    ok(run.output == "to stdout\r\nto stderr\r\n", "both streams in order expected, got %s\n", run.output.c_str());
    ok(run.exitCode == 40 && !run.ended, "only the pipe should be inherited (40), got %u ended %d\n", run.exitCode,
       run.ended);
    ::CloseHandle(other);
    ok(os.RunForOutput(cmd, L"", 30000, 4, &run) == 1 && run.output == "to s", "output cut to 4 bytes, got %s\n",
       run.output.c_str());

    cmd = Quoted(fx::SelfPath()) + L" --child wait";
    const ULONGLONG began = ::GetTickCount64();
    ok(os.RunForOutput(cmd, L"", 300, 1024, &run) == 1 && run.ended, "a child past its bound should be ended\n");
    ok(::GetTickCount64() - began < 10000, "the bound should hold, took %llu ms\n", ::GetTickCount64() - began);
}

START_TEST(process_failure_leaves_outputs) {
    nb::win::Win32Platform& os = fx::Os();
    std::wstring cmd = L"C:\\nimbara\\\\bin\\no-such-httpd.exe";
    nb::ProcessRef p = 0xDEAD;
    uint32_t pid = 0xBEEF;
    ok(os.CreateHiddenProcess(cmd, L"", &p, &pid) == 0, "a missing program should fail\n");
    ok(p == 0xDEAD && pid == 0xBEEF, "outputs should be untouched, got %#lx %#x\n",
       static_cast<unsigned long>(p), pid);
    ok(os.TerminateProcessById(0xFFFFFFF0u, 0) == 0, "no such process: failure expected\n");
}

START_TEST(process_snapshot_and_terminate) {
    nb::win::Win32Platform& os = fx::Os();
    // Two copies of this program, named as the server and as its upper-case variant: the
    // snapshot must give each its name as on disk, since termination matches it exactly.
    std::wstring lower = fx::NewFolder(L"lower") + L"\\httpd.exe";
    std::wstring upper = fx::NewFolder(L"upper") + L"\\HTTPD.EXE";
    ok(::CopyFileW(fx::SelfPath().c_str(), lower.c_str(), FALSE) &&
           ::CopyFileW(fx::SelfPath().c_str(), upper.c_str(), FALSE),
       "copies of the test program expected, error %lu\n", ::GetLastError());

    nb::ProcessRef pl = 0, pu = 0;
    uint32_t idl = 0, idu = 0;
    std::wstring cmdl = Quoted(lower) + L" --child wait";
    std::wstring cmdu = Quoted(upper) + L" --child wait";
    ok(os.CreateHiddenProcess(cmdl, L"", &pl, &idl) == 1, "httpd.exe should start\n");
    ok(os.CreateHiddenProcess(cmdu, L"", &pu, &idu) == 1, "HTTPD.EXE should start\n");
    if (pl == 0 || pu == 0) return;

    uint32_t code = 0;
    ok(os.QueryExitCode(pl, &code) == 1 && code == STILL_ACTIVE,
       "a running child should read STILL_ACTIVE, got %u\n", code);

    std::wstring name;
    ok(InSnapshot(idl, &name) && name == L"httpd.exe", "httpd.exe expected in the snapshot, got %s\n",
       wt::Esc(name).c_str());
    name.clear();
    ok(InSnapshot(idu, &name) && name == L"HTTPD.EXE", "HTTPD.EXE expected in the snapshot, got %s\n",
       wt::Esc(name).c_str());
    name.clear();
    ok(InSnapshot(::GetCurrentProcessId(), &name) && name == L"nbwine_platform.exe",
       "this program expected in the snapshot, got %s\n", wt::Esc(name).c_str());

    ok(os.TerminateProcessById(idl, 0) == 1, "httpd.exe should be terminated\n");
    ok(WaitExit(pl, 30000) == WAIT_OBJECT_0, "httpd.exe should end\n");
    ok(os.QueryExitCode(pl, &code) == 1 && code == 0, "exit code 0 expected, got %u\n", code);
    ok(os.QueryExitCode(pu, &code) == 1 && code == STILL_ACTIVE,
       "HTTPD.EXE should still run, got %u\n", code);
    ok(os.TerminateProcessById(idu, 42) == 1, "HTTPD.EXE should be terminated\n");
    ok(WaitExit(pu, 30000) == WAIT_OBJECT_0, "HTTPD.EXE should end\n");
    ok(os.QueryExitCode(pu, &code) == 1 && code == 42, "exit code 42 expected, got %u\n", code);
    ok(!InSnapshot(idl, &name) || name != L"httpd.exe", "httpd.exe should be gone\n");
    os.CloseProcess(pl);
    os.CloseProcess(pu);
}

START_TEST(process_graceful_stop_operations) {
    nb::win::Win32Platform& os = fx::Os();
    nb::ProcessRef p1 = 0, p2 = 0;
    uint32_t id1 = 0, id2 = 0;
    std::wstring cmd1 = Quoted(fx::SelfPath()) + L" --child wait";
    std::wstring cmd2 = cmd1;
    ok(os.CreateHiddenProcess(cmd1, L"", &p1, &id1) == 1 && os.CreateHiddenProcess(cmd2, L"", &p2, &id2) == 1,
       "two children should start\n");
    if (p1 == 0 || p2 == 0) return;

    // The shutdown event of the first child (made here; any process of the session may).
    std::wstring name = L"ap" + std::to_wstring(id1) + L"_shutdown";
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    ok(os.SetNamedEvent(name) == 1, "the existing event should be set\n");
    ok(::WaitForSingleObject(event, 0) == WAIT_OBJECT_0, "the event should be signalled\n");
    std::wstring none = L"ap" + std::to_wstring(id2) + L"_shutdown";
    ok(os.SetNamedEvent(none) == 0, "a missing event should not be made\n");
    HANDLE made = ::OpenEventW(SYNCHRONIZE, FALSE, none.c_str());
    ok(made == nullptr, "the missing event exists now\n");
    if (made != nullptr) ::CloseHandle(made);
    ::CloseHandle(event);

    std::vector<nb::ProcessEntry> all;
    os.SnapshotProcesses(all);
    uint32_t parent = 0;
    for (const nb::ProcessEntry& e : all)
        if (e.pid == id1) parent = e.parentPid;
    ok(parent == ::GetCurrentProcessId(), "the child's parent should be this program, got %u\n", parent);

    // The stop asks a server's image path to tell this home's servers from others.
    std::wstring image;
    ok(os.ProcessImagePath(id1, image) == 1 && _wcsicmp(image.c_str(), fx::SelfPath().c_str()) == 0,
       "the child's image should be this program, got %s\n", wt::Esc(image).c_str());

    nb::ProcessRef w1 = os.OpenProcessToWait(id1), w2 = os.OpenProcessToWait(id2);
    ok(w1 != 0 && w2 != 0, "wait handles expected, error %lu\n", ::GetLastError());
    int i = os.WaitAnyProcessEnd({w1, w2}, 100);
    ok(i == -1, "both still run: -1 expected, got %d\n", i);
    os.TerminateProcessById(id2, 0);
    i = os.WaitAnyProcessEnd({w1, w2}, 10000);
    ok(i == 1, "the second one ended: 1 expected, got %d\n", i);
    os.TerminateProcessById(id1, 0);
    ok(WaitExit(p1, 30000) == WAIT_OBJECT_0, "the first child should end\n");
    bool gone = false;
    ok(os.OpenProcessToWait(0xFFFFFFF0u, &gone) == 0 && gone, "no such process: 0 and gone expected\n");
    for (nb::ProcessRef p : {w1, w2, p1, p2}) os.CloseProcess(p);
}

START_TEST(dll_search_restricted_to_the_system) {
    // A DLL planted beside the program (the test program here, in a child of its own) is
    // found by name until the search is restricted, and no longer after.
    std::wstring self = fx::SelfPath();
    std::wstring folder = self.substr(0, self.rfind(L'\\') + 1);
    std::wstring marker = folder + L"..\\e2e\\nbmarker.dll";
    if (!::CopyFileW(marker.c_str(), (folder + L"nbplanted.dll").c_str(), FALSE)) {
        skip("no marker DLL at %s (build nbmarker_dll)\n", wt::Esc(marker).c_str());
        return;
    }
    std::wstring cmd = Quoted(self) + L" --child dll nbplanted.dll";
    nb::ProcessRef p = 0;
    uint32_t pid = 0, code = 0;
    if (fx::Os().CreateHiddenProcess(cmd, L"", &p, &pid) && WaitExit(p, 30000) == WAIT_OBJECT_0)
        fx::Os().QueryExitCode(p, &code);
    fx::Os().CloseProcess(p);
    ok(code == 30, "found before and not after the restriction (30) expected, got %u\n", code);
    ::DeleteFileW((folder + L"nbplanted.dll").c_str());
    ::DeleteFileW((folder + L"nbplanted.dll.loaded").c_str());
}
