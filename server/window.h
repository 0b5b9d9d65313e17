// The server main window: class, window, procedure, and the start-up state of the whole program.
#pragma once

#include <windows.h>

bool RegisterServerClass(HINSTANCE instance);
HWND CreateServerWindow(HINSTANCE instance);
LRESULT CALLBACK ServerWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

// Puts every part of the server back to its start-up state (sockets are forgotten, not closed;
// the instance too: the caller sets it).
void ResetServerState();
