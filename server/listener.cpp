// Listener control: Start, Stop and Pause.
#include "listener.h"

#include "connection.h"
#include "engine.h"
#include "log.h"
#include "server.h"
#include "smtp.h"
#include "standard.h"
#include "users.h"

void OnStartCommand() {
    // Start and Stop are greyed where they don't apply, but any program can post them: a second
    // Start would load the registry under a running session and leak the listener.
    if (g_server.listener != INVALID_SOCKET) return;
    if (!LoadUsers()) return;
    ReadLogSettings(true);
    switch (OpenListener(g_server.port, &g_server.listener)) {
    case ListenFault::None: break;
    case ListenFault::Socket: SocketError("Socket don't created."); return;
    case ListenFault::Bind:
        LogLine(logsrc::SERVER, 0, "bind-failed").Number("port", g_server.port).Write();
        SocketError("Socket don't bind.");
        return;
    case ListenFault::Listen: SocketError("Socket don't listen."); return;
    case ListenFault::Select: SocketError("WSAAsyncSelect don't work."); return;
    }
    ReadDialectSettings();
    EnableButton(g_server.start_button, false);
    EnableButton(g_server.stop_button, true);
    LogLine line(logsrc::SERVER, 0, "start");
    line.Number("dialect", g_server.port);
    if (unsigned short pop3 = StartStandard()) line.Number("pop3", pop3);
    if (unsigned short smtp = StartSmtp()) line.Number("smtp", smtp);
    line.Write();
    StartSweep();
}

void OnStopCommand() {
    if (g_server.listener == INVALID_SOCKET) return;
    StopSweep();
    LogLine(logsrc::SERVER, 0, "stop").Write();
    ClearUserList();
    if (closesocket(g_server.listener) == SOCKET_ERROR) SocketError("Socket not closed.");
    g_server.listener = INVALID_SOCKET;
    DropClient("server");
    StopStandard();
    StopSmtp();
    EnableButton(g_server.stop_button, false);
    EnableButton(g_server.start_button, true);
}

void OnPauseCommand() {
    LogLine(logsrc::SERVER, 0, "pause").Write();
    // The box comes before the button is greyed, as the administrator sees it.
    if (!CloseClient("server")) SocketError("Socket not closed.");
    DropSessions();
    DropSmtpSessions();
    ShowConnections();
}
