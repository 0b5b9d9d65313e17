#include "wire.h"

#include <cstring>

namespace wire {
namespace {

const char* const kWords[] = {"", "USER", "PASS", "STAT", "LIST", "RETR", "DELE", "QUIT"};
const Command kOrder[] = {Command::User, Command::Pass, Command::Stat, Command::List,
                          Command::Retr, Command::Dele, Command::Quit};

bool TakesArgument(Command cmd) {
    return cmd == Command::User || cmd == Command::Pass || cmd == Command::Retr ||
           cmd == Command::Dele || cmd == Command::Quit;
}

bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Copies bytes [from, end) up to the first stop byte (or NUL) into out, cut to cap - 1
// characters; returns the index of the stop byte, or end when there was none.
std::size_t CopyField(const unsigned char* src, std::size_t from, std::size_t end, unsigned char stop,
                      char* out, std::size_t cap) {
    std::size_t n = 0, i = from;
    for (; i < end && src[i] != stop && src[i] != 0; ++i)
        if (n + 1 < cap) out[n++] = static_cast<char>(src[i]);
    if (cap) out[n] = 0;
    return i;
}

}  // namespace

const char* CommandWord(Command cmd) { return kWords[static_cast<int>(cmd)]; }

void BuildCommand(unsigned char (&frame)[COMMAND_FRAME_SIZE], Command cmd, const char* arg) {
    std::memset(frame, 0, sizeof frame);
    std::memcpy(frame, CommandWord(cmd), std::strlen(CommandWord(cmd)));
    if (!TakesArgument(cmd)) return;
    frame[4] = ' ';
    if (!arg) return;
    for (std::size_t i = 0; arg[i] && PAYLOAD_OFFSET + i < COMMAND_FRAME_SIZE - 1; ++i)
        frame[PAYLOAD_OFFSET + i] = static_cast<unsigned char>(arg[i]);
}

ParsedCommand ParseCommand(const unsigned char* frame, std::size_t len) {
    ParsedCommand p = {};
    if (len < 4) return p;
    for (Command c : kOrder)
        if (std::memcmp(frame, CommandWord(c), 4) == 0) { p.cmd = c; break; }

    if (p.cmd == Command::User || p.cmd == Command::Pass) {
        std::size_t end = len < LOGIN_ARG_END ? len : LOGIN_ARG_END;
        for (std::size_t i = PAYLOAD_OFFSET; i < end; ++i) {
            if (frame[i] == 0) {
                p.arg_valid = true;
                std::memcpy(p.arg, frame + PAYLOAD_OFFSET, i - PAYLOAD_OFFSET);
                p.arg[i - PAYLOAD_OFFSET] = 0;
                break;
            }
        }
    } else if (p.cmd == Command::Retr || p.cmd == Command::Dele) {
        // Like a C string-to-integer conversion of bytes 5 to 7: white space, a sign, digits.
        std::size_t end = len < NUMBER_ARG_END ? len : NUMBER_ARG_END, i = PAYLOAD_OFFSET;
        while (i < end && IsSpace(frame[i])) ++i;
        bool negative = false;
        if (i < end && (frame[i] == '+' || frame[i] == '-')) negative = frame[i++] == '-';
        int value = 0;
        for (; i < end && frame[i] >= '0' && frame[i] <= '9'; ++i) {
            value = value * 10 + (frame[i] - '0');
            p.has_number = true;
        }
        p.number = negative ? -value : value;
    }
    return p;
}

void BuildStatus(unsigned char (&frame)[STATUS_FRAME_SIZE], bool positive) {
    std::memcpy(frame, positive ? "+Ok\0\0" : "-Erro", STATUS_FRAME_SIZE);
}

std::size_t FormatNumber(std::uint64_t value, char* out) {
    char rev[21];
    std::size_t n = 0;
    do { rev[n++] = static_cast<char>('0' + value % 10); value /= 10; } while (value);
    for (std::size_t i = 0; i < n; ++i) out[i] = rev[n - 1 - i];
    out[n] = 0;
    return n;
}

bool BuildStat(unsigned char (&frame)[STAT_FRAME_SIZE], std::uint32_t count, std::uint64_t size) {
    char c[21], s[21];
    std::size_t cl = FormatNumber(count, c), sl = FormatNumber(size, s);
    if (PAYLOAD_OFFSET + cl + 1 + sl + 1 > STAT_FRAME_SIZE) return false;
    std::memset(frame, 0, sizeof frame);
    std::memcpy(frame, "+Ok\0 ", PAYLOAD_OFFSET);
    std::memcpy(frame + PAYLOAD_OFFSET, c, cl);
    frame[PAYLOAD_OFFSET + cl] = ' ';
    std::memcpy(frame + PAYLOAD_OFFSET + cl + 1, s, sl);
    return true;
}

bool BuildList(unsigned char (&frame)[DATA_FRAME_SIZE], const std::uint32_t* sizes, std::size_t n) {
    if (n == 0) return false;
    std::size_t total = 0;
    char num[21], sz[21];
    for (std::size_t k = 0; k < n; ++k)
        total += FormatNumber(k + 1, num) + 1 + FormatNumber(sizes[k], sz) + 1;
    if (total > MAX_DATA_TEXT) return false;

    std::memset(frame, 0, sizeof frame);
    std::memcpy(frame, "+Ok\0 ", PAYLOAD_OFFSET);
    std::size_t pos = PAYLOAD_OFFSET;
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t l = FormatNumber(k + 1, num);
        std::memcpy(frame + pos, num, l); pos += l; frame[pos++] = ' ';
        l = FormatNumber(sizes[k], sz);
        std::memcpy(frame + pos, sz, l); pos += l; frame[pos++] = ' ';
    }
    return true;
}

