// The SMTP listener and its conversations (RFC 5321 with SIZE, 8BITMIME, PIPELINING and
// ENHANCEDSTATUSCODES).
//
// Each conversation has a slot of its own, like the standard POP3 listener's: its connection, its
// HELO name, and the transaction on its way (the sender, the recipients by name, the letter being
// received into a temporary file).  The next command is taken only once the reply before has
// gone, so pipelined commands are answered in order.  A letter is delivered only after its final
// dot, to every recipient or to none: each copy is written under a name that is not *.msg, flushed
// and then renamed, never over a file already there, so a mailbox shows a letter whole or not at
// all.  Every event does a bounded piece of work: the copies for further recipients are written a
// piece per round, so a big letter to many users holds nobody up.
#include "smtp.h"

#include <cstdio>
#include <cstring>

#include "connection.h"
#include "log.h"
#include "fileio.h"
#include "mailbox.h"
#include "server.h"
#include "smtp_command.h"
#include "smtp_data.h"
#include "smtp_reply.h"
#include "users.h"

namespace {

constexpr int MAX_MAILERS = 16;
constexpr int MAX_RCPTS = 100;
constexpr int ROUNDS_PER_EVENT = 32;
constexpr int MAX_BAD_COMMANDS = 20;
constexpr int NAME_TRIES = 100;             // names tried for one letter before giving up
constexpr DWORD COPY_CHUNK = 64 * 1024;     // copied for a further recipient in one round

struct Settings {
    unsigned short port;
    char domain[smtp::MAX_DOMAIN + 1];
    unsigned long long max_size;
    char postmaster[NAME_SIZE];                // "" : the first user with full access
    smtp::Network nets[smtp::MAX_NETWORKS];
    int net_count;
    unsigned idle_seconds;
    int per_address;
};
Settings s_settings;
SOCKET s_listener = INVALID_SOCKET;

enum class State { Fresh, Ready, Mail, Data, Deliver };

struct Mailer {
    Connection conn;
    State state;                               // Fresh: no HELO yet; Mail: a sender was taken;
                                               // Deliver: the data ended, the copies are made
    smtp::LineReader lines;
    smtp::DataReader data;
    char helo[256];
    bool extended;
    char sender[smtp::MAX_PATH_TEXT + 1];
    char rcpts[MAX_RCPTS][NAME_SIZE];          // the recipients, by their names in Users.db
    int rcpt_count;
    // The letter's temporary files, one per recipient in its folder under a name not *.msg:
    // temps[0, temp_count) exist.  temps[0] is received into, the others are copies of it.
    char temps[MAX_RCPTS][MAX_PATH];
    int temp_count;
    HANDLE file;                               // temps[0] while the data comes
    HANDLE copy_in, copy_out;                  // Deliver: temps[0] and the copy being written
    bool write_failed;
    unsigned char chunk[IN_ROOM + 1];
};
Mailer s_mailers[MAX_MAILERS];

Mailer* Find(SOCKET s) {
    for (Mailer& t : s_mailers)
        if (IsOpen(t.conn) && t.conn.socket == s) return &t;
    return nullptr;
}

void Say(Mailer& t, const char* text) { Queue(t.conn, text, std::strlen(text)); }

// ---- the letter being received -----------------------------------------------------------------

void CloseFile(HANDLE& file) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
}

// Ends the transaction: every temporary file still there is removed.
void EndTransaction(Mailer& t) {
    CloseFile(t.file);
    CloseFile(t.copy_in);
    CloseFile(t.copy_out);
    for (int i = 0; i < t.temp_count; ++i) DeleteFileA(t.temps[i]);
    t.temp_count = 0;
    t.rcpt_count = 0;
    t.sender[0] = '\0';
    t.write_failed = false;
    if (t.state != State::Fresh) t.state = State::Ready;
}

bool TempPath(const Mailer& t, const char* folder, int i, char (&path)[MAX_PATH]) {
    int n = std::snprintf(path, sizeof path, "%s\\smtp-in-%02d-%03d.tmp", folder, static_cast<int>(&t - s_mailers), i);
    return n > 0 && n < static_cast<int>(sizeof path);
}

