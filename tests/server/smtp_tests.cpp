// The SMTP listener in-process: one conversation through every state and refusal, what lands on
// disk for each ending of the data (two recipients, smuggling, too big, a full disk, a folder
// gone), senders at once into one mailbox, and the limits that close a connection.
#include <regex>

#include "connection.h"
#include "fileio.h"
#include "net_util.h"
#include "smtp.h"
#include "storage_util.h"

namespace {

class SmtpTest : public net::NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        Listen();
        smtp_port = static_cast<unsigned short>(20000 + (GetCurrentProcessId() + 7) % 20000);
        WriteIni("");
        harness::WriteBytes("Users.db", storage::Users({storage::User("ivan", "1.1.1.1", "pw1", ACCESS_READ_ONLY),
                                                        storage::User("Maria", "1.1.1.1", "pw2", ACCESS_FULL)}));
        storage::Mailbox("ivan");
        storage::Mailbox("Maria");
        storage::Letter("Maria\\007.msg", "0old\r\n");
        ASSERT_TRUE(LoadUsers());
    }
    void TearDown() override {
        StopSmtp();
        NetTest::TearDown();
    }
    void WriteIni(const std::string& more) {
        // The first of two equal keys counts: `more` goes first.
        harness::WriteBytes("Quorrel.ini", "[SMTP]\r\n" + more + "Port=" + std::to_string(smtp_port) +
                                               "\r\nDomain=Office.Local\r\nMaxSize=3000\r\nIdleSeconds=40\r\n");
        StopSmtp();
        StartSmtp();
    }
    std::string Line(net::Client& c) {
        std::string line;
        while (line.size() < 600 && (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0)) {
            std::string b = c.Read(1);
            if (b.empty()) break;
            line += b;
        }
        return line;
    }
    // The reply to a command: its first line's code and text, or its lines joined.
    std::string Ask(net::Client& c, const std::string& command) {
        c.SendRaw(command + "\r\n");
        std::string reply, line;
        do {
            line = Line(c);
            reply += line;
        } while (line.size() > 3 && line[3] == '-');
        return reply;
    }
    void Open(net::Client& c, const char* from = nullptr) {
        ASSERT_TRUE(c.Connect(smtp_port, from));
        ASSERT_EQ("220 office.local ESMTP Quorrel\r\n", Line(c));
    }
    // A conversation up to the data: EHLO, MAIL from ivan, the recipients.
    void Envelope(net::Client& c, std::initializer_list<const char*> rcpts) {
        Open(c);
        ASSERT_EQ(0u, Ask(c, "EHLO pc1").rfind("250-office.local", 0));
        ASSERT_EQ("250 2.0.0 Ok\r\n", Ask(c, "MAIL FROM:<ivan@office.local>"));
        for (const char* r : rcpts) ASSERT_EQ("250 2.0.0 Ok\r\n", Ask(c, std::string("RCPT TO:<") + r + ">"));
        ASSERT_EQ(0u, Ask(c, "DATA").rfind("354 ", 0));
    }
    // The files of a folder, name and bytes, in name order.
    static std::vector<std::pair<std::string, std::string>> Files(const std::string& folder) {
        std::vector<std::pair<std::string, std::string>> out;
        WIN32_FIND_DATAA d;
        HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &d);
        for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &d))
            if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                out.emplace_back(d.cFileName, harness::ReadBytes(folder + "\\" + d.cFileName));
        if (h != INVALID_HANDLE_VALUE) FindClose(h);
        std::sort(out.begin(), out.end());
        return out;
    }
    // A delivered letter with its date line made "DATE".
    static std::string Undated(const std::string& letter) {
        return std::regex_replace(letter, std::regex("\t[A-Z][a-z]{2}, \\d{1,2} [A-Z][a-z]{2} \\d{4} "
                                                     "\\d\\d:\\d\\d:\\d\\d \\+0000\r\n"), "\tDATE\r\n");
    }
    static std::string Head(const char* helo = "pc1") {
        return std::string("0Return-Path: <ivan@office.local>\r\nReceived: from ") + helo +
               " ([127.0.0.1])\r\n\tby office.local with ESMTP;\r\n\tDATE\r\n";
    }
    unsigned short smtp_port = 0;
};

}  // namespace

