#include "reply.h"

namespace pop3 {
namespace {

// Appends to a reply, keeping room for the CRLF; line breaks in the text become spaces so the
// reply stays one line.
struct Line {
    char (&out)[MAX_REPLY + 1];
    std::size_t n;
    void Put(const char* s) {
        for (; s && *s && n < MAX_REPLY - 2; ++s) out[n++] = (*s == '\r' || *s == '\n') ? ' ' : *s;
    }
    void Put(unsigned long long v) {
        char digits[21];
        int k = 0;
        do { digits[k++] = static_cast<char>('0' + v % 10); v /= 10; } while (v);
        while (k && n < MAX_REPLY - 2) out[n++] = digits[--k];
    }
    std::size_t End() {
        out[n++] = '\r';
        out[n++] = '\n';
        out[n] = 0;
        return n;
    }
};

}  // namespace

std::size_t FormatOk(char (&out)[MAX_REPLY + 1], const char* text) {
    Line l{out, 0};
    l.Put("+OK");
    if (text && *text) { l.Put(" "); l.Put(text); }
    return l.End();
}

std::size_t FormatErr(char (&out)[MAX_REPLY + 1], const char* code, const char* text) {
    Line l{out, 0};
    l.Put("-ERR");
    if (code && *code) { l.Put(" ["); l.Put(code); l.Put("]"); }
    if (text && *text) { l.Put(" "); l.Put(text); }
    return l.End();
}

std::size_t FormatStat(char (&out)[MAX_REPLY + 1], unsigned long count, unsigned long long octets) {
    Line l{out, 0};
    l.Put("+OK "); l.Put(count); l.Put(" "); l.Put(octets);
    return l.End();
}

std::size_t FormatListLine(char (&out)[MAX_REPLY + 1], bool positive, unsigned long n,
                           unsigned long long octets) {
    Line l{out, 0};
    if (positive) l.Put("+OK ");
    l.Put(n); l.Put(" "); l.Put(octets);
    return l.End();
}

std::size_t FormatUidLine(char (&out)[MAX_REPLY + 1], bool positive, unsigned long n, const char* uid) {
    Line l{out, 0};
    if (positive) l.Put("+OK ");
    l.Put(n); l.Put(" "); l.Put(uid);
    return l.End();
}

}  // namespace pop3