std::size_t BuildRetr(unsigned char (&frame)[DATA_FRAME_SIZE], const unsigned char* text, std::size_t len) {
    if (len > MAX_DATA_TEXT) len = MAX_DATA_TEXT;
    std::memset(frame, 0, sizeof frame);
    std::memcpy(frame, "+Ok\0 ", PAYLOAD_OFFSET);
    if (len) std::memcpy(frame + PAYLOAD_OFFSET, text, len);
    return len;
}

bool IsPositive(const unsigned char* reply, std::size_t len) {
    return len >= 4 && reply[0] == '+' && reply[1] == 'O' && reply[2] == 'k' && reply[3] == 0;
}

std::size_t ReplySize(Command cmd, const unsigned char* head, std::size_t len) {
    if (!IsPositive(head, len)) return STATUS_FRAME_SIZE;
    switch (cmd) {
    case Command::Stat: return STAT_FRAME_SIZE;
    case Command::List:
    case Command::Retr: return DATA_FRAME_SIZE;
    default: return STATUS_FRAME_SIZE;
    }
}

bool ParseStat(const unsigned char* reply, std::size_t len, char* count, std::size_t count_cap,
               char* size, std::size_t size_cap) {
    if (count_cap) count[0] = 0;
    if (size_cap) size[0] = 0;
    std::size_t end = len < STAT_FRAME_SIZE ? len : STAT_FRAME_SIZE;
    std::size_t space = PAYLOAD_OFFSET;
    while (space < end && reply[space] != ' ') ++space;
    if (space >= end) return false;
    CopyField(reply, PAYLOAD_OFFSET, space, ' ', count, count_cap);
    CopyField(reply, space + 1, end, 0, size, size_cap);
    return true;
}

ListCursor ListBegin(const unsigned char* reply, std::size_t len) {
    std::size_t end = len < DATA_FRAME_SIZE ? len : DATA_FRAME_SIZE;
    return ListCursor{reply, end, PAYLOAD_OFFSET};
}

bool ListNext(ListCursor& cur, char* number, std::size_t number_cap, char* size, std::size_t size_cap) {
    if (number_cap) number[0] = 0;
    if (size_cap) size[0] = 0;
    if (cur.pos >= cur.len || cur.reply[cur.pos] == 0) return false;
    std::size_t i = CopyField(cur.reply, cur.pos, cur.len, ' ', number, number_cap);
    if (i >= cur.len || cur.reply[i] != ' ') { cur.pos = cur.len; return false; }
    i = CopyField(cur.reply, i + 1, cur.len, ' ', size, size_cap);
    if (i >= cur.len || cur.reply[i] != ' ') { cur.pos = cur.len; return false; }
    cur.pos = i + 1;
    return true;
}

void CollectorReset(Collector& c, std::size_t want) {
    c.have = 0;
    c.want = want > DATA_FRAME_SIZE ? DATA_FRAME_SIZE : want;
}

std::size_t CollectorFeed(Collector& c, const unsigned char* src, std::size_t len) {
    std::size_t take = c.want > c.have ? c.want - c.have : 0;
    if (take > len) take = len;
    std::memcpy(c.data + c.have, src, take);
    c.have += take;
    return take;
}

std::size_t LetterExtent(std::size_t reply_len, const char* listed_size) {
    if (reply_len > DATA_FRAME_SIZE) reply_len = DATA_FRAME_SIZE;
    std::size_t room = reply_len > PAYLOAD_OFFSET ? reply_len - PAYLOAD_OFFSET : 0;
    if (!listed_size) return room;
    const char* p = listed_size;
    while (IsSpace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Past the room the exact value no longer matters, so a long number cannot overflow.
    std::size_t size = 0;
    for (; *p >= '0' && *p <= '9' && size <= room; ++p) size = size * 10 + static_cast<std::size_t>(*p - '0');
    if (negative) return 0;
    return size < room ? size : room;
}

}  // namespace wire
