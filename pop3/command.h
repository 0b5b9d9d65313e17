// The command side of the standard POP3 listener (RFC 1939, RFC 2449): cutting the received
// bytes into lines and reading each line as a command.
//
// Like wire/, this includes no Windows header and allocates nothing: a session holds one
// LineCollector and gets CommandLine values back by copy.
#pragma once

#include <cstddef>

namespace pop3 {

// A command line may be 255 octets long, its line end included (RFC 2449).
constexpr std::size_t MAX_LINE = 255;
// An argument keeps up to 40 octets (RFC 1939 allows 40 per argument); longer is a bad argument.
constexpr std::size_t MAX_ARG = 40;
// Numbers above this are refused on every platform alike (unsigned long is 32 bits on Windows,
// 64 on Linux, and both trees must agree).
constexpr unsigned long MAX_NUMBER = 0xFFFFFFFFul;

enum class Verb { Unknown, Capa, User, Pass, Stat, List, Uidl, Retr, Top, Dele, Noop, Rset, Quit };

// One command as the session sees it.
//  - verb: matched case-insensitively against the twelve keywords; anything else, an empty line
//    and a too-long line are Verb::Unknown.
//  - USER and PASS: everything after the single space that follows the keyword is one argument,
//    kept as sent (inner, leading and trailing spaces included: a password may hold them).
//  - Every other verb: the arguments are the words after the keyword, split on runs of spaces and
//    tabs; spaces at either end of the line are ignored.
//  - argc counts the arguments kept in args (0 to 2); args are NUL-terminated.
//  - bad_args: the verb is known but its arguments are not what it takes: the wrong count, an
//    argument over MAX_ARG octets or holding a NUL, or (LIST, UIDL, RETR, TOP, DELE) an argument
//    that is not a number by ParseNumber.  argc and args are then cleared.
//  - number[i]: the value of args[i] for the verbs that take numbers; 0 otherwise.
//  - too_long: the line was over MAX_LINE octets and was skipped; verb is Unknown.
struct CommandLine {
    Verb verb;
    int argc;
    char args[2][MAX_ARG + 1];
    unsigned long number[2];
    bool too_long;
    bool bad_args;
};

// Decimal digits only (at least one; leading zeros allowed), no sign, no space, at most
// MAX_NUMBER.  *out is set only on success.
bool ParseNumber(const char* text, unsigned long* out);

// Reads one line without its line end; `line` need not be NUL-terminated and may hold NULs.
CommandLine ParseCommand(const char* line, std::size_t len);

// ---- cutting received bytes into lines ----------------------------------------------------------

// A line ends at LF; a CR just before the LF belongs to the line end (a bare CR elsewhere is an
// ordinary byte).  The MAX_LINE limit counts the line end too: 253 octets and CRLF, or 254 and a
// bare LF, still make a line.  A longer line is dropped as it arrives (never stored past the
// buffer) up to its LF, and then reported once as too long.  Bytes without any LF are skipped for
// as long as they keep coming.
struct LineCollector {
    char line[MAX_LINE];      // the line without its line end, NUL-terminated when complete
    std::size_t len;          // bytes held in line
    bool skipping;            // the current line has passed MAX_LINE
    bool complete;            // the last feed ended a line: the next one starts a new line
};

enum class LineStatus { Partial, Line, TooLong };

void LineReset(LineCollector& c);

// Takes bytes from `in` up to and including the first LF, or all of them when there is none;
// *used says how many.  Line: c.line/c.len hold the line without its line end.  TooLong: a line
// over MAX_LINE octets ended.  Partial: all of `in` was taken and no line ended yet.
LineStatus LineFeed(LineCollector& c, const unsigned char* in, std::size_t len, std::size_t* used);

// The session's loop in one call: feeds bytes until a command is ready.  True with *cmd filled
// (a line read by ParseCommand, or a too-long line) and *used the bytes taken so far; false when
// all of `in` was taken without a line ending.  Call again with the rest of the bytes.
bool NextCommand(LineCollector& c, const unsigned char* in, std::size_t len, std::size_t* used,
                 CommandLine* cmd);

}  // namespace pop3
