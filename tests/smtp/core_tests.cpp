// The SMTP core natively: the paths a client may give and what each gets, the data's end and line
// ends (the smuggling forms among them), fed whole and a byte at a time, the command line's limit,
// the letter's head, the networks and the names of new letters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "smtp_command.h"
#include "smtp_data.h"
#include "smtp_reply.h"

using namespace smtp;

namespace {

// RCPT arguments against our domain "office.local".
struct RcptCase { const char* args; PathStatus want; const char* local; bool postmaster; };
const RcptCase kRcpt[] = {
    {"TO:<ivan@office.local>", PathStatus::Ok, "ivan", false},
    {"to: <Ivan@OFFICE.Local>", PathStatus::Ok, "Ivan", false},
    {"TO:<\"ivan\"@office.local>", PathStatus::Ok, "ivan", false},
    {"TO:<postmaster>", PathStatus::Ok, "", true},
    {"TO:<PostMaster@office.local>", PathStatus::Ok, "", true},
    {"TO:<ivan@other.example>", PathStatus::Foreign, "", false},
    {"TO:<postmaster@other.example>", PathStatus::Foreign, "", false},
    {"TO:<ivan>", PathStatus::Foreign, "", false},
    {"TO:<ivan@[127.0.0.1]>", PathStatus::Foreign, "", false},
    {"TO:<@office.local:ivan@other.example>", PathStatus::Relay, "", false},
    {"TO:<@a.example,@office.local:ivan@office.local>", PathStatus::Relay, "", false},
    {"TO:<ivan%other.example@office.local>", PathStatus::Relay, "", false},
    {"TO:<other.example!ivan@office.local>", PathStatus::Relay, "", false},
    {"TO:<\"ivan@other.example\"@office.local>", PathStatus::Relay, "", false},
    {"TO:<\"ivan%other\"@office.local>", PathStatus::Relay, "", false},
    {"TO:<ivan@office.local@other.example>", PathStatus::Syntax, "", false},
    {"TO:ivan@office.local", PathStatus::Syntax, "", false},
    {"TO:<ivan@office.local", PathStatus::Syntax, "", false},
    {"TO:<>", PathStatus::Syntax, "", false},
    {"TO:<.ivan@office.local>", PathStatus::Syntax, "", false},
    {"TO:<iv..an@office.local>", PathStatus::Syntax, "", false},
    {"TO:<ivan@-office.local>", PathStatus::Syntax, "", false},
    {"TO:<ivan@office..local>", PathStatus::Syntax, "", false},
    {"TO:<\xe8\xe2\xe0\xed@office.local>", PathStatus::Syntax, "", false},
    {"TO:<ivan@office.local> NOTIFY=NEVER", PathStatus::Params, "", false},
    {"FROM:<ivan@office.local>", PathStatus::Syntax, "", false},
};

// MAIL arguments: the reverse path kept, the declared size and body.
struct MailCase { const char* args; PathStatus want; const char* path; unsigned long long size; bool eight; };
const MailCase kMail[] = {
    {"FROM:<ivan@office.local>", PathStatus::Ok, "ivan@office.local", 0, false},
    {"FROM:<>", PathStatus::Ok, "", 0, false},
    {"from: <a@b.example> SIZE=1000 BODY=8BITMIME", PathStatus::Ok, "a@b.example", 1000, true},
    {"FROM:<a@b.example> body=7bit size=0", PathStatus::Ok, "a@b.example", 0, false},
    {"FROM:<@hop.example:a@b.example>", PathStatus::Ok, "a@b.example", 0, false},
    {"FROM:<\"a b\"@b.example>", PathStatus::Ok, "\"a b\"@b.example", 0, false},
    {"FROM:<a@b.example> SIZE=12x", PathStatus::Params, "", 0, false},
    {"FROM:<a@b.example> SIZE=99999999999999999999", PathStatus::Params, "", 0, false},
    {"FROM:<a@b.example> BODY=BINARYMIME", PathStatus::Params, "", 0, false},
    {"FROM:<a@b.example> SMTPUTF8", PathStatus::Params, "", 0, false},
    {"FROM:<a>", PathStatus::Syntax, "", 0, false},
    {"FROM:a@b.example", PathStatus::Syntax, "", 0, false},
    {"FROM:<a@b.example\r>", PathStatus::Syntax, "", 0, false},
    {"TO:<a@b.example>", PathStatus::Syntax, "", 0, false},
};

}  // namespace

