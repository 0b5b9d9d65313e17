// The user registry: Users.db, the user table, the user list view and the user commands.
#pragma once

#include <windows.h>

#include "userrecord.h"

extern UserTable g_users;
extern UserRecord g_staging;   // exchanged between the user dialog and the commands

// Fills the user table and the user list from Users.db; false when the file can't be opened.
bool LoadUsers();
// Writes Users.db anew from the user table (records beyond the table's 20 are kept).
void SaveUsers();

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

// What the user list shows and keeps: whether the user's row shows a status text (the access
// rule is read from what the administrator sees), the letter count of a user, the list emptied
// by Stop.
bool ShowsStatus(int user, const char* status);
void SetLetterCount(int user, int count);
// The first record whose name is exactly `name`, -1 when none.
int FindUserIndex(const char* name);
void ClearUserList();
