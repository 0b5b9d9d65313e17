// The connection's life: opening it, the commands sent and awaiting their replies, the frames the
// socket has not taken yet, and its end.  The only part of the client that changes the socket,
// the pending queue or the unsent frames.
#include <cstring>

#include "client.h"
#include "send.h"

namespace {

// Forgets every command still waiting for its reply, and the reply half read.
void ClearPending() {
    g_client.pending = PendingQueue{};
    g_client.unsent_len = 0;
    g_client.read_waiting = false;
    g_client.peer_closed = false;
    wire::CollectorReset(g_client.reply, wire::STATUS_FRAME_SIZE);
}

// Closes a socket that never became the connection.
void DropSocket(SOCKET s, const char* text) {
    SocketError(text);
    closesocket(s);
}

}  // namespace

bool OpenConnection(HWND hwnd) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        SocketError("Socket don't created.");
        return false;
    }
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(g_client.port);
    addr.sin_addr.s_addr = inet_addr(g_client.server_addr);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
        DropSocket(s, "Socket don't connect.");
        return false;
    }
    if (WSAAsyncSelect(s, hwnd, WM_SOCKETEVENT, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) == SOCKET_ERROR) {
        DropSocket(s, "WSAAsyncSelect don't work.");
        return false;
    }
    g_client.socket = s;
    g_client.state = Connected;
    ClearPending();
    // The first reply to come is the server's greeting.
    g_client.pending.items[0] = PendingCommand{Connected, -1, ""};
    g_client.pending.count = 1;
    EnableWindow(g_client.connect_button, FALSE);
    EnableWindow(g_client.disconnect_button, TRUE);
    return true;
}

bool SendCommand(ClientState command, int row, wire::Command cmd, const char* arg) {
    g_client.state = command;
    PendingQueue& q = g_client.pending;
    if (q.count >= MAX_PENDING) {
        // So many unanswered commands: the server has stopped answering.  Sending more would
        // leave replies that no command could be matched with.
        SoundBeep(0);
        return false;
    }
    unsigned char frame[wire::COMMAND_FRAME_SIZE];
    wire::BuildCommand(frame, cmd, arg);
    // Every unsent byte belongs to a command still waiting, so MAX_PENDING frames always fit.
    std::memcpy(g_client.unsent + g_client.unsent_len, frame, sizeof frame);
    g_client.unsent_len += sizeof frame;
    PendingCommand& p = q.items[(q.first + q.count) % MAX_PENDING];
    p = PendingCommand{command, row, ""};
    if (row >= 0 && arg) std::strncpy(p.number, arg, sizeof p.number - 1);
    ++q.count;
    SendUnsent();
    return g_client.socket != INVALID_SOCKET;
}

// A frame is never left half sent: what the socket does not take now goes when FD_WRITE says it
// can take more, and a send that fails outright ends the connection.
void SendUnsent() {
    while (g_client.unsent_len > 0 && g_client.socket != INVALID_SOCKET) {
        int n = SendBytes(g_client.socket, g_client.unsent, static_cast<int>(g_client.unsent_len));
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return;
        if (n <= 0) {
            CloseConnection(KeepLetters);
            return;
        }
        g_client.unsent_len -= static_cast<std::size_t>(n);
        std::memmove(g_client.unsent, g_client.unsent + n, g_client.unsent_len);
    }
}

// A command whose frame has not all gone out yet cannot have been answered; so the unsent frames
// also stay within the commands still waiting.
bool NextCommand(PendingCommand& cmd) {
    std::size_t unsent_frames = (g_client.unsent_len + wire::COMMAND_FRAME_SIZE - 1) / wire::COMMAND_FRAME_SIZE;
    const PendingQueue& q = g_client.pending;
    if (static_cast<std::size_t>(q.count) <= unsent_frames) return false;
    cmd = q.items[q.first];
    return true;
}

void PopCommand() {
    PendingQueue& q = g_client.pending;
    if (q.count == 0) return;
    q.first = (q.first + 1) % MAX_PENDING;
    --q.count;
}

void RefindPendingRows(int (*find_row)(const char* number)) {
    PendingQueue& q = g_client.pending;
    for (int i = 0; i < q.count; ++i) {
        PendingCommand& p = q.items[(q.first + i) % MAX_PENDING];
        if (p.row >= 0) p.row = find_row(p.number);
    }
}

int ReleaseConnection() {
    SOCKET s = g_client.socket;
    g_client.socket = INVALID_SOCKET;
    ClearPending();
    return closesocket(s);
}

// The buttons go idle before the socket is closed: nothing can be sent under the box of a failed
// close.
void CloseConnection(LetterView view) {
    if (view == ClearLetters) SendMessageA(g_client.letter_list, LVM_DELETEALLITEMS, 0, 0);
    SetControls(ControlsIdle);
    g_client.state = NotConnected;
    if (ReleaseConnection() == SOCKET_ERROR) SocketError("Socket not closed.");
    if (view == ClearLetters) SetWindowTextA(g_client.letter_text, "");
    SoundBeep(0);
}
