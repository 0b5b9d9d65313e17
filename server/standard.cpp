// The standard POP3 listener and its conversations.
//
// Each conversation has a slot of its own: its login, its mailbox (open to it alone, in either
// protocol, from PASS to its end), the letters of that mailbox as they were at PASS, and what it
// has received and not yet answered.  A reply that the socket can't take at once waits in the
// slot and goes on at FD_WRITE; the next command is read only once the reply before has gone, so
// commands sent together are answered in order.  Every event does a bounded piece of work, so a
// client that floods or never reads can't hold the window.
#include "standard.h"

#include <cstdio>
#include <cstring>

#include "command.h"
#include "mailbox.h"
#include "message.h"
#include "reply.h"
#include "server.h"
#include "uid.h"
#include "users.h"

namespace {

constexpr int MAX_SERVED = 1000;                  // letters of one conversation's mailbox
constexpr std::size_t NAME_POOL = 32 * 1024;      // their file names, one after another
constexpr std::size_t IN_ROOM = 1024;
constexpr std::size_t OUT_ROOM = 8192;
constexpr std::size_t FILE_CHUNK = 4096;
constexpr int ROUNDS_PER_EVENT = 32;
constexpr int BACKLOG = 10;
const char kIniFile[] = ".\\Quorrel.ini";
const char kNoAccess[] = "Нет доступа";
const char kReadOnly[] = "Только чтение";

struct Served {
    std::uint32_t name_at;        // where its file name starts in the name pool
    unsigned long long octets;    // what RETR sends before the last line
    long long write_time;         // Unix seconds
    char status;                  // the file's status byte at PASS: 'R', '0', or 0 for none
    bool deleted, retrieved;
};

enum class Phase { Authorization, Transaction };
enum class Job { None, Letter, List, Uidl };

struct Session {
    SOCKET socket;                // INVALID_SOCKET: the slot is free
    Phase phase;
    char user_name[NAME_SIZE];    // given with USER, "" before
    int user;                     // the user's record after PASS, -1 before
    unsigned table_seen;
    char folder[NAME_SIZE];       // the mailbox open to it, "" when none
    pop3::LineCollector lines;
    unsigned char in[IN_ROOM];    // received and not yet taken
    std::size_t in_len;
    unsigned char out[OUT_ROOM];  // to send
    std::size_t out_len, out_sent;
    Job job;                      // the multi-line reply on its way
    int cursor;                   // LIST and UIDL: the next letter to list
    HANDLE file;                  // RETR and TOP: the letter being sent
    pop3::Renderer renderer;
    unsigned char chunk[FILE_CHUNK];
    std::size_t chunk_len, chunk_pos;
    bool file_done;
    bool quitting;                // QUIT answered: closed once the reply is out
    bool broken;                  // a send failed: closed, nothing committed
    bool peer_closed;             // FD_CLOSE came: read on until the socket says it is at its end
    int count;
    Served letters[MAX_SERVED];
    char names[NAME_POOL];
    std::size_t names_used;
};

Session s_sessions[MAX_SESSIONS];
char s_host_name[pop3::MAX_HOST + 1];

int Owner(const Session& t) { return static_cast<int>(&t - s_sessions) + 1; }

Session* Find(SOCKET s) {
    for (Session& t : s_sessions)
        if (t.socket != INVALID_SOCKET && t.socket == s) return &t;
    return nullptr;
}

// ---- sending ----------------------------------------------------------------------------------

void Queue(Session& t, const char* bytes, std::size_t len) {
    if (len > OUT_ROOM - t.out_len) {
        t.broken = true;   // never: a reply line is at most MAX_REPLY, and one waits at a time
        return;
    }
    std::memcpy(t.out + t.out_len, bytes, len);
    t.out_len += len;
}

void Ok(Session& t, const char* text) {
    char line[pop3::MAX_REPLY + 1];
    Queue(t, line, pop3::FormatOk(line, text));
}

void Err(Session& t, const char* text, const char* code = nullptr) {
    char line[pop3::MAX_REPLY + 1];
    Queue(t, line, pop3::FormatErr(line, code, text));
}

// Sends what waits as far as the socket takes it; true when all of it went.
bool Flush(Session& t) {
    while (t.out_sent < t.out_len) {
        int n = send(t.socket, reinterpret_cast<const char*>(t.out + t.out_sent),
                     static_cast<int>(t.out_len - t.out_sent), 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK) t.broken = true;
            return false;
        }
        t.out_sent += static_cast<std::size_t>(n);
    }
    t.out_len = t.out_sent = 0;
    return true;
}

