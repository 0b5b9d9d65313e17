// The user registry: Users.db, the user table, the user list view and the user commands.
#pragma once

#include <windows.h>

#include "userrecord.h"

extern UserTable g_users;
extern UserRecord g_staging;   // exchanged between the user dialog and the commands

// Fills the user table and the user list from Users.db; false when the file can't be opened.
bool LoadUsers();

void OnNewUserCommand();    // IDM_NEWUSER
void OnDelUserCommand();    // IDM_DELUSER
void OnEditUserCommand();   // IDM_EDITUSER

// The two dialog procedures of the user dialog (resource 2).
INT_PTR CALLBACK NewUserDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);
INT_PTR CALLBACK EditUserDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);

void ResetUsers();

// The mailbox folder of user `user`: its name, when that is a valid name that no earlier record
// has in any case; null when the user has no mailbox of its own.
const char* MailboxFolder(int user);
// Goes up with every change of the user table: a connection that saw another value finds its user
// again.
unsigned UserTableGeneration();

// A user's access level as the registry holds it (and the list shows it); -1 for no record.
std::int32_t UserAccess(int user);
// The letter count of a user, as a conversation last found it; the list shows it.
void SetLetterCount(int user, int count);
// The list emptied by Stop.
// The first record whose name is exactly `name`, -1 when none.
int FindUserIndex(const char* name);
void ClearUserList();
