// Resource and command ids of Quorrel; included by the code and by quorrel.rc.
#pragma once

// Commands: menu items and the buttons of the same ids.
#define IDM_START        1002
#define IDM_STOP         1003
#define IDM_PASSWORD     1004
#define IDM_SETPASSWORD  1005
#define IDM_EXIT         1006
#define IDM_ABOUT        1007
#define IDM_NEWUSER      1008
#define IDM_DELUSER      1009
#define IDM_EDITUSER     1010
#define IDM_PAUSE        1011

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
