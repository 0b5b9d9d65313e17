// The SMTP core: the command line reader and the paths of MAIL and RCPT, and the data reader,
// each fed in pieces whose sizes the fuzzer chooses.
//
// Input: byte 0 picks the piece sizes; the rest is both the command bytes and the data.  The data
// reader must agree with a plain reading of the bytes: the data ends exactly after the first
// <CRLF>.<CRLF> (or a ".<CRLF>" at the very start), a bare CR or LF is flagged exactly when there
// is one, and without one the message is the bytes with each line's leading dot dropped.
#include <string>
#include <vector>

#include "check.h"
#include "smtp_command.h"
#include "smtp_data.h"

using namespace smtp;

#define CHECK FUZZ_CHECK

namespace {

struct Pieces {
    unsigned s;
    std::size_t Next() {
        s = s * 1103515245u + 12345u;
        unsigned v = s >> 16;
        return v % 8 == 0 ? 1 + v % 3000 : 1 + v % 64;
    }
};

void CheckCommands(const unsigned char* data, std::size_t size, Pieces pieces) {
    static LineReader r;
    LineReset(r);
    std::size_t at = 0, line_start = 0;
    while (at < size) {
        std::size_t n = pieces.Next();
        if (n > size - at) n = size - at;
        std::vector<unsigned char> piece(data + at, data + at + n);
        std::size_t off = 0;
        while (off < n) {
            std::size_t used = 0;
            Command cmd;
            bool ready = NextCommand(r, piece.data() + off, n - off, &used, &cmd);
            CHECK(used <= n - off && r.len <= MAX_LINE);
            off += used;
            if (!ready) break;
            std::size_t octets = at + off - line_start;
            line_start = at + off;
            CHECK(cmd.too_long == (octets > MAX_LINE));
            if (cmd.too_long) continue;
            if (cmd.verb == Verb::Mail) {
                MailFrom m;
                if (ParseMailFrom(cmd.args, cmd.args_len, &m) == PathStatus::Ok)
                    for (const char* p = m.path; *p; ++p) CHECK(*p >= 32 && *p <= 126);
            }
            if (cmd.verb == Verb::Rcpt) {
                char local[MAX_LOCAL + 1];
                bool postmaster;
                if (ParseRcptTo(cmd.args, cmd.args_len, "office.local", local, &postmaster) == PathStatus::Ok && !postmaster) {
                    CHECK(local[0]);
                    // A name the server looks up never asks it to pass mail on.
                    for (const char* p = local; *p; ++p) CHECK(*p != '@' && *p != '%' && *p != '!' && *p != ':');
                }
            }
        }
        at += n;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size < 1) return 0;
    Pieces pieces{data[0] * 2654435761u};
    const unsigned char* body = data + 1;
    std::size_t len = size - 1;
    CheckCommands(body, len, pieces);

    DataReader r;
    DataReset(r);
    std::string got;
    std::size_t at = 0;
    while (at < len && !DataEnded(r)) {
        std::size_t n = pieces.Next();
        if (n > len - at) n = len - at;
        std::vector<unsigned char> piece(body + at, body + at + n), out(n + 1);
        std::size_t used = 0;
        std::size_t wrote = DataFeed(r, piece.data(), n, &used, out.data());
        CHECK(used <= n && wrote <= n + 1);
        got.append(reinterpret_cast<char*>(out.data()), wrote);
        at += used;
    }
    CHECK(r.octets == got.size());

    std::string in(reinterpret_cast<const char*>(body), len);
    std::size_t end = in.compare(0, 3, ".\r\n") == 0 ? 3 : in.find("\r\n.\r\n");
    if (end != std::string::npos && in.compare(0, 3, ".\r\n") != 0) end += 5;
    CHECK(DataEnded(r) == (end != std::string::npos));
    std::string taken = in.substr(0, DataEnded(r) ? end : len);
    CHECK(at == taken.size());
    bool bare = false;
    for (std::size_t i = 0; i < taken.size(); ++i) {
        if (taken[i] == '\n' && (i == 0 || taken[i - 1] != '\r')) bare = true;
        if (taken[i] == '\r' && i + 1 < taken.size() && taken[i + 1] != '\n') bare = true;
    }
    CHECK(r.bare_line_end == bare);
    if (!bare && DataEnded(r)) {
        std::string want, text = taken.substr(0, taken.size() - 3);
        for (std::size_t i = 0; i < text.size(); ++i)
            if (!(text[i] == '.' && (i == 0 || text[i - 1] == '\n'))) want += text[i];
        CHECK(got == want);
    }
    return 0;
}
