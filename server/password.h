// The administrator password: Admin.psw, the password dialog and the lock over the user commands.
#pragma once

#include <windows.h>

// Reads Admin.psw into the password in force; warns (beep, box owned by the main window) when
// the file can't be opened or read.  Called while the main window is created.
void ReadAdminPassword();

void OnPasswordCommand();      // IDM_PASSWORD
void OnSetPasswordCommand();   // IDM_SETPASSWORD
