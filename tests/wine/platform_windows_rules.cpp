// Windows' rules the program follows where Wine would let it pass, seen through the real
// calls: the error mode, the wildcard bind of the port probe, the connect option against the
// stack's retries, the foreground and message-filter calls, and the DLL preload's fallback.
#include <cwchar>
#include <vector>

#include "platform/win32/dll_preload.h"
#include "platform_fixture.h"
#include "wine_test.h"

#include <ws2tcpip.h>

namespace {
// A listener on the wildcard address (IPv4 or IPv6) at a port the system picks; 0 when none.
uint16_t ListenWildcard(int family, nb::win::ScopedSocket& s) {
    s.Reset(::socket(family, SOCK_STREAM, 0));
    sockaddr_storage a = {};
    a.ss_family = static_cast<short>(family);
    int len = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (!s || ::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(s.Get(), 5) != 0 ||
        ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ::ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&a)->sin_port
                                     : reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
}

std::vector<std::wstring> g_loads;
}  // namespace

START_TEST(error_mode) {
    ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
    UINT mode = fx::Os().AddErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ok(mode == 0x8003, "the mode given back should be 0x8003, got 0x%x\n", mode);
    ok(::GetErrorMode() == 0x8003, "the process's mode should be 0x8003, got 0x%x\n", ::GetErrorMode());
}

START_TEST(wildcard_bind) {
    nb::IPlatform& os = fx::Os();
    uint16_t granted = 0;
    os.SocketsStartup(0x0002, &granted);
    nb::win::ScopedSocket v4;
    uint16_t port = ListenWildcard(AF_INET, v4);
    ok(port != 0, "the test's wildcard listener failed, error %d\n", ::WSAGetLastError());
    ok(os.WildcardBindFree(port) == 0, "a port held on 0.0.0.0 should be taken\n");
    v4.Reset();
    ok(os.WildcardBindFree(port) == 1, "the port should be free once the listener is gone\n");
    nb::win::ScopedSocket v6;
    port = ListenWildcard(AF_INET6, v6);
    if (port == 0)
        skip("no IPv6 here (error %d)\n", ::WSAGetLastError());
    else
        ok(os.WildcardBindFree(port) == 0, "a port held on [::] should be taken\n");
    os.SocketsCleanup();
}

START_TEST(connect_without_syn_retries) {
    nb::IPlatform& os = fx::Os();
    uint16_t granted = 0;
    os.SocketsStartup(0x0002, &granted);
    nb::win::ScopedSocket held;
    uint16_t port = ListenWildcard(AF_INET, held);
    nb::win::noSynRetransmissionCalls = 0;
    ok(os.TryConnect("127.0.0.1", port) == 1, "a connection to the listener expected\n");
    nb::SocketRef s = 0;
    ok(os.BeginConnect(0, WM_USER, "127.0.0.1", port, &s) == 1, "the check's connect should begin\n");
    nb::ScopedSocketRef owned(s);
    ok(nb::win::noSynRetransmissionCalls == 2, "the option on both sockets, asked for %d times\n",
       nb::win::noSynRetransmissionCalls);
    // Where the system refuses the option (before Windows 8; Wine) nothing else changes.
    SOCKET probe = ::socket(AF_INET, SOCK_STREAM, 0);
    int r = nb::win::NoSynRetransmissions(probe);
    trace("SIO_TCP_INITIAL_RTO: %d (error %d)\n", r, r != 0 ? ::WSAGetLastError() : 0);
    ::closesocket(probe);
    held.Reset();
    DWORD t0 = ::GetTickCount();
    ok(os.TryConnect("127.0.0.1", port) == 0, "nothing listens: the connect should fail\n");
    trace("refused connect took %lu ms\n", ::GetTickCount() - t0);
    os.SocketsCleanup();
}

START_TEST(foreground_and_message_filter) {
    nb::IPlatform& os = fx::Os();
    HWND w = ::CreateWindowW(L"STATIC", L"nbwine", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ok(os.AllowForegroundTo(nb::win::W(w)) == 1, "this process's window: allowed, error %lu\n", ::GetLastError());
    ok(os.AllowForegroundTo(0) == 0, "no window: nothing to allow\n");
    UINT taskbar = ::RegisterWindowMessageW(L"TaskbarCreated");
    ok(os.AllowMessageFromBelow(nb::win::W(w), taskbar) == 1, "TaskbarCreated let through, error %lu\n",
       ::GetLastError());
    ::DestroyWindow(w);
}

START_TEST(dll_preload_fallback) {
    for (const wchar_t* name : nb::win::kPreloadedDlls)
        ok(_wcsicmp(name, L"zlib1.dll") != 0, "zlib1.dll is no DLL of Windows\n");
    // A system without LOAD_LIBRARY_SEARCH_SYSTEM32: every name by its full path.
    nb::win::DllLoader old;
    old.searchFlags = false;
    old.loadFromSystemFolder = [](const wchar_t* name) -> HMODULE {
        g_loads.push_back(std::wstring(L"flag ") + name);
        return nullptr;
    };
    old.loadByPath = [](const wchar_t* path) -> HMODULE {
        g_loads.push_back(path);
        return ::GetModuleHandleW(nullptr);
    };
    old.systemFolder = [](wchar_t* buffer, UINT chars) -> UINT {
        std::wcsncpy(buffer, L"C:\\Windows\\system32", chars);
        return 19;
    };
    const int count = static_cast<int>(sizeof nb::win::kPreloadedDlls / sizeof nb::win::kPreloadedDlls[0]);
    ok(nb::win::PreloadSystemDlls(old) == count, "all loaded by path, %d loads\n", static_cast<int>(g_loads.size()));
    ok(g_loads.size() == static_cast<std::size_t>(count) &&
           g_loads.front() == L"C:\\Windows\\system32\\sechost.dll" &&
           g_loads.back() == L"C:\\Windows\\system32\\msimg32.dll",
       "full paths in the system folder, got %s .. %s\n", wt::Esc(g_loads.front()).c_str(),
       wt::Esc(g_loads.back()).c_str());
    g_loads.clear();
    old.systemFolder = [](wchar_t*, UINT) -> UINT { return 0; };
    ok(nb::win::PreloadSystemDlls(old) == 0 && g_loads.empty(), "no system folder, no loads\n");
    // The real system: the flag is understood here, and the list loads.
    nb::win::DllLoader real = nb::win::SystemDllLoader();
    ok(real.searchFlags, "SetDefaultDllDirectories expected\n");
    ok(nb::win::PreloadSystemDlls(real) > 10, "the system's DLLs should load\n");
}
