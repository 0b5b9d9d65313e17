// The SMTP core natively: every path form and what it gets, the data's end and line ends (the
// smuggling forms among them) fed whole and a byte at a time, the 512-octet line, the letter's
// head, the networks and the names of new letters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "smtp_command.h"
#include "smtp_data.h"
#include "smtp_reply.h"

using namespace smtp;
using S = PathStatus;

TEST(SmtpPaths, EveryFormAndWhatItGets) {
    // RCPT against our domain "office.local": the status, and on Ok the user's name ("" postmaster).
    const struct { const char* args; S want; const char* local; } kRcpt[] = {
        {"TO:<ivan@office.local>", S::Ok, "ivan"}, {"to: <Ivan@OFFICE.Local>", S::Ok, "Ivan"},
        {"TO:<\"ivan\"@office.local>", S::Ok, "ivan"}, {"TO:<postmaster>", S::Ok, ""},
        {"TO:<PostMaster@office.local>", S::Ok, ""}, {"TO:<ivan@other.example>", S::Foreign, ""},
        {"TO:<postmaster@other.example>", S::Foreign, ""}, {"TO:<ivan>", S::Foreign, ""},
        {"TO:<ivan@[127.0.0.1]>", S::Foreign, ""}, {"TO:<@office.local:ivan@other.example>", S::Relay, ""},
        {"TO:<@a.example,@office.local:ivan@office.local>", S::Relay, ""},
        {"TO:<ivan%other.example@office.local>", S::Relay, ""}, {"TO:<other!ivan@office.local>", S::Relay, ""},
        {"TO:<\"ivan@other.example\"@office.local>", S::Relay, ""}, {"TO:<ivan@office.local@other.example>", S::Syntax, ""},
        {"TO:ivan@office.local", S::Syntax, ""}, {"TO:<>", S::Syntax, ""}, {"TO:<iv..an@office.local>", S::Syntax, ""},
        {"TO:<ivan@-office.local>", S::Syntax, ""}, {"TO:<\xe8\xe2\xe0\xed@office.local>", S::Syntax, ""},
        {"TO:<ivan@office.local> NOTIFY=NEVER", S::Params, ""},
    };
    for (const auto& c : kRcpt) {
        char local[MAX_LOCAL + 1] = "x";
        bool postmaster = false;
        EXPECT_EQ(c.want, ParseRcptTo(c.args, std::strlen(c.args), "office.local", local, &postmaster)) << c.args;
        bool same = c.want != S::Ok || (std::string(c.local).empty() == postmaster && std::string(c.local) == local);
        EXPECT_TRUE(same) << c.args << " gave " << local;
    }
    // MAIL: the reverse path kept (a source route dropped), the declared size and body.
    const struct { const char* args; S want; const char* path; unsigned long long size; bool eight; } kMail[] = {
        {"FROM:<>", S::Ok, "", 0, false},
        {"from: <a@b.example> SIZE=1000 BODY=8BITMIME", S::Ok, "a@b.example", 1000, true},
        {"FROM:<@hop.example:a@b.example> body=7bit", S::Ok, "a@b.example", 0, false},
        {"FROM:<\"a b\"@b.example>", S::Ok, "\"a b\"@b.example", 0, false},
        {"FROM:<a@b.example> SIZE=99999999999999999999", S::Params, "", 0, false},
        {"FROM:<a@b.example> SMTPUTF8", S::Params, "", 0, false},
        {"FROM:<a>", S::Syntax, "", 0, false}, {"FROM:<a@b.example\r>", S::Syntax, "", 0, false},
    };
    for (const auto& c : kMail) {
        MailFrom m;
        EXPECT_EQ(c.want, ParseMailFrom(c.args, std::strlen(c.args), &m)) << c.args;
        EXPECT_TRUE(c.want != S::Ok || (c.path == std::string(m.path) && c.size == m.size && c.eight == m.eight_bit)) << c.args;
    }
}

// The data as sent after 354: the message it gives, whether it ended, whether a bare line end was
// found, and how many bytes after the end (the next commands) are left unread.
TEST(SmtpData, EndsOnlyAtCrlfDotCrlfWholeOrByteByByte) {
    const struct { std::string sent, message; bool ends, bare; std::size_t left; } kData[] = {
        {"Hi\r\nthere\r\n.\r\n", "Hi\r\nthere\r\n", true, false, 0},
        {".\r\n", "", true, false, 0},
        {"..\r\n..x\r\n.y\r\n.\r\n", ".\r\n.x\r\ny\r\n", true, false, 0},
        {"a\r\n.\r\nQUIT\r\n", "a\r\n", true, false, 6},
        {"a\n.\nMAIL FROM:<x@y>\r\n", "a\n.\nMAIL FROM:<x@y>\r\n", false, true, 0},   // <LF>.<LF>
        {"a\r.\rb\r\n", "a\r.\rb\r\n", false, true, 0},                             // <CR>.<CR>
        {"a\n.\r\nb\r\n", "a\n.\r\nb\r\n", false, true, 0},                         // <LF>.<CRLF>
        {"a\r.\nb\r\n", "a\r.\nb\r\n", false, true, 0},                             // <CR>.<LF>
        {"a\r\n.\nb\r\n", "a\r\n\nb\r\n", false, true, 0},                          // <CRLF>.<LF>
        {"a\r\n.\rx\r\n", "a\r\n\rx\r\n", false, true, 0},
        {"a\n.\nb\r\n.\r\n", "a\n.\nb\r\n", true, true, 0},
        {"a\r\r\n.\r\n", "a\r\r\n", true, true, 0},
        {"a\r\n.", "a\r\n", false, false, 0},
    };
    for (const auto& c : kData)
        for (std::size_t piece : {c.sent.size(), std::size_t{1}}) {
            SCOPED_TRACE(testing::PrintToString(c.sent) + (piece == 1 ? " a byte at a time" : " whole"));
            DataReader r;
            DataReset(r);
            std::string got;
            std::size_t at = 0, used = 0;
            for (unsigned char out[64]; at < c.sent.size() && !DataEnded(r); at += used) {
                std::size_t n = std::min(piece, c.sent.size() - at);
                got.append(reinterpret_cast<char*>(out),
                           DataFeed(r, reinterpret_cast<const unsigned char*>(c.sent.data()) + at, n, &used, out));
            }
            EXPECT_EQ(c.message, got);
            EXPECT_EQ(c.ends, DataEnded(r));
            EXPECT_EQ(c.bare, r.bare_line_end);
            EXPECT_EQ(c.left, c.sent.size() - at);
            EXPECT_EQ(got.size(), r.octets);
        }
}

