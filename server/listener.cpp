// Listener control: Start, Stop, Pause, Exit.
#include "listener.h"

#include "server.h"

void OnStartCommand() {}
void OnStopCommand() {}
void OnPauseCommand() {}
void OnExitCommand() { DestroyWindow(g_server.main); }
