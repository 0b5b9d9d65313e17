// The POP3 command engine.
//
// One client at a time: g_server.client is the current connection.  Login belongs to the
// connection: a new one starts with no user selected, and only a USER then a PASS on it open the
// mailbox commands.  Frames are collected whole, so a command split over several reads is one
// command and several commands in one read are answered one by one.
#include "engine.h"

#include <cstring>

#include "mailbox.h"
#include "server.h"
#include "users.h"
#include "wire.h"

namespace {

constexpr int DIALECT_OWNER = 0;   // the dialect's conversation, among the mailbox owners
const char kNoAccess[] = "Нет доступа";
const char kReadOnly[] = "Только чтение";

struct Engine {
    sockaddr_in peer;
    char requested_name[wire::LOGIN_ARG_END];
    int user;              // index into g_users of the selected user; -1 when none
    bool logged_in;
    wire::Collector in;    // the command frame being put together
    // The reply that the socket could not take whole: the rest goes out on FD_WRITE, and no
    // further command is served before it has.
    unsigned char out[2 * wire::DATA_FRAME_SIZE];
    std::size_t out_len, out_sent;
    bool quitting;         // QUIT was answered: close once the reply is out
    bool broken;           // a send failed: the connection is dropped with no commit
    bool peer_closed;      // FD_CLOSE came: read on until the socket says it is at its end
    bool write_events;     // FD_WRITE was asked for, once a send would have blocked
    unsigned table_seen;   // the user table's generation that `user` indexes
};
Engine g_engine;

bool HaveClient() { return g_server.client != INVALID_SOCKET; }

bool OutputPending() { return g_engine.out_sent < g_engine.out_len; }

void ResetConnection() {
    g_engine.out_len = g_engine.out_sent = 0;
    g_engine.quitting = g_engine.broken = g_engine.peer_closed = g_engine.write_events = false;
    wire::CollectorReset(g_engine.in, wire::COMMAND_FRAME_SIZE);
}

// Sends what is waiting as far as the socket takes it.  A frame is never left half sent: what
// does not go now goes on the next FD_WRITE, and a send that fails breaks the connection.
void Flush() {
    while (OutputPending()) {
        int n = send(g_server.client, reinterpret_cast<const char*>(g_engine.out + g_engine.out_sent),
                     static_cast<int>(g_engine.out_len - g_engine.out_sent), 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK) {
                g_engine.broken = true;
            } else if (!g_engine.write_events &&
                       WSAAsyncSelect(g_server.client, g_server.main, WM_SOCKETEVENT, FD_READ | FD_WRITE | FD_CLOSE) !=
                           SOCKET_ERROR) {
                // From now on the connection also says when it can take more.
                g_engine.write_events = true;
            }
            return;
        }
        g_engine.out_sent += static_cast<std::size_t>(n);
    }
    g_engine.out_len = g_engine.out_sent = 0;
}

void Send(const unsigned char* bytes, std::size_t len) {
    if (g_engine.broken) return;
    if (len > sizeof g_engine.out - g_engine.out_len) {
        g_engine.broken = true;
        return;
    }
    std::memcpy(g_engine.out + g_engine.out_len, bytes, len);
    g_engine.out_len += len;
    Flush();
}

void SendStatus(bool positive) {
    unsigned char frame[wire::STATUS_FRAME_SIZE];
    wire::BuildStatus(frame, positive);
    Send(frame, sizeof frame);
}

void ForgetLogin() {
    g_engine.user = -1;
    g_engine.logged_in = false;
    CloseMailbox(DIALECT_OWNER);
}

// The selected user still has a record and PASS succeeded on this connection.
bool Authorized() {
    return g_engine.logged_in && g_engine.user >= 0 && g_engine.user < static_cast<int>(g_users.count);
}

// The letter that a RETR or DELE number names, or null when it names no served letter.
LetterRecord* ServedLetter(const wire::ParsedCommand& c) {
    if (!c.has_number || c.number < 1 || c.number > g_letters.count || c.number > MAX_LETTERS) return nullptr;
    return &g_letters.letters[c.number - 1];
}

void DoUser(const wire::ParsedCommand& c) {
    ForgetLogin();
    CopyText(g_engine.requested_name, sizeof g_engine.requested_name, c.arg_valid ? c.arg : "");
    SendStatus(c.arg_valid && FindUser());
}

void DoPass(const wire::ParsedCommand& c) {
    g_engine.logged_in = false;
    CloseMailbox(DIALECT_OWNER);
    bool ok = c.arg_valid && g_engine.user >= 0 && g_engine.user < static_cast<int>(g_users.count) &&
              std::strncmp(c.arg, g_users.users[g_engine.user].password, PASSWORD_SIZE) == 0 &&
              std::strlen(c.arg) < PASSWORD_SIZE;
    // A mailbox that a conversation of the standard listener has open is refused.
    const char* folder = MailboxFolder(g_engine.user);
    if (ok && folder) ok = OpenMailbox(folder, DIALECT_OWNER);
    SendStatus(ok);
    if (!ok) return;
    g_engine.logged_in = true;
    LoadLetters(folder);
}

