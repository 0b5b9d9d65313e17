// The socket events of the connection: every reply of the server, read as the answer to the
// command it answers, and the server closing the connection.
#include <cstdio>
#include <cstring>

#include "client.h"

namespace {

wire::Command CommandOf(ClientState command) {
    switch (command) {
    case StatSent: return wire::Command::Stat;
    case ListSent: return wire::Command::List;
    case RetrSent: return wire::Command::Retr;
    default:       return wire::Command::None;   // a status frame either way
    }
}

void SetCell(int row, int column, const char* text) {
    LVITEMA it = {};
    it.mask = LVIF_TEXT | LVIF_IMAGE;
    it.iItem = row;
    it.iSubItem = column;
    it.pszText = const_cast<char*>(text);
    SendMessageA(g_client.letter_list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&it));
}

void ShowStatistics(const unsigned char* reply, std::size_t len) {
    char count[4], size[12];
    if (!wire::ParseStat(reply, len, count, sizeof count, size, sizeof size)) {
        ConnectError("Статистика недоступна.");
        return;
    }
    char text[64];
    std::snprintf(text, sizeof text, "Сообщений: %s\n         Размер: %s байт.", count, size);
    StatisticsBox(text);
}

// The row of the letter with this number; -1 when the list has none.
int FindLetterRow(const char* number) {
    LVFINDINFOA find = {};
    find.flags = LVFI_STRING;
    find.psz = number;
    return static_cast<int>(SendMessageA(g_client.letter_list, LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(&find)));
}

void RebuildList(const unsigned char* reply, std::size_t len) {
    SendMessageA(g_client.letter_list, LVM_DELETEALLITEMS, 0, 0);
    wire::ListCursor cur = wire::ListBegin(reply, len);
    char number[8], size[12];
    for (int counter = 0; wire::ListNext(cur, number, sizeof number, size, sizeof size); ++counter) {
        LVITEMA it = {};
        it.mask = LVIF_TEXT | LVIF_IMAGE;
        it.iItem = counter;
        it.pszText = number;
        // The list sorts itself: the row lands where its number's text belongs.
        int row = static_cast<int>(SendMessageA(g_client.letter_list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it)));
        if (row >= 0) SetCell(row, 1, size);
    }
    // Commands sent before this listing came name rows of the old one: find their letters again.
    RefindPendingRows(FindLetterRow);
}

// The letter's extent is the size the last listing gave for its row, never more than the reply
// holds; with no row to go by, the text runs to its own NUL.
void ShowLetter(int row, const unsigned char* reply, std::size_t len) {
    static_assert(LETTER_TEXT_SIZE > wire::DATA_FRAME_SIZE - wire::PAYLOAD_OFFSET, "a letter keeps its NUL");
    char listed[10] = "";
    if (row >= 0) GetLetterCell(row, 1, listed, sizeof listed);
    std::size_t size = wire::LetterExtent(len, row >= 0 ? listed : nullptr);
    std::memset(g_client.letter_text_buffer, 0, sizeof g_client.letter_text_buffer);
    if (size > 0) std::memcpy(g_client.letter_text_buffer, reply + wire::PAYLOAD_OFFSET, size);
    SetWindowTextA(g_client.letter_text, g_client.letter_text_buffer);
    if (row >= 0) SetCell(row, 2, "ПРОЧИТАНО");
}

void HandleReply(const PendingCommand& cmd, const unsigned char* reply, std::size_t len) {
    bool positive = wire::IsPositive(reply, len);
    switch (cmd.command) {
    case Connected:
        if (!positive) { ConnectError("Сервер не отвечает."); break; }
        EnableWindow(g_client.status_line, TRUE);
        SendCommand(UserSent, -1, wire::Command::User, g_client.user_name);
        break;
    case UserSent:
        if (!positive) { ConnectError("Пользователь не зарегистрирован."); break; }
        SendCommand(PassSent, -1, wire::Command::Pass, g_client.password);
        break;
    case PassSent:
        if (!positive) { ConnectError("Неверный пароль."); break; }
        SetControls(ControlsLoggedIn);
        break;
    case StatSent:
        if (!positive) { ConnectError("Статистика недоступна."); break; }
        ShowStatistics(reply, len);
        break;
    case ListSent:
        if (!positive) { ConnectError("Список сообщений не доступен."); break; }
        RebuildList(reply, len);
        break;
    case RetrSent:
        if (!positive) { ConnectError("Сообщение недоступо."); break; }
        ShowLetter(cmd.row, reply, len);
        break;
    case DeleSent:
        if (!positive) { ConnectError("Сообщение нельзя удалить."); break; }
        if (cmd.row >= 0) SetCell(cmd.row, 2, "УДАЛЕНО");
        break;
    case QuitSent:
        if (!positive) { ConnectError("Выход невозможен."); break; }
        CloseConnection(ClearLetters);
        break;
    default:
        break;   // not connected: dropped
    }
}

