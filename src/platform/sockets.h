// Windows Sockets: the port probe, connection attempts and the health check's connection.
// Part of the door between the logic and the system (platform.h); the logic calls these
// through Sockets(), which the entry point or a test has installed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/handles.h"
#include "platform/scoped_handle.h"

namespace nb {

// Outcome of opening a listening socket on one port (socket, bind, listen, close).
enum class ProbeResult { NoSocket, BindFailed, ListenFailed, Listening };

class ISockets {
public:
    // WSAStartup; *granted receives the version the library offers. 0 when the call fails.
    virtual int SocketsStartup(uint16_t version, uint16_t* granted) = 0;
    virtual void SocketsCleanup() = 0;
    virtual ProbeResult ProbeListen(const std::string& ansiAddress, uint16_t port, int backlog) = 0;
    // Binds a fresh socket without options to the port on the wildcard address (0.0.0.0, and
    // :: where the system has IPv6) and closes it: 1 when every bind succeeds, 0 when one is
    // refused (someone listens there on every address).
    virtual int WildcardBindFree(uint16_t port) = 0;
    // One TCP connection attempt on a fresh socket, closed again at once.
    virtual int TryConnect(const char* ipv4Address, uint16_t port) = 0;
    // A TCP connection begun without waiting: a non-blocking socket whose connect, read and
    // close events arrive at hwnd as message msg (WSAAsyncSelect: wParam the socket, the low
    // word of lParam the event FD_*, its high word the error). The caller owns *socket
    // (ScopedSocketRef). 0 when the attempt could not even begin.
    virtual int BeginConnect(WindowId hwnd, uint32_t msg, const char* ipv4Address, uint16_t port,
                             SocketRef* socket) = 0;
    // Bytes sent (possibly fewer than given), -1 on failure.
    virtual int SocketSend(SocketRef socket, const std::string& bytes) = 0;
    // Appends what has arrived, at most maxBytes; returns their number, 0 when the peer has
    // closed, -1 when nothing is there now or the connection failed.
    virtual int SocketReceive(SocketRef socket, std::string& bytes, std::size_t maxBytes) = 0;
    virtual void CloseSocket(SocketRef socket) = 0;

protected:
    ~ISockets() = default;
};

ISockets& Sockets();

inline void CloseSocketRef(SocketRef h) { Sockets().CloseSocket(h); }
using ScopedSocketRef = ScopedHandle<OpaqueTraits<SocketRef, &CloseSocketRef>>;

}  // namespace nb