// ---- the mailbox of a conversation -------------------------------------------------------------

const char* NameOf(const Session& t, int i) { return t.names + t.letters[i].name_at; }

bool PathOf(const Session& t, int i, char (&path)[MAX_PATH]) {
    return std::snprintf(path, sizeof path, "%s\\%s", t.folder, NameOf(t, i)) < static_cast<int>(sizeof path);
}

long long UnixTime(const FILETIME& ft) {
    unsigned long long t = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    const unsigned long long kEpoch = 116444736000000000ull;   // 1970-01-01 in FILETIME units
    return t < kEpoch ? 0 : static_cast<long long>((t - kEpoch) / 10000000ull);
}

void StartLetter(Session& t, int i, long long top_lines) {
    char uid[pop3::MAX_UID_LEN + 1];
    pop3::MakeUid(NameOf(t, i), uid);
    pop3::LetterMeta meta = {t.letters[i].write_time, uid, s_host_name};
    pop3::Begin(t.renderer, meta, top_lines);
    t.chunk_len = t.chunk_pos = 0;
    t.file_done = false;
}

// Reads the next piece of the letter being sent; false at its end or when the read fails.
bool ReadChunk(Session& t) {
    DWORD got = 0;
    if (!ReadFile(t.file, t.chunk, sizeof t.chunk, &got, nullptr) || got == 0) return false;
    t.chunk_len = got;
    t.chunk_pos = 0;
    return true;
}

// The octets a letter takes and its status byte, read once at PASS; false when it can't be opened.
bool Measure(Session& t, int i, const char* path) {
    t.file = OpenLetterFile(path);
    if (t.file == INVALID_HANDLE_VALUE) return false;
    StartLetter(t, i, -1);
    t.letters[i].status = 0;
    bool first = true;
    while (ReadChunk(t)) {
        if (first && (t.chunk[0] == 'R' || t.chunk[0] == '0')) t.letters[i].status = static_cast<char>(t.chunk[0]);
        first = false;
        std::size_t used = 0;
        pop3::Feed(t.renderer, t.chunk, t.chunk_len, &used, nullptr, 0);
    }
    while (!pop3::Finished(t.renderer)) pop3::Finish(t.renderer, nullptr, 0);
    t.letters[i].octets = pop3::Octets(t.renderer);
    CloseHandle(t.file);
    t.file = INVALID_HANDLE_VALUE;
    return true;
}

// Takes the mailbox's letters as they are now: every letter file, up to MAX_SERVED.
void LoadServed(Session& t) {
    t.count = 0;
    t.names_used = 0;
    if (!t.folder[0]) return;
    LetterWalk walk;
    LetterFile f;
    for (bool more = FirstLetterFile(t.folder, walk, f); more && t.count < MAX_SERVED; more = NextLetterFile(walk, f)) {
        std::size_t n = std::strlen(f.name) + 1;
        if (n > NAME_POOL - t.names_used) break;
        Served& l = t.letters[t.count];
        l = Served{};
        l.name_at = static_cast<std::uint32_t>(t.names_used);
        l.write_time = UnixTime(f.written);
        std::memcpy(t.names + t.names_used, f.name, n);
        char path[MAX_PATH];
        if (!PathOf(t, t.count, path) || !Measure(t, t.count, path)) {
            SoundBeep(MB_OK);   // held open elsewhere, or gone: not served
            continue;
        }
        t.names_used += n;
        ++t.count;
    }
    EndLetterWalk(walk);
}

void Commit(Session& t) {
    for (int i = 0; i < t.count; ++i) {
        const Served& l = t.letters[i];
        if (!l.deleted && !l.retrieved) continue;
        char path[MAX_PATH];
        if (PathOf(t, i, path)) CommitLetterFile(path, l.deleted, l.retrieved || l.status == 'R', l.status);
    }
}

// ---- the end of a conversation -----------------------------------------------------------------

void Close(Session& t) {
    if (t.file != INVALID_HANDLE_VALUE) CloseHandle(t.file);
    if (t.socket != INVALID_SOCKET) closesocket(t.socket);
    CloseMailbox(Owner(t));
    t.socket = INVALID_SOCKET;
    t.file = INVALID_HANDLE_VALUE;
    --g_server.sessions;
    ShowConnections();
}

// ---- commands ----------------------------------------------------------------------------------

