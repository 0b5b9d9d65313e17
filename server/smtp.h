// The SMTP listener: mail for the server's own users, taken from mail clients, scanners and
// scripts on the local network and delivered into the mailboxes.  Turned on by Quorrel.ini
// ([SMTP] Port=); it never passes mail on to another server.
#pragma once

#include <winsock.h>
#include <windows.h>

// Start: reads [SMTP] and opens the listener when Port= names one; when the port can't be bound,
// a "Socket Error!" box names it and the other listeners go on.
void StartSmtp();
// Stop and the shutdown: the listener and every conversation closed, nothing delivered.
void StopSmtp();
// Pause: every conversation closed, nothing delivered; the listener stays.
void DropSmtpSessions();
// An event of one of the SMTP listener's sockets; false when `s` is none of them.
bool OnSmtpEvent(SOCKET s, LPARAM lp);

void ResetSmtp();
