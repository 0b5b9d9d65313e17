// The standard POP3 listener (RFC 1939 with CAPA, UIDL and TOP) beside the dialect: turned on by
// Quorrel.ini, serving the same users, access levels and mailboxes to the mail clients people
// already use, several conversations at once.
#pragma once

#include <winsock.h>
#include <windows.h>

// The port from Quorrel.ini in the server's folder ([POP3] Port=); 0 when the standard listener
// stays off (no file, no key, or no valid port).
unsigned short StandardPort();

// Start: opens the standard listener when Quorrel.ini names a port; when the port can't be
// bound, a "Socket Error!" box names it and the dialect goes on alone.  Returns the port it
// listens on, 0 for none.
unsigned short StartStandard();
// Stop and the shutdown: the listener and every conversation closed, nothing committed.
void StopStandard();
// Pause: every conversation closed, nothing committed; the listener stays.
void DropSessions();

// An event of one of the standard listener's sockets; false when `s` is none of them.
bool OnStandardEvent(SOCKET s, LPARAM lp);

// After the user table changed: each conversation finds its user again by name, or is closed
// with nothing committed when the user is gone.
void FollowUserTableInSessions();

void ResetStandard();
