// The POP3 command engine: the socket events of the listener and of the client connection.
#pragma once

#include <windows.h>

LRESULT OnSocketEvent(HWND hwnd, WPARAM wp, LPARAM lp);
bool FindUser();

// The user registry removed record `index` from the user table: the engine drops a connection
// of that user and keeps a later user's connection on the same user.
void OnUserDeleted(int index);

void ResetEngine();
