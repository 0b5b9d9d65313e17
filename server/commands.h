// The command ids of Quorrel: menu items and the buttons of the same ids.  A header of their own,
// so that the programs that drive the server from outside can take them alone.
#pragma once

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