HANDLE CreateTemp(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// The user a recipient name stands for, and that user's folder; null when either is gone.
const char* FolderOf(const char* name) {
    int user = FindUserIndex(name);
    return user < 0 ? nullptr : MailboxFolder(user);
}

// The letter's head: the status byte and the two trace lines.
void WriteHead(Mailer& t) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    smtp::Trace trace = {t.sender, t.helo, t.extended, ntohl(t.conn.address), s_settings.domain,
                         {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wDayOfWeek}};
    char head[smtp::MAX_HEAD];
    std::size_t n = smtp::FormatHead(head, trace);
    if (!WriteWhole(t.file, head, static_cast<DWORD>(n))) t.write_failed = true;
}

// Renames a temporary file into the folder as the letter that sorts after every letter there.
bool PublishOne(const char* temp, const char* folder, char (&final_path)[MAX_PATH]) {
    char last[MAX_PATH] = "";
    LetterWalk walk;
    LetterFile f;
    for (bool more = FirstLetterFile(folder, walk, f); more; more = NextLetterFile(walk, f)) {
        std::size_t n = std::strlen(f.name) - 4;   // without ".msg"
        f.name[n] = '\0';
        if (smtp::CompareNames(f.name, last) > 0) std::strcpy(last, f.name);
    }
    EndLetterWalk(walk);
    char stem[MAX_PATH];
    for (int tries = 0; tries < NAME_TRIES; ++tries) {
        if (!smtp::NameAfter(last, stem, sizeof stem)) return false;
        int n = std::snprintf(final_path, sizeof final_path, "%s\\%s.msg", folder, stem);
        if (n <= 0 || n >= static_cast<int>(sizeof final_path)) return false;
        if (MoveFileExA(temp, final_path, MOVEFILE_WRITE_THROUGH)) return true;
        DWORD err = GetLastError();
        if (err != ERROR_ALREADY_EXISTS && err != ERROR_FILE_EXISTS) return false;
        std::strcpy(last, stem);   // a name taken since the walk: the next one
    }
    return false;
}

// After the final dot: the reply when the letter can't be delivered at all, else null (and the
// copies are made from now on).
const char* Refusal(Mailer& t) {
    if (t.data.bare_line_end) return smtp::BARE_LINE_END;
    if (t.data.octets > s_settings.max_size) return smtp::TOO_BIG;
    bool written = !t.write_failed && FlushFileBuffers(t.file);
    CloseFile(t.file);
    return written ? nullptr : smtp::NO_ROOM;
}

// Renames every copy to its letter, or none: when one fails, those renamed go again.
const char* Publish(Mailer& t) {
    static char finals[MAX_RCPTS][MAX_PATH];
    int done = 0;
    for (; done < t.rcpt_count; ++done) {
        const char* folder = FolderOf(t.rcpts[done]);   // a user may have left while the copies were made
        if (!folder || !PublishOne(t.temps[done], folder, finals[done])) break;
    }
    if (done < t.rcpt_count) {
        for (int i = 0; i < done; ++i) DeleteFileA(finals[i]);
        return smtp::NOT_STORED;   // the copies left are removed with the transaction
    }
    t.temp_count = 0;
    for (int i = 0; i < t.rcpt_count; ++i) {
        int user = FindUserIndex(t.rcpts[i]);
        SetLetterCount(user, CountLetters(MailboxFolder(user)));
    }
    return smtp::DELIVERED;
}

// The log's word for why a message was not taken.
const char* RefusalReason(const char* reply) {
    if (reply == smtp::BARE_LINE_END) return "bare-line-end";
    if (reply == smtp::TOO_BIG) return "too-big";
    if (reply == smtp::NO_ROOM) return "disk-full";
    return "not-stored";
}

