#include "message.h"

#include <cstring>

namespace pop3 {
namespace {

constexpr std::size_t MAX_FIELD_NAME = 76;
constexpr std::size_t MAX_UID = 70;

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }
bool IsEol(unsigned char c) { return c == '\r' || c == '\n'; }
unsigned char Lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c; }

// The end of the line that starts at `from` (the index of its CR or LF, or n), and where the next
// line starts.
std::size_t LineEnd(const unsigned char* t, std::size_t n, std::size_t from, std::size_t* next) {
    std::size_t i = from;
    while (i < n && !IsEol(t[i])) ++i;
    *next = i;
    if (i < n) *next = (t[i] == '\r' && i + 1 < n && t[i + 1] == '\n') ? i + 2 : i + 1;
    return i;
}

// Fields of which one must be in a block for it to count as a message's headers.
bool IsKnownField(const unsigned char* name, std::size_t len) {
    static const char* const kKnown[] = {"date", "from", "sender", "to", "subject", "received",
                                         "return-path", "message-id", "mime-version", "content-type"};
    for (const char* k : kKnown) {
        if (std::strlen(k) != len) continue;
        std::size_t i = 0;
        while (i < len && Lower(name[i]) == static_cast<unsigned char>(k[i])) ++i;
        if (i == len) return true;
    }
    return false;
}

// The length of the field name before ':' on a line of `len` bytes, or 0 when it is no field.
// `cut`: the line may end early (the look-ahead ended inside it), so a name still running is fine.
std::size_t FieldName(const unsigned char* line, std::size_t len, bool cut) {
    std::size_t i = 0;
    while (i < len && i <= MAX_FIELD_NAME && line[i] > 0x20 && line[i] < 0x7f && line[i] != ':') ++i;
    if (i < len && line[i] == ':' && i > 0 && i <= MAX_FIELD_NAME) return i;
    if (cut && i == len && i > 0 && i <= MAX_FIELD_NAME) return i;
    return 0;
}

// Whether the text held in the look-ahead begins with a header block (the rules in message.h).
// `whole`: the held bytes are the whole text; otherwise the text goes on past them.
bool BeginsWithHeaders(const unsigned char* t, std::size_t n, bool whole) {
    bool known = false;
    std::size_t pos = 0, lines = 0;
    while (pos < n) {
        std::size_t next, end = LineEnd(t, n, pos, &next);
        std::size_t len = end - pos;
        bool cut = end == n && !whole;
        if (len == 0) return lines > 0 && known;           // the empty line ends the block
        if (IsBlank(t[pos])) {
            if (lines == 0) return false;                    // a continuation needs a field before it
        } else {
            std::size_t name = FieldName(t + pos, len, cut);
            if (!name) return false;
            if (!cut || name < len) known = known || IsKnownField(t + pos, name);
        }
        ++lines;
        pos = next;
    }
    return lines > 0 && known;
}

// Appends to a bounded buffer; never writes past cap.
struct Out {
    unsigned char* p;
    std::size_t len, cap;
    void Put(const char* s, std::size_t n) {
        for (std::size_t i = 0; i < n && len < cap; ++i) p[len++] = static_cast<unsigned char>(s[i]);
    }
    void Put(const char* s) { Put(s, std::strlen(s)); }
};

void PutEncodedWords(Out& o, const unsigned char* s, std::size_t n) {
    static const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    // 36 octets make 48 characters: "Subject: " and the word stay within 76 characters.
    const std::size_t kPerWord = 36;
    for (std::size_t at = 0; at < n; at += kPerWord) {
        if (at) o.Put("\r\n ");
        o.Put("=?windows-1251?B?");
        std::size_t end = at + kPerWord < n ? at + kPerWord : n;
        for (std::size_t i = at; i < end; i += 3) {
            unsigned v = static_cast<unsigned>(s[i]) << 16;
            if (i + 1 < end) v |= static_cast<unsigned>(s[i + 1]) << 8;
            if (i + 2 < end) v |= s[i + 2];
            char q[4] = {kB64[v >> 18 & 63], kB64[v >> 12 & 63],
                         i + 1 < end ? kB64[v >> 6 & 63] : '=', i + 2 < end ? kB64[v & 63] : '='};
            o.Put(q, 4);
        }
        o.Put("?=");
    }
}

// Plain text folded before a space wherever the line would pass 78 characters; a word longer than
// a line stays whole.  Unfolding (taking the CRLFs out) gives the text back.
void PutFolded(Out& o, const unsigned char* s, std::size_t n, std::size_t column) {
    const std::size_t kWidth = 78;
    std::size_t i = 0;
    while (i < n) {
        std::size_t word = i + 1;                        // a word with the spaces before it
        while (word < n && s[word] != ' ') ++word;
        if (i > 0 && s[i] == ' ' && column + (word - i) > kWidth) {
            o.Put("\r\n");
            column = 0;
        }
        o.Put(reinterpret_cast<const char*>(s + i), word - i);
        column += word - i;
        i = word;
    }
}

