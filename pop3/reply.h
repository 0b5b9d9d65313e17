// Reply lines of the standard POP3 listener, formatted into fixed buffers.
#pragma once

#include <cstddef>

namespace pop3 {

// RFC 2449: a status line is at most 512 octets, its CRLF included.
constexpr std::size_t MAX_REPLY = 512;

// The CAPA answer, whole.  PIPELINING promises that several commands sent at once are answered
// in order: true of a session that takes one line at a time from its LineCollector and keeps the
// bytes NextCommand did not take until the reply before is sent.  RESP-CODES: "-ERR [IN-USE]".
constexpr char CAPA_REPLY[] =
    "+OK Capability list follows\r\n"
    "USER\r\n"
    "UIDL\r\n"
    "TOP\r\n"
    "PIPELINING\r\n"
    "RESP-CODES\r\n"
    ".\r\n";

// "+OK" or "+OK text", CRLF.  The text is cut to fit and any CR or LF in it becomes a space, so
// the reply is always one line.  Returns the length (the buffer is also NUL-terminated).
std::size_t FormatOk(char (&out)[MAX_REPLY + 1], const char* text);

// "-ERR text" or, with a response code (RFC 2449, e.g. "IN-USE"), "-ERR [IN-USE] text", CRLF;
// cut and cleaned like FormatOk.
std::size_t FormatErr(char (&out)[MAX_REPLY + 1], const char* code, const char* text);

// "+OK count octets" for STAT.
std::size_t FormatStat(char (&out)[MAX_REPLY + 1], unsigned long count, unsigned long long octets);

// One line of a LIST scan: "n octets" with CRLF; with `positive`, the "+OK n octets" answer to
// LIST n.
std::size_t FormatListLine(char (&out)[MAX_REPLY + 1], bool positive, unsigned long n,
                           unsigned long long octets);

// One line of a UIDL listing: "n uid" with CRLF; with `positive`, the "+OK n uid" answer to UIDL n.
std::size_t FormatUidLine(char (&out)[MAX_REPLY + 1], bool positive, unsigned long n, const char* uid);

}  // namespace pop3