void DoStat() {
    if (!Authorized()) { SendStatus(false); return; }
    int count = 0;
    std::uint64_t size = 0;
    MeasureMailbox(MailboxFolder(g_engine.user), &count, &size);
    SetLetterCount(g_engine.user, count);
    unsigned char frame[wire::STAT_FRAME_SIZE];
    if (count < 0 || !wire::BuildStat(frame, static_cast<std::uint32_t>(count), size)) {
        SendStatus(false);
        return;
    }
    Send(frame, sizeof frame);
}

void DoList() {
    if (!Authorized()) { SendStatus(false); return; }
    LoadLetters(MailboxFolder(g_engine.user));
    int count = g_letters.count;
    if (count < 0) count = 0;
    if (count > MAX_LETTERS) count = MAX_LETTERS;
    SetLetterCount(g_engine.user, count);
    std::uint32_t sizes[MAX_LETTERS];
    for (int i = 0; i < count; ++i) sizes[i] = g_letters.letters[i].size;
    unsigned char frame[wire::DATA_FRAME_SIZE];
    if (count == 0 || !wire::BuildList(frame, sizes, static_cast<std::size_t>(count))) {
        SendStatus(false);
        return;
    }
    Send(frame, sizeof frame);
}

// The letter a RETR or DELE names, when the user is logged in, the user's row does not show
// `refusing` (a refusal beeps) and the number names a served letter that is not deleted; null
// after a negative answer.
LetterRecord* Permitted(const wire::ParsedCommand& c, const char* refusing) {
    if (!Authorized()) {
        SendStatus(false);
        return nullptr;
    }
    if (ShowsStatus(g_engine.user, refusing)) {
        SoundBeep(MB_OK);
        SendStatus(false);
        return nullptr;
    }
    LetterRecord* letter = ServedLetter(c);
    if (!letter || letter->is_deleted) {
        SendStatus(false);
        return nullptr;
    }
    return letter;
}

void DoRetr(const wire::ParsedCommand& c) {
    LetterRecord* letter = Permitted(c, kNoAccess);
    if (!letter) return;
    std::size_t len = letter->size;
    if (len > wire::MAX_DATA_TEXT) len = wire::MAX_DATA_TEXT;
    unsigned char frame[wire::DATA_FRAME_SIZE];
    wire::BuildRetr(frame, reinterpret_cast<const unsigned char*>(letter->text), len);
    Send(frame, sizeof frame);
    letter->is_read = 1;
}

void DoDele(const wire::ParsedCommand& c) {
    LetterRecord* letter = Permitted(c, kReadOnly);
    if (!letter) return;
    SendStatus(true);
    letter->is_deleted = 1;
}

// Closes the connection after the answer to QUIT is out; false when it is gone afterwards.
bool FinishQuit() {
    if (closesocket(g_server.client) == SOCKET_ERROR) {
        SendStatus(false);
        return true;
    }
    g_server.client = INVALID_SOCKET;
    ForgetLogin();
    ShowConnections();
    return false;
}

// Returns false when the connection is gone afterwards or is closing.
bool DoQuit() {
    if (Authorized()) CommitMailbox();
    SendStatus(true);
    if (OutputPending()) {
        g_engine.quitting = true;
        return false;
    }
    return FinishQuit();
}

// Answers one whole command frame; false when the connection was closed by it.
bool Serve(const unsigned char* frame) {
    wire::ParsedCommand c = wire::ParseCommand(frame, wire::COMMAND_FRAME_SIZE);
    switch (c.cmd) {
    case wire::Command::User: DoUser(c); break;
    case wire::Command::Pass: DoPass(c); break;
    case wire::Command::Stat: DoStat(); break;
    case wire::Command::List: DoList(); break;
    case wire::Command::Retr: DoRetr(c); break;
    case wire::Command::Dele: DoDele(c); break;
    case wire::Command::Quit: return DoQuit();
    case wire::Command::None: break;
    }
    return true;
}

enum class ReadResult { Nothing, Data, PeerClosed };