// The letter a number names, or -1 when it names none (or a deleted one).
int Letter(const Session& t, unsigned long n) {
    if (n < 1 || n > static_cast<unsigned long>(t.count) || t.letters[n - 1].deleted) return -1;
    return static_cast<int>(n - 1);
}

bool Refused(const Session& t, const char* status_text) {
    if (!ShowsStatus(t.user, status_text)) return false;
    SoundBeep(MB_OK);
    return true;
}

void Tally(const Session& t, unsigned long* count, unsigned long long* octets) {
    *count = 0;
    *octets = 0;
    for (int i = 0; i < t.count; ++i)
        if (!t.letters[i].deleted) {
            ++*count;
            *octets += t.letters[i].octets;
        }
}

void DoPass(Session& t, const char* password) {
    int user = t.user_name[0] ? FindUserIndex(t.user_name) : -1;
    bool ok = user >= 0 && std::strlen(password) < PASSWORD_SIZE &&
              std::strcmp(password, g_users.users[user].password) == 0;
    if (!ok) {
        t.user_name[0] = '\0';
        Err(t, "wrong name or password");
        return;
    }
    const char* folder = MailboxFolder(user);
    if (folder && !OpenMailbox(folder, Owner(t))) {
        t.user_name[0] = '\0';
        Err(t, "the mailbox is in use", "IN-USE");
        return;
    }
    std::strcpy(t.folder, folder ? folder : "");
    t.user = user;
    t.table_seen = UserTableGeneration();
    t.phase = Phase::Transaction;
    LoadServed(t);
    unsigned long count = 0;
    unsigned long long octets = 0;
    Tally(t, &count, &octets);
    char text[64];
    std::snprintf(text, sizeof text, "%lu messages (%llu octets)", count, octets);
    Ok(t, text);
}

void DoListing(Session& t, const pop3::CommandLine& c, Job job) {
    char line[pop3::MAX_REPLY + 1];
    if (c.argc == 1) {
        int i = Letter(t, c.number[0]);
        if (i < 0) return Err(t, "no such message");
        char uid[pop3::MAX_UID_LEN + 1];
        pop3::MakeUid(NameOf(t, i), uid);
        Queue(t, line, job == Job::List ? pop3::FormatListLine(line, true, c.number[0], t.letters[i].octets)
                                        : pop3::FormatUidLine(line, true, c.number[0], uid));
        return;
    }
    unsigned long count = 0;
    unsigned long long octets = 0;
    Tally(t, &count, &octets);
    if (job == Job::List) SetLetterCount(t.user, static_cast<int>(count));
    Ok(t, job == Job::List ? "scan listing follows" : "unique-id listing follows");
    t.job = job;
    t.cursor = 0;
}

void DoSend(Session& t, const pop3::CommandLine& c, bool top) {
    if (Refused(t, kNoAccess)) return Err(t, "no access");
    int i = Letter(t, c.number[0]);
    if (i < 0) return Err(t, "no such message");
    char path[MAX_PATH];
    t.file = PathOf(t, i, path) ? OpenLetterFile(path) : INVALID_HANDLE_VALUE;
    if (t.file == INVALID_HANDLE_VALUE) {
        SoundBeep(MB_OK);
        return Err(t, "the message can't be read now");
    }
    StartLetter(t, i, top ? static_cast<long long>(c.number[1]) : -1);
    if (!top) t.letters[i].retrieved = true;
    char text[48];
    std::snprintf(text, sizeof text, "%llu octets", t.letters[i].octets);
    Ok(t, top ? "top of message follows" : text);
    t.job = Job::Letter;
}

void Transaction(Session& t, const pop3::CommandLine& c) {
    switch (c.verb) {
    case pop3::Verb::Stat: {
        unsigned long count = 0;
        unsigned long long octets = 0;
        Tally(t, &count, &octets);
        SetLetterCount(t.user, static_cast<int>(count));
        char line[pop3::MAX_REPLY + 1];
        Queue(t, line, pop3::FormatStat(line, count, octets));
        break;
    }
    case pop3::Verb::List: DoListing(t, c, Job::List); break;
    case pop3::Verb::Uidl: DoListing(t, c, Job::Uidl); break;
    case pop3::Verb::Retr: DoSend(t, c, false); break;
    case pop3::Verb::Top:  DoSend(t, c, true); break;
    case pop3::Verb::Dele: {
        if (Refused(t, kReadOnly)) return Err(t, "read only");
        int i = Letter(t, c.number[0]);
        if (i < 0) return Err(t, "no such message");
        t.letters[i].deleted = true;
        Ok(t, "marked to be deleted");
        break;
    }
    case pop3::Verb::Rset:
        for (int i = 0; i < t.count; ++i) t.letters[i].deleted = t.letters[i].retrieved = false;
        Ok(t, "");
        break;
    case pop3::Verb::Noop: Ok(t, ""); break;
    default: Err(t, "not now"); break;
    }
}

