// One connection of any of the server's listeners, and what all of them share: its socket and
// peer, what it has received and not yet answered, what it has to send, the user it acts for, its
// clocks, the listening sockets, and the slowing of password guessing by address.  The protocols
// keep only their conversations.
//
// Everything runs on the window's thread: the clocks are read at each event and by one timer
// sweep, which only posts a socket event to a connection whose time has come.
#pragma once

#include <winsock.h>
#include <windows.h>

#include <cstddef>

#include "userrecord.h"

constexpr std::size_t IN_ROOM = 1024;
// A reply of a few lines goes out in one send; a big letter in pieces of this size.
constexpr std::size_t OUT_ROOM = 256 * 1024;

// Which listener a connection came from; the per-address limits count each on its own.
enum class Listener { Dialect, Pop3, Smtp };

enum class Received { Nothing, Data, End };
enum class Expiry { None, Login, Idle };

struct Connection {
    SOCKET socket = INVALID_SOCKET;
    Listener kind;
    unsigned long address;         // the peer's IPv4 address, network byte order
    std::size_t in_len;            // bytes of `in`
    std::size_t out_len, out_sent; // bytes of `out`; of them sent
    bool write_events;             // FD_WRITE was asked for, once a send would have blocked
    bool peer_closed;              // FD_CLOSE came: read on until the socket says it is at its end
    bool at_end;                   // the peer sends no more; what it sent before is still answered
    bool broken;                   // a send failed or a reply did not fit: closed, nothing committed
    bool quitting;                 // the conversation ended: closed once the reply is out
    // The user it acts for, by name; `user` is the record the name had at table generation
    // `table_seen`, -1 for none.
    char user_name[NAME_SIZE];
    int user = -1;
    unsigned table_seen;
    // Clocks, in milliseconds of Now().
    DWORD opened, active;          // accepted; the last command taken or bytes sent
    DWORD login_limit, idle_limit; // 0: no limit
    bool logged_in;
    bool held;                     // a PASS waits for held_until before it is answered
    DWORD held_until;
    int bad_commands;
    // The buffers come last: a record is reset up to them, so that the pages of a buffer are
    // touched only by a connection that uses them.
    unsigned char in[IN_ROOM];     // received and not yet taken
    unsigned char out[OUT_ROOM];   // to send
};

// ---- listening and accepting ---------------------------------------------------------------

enum class ListenFault { None, Socket, Bind, Listen, Select };
// A socket listening on `port` of every address, its events sent to the main window; *out is
// INVALID_SOCKET on a fault, and nothing is left open.
ListenFault OpenListener(unsigned short port, SOCKET* out);
// A listener beside the dialect's: on any fault the log says bind-failed and a "Socket Error!"
// box names the port ("Socket don't bind port N."), and the other listeners go on.  False then.
bool OpenExtraListener(unsigned short port, SOCKET* out);
// Accepts the next pending connection: its events (read and close) go to the main window, it is
// probed while idle so that a peer that vanished is found, and its replies go out without waiting
// for the peer's acknowledgements.  INVALID_SOCKET when none is left.  Called in a loop at each
// FD_ACCEPT, `taken` starting at 0: after some dozens the rest waits for an FD_ACCEPT posted behind
// the window's other messages.
SOCKET AcceptPending(SOCKET listener, sockaddr_in* peer, int* taken);

// Makes `c` a new connection on `s`; limits in seconds, 0 for none.
void BeginConnection(Connection& c, SOCKET s, Listener kind, const sockaddr_in& peer, unsigned login_seconds,
                     unsigned idle_seconds);
// Closes the socket and empties the record; false when closesocket failed.  An empty record
// counts as closed.
bool EndConnection(Connection& c);
inline bool IsOpen(const Connection& c) { return c.socket != INVALID_SOCKET; }
// Open connections of every listener, and of one listener from one address.
int OpenConnections();
int ConnectionsFrom(Listener kind, unsigned long address);

// ---- input and output --------------------------------------------------------------------------

// Adds bytes to what is to be sent; a reply that does not fit breaks the connection.
void Queue(Connection& c, const void* bytes, std::size_t len);
// The room a connection's output may fill: OUT_ROOM, less in the tests only, so that a short
// letter's reply can be made to end at the room's edge.
extern std::size_t g_out_room;
inline std::size_t OutputRoom(const Connection& c) { return c.out_len < g_out_room ? g_out_room - c.out_len : 0; }
inline bool OutputPending(const Connection& c) { return c.out_sent < c.out_len; }
// Sends what waits as far as the socket takes it; the rest goes on at FD_WRITE, which is asked for
// only then.  True when all of it went; a failed send breaks the connection.
bool Flush(Connection& c);
// One receive at most, of up to `limit` bytes into the room left.  End: the peer sends no more
// (at_end is set), or the connection failed (broken is set).
Received Receive(Connection& c, std::size_t limit);
// Drops the first n received bytes.
void Consume(Connection& c, std::size_t n);
// Comes back to the connection through the window's queue: for work left over from this event,
// or for bytes that WinSock will post no event for.
void Repost(const Connection& c);

// ---- the user it acts for ----------------------------------------------------------------------

void ActFor(Connection& c, const char* name, int user);
// After the user table changed: finds the user again by name; false when the user has left.
bool FollowUser(Connection& c);

// ---- clocks --------------------------------------------------------------------------------------

DWORD Now();
extern DWORD g_clock_skew;   // added to the clock by the tests only, to let time pass at once
// A command was taken, or bytes went out.
void Touch(Connection& c);
// Whether the connection ran out of time: not logged in within its login limit, or logged in (or
// without a login limit) and idle past its idle limit.
Expiry Expired(const Connection& c);
// The sweep runs while the listeners do: it posts an event to every connection whose time ran out
// or whose held reply is due.  Its WM_TIMER comes to SweepConnections.
constexpr UINT_PTR SWEEP_TIMER = 1;
void StartSweep();
void StopSweep();
void SweepConnections();

// ---- slowed guessing ---------------------------------------------------------------------------

// Every address has FREE_FAILURES failed logins within FAILURE_MEMORY; after that every reply to
// a PASS from it, right or wrong, waits FIRST_DELAY, doubling with each further failure up to
// MAX_DELAY, and the waits of one address follow one another, whatever connection they are on.
constexpr int FREE_FAILURES = 5;
constexpr DWORD FAILURE_MEMORY = 15 * 60 * 1000;
constexpr DWORD FIRST_DELAY = 2000;
constexpr DWORD MAX_DELAY = 30000;
// True when a PASS received on `c` may be answered now.  Otherwise the connection is held, and the
// sweep brings it back when its time comes: call again then.
bool PassMayBeAnswered(Connection& c);
void LoginFailed(const Connection& c);
void LoginSucceeded(const Connection& c);

// The log's name for a listener's lines.
const char* LogSource(Listener kind);

// ---- settings ------------------------------------------------------------------------------------

// A number from Quorrel.ini in the server's folder; `fallback` when the key is missing or negative.
unsigned IniNumber(const char* section, const char* key, unsigned fallback);
// A text from Quorrel.ini; `fallback` when the key is missing.
void IniText(const char* section, const char* key, const char* fallback, char* out, DWORD size);

void ResetConnections();