void PutSubject(Out& o, const unsigned char* t, std::size_t n) {
    std::size_t pos = 0;
    while (pos < n) {
        std::size_t next, end = LineEnd(t, n, pos, &next);
        while (pos < end && IsBlank(t[pos])) ++pos;
        if (pos < end) {
            if (end - pos > MAX_SUBJECT) end = pos + MAX_SUBJECT;
            while (IsBlank(t[end - 1])) --end;
            bool plain = true;
            for (std::size_t i = pos; i < end; ++i)
                if (t[i] < 0x20 || t[i] > 0x7e || (t[i] == '=' && i + 1 < end && t[i + 1] == '?')) plain = false;
            o.Put("Subject: ");
            if (plain) PutFolded(o, t + pos, end - pos, 9);
            else PutEncodedWords(o, t + pos, end - pos);
            o.Put("\r\n");
            return;
        }
        pos = next;
    }
}

void MakeHeaders(Renderer& r) {
    Out o{r.pend, 0, sizeof r.pend};
    char date[32];
    FormatDate(r.write_time, date);
    o.Put("Date: ");
    o.Put(date);
    o.Put("\r\n");
    if (r.domain[0]) {
        // "Положено в ящик сервером" in Windows-1251: the server put the letter there, nobody sent it.
        static const char kName[] = "\xcf\xee\xeb\xee\xe6\xe5\xed\xee \xe2 \xff\xf9\xe8\xea \xf1\xe5\xf0\xe2\xe5\xf0\xee\xec";
        o.Put("From: ");
        PutEncodedWords(o, reinterpret_cast<const unsigned char*>(kName), sizeof kName - 1);
        o.Put("\r\n <postmaster@");
        o.Put(r.domain);
        o.Put(">\r\n");
    }
    PutSubject(o, r.look, r.look_len);
    o.Put("Message-ID: <");
    o.Put(r.uid);
    o.Put("@");
    o.Put(r.host);
    o.Put(">\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=windows-1251\r\n"
          "Content-Transfer-Encoding: 8bit\r\n\r\n");
    r.pend_len = o.len;
    r.pend_pos = 0;
}

void CopySafe(char* to, std::size_t cap, const char* from) {
    std::size_t n = 0;
    for (; from && *from && n + 1 < cap; ++from) {
        unsigned char c = static_cast<unsigned char>(*from);
        if (c > 0x20 && c < 0x7f && c != '<' && c != '>') to[n++] = static_cast<char>(c);
    }
    to[n] = 0;
}

void Push(Renderer& r, unsigned char c) {
    r.pend[r.pend_len++] = c;
    r.last_out = c;
}

// A line has ended: the stored header block may end with it, and TOP may have sent its lines.
void EndLine(Renderer& r) {
    bool was_empty = r.at_line_start;
    r.at_line_start = true;
    if (r.in_header) {
        if (was_empty) {
            r.in_header = false;
            if (r.lines_left == 0) r.stopped = true;
        }
    } else if (r.lines_left > 0 && --r.lines_left == 0) {
        r.stopped = true;
    }
}

// One byte of the text into pend (which is empty when this is called).
void Render(Renderer& r, unsigned char c) {
    if (r.after_cr && c == '\n') {            // the LF of a CRLF already sent
        r.after_cr = false;
        return;
    }
    r.after_cr = c == '\r';
    if (IsEol(c)) {
        Push(r, '\r');
        Push(r, '\n');
        EndLine(r);
        return;
    }
    if (r.at_line_start && c == '.') Push(r, '.');
    r.at_line_start = false;
    Push(r, c);
}

void Decide(Renderer& r, bool whole) {
    r.decided = true;
    if (BeginsWithHeaders(r.look, r.look_len, whole)) {
        r.in_header = true;
    } else {
        MakeHeaders(r);
        r.last_out = '\n';
        if (r.lines_left == 0) r.stopped = true;
    }
}

// Moves pending bytes out; true when none are left.
bool Flush(Renderer& r, unsigned char* out, std::size_t cap, std::size_t* wrote) {
    std::size_t n = r.pend_len - r.pend_pos;
    if (!r.counting) {
        std::size_t room = cap - *wrote;
        if (n > room) n = room;
        std::memcpy(out + *wrote, r.pend + r.pend_pos, n);
    }
    *wrote += n;
    r.octets += n;
    r.pend_pos += n;
    if (r.pend_pos < r.pend_len) return false;
    r.pend_pos = r.pend_len = 0;
    return true;
}

}  // namespace

