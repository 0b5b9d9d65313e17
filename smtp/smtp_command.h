// The command side of the SMTP listener (RFC 5321): cutting received bytes into command lines,
// reading each line as a command, and reading the paths of MAIL and RCPT.  Mail is taken for the
// server's own users only, so every form that asks it to pass a letter on is refused here.
//
// Like pop3/, this includes no Windows header and allocates nothing.
#pragma once

#include <cstddef>

namespace smtp {

// A command line may be 512 octets long, its CRLF included (RFC 5321 4.5.3.1.4).
constexpr std::size_t MAX_LINE = 512;
// A path's local part and domain (RFC 5321 4.5.3.1), and the whole path without its brackets.
constexpr std::size_t MAX_LOCAL = 64;
constexpr std::size_t MAX_DOMAIN = 255;
constexpr std::size_t MAX_PATH_TEXT = 256;

// Unknown: not a command of SMTP at all (500).  NotDone: a command of SMTP or its extensions that
// this server does not do (502).
enum class Verb { Unknown, NotDone, Helo, Ehlo, Mail, Rcpt, Data, Rset, Noop, Quit, Vrfy };

// One command line: its verb and the rest of the line after the verb and its separating space,
// as sent (args points into the line given to ParseCommand).
struct Command {
    Verb verb;
    const char* args;
    std::size_t args_len;
    bool too_long;   // the line was over MAX_LINE octets and was dropped; verb is Unknown
};

Command ParseCommand(const char* line, std::size_t len);

// ---- cutting received bytes into lines ----------------------------------------------------------

// A command line ends at LF, a CR just before it dropped.  MAX_LINE counts the line end: 510 octets
// and CRLF still make a line.  A longer line is dropped as it arrives and reported once.
struct LineReader {
    char line[MAX_LINE + 1];   // the line without its line end, NUL-terminated when complete
    std::size_t len;
    bool skipping;
    bool complete;
};
void LineReset(LineReader& r);
// Takes bytes up to and including the first LF, or all of them; *used says how many.  True when
// a command is ready in *cmd (its args point into r.line, valid until the next call).
bool NextCommand(LineReader& r, const unsigned char* in, std::size_t len, std::size_t* used, Command* cmd);

// ---- paths ---------------------------------------------------------------------------------------

enum class PathStatus {
    Ok,
    Syntax,     // 501: not a path
    Relay,      // 550 5.7.1: a source route, '%', '!', or a quoted local part holding '@'
    Foreign,    // 550 5.7.1: a domain that is not ours (or none, other than postmaster)
    Params,     // 555: a parameter this server does not know or a bad value
};

// MAIL FROM:<path> [SIZE=n] [BODY=7BIT|8BITMIME].  `path` gets the reverse path as written between
// the brackets, a source route dropped ("" for the null path <>); size is 0 when not declared.
struct MailFrom {
    char path[MAX_PATH_TEXT + 1];
    unsigned long long size;
    bool eight_bit;
};
PathStatus ParseMailFrom(const char* args, std::size_t len, MailFrom* out);

// RCPT TO:<local@domain> or <postmaster>: `domain` is ours.  On Ok, *postmaster tells
// postmaster (with or without our domain) from a user, whose name is in `local`, unquoted.
PathStatus ParseRcptTo(const char* args, std::size_t len, const char* domain, char (&local)[MAX_LOCAL + 1],
                       bool* postmaster);

// Case-insensitive comparison of ASCII text.
bool SameText(const char* a, const char* b);

}  // namespace smtp