void Execute(Session& t, const pop3::CommandLine& c) {
    if (c.too_long) return Err(t, "line too long");
    if (c.verb == pop3::Verb::Unknown) return Err(t, "unknown command");
    if (c.bad_args) return Err(t, "bad arguments");
    switch (c.verb) {
    case pop3::Verb::Capa:
        Queue(t, pop3::CAPA_REPLY, sizeof pop3::CAPA_REPLY - 1);
        return;
    case pop3::Verb::Quit:
        if (t.phase == Phase::Transaction) Commit(t);
        Ok(t, "bye");
        t.quitting = true;
        return;
    case pop3::Verb::User:
        if (t.phase != Phase::Authorization) return Err(t, "already logged in");
        CopyText(t.user_name, sizeof t.user_name, std::strlen(c.args[0]) < NAME_SIZE ? c.args[0] : "");
        return Ok(t, "");
    case pop3::Verb::Pass:
        if (t.phase != Phase::Authorization || !t.user_name[0]) return Err(t, "USER first");
        return DoPass(t, c.args[0]);
    default:
        if (t.phase != Phase::Transaction) return Err(t, "log in first");
        return Transaction(t, c);
    }
}

// ---- the work of one event -----------------------------------------------------------------------

// Fills the room left in `out` with the multi-line reply on its way.
void Produce(Session& t) {
    char line[pop3::MAX_REPLY + 1];
    while (t.job != Job::None && OUT_ROOM - t.out_len >= pop3::MAX_REPLY) {
        if (t.job == Job::List || t.job == Job::Uidl) {
            while (t.cursor < t.count && t.letters[t.cursor].deleted) ++t.cursor;
            if (t.cursor == t.count) {
                Queue(t, pop3::TERMINATOR, pop3::TERMINATOR_LEN);
                t.job = Job::None;
                break;
            }
            unsigned long n = static_cast<unsigned long>(t.cursor + 1);
            char uid[pop3::MAX_UID_LEN + 1];
            pop3::MakeUid(NameOf(t, t.cursor), uid);
            Queue(t, line, t.job == Job::List ? pop3::FormatListLine(line, false, n, t.letters[t.cursor].octets)
                                              : pop3::FormatUidLine(line, false, n, uid));
            ++t.cursor;
            continue;
        }
        unsigned char* room = t.out + t.out_len;
        std::size_t cap = OUT_ROOM - t.out_len;
        if (!t.file_done && t.chunk_pos == t.chunk_len && !ReadChunk(t)) t.file_done = true;
        if (!t.file_done) {
            std::size_t used = 0;
            t.out_len += pop3::Feed(t.renderer, t.chunk + t.chunk_pos, t.chunk_len - t.chunk_pos, &used, room, cap);
            t.chunk_pos += used;
            if (pop3::Stopped(t.renderer)) t.file_done = true;
            continue;
        }
        t.out_len += pop3::Finish(t.renderer, room, cap);
        if (pop3::Finished(t.renderer)) {
            Queue(t, pop3::TERMINATOR, pop3::TERMINATOR_LEN);
            CloseHandle(t.file);
            t.file = INVALID_HANDLE_VALUE;
            t.job = Job::None;
        }
    }
}

// Answers the next whole command line received; false when none is waiting.
bool TakeCommand(Session& t) {
    std::size_t used = 0;
    pop3::CommandLine c;
    bool whole = pop3::NextCommand(t.lines, t.in, t.in_len, &used, &c);
    std::memmove(t.in, t.in + used, t.in_len - used);
    t.in_len -= used;
    if (whole) Execute(t, c);
    return whole;
}

enum class Received { Nothing, Data, End };

// One receive at most, into the room left.
Received Receive(Session& t) {
    if (t.in_len == IN_ROOM) return Received::Nothing;
    int n = recv(t.socket, reinterpret_cast<char*>(t.in + t.in_len), static_cast<int>(IN_ROOM - t.in_len), 0);
    if (n == 0) return Received::End;
    if (n == SOCKET_ERROR) {
        int err = WSAGetLastError();
        return err == WSAEWOULDBLOCK || err == WSAEINTR || err == WSAEINPROGRESS ? Received::Nothing : Received::End;
    }
    t.in_len += static_cast<std::size_t>(n);
    return Received::Data;
}

