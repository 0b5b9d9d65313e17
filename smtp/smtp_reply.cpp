#include "smtp_reply.h"

#include <cstdio>
#include <cstring>

namespace smtp {

const char OK[] = "250 2.0.0 Ok\r\n";
const char VRFY_REPLY[] = "252 2.5.0 Cannot verify the user, but will take mail for our users\r\n";
const char START_DATA[] = "354 End data with <CR><LF>.<CR><LF>\r\n";
const char DELIVERED[] = "250 2.0.0 Ok: delivered\r\n";
const char SYNTAX[] = "501 5.5.4 Syntax error in parameters or arguments\r\n";
const char UNKNOWN[] = "500 5.5.2 Command unrecognized\r\n";
const char NOT_DONE[] = "502 5.5.1 Command not implemented\r\n";
const char TOO_LONG[] = "500 5.5.2 Line too long\r\n";
const char NO_HELO[] = "503 5.5.1 Send HELO or EHLO first\r\n";
const char NESTED_MAIL[] = "503 5.5.1 Sender already given\r\n";
const char NO_MAIL[] = "503 5.5.1 Need MAIL before RCPT\r\n";
const char NO_RCPT[] = "503 5.5.1 Need RCPT before DATA\r\n";
const char BAD_PARAMS[] = "555 5.5.4 Parameter not recognized\r\n";
const char RELAY[] = "550 5.7.1 Relaying denied: this server takes mail for its own users only\r\n";
const char NO_USER[] = "550 5.1.1 No such user here\r\n";
const char TOO_MANY_RCPTS[] = "452 4.5.3 Too many recipients\r\n";
const char TOO_BIG[] = "552 5.3.4 Message size exceeds fixed maximum message size\r\n";
const char BARE_LINE_END[] = "550 5.6.0 Message refused: lines must end in CRLF, bare CR or LF found\r\n";
const char NO_ROOM[] = "452 4.3.1 Insufficient system storage, message not delivered\r\n";
const char NOT_STORED[] = "451 4.3.0 Local error in processing, message not delivered\r\n";
const char TOO_MANY_BAD[] = "421 4.7.0 Too many bad commands, closing connection\r\n";
const char BUSY[] = "421 4.3.2 Too many connections, try again later\r\n";
const char BUSY_ADDRESS[] = "421 4.7.0 Too many connections from your address\r\n";
const char TIMEOUT[] = "421 4.4.2 Idle for too long, closing connection\r\n";
const char DEFAULT_NETWORKS[] = "127.0.0.0/8 10.0.0.0/8 172.16.0.0/12 192.168.0.0/16";

namespace {

std::size_t Format(char* out, const char* fmt, const char* domain) {
    int n = std::snprintf(out, MAX_REPLY + 1, fmt, domain);
    return n < 0 ? 0 : static_cast<std::size_t>(n) > MAX_REPLY ? MAX_REPLY : static_cast<std::size_t>(n);
}

unsigned char Upper1251(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
    if (c >= 0xE0) return static_cast<unsigned char>(c - 32);   // а-я
    if (c == 0xB8) return 0xA8;                                   // ё
    return c;
}

bool ReadOctet(const char*& p, std::uint32_t* v) {
    if (*p < '0' || *p > '9') return false;
    unsigned n = 0;
    for (int digits = 0; *p >= '0' && *p <= '9'; ++p)
        if (++digits > 3 || (n = n * 10 + static_cast<unsigned>(*p - '0')) > 255) return false;
    *v = n;
    return true;
}

}  // namespace

std::size_t FormatGreeting(char* out, const char* domain) { return Format(out, "220 %.400s ESMTP Quorrel\r\n", domain); }
std::size_t FormatBye(char* out, const char* domain) { return Format(out, "221 2.0.0 %.400s closing connection\r\n", domain); }
std::size_t FormatDenied(char* out, const char* domain) {
    return Format(out, "554 5.7.1 %.400s: your address may not send mail here\r\n", domain);
}

std::size_t FormatHelo(char* out, const char* domain, bool extended, unsigned long long max_size) {
    if (!extended) return Format(out, "250 %.400s\r\n", domain);
    int n = std::snprintf(out, MAX_REPLY + 1,
                          "250-%.300s\r\n250-SIZE %llu\r\n250-8BITMIME\r\n250-PIPELINING\r\n250 ENHANCEDSTATUSCODES\r\n",
                          domain, max_size);
    return n < 0 ? 0 : static_cast<std::size_t>(n);
}

bool ReadHeloName(const char* args, std::size_t len, char* out) {
    std::size_t n = 0;
    while (n < len && args[n] != ' ') {
        unsigned char c = static_cast<unsigned char>(args[n]);
        if (c < 33 || c > 126 || n == 255) return false;
        out[n] = static_cast<char>(c);
        ++n;
    }
    out[n] = '\0';
    return n > 0;
}

std::size_t FormatHead(char* out, const Trace& t) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const Date& d = t.date;
    int n = std::snprintf(out, MAX_HEAD,
                          "0Return-Path: <%.256s>\r\n"
                          "Received: from %.255s ([%u.%u.%u.%u])\r\n"
                          "\tby %.255s with %s;\r\n"
                          "\t%s, %d %s %04d %02d:%02d:%02d +0000\r\n",
                          t.sender, t.helo, (t.address >> 24) & 255u, (t.address >> 16) & 255u,
                          (t.address >> 8) & 255u, t.address & 255u, t.domain, t.extended ? "ESMTP" : "SMTP",
                          kDays[(d.weekday % 7 + 7) % 7], d.day, kMonths[(d.month + 11) % 12], d.year, d.hour,
                          d.minute, d.second);
    return n < 0 ? 0 : static_cast<std::size_t>(n) >= MAX_HEAD ? MAX_HEAD - 1 : static_cast<std::size_t>(n);
}

