// The dialect's command engine: the socket events of the dialect's listener and of its one client
// connection.
#pragma once

#include <winsock.h>
#include <windows.h>

LRESULT OnSocketEvent(HWND hwnd, WPARAM wp, LPARAM lp);

// Gives the dialect's connection a turn out of order, as a read event would: a command of its
// client that waits is answered now.  Its one client is served before the standard conversations,
// which may be many and each loop through long replies.
void DialectTurn();
// The current client connection's socket, INVALID_SOCKET when there is none.
SOCKET DialectSocket();
// Start: the dialect's settings from Quorrel.ini ([Dialect] IdleSeconds=, 0 for no limit).
void ReadDialectSettings();

// After the user table changed or was filled anew, the connection finds its user again by name,
// and is dropped with no commit when the user is gone.  Every event of the connection looks
// first; the user commands call it when they are done.
void FollowUserTable();

// Closes the current client connection without a reply or a commit and greys Pause; false when
// closesocket failed (the slot is emptied all the same).  An empty slot counts as closed.
// `why`, when given, goes into the log's "closed" line.
bool DropClient(const char* why = nullptr);
// Closes the client connection and forgets its login, leaving the controls alone; false when the
// socket would not close.
bool CloseClient(const char* why = nullptr);

void ResetEngine();