TEST(SmtpLines, FiveHundredTwelveOctetsWithTheLineEndAndTheVerbs) {
    const struct { std::string line; bool too_long; Verb verb; } kLines[] = {
        {"NOOP " + std::string(505, 'x') + "\r\n", false, Verb::Noop},   // 512 octets
        {"NOOP " + std::string(506, 'x') + "\n", false, Verb::Noop},     // 512
        {"NOOP " + std::string(506, 'x') + "\r\n", true, Verb::Unknown}, // 513
        {std::string(5000, 'x') + "\r\n", true, Verb::Unknown},
        {"mail FROM:<a@b.c>\r\n", false, Verb::Mail}, {"STARTTLS\r\n", false, Verb::NotDone},
        {"EXPN staff\r\n", false, Verb::NotDone}, {"MAILX\r\n", false, Verb::Unknown},
    };
    for (const auto& c : kLines) {
        LineReader r;
        LineReset(r);
        Command cmd;
        std::size_t at = 0, used = 0;
        bool ready = false;
        for (; !ready && at < c.line.size(); at += used)   // in pieces of 100
            ready = NextCommand(r, reinterpret_cast<const unsigned char*>(c.line.data()) + at,
                                std::min<std::size_t>(100, c.line.size() - at), &used, &cmd);
        EXPECT_TRUE(ready && at == c.line.size() && c.too_long == cmd.too_long && c.verb == cmd.verb) << c.line.substr(0, 20);
    }
}

TEST(SmtpText, HeadNetworksAndNames) {
    char head[MAX_HEAD];
    Trace t = {"ivan@office.local", "pc1.office.local", true, 0x7F000001u, "office.local", {2026, 12, 7, 9, 5, 3, 1}};
    EXPECT_EQ("0Return-Path: <ivan@office.local>\r\nReceived: from pc1.office.local ([127.0.0.1])\r\n"
              "\tby office.local with ESMTP;\r\n\tMon, 7 Dec 2026 09:05:03 +0000\r\n",
              std::string(head, FormatHead(head, t)));

    Network nets[MAX_NETWORKS];
    ASSERT_EQ(4, ParseNetworks(DEFAULT_NETWORKS, nets, MAX_NETWORKS));
    for (std::uint32_t a : {0x7F000001u, 0x0A0B0C0Du, 0xAC1FFFFFu, 0xC0A80001u}) EXPECT_TRUE(InNetworks(nets, 4, a)) << a;
    for (std::uint32_t a : {0xAC200000u, 0x08080808u, 0xC0A90001u}) EXPECT_FALSE(InNetworks(nets, 4, a)) << a;
    ASSERT_EQ(2, ParseNetworks("192.168.1.7,0.0.0.0/0", nets, MAX_NETWORKS));
    EXPECT_TRUE(InNetworks(nets, 1, 0xC0A80107u) && !InNetworks(nets, 1, 0xC0A80108u) && InNetworks(nets + 1, 1, 1u));
    for (const char* bad : {"", " , ", "10.0.0/8", "10.0.0.0/33", "256.0.0.0", "10.0.0.0/8x", "1.2.3.4 5"})
        EXPECT_EQ(-1, ParseNetworks(bad, nets, MAX_NETWORKS)) << bad;

    const struct { const char* last; const char* next; } kNames[] = {
        {"", "00000001"}, {"7", "8"}, {"009", "010"}, {"letter", "letter00000001"}, {"99", "9900000001"},
    };
    for (const auto& n : kNames) {
        char out[64];
        ASSERT_TRUE(NameAfter(n.last, out, sizeof out));
        EXPECT_STREQ(n.next, out);
        EXPECT_LT(CompareNames((std::string(n.last) + ".msg").c_str(), (std::string(out) + ".msg").c_str()), 0);
    }
    EXPECT_EQ(0, CompareNames("\xe8\xe2\xe0\xed", "\xc8\xc2\xc0\xcd"));   // иван, ИВАН
    EXPECT_GT(CompareNames("\xe8", "z"), 0);
}