// One conversation: each row a command and the reply it gets, in order.
TEST_F(SmtpTest, EveryCommandInEveryStateAndTheLetterItDelivers) {
    const struct { const char* sent; const char* reply; } kRows[] = {
        {"MAIL FROM:<ivan@office.local>", "503 5.5.1 Send HELO or EHLO first\r\n"},
        {"HELO", "501 5.5.4 Syntax error in parameters or arguments\r\n"},
        {"EHLO pc1", "250-office.local\r\n250-SIZE 3000\r\n250-8BITMIME\r\n250-PIPELINING\r\n250 ENHANCEDSTATUSCODES\r\n"},
        {"RCPT TO:<ivan@office.local>", "503 5.5.1 Need MAIL before RCPT\r\n"},
        {"DATA", "503 5.5.1 Need MAIL before RCPT\r\n"},
        {"MAIL FROM:<ivan@office.local> SIZE=3001", "552 5.3.4 Message size exceeds fixed maximum message size\r\n"},
        {"MAIL FROM:<ivan@office.local> SIZE=10 BODY=8BITMIME", "250 2.0.0 Ok\r\n"},
        {"MAIL FROM:<ivan@office.local>", "503 5.5.1 Sender already given\r\n"},
        {"DATA", "503 5.5.1 Need RCPT before DATA\r\n"},
        {"RCPT TO:<ivan@other.example>", "550 5.7.1 Relaying denied: this server takes mail for its own users only\r\n"},
        {"RCPT TO:<ivan%other.example@office.local>", "550 5.7.1 Relaying denied: this server takes mail for its own users only\r\n"},
        {"RCPT TO:<@office.local:ivan@other.example>", "550 5.7.1 Relaying denied: this server takes mail for its own users only\r\n"},
        {"RCPT TO:<\"ivan@other.example\"@office.local>", "550 5.7.1 Relaying denied: this server takes mail for its own users only\r\n"},
        {"RCPT TO:<nobody@office.local>", "550 5.1.1 No such user here\r\n"},
        {"RCPT TO:<IVAN@OFFICE.LOCAL>", "250 2.0.0 Ok\r\n"},
        {"RCPT TO:<postmaster>", "250 2.0.0 Ok\r\n"},
        {"RCPT TO:<maria@office.local>", "250 2.0.0 Ok\r\n"},   // postmaster is Maria: one letter
        {"VRFY ivan", "252 2.5.0 Cannot verify the user, but will take mail for our users\r\n"},
        {"EXPN staff", "502 5.5.1 Command not implemented\r\n"},
        {"XYZZY", "500 5.5.2 Command unrecognized\r\n"},
        {("NOOP " + std::string(600, 'x')).c_str(), "500 5.5.2 Line too long\r\n"},
        {"NOOP", "250 2.0.0 Ok\r\n"},
        {"DATA", "354 End data with <CR><LF>.<CR><LF>\r\n"},
        {"Subject: hi\r\n\r\n..dot\r\n\xcf\xf0\xe8\xe2\xe5\xf2\r\n.", "250 2.0.0 Ok: delivered\r\n"},
        {"RCPT TO:<ivan@office.local>", "503 5.5.1 Need MAIL before RCPT\r\n"},
        {"QUIT", "221 2.0.0 office.local closing connection\r\n"},
    };
    net::Client c;
    Open(c);
    for (const auto& row : kRows) EXPECT_EQ(row.reply, Ask(c, row.sent)) << row.sent;
    EXPECT_TRUE(c.ClosedByServer());
    std::string letter = Head() + "Subject: hi\r\n\r\n.dot\r\n\xcf\xf0\xe8\xe2\xe5\xf2\r\n";
    auto ivan = Files("ivan"), maria = Files("Maria");
    ASSERT_EQ(1u, ivan.size());
    EXPECT_EQ("00000001.msg", ivan[0].first);
    EXPECT_EQ(letter, Undated(ivan[0].second));
    ASSERT_EQ(2u, maria.size());
    EXPECT_EQ("008.msg", maria[1].first) << "after 007.msg";
    EXPECT_EQ(letter, Undated(maria[1].second));
    EXPECT_EQ("2", harness::ListCell(g_server.user_list, 1, 3)) << "Maria's count cell follows";
}

