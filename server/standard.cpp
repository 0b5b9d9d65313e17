// The standard POP3 listener and its conversations.
//
// Each conversation has a slot of its own: its connection, its login, its mailbox (open to it
// alone, in either protocol, from PASS to its end) and the letters of that mailbox as they were at
// PASS.  The next command is taken only once the reply before has gone, so commands sent together
// are answered in order.  Every event does a bounded piece of work, so a client that floods or
// never reads can't hold the window, and neither can a big mailbox being counted.
#include "standard.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "command.h"
#include "connection.h"
#include "engine.h"
#include "fileio.h"
#include "log.h"
#include "mailbox.h"
#include "message.h"
#include "reply.h"
#include "server.h"
#include "smtp.h"
#include "uid.h"
#include "users.h"

namespace {

// A letter is read in pieces of this size: under Wine every read has a price of its own.
constexpr std::size_t FILE_CHUNK = 256 * 1024;
// One event's turn of a conversation: so many rounds (a command and its reply, or a piece of one)
// and so many bytes sent or counted, whichever ends first.  Then it lets the others, the dialect's
// connection and the window have theirs, and comes back behind them.
constexpr int ROUNDS_PER_EVENT = 32;
constexpr std::size_t BYTES_PER_EVENT = 256 * 1024;
constexpr int COUNT_FILES_PER_ROUND = 64;       // counting in one round: letters opened
constexpr int MAX_BAD_COMMANDS = 20;

struct Settings {
    unsigned short port;
    unsigned login_seconds, idle_seconds;
    int per_address;
};
Settings s_settings;

// A letter as the conversation serves it: the file it was at PASS, and what RETR sends of it.
struct Served {
    std::string name;
    std::uint64_t size;
    FILETIME written;
    unsigned long long octets;    // what RETR sends before the last line
    char status;                  // the file's status byte: 'R', '0', or 0 for none
    bool counted, unreadable, deleted, retrieved;
};

// What is known of letter files across conversations and logins, by folder and name: a file of the
// same size and write time has the same octet count.
struct Counted {
    std::uint64_t size;
    FILETIME written;
    unsigned long long octets;
    char status;
};
std::map<std::string, std::map<std::string, Counted>> s_counted;

enum class Phase { Authorization, Transaction };
enum class Job { None, Count, Letter, List, Uidl };

struct Session {
    Connection conn;
    Phase phase;
    char folder[NAME_SIZE];       // the mailbox open to it, "" when none
    pop3::LineCollector lines;
    char password[pop3::MAX_ARG + 1];
    bool pass_waiting;            // a PASS is taken and not yet answered (its time may not have come)
    Job job;                      // the reply on its way
    std::size_t cursor;           // Count, List, Uidl: the next letter
    HANDLE file;                  // Count, Letter: the letter being read
    pop3::Renderer renderer;
    unsigned char chunk[FILE_CHUNK];
    std::size_t chunk_len, chunk_pos;
    std::size_t turn_left;        // bytes this event may still send or count
    bool file_done;
    bool first_chunk;             // Count: the next piece read is the letter's first
    bool ended;                   // its end is logged (QUIT, autologout): not as "closed"
    std::vector<Served> letters;
};

Session s_sessions[MAX_SESSIONS];
char s_host_name[pop3::MAX_HOST + 1];
char s_domain[MAIL_DOMAIN_SIZE];   // for the From: of made-up headers

int Owner(const Session& t) { return static_cast<int>(&t - s_sessions) + 1; }

Session* Find(SOCKET s) {
    for (Session& t : s_sessions)
        if (IsOpen(t.conn) && t.conn.socket == s) return &t;
    return nullptr;
}

void Ok(Session& t, const char* text) {
    char line[pop3::MAX_REPLY + 1];
    Queue(t.conn, line, pop3::FormatOk(line, text));
}

void Err(Session& t, const char* text, const char* code = nullptr) {
    char line[pop3::MAX_REPLY + 1];
    Queue(t.conn, line, pop3::FormatErr(line, code, text));
}

// ---- the letters of a conversation -------------------------------------------------------------

bool PathOf(const Session& t, const Served& l, char (&path)[MAX_PATH]) {
    return std::snprintf(path, sizeof path, "%s\\%s", t.folder, l.name.c_str()) < static_cast<int>(sizeof path);
}

long long UnixTime(const FILETIME& ft) {
    unsigned long long t = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    const unsigned long long kEpoch = 116444736000000000ull;   // 1970-01-01 in FILETIME units
    return t < kEpoch ? 0 : static_cast<long long>((t - kEpoch) / 10000000ull);
}

bool SameTime(const FILETIME& a, const FILETIME& b) { return CompareFileTime(&a, &b) == 0; }

void StartLetter(Session& t, const Served& l, long long top_lines) {
    char uid[pop3::MAX_UID_LEN + 1];
    pop3::MakeUid(l.name.c_str(), uid);
    pop3::LetterMeta meta = {UnixTime(l.written), uid, s_host_name, s_domain};
    pop3::Begin(t.renderer, meta, top_lines);
    t.chunk_len = t.chunk_pos = 0;
    t.file_done = false;
}

enum class Chunk { Data, End, Failed };

// Reads the next piece of the letter being read.
Chunk ReadChunk(Session& t) {
    DWORD got = 0;
    if (!ReadData(t.file, t.chunk, sizeof t.chunk, &got)) return Chunk::Failed;
    if (got == 0) return Chunk::End;
    t.chunk_len = got;
    t.chunk_pos = 0;
    return Chunk::Data;
}

void CloseLetter(Session& t) {
    if (t.file != INVALID_HANDLE_VALUE) CloseHandle(t.file);
    t.file = INVALID_HANDLE_VALUE;
}

// PASS: the mailbox's letter files as they are now, in one folder walk; those known from before
// are counted already.
void TakeLetters(Session& t) {
    t.letters.clear();
    if (!t.folder[0]) return;
    std::map<std::string, Counted>& known = s_counted[t.folder];
    std::map<std::string, Counted> kept;   // what is known of the files there now
    LetterWalk walk;
    LetterFile f;
    for (bool more = FirstLetterFile(t.folder, walk, f); more; more = NextLetterFile(walk, f)) {
        Served l = {};
        l.name = f.name;
        l.size = f.size;
        l.written = f.written;
        auto k = known.find(l.name);
        if (k != known.end() && k->second.size == l.size && SameTime(k->second.written, l.written)) {
            l.octets = k->second.octets;
            l.status = k->second.status;
            l.counted = true;
            kept.insert(*k);
        }
        t.letters.push_back(std::move(l));
    }
    EndLetterWalk(walk);
    known.swap(kept);
}

// Opens a letter to be counted; false when it can't be.  Its size and write time are taken from
// the open file, which is what is counted.
bool OpenToCount(Session& t, Served& l) {
    char path[MAX_PATH];
    t.file = PathOf(t, l, path) ? OpenLetterFile(path) : INVALID_HANDLE_VALUE;
    LARGE_INTEGER size;
    if (t.file == INVALID_HANDLE_VALUE || !GetFileSizeEx(t.file, &size) ||
        !GetFileTime(t.file, nullptr, nullptr, &l.written)) {
        CloseLetter(t);
        return false;
    }
    l.size = static_cast<std::uint64_t>(size.QuadPart);
    l.status = 0;
    t.first_chunk = true;   // it holds the status byte
    StartLetter(t, l, -1);
    return true;
}

void Tally(const Session& t, unsigned long* count, unsigned long long* octets) {
    *count = 0;
    *octets = 0;
    for (const Served& l : t.letters)
        if (!l.deleted) {
            ++*count;
            *octets += l.octets;
        }
}

// Counts a piece of the letters not known yet, bounded in files opened and in bytes read (out of
// the event's turn), so that a big mailbox or a big letter holds nobody up; once all are counted,
// PASS is answered.  A letter that can't be opened or read (held open elsewhere, gone) is not
// served.
void CountSome(Session& t) {
    std::size_t& budget = t.turn_left;
    for (int opened = 0; t.cursor < t.letters.size() && budget > 0;) {
        Served& l = t.letters[t.cursor];
        if (l.counted) {
            ++t.cursor;
            continue;
        }
        if (t.file == INVALID_HANDLE_VALUE) {
            if (opened++ == COUNT_FILES_PER_ROUND) break;
            if (!OpenToCount(t, l)) {
                SoundBeep(MB_OK);
                l.unreadable = true;
                ++t.cursor;
                continue;
            }
        }
        Chunk got = ReadChunk(t);
        if (got == Chunk::Data) {
            if (t.first_chunk && (t.chunk[0] == 'R' || t.chunk[0] == '0')) l.status = static_cast<char>(t.chunk[0]);
            t.first_chunk = false;
            std::size_t used = 0;
            pop3::Feed(t.renderer, t.chunk, t.chunk_len, &used, nullptr, 0);
            budget -= t.chunk_len < budget ? t.chunk_len : budget;
            continue;
        }
        CloseLetter(t);
        ++t.cursor;
        if (got == Chunk::Failed) {
            SoundBeep(MB_OK);
            l.unreadable = true;
            continue;
        }
        while (!pop3::Finished(t.renderer)) pop3::Finish(t.renderer, nullptr, 0);
        l.octets = pop3::Octets(t.renderer);
        l.counted = true;
        s_counted[t.folder][l.name] = Counted{l.size, l.written, l.octets, l.status};
    }
    if (t.cursor < t.letters.size()) return;
    std::vector<Served> served;
    served.reserve(t.letters.size());
    for (Served& l : t.letters)
        if (!l.unreadable) served.push_back(std::move(l));
    t.letters.swap(served);
    unsigned long count = 0;
    unsigned long long octets = 0;
    Tally(t, &count, &octets);
    char text[64];
    std::snprintf(text, sizeof text, "%lu messages (%llu octets)", count, octets);
    Ok(t, text);
    t.job = Job::None;
}

// Writes the marks back and logs what they were; false when a letter marked deleted could not be
// removed.
bool Commit(Session& t) {
    bool all = true;
    unsigned deleted = 0, read = 0, failed = 0;
    for (Served& l : t.letters) {
        if (!l.deleted && !l.retrieved) continue;
        char path[MAX_PATH];
        if (!PathOf(t, l, path)) continue;
        bool done = CommitLetterFile(path, l.deleted, l.retrieved || l.status == 'R', l.status, l.size, l.written);
        all = all && done;
        if (l.deleted) ++(done ? deleted : failed);
        else if (l.status != 'R') ++read;
        auto& known = s_counted[t.folder];
        auto k = known.find(l.name);
        if (k == known.end()) continue;
        if (l.deleted && done) known.erase(k);
        else if (!l.deleted && l.status == '0') k->second.status = 'R';   // the write time stays
    }
    LogLine(logsrc::POP3, t.conn.address, "quit")
        .Text("user", t.conn.user_name)
        .Number("deleted", deleted)
        .Number("read", read)
        .Number("failed", failed)
        .Write();
    return all;
}

// ---- the end of a conversation -----------------------------------------------------------------

// Closes the conversation; unless its end was logged already, it is logged as "closed" (nothing
// committed), with `why` when given.
void Close(Session& t, const char* why = nullptr) {
    if (!t.ended) {
        LogLine line(logsrc::POP3, t.conn.address, "closed");
        if (t.conn.user_name[0]) line.Text("user", t.conn.user_name);
        if (why) line.Text("reason", why);
        line.Write();
    }
    t.ended = false;
    CloseLetter(t);
    CloseMailbox(Owner(t));
    EndConnection(t.conn);
    std::vector<Served>().swap(t.letters);
    SecureZeroMemory(t.password, sizeof t.password);
    t.pass_waiting = false;
    t.job = Job::None;
    ShowConnections();
}

// ---- commands ----------------------------------------------------------------------------------

// The letter a number names, or -1 when it names none (or a deleted one).
long Letter(const Session& t, unsigned long n) {
    if (n < 1 || n > t.letters.size() || t.letters[n - 1].deleted) return -1;
    return static_cast<long>(n - 1);
}

bool Refused(const Session& t, AccessLevel refusing) {
    if (UserAccess(t.conn.user) != refusing) return false;
    SoundBeep(MB_OK);
    return true;
}

void DoPass(Session& t) {
    Connection& c = t.conn;
    int user = FindUserIndex(c.user_name);
    bool ok = user >= 0 && std::strlen(t.password) < PASSWORD_SIZE &&
              std::strcmp(t.password, g_users.users[user].password) == 0;
    SecureZeroMemory(t.password, sizeof t.password);
    if (!ok) {
        LogLine(logsrc::POP3, c.address, "login-failed").Text("user", c.user_name).Write();
        LoginFailed(c);
        c.user_name[0] = '\0';
        return Err(t, "wrong name or password");
    }
    LogLine(logsrc::POP3, c.address, "login").Text("user", c.user_name).Write();
    LoginSucceeded(c);
    const char* folder = MailboxFolder(user);
    if (folder && !OpenMailbox(folder, Owner(t))) {
        c.user_name[0] = '\0';
        return Err(t, "the mailbox is in use", "IN-USE");
    }
    std::strcpy(t.folder, folder ? folder : "");
    ActFor(c, c.user_name, user);
    c.logged_in = true;
    t.phase = Phase::Transaction;
    TakeLetters(t);
    t.job = Job::Count;
    t.cursor = 0;
}

void DoListing(Session& t, const pop3::CommandLine& c, Job job) {
    char line[pop3::MAX_REPLY + 1];
    if (c.argc == 1) {
        long i = Letter(t, c.number[0]);
        if (i < 0) return Err(t, "no such message");
        char uid[pop3::MAX_UID_LEN + 1];
        pop3::MakeUid(t.letters[i].name.c_str(), uid);
        Queue(t.conn, line, job == Job::List ? pop3::FormatListLine(line, true, c.number[0], t.letters[i].octets)
                                             : pop3::FormatUidLine(line, true, c.number[0], uid));
        return;
    }
    unsigned long count = 0;
    unsigned long long octets = 0;
    Tally(t, &count, &octets);
    if (job == Job::List) SetLetterCount(t.conn.user, static_cast<int>(count));
    Ok(t, job == Job::List ? "scan listing follows" : "unique-id listing follows");
    t.job = job;
    t.cursor = 0;
}

// RETR and TOP: only the file that was counted at PASS is sent.
void DoSend(Session& t, const pop3::CommandLine& c, bool top) {
    if (Refused(t, ACCESS_NONE)) return Err(t, "no access");
    long i = Letter(t, c.number[0]);
    if (i < 0) return Err(t, "no such message");
    Served& l = t.letters[i];
    char path[MAX_PATH];
    t.file = PathOf(t, l, path) ? OpenLetterFile(path) : INVALID_HANDLE_VALUE;
    if (t.file == INVALID_HANDLE_VALUE) {
        SoundBeep(MB_OK);
        return Err(t, "the message can't be read now");
    }
    if (!SameLetterFile(t.file, l.size, l.written)) {
        CloseLetter(t);
        return Err(t, "the message has changed since login");
    }
    StartLetter(t, l, top ? static_cast<long long>(c.number[1]) : -1);
    if (!top) l.retrieved = true;
    char text[48];
    std::snprintf(text, sizeof text, "%llu octets", l.octets);
    Ok(t, top ? "top of message follows" : text);
    t.job = Job::Letter;
}

void Transaction(Session& t, const pop3::CommandLine& c) {
    switch (c.verb) {
    case pop3::Verb::Stat: {
        unsigned long count = 0;
        unsigned long long octets = 0;
        Tally(t, &count, &octets);
        SetLetterCount(t.conn.user, static_cast<int>(count));
        char line[pop3::MAX_REPLY + 1];
        Queue(t.conn, line, pop3::FormatStat(line, count, octets));
        break;
    }
    case pop3::Verb::List: DoListing(t, c, Job::List); break;
    case pop3::Verb::Uidl: DoListing(t, c, Job::Uidl); break;
    case pop3::Verb::Retr: DoSend(t, c, false); break;
    case pop3::Verb::Top:  DoSend(t, c, true); break;
    case pop3::Verb::Dele: {
        if (Refused(t, ACCESS_READ_ONLY)) return Err(t, "read only");
        long i = Letter(t, c.number[0]);
        if (i < 0) return Err(t, "no such message");
        t.letters[i].deleted = true;
        Ok(t, "marked to be deleted");
        break;
    }
    case pop3::Verb::Rset:
        for (Served& l : t.letters) l.deleted = l.retrieved = false;
        Ok(t, "");
        break;
    case pop3::Verb::Noop: Ok(t, ""); break;
    default: Err(t, "not now"); break;
    }
}

// A command that is no command: after MAX_BAD_COMMANDS of them the conversation ends.
void Bad(Session& t, const char* text) {
    if (++t.conn.bad_commands < MAX_BAD_COMMANDS) return Err(t, text);
    Err(t, "too many bad commands");
    LogLine(logsrc::POP3, t.conn.address, "closed").Text("reason", "bad-commands").Write();
    t.ended = true;
    t.conn.quitting = true;
}

void Execute(Session& t, const pop3::CommandLine& c) {
    if (c.too_long) return Bad(t, "line too long");
    if (c.verb == pop3::Verb::Unknown) return Bad(t, "unknown command");
    if (c.bad_args) return Bad(t, "bad arguments");
    switch (c.verb) {
    case pop3::Verb::Capa:
        Queue(t.conn, pop3::CAPA_REPLY, sizeof pop3::CAPA_REPLY - 1);
        return;
    case pop3::Verb::Quit:
        if (t.phase == Phase::Transaction && !Commit(t)) Err(t, "some deleted messages not removed");
        else Ok(t, "bye");
        if (t.phase != Phase::Transaction) LogLine(logsrc::POP3, t.conn.address, "quit").Write();
        t.ended = true;
        t.conn.quitting = true;
        return;
    case pop3::Verb::User:
        if (t.phase != Phase::Authorization) return Err(t, "already logged in");
        ActFor(t.conn, std::strlen(c.args[0]) < NAME_SIZE ? c.args[0] : "", -1);
        return Ok(t, "");
    case pop3::Verb::Pass:
        if (t.phase != Phase::Authorization || !t.conn.user_name[0]) return Err(t, "USER first");
        CopyText(t.password, sizeof t.password, c.args[0]);
        t.pass_waiting = true;   // answered when its time comes
        return;
    default:
        if (t.phase != Phase::Transaction) return Err(t, "log in first");
        return Transaction(t, c);
    }
}

// ---- the work of one event -----------------------------------------------------------------------

// Fills the room left in the output with the reply on its way.  A multi-line reply always ends
// whole: its last line waits for room rather than break the conversation.
void Produce(Session& t) {
    Connection& c = t.conn;
    char line[pop3::MAX_REPLY + 1];
    while (t.job != Job::None && OutputRoom(c) >= pop3::MAX_REPLY && !c.broken) {
        if (t.job == Job::Count) {
            CountSome(t);
            return;   // one piece a round
        }
        if (t.job == Job::List || t.job == Job::Uidl) {
            while (t.cursor < t.letters.size() && t.letters[t.cursor].deleted) ++t.cursor;
            if (t.cursor == t.letters.size()) {
                Queue(c, pop3::TERMINATOR, pop3::TERMINATOR_LEN);
                t.job = Job::None;
                break;
            }
            const Served& l = t.letters[t.cursor];
            unsigned long n = static_cast<unsigned long>(t.cursor + 1);
            char uid[pop3::MAX_UID_LEN + 1];
            pop3::MakeUid(l.name.c_str(), uid);
            Queue(c, line, t.job == Job::List ? pop3::FormatListLine(line, false, n, l.octets)
                                              : pop3::FormatUidLine(line, false, n, uid));
            ++t.cursor;
            continue;
        }
        unsigned char* room = c.out + c.out_len;
        std::size_t cap = OutputRoom(c);
        if (!t.file_done && t.chunk_pos == t.chunk_len) {
            Chunk got = ReadChunk(t);
            if (got == Chunk::Failed) {
                c.broken = true;   // a letter cut short is never passed off as whole
                return;
            }
            if (got == Chunk::End) t.file_done = true;
        }
        if (!t.file_done) {
            std::size_t used = 0;
            c.out_len += pop3::Feed(t.renderer, t.chunk + t.chunk_pos, t.chunk_len - t.chunk_pos, &used, room, cap);
            t.chunk_pos += used;
            if (pop3::Stopped(t.renderer)) t.file_done = true;
            continue;
        }
        c.out_len += pop3::Finish(t.renderer, room, cap);
        if (!pop3::Finished(t.renderer)) continue;
        if (OutputRoom(c) < pop3::TERMINATOR_LEN) break;   // next time, after a send
        Queue(c, pop3::TERMINATOR, pop3::TERMINATOR_LEN);
        CloseLetter(t);
        t.job = Job::None;
    }
}

// Answers the next whole command line received; false when none is waiting.
bool TakeCommand(Session& t) {
    std::size_t used = 0;
    pop3::CommandLine c;
    bool whole = pop3::NextCommand(t.lines, t.conn.in, t.conn.in_len, &used, &c);
    Consume(t.conn, used);
    if (whole) {
        Touch(t.conn);
        Execute(t, c);
    }
    return whole;
}

void Work(Session& t, int event) {
    Connection& c = t.conn;
    if (event == FD_CLOSE) c.peer_closed = true;
    if (Expiry e = Expired(c); e != Expiry::None) {
        LogLine line(logsrc::POP3, c.address, "autologout");
        if (c.user_name[0]) line.Text("user", c.user_name);
        line.Text("reason", e == Expiry::Idle ? "idle" : "login").Write();
        t.ended = true;
        // Said only between replies: never inside a multi-line one.
        if (!OutputPending(c) && t.job == Job::None) {
            Err(t, "disconnected for inactivity");
            Flush(c);
        }
        return Close(t);
    }
    bool received = false;
    Received r = Received::Nothing;
    if (event != FD_WRITE && !c.at_end && c.in_len < IN_ROOM) {
        received = true;
        r = Receive(c, IN_ROOM);
        if (c.broken) return Close(t, "error");
    }
    t.turn_left = BYTES_PER_EVENT;
    bool yielded = false;   // the turn ran out with work left
    for (int round = 0;; ++round) {
        if (round == ROUNDS_PER_EVENT || t.turn_left == 0) {
            yielded = true;
            break;
        }
        Produce(t);
        std::size_t queued = c.out_len - c.out_sent;
        t.turn_left -= queued < t.turn_left ? queued : t.turn_left;
        if (c.broken || !Flush(c)) break;   // FD_WRITE brings the rest
        if (t.job != Job::None) continue;
        if (c.quitting) return Close(t);
        if (t.pass_waiting) {
            if (!PassMayBeAnswered(c)) break;   // the sweep comes back when its time has come
            t.pass_waiting = false;
            DoPass(t);
            continue;
        }
        if (!TakeCommand(t)) break;
    }
    // A reply that broke ends the conversation before anything behind it is executed.
    if (c.broken) return Close(t, "error");
    bool idle = c.out_len == 0 && t.job == Job::None && !t.pass_waiting;
    // The peer sends no more, and every command it sent is answered.
    if (c.at_end && idle && !yielded) return Close(t, "peer");
    // Come back for what is left: more than one event's work, bytes that waited behind a full
    // buffer or a reply (WinSock posts no read event for them), or the rest after a close.
    if (yielded || (!received && idle && c.in_len < IN_ROOM) ||
        (c.peer_closed && r == Received::Data))
        Repost(c);
}

void Begin(SOCKET s, const sockaddr_in& peer) {
    Session* t = nullptr;
    for (Session& slot : s_sessions)
        if (!IsOpen(slot.conn)) {
            t = &slot;
            break;
        }
    const char* busy = nullptr;
    const char* why = nullptr;
    if (!t) {
        busy = "-ERR [SYS/TEMP] too many connections\r\n";
        why = "too-many";
    } else if (ConnectionsFrom(Listener::Pop3, peer.sin_addr.s_addr) >= s_settings.per_address) {
        busy = "-ERR [SYS/TEMP] too many connections from your address\r\n";
        why = "per-address";
    }
    if (busy) {
        LogLine(logsrc::POP3, peer.sin_addr.s_addr, "refused").Text("reason", why).Write();
        send(s, busy, static_cast<int>(std::strlen(busy)), 0);
        closesocket(s);
        return;
    }
    BeginConnection(t->conn, s, Listener::Pop3, peer, s_settings.login_seconds, s_settings.idle_seconds);
    t->phase = Phase::Authorization;
    t->folder[0] = '\0';
    t->job = Job::None;
    t->pass_waiting = false;
    t->ended = false;
    t->file = INVALID_HANDLE_VALUE;
    pop3::LineReset(t->lines);
    LogLine(logsrc::POP3, peer.sin_addr.s_addr, "connect").Write();
    Ok(*t, "Quorrel POP3 ready");
    Work(*t, FD_WRITE);
}

// Every connection waiting in the queue is taken at once: a burst of clients is not left to find
// the queue full.
void Accept() {
    sockaddr_in peer;
    SOCKET s;
    for (int taken = 0; (s = AcceptPending(g_server.standard_listener, &peer, &taken)) != INVALID_SOCKET;)
        Begin(s, peer);
    ShowConnections();
}

}  // namespace

