// The POP3 command engine: the socket events of the listener and of the client connection.
#pragma once

#include <windows.h>

LRESULT OnSocketEvent(HWND hwnd, WPARAM wp, LPARAM lp);
bool FindUser();

void ResetEngine();
