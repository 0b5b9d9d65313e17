// The user registry: Users.db, the user table, the user list view and the user commands.
#pragma once

#include "userrecord.h"

extern UserTable g_users;
extern UserRecord g_staging;   // exchanged between the user dialog and the commands

// Fills the user table and the user list from Users.db; false when the file can't be opened.
bool LoadUsers();
// Writes Users.db anew from the user table.
void SaveUsers();

void OnNewUserCommand();    // IDM_NEWUSER
void OnDelUserCommand();    // IDM_DELUSER
void OnEditUserCommand();   // IDM_EDITUSER

void ResetUsers();
