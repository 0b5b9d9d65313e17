// Beeps, message boxes and the enabling of commands, the same for every part of the server.
#include "server.h"

BeepLog g_beeps;
bool g_read_fails;

bool ReadData(HANDLE file, void* buf, DWORD size, DWORD* got) {
    *got = 0;
    if (g_read_fails) {
        SetLastError(ERROR_READ_FAULT);
        return false;
    }
    return ReadFile(file, buf, size, got, nullptr) != FALSE;
}

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