// One receive at most, into the command being put together; none while a whole command waits
// for its turn.  A stale event (the handle may have been reused) finds nothing waiting.
ReadResult ReceiveOnce() {
    wire::Collector& c = g_engine.in;
    if (wire::CollectorFull(c)) return ReadResult::Nothing;
    int n = recv(g_server.client, reinterpret_cast<char*>(c.data + c.have), static_cast<int>(c.want - c.have), 0);
    if (n == 0) return ReadResult::PeerClosed;
    if (n == SOCKET_ERROR) {
        int err = WSAGetLastError();
        return err == WSAEWOULDBLOCK || err == WSAEINTR || err == WSAEINPROGRESS ? ReadResult::Nothing
                                                                                 : ReadResult::PeerClosed;
    }
    c.have += static_cast<std::size_t>(n);
    return ReadResult::Data;
}

// Answers the collected command, if there is one and the last reply has gone out whole.
void ServeCollected() {
    if (!HaveClient() || OutputPending() || g_engine.quitting || !wire::CollectorFull(g_engine.in)) return;
    unsigned char frame[wire::COMMAND_FRAME_SIZE];
    std::memcpy(frame, g_engine.in.data, sizeof frame);
    wire::CollectorReset(g_engine.in, wire::COMMAND_FRAME_SIZE);
    Serve(frame);
}

// Every event of the current connection does a bounded piece of work: the rest of a reply, at
// most one receive, at most two commands.  A flood from one client is so read at the pace of the
// window's queue, behind the administrator's commands and the other sockets' events.  An event
// carrying an error, or a close, is believed only once the socket itself says it is at its end:
// it may belong to an earlier socket whose handle value was reused.
void OnClientEvent(SOCKET s, int event) {
    FollowUserTable();
    if (!HaveClient()) return;
    if (event == FD_CLOSE) g_engine.peer_closed = true;
    if (event == FD_WRITE) Flush();
    if (g_engine.quitting && !OutputPending() && !g_engine.broken) {
        FinishQuit();
        return;
    }
    ServeCollected();
    ReadResult r = HaveClient() && !g_engine.quitting ? ReceiveOnce() : ReadResult::Nothing;
    if (r == ReadResult::PeerClosed || g_engine.broken) {
        if (HaveClient()) DropClient();
        return;
    }
    ServeCollected();
    if (g_engine.broken) {
        DropClient();
        return;
    }
    // No read event follows a close: after one with data, come back for the rest.
    if (r == ReadResult::Data && g_engine.peer_closed && HaveClient() && s == g_server.client)
        PostMessageA(g_server.main, WM_SOCKETEVENT, s, WSAMAKESELECTREPLY(FD_CLOSE, 0));
}

void OnAccept() {
    int len = sizeof g_engine.peer;
    SOCKET s = accept(g_server.listener, reinterpret_cast<sockaddr*>(&g_engine.peer), &len);
    if (s == INVALID_SOCKET) return;
    // The replaced connection is closed only now, after the accept, so its handle value cannot be
    // handed to the new one while events of the old are still queued.
    if (HaveClient()) closesocket(g_server.client);
    g_server.client = s;
    ForgetLogin();
    g_engine.requested_name[0] = '\0';
    g_engine.table_seen = UserTableGeneration();
    ResetConnection();
    // The connection takes the listener's events; FD_WRITE is asked for only when a reply does
    // not go out whole (asked for at once, it would post an event per connection for nothing).
    SendStatus(true);
    ShowConnections();
}

}  // namespace

LRESULT OnSocketEvent(HWND, WPARAM wp, LPARAM lp) {
    SOCKET s = static_cast<SOCKET>(wp);
    int event = WSAGETSELECTEVENT(lp);
    if (event == FD_ACCEPT) {
        // A failed connection attempt leaves nothing to accept.
        if (WSAGETSELECTERROR(lp) == 0 && g_server.listener != INVALID_SOCKET && s == g_server.listener) OnAccept();
        return 0;
    }
    if (HaveClient() && s == g_server.client && (event == FD_READ || event == FD_WRITE || event == FD_CLOSE))
        OnClientEvent(s, event);
    return 0;
}

bool FindUser() {
    int user = FindUserIndex(g_engine.requested_name);
    if (user < 0) return false;
    g_engine.user = user;
    return true;
}

bool CloseClient() {
    bool ok = true;
    if (HaveClient()) ok = closesocket(g_server.client) != SOCKET_ERROR;
    g_server.client = INVALID_SOCKET;
    ForgetLogin();
    ResetConnection();
    return ok;
}

bool DropClient() {
    bool ok = CloseClient();
    ShowConnections();
    return ok;
}

void FollowUserTable() {
    if (g_engine.table_seen == UserTableGeneration()) return;
    g_engine.table_seen = UserTableGeneration();
    if (HaveClient() && g_engine.user >= 0 && !FindUser()) DropClient();
}

int CurrentUser() { return g_engine.user; }
bool LoggedIn() { return g_engine.logged_in; }

void ResetEngine() {
    g_engine = Engine{};
    ForgetLogin();
    ResetConnection();
}
