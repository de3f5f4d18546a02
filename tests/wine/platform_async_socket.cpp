// A connection begun without waiting (the health check's): its events arrive as window
// messages, for a server that answers and for a port where nothing listens.
#include <string>
#include <vector>

#include "platform_fixture.h"
#include "wine_test.h"

namespace {

constexpr UINT kSocketMessage = WM_APP + 7;

struct Event {
    WPARAM socket;
    WORD event, error;
};
std::vector<Event> g_events;

LRESULT CALLBACK Record(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kSocketMessage) {
        g_events.push_back({wp, WSAGETSELECTEVENT(lp), WSAGETSELECTERROR(lp)});
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

HWND MessageWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Record;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"nbwine_async_socket";
    ::RegisterClassW(&wc);
    return ::CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

WORD g_waitFor = 0;
bool Arrived() {
    for (const Event& e : g_events)
        if (e.event == g_waitFor) return true;
    return false;
}
const Event* WaitFor(WORD event) {
    g_waitFor = event;
    fx::Pump(5000, Arrived);
    for (const Event& e : g_events)
        if (e.event == event) return &e;
    return nullptr;
}

}  // namespace

START_TEST(async_connect) {
    nb::win::Win32Platform& os = fx::Os();
    uint16_t granted = 0;
    os.SocketsStartup(0x0002, &granted);
    HWND window = MessageWindow();
    ok(window != nullptr, "a message-only window expected, error %lu\n", ::GetLastError());
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    int len = sizeof a;
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 5);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    const uint16_t port = ::ntohs(a.sin_port);

    // A server that answers: connect, request, a status line, then the close.
    nb::SocketRef s = 0;
    ok(os.BeginConnect(nb::win::W(window), kSocketMessage, "127.0.0.1", port, &s) == 1,
       "the connection should begin\n");
    const Event* connected = WaitFor(FD_CONNECT);
    ok(connected && connected->socket == s && connected->error == 0, "FD_CONNECT without error expected, got %d\n",
       connected ? connected->error : -1);
    const std::string request = "GET /index.php HTTP/1.0\r\n\r\n";
    ok(os.SocketSend(s, request) == static_cast<int>(request.size()), "the request should be sent whole\n");
    SOCKET peer = ::accept(listener, nullptr, nullptr);
    char got[64] = {};
    ::recv(peer, got, sizeof got - 1, 0);
    ok(std::string(got) == request, "the server got %s\n", got);
    const char answer[] = "HTTP/1.0 503 Busy\r\n\r\n";
    ::send(peer, answer, sizeof answer - 1, 0);
    ::closesocket(peer);
    WaitFor(FD_READ);
    std::string received;
    while (os.SocketReceive(s, received, 64) > 0) {
    }
    ok(received == answer, "the answer should be received, got %s\n", received.c_str());
    os.CloseSocket(s);

    // Nothing listens: the connect's event carries the error (or it cannot even begin).
    ::closesocket(listener);
    g_events.clear();
    s = 0;
    if (os.BeginConnect(nb::win::W(window), kSocketMessage, "127.0.0.1", port, &s)) {
        const Event* refused = WaitFor(FD_CONNECT);
        ok(refused && refused->error == WSAECONNREFUSED, "FD_CONNECT with WSAECONNREFUSED expected, got %d\n",
           refused ? refused->error : -1);
        os.CloseSocket(s);
    }
    ::DestroyWindow(window);
}