TEST(SmtpPaths, EveryRecipientFormAndWhatItGets) {
    for (const RcptCase& c : kRcpt) {
        SCOPED_TRACE(c.args);
        char local[MAX_LOCAL + 1];
        bool postmaster = true;
        EXPECT_EQ(c.want, ParseRcptTo(c.args, std::strlen(c.args), "office.local", local, &postmaster));
        if (c.want != PathStatus::Ok) continue;
        EXPECT_STREQ(c.local, local);
        EXPECT_EQ(c.postmaster, postmaster);
    }
    for (const MailCase& c : kMail) {
        SCOPED_TRACE(c.args);
        MailFrom m;
        EXPECT_EQ(c.want, ParseMailFrom(c.args, std::strlen(c.args), &m));
        if (c.want != PathStatus::Ok) continue;
        EXPECT_STREQ(c.path, m.path);
        EXPECT_EQ(c.size, m.size);
        EXPECT_EQ(c.eight, m.eight_bit);
    }
}

// The data as sent after 354, and what it gives: the message, whether it ended, and whether a
// bare line end was found; then the bytes after the end (the next commands) are left unread.
struct DataCase { const char* label; std::string sent, message; bool ends, bare; std::size_t left; };
const DataCase kData[] = {
    {"plain", "Hi\r\nthere\r\n.\r\n", "Hi\r\nthere\r\n", true, false, 0},
    {"empty message", ".\r\n", "", true, false, 0},
    {"dot-stuffed lines", "..\r\n..x\r\n.y\r\n.\r\n", ".\r\n.x\r\ny\r\n", true, false, 0},
    {"the end then a pipelined command", "a\r\n.\r\nQUIT\r\n", "a\r\n", true, false, 6},
    {"<LF>.<LF> is text", "a\n.\nMAIL FROM:<x@y>\r\n", "a\n.\nMAIL FROM:<x@y>\r\n", false, true, 0},
    {"<CR>.<CR> is text", "a\r.\rb\r\n", "a\r.\rb\r\n", false, true, 0},
    {"<LF>.<CRLF> is text", "a\n.\r\nb\r\n", "a\n.\r\nb\r\n", false, true, 0},
    {"<CR>.<LF> is text", "a\r.\nb\r\n", "a\r.\nb\r\n", false, true, 0},
    {"<CRLF>.<LF> is text", "a\r\n.\nb\r\n", "a\r\n\nb\r\n", false, true, 0},
    {"<CRLF>.<CR>x is text", "a\r\n.\rx\r\n", "a\r\n\rx\r\n", false, true, 0},
    {"smuggled then the real end", "a\n.\nb\r\n.\r\n", "a\n.\nb\r\n", true, true, 0},
    {"CR CR LF", "a\r\r\n.\r\n", "a\r\r\n", true, true, 0},
    {"no end yet", "a\r\n.", "a\r\n", false, false, 0},
};

TEST(SmtpData, EndsOnlyAtCrlfDotCrlfWholeOrByteByByte) {
    for (const DataCase& c : kData) {
        for (std::size_t piece : {c.sent.size(), std::size_t{1}}) {
            SCOPED_TRACE(std::string(c.label) + (piece == 1 ? ", a byte at a time" : ", whole"));
            DataReader r;
            DataReset(r);
            std::string got;
            std::size_t at = 0;
            while (at < c.sent.size() && !DataEnded(r)) {
                std::size_t n = std::min(piece, c.sent.size() - at), used = 0;
                unsigned char out[64];
                got.append(reinterpret_cast<char*>(out),
                           DataFeed(r, reinterpret_cast<const unsigned char*>(c.sent.data()) + at, n, &used, out));
                at += used;
            }
            EXPECT_EQ(c.message, got);
            EXPECT_EQ(c.ends, DataEnded(r));
            EXPECT_EQ(c.bare, r.bare_line_end);
            EXPECT_EQ(c.left, c.sent.size() - at);
            EXPECT_EQ(got.size(), r.octets);
        }
    }
}

