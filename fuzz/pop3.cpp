// The POP3 core: the line collector with the command parser, and the letter renderer, each fed
// in pieces whose sizes the fuzzer chooses.
//
// Input: byte 0 picks the piece sizes, byte 1 the output room per call, byte 2 RETR or TOP n;
// the rest is both the received command bytes and the letter file.  The renderer holds the first
// LOOKAHEAD (4,096) octets of a letter before it settles the headers, so this target takes inputs
// of up to 12,000 octets (fuzz/run.sh), and a seed of over 4,096 goes past that from the start.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "command.h"
#include "message.h"

using namespace pop3;

#define CHECK FUZZ_CHECK

namespace {

// Piece sizes from 1 to 64, or now and then a large one, in a sequence the fuzzer steers.
struct Pieces {
    unsigned s;
    std::size_t Next() {
        s = s * 1103515245u + 12345u;
        unsigned v = s >> 16;
        return v % 8 == 0 ? 1 + v % 5000 : 1 + v % 64;
    }
};

// Lines cut by the collector must be the bytes between LFs, a CR before the LF dropped, and a
// line over 255 octets (its LF counted) reported as too long.
void CheckLines(const unsigned char* data, std::size_t size, Pieces pieces) {
    static LineCollector c;
    LineReset(c);
    std::size_t at = 0, line_start = 0;
    while (at < size) {
        std::size_t n = pieces.Next();
        if (n > size - at) n = size - at;
        std::vector<unsigned char> piece(data + at, data + at + n);   // alone on the heap
        std::size_t off = 0;
        while (off < n) {
            std::size_t used = 0;
            CommandLine cmd;
            bool ready = NextCommand(c, piece.data() + off, n - off, &used, &cmd);
            CHECK(used <= n - off);
            CHECK(c.len < MAX_LINE);
            off += used;
            if (!ready) {
                CHECK(off == n);
                break;
            }
            CHECK(data[at + off - 1] == '\n');
            std::size_t octets = at + off - line_start;
            std::string want(reinterpret_cast<const char*>(data) + line_start, octets - 1);
            if (!want.empty() && want.back() == '\r') want.pop_back();
            line_start = at + off;
            if (octets > MAX_LINE) {
                CHECK(cmd.too_long && cmd.verb == Verb::Unknown);
                continue;
            }
            CHECK(!cmd.too_long);
            CHECK(c.line[c.len] == 0 && want == std::string(c.line, c.len));
            CHECK(cmd.argc >= 0 && cmd.argc <= 2);
            for (int a = 0; a < 2; ++a) CHECK(std::memchr(cmd.args[a], 0, MAX_ARG + 1) != nullptr);
            if (cmd.bad_args) CHECK(cmd.argc == 0);
            if ((cmd.verb == Verb::User || cmd.verb == Verb::Pass) && !cmd.bad_args) {
                // The argument is the whole rest of the line after the keyword and one separator.
                std::size_t arg = std::strlen(cmd.args[0]);
                CHECK(arg > 0 && arg + 5 <= want.size() && want.compare(want.size() - arg, arg, cmd.args[0]) == 0);
                std::size_t kw = want.size() - arg - 5;
                CHECK(want.find_first_not_of(" \t") == kw);
            }
        }
        at += n;
    }
}

// Renders the file fed in the given pieces into `room` bytes per call; the room alone on the heap.
std::string Render(const unsigned char* file, std::size_t size, long long top, Pieces pieces,
                   std::size_t room) {
    static Renderer r;
    const LetterMeta meta = {1700000000, "001.msg", "fuzz.local", "fuzz.local"};
    Begin(r, meta, top);
    std::vector<unsigned char> out(room);
    std::string got;
    std::size_t at = 0, idle = 0;
    while (at < size) {
        std::size_t n = pieces.Next();
        if (n > size - at) n = size - at;
        std::vector<unsigned char> piece(file + at, file + at + n);
        std::size_t used = 0;
        std::size_t wrote = Feed(r, piece.data(), n, &used, out.data(), room);
        CHECK(used <= n && wrote <= room);
        got.append(reinterpret_cast<char*>(out.data()), wrote);
        at += used;
        idle = used || wrote ? 0 : idle + 1;
        CHECK(idle < 2);
    }
    while (!Finished(r)) {
        std::size_t wrote = Finish(r, out.data(), room);
        CHECK(wrote > 0 || Finished(r));
        got.append(reinterpret_cast<char*>(out.data()), wrote);
    }
    CHECK(Octets(r) == got.size());
    return got;
}

unsigned long long Count(const unsigned char* file, std::size_t size, long long top) {
    static Renderer r;
    const LetterMeta meta = {1700000000, "001.msg", "fuzz.local", "fuzz.local"};
    Begin(r, meta, top);
    std::size_t used = 0;
    Feed(r, file, size, &used, nullptr, 0);
    CHECK(used == size);
    while (!Finished(r)) Finish(r, nullptr, 0);
    return Octets(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size < 3) return 0;
    Pieces pieces{data[0] * 2654435761u};
    std::size_t room = 1 + data[1] % 32 * (data[1] & 0x80 ? 256 : 1);
    long long top = data[2] < 192 ? -1 : data[2] % 8;
    const unsigned char* body = data + 3;
    std::size_t len = size - 3;

    CheckLines(body, len, pieces);

    std::string whole = Render(body, len, top, Pieces{1}, 1 << 16);
    CHECK(whole == Render(body, len, top, pieces, room));
    CHECK(Count(body, len, top) == whole.size());
    // CRLF everywhere, a CRLF at the end, and no line of a lone "." inside.
    CHECK(whole.size() >= 2 && whole.compare(whole.size() - 2, 2, "\r\n") == 0);
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (whole[i] == '\r') CHECK(i + 1 < whole.size() && whole[i + 1] == '\n');
        if (whole[i] == '\n') CHECK(i > 0 && whole[i - 1] == '\r');
        if (whole[i] == '.' && (i == 0 || whole[i - 1] == '\n')) CHECK(whole[i + 1] == '.');
    }
    return 0;
}
