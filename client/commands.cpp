// The seven buttons: the connect dialog, connect, disconnect and the five mailbox commands.
#include <cstring>

#include "client.h"
#include "send.h"

namespace {

bool TakeConnectFields(HWND dlg) {
    GetDlgItemTextA(dlg, IDC_SERVERADDR, g_client.server_addr, SERVER_ADDR_SIZE);
    GetDlgItemTextA(dlg, IDC_USERNAME, g_client.user_name, USER_NAME_SIZE);
    GetDlgItemTextA(dlg, IDC_PASSWORD, g_client.password, PASSWORD_SIZE);
    return true;
}

INT_PTR CALLBACK ConnectDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    return msg == WM_COMMAND ? OnDialogButtons(dlg, wp, TakeConnectFields) : FALSE;
}

// Closes a socket that never became the connection.
void DropSocket(SOCKET s, const char* text) {
    SocketError(text);
    closesocket(s);
}

void OnConnect(HWND hwnd) {
    if (DialogBoxParamA(g_client.instance, MAKEINTRESOURCEA(IDD_CONNECT), hwnd, ConnectDialogProc, 0) == IDCANCEL)
        return;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        SocketError("Socket don't created.");
        return;
    }
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(g_client.port);
    addr.sin_addr.s_addr = inet_addr(g_client.server_addr);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
        DropSocket(s, "Socket don't connect.");
        return;
    }
    if (WSAAsyncSelect(s, hwnd, WM_SOCKETEVENT, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) == SOCKET_ERROR) {
        DropSocket(s, "WSAAsyncSelect don't work.");
        return;
    }
    g_client.socket = s;
    g_client.state = Connected;
    ClearPending();
    // The first reply to come is the server's greeting.
    g_client.pending.items[0] = PendingCommand{Connected, -1, ""};
    g_client.pending.count = 1;
    EnableWindow(g_client.connect_button, FALSE);
    EnableWindow(g_client.disconnect_button, TRUE);
}

// The index of the selected letter row (-1 when none) and its number, cut to 3 characters.
int SelectedLetter(char (&number)[4]) {
    number[0] = 0;
    int row = static_cast<int>(SendMessageA(g_client.letter_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                            MAKELPARAM(LVNI_SELECTED, 0)));
    if (row >= 0) GetLetterCell(row, 0, number, sizeof number);
    return row;
}

void OnLetterCommand(ClientState state, wire::Command cmd) {
    g_client.state = state;
    char number[4];
    int row = SelectedLetter(number);
    SendCommand(state, row, cmd, number);
}

void OnPlainCommand(ClientState state, wire::Command cmd) {
    g_client.state = state;
    SendCommand(state, -1, cmd, "");
}

}  // namespace

void ClearPending() {
    g_client.pending = PendingQueue{};
    g_client.unsent_len = 0;
    g_client.read_waiting = false;
    g_client.peer_closed = false;
    wire::CollectorReset(g_client.reply, wire::STATUS_FRAME_SIZE);
}

bool SendCommand(ClientState command, int row, wire::Command cmd, const char* arg) {
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
            DropConnection();
            return;
        }
        g_client.unsent_len -= static_cast<std::size_t>(n);
        std::memmove(g_client.unsent, g_client.unsent + n, g_client.unsent_len);
    }
}

void CloseConversation() {
    SendMessageA(g_client.letter_list, LVM_DELETEALLITEMS, 0, 0);
    SetControls(ControlsIdle);
    g_client.state = NotConnected;
    SOCKET s = g_client.socket;
    g_client.socket = INVALID_SOCKET;
    ClearPending();
    if (closesocket(s) == SOCKET_ERROR) SocketError("Socket not closed.");
    SetWindowTextA(g_client.letter_text, "");
    SoundBeep(0);
}

void OnClientCommand(HWND hwnd, int id) {
    switch (id) {
    case IDC_CONNECT:    OnConnect(hwnd); break;
    case IDC_DISCONNECT: CloseConversation(); break;
    case IDC_STATISTICS: OnPlainCommand(StatSent, wire::Command::Stat); break;
    case IDC_LIST:       OnPlainCommand(ListSent, wire::Command::List); break;
    case IDC_READ:       OnLetterCommand(RetrSent, wire::Command::Retr); break;
    case IDC_DELETE:     OnLetterCommand(DeleSent, wire::Command::Dele); break;
    case IDC_QUIT:       OnPlainCommand(QuitSent, wire::Command::Quit); break;
    default: break;
    }
}
