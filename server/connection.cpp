// The connection mechanics shared by the server's listeners.
#include "connection.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "log.h"
#include "server.h"
#include "users.h"

DWORD g_clock_skew;
std::size_t g_out_room = OUT_ROOM;

namespace {

// The largest backlog the system allows (WinSock 2's SOMAXCONN; WinSock 1.1's header says 5): a
// burst of clients finds room in the queue instead of having its SYN dropped and retried a second
// later.
constexpr int BACKLOG = 0x7fffffff;
// What the system may hold of a connection's unsent bytes: room for several pieces of a big letter,
// so that each event sends much at once.
constexpr int SEND_BUFFER = 512 * 1024;
// Accepted at one FD_ACCEPT at most; a flood of connections still yields to the window.
constexpr int ACCEPTS_PER_EVENT = 64;
constexpr UINT SWEEP_MS = 250;
constexpr int MAX_OPEN = 64;
const char kIniFile[] = ".\\Quorrel.ini";

// Every open connection, whatever its listener, for the sweep and the counts.
Connection* s_open[MAX_OPEN];

// Empties a record up to its buffers.
void ResetRecord(Connection& c) { std::memset(static_cast<void*>(&c), 0, offsetof(Connection, in)); }

// `t` has come, on a clock that wraps every 49 days.
bool Reached(DWORD now, DWORD t) { return static_cast<LONG>(now - t) >= 0; }

struct Guesser {
    unsigned long address;
    int failures;                  // 0: the entry is free
    DWORD last_failure;
    DWORD ready_at;                // no held reply of this address goes out before
};
constexpr int GUESSERS = 256;
Guesser s_guessers[GUESSERS];

bool Forgotten(const Guesser& g, DWORD now) {
    return g.failures == 0 || Reached(now, g.last_failure + FAILURE_MEMORY);
}

Guesser* FindGuesser(unsigned long address, DWORD now) {
    for (Guesser& g : s_guessers)
        if (g.address == address && !Forgotten(g, now)) return &g;
    return nullptr;
}

// The wait before a PASS of an address is answered; 0 while its failures are free.
DWORD DelayFor(const Guesser* g) {
    if (!g || g->failures < FREE_FAILURES) return 0;
    int doublings = g->failures - FREE_FAILURES;
    DWORD delay = FIRST_DELAY << (doublings < 5 ? doublings : 5);
    return delay < MAX_DELAY ? delay : MAX_DELAY;
}

}  // namespace

// ---- listening and accepting -------------------------------------------------------------------

// No SO_REUSEADDR: on Windows it would let another program bind the port over ours, and a
// listener binds anyway while connections of the last run linger in TIME_WAIT.
ListenFault OpenListener(unsigned short port, SOCKET* out) {
    *out = INVALID_SOCKET;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return ListenFault::Socket;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    ListenFault fault = ListenFault::None;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR)
        fault = ListenFault::Bind;
    else if (listen(s, BACKLOG) == SOCKET_ERROR)
        fault = ListenFault::Listen;
    else if (WSAAsyncSelect(s, g_server.main, WM_SOCKETEVENT, FD_READ | FD_ACCEPT | FD_CLOSE) == SOCKET_ERROR)
        fault = ListenFault::Select;
    if (fault != ListenFault::None) {
        closesocket(s);
        return fault;
    }
    *out = s;
    return ListenFault::None;
}

bool OpenExtraListener(unsigned short port, SOCKET* out) {
    if (OpenListener(port, out) == ListenFault::None) return true;
    LogLine(logsrc::SERVER, 0, "bind-failed").Number("port", port).Write();
    char text[64];
    std::snprintf(text, sizeof text, "Socket don't bind port %u.", port);
    SocketError(text);
    return false;
}

