// Program-wide state of Quorrel and the helpers every part of the server shares.
#pragma once

#include <winsock.h>
#include <windows.h>
#include <commctrl.h>

#include "app.h"
#include "resource.h"

constexpr int ADMIN_PASSWORD_SIZE = 11;

struct ServerState {
    HINSTANCE instance;
    HWND main;
    HWND start_button, stop_button, pause_button;
    HWND user_list;
    unsigned short port;          // the listening port: POP3_PORT (the in-process tests use another)
    SOCKET listener;              // INVALID_SOCKET when empty
    SOCKET standard_listener;     // the standard POP3 listener, INVALID_SOCKET when off
    // The administrator password in force: up to 11 bytes from Admin.psw, plus a terminator of our
    // own so that an 11-byte password without a zero byte is still a bounded string.
    char admin_password[ADMIN_PASSWORD_SIZE + 1];
    // The administrator password was entered: the user commands and "Назначить пароль" run.
    // Greying their menu items is not enough, as any program may post the command.
    bool unlocked;
};
extern ServerState g_server;

// The server's file-trouble box: a default beep, then a warning box owned by the main window,
// caption "Ошибка.".
void FileWarning(const char* text);

// Enables or greys a command's menu item (by command).
void EnableCommand(int id, bool enabled);
// Enables or disables a button and greys or enables its menu item alike.
void EnableButton(HWND button, bool enabled);
// Pause can be chosen while any connection is open.
void ShowConnections();
