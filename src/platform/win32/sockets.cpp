// Windows Sockets: the port probe, connection attempts, the health check's asynchronous
// connection.
#include "platform/win32/windows_support.h"

#include "platform/win32/win32_platform.h"
#include "platform/win32/window_handles.h"

#include <mstcpip.h>
#include <ws2tcpip.h>

namespace nb {
namespace win {

int Win32Sockets::SocketsStartup(uint16_t version, uint16_t* granted) {
    WSADATA wsa;
    if (::WSAStartup(version, &wsa) != 0) return 0;
    if (granted != nullptr) *granted = wsa.wVersion;
    return 1;
}

void Win32Sockets::SocketsCleanup() { ::WSACleanup(); }

namespace {
sockaddr_in Ipv4Address(const char* address, uint16_t port) {
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = ::inet_addr(address);
    addr.sin_port = ::htons(port);
    return addr;
}
}  // namespace

ProbeResult Win32Sockets::ProbeListen(const std::string& ansiAddress, uint16_t port, int backlog) {
    ScopedSocket s(::socket(AF_INET, SOCK_STREAM, 0));
    if (!s) return ProbeResult::NoSocket;
    sockaddr_in addr = Ipv4Address(ansiAddress.c_str(), port);
    if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR)
        return ProbeResult::BindFailed;
    if (::listen(s.Get(), backlog) == SOCKET_ERROR) return ProbeResult::ListenFailed;
    return ProbeResult::Listening;
}

// Windows lets a bind to a specific address share the port with a listener on the wildcard
// address that did not ask for exclusive use; Linux, and so Wine, refuses it. Microsoft's
// table of bind outcomes ("Using SO_REUSEADDR and SO_EXCLUSIVEADDRUSE" in the Winsock
// documentation) gives a second bind on the wildcard address without options INUSE after any
// wildcard bind, whatever options that one had. SO_EXCLUSIVEADDRUSE on the specific probe
// was not chosen: such a bind also fails while connections of the port linger in TIME_WAIT,
// which the previous server leaves behind, and a restart would then move the port.
int Win32Sockets::WildcardBindFree(uint16_t port) {
    {
        ScopedSocket s(::socket(AF_INET, SOCK_STREAM, 0));
        if (!s) return 0;
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = ::htonl(INADDR_ANY);
        addr.sin_port = ::htons(port);
        if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR)
            return 0;
    }
    // A listener on [::] only: localhost may resolve to ::1 first. No IPv6, nothing to find.
    ScopedSocket s6(::socket(AF_INET6, SOCK_STREAM, 0));
    if (!s6) return 1;
    sockaddr_in6 addr6 = {};
    addr6.sin6_family = AF_INET6;
    addr6.sin6_port = ::htons(port);
    return ::bind(s6.Get(), reinterpret_cast<sockaddr*>(&addr6), sizeof addr6) == SOCKET_ERROR ? 0
                                                                                               : 1;
}

#ifdef NB_TEST_HOOKS
int noSynRetransmissionCalls = 0;
#endif

int NoSynRetransmissions(std::uintptr_t socket) {
#ifdef NB_TEST_HOOKS
    ++noSynRetransmissionCalls;
#endif
    TCP_INITIAL_RTO_PARAMETERS rto = {TCP_INITIAL_RTO_UNSPECIFIED_RTT,
                                      TCP_INITIAL_RTO_NO_SYN_RETRANSMISSIONS};
    DWORD got = 0;
    return ::WSAIoctl(static_cast<SOCKET>(socket), SIO_TCP_INITIAL_RTO, &rto, sizeof rto, nullptr,
                      0, &got, nullptr, nullptr);
}

int Win32Sockets::TryConnect(const char* ipv4Address, uint16_t port) {
    ScopedSocket s(::socket(AF_INET, SOCK_STREAM, 0));
    if (!s) return 0;
    NoSynRetransmissions(s.Get());
    sockaddr_in addr = Ipv4Address(ipv4Address, port);
    return ::connect(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 1 : 0;
}

int Win32Sockets::BeginConnect(WindowId hwnd, uint32_t msg, const char* ipv4Address, uint16_t port,
                               SocketRef* socket) {
    ScopedSocket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s) return 0;
    NoSynRetransmissions(s.Get());
    // WSAAsyncSelect also makes the socket non-blocking, so connect returns at once.
    if (::WSAAsyncSelect(s.Get(), H(hwnd), msg, FD_CONNECT | FD_READ | FD_CLOSE) == SOCKET_ERROR)
        return 0;
    sockaddr_in addr = Ipv4Address(ipv4Address, port);
    if (::connect(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR &&
        ::WSAGetLastError() != WSAEWOULDBLOCK)
        return 0;
    *socket = static_cast<SocketRef>(s.Release());
    return 1;
}

int Win32Sockets::SocketSend(SocketRef socket, const std::string& bytes) {
    int n = ::send(static_cast<SOCKET>(socket), bytes.data(), static_cast<int>(bytes.size()), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int Win32Sockets::SocketReceive(SocketRef socket, std::string& bytes, std::size_t maxBytes) {
    char buffer[512];
    int want = static_cast<int>(maxBytes < sizeof buffer ? maxBytes : sizeof buffer);
    int n = ::recv(static_cast<SOCKET>(socket), buffer, want, 0);
    if (n == SOCKET_ERROR) return -1;
    bytes.append(buffer, static_cast<std::size_t>(n));
    return n;
}

void Win32Sockets::CloseSocket(SocketRef socket) { ::closesocket(static_cast<SOCKET>(socket)); }

}  // namespace win
}  // namespace nb