unsigned short StandardPort() {
    unsigned port = IniNumber("POP3", "Port", 0);
    return port > 0 && port <= 65535 ? static_cast<unsigned short>(port) : 0;
}

unsigned short StartStandard() {
    unsigned short port = StandardPort();
    if (!port || g_server.standard_listener != INVALID_SOCKET) return 0;
    s_settings.port = port;
    s_settings.login_seconds = IniNumber("POP3", "LoginSeconds", 60);
    s_settings.idle_seconds = IniNumber("POP3", "IdleSeconds", 600);
    s_settings.per_address = static_cast<int>(IniNumber("POP3", "PerAddress", 6));
    if (s_settings.per_address == 0) s_settings.per_address = 6;   // none at all would lock everybody out
    char host[sizeof s_host_name];
    if (gethostname(host, sizeof host) != 0 || !host[0]) std::strcpy(host, "localhost");
    host[sizeof host - 1] = '\0';
    // Letters without headers name the postmaster as their sender once the server takes mail:
    // without an SMTP listener what mail clients see stays as it was.
    char domain[MAIL_DOMAIN_SIZE] = "";
    if (IniNumber("SMTP", "Port", 0)) ReadMailDomain(domain);
    // The counts hold the host name and the domain (in the headers of letters without any).
    if (std::strcmp(host, s_host_name) != 0 || std::strcmp(domain, s_domain) != 0) s_counted.clear();
    std::strcpy(s_host_name, host);
    std::strcpy(s_domain, domain);
    return OpenExtraListener(port, &g_server.standard_listener) ? port : 0;
}