void Work(Session& t, int event) {
    if (event == FD_CLOSE) t.peer_closed = true;
    bool called = false;
    Received r = Received::Nothing;
    if (event != FD_WRITE && t.in_len < IN_ROOM) {
        called = true;
        r = Receive(t);
        if (r == Received::End) return Close(t);
    }
    int round = 0;
    for (; round < ROUNDS_PER_EVENT; ++round) {
        Produce(t);
        if (!Flush(t)) break;   // FD_WRITE brings the rest
        if (t.job != Job::None) continue;
        if (t.quitting) return Close(t);
        if (!TakeCommand(t)) break;
    }
    if (t.broken) return Close(t);
    // Come back for what is left: more than one event's work, bytes that waited behind a full
    // buffer or a reply (WinSock posts no read event for them), or the rest after a close.
    bool idle = t.out_len == 0 && t.job == Job::None;
    if (round == ROUNDS_PER_EVENT || (!called && idle && t.in_len < IN_ROOM) ||
        (t.peer_closed && r == Received::Data))
        PostMessageA(g_server.main, WM_SOCKETEVENT, t.socket, WSAMAKESELECTREPLY(t.peer_closed ? FD_CLOSE : FD_READ, 0));
}

void FollowUser(Session& t) {
    if (t.user < 0 || t.table_seen == UserTableGeneration()) return;
    t.table_seen = UserTableGeneration();
    t.user = FindUserIndex(t.user_name);
    if (t.user < 0) Close(t);
}

void Accept() {
    sockaddr_in peer;
    int len = sizeof peer;
    SOCKET s = accept(g_server.standard_listener, reinterpret_cast<sockaddr*>(&peer), &len);
    if (s == INVALID_SOCKET) return;
    Session* t = nullptr;
    for (Session& slot : s_sessions)
        if (slot.socket == INVALID_SOCKET) {
            t = &slot;
            break;
        }
    if (!t || WSAAsyncSelect(s, g_server.main, WM_SOCKETEVENT, FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR) {
        static const char kBusy[] = "-ERR [SYS/TEMP] too many connections\r\n";
        send(s, kBusy, sizeof kBusy - 1, 0);
        closesocket(s);
        return;
    }
    std::memset(static_cast<void*>(t), 0, offsetof(Session, letters));
    t->socket = s;
    t->user = -1;
    t->file = INVALID_HANDLE_VALUE;
    pop3::LineReset(t->lines);
    ++g_server.sessions;
    ShowConnections();
    Ok(*t, "Quorrel POP3 ready");
    Work(*t, FD_WRITE);
}

}  // namespace

unsigned short StandardPort() {
    UINT port = GetPrivateProfileIntA("POP3", "Port", 0, kIniFile);
    return port > 0 && port <= 65535 ? static_cast<unsigned short>(port) : 0;
}

void StartStandard() {
    unsigned short port = StandardPort();
    if (!port || g_server.standard_listener != INVALID_SOCKET) return;
    if (gethostname(s_host_name, sizeof s_host_name) != 0 || !s_host_name[0]) std::strcpy(s_host_name, "localhost");
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR ||
        listen(s, BACKLOG) == SOCKET_ERROR ||
        WSAAsyncSelect(s, g_server.main, WM_SOCKETEVENT, FD_ACCEPT) == SOCKET_ERROR) {
        if (s != INVALID_SOCKET) closesocket(s);
        char text[64];
        std::snprintf(text, sizeof text, "Socket don't bind port %u.", port);
        SocketError(text);
        return;
    }
    g_server.standard_listener = s;
}

void DropSessions() {
    for (Session& t : s_sessions)
        if (t.socket != INVALID_SOCKET) Close(t);
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
    FollowUser(*t);
    // An error or a close is believed only once the socket itself says it is at its end: the
    // event may belong to an earlier socket whose handle value was reused.
    if (t->socket != INVALID_SOCKET) Work(*t, WSAGETSELECTERROR(lp) ? FD_READ : event);
    return true;
}

void FollowUserTableInSessions() {
    for (Session& t : s_sessions)
        if (t.socket != INVALID_SOCKET) FollowUser(t);
}

void ResetStandard() {
    for (Session& t : s_sessions) {
        std::memset(static_cast<void*>(&t), 0, offsetof(Session, letters));
        t.socket = INVALID_SOCKET;
        t.file = INVALID_HANDLE_VALUE;
    }
    s_host_name[0] = '\0';
}
