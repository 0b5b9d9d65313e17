// Resource and command ids of Quorrel; included by the code and by quorrel.rc.
#pragma once

#include "commands.h"

// The user list view of the main window.
#define IDC_USERLIST     1000

// Dialog resources.
#define IDD_PASSWORD     1
#define IDD_USER         2
#define IDD_ABOUT        3

// The check-mark icon of the user list rows.
#define IDI_CHECK        11

// Password dialog.
#define IDC_ADMINPASSWORD 10003

// User dialog.
#define IDC_USERNAME     10000
#define IDC_USERPASSWORD 10001
#define IDC_USERSTATUS   10002
#define IDC_USERIP       10003
