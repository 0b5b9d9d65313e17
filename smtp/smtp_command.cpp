#include "smtp_command.h"

#include <cstring>

namespace smtp {
namespace {

struct Word { const char* text; Verb verb; };
// The commands of RFC 5321 and the extensions a client may try: those this server does not do
// are known, so that they get 502 rather than 500.
const Word kWords[] = {
    {"HELO", Verb::Helo}, {"EHLO", Verb::Ehlo}, {"MAIL", Verb::Mail}, {"RCPT", Verb::Rcpt},
    {"DATA", Verb::Data}, {"RSET", Verb::Rset}, {"NOOP", Verb::Noop}, {"QUIT", Verb::Quit},
    {"VRFY", Verb::Vrfy}, {"EXPN", Verb::NotDone}, {"HELP", Verb::NotDone}, {"SEND", Verb::NotDone},
    {"SOML", Verb::NotDone}, {"SAML", Verb::NotDone}, {"TURN", Verb::NotDone}, {"ETRN", Verb::NotDone},
    {"ATRN", Verb::NotDone}, {"AUTH", Verb::NotDone}, {"STARTTLS", Verb::NotDone}, {"BDAT", Verb::NotDone},
};

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameTextN(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (Upper(a[i]) != Upper(b[i])) return false;
    return true;
}

bool IsAlnum(unsigned char c) { return (c >= '0' && c <= '9') || (Upper(static_cast<char>(c)) >= 'A' && Upper(static_cast<char>(c)) <= 'Z'); }

// atext of RFC 5322, which a dot-string's atoms are made of.
bool IsAtext(unsigned char c) { return IsAlnum(c) || (c && std::strchr("!#$%&'*+-/=?^_`{|}~", c)); }

// Reads a path's parts from text[at..end).
struct Scan {
    const char* text;
    std::size_t at, end;
    bool More() const { return at < end; }
    unsigned char Peek() const { return static_cast<unsigned char>(text[at]); }
};

// A domain: sub-domains of letters, digits and inner hyphens, joined by dots; or an address
// literal in brackets.  Copies it to `out` (room MAX_DOMAIN + 1).
bool ReadDomain(Scan& s, char* out) {
    std::size_t start = s.at;
    if (s.More() && s.Peek() == '[') {
        ++s.at;
        while (s.More() && s.Peek() != ']') {
            unsigned char c = s.Peek();
            if (!IsAlnum(c) && c != '.' && c != ':' && c != '-') return false;
            ++s.at;
        }
        if (!s.More()) return false;
        ++s.at;
    } else {
        for (;;) {
            std::size_t label = s.at;
            while (s.More() && (IsAlnum(s.Peek()) || s.Peek() == '-')) ++s.at;
            if (s.at == label || s.text[label] == '-' || s.text[s.at - 1] == '-') return false;
            if (!s.More() || s.Peek() != '.') break;
            ++s.at;
        }
    }
    std::size_t n = s.at - start;
    if (n > MAX_DOMAIN) return false;
    std::memcpy(out, s.text + start, n);
    out[n] = '\0';
    return true;
}

// What a path between its brackets holds.
struct PathParts {
    bool route;        // an "@hop,@hop:" source route came first
    bool relay_chars;  // the local part holds '%' or '!', or, quoted, '@'
    bool quoted;
    char local[MAX_LOCAL + 1];   // unquoted
    bool has_domain;
    char domain[MAX_DOMAIN + 1];
    std::size_t mailbox_start;   // where the mailbox begins, after any route
};

// Reads "<" [route ":"] local-part ["@" domain] ">" from s; false on a syntax fault.  Bytes over
// 127 are faults: the server does not offer SMTPUTF8.
bool ReadPath(Scan& s, PathParts& p) {
    p = PathParts{};
    if (!s.More() || s.Peek() != '<') return false;
    ++s.at;
    if (s.More() && s.Peek() == '@') {
        p.route = true;
        while (s.More() && s.Peek() != ':' && s.Peek() != '>') {
            if (s.Peek() != '@' && s.Peek() != ',' && s.Peek() != '.' && s.Peek() != '[' && s.Peek() != ']' &&
                !IsAlnum(s.Peek()) && s.Peek() != '-')
                return false;
            ++s.at;
        }
        if (!s.More() || s.Peek() != ':') return false;
        ++s.at;
    }
    p.mailbox_start = s.at;
    std::size_t n = 0;
    if (s.More() && s.Peek() == '"') {
        p.quoted = true;
        ++s.at;
        for (;;) {
            if (!s.More()) return false;
            unsigned char c = s.Peek();
            ++s.at;
            if (c == '"') break;
            if (c == '\\') {
                if (!s.More()) return false;
                c = s.Peek();
                ++s.at;
            }
            if (c < 32 || c > 126) return false;
            if (c == '@' || c == '%' || c == '!') p.relay_chars = true;
            if (n == MAX_LOCAL) return false;
            p.local[n++] = static_cast<char>(c);
        }
    } else {
        bool dot_ok = false;
        while (s.More() && (IsAtext(s.Peek()) || s.Peek() == '.')) {
            unsigned char c = s.Peek();
            if (c == '.' && !dot_ok) return false;
            dot_ok = c != '.';
            if (c == '%' || c == '!') p.relay_chars = true;
            if (n == MAX_LOCAL) return false;
            p.local[n++] = static_cast<char>(c);
            ++s.at;
        }
        if (n > 0 && p.local[n - 1] == '.') return false;
    }
    p.local[n] = '\0';
    if (s.More() && s.Peek() == '@') {
        ++s.at;
        p.has_domain = true;
        if (!ReadDomain(s, p.domain)) return false;
    }
    if (!s.More() || s.Peek() != '>') return false;
    ++s.at;
    return s.at - 1 - p.mailbox_start <= MAX_PATH_TEXT;
}

// "FROM:" or "TO:", any case, then any spaces before the path (a common slip of clients).
bool ReadPrefix(Scan& s, const char* word) {
    std::size_t n = std::strlen(word);
    if (s.end - s.at < n || !SameTextN(s.text + s.at, word, n)) return false;
    s.at += n;
    while (s.More() && s.Peek() == ' ') ++s.at;
    return true;
}

bool ReadNumber(const char* t, std::size_t n, unsigned long long* out) {
    if (n == 0 || n > 19) return false;
    unsigned long long v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        v = v * 10 + static_cast<unsigned>(t[i] - '0');
    }
    *out = v;
    return true;
}

}  // namespace