SOCKET AcceptPending(SOCKET listener, sockaddr_in* peer, int* taken) {
    while (*taken < ACCEPTS_PER_EVENT) {
        ++*taken;
        int len = sizeof *peer;
        SOCKET s = accept(listener, reinterpret_cast<sockaddr*>(peer), &len);
        if (s == INVALID_SOCKET) {
            // A connection reset while it waited in the queue leaves the others behind it.
            if (WSAGetLastError() == WSAECONNRESET) continue;
            return s;
        }
        // FD_WRITE is asked for only when a reply does not go out whole: asked for at once, it
        // would post an event per connection for nothing.
        if (WSAAsyncSelect(s, g_server.main, WM_SOCKETEVENT, FD_READ | FD_CLOSE) == SOCKET_ERROR) {
            closesocket(s);
            continue;
        }
        BOOL on = TRUE;
        setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
        // A reply is sent whole or in big pieces, never a byte at a time: without Nagle's wait its
        // last small segment goes at once instead of behind the peer's delayed ACK.
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        int room = SEND_BUFFER;
        setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&room), sizeof room);
        return s;
    }
    // Come back for the rest after the window's other messages.
    if (PostMessageA(g_server.main, WM_SOCKETEVENT, listener, WSAMAKESELECTREPLY(FD_ACCEPT, 0))) *taken = 0;
    return INVALID_SOCKET;
}

void BeginConnection(Connection& c, SOCKET s, Listener kind, const sockaddr_in& peer, unsigned login_seconds,
                     unsigned idle_seconds) {
    ResetRecord(c);
    c.socket = s;
    c.kind = kind;
    c.address = peer.sin_addr.s_addr;
    c.user = -1;
    c.opened = c.active = Now();
    c.login_limit = login_seconds * 1000u;
    c.idle_limit = idle_seconds * 1000u;
    for (Connection*& slot : s_open)
        if (!slot) {
            slot = &c;
            break;
        }
}

bool EndConnection(Connection& c) {
    bool ok = true;
    if (c.socket != INVALID_SOCKET) ok = closesocket(c.socket) != SOCKET_ERROR;
    for (Connection*& slot : s_open)
        if (slot == &c) slot = nullptr;
    ResetRecord(c);
    c.socket = INVALID_SOCKET;
    c.user = -1;
    return ok;
}

int OpenConnections() {
    int n = 0;
    for (Connection* c : s_open) n += c != nullptr;
    return n;
}

int ConnectionsFrom(Listener kind, unsigned long address) {
    int n = 0;
    for (Connection* c : s_open) n += c && c->kind == kind && c->address == address;
    return n;
}

// ---- input and output --------------------------------------------------------------------------

void Queue(Connection& c, const void* bytes, std::size_t len) {
    if (c.broken) return;
    if (len > OutputRoom(c)) {
        c.broken = true;
        return;
    }
    std::memcpy(c.out + c.out_len, bytes, len);
    c.out_len += len;
}

bool Flush(Connection& c) {
    while (OutputPending(c) && !c.broken) {
        int n = send(c.socket, reinterpret_cast<const char*>(c.out + c.out_sent),
                     static_cast<int>(c.out_len - c.out_sent), 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK) {
                c.broken = true;
            } else if (!c.write_events &&
                       WSAAsyncSelect(c.socket, g_server.main, WM_SOCKETEVENT, FD_READ | FD_WRITE | FD_CLOSE) !=
                           SOCKET_ERROR) {
                // From now on the connection also says when it can take more.
                c.write_events = true;
            }
            return false;
        }
        c.out_sent += static_cast<std::size_t>(n);
        Touch(c);
    }
    if (c.broken) return false;
    c.out_len = c.out_sent = 0;
    return true;
}

Received Receive(Connection& c, std::size_t limit) {
    if (c.at_end) return Received::End;
    std::size_t room = IN_ROOM - c.in_len;
    if (limit > room) limit = room;
    if (limit == 0) return Received::Nothing;
    int n = recv(c.socket, reinterpret_cast<char*>(c.in + c.in_len), static_cast<int>(limit), 0);
    if (n == 0) {
        c.at_end = true;
        return Received::End;
    }
    if (n == SOCKET_ERROR) {
        int err = WSAGetLastError();
        if (err == WSAEWOULDBLOCK || err == WSAEINTR || err == WSAEINPROGRESS) return Received::Nothing;
        c.broken = true;
        return Received::End;
    }
    c.in_len += static_cast<std::size_t>(n);
    return Received::Data;
}

void Consume(Connection& c, std::size_t n) {
    if (n > c.in_len) n = c.in_len;
    std::memmove(c.in, c.in + n, c.in_len - n);
    c.in_len -= n;
}