// Each row a message whose data ends one way, and what is left in the two mailboxes.
TEST_F(SmtpTest, WhatLandsOnDiskForEachEnding) {
    const std::string kNone = "(nothing)";
    const struct {
        const char* label;
        std::string data;
        long long room;            // the disk's room left after the head, -1 for no limit
        bool ivan_folder_gone;
        const char* reply;
        std::string delivered;     // the letter after the head, or kNone
    } kRows[] = {
        {"smuggled message behind <LF>.<LF>", "a\n.\nMAIL FROM:<x@y.z>\r\n.\r\n", -1, false,
         "550 5.6.0 Message refused: lines must end in CRLF, bare CR or LF found\r\n", kNone},
        {"over MaxSize", std::string(3001, 'x') + "\r\n.\r\n", -1, false,
         "552 5.3.4 Message size exceeds fixed maximum message size\r\n", kNone},
        {"the disk full in the data", "hello\r\n.\r\n", 3, false,
         "452 4.3.1 Insufficient system storage, message not delivered\r\n", kNone},
        {"the disk full at the second copy", "hello\r\n.\r\n", 100, false,
         "452 4.3.1 Insufficient system storage, message not delivered\r\n", kNone},
        {"the second recipient's folder gone", "hello\r\n.\r\n", -1, true,
         "451 4.3.0 Local error in processing, message not delivered\r\n", kNone},
        {"exactly MaxSize", std::string(2998, 'x') + "\r\n.\r\n", -1, false, "250 2.0.0 Ok: delivered\r\n",
         std::string(2998, 'x') + "\r\n"},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.label);
        net::Client c;
        Envelope(c, {"Maria@office.local", "ivan@office.local"});
        g_write_room = row.room;
        if (row.ivan_folder_gone) RemoveDirectoryA("ivan");
        c.SendRaw(row.data);
        EXPECT_EQ(row.reply, Line(c));
        g_write_room = -1;
        auto maria = Files("Maria"), ivan = Files("ivan");
        if (row.delivered == kNone) {
            ASSERT_EQ(1u, maria.size());
            EXPECT_EQ("007.msg", maria[0].first);
            EXPECT_TRUE(ivan.empty());
        } else {
            ASSERT_EQ(2u, maria.size());
            ASSERT_EQ(1u, ivan.size());
            EXPECT_EQ(Head() + row.delivered, Undated(maria[1].second));
            EXPECT_EQ(maria[1].second, ivan[0].second);
        }
        EXPECT_EQ("250 2.0.0 Ok\r\n", Ask(c, "RSET")) << "the conversation goes on";
        storage::Mailbox("ivan");
    }
}

// Four senders at once into one mailbox, their data sent in pieces that interleave: four whole
// letters, each with its own text, named in order after the letter there.
TEST_F(SmtpTest, SendersAtOnceLoseAndMixNothing) {
    constexpr int N = 4;
    net::Client c[N];
    for (auto& client : c) Envelope(client, {"Maria@office.local"});
    for (int piece = 0; piece < 10; ++piece)
        for (int i = 0; i < N; ++i) {
            c[i].SendRaw("sender " + std::to_string(i) + " line " + std::to_string(piece) + "\r\n");
            harness::Pump(5);
        }
    for (int i = 0; i < N; ++i) {
        c[i].SendRaw(".\r\n");
        EXPECT_EQ("250 2.0.0 Ok: delivered\r\n", Line(c[i]));
    }
    auto maria = Files("Maria");
    ASSERT_EQ(N + 1u, maria.size());
    std::vector<std::string> texts;
    for (int i = 1; i <= N; ++i) {
        EXPECT_EQ(std::string(i < 3 ? "00" : "0") + std::to_string(7 + i) + ".msg", maria[i].first);
        texts.push_back(Undated(maria[i].second));
    }
    std::sort(texts.begin(), texts.end());
    for (int i = 0; i < N; ++i) {
        std::string want = Head();
        for (int piece = 0; piece < 10; ++piece)
            want += "sender " + std::to_string(i) + " line " + std::to_string(piece) + "\r\n";
        EXPECT_EQ(want, texts[i]);
    }
}