void Begin(Renderer& r, const LetterMeta& meta, long long top_lines) {
    std::memset(&r, 0, sizeof r);
    r.top_lines = top_lines < 0 ? -1 : top_lines;
    r.lines_left = r.top_lines;
    r.at_line_start = true;
    r.write_time = meta.write_time;
    CopySafe(r.uid, MAX_UID + 1, meta.uid);
    CopySafe(r.host, MAX_HOST + 1, meta.host);
    CopySafe(r.domain, MAX_HOST + 1, meta.domain);
}

std::size_t Feed(Renderer& r, const unsigned char* in, std::size_t len, std::size_t* used,
                 unsigned char* out, std::size_t cap) {
    r.counting = out == nullptr;
    std::size_t i = 0, wrote = 0;
    for (;;) {
        if (!Flush(r, out, cap, &wrote)) break;
        if (r.stopped) { i = len; break; }
        if (!r.decided) {
            if (i == len) break;
            unsigned char c = in[i++];
            if (!r.first_byte_seen) {
                r.first_byte_seen = true;
                if (c == 'R' || c == '0') continue;
            }
            r.look[r.look_len++] = c;
            if (r.look_len == LOOKAHEAD) Decide(r, false);
        } else if (r.look_pos < r.look_len) {
            Render(r, r.look[r.look_pos++]);
        } else {
            if (i == len) break;
            // Inside a line, bytes up to the next line end go straight out: letters can be
            // megabytes, and only line starts and line ends need looking at.
            std::size_t run = 0;
            if (!r.at_line_start && !r.after_cr) {
                std::size_t limit = len - i;
                if (!r.counting && limit > cap - wrote) limit = cap - wrote;
                while (run < limit && !IsEol(in[i + run])) ++run;
            }
            if (run == 0) {
                Render(r, in[i++]);
                continue;
            }
            if (!r.counting) std::memcpy(out + wrote, in + i, run);
            r.last_out = in[i + run - 1];
            r.octets += run;
            wrote += run;
            i += run;
        }
    }
    *used = i;
    return wrote;
}

std::size_t Finish(Renderer& r, unsigned char* out, std::size_t cap) {
    r.counting = out == nullptr;
    if (!r.decided) Decide(r, true);
    std::size_t wrote = 0;
    for (;;) {
        if (!Flush(r, out, cap, &wrote)) break;
        if (r.final_done) break;
        if (!r.stopped && r.look_pos < r.look_len) {
            Render(r, r.look[r.look_pos++]);
        } else {
            if (r.last_out != '\n') {
                Push(r, '\r');
                Push(r, '\n');
            }
            r.final_done = true;
        }
    }
    return wrote;
}

bool Finished(const Renderer& r) { return r.final_done && r.pend_pos == r.pend_len; }

bool Stopped(const Renderer& r) { return r.stopped; }

unsigned long long Octets(const Renderer& r) { return r.octets; }

unsigned long long RenderedSize(const LetterMeta& meta, const unsigned char* file, std::size_t len) {
    Renderer r;
    Begin(r, meta, -1);
    std::size_t used = 0;
    Feed(r, file, len, &used, nullptr, 0);
    while (!Finished(r)) Finish(r, nullptr, 0);
    return r.octets;
}

void FormatDate(long long t, char (&out)[32]) {
    static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const long long kLast = 253402300799ll;              // 9999-12-31 23:59:59
    if (t < 0) t = 0;
    if (t > kLast) t = kLast;
    long long days = t / 86400, secs = t % 86400;
    // Civil date from days since 1970-01-01 (era arithmetic on a March-based year).
    long long z = days + 719468, era = z / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    int hh = static_cast<int>(secs / 3600), mm = static_cast<int>(secs / 60 % 60), ss = static_cast<int>(secs % 60);
    const char* wd = kDays[days % 7];
    const char* mon = kMonths[month - 1];
    char* p = out;
    auto two = [&p](int v) { *p++ = static_cast<char>('0' + v / 10); *p++ = static_cast<char>('0' + v % 10); };
    std::memcpy(p, wd, 3); p += 3;
    *p++ = ','; *p++ = ' ';
    two(day);
    *p++ = ' ';
    std::memcpy(p, mon, 3); p += 3;
    *p++ = ' ';
    two(static_cast<int>(year / 100)); two(static_cast<int>(year % 100));
    *p++ = ' ';
    two(hh); *p++ = ':'; two(mm); *p++ = ':'; two(ss);
    std::memcpy(p, " +0000", 7);
}

}  // namespace pop3
