// The POP3 command engine: the socket events of the listener and of the client connection.
#pragma once

#include <windows.h>

LRESULT OnSocketEvent(HWND hwnd, WPARAM wp, LPARAM lp);
// Looks the requested user name up in the user table; on success selects that user.
bool FindUser();

// After the user table changed or was filled anew, the connection finds its user again by name,
// and is dropped with no commit when the user is gone.  Every event of the connection looks
// first; the user commands call it when they are done.
void FollowUserTable();

// Closes the current client connection without a reply or a commit and greys Pause; false when
// closesocket failed (the slot is emptied all the same).  An empty slot counts as closed.
bool DropClient();
// Closes the client connection and forgets its login, leaving the controls alone; false when the
// socket would not close.
bool CloseClient();

// The login of the current connection, for the tests and the registry: the selected user's index
// (-1 when none) and whether PASS has succeeded since.
int CurrentUser();
bool LoggedIn();

void ResetEngine();
