// The frames that Quorrel and Vindle exchange over TCP port 110.
//
// Every message is a fixed-length frame of NUL-terminated 8-bit text: the client sends 100-byte
// command frames; the server answers with 5-byte status frames, a 20-byte statistics frame or
// 1000-byte data frames.  Nothing here allocates, and no Windows header is included, so the same
// code builds into both programs and into the native tests and fuzzers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wire {

constexpr int POP3_PORT = 110;
constexpr std::size_t COMMAND_FRAME_SIZE = 100;
constexpr std::size_t STATUS_FRAME_SIZE = 5;
constexpr std::size_t STAT_FRAME_SIZE = 20;
constexpr std::size_t DATA_FRAME_SIZE = 1000;

// Payloads of statistics and data frames start here: "+Ok", NUL, space.
constexpr std::size_t PAYLOAD_OFFSET = 5;
// The longest text a RETR or LIST data frame carries, so that its NUL lies within the frame.
constexpr std::size_t MAX_DATA_TEXT = DATA_FRAME_SIZE - PAYLOAD_OFFSET - 1;   // 994
// USER and PASS arguments are read from bytes 5 to 24 only: room for a user name of 19
// characters and its NUL.
constexpr std::size_t LOGIN_ARG_END = 25;
constexpr std::size_t MAX_LOGIN_ARG = LOGIN_ARG_END - PAYLOAD_OFFSET - 1;      // 19
// RETR and DELE numbers are read from bytes 5 to 7 only.
constexpr std::size_t NUMBER_ARG_END = 8;

enum class Command { None, User, Pass, Stat, List, Retr, Dele, Quit };

// The four-letter word of a command ("USER" ...); "" for Command::None.
const char* CommandWord(Command cmd);

// ---- client to server ------------------------------------------------------------------------

// Builds a 100-byte command frame: the word, then for USER, PASS, RETR, DELE and QUIT a space and
// the argument (null counts as empty), then a NUL; the rest is zero.  An argument too long for the
// frame is cut so that its NUL still lies within the 100 bytes.
void BuildCommand(unsigned char (&frame)[COMMAND_FRAME_SIZE], Command cmd, const char* arg);

struct ParsedCommand {
    Command cmd;                          // Command::None when bytes 0 to 3 name no command
    bool arg_valid;                       // USER/PASS: a NUL ends the argument within bytes 5..24
    char arg[MAX_LOGIN_ARG + 1];          // USER/PASS argument, NUL-terminated; "" when not valid
    bool has_number;                      // RETR/DELE: at least one digit was found
    int number;                           // RETR/DELE: bytes 5..7 read as a decimal integer; 0 without digits
};

// Reads a command frame of which `len` bytes were received.  Never reads past `len`, nor past
// byte 24 for USER and PASS, nor past byte 7 for RETR and DELE.  The word must be four bytes that
// match exactly and case-sensitively; byte 4 is not examined.
ParsedCommand ParseCommand(const unsigned char* frame, std::size_t len);

// ---- server to client ------------------------------------------------------------------------

// "+Ok" with its NUL and one filler byte, or the five bytes "-Erro".
void BuildStatus(unsigned char (&frame)[STATUS_FRAME_SIZE], bool positive);

// "+Ok", NUL, space, count, space, size, NUL, filler.  False (frame untouched) when the two
// numbers together have more than 13 digits and so cannot fit.
bool BuildStat(unsigned char (&frame)[STAT_FRAME_SIZE], std::uint32_t count, std::uint64_t size);

// "+Ok", NUL, space, then "1 s1 2 s2 ... " and a NUL.  False (frame untouched) when n is 0 or the
// text would pass 994 characters.
bool BuildList(unsigned char (&frame)[DATA_FRAME_SIZE], const std::uint32_t* sizes, std::size_t n);

// "+Ok", NUL, space, then the first min(len, 994) bytes of text and a NUL.  Returns the number of
// text bytes that went in.
std::size_t BuildRetr(unsigned char (&frame)[DATA_FRAME_SIZE], const unsigned char* text, std::size_t len);

// ---- reading replies (client) ----------------------------------------------------------------

// True exactly when the reply's first four bytes are '+', 'O', 'k', NUL.
bool IsPositive(const unsigned char* reply, std::size_t len);

// How many bytes the reply to `cmd` takes, judged from its first STATUS_FRAME_SIZE bytes:
// 20 for a positive STAT reply, 1000 for a positive LIST or RETR reply, 5 otherwise.
std::size_t ReplySize(Command cmd, const unsigned char* head, std::size_t len);

// STAT payload: the count is the text from byte 5 to the first space (looked for up to byte 19),
// the size the text after it up to a NUL, never past byte 19 or `len`.  Fields longer than their
// buffers are cut.  False when no space lies within the frame; the fields are then empty.
bool ParseStat(const unsigned char* reply, std::size_t len, char* count, std::size_t count_cap,
               char* size, std::size_t size_cap);

// Walks the entries of a LIST payload: "number size " pairs from byte 5 up to a NUL.
struct ListCursor {
    const unsigned char* reply;
    std::size_t len;
    std::size_t pos;
};
ListCursor ListBegin(const unsigned char* reply, std::size_t len);
// Fills the next entry's number and size (cut to their buffers).  False at the NUL that ends the
// list, at the end of the received bytes, or when an entry is not whole.
bool ListNext(ListCursor& cur, char* number, std::size_t number_cap, char* size, std::size_t size_cap);

// ---- putting frames together ------------------------------------------------------------------

// Collects bytes until `want` of them have arrived; a frame that comes in pieces is one frame.
struct Collector {
    unsigned char data[DATA_FRAME_SIZE];
    std::size_t have;
    std::size_t want;
};
void CollectorReset(Collector& c, std::size_t want);
// Takes up to (want - have) bytes from src and returns how many it took.
std::size_t CollectorFeed(Collector& c, const unsigned char* src, std::size_t len);
inline bool CollectorFull(const Collector& c) { return c.have >= c.want; }

// Decimal text of an unsigned number, no sign, no leading zeros; returns the length.
// `out` needs room for 21 bytes.
std::size_t FormatNumber(std::uint64_t value, char* out);

// ---- the letter of a RETR reply (client) -----------------------------------------------------

// How many text bytes from byte 5 of a RETR reply of `reply_len` bytes make the letter: the size
// its listing gave (`listed_size`, decimal text read like atoi; null when no listed row goes with
// the reply, and then all of them), never less than 0 nor more than the reply holds.
std::size_t LetterExtent(std::size_t reply_len, const char* listed_size);

}  // namespace wire
