// The POP3 command engine.
#include "engine.h"

#include "server.h"

LRESULT OnSocketEvent(HWND, WPARAM, LPARAM) { return 0; }
bool FindUser() { return false; }
void OnUserDeleted(int) {}

void ResetEngine() {}
