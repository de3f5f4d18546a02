// Windows' rules the program follows where Wine would let it pass, seen through the real
// calls: the error mode, the port probe's wildcard bind, the connect option against the
// stack's SYN retries, and the DLL preload's fallback for a system without the search flag.
#include <cwchar>
#include <vector>

#include "platform/win32/dll_preload.h"
#include "platform_fixture.h"
#include "wine_test.h"

#include <ws2tcpip.h>

using namespace nb;

namespace {
// A listener on the wildcard address of the family at a port the system picks; 0 when none.
uint16_t ListenWildcard(int family, nb::win::ScopedSocket& s) {
    s.Reset(::socket(family, SOCK_STREAM, 0));
    sockaddr_in6 a = {};  // zero: the wildcard address; the port sits where sockaddr_in has it
    a.sin6_family = static_cast<short>(family);
    int len = family == AF_INET ? sizeof(sockaddr_in) : sizeof a;
    if (!s || ::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(s.Get(), 5) != 0 ||
        ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return 0;
    return ::ntohs(a.sin6_port);
}

std::vector<std::wstring> g_loads;
}  // namespace

START_TEST(error_mode) {
    ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
    fx::Os().AddErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ok(::GetErrorMode() == 0x8003, "the process's mode should be 0x8003, got 0x%x\n", ::GetErrorMode());
}

START_TEST(wildcard_bind_and_connect_option) {
    nb::win::Win32Platform& os = fx::Os();
    uint16_t granted = 0;
    os.SocketsStartup(0x0002, &granted);
    for (int family : {AF_INET, AF_INET6}) {
        nb::win::ScopedSocket held;
        uint16_t port = ListenWildcard(family, held);
        if (port == 0 && family == AF_INET6) {
            skip("no IPv6 here\n");
            continue;
        }
        ok(os.WildcardBindFree(port) == 0, "family %d: a port held on the wildcard address is taken\n", family);
        nb::win::noSynRetransmissionCalls = 0;
        if (family == AF_INET) {
            nb::SocketRef s = 0;
            ok(os.TryConnect("127.0.0.1", port) == 1 && os.BeginConnect(0, WM_USER, "127.0.0.1", port, &s) == 1,
               "both connects should work, whatever the system says to the option\n");
            nb::ScopedSocketRef owned(s);
            ok(nb::win::noSynRetransmissionCalls == 2, "the option on both sockets, asked for %d times\n",
               nb::win::noSynRetransmissionCalls);
        }
        held.Reset();
        ok(os.WildcardBindFree(port) == 1, "family %d: free again once the listener is gone\n", family);
    }
    os.SocketsCleanup();
}

START_TEST(dll_preload_fallback) {
    for (const wchar_t* name : nb::win::kPreloadedDlls)
        ok(_wcsicmp(name, L"zlib1.dll") != 0, "zlib1.dll is no DLL of Windows\n");
    // A system without LOAD_LIBRARY_SEARCH_SYSTEM32: every name by its full path.
    nb::win::DllLoader old{false, [](const wchar_t*) -> HMODULE { return nullptr; },
                           [](const wchar_t* path) -> HMODULE {
                               g_loads.push_back(path);
                               return ::GetModuleHandleW(nullptr);
                           },
                           [](wchar_t* buffer, UINT chars) -> UINT {
                               std::wcsncpy(buffer, L"C:\\Windows\\system32", chars);
                               return 19;
                           }};
    const int count = static_cast<int>(sizeof nb::win::kPreloadedDlls / sizeof nb::win::kPreloadedDlls[0]);
    ok(nb::win::PreloadSystemDlls(old) == count && g_loads.front() == L"C:\\Windows\\system32\\sechost.dll",
       "every name by its path, got %d loads, the first %s\n", static_cast<int>(g_loads.size()),
       g_loads.empty() ? "none" : wt::Esc(g_loads.front()).c_str());
    nb::win::DllLoader real = nb::win::SystemDllLoader();
    ok(real.searchFlags && nb::win::PreloadSystemDlls(real) > 10, "the system folder's DLLs by the flag\n");
}

START_TEST(foreground_and_message_filter) {
    HWND w = ::CreateWindowW(L"STATIC", L"nbwine", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ok(fx::Os().AllowForegroundTo(nb::win::W(w)) == 1 && fx::Os().AllowForegroundTo(0) == 0,
       "allowed for a window's process, not for no window\n");
    UINT taskbar = ::RegisterWindowMessageW(L"TaskbarCreated");
    ok(fx::Os().AllowMessageFromBelow(nb::win::W(w), taskbar) == 1, "TaskbarCreated let through\n");
    ::DestroyWindow(w);
}
