// The dialect's command engine.
//
// One client at a time: a new connection replaces the current one.  Login belongs to the
// connection: a new one starts with no user selected, and only a USER then a PASS on it open the
// mailbox commands.  Frames are collected whole, so a command split over several reads is one
// command and several commands in one read are answered one by one.
#include "engine.h"

#include <cstring>

#include "connection.h"
#include "log.h"
#include "mailbox.h"
#include "server.h"
#include "users.h"
#include "wire.h"

namespace {

constexpr int DIALECT_OWNER = 0;   // the dialect's conversation, among the mailbox owners

struct Engine {
    Connection conn;       // its `in` collects one command frame at a time
    unsigned idle_seconds; // [Dialect] IdleSeconds, read at Start; 0: no limit
    bool ended;            // its end is logged (QUIT, autologout): not as "closed"
};
Engine g_engine;
Connection& g_conn = g_engine.conn;

bool HaveClient() { return IsOpen(g_conn); }

bool FrameWaiting() { return g_conn.in_len >= wire::COMMAND_FRAME_SIZE; }

void Send(const unsigned char* bytes, std::size_t len) {
    Queue(g_conn, bytes, len);
    Flush(g_conn);
}

void SendStatus(bool positive) {
    unsigned char frame[wire::STATUS_FRAME_SIZE];
    wire::BuildStatus(frame, positive);
    Send(frame, sizeof frame);
}

void ForgetLogin() {
    g_conn.user = -1;
    g_conn.logged_in = false;
    CloseMailbox(DIALECT_OWNER);
}

// The selected user still has a record and PASS succeeded on this connection.
bool Authorized() {
    return g_conn.logged_in && g_conn.user >= 0 && g_conn.user < static_cast<int>(g_users.count);
}

// The letter that a RETR or DELE number names, or null when it names no served letter.
LetterRecord* ServedLetter(const wire::ParsedCommand& c) {
    if (!c.has_number || c.number < 1 || c.number > g_letters.count || c.number > MAX_LETTERS) return nullptr;
    return &g_letters.letters[c.number - 1];
}

void DoUser(const wire::ParsedCommand& c) {
    ForgetLogin();
    const char* name = c.arg_valid ? c.arg : "";
    int user = FindUserIndex(name);
    ActFor(g_conn, name, user);
    SendStatus(c.arg_valid && user >= 0);
}

void DoPass(const wire::ParsedCommand& c) {
    g_conn.logged_in = false;
    CloseMailbox(DIALECT_OWNER);
    int user = g_conn.user;
    bool ok = c.arg_valid && user >= 0 && user < static_cast<int>(g_users.count) &&
              std::strncmp(c.arg, g_users.users[user].password, PASSWORD_SIZE) == 0 &&
              std::strlen(c.arg) < PASSWORD_SIZE;
    LogLine(logsrc::DIALECT, g_conn.address, ok ? "login" : "login-failed").Text("user", g_conn.user_name).Write();
    if (ok) LoginSucceeded(g_conn);
    else LoginFailed(g_conn);
    // A mailbox that a conversation of the standard listener has open is refused.
    const char* folder = MailboxFolder(user);
    if (ok && folder) ok = OpenMailbox(folder, DIALECT_OWNER);
    SendStatus(ok);
    if (!ok) return;
    g_conn.logged_in = true;
    LoadLetters(folder);
}

void DoStat() {
    if (!Authorized()) { SendStatus(false); return; }
    int count = 0;
    std::uint64_t size = 0;
    MeasureMailbox(MailboxFolder(g_conn.user), &count, &size);
    SetLetterCount(g_conn.user, count);
    unsigned char frame[wire::STAT_FRAME_SIZE];
    if (count < 0 || !wire::BuildStat(frame, static_cast<std::uint32_t>(count), size)) {
        SendStatus(false);
        return;
    }
    Send(frame, sizeof frame);
}

void DoList() {
    if (!Authorized()) { SendStatus(false); return; }
    LoadLetters(MailboxFolder(g_conn.user));
    int count = g_letters.count;
    if (count < 0) count = 0;
    if (count > MAX_LETTERS) count = MAX_LETTERS;
    SetLetterCount(g_conn.user, count);
    std::uint32_t sizes[MAX_LETTERS];
    for (int i = 0; i < count; ++i) sizes[i] = g_letters.letters[i].size;
    unsigned char frame[wire::DATA_FRAME_SIZE];
    if (count == 0 || !wire::BuildList(frame, sizes, static_cast<std::size_t>(count))) {
        SendStatus(false);
        return;
    }
    Send(frame, sizeof frame);
}

// The letter a RETR or DELE names, when the user is logged in, the user's access is not
// `refusing` (a refusal beeps) and the number names a served letter that is not deleted; null
// after a negative answer.
LetterRecord* Permitted(const wire::ParsedCommand& c, AccessLevel refusing) {
    if (!Authorized()) {
        SendStatus(false);
        return nullptr;
    }
    if (UserAccess(g_conn.user) == refusing) {
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
    LetterRecord* letter = Permitted(c, ACCESS_NONE);
    if (!letter) return;
    std::size_t len = letter->size;
    if (len > wire::MAX_DATA_TEXT) len = wire::MAX_DATA_TEXT;
    unsigned char frame[wire::DATA_FRAME_SIZE];
    wire::BuildRetr(frame, reinterpret_cast<const unsigned char*>(letter->text), len);
    Send(frame, sizeof frame);
    letter->is_read = 1;
}

void DoDele(const wire::ParsedCommand& c) {
    LetterRecord* letter = Permitted(c, ACCESS_READ_ONLY);
    if (!letter) return;
    SendStatus(true);
    letter->is_deleted = 1;
}

// Closes the connection after the answer to QUIT is out.  When the socket won't close, a negative
// status follows and the connection stays.
void FinishQuit() {
    if (closesocket(g_conn.socket) == SOCKET_ERROR) {
        g_conn.quitting = false;
        SendStatus(false);
        return;
    }
    g_conn.socket = INVALID_SOCKET;
    ForgetLogin();
    EndConnection(g_conn);
    ShowConnections();
}

void DoQuit() {
    LogLine line(logsrc::DIALECT, g_conn.address, "quit");
    if (Authorized()) {
        CommitCounts n = CommitMailbox();
        line.Text("user", g_conn.user_name).Number("deleted", n.deleted).Number("read", n.read).Number("failed", n.failed);
    }
    line.Write();
    g_engine.ended = true;
    SendStatus(true);
    g_conn.quitting = true;
    if (!OutputPending(g_conn) && !g_conn.broken) FinishQuit();
}

void Serve(const unsigned char* frame) {
    wire::ParsedCommand c = wire::ParseCommand(frame, wire::COMMAND_FRAME_SIZE);
    switch (c.cmd) {
    case wire::Command::User: DoUser(c); break;
    case wire::Command::Pass: DoPass(c); break;
    case wire::Command::Stat: DoStat(); break;
    case wire::Command::List: DoList(); break;
    case wire::Command::Retr: DoRetr(c); break;
    case wire::Command::Dele: DoDele(c); break;
    case wire::Command::Quit: DoQuit(); break;
    case wire::Command::None: break;
    }
}

// Answers the collected command, if there is one, the last reply has gone out whole and, for a
// PASS from an address that guessed too often, its time has come.
void ServeCollected() {
    if (!HaveClient() || OutputPending(g_conn) || g_conn.quitting || g_conn.broken || !FrameWaiting()) return;
    if (std::memcmp(g_conn.in, "PASS", 4) == 0 && !PassMayBeAnswered(g_conn)) return;
    unsigned char frame[wire::COMMAND_FRAME_SIZE];
    std::memcpy(frame, g_conn.in, sizeof frame);
    Consume(g_conn, sizeof frame);
    Touch(g_conn);
    Serve(frame);
}

// Every event of the current connection does a bounded piece of work: the rest of a reply, at
// most one receive of at most one frame, at most two commands.  A flood from one client is so
// read at the pace of the window's queue, behind the administrator's commands and the other
// sockets' events.  An event carrying an error, or a close, is believed only once the socket
// itself says it is at its end: it may belong to an earlier socket whose handle value was reused.
// After the end, what came before it is still answered.
void OnClientEvent(int event) {
    if (!FollowUser(g_conn)) {
        DropClient("user-gone");
        return;
    }
    if (Expired(g_conn) != Expiry::None) {
        LogLine(logsrc::DIALECT, g_conn.address, "autologout").Text("user", g_conn.user_name).Text("reason", "idle").Write();
        g_engine.ended = true;
        DropClient();
        return;
    }
    if (event == FD_CLOSE) g_conn.peer_closed = true;
    if (event == FD_WRITE) Flush(g_conn);
    if (g_conn.quitting && !OutputPending(g_conn) && !g_conn.broken) {
        FinishQuit();
        return;
    }
    ServeCollected();
    Received r = Received::Nothing;
    if (HaveClient() && !g_conn.quitting && !g_conn.broken && !FrameWaiting())
        r = Receive(g_conn, wire::COMMAND_FRAME_SIZE - g_conn.in_len);
    ServeCollected();
    if (!HaveClient()) return;
    if (g_conn.broken) {
        DropClient("error");
        return;
    }
    // The peer sends no more: done once every whole frame it sent is answered.
    if (g_conn.at_end && !FrameWaiting() && !OutputPending(g_conn) && !g_conn.quitting) {
        DropClient("peer");
        return;
    }
    // No read event follows a close, nor the end: come back for the rest.
    if ((r == Received::Data && g_conn.peer_closed) ||
        (g_conn.at_end && FrameWaiting() && !OutputPending(g_conn) && !g_conn.held))
        Repost(g_conn);
}

// Every connection waiting in the queue is accepted; each replaces the one before, as if they
// had come one at a time, so only the last stays.
void OnAccept() {
    sockaddr_in peer;
    SOCKET s;
    bool any = false;
    for (int taken = 0; (s = AcceptPending(g_server.listener, &peer, &taken)) != INVALID_SOCKET;) {
        // The replaced connection is closed only now, after the accept, so its handle value cannot
        // be handed to the new one while events of the old are still queued.
        CloseClient("replaced");
        BeginConnection(g_conn, s, Listener::Dialect, peer, 0, g_engine.idle_seconds);
        g_engine.ended = false;
        LogLine(logsrc::DIALECT, g_conn.address, "connect").Write();
        SendStatus(true);
        any = true;
    }
    if (any) ShowConnections();
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
    if (HaveClient() && s == g_conn.socket && (event == FD_READ || event == FD_WRITE || event == FD_CLOSE))
        OnClientEvent(event);
    return 0;
}

void DialectTurn() {
    if (HaveClient()) OnClientEvent(FD_READ);
}

SOCKET DialectSocket() { return g_conn.socket; }

void ReadDialectSettings() { g_engine.idle_seconds = IniNumber("Dialect", "IdleSeconds", 0); }

bool CloseClient(const char* why) {
    if (HaveClient() && !g_engine.ended) {
        LogLine line(logsrc::DIALECT, g_conn.address, "closed");
        if (g_conn.user_name[0]) line.Text("user", g_conn.user_name);
        if (why) line.Text("reason", why);
        line.Write();
    }
    g_engine.ended = false;
    ForgetLogin();
    return EndConnection(g_conn);
}

bool DropClient(const char* why) {
    bool ok = CloseClient(why);
    ShowConnections();
    return ok;
}

void FollowUserTable() {
    if (HaveClient() && !FollowUser(g_conn)) DropClient("user-gone");
}

void ResetEngine() {
    g_engine.idle_seconds = 0;
    g_conn.socket = INVALID_SOCKET;
    EndConnection(g_conn);
}
