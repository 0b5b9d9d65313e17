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

// A name that can be a file or folder of its own in a folder: not empty, none of \ / : * ? " < > |
// and no control character, no trailing dot or space (Windows would drop them), no device name.
bool IsPlainFileName(const char* name);
// A name that can be a mailbox folder here, inside the server's folder: a plain file name, no
// '~' (the short form of a long name), none of the server's own files.
bool IsValidUserName(const char* name);
// User `user` has a mailbox folder of its own: a valid name that no earlier record has in any case.
bool HasOwnMailbox(int user);

// The server's data files are written through WriteWhole.  g_write_room stands in for the room
// left on the disk (negative: no limit): a write that does not fit stops where the room ends
// and fails, as on a full disk.
extern long long g_write_room;
bool WriteWhole(HANDLE file, const void* bytes, DWORD size);

// Replaces `target` whole by `tmp`; the old file stays as it was when this fails.
bool ReplaceWith(const char* tmp, const char* target);