void DropSessions() {
    for (Session& t : s_sessions)
        if (IsOpen(t.conn)) Close(t, "server");
}

void StopStandard() {
    if (g_server.standard_listener != INVALID_SOCKET) closesocket(g_server.standard_listener);
    g_server.standard_listener = INVALID_SOCKET;
    DropSessions();
}

bool OnStandardEvent(SOCKET s, LPARAM lp) {
    int event = WSAGETSELECTEVENT(lp);
    if (g_server.standard_listener != INVALID_SOCKET && s == g_server.standard_listener) {
        if (event == FD_ACCEPT && WSAGETSELECTERROR(lp) == 0) Accept();
        return true;
    }
    Session* t = Find(s);
    if (!t) return false;
    if (!FollowUser(t->conn)) {
        Close(*t, "user-gone");
        return true;
    }
    DialectTurn();
    // An error or a close is believed only once the socket itself says it is at its end: the
    // event may belong to an earlier socket whose handle value was reused.
    Work(*t, WSAGETSELECTERROR(lp) ? FD_READ : event);
    return true;
}

void FollowUserTableInSessions() {
    for (Session& t : s_sessions)
        if (IsOpen(t.conn) && !FollowUser(t.conn)) Close(t, "user-gone");
}

void ResetStandard() {
    for (Session& t : s_sessions) {
        t.conn.socket = INVALID_SOCKET;
        EndConnection(t.conn);
        t.file = INVALID_HANDLE_VALUE;
        t.job = Job::None;
        t.pass_waiting = false;
        std::vector<Served>().swap(t.letters);
    }
    s_counted.clear();
    s_host_name[0] = '\0';
    s_domain[0] = '\0';
    s_settings = Settings{};
}