TEST(SmtpLines, FiveHundredTwelveOctetsWithTheLineEndAndTheVerbs) {
    struct { std::string line; bool too_long; Verb verb; const char* args; } cases[] = {
        {std::string("NOOP ") + std::string(505, 'x') + "\r\n", false, Verb::Noop, nullptr},   // 512
        {std::string("NOOP ") + std::string(506, 'x') + "\n", false, Verb::Noop, nullptr},     // 512
        {std::string("NOOP ") + std::string(506, 'x') + "\r\n", true, Verb::Unknown, nullptr}, // 513
        {std::string(5000, 'x') + "\r\n", true, Verb::Unknown, nullptr},
        {"mail FROM:<a@b.c>\r\n", false, Verb::Mail, "FROM:<a@b.c>"},
        {"EHLO\r\n", false, Verb::Ehlo, ""},
        {"STARTTLS\r\n", false, Verb::NotDone, nullptr},
        {"EXPN staff\r\n", false, Verb::NotDone, nullptr},
        {"MAILX\r\n", false, Verb::Unknown, nullptr},
        {"\r\n", false, Verb::Unknown, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 20));
        LineReader r;
        LineReset(r);
        Command cmd;
        std::size_t at = 0, used = 0;
        bool ready = false;
        while (!ready && at < c.line.size()) {   // in pieces of 100
            std::size_t n = std::min<std::size_t>(100, c.line.size() - at);
            ready = NextCommand(r, reinterpret_cast<const unsigned char*>(c.line.data()) + at, n, &used, &cmd);
            at += used;
        }
        ASSERT_TRUE(ready);
        EXPECT_EQ(c.line.size(), at);
        EXPECT_EQ(c.too_long, cmd.too_long);
        EXPECT_EQ(c.verb, cmd.verb);
        if (c.args) {
            EXPECT_EQ(c.args, std::string(cmd.args, cmd.args_len));
        }
    }
}

TEST(SmtpText, HeadNetworksAndNames) {
    char head[MAX_HEAD];
    Trace t = {"ivan@office.local", "pc1.office.local", true, 0x7F000001u, "office.local", {2026, 12, 7, 9, 5, 3, 1}};
    EXPECT_EQ(std::string("0Return-Path: <ivan@office.local>\r\n"
                          "Received: from pc1.office.local ([127.0.0.1])\r\n"
                          "\tby office.local with ESMTP;\r\n"
                          "\tMon, 7 Dec 2026 09:05:03 +0000\r\n"),
              std::string(head, FormatHead(head, t)));

    Network nets[MAX_NETWORKS];
    ASSERT_EQ(4, ParseNetworks(DEFAULT_NETWORKS, nets, MAX_NETWORKS));
    for (std::uint32_t a : {0x7F000001u, 0x0A0B0C0Du, 0xAC1FFFFFu, 0xC0A80001u}) EXPECT_TRUE(InNetworks(nets, 4, a)) << a;
    for (std::uint32_t a : {0xAC200000u, 0x08080808u, 0xC0A90001u}) EXPECT_FALSE(InNetworks(nets, 4, a)) << a;
    ASSERT_EQ(2, ParseNetworks("192.168.1.7,0.0.0.0/0", nets, MAX_NETWORKS));
    EXPECT_TRUE(InNetworks(nets, 1, 0xC0A80107u));
    EXPECT_FALSE(InNetworks(nets, 1, 0xC0A80108u));
    EXPECT_TRUE(InNetworks(nets + 1, 1, 0x01020304u));
    for (const char* bad : {"", " , ", "10.0.0/8", "10.0.0.0/33", "256.0.0.0", "10.0.0.0/8x", "1.2.3.4 5"})
        EXPECT_EQ(-1, ParseNetworks(bad, nets, MAX_NETWORKS)) << bad;

    struct { const char* last; const char* next; } names[] = {
        {"", "00000001"}, {"7", "8"}, {"009", "010"}, {"00000041", "00000042"},
        {"letter", "letter00000001"}, {"99", "9900000001"}, {"a9z", "a9z00000001"},
    };
    for (const auto& n : names) {
        char out[64];
        ASSERT_TRUE(NameAfter(n.last, out, sizeof out));
        EXPECT_STREQ(n.next, out);
        EXPECT_LT(CompareNames((std::string(n.last) + ".msg").c_str(), (std::string(out) + ".msg").c_str()), 0);
    }
    EXPECT_LT(CompareNames("abc", "ABD"), 0);
    EXPECT_EQ(0, CompareNames("\xe8\xe2\xe0\xed", "\xc8\xc2\xc0\xcd"));   // иван, ИВАН
    EXPECT_GT(CompareNames("\xe8", "z"), 0);
}