// Answers the final dot (or a failure on the way) and logs what became of the message.
void Finish(Mailer& t, const char* reply) {
    if (reply == smtp::DELIVERED) {
        for (int i = 0; i < t.rcpt_count; ++i)
            LogLine(logsrc::SMTP, t.conn.address, "delivered")
                .Text("from", t.sender)
                .Text("to", t.rcpts[i])
                .Number("size", t.data.octets)
                .Write();
    } else {
        LogLine(logsrc::SMTP, t.conn.address, "refused")
            .Text("reason", RefusalReason(reply))
            .Text("from", t.sender)
            .Number("recipients", static_cast<unsigned>(t.rcpt_count))
            .Write();
    }
    Say(t, reply);
    EndTransaction(t);
}


// Deliver: copies a piece of the letter for the next recipients, flushed; once all are made, the
// letter goes into every mailbox.
void DeliverSome(Mailer& t) {
    static char buf[COPY_CHUNK];
    Touch(t.conn);   // a long delivery is not silence
    while (t.temp_count < t.rcpt_count || t.copy_out != INVALID_HANDLE_VALUE) {
        if (t.copy_out == INVALID_HANDLE_VALUE) {
            int i = t.temp_count;
            const char* folder = FolderOf(t.rcpts[i]);
            if (!folder || !TempPath(t, folder, i, t.temps[i])) return Finish(t, smtp::NOT_STORED);
            t.copy_in = CreateFileA(t.temps[0], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
            t.copy_out = CreateTemp(t.temps[i]);
            if (t.copy_out != INVALID_HANDLE_VALUE) t.temp_count = i + 1;
            if (t.copy_in == INVALID_HANDLE_VALUE || t.copy_out == INVALID_HANDLE_VALUE)
                return Finish(t, smtp::NOT_STORED);
        }
        DWORD got = 0;
        if (!ReadData(t.copy_in, buf, sizeof buf, &got)) return Finish(t, smtp::NOT_STORED);
        if (got == 0) {
            bool flushed = FlushFileBuffers(t.copy_out) != FALSE;
            CloseFile(t.copy_in);
            CloseFile(t.copy_out);
            if (!flushed) return Finish(t, smtp::NO_ROOM);
            continue;
        }
        if (!WriteWhole(t.copy_out, buf, got)) return Finish(t, smtp::NO_ROOM);
        return;   // one piece a round
    }
    Finish(t, Publish(t));
}

// ---- the end of a conversation -----------------------------------------------------------------

void Close(Mailer& t) {
    EndTransaction(t);
    EndConnection(t.conn);
    ShowConnections();
}

// A command that is no command: after MAX_BAD_COMMANDS of them the conversation ends.
void Bad(Mailer& t, const char* reply) {
    if (++t.conn.bad_commands < MAX_BAD_COMMANDS) return Say(t, reply);
    Say(t, smtp::TOO_MANY_BAD);
    t.conn.quitting = true;
}

// ---- commands ----------------------------------------------------------------------------------

// The user RCPT names, case-insensitively, with a mailbox of its own; -1 when none.
int FindRecipient(const char* local, bool postmaster) {
    const char* name = postmaster ? s_settings.postmaster : local;
    for (int i = 0; postmaster && !name[0] && i < static_cast<int>(g_users.count); ++i)
        if (UserAccess(i) == ACCESS_FULL && MailboxFolder(i)) return i;
    for (int i = 0; i < static_cast<int>(g_users.count); ++i) {
        char user[NAME_SIZE];
        CopyText(user, sizeof user, g_users.users[i].name);
        if (smtp::SameText(user, name) && MailboxFolder(i)) return i;
    }
    return -1;
}

void DoHelo(Mailer& t, const smtp::Command& c) {
    char name[sizeof t.helo];
    if (!smtp::ReadHeloName(c.args, c.args_len, name)) return Bad(t, smtp::SYNTAX);
    EndTransaction(t);
    std::strcpy(t.helo, name);
    t.extended = c.verb == smtp::Verb::Ehlo;
    t.state = State::Ready;
    char reply[smtp::MAX_REPLY + 1];
    Queue(t.conn, reply, smtp::FormatHelo(reply, s_settings.domain, t.extended, s_settings.max_size));
}

void DoMail(Mailer& t, const smtp::Command& c) {
    if (t.state == State::Fresh) return Bad(t, smtp::NO_HELO);
    if (t.state != State::Ready) return Bad(t, smtp::NESTED_MAIL);
    smtp::MailFrom from;
    switch (smtp::ParseMailFrom(c.args, c.args_len, &from)) {
    case smtp::PathStatus::Ok: break;
    case smtp::PathStatus::Params: return Bad(t, smtp::BAD_PARAMS);
    default: return Bad(t, smtp::SYNTAX);
    }
    if (from.size > s_settings.max_size) return Say(t, smtp::TOO_BIG);
    std::strcpy(t.sender, from.path);
    t.state = State::Mail;
    Say(t, smtp::OK);
}

// A recipient refused: logged with what was asked for, cut to a readable length.
void RefuseRecipient(Mailer& t, const smtp::Command& c, const char* reason, const char* reply) {
    const char* from = c.args;
    std::size_t len = c.args_len;
    if (len >= 3 && (from[0] | 0x20) == 't' && (from[1] | 0x20) == 'o' && from[2] == ':') from += 3, len -= 3;
    char to[128];
    std::size_t n = len < sizeof to - 1 ? len : sizeof to - 1;
    std::memcpy(to, from, n);
    to[n] = '\0';
    LogLine(logsrc::SMTP, t.conn.address, "refused").Text("reason", reason).Text("from", t.sender).Text("to", to).Write();
    Bad(t, reply);
}

void DoRcpt(Mailer& t, const smtp::Command& c) {
    if (t.state != State::Mail) return Bad(t, t.state == State::Fresh ? smtp::NO_HELO : smtp::NO_MAIL);
    char local[smtp::MAX_LOCAL + 1];
    bool postmaster = false;
    switch (smtp::ParseRcptTo(c.args, c.args_len, s_settings.domain, local, &postmaster)) {
    case smtp::PathStatus::Ok: break;
    case smtp::PathStatus::Relay:
    case smtp::PathStatus::Foreign: return RefuseRecipient(t, c, "relay", smtp::RELAY);
    case smtp::PathStatus::Params: return Bad(t, smtp::BAD_PARAMS);
    default: return Bad(t, smtp::SYNTAX);
    }
    int user = FindRecipient(local, postmaster);
    if (user < 0) return RefuseRecipient(t, c, "unknown-user", smtp::NO_USER);
    char name[NAME_SIZE];
    CopyText(name, sizeof name, g_users.users[user].name);
    for (int i = 0; i < t.rcpt_count; ++i)
        if (std::strcmp(t.rcpts[i], name) == 0) return Say(t, smtp::OK);   // one letter each
    if (t.rcpt_count == MAX_RCPTS) return Say(t, smtp::TOO_MANY_RCPTS);
    std::strcpy(t.rcpts[t.rcpt_count++], name);
    Say(t, smtp::OK);
}

void DoData(Mailer& t) {
    if (t.state != State::Mail) return Bad(t, t.state == State::Fresh ? smtp::NO_HELO : smtp::NO_MAIL);
    if (t.rcpt_count == 0) return Bad(t, smtp::NO_RCPT);
    const char* folder = FolderOf(t.rcpts[0]);
    if (!folder || !TempPath(t, folder, 0, t.temps[0]) || (t.file = CreateTemp(t.temps[0])) == INVALID_HANDLE_VALUE)
        return Say(t, smtp::NOT_STORED);
    t.temp_count = 1;
    smtp::DataReset(t.data);
    t.write_failed = false;
    WriteHead(t);
    t.state = State::Data;
    Say(t, smtp::START_DATA);
}

void Execute(Mailer& t, const smtp::Command& c) {
    if (c.too_long) return Bad(t, smtp::TOO_LONG);
    char reply[smtp::MAX_REPLY + 1];
    switch (c.verb) {
    case smtp::Verb::Helo:
    case smtp::Verb::Ehlo: return DoHelo(t, c);
    case smtp::Verb::Mail: return DoMail(t, c);
    case smtp::Verb::Rcpt: return DoRcpt(t, c);
    case smtp::Verb::Data: return DoData(t);
    case smtp::Verb::Rset:
        EndTransaction(t);
        return Say(t, smtp::OK);
    case smtp::Verb::Noop: return Say(t, smtp::OK);
    case smtp::Verb::Vrfy: return Say(t, smtp::VRFY_REPLY);
    case smtp::Verb::Quit:
        Queue(t.conn, reply, smtp::FormatBye(reply, s_settings.domain));
        t.conn.quitting = true;
        return;
    case smtp::Verb::NotDone: return Bad(t, smtp::NOT_DONE);
    default: return Bad(t, smtp::UNKNOWN);
    }
}

// ---- the work of one event -----------------------------------------------------------------------

bool TakeCommand(Mailer& t) {
    std::size_t used = 0;
    smtp::Command c;
    bool whole = smtp::NextCommand(t.lines, t.conn.in, t.conn.in_len, &used, &c);
    Consume(t.conn, used);
    if (whole) {
        Touch(t.conn);
        Execute(t, c);
    }
    return whole;
}

// Takes the data received; false when there is none.  The letter stops being written once it is
// over MaxSize or a write failed, but the data is read to its end all the same.
bool TakeData(Mailer& t) {
    Connection& c = t.conn;
    if (c.in_len == 0) return false;
    std::size_t used = 0;
    std::size_t n = smtp::DataFeed(t.data, c.in, c.in_len, &used, t.chunk);
    Consume(c, used);
    Touch(c);
    if (!t.write_failed && t.data.octets <= s_settings.max_size && !t.data.bare_line_end &&
        !WriteWhole(t.file, t.chunk, static_cast<DWORD>(n)))
        t.write_failed = true;
    if (!smtp::DataEnded(t.data)) return true;
    if (const char* refusal = Refusal(t)) Finish(t, refusal);
    else t.state = State::Deliver;
    return true;
}

void Work(Mailer& t, int event) {
    Connection& c = t.conn;
    if (event == FD_CLOSE) c.peer_closed = true;
    if (Expired(c) != Expiry::None) {
        if (!OutputPending(c)) {
            Say(t, smtp::TIMEOUT);
            Flush(c);
        }
        return Close(t);
    }
    bool received = false;
    Received r = Received::Nothing;
    if (event != FD_WRITE && !c.at_end && c.in_len < IN_ROOM) {
        received = true;
        r = Receive(c, IN_ROOM);
        if (c.broken) return Close(t);
    }
    int round = 0;
    for (; round < ROUNDS_PER_EVENT; ++round) {
        if (c.broken || !Flush(c)) break;   // FD_WRITE brings the rest
        if (c.quitting) return Close(t);
        if (t.state == State::Deliver) {
            DeliverSome(t);
            continue;
        }
        if (!(t.state == State::Data ? TakeData(t) : TakeCommand(t))) break;
    }
    if (c.broken) return Close(t);
    bool idle = c.out_len == 0 && t.state != State::Deliver;
    // The peer sends no more, and everything it sent is answered: a letter cut short is dropped.
    if (c.at_end && idle && round < ROUNDS_PER_EVENT) return Close(t);
    if (round == ROUNDS_PER_EVENT || (!received && idle && c.in_len < IN_ROOM) ||
        (c.peer_closed && r == Received::Data))
        Repost(c);
}

void Refuse(SOCKET s, const sockaddr_in& peer, const char* why, const char* text) {
    LogLine(logsrc::SMTP, peer.sin_addr.s_addr, "refused").Text("reason", why).Write();
    send(s, text, static_cast<int>(std::strlen(text)), 0);
    closesocket(s);
}

void Begin(SOCKET s, const sockaddr_in& peer) {
    char reply[smtp::MAX_REPLY + 1];
    if (!smtp::InNetworks(s_settings.nets, s_settings.net_count, ntohl(peer.sin_addr.s_addr))) {
        reply[smtp::FormatDenied(reply, s_settings.domain)] = '\0';
        return Refuse(s, peer, "networks", reply);
    }
    Mailer* t = nullptr;
    for (Mailer& slot : s_mailers)
        if (!IsOpen(slot.conn)) {
            t = &slot;
            break;
        }
    if (!t) return Refuse(s, peer, "too-many", smtp::BUSY);
    if (ConnectionsFrom(Listener::Smtp, peer.sin_addr.s_addr) >= s_settings.per_address)
        return Refuse(s, peer, "per-address", smtp::BUSY_ADDRESS);
    BeginConnection(t->conn, s, Listener::Smtp, peer, 0, s_settings.idle_seconds);
    t->state = State::Fresh;
    t->file = t->copy_in = t->copy_out = INVALID_HANDLE_VALUE;
    t->temp_count = 0;
    t->rcpt_count = 0;
    t->helo[0] = '\0';
    smtp::LineReset(t->lines);
    LogLine(logsrc::SMTP, peer.sin_addr.s_addr, "connect").Write();
    Queue(t->conn, reply, smtp::FormatGreeting(reply, s_settings.domain));
    Work(*t, FD_WRITE);
}

// Every connection waiting in the queue is taken at once.
void Accept() {
    sockaddr_in peer;
    SOCKET s;
    for (int taken = 0; (s = AcceptPending(s_listener, &peer, &taken)) != INVALID_SOCKET;) Begin(s, peer);
    ShowConnections();
}

}  // namespace

