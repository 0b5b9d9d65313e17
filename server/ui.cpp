// The program-wide state, and the beeps, message boxes and enabling of commands that every part
// of the server shares.
#include "server.h"

#include "connection.h"

ServerState g_server;
void FileWarning(const char* text) {
    SoundBeep(0);
    MessageBoxA(g_server.main, text, "Ошибка.", MB_OK | MB_ICONWARNING);
}

void EnableCommand(int id, bool enabled) {
    EnableMenuItem(GetMenu(g_server.main), id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void ShowConnections() {
    EnableButton(g_server.pause_button, OpenConnections() > 0);
}

void EnableButton(HWND button, bool enabled) {
    // Each connection passes here: a button already as wanted is not touched (nor repainted).
    if ((IsWindowEnabled(button) != FALSE) == enabled) return;
    EnableWindow(button, enabled);
    EnableCommand(GetDlgCtrlID(button), enabled);
}