int ParseNetworks(const char* text, Network* out, int max) {
    int count = 0;
    const char* p = text;
    for (;;) {
        while (*p == ' ' || *p == ',' || *p == '\t') ++p;
        if (!*p) break;
        std::uint32_t addr = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint32_t octet;
            if ((i > 0 && *p++ != '.') || !ReadOctet(p, &octet)) return -1;
            addr = addr << 8 | octet;
        }
        std::uint32_t bits = 32;
        if (*p == '/') {
            ++p;
            if (!ReadOctet(p, &bits) || bits > 32) return -1;
        }
        if (*p && *p != ' ' && *p != ',' && *p != '\t') return -1;
        if (count == max) return -1;
        std::uint32_t mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
        out[count++] = Network{addr & mask, mask};
    }
    return count > 0 ? count : -1;
}

bool InNetworks(const Network* nets, int count, std::uint32_t address) {
    for (int i = 0; i < count; ++i)
        if ((address & nets[i].mask) == nets[i].base) return true;
    return false;
}

int CompareNames(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = Upper1251(static_cast<unsigned char>(*a)), y = Upper1251(static_cast<unsigned char>(*b));
        if (x != y || !x) return x < y ? -1 : x > y ? 1 : 0;
    }
}

bool NameAfter(const char* last, char* out, std::size_t room) {
    std::size_t n = std::strlen(last);
    std::size_t digits = n;
    while (digits > 0 && last[digits - 1] >= '0' && last[digits - 1] <= '9') --digits;
    bool all_nines = true;
    for (std::size_t i = digits; i < n; ++i) all_nines = all_nines && last[i] == '9';
    if (digits < n && !all_nines) {
        if (n + 1 > room) return false;
        std::memcpy(out, last, n + 1);
        for (std::size_t i = n; i-- > digits;) {
            if (out[i] != '9') {
                ++out[i];
                break;
            }
            out[i] = '0';
        }
        return true;
    }
    // A name followed by more characters sorts after it: "x.msg" < "x00000001.msg", as '.' is
    // below every digit.
    if (n + 9 > room) return false;
    std::memcpy(out, last, n);
    std::memcpy(out + n, "00000001", 9);
    return true;
}

}  // namespace smtp