bool SameText(const char* a, const char* b) {
    std::size_t n = std::strlen(a);
    return n == std::strlen(b) && SameTextN(a, b, n);
}

Command ParseCommand(const char* line, std::size_t len) {
    Command c = {};
    c.verb = Verb::Unknown;
    std::size_t word = 0;
    while (word < len && line[word] != ' ') ++word;
    for (const Word& w : kWords)
        if (std::strlen(w.text) == word && SameTextN(line, w.text, word)) c.verb = w.verb;
    if (c.verb == Verb::Unknown) return c;
    c.args = line + word + (word < len ? 1 : 0);
    c.args_len = len - word - (word < len ? 1 : 0);
    return c;
}

void LineReset(LineReader& r) { r = LineReader{}; }

bool NextCommand(LineReader& r, const unsigned char* in, std::size_t len, std::size_t* used, Command* cmd) {
    if (r.complete) {
        r.len = 0;
        r.skipping = false;
        r.complete = false;
    }
    const void* lf = std::memchr(in, '\n', len);
    std::size_t take = lf ? static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - in) + 1 : len;
    *used = take;
    std::size_t body = lf ? take - 1 : take;
    // The line so far, this piece and the LF still to come must fit in MAX_LINE octets (a CR before
    // the LF is kept with the line until the LF decides it belongs to the line end).
    if (!r.skipping) {
        if (r.len + body + 1 > MAX_LINE) {
            r.skipping = true;
        } else {
            std::memcpy(r.line + r.len, in, body);
            r.len += body;
        }
    }
    if (!lf) return false;
    r.complete = true;
    if (r.skipping) {
        *cmd = Command{};
        cmd->too_long = true;
        return true;
    }
    if (r.len > 0 && r.line[r.len - 1] == '\r') --r.len;
    r.line[r.len] = '\0';
    *cmd = ParseCommand(r.line, r.len);
    return true;
}

PathStatus ParseMailFrom(const char* args, std::size_t len, MailFrom* out) {
    *out = MailFrom{};
    Scan s{args, 0, len};
    PathParts p;
    if (!ReadPrefix(s, "FROM:") || !ReadPath(s, p)) return PathStatus::Syntax;
    bool null_path = !p.route && !p.quoted && !p.local[0] && !p.has_domain;
    if (!null_path && (!p.local[0] || !p.has_domain)) return PathStatus::Syntax;
    std::size_t n = s.at - 1 - p.mailbox_start;
    std::memcpy(out->path, args + p.mailbox_start, n);
    out->path[n] = '\0';
    while (s.More()) {
        if (s.Peek() != ' ') return PathStatus::Syntax;
        while (s.More() && s.Peek() == ' ') ++s.at;
        std::size_t key = s.at;
        while (s.More() && s.Peek() != ' ' && s.Peek() != '=') ++s.at;
        std::size_t key_len = s.at - key;
        if (key_len == 0) break;
        if (!s.More() || s.Peek() != '=') return PathStatus::Params;
        std::size_t value = ++s.at;
        while (s.More() && s.Peek() != ' ') ++s.at;
        const char* v = args + value;
        std::size_t v_len = s.at - value;
        if (key_len == 4 && SameTextN(args + key, "SIZE", 4)) {
            if (!ReadNumber(v, v_len, &out->size)) return PathStatus::Params;
        } else if (key_len == 4 && SameTextN(args + key, "BODY", 4)) {
            if (v_len == 8 && SameTextN(v, "8BITMIME", 8)) out->eight_bit = true;
            else if (!(v_len == 4 && SameTextN(v, "7BIT", 4))) return PathStatus::Params;
        } else {
            return PathStatus::Params;
        }
    }
    return PathStatus::Ok;
}

PathStatus ParseRcptTo(const char* args, std::size_t len, const char* domain, char (&local)[MAX_LOCAL + 1],
                       bool* postmaster) {
    local[0] = '\0';
    *postmaster = false;
    Scan s{args, 0, len};
    PathParts p;
    if (!ReadPrefix(s, "TO:") || !ReadPath(s, p) || !p.local[0]) return PathStatus::Syntax;
    while (s.More() && s.Peek() == ' ') ++s.at;
    if (p.route || p.relay_chars) return PathStatus::Relay;
    if (s.More()) return PathStatus::Params;
    if (p.has_domain && !SameText(p.domain, domain)) return PathStatus::Foreign;
    if (SameText(p.local, "postmaster")) {
        *postmaster = true;
        return PathStatus::Ok;
    }
    if (!p.has_domain) return PathStatus::Foreign;
    std::strcpy(local, p.local);
    return PathStatus::Ok;
}

}  // namespace smtp
