// The program-wide state, and the beeps, message boxes and enabling of commands that every part
// of the server shares.
#include "server.h"

ServerState g_server;
BeepLog g_beeps;

void SoundBeep(UINT type) {
    if (g_beeps.count < static_cast<int>(sizeof g_beeps.types / sizeof g_beeps.types[0]))
        g_beeps.types[g_beeps.count] = type;
    ++g_beeps.count;
    MessageBeep(type);
}

void FileWarning(const char* text) {
    SoundBeep(0);
    MessageBoxA(g_server.main, text, "Ошибка.", MB_OK | MB_ICONWARNING);
}

void SocketError(const char* text) {
    MessageBoxA(nullptr, text, "Socket Error!", MB_OK | MB_ICONERROR);
}

void EnableCommand(int id, bool enabled) {
    EnableMenuItem(GetMenu(g_server.main), id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void EnableButton(HWND button, bool enabled) {
    EnableWindow(button, enabled);
    EnableCommand(GetDlgCtrlID(button), enabled);
}
