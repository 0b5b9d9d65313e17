// The SMTP listener: mail for the server's own users, taken from mail clients, scanners and
// scripts on the local network and delivered into the mailboxes.  Turned on by Quorrel.ini
// ([SMTP] Port=); it never passes mail on to another server.
#pragma once

#include <winsock.h>
#include <windows.h>

// Start: reads [SMTP] and opens the listener when Port= names one; when the port can't be bound,
// a "Socket Error!" box names it and the other listeners go on.  Returns the port it listens on,
// 0 for none.
unsigned short StartSmtp();
// Stop and the shutdown: the listener and every conversation closed, nothing delivered.
void StopSmtp();
// Pause: every conversation closed, nothing delivered; the listener stays.
void DropSmtpSessions();
// An event of one of the SMTP listener's sockets; false when `s` is none of them.
bool OnSmtpEvent(SOCKET s, LPARAM lp);

// The mail domain, read from Quorrel.ini: [SMTP] Domain= when it is a plain domain name, else this
// computer's host name; lower case.  The standard listener's made-up From: names it too.
constexpr unsigned MAIL_DOMAIN_SIZE = 256;
void ReadMailDomain(char (&out)[MAIL_DOMAIN_SIZE]);

void ResetSmtp();
