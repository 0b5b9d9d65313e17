// The SMTP core: the command line reader with the paths of RCPT, and the data reader, fed in
// pieces whose sizes the fuzzer chooses (byte 0 picks them; the rest is the bytes).  The data
// reader must agree with a plain reading: it ends right after the first <CRLF>.<CRLF> (or a
// ".<CRLF>" at the very start), flags a bare CR or LF exactly when there is one, and without one
// gives the bytes with each line's leading dot dropped.
#include <string>
#include <vector>

#include "check.h"
#include "smtp_command.h"
#include "smtp_data.h"

using namespace smtp;

namespace {

struct Pieces {
    unsigned s;
    std::size_t Next() {
        s = s * 1103515245u + 12345u;
        return (s >> 16) % 8 == 0 ? 1 + (s >> 16) % 3000 : 1 + (s >> 16) % 64;
    }
};

// Lines are cut at LF and reported too long exactly past 512 octets; a recipient the server
// would look up never holds what would pass mail on.
void CheckCommands(const unsigned char* data, std::size_t size, Pieces pieces) {
    static LineReader r;
    LineReset(r);
    std::size_t at = 0, line_start = 0;
    for (std::size_t n; at < size; at += n) {
        n = std::min(pieces.Next(), size - at);
        std::vector<unsigned char> piece(data + at, data + at + n);
        std::size_t used = 0;
        Command cmd;
        for (std::size_t off = 0; off < n; off += used) {
            if (!NextCommand(r, piece.data() + off, n - off, &used, &cmd)) break;
            FUZZ_CHECK(used <= n - off && r.len <= MAX_LINE && data[at + off + used - 1] == '\n');
            FUZZ_CHECK(cmd.too_long == (at + off + used - line_start > MAX_LINE));
            line_start = at + off + used;
            char local[MAX_LOCAL + 1];
            bool postmaster;
            if (cmd.verb == Verb::Rcpt &&
                ParseRcptTo(cmd.args, cmd.args_len, "office.local", local, &postmaster) == PathStatus::Ok && !postmaster)
                for (const char* p = local; *p; ++p) FUZZ_CHECK(*p != '@' && *p != '%' && *p != '!' && *p != ':');
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size < 1) return 0;
    Pieces pieces{data[0] * 2654435761u};
    std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
    CheckCommands(data + 1, size - 1, pieces);

    DataReader r;
    DataReset(r);
    std::string got;
    std::size_t at = 0;
    for (std::size_t used = 0; at < in.size() && !DataEnded(r); at += used) {
        std::size_t n = std::min(pieces.Next(), in.size() - at);
        std::vector<unsigned char> piece(in.begin() + at, in.begin() + at + n), out(n + 1);
        std::size_t wrote = DataFeed(r, piece.data(), n, &used, out.data());
        FUZZ_CHECK(used <= n && wrote <= n + 1);
        got.append(reinterpret_cast<char*>(out.data()), wrote);
    }
    FUZZ_CHECK(r.octets == got.size());

    bool at_start = in.compare(0, 3, ".\r\n") == 0;
    std::size_t end = at_start ? 3 : in.find("\r\n.\r\n");
    if (end != std::string::npos && !at_start) end += 5;
    FUZZ_CHECK(DataEnded(r) == (end != std::string::npos));
    std::string taken = in.substr(0, DataEnded(r) ? end : in.size());
    FUZZ_CHECK(at == taken.size());
    bool bare = false;
    for (std::size_t i = 0; i < taken.size(); ++i)
        bare = bare || (taken[i] == '\n' && (i == 0 || taken[i - 1] != '\r')) ||
               (taken[i] == '\r' && i + 1 < taken.size() && taken[i + 1] != '\n');
    FUZZ_CHECK(r.bare_line_end == bare);
    if (!bare && DataEnded(r)) {
        std::string want, text = taken.substr(0, taken.size() - 3);
        for (std::size_t i = 0; i < text.size(); ++i)
            if (!(text[i] == '.' && (i == 0 || text[i - 1] == '\n'))) want += text[i];
        FUZZ_CHECK(got == want);
    }
    return 0;
}