// Another read event, for what is left on the socket when WinSock will not post one itself.
void ReadLater() {
    PostMessageA(g_client.main, WM_SOCKETEVENT, g_client.socket, WSAMAKESELECTREPLY(FD_READ, 0));
}

// Reads one piece of the reply being put together (one receive per event, as WinSock re-posts the
// event while bytes remain, so a server that never stops sending cannot hold the window) and
// handles the reply once it is whole: first its status frame, then, for a positive reply to
// STAT, LIST or RETR, the rest of its frame.
void ReadReply(SOCKET s) {
    if (g_client.handling) {
        // Handling one reply inside the box of another would nest a box per reply.
        g_client.read_waiting = true;
        return;
    }
    wire::Collector& c = g_client.reply;
    int n = recv(s, reinterpret_cast<char*>(c.data) + c.have, static_cast<int>(c.want - c.have), 0);
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        g_client.peer_closed = false;   // not at its end after all: the close event was stale
        return;
    }
    if (n <= 0) {
        CloseConnection(KeepLetters);
        return;
    }
    if (g_client.peer_closed) ReadLater();
    c.have += static_cast<std::size_t>(n);
    if (!wire::CollectorFull(c)) return;
    PendingCommand cmd = {NotConnected, -1, ""};
    bool asked = NextCommand(cmd);
    if (asked && c.want == wire::STATUS_FRAME_SIZE) {
        std::size_t whole = wire::ReplySize(CommandOf(cmd.command), c.data, c.have);
        if (whole > c.have) {
            c.want = whole;
            return;
        }
    }
    unsigned char frame[wire::DATA_FRAME_SIZE];
    std::size_t len = c.have;
    std::memcpy(frame, c.data, len);
    wire::CollectorReset(c, wire::STATUS_FRAME_SIZE);
    if (!asked) return;   // it answers no command: dropped
    // A refused greeting leaves the greeting awaited: the next reply is read as one again.
    if (cmd.command != Connected || wire::IsPositive(frame, len)) PopCommand();
    g_client.handling = true;
    HandleReply(cmd, frame, len);
    g_client.handling = false;
    if (g_client.read_waiting && g_client.socket != INVALID_SOCKET) ReadLater();
    g_client.read_waiting = false;
}

// A close event while a reply's box is open: with nothing left to read the connection ends at
// once, under the box; otherwise what the server sent before closing is handled first.
void OnCloseEvent(SOCKET s) {
    g_client.peer_closed = true;
    char byte;
    if (g_client.handling && recv(s, &byte, 1, MSG_PEEK) == 0)
        CloseConnection(KeepLetters);
    else
        ReadReply(s);
}

}  // namespace

LRESULT OnSocketEvent(HWND, WPARAM wp, LPARAM lp) {
    SOCKET s = static_cast<SOCKET>(wp);
    // Events still queued for a socket we have closed ourselves (after QUIT, on Disconnect) may
    // arrive later, even under the number of a newer socket's handle.
    if (s == INVALID_SOCKET || s != g_client.socket) return 0;
    if (WSAGETSELECTERROR(lp) != 0) {
        CloseConnection(KeepLetters);
        return 0;
    }
    switch (WSAGETSELECTEVENT(lp)) {
    case FD_READ:  ReadReply(s); break;
    case FD_WRITE: SendUnsent(); break;
    case FD_CLOSE: OnCloseEvent(s); break;
    default: break;
    }
    return 0;
}
