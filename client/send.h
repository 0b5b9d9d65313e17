// One send on the connection.
#pragma once

#include <winsock.h>

int SendBytes(SOCKET s, const unsigned char* bytes, int n);

// Stand-ins for a congested or broken connection, for the tests only; the program never sets
// them.  g_send_room is how many more bytes the socket takes before it would block (-1: no
// limit); g_send_error, when not 0, makes every send fail with it.
extern int g_send_room;
extern int g_send_error;
void ResetSendFaults();
