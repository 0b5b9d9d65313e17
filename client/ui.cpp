// Beeps, message boxes and the enabling of the controls, the same for every part of the client.
// The boxes have no owner: their own message loops go on handling socket events.
#include "client.h"

void ConnectError(const char* text) {
    SoundBeep(0);
    MessageBoxA(nullptr, text, "Connect Error!", MB_OK | MB_ICONERROR);
}

void StatisticsBox(const char* text) {
    MessageBoxA(nullptr, text, "Статистика.", MB_OK | MB_ICONINFORMATION);
}

void GetLetterCell(int row, int column, char* text, int size) {
    text[0] = 0;
    LVITEMA it = {};
    it.iSubItem = column;
    it.pszText = text;
    it.cchTextMax = size;
    SendMessageA(g_client.letter_list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&it));
    text[size - 1] = 0;
}

void SetControls(ControlSet set) {
    bool connected = set != ControlsIdle;
    bool commands = set == ControlsLoggedIn;
    EnableWindow(g_client.connect_button, !connected);
    EnableWindow(g_client.disconnect_button, connected);
    EnableWindow(g_client.status_line, set == ControlsGreeted || set == ControlsLoggedIn);
    HWND command_buttons[] = {g_client.statistics_button, g_client.list_button, g_client.read_button,
                              g_client.delete_button, g_client.quit_button};
    for (HWND b : command_buttons) EnableWindow(b, commands);
}