void Repost(const Connection& c) {
    PostMessageA(g_server.main, WM_SOCKETEVENT, c.socket, WSAMAKESELECTREPLY(c.peer_closed ? FD_CLOSE : FD_READ, 0));
}

// ---- the user it acts for ----------------------------------------------------------------------

void ActFor(Connection& c, const char* name, int user) {
    CopyText(c.user_name, sizeof c.user_name, name);
    c.user = user;
    c.table_seen = UserTableGeneration();
}

bool FollowUser(Connection& c) {
    if (c.user < 0 || c.table_seen == UserTableGeneration()) return true;
    c.table_seen = UserTableGeneration();
    c.user = FindUserIndex(c.user_name);
    return c.user >= 0;
}

// ---- clocks --------------------------------------------------------------------------------------

DWORD Now() { return GetTickCount() + g_clock_skew; }

void Touch(Connection& c) { c.active = Now(); }

Expiry Expired(const Connection& c) {
    DWORD now = Now();
    if (!c.logged_in && c.login_limit && Reached(now, c.opened + c.login_limit)) return Expiry::Login;
    if ((c.logged_in || !c.login_limit) && c.idle_limit && Reached(now, c.active + c.idle_limit))
        return Expiry::Idle;
    return Expiry::None;
}

void StartSweep() { SetTimer(g_server.main, SWEEP_TIMER, SWEEP_MS, nullptr); }

void StopSweep() { KillTimer(g_server.main, SWEEP_TIMER); }

void SweepConnections() {
    DWORD now = Now();
    for (Connection* c : s_open)
        if (c && (Expired(*c) != Expiry::None || (c->held && Reached(now, c->held_until)))) Repost(*c);
}

// ---- slowed guessing ---------------------------------------------------------------------------

bool PassMayBeAnswered(Connection& c) {
    DWORD now = Now();
    if (c.held) {
        if (!Reached(now, c.held_until)) return false;
        c.held = false;
        return true;
    }
    Guesser* g = FindGuesser(c.address, now);
    DWORD delay = DelayFor(g);
    if (!delay) return true;
    // The waits of one address queue up: a guesser gains nothing by opening more connections.
    DWORD from = Reached(now, g->ready_at) ? now : g->ready_at;
    c.held_until = g->ready_at = from + delay;
    c.held = true;
    LogLine(LogSource(c.kind), c.address, "slowed")
        .Text("user", c.user_name)
        .Number("delay", (c.held_until - now + 999) / 1000)
        .Write();
    return false;
}

void LoginFailed(const Connection& c) {
    DWORD now = Now();
    Guesser* g = FindGuesser(c.address, now);
    if (!g) {
        // A forgotten entry, or else the one that failed longest ago, makes room.
        g = &s_guessers[0];
        for (Guesser& e : s_guessers) {
            if (Forgotten(e, now)) {
                g = &e;
                break;
            }
            if (static_cast<LONG>(e.last_failure - g->last_failure) < 0) g = &e;
        }
        *g = Guesser{c.address, 0, now, now};
    }
    ++g->failures;
    g->last_failure = now;
}

void LoginSucceeded(const Connection& c) {
    if (Guesser* g = FindGuesser(c.address, Now())) *g = Guesser{};
}

const char* LogSource(Listener kind) {
    return kind == Listener::Dialect ? logsrc::DIALECT : kind == Listener::Smtp ? logsrc::SMTP : logsrc::POP3;
}

// ---- settings ------------------------------------------------------------------------------------

unsigned IniNumber(const char* section, const char* key, unsigned fallback) {
    int n = static_cast<int>(GetPrivateProfileIntA(section, key, -1, kIniFile));
    return n < 0 ? fallback : static_cast<unsigned>(n);
}

void IniText(const char* section, const char* key, const char* fallback, char* out, DWORD size) {
    GetPrivateProfileStringA(section, key, fallback, out, size, kIniFile);
}

void ResetConnections() {
    for (Connection*& slot : s_open) slot = nullptr;
    for (Guesser& g : s_guessers) g = Guesser{};
    g_clock_skew = 0;
    g_out_room = OUT_ROOM;
}