// A letter of 2.5 MB to two users: the copy takes many rounds over several events, and a sender
// that closes right after its QUIT still has its letter delivered to both.
TEST_F(SmtpTest, ABigLetterToTwoUsersOverManyEvents) {
    WriteIni("MaxSize=3000000\r\n");
    net::Client c;
    Envelope(c, {"Maria@office.local", "ivan@office.local"});
    std::string line(998, 'q');
    std::string data;
    for (int i = 0; i < 2500; ++i) data += line + "\r\n";
    data += ".\r\nQUIT\r\n";
    for (std::size_t at = 0; at < data.size();) {   // the socket takes what it has room for
        int n = send(c.socket_handle(), data.data() + at, static_cast<int>(std::min<std::size_t>(data.size() - at, 65536)), 0);
        if (n > 0) at += static_cast<std::size_t>(n);
        else harness::Pump(5);
    }
    shutdown(c.socket_handle(), 1);   // SD_SEND: winsock.h has no name for it
    EXPECT_TRUE(c.ClosedByServer(20000));
    auto maria = Files("Maria"), ivan = Files("ivan");
    ASSERT_EQ(2u, maria.size());
    ASSERT_EQ(1u, ivan.size());
    EXPECT_EQ(Head() + data.substr(0, data.size() - 9), Undated(ivan[0].second));
    EXPECT_EQ(ivan[0].second, maria[1].second);
}

// What closes a connection: each row its way in and what the client sees last.
TEST_F(SmtpTest, LimitsThatCloseTheConnection) {
    {
        SCOPED_TRACE("twenty bad commands");
        net::Client c;
        Open(c);
        for (int i = 1; i < 20; ++i) EXPECT_EQ("500 5.5.2 Command unrecognized\r\n", Ask(c, "BAD"));
        EXPECT_EQ("421 4.7.0 Too many bad commands, closing connection\r\n", Ask(c, "BAD"));
        EXPECT_TRUE(c.ClosedByServer());
    }
    {
        SCOPED_TRACE("idle past IdleSeconds in the middle of the data: nothing left behind");
        net::Client c;
        Envelope(c, {"Maria@office.local"});
        c.SendRaw("half a letter\r\n");
        harness::Pump(100);
        g_clock_skew += 40000;
        SweepConnections();
        EXPECT_EQ("421 4.4.2 Idle for too long, closing connection\r\n", Line(c));
        EXPECT_TRUE(c.ClosedByServer());
        EXPECT_EQ(1u, Files("Maria").size());
    }
    {
        SCOPED_TRACE("pipelined commands answered in order, a dropped connection delivers nothing");
        net::Client c;
        Open(c);
        c.SendRaw("EHLO pc1\r\nMAIL FROM:<>\r\nRCPT TO:<ivan@office.local>\r\nRCPT TO:<x@y.z>\r\nDATA\r\n");
        std::string replies;
        for (int i = 0; i < 9; ++i) replies += Line(c);
        EXPECT_NE(std::string::npos, replies.find("250 ENHANCEDSTATUSCODES\r\n250 2.0.0 Ok\r\n250 2.0.0 Ok\r\n550 5.7.1"));
        EXPECT_EQ("550 5.7.1 Relaying denied: this server takes mail for its own users only\r\n"
                  "354 End data with <CR><LF>.<CR><LF>\r\n", replies.substr(replies.size() - 111)) << replies;
        c.SendRaw("partial\r\n");
        c.Abort();
        harness::Pump(300);
        EXPECT_TRUE(Files("ivan").empty());
    }
    {
        SCOPED_TRACE("an address outside Networks");
        WriteIni("Networks=127.0.0.2/32\r\n");
        net::Client c;
        ASSERT_TRUE(c.Connect(smtp_port));
        EXPECT_EQ("554 5.7.1 office.local: your address may not send mail here\r\n", Line(c));
        EXPECT_TRUE(c.ClosedByServer());
        net::Client other;
        ASSERT_TRUE(other.Connect(smtp_port, "127.0.0.2"));
        EXPECT_EQ("220 office.local ESMTP Quorrel\r\n", Line(other));
    }
    {
        SCOPED_TRACE("no [SMTP] section: no listener");
        harness::WriteBytes("Quorrel.ini", "[POP3]\r\n");
        StopSmtp();
        StartSmtp();
        net::Client c;
        EXPECT_FALSE(c.Connect(smtp_port));
    }
}
