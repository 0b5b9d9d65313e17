// Listener control: Start, Stop and Pause.
#include "listener.h"

#include "connection.h"
#include "engine.h"
#include "server.h"
#include "smtp.h"
#include "standard.h"
#include "users.h"

void OnStartCommand() {
    // Start and Stop are greyed where they don't apply, but any program can post them: a second
    // Start would load the registry under a running session and leak the listener.
    if (g_server.listener != INVALID_SOCKET) return;
    if (!LoadUsers()) return;
    switch (OpenListener(g_server.port, &g_server.listener)) {
    case ListenFault::None: break;
    case ListenFault::Socket: SocketError("Socket don't created."); return;
    case ListenFault::Bind: SocketError("Socket don't bind."); return;
    case ListenFault::Listen: SocketError("Socket don't listen."); return;
    case ListenFault::Select: SocketError("WSAAsyncSelect don't work."); return;
    }
    ReadDialectSettings();
    EnableButton(g_server.start_button, false);
    EnableButton(g_server.stop_button, true);
    StartStandard();
    StartSmtp();
    StartSweep();
}

void OnStopCommand() {
    if (g_server.listener == INVALID_SOCKET) return;
    StopSweep();
    ClearUserList();
    if (closesocket(g_server.listener) == SOCKET_ERROR) SocketError("Socket not closed.");
    g_server.listener = INVALID_SOCKET;
    DropClient();
    StopStandard();
    StopSmtp();
    EnableButton(g_server.stop_button, false);
    EnableButton(g_server.start_button, true);
}

void OnPauseCommand() {
    // The box comes before the button is greyed, as the administrator sees it.
    if (!CloseClient()) SocketError("Socket not closed.");
    DropSessions();
    DropSmtpSessions();
    ShowConnections();
}
