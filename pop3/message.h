// A letter file as a mail client sees it over the standard POP3 listener, rendered as a stream.
//
// The file is a status byte ('R' read, '0' unread) and the text.  A mail client is sent:
//  - the text without the status byte (a file whose first byte is neither has no status byte);
//  - every line end as CRLF: a bare LF, a bare CR and CRLF each become one CRLF;
//  - when the text does not begin with a header block (see below), synthesised headers first:
//      Date: <the caller's Unix time, RFC 5322, "+0000">
//      From: <"put in the mailbox by the server", in Russian, an encoded word>
//       <postmaster@domain>            (when a domain is given)
//      Subject: <the first non-blank line of the text>
//      Message-ID: <uid@host>
//      MIME-Version: 1.0
//      Content-Type: text/plain; charset=windows-1251
//      Content-Transfer-Encoding: 8bit
//      <empty line>
//    then the whole text as the body.  A text that has a header block is sent as stored;
//  - dot-stuffing: a line that begins with '.' gets another '.' in front;
//  - a CRLF after the last line when the text does not end with a line end.
// The terminating ".\r\n" is not part of it: send TERMINATOR after Finished().  So the octets
// counted here are exactly what LIST and STAT report and RETR sends before its last line.
//
// A header block: the first line is a header field and so is every line up to the first empty
// line (or continues the field before it by starting with a space or a tab), and at least one
// field is one a real message header has (Date, From, Sender, To, Subject, Received, Return-Path,
// Message-ID, MIME-Version, Content-Type).  A header field is a name of 1 to 76 printable ASCII
// characters other than ':' (no space), then ':'.  So "Re: Friday\n\nSee you" is a note and gets
// headers; "Напоминание: ..." is a note too.  Only the first LOOKAHEAD octets of the text are
// looked at: a block that runs past them counts as a header block when it passes the rules that
// far (real stored headers can be long).
//
// Subject: the first line that holds anything but spaces and tabs, found within the first
// LOOKAHEAD octets of the text, spaces and tabs trimmed at both ends, cut to MAX_SUBJECT octets.
// Printable ASCII without "=?" goes as it is, folded before spaces to keep lines within 78
// characters where it can; anything else is sent as RFC 2047 encoded words
// (=?windows-1251?B?...?=), one per line of at most 76 characters.  No such line: no Subject.
//
// Streaming: Feed takes the file's bytes in chunks of any size (1 byte is fine) and writes into
// whatever room it is given, stopping where the room ends and going on from there at the next
// call.  The renderer holds the first LOOKAHEAD octets of the text itself, so nothing is asked of
// the caller's chunking.  Octet counting is the same renderer with a null `out`.
#pragma once

#include <cstddef>

namespace pop3 {

constexpr std::size_t LOOKAHEAD = 4096;
constexpr std::size_t MAX_SUBJECT = 200;
// Room for the synthesised headers at their longest (an encoded 200-octet Subject, a 70-character
// uid, and a host and a domain of up to MAX_HOST characters each).
constexpr std::size_t MAX_HOST = 255;
constexpr std::size_t HEADER_ROOM = 1536;

// The multi-line reply's last line.
constexpr char TERMINATOR[] = ".\r\n";
constexpr std::size_t TERMINATOR_LEN = 3;

struct LetterMeta {
    long long write_time;      // Unix seconds, for Date (before 1970 counts as 1970)
    const char* uid;           // for Message-ID: the letter's UIDL value (null: none)
    const char* host;          // for Message-ID: the server's host name (null: none)
    const char* domain;        // for From: the mail domain of postmaster (null: no From)
};

struct Renderer {
    // what to render
    long long top_lines;                 // -1 the whole letter; n: headers, empty line, n lines
    bool counting;                       // a null `out` was given: octets are counted, not written
    // input side
    bool first_byte_seen;                // the status byte question is settled
    unsigned char look[LOOKAHEAD];       // the start of the text, held until the headers are known
    std::size_t look_len, look_pos;      // bytes held; bytes of them rendered so far
    bool decided;                        // the header question is settled
    // output waiting for room: synthesised headers or the 1 to 2 bytes of one input byte
    unsigned char pend[HEADER_ROOM];
    std::size_t pend_len, pend_pos;
    // line state
    bool at_line_start;
    bool after_cr;                       // the last text byte was CR: an LF right after it is its pair
    bool in_header;                      // inside a stored header block (TOP counts body lines after it)
    long long lines_left;                // TOP: body lines still to send; -1 no limit
    bool stopped;                        // TOP has sent all it should; the rest is taken unread
    unsigned char last_out;              // the last byte rendered (0 before any)
    bool final_done;                     // Finish has added the closing CRLF if one was needed
    unsigned long long octets;           // bytes rendered so far
    // for the synthesised headers, copied at Begin
    long long write_time;
    char uid[71];
    char host[MAX_HOST + 1];
    char domain[MAX_HOST + 1];
};

// Starts a letter; `meta`'s strings are copied (uid cut to 70 characters, host and domain to
// MAX_HOST; in all three only printable ASCII other than '<' and '>' is kept).  top_lines: -1 for RETR, m for TOP.
void Begin(Renderer& r, const LetterMeta& meta, long long top_lines);

// Takes file bytes from `in` and writes the rendering into out[0..cap).  Returns the bytes
// written; *used says how many input bytes were taken.  When *used < len the room ran out: send
// what was written and call again with the rest.  With out == nullptr nothing is written, room is
// unlimited, and the return value is the count that would have been written.
std::size_t Feed(Renderer& r, const unsigned char* in, std::size_t len, std::size_t* used,
                 unsigned char* out, std::size_t cap);

// After the last byte of the file was taken: writes what remains (the held start of the text,
// the closing CRLF).  Call until Finished() (each call writes what fits; out == nullptr as above).
std::size_t Finish(Renderer& r, unsigned char* out, std::size_t cap);
bool Finished(const Renderer& r);

// True once TOP has sent its lines: the caller may stop reading the file and go to Finish.
bool Stopped(const Renderer& r);

// Bytes rendered so far; after Finished(), the size of the message as LIST reports it.
unsigned long long Octets(const Renderer& r);

// The whole count for a letter held in memory: what LIST and STAT report.
unsigned long long RenderedSize(const LetterMeta& meta, const unsigned char* file, std::size_t len);

// RFC 5322 date in UTC: "Thu, 01 Jan 1970 00:00:00 +0000" (31 characters and a NUL).  Times
// before 1970 give 1970, after 9999 give the last second of 9999.
void FormatDate(long long unix_time, char (&out)[32]);

}  // namespace pop3
