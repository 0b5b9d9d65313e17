// What the SMTP listener says, and the pieces of a delivery that are plain text: the letter's
// head (status byte and trace lines), the client networks allowed, and the names of new letters.
#pragma once

#include <cstddef>
#include <cstdint>

namespace smtp {

constexpr std::size_t MAX_REPLY = 512;

// The one-line replies with a fixed text.
extern const char OK[];                 // RSET, NOOP, MAIL, RCPT
extern const char VRFY_REPLY[];
extern const char START_DATA[];
extern const char DELIVERED[];
extern const char SYNTAX[];             // a command's arguments are not what it takes
extern const char UNKNOWN[];            // no command of SMTP
extern const char NOT_DONE[];           // a command this server does not do
extern const char TOO_LONG[];           // a command line over 512 octets
extern const char NO_HELO[];            // MAIL before HELO or EHLO
extern const char NESTED_MAIL[];        // MAIL inside a transaction
extern const char NO_MAIL[];            // RCPT before MAIL
extern const char NO_RCPT[];            // DATA before a recipient was taken
extern const char BAD_PARAMS[];         // a MAIL or RCPT parameter not offered
extern const char RELAY[];              // a relay form, or a domain not ours
extern const char NO_USER[];            // nobody of that name
extern const char TOO_MANY_RCPTS[];
extern const char TOO_BIG[];            // SIZE= or the data over MaxSize
extern const char BARE_LINE_END[];      // the data held a bare CR or LF
extern const char NO_ROOM[];            // the disk is full: nothing delivered
extern const char NOT_STORED[];         // a letter could not be written: nothing delivered
extern const char TOO_MANY_BAD[];       // then the connection closes
extern const char BUSY[];               // no slot free
extern const char BUSY_ADDRESS[];       // the per-address limit
extern const char TIMEOUT[];            // idle past IdleSeconds

// "220 <domain> ESMTP Quorrel", "221 ...", "554 ..." (an address outside the networks), HELO's and
// EHLO's replies; each returns the length written (at most MAX_REPLY octets, CRLF included).
std::size_t FormatGreeting(char* out, const char* domain);
std::size_t FormatBye(char* out, const char* domain);
std::size_t FormatDenied(char* out, const char* domain);
std::size_t FormatHelo(char* out, const char* domain, bool extended, unsigned long long max_size);

// HELO's and EHLO's argument: a domain or an address literal, printable ASCII without spaces,
// up to 255 octets, taken up to the first space.  Copies it to `out` (room 256).
bool ReadHeloName(const char* args, std::size_t len, char* out);

// The head of a delivered letter: the status byte '0', "Return-Path: <sender>" and a Received
// line naming the client's HELO name and address, our domain and the date (UTC).  `out` has room
// for MAX_HEAD.  Returns the length.
constexpr std::size_t MAX_HEAD = 1024;
struct Date { int year, month, day, hour, minute, second, weekday; };   // weekday 0 = Sunday
struct Trace {
    const char* sender;
    const char* helo;
    bool extended;               // EHLO was used
    std::uint32_t address;       // the client's IPv4 address, host byte order
    const char* domain;
    Date date;
};
std::size_t FormatHead(char* out, const Trace& t);

// ---- networks ------------------------------------------------------------------------------------

struct Network { std::uint32_t base, mask; };   // host byte order
constexpr int MAX_NETWORKS = 32;
extern const char DEFAULT_NETWORKS[];
// CIDR blocks ("10.0.0.0/8", or an address alone for /32) separated by spaces or commas; the
// count read, or -1 when any block is bad or there are more than `max` (or none).
int ParseNetworks(const char* text, Network* out, int max);
bool InNetworks(const Network* nets, int count, std::uint32_t address);

// ---- names of new letters ------------------------------------------------------------------------

// Compares two file names as the file system sorts them: case-insensitive, Cyrillic of the
// Windows-1251 code page included.
int CompareNames(const char* a, const char* b);
// The name (without ".msg") of a new letter that sorts after `last`, the name of the last letter
// there (without ".msg", "" for none): its last run of digits counted up keeping its width, or
// "00000001" added when there is none to count up.  False when it would not fit in `room`.
bool NameAfter(const char* last, char* out, std::size_t room);

}  // namespace smtp
