// Listener control: Start, Stop and Pause.
#include "listener.h"

#include "engine.h"
#include "server.h"
#include "standard.h"
#include "users.h"

namespace {

constexpr int BACKLOG = 10;

// A Start that fails after the socket was made releases it at once.
void FailStart(const char* text) {
    closesocket(g_server.listener);
    g_server.listener = INVALID_SOCKET;
    SocketError(text);
}

}  // namespace

// No SO_REUSEADDR: on Windows it would let another program bind port 110 over ours, and a
// listener binds there anyway while connections of the last run linger in TIME_WAIT.
void OnStartCommand() {
    // Start and Stop are greyed where they don't apply, but any program can post them: a second
    // Start would load the registry under a running session and leak the listener.
    if (g_server.listener != INVALID_SOCKET) return;
    if (!LoadUsers()) return;
    g_server.listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (g_server.listener == INVALID_SOCKET) {
        SocketError("Socket don't created.");
        return;
    }
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(g_server.port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(g_server.listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
        FailStart("Socket don't bind.");
        return;
    }
    if (listen(g_server.listener, BACKLOG) == SOCKET_ERROR) {
        FailStart("Socket don't listen.");
        return;
    }
    if (WSAAsyncSelect(g_server.listener, g_server.main, WM_SOCKETEVENT, FD_READ | FD_ACCEPT | FD_CLOSE) ==
        SOCKET_ERROR) {
        FailStart("WSAAsyncSelect don't work.");
        return;
    }
    EnableButton(g_server.start_button, false);
    EnableButton(g_server.stop_button, true);
    StartStandard();
}

void OnStopCommand() {
    if (g_server.listener == INVALID_SOCKET) return;
    ClearUserList();
    if (closesocket(g_server.listener) == SOCKET_ERROR) SocketError("Socket not closed.");
    g_server.listener = INVALID_SOCKET;
    DropClient();
    StopStandard();
    EnableButton(g_server.stop_button, false);
    EnableButton(g_server.start_button, true);
}

void OnPauseCommand() {
    // The box comes before the button is greyed, as the administrator sees it.
    if (!CloseClient()) SocketError("Socket not closed.");
    DropSessions();
    ShowConnections();
}
