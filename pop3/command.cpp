#include "command.h"

#include <cstring>

namespace pop3 {
namespace {

const char* const kWords[] = {"",     "CAPA", "USER", "PASS", "STAT", "LIST", "UIDL",
                              "RETR", "TOP",  "DELE", "NOOP", "RSET", "QUIT"};
constexpr int kVerbs = sizeof kWords / sizeof kWords[0];

// How many arguments each verb takes, and whether they are numbers.
struct Shape { int min_args, max_args; bool numbers; };
const Shape kShapes[kVerbs] = {
    {0, 0, false},                                  // Unknown
    {0, 0, false},                                  // CAPA
    {1, 1, false}, {1, 1, false},                   // USER, PASS
    {0, 0, false},                                  // STAT
    {0, 1, true}, {0, 1, true}, {1, 1, true},       // LIST, UIDL, RETR
    {2, 2, true}, {1, 1, true},                     // TOP, DELE
    {0, 0, false}, {0, 0, false}, {0, 0, false},    // NOOP, RSET, QUIT
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

Verb MatchVerb(const char* word, std::size_t len) {
    for (int v = 1; v < kVerbs; ++v) {
        std::size_t wl = std::strlen(kWords[v]);
        if (wl != len) continue;
        std::size_t i = 0;
        while (i < len && Upper(word[i]) == kWords[v][i]) ++i;
        if (i == len) return static_cast<Verb>(v);
    }
    return Verb::Unknown;
}

// Copies an argument; false when it is too long or holds a NUL.
bool TakeArg(CommandLine& cmd, const char* from, std::size_t len) {
    if (len > MAX_ARG || std::memchr(from, 0, len)) return false;
    std::memcpy(cmd.args[cmd.argc], from, len);
    cmd.args[cmd.argc][len] = 0;
    ++cmd.argc;
    return true;
}

CommandLine BadArgs(Verb verb) {
    CommandLine cmd = {};
    cmd.verb = verb;
    cmd.bad_args = true;
    return cmd;
}

}  // namespace

bool ParseNumber(const char* text, unsigned long* out) {
    if (!text || !*text) return false;
    unsigned long long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > MAX_NUMBER) return false;
    }
    *out = static_cast<unsigned long>(value);
    return true;
}

CommandLine ParseCommand(const char* line, std::size_t len) {
    CommandLine cmd = {};
    std::size_t i = 0;
    while (i < len && IsBlank(line[i])) ++i;
    std::size_t word = i;
    while (i < len && !IsBlank(line[i])) ++i;
    cmd.verb = MatchVerb(line + word, i - word);
    if (cmd.verb == Verb::Unknown) return cmd;
    const Shape& shape = kShapes[static_cast<int>(cmd.verb)];

    if (cmd.verb == Verb::User || cmd.verb == Verb::Pass) {
        if (i < len) ++i;                       // the one separating space
        if (i == len || !TakeArg(cmd, line + i, len - i)) return BadArgs(cmd.verb);
        return cmd;
    }

    for (;;) {
        while (i < len && IsBlank(line[i])) ++i;
        if (i == len) break;
        std::size_t from = i;
        while (i < len && !IsBlank(line[i])) ++i;
        if (cmd.argc == shape.max_args || !TakeArg(cmd, line + from, i - from)) return BadArgs(cmd.verb);
    }
    if (cmd.argc < shape.min_args) return BadArgs(cmd.verb);
    if (shape.numbers)
        for (int a = 0; a < cmd.argc; ++a)
            if (!ParseNumber(cmd.args[a], &cmd.number[a])) return BadArgs(cmd.verb);
    return cmd;
}

void LineReset(LineCollector& c) {
    c.len = 0;
    c.line[0] = 0;
    c.skipping = false;
    c.complete = false;
}

LineStatus LineFeed(LineCollector& c, const unsigned char* in, std::size_t len, std::size_t* used) {
    if (c.complete) LineReset(c);
    for (std::size_t i = 0; i < len; ++i) {
        unsigned char b = in[i];
        if (b == '\n') {
            *used = i + 1;
            c.complete = true;
            if (c.skipping) {
                c.len = 0;
                c.line[0] = 0;
                return LineStatus::TooLong;
            }
            if (c.len && c.line[c.len - 1] == '\r') --c.len;
            c.line[c.len] = 0;
            return LineStatus::Line;
        }
        if (c.skipping) continue;
        // Room is kept for the LF: a line whose bytes before it reach MAX_LINE is too long.
        if (c.len + 1 >= MAX_LINE) {
            c.skipping = true;
            c.len = 0;
            continue;
        }
        c.line[c.len++] = static_cast<char>(b);
    }
    *used = len;
    return LineStatus::Partial;
}

bool NextCommand(LineCollector& c, const unsigned char* in, std::size_t len, std::size_t* used,
                 CommandLine* cmd) {
    LineStatus st = LineFeed(c, in, len, used);
    if (st == LineStatus::Partial) return false;
    if (st == LineStatus::TooLong) {
        *cmd = CommandLine{};
        cmd->too_long = true;
        return true;
    }
    *cmd = ParseCommand(c.line, c.len);
    return true;
}

}  // namespace pop3