void ReadMailDomain(char (&out)[MAIL_DOMAIN_SIZE]) {
    IniText("SMTP", "Domain", "", out, sizeof out);
    bool plain = out[0] != '\0';
    for (const char* p = out; *p; ++p)
        plain = plain && ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') ||
                          *p == '.' || *p == '-');
    if (!plain && (gethostname(out, sizeof out) != 0 || !out[0])) std::strcpy(out, "localhost");
    out[sizeof out - 1] = '\0';
    for (char* p = out; *p; ++p)
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
}

unsigned short StartSmtp() {
    unsigned port = IniNumber("SMTP", "Port", 0);
    if (port == 0 || port > 65535 || s_listener != INVALID_SOCKET) return 0;
    char nets[512];
    IniText("SMTP", "Networks", smtp::DEFAULT_NETWORKS, nets, sizeof nets);
    s_settings.net_count = smtp::ParseNetworks(nets, s_settings.nets, smtp::MAX_NETWORKS);
    if (s_settings.net_count < 0) {
        FileWarning("Quorrel.ini: [SMTP] Networks= не понят. Приём почты не включён.");
        return 0;
    }
    s_settings.port = static_cast<unsigned short>(port);
    ReadMailDomain(s_settings.domain);
    s_settings.max_size = IniNumber("SMTP", "MaxSize", 10485760);
    IniText("SMTP", "Postmaster", "", s_settings.postmaster, sizeof s_settings.postmaster);
    s_settings.idle_seconds = IniNumber("SMTP", "IdleSeconds", 300);
    s_settings.per_address = static_cast<int>(IniNumber("SMTP", "PerAddress", 6));
    if (s_settings.per_address == 0) s_settings.per_address = 6;
    return OpenExtraListener(s_settings.port, &s_listener) ? s_settings.port : 0;
}

void DropSmtpSessions() {
    for (Mailer& t : s_mailers)
        if (IsOpen(t.conn)) Close(t);
}

void StopSmtp() {
    if (s_listener != INVALID_SOCKET) closesocket(s_listener);
    s_listener = INVALID_SOCKET;
    DropSmtpSessions();
}

bool OnSmtpEvent(SOCKET s, LPARAM lp) {
    int event = WSAGETSELECTEVENT(lp);
    if (s_listener != INVALID_SOCKET && s == s_listener) {
        if (event == FD_ACCEPT && WSAGETSELECTERROR(lp) == 0) Accept();
        return true;
    }
    Mailer* t = Find(s);
    if (!t) return false;
    // As for POP3: an error or a close is believed only once the socket says it is at its end.
    Work(*t, WSAGETSELECTERROR(lp) ? FD_READ : event);
    return true;
}

void ResetSmtp() {
    for (Mailer& t : s_mailers) {
        t.conn.socket = INVALID_SOCKET;
        EndConnection(t.conn);
        t.file = t.copy_in = t.copy_out = INVALID_HANDLE_VALUE;
        t.temp_count = 0;
        t.state = State::Fresh;
    }
    s_listener = INVALID_SOCKET;
    s_settings = Settings{};
}
