// The SMTP listener in-process: one conversation through every state and refusal, what lands on
// disk for each ending of the data, a big letter over many events, and what closes a connection.
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
        harness::WriteBytes("Users.db", storage::Users({storage::User("ivan", "1.1.1.1", "pw1", ACCESS_READ_ONLY),
                                                        storage::User("Maria", "1.1.1.1", "pw2", ACCESS_FULL)}));
        storage::Mailbox("ivan");
        storage::Mailbox("Maria");
        storage::Letter("Maria\\007.msg", "0old\r\n");
        ASSERT_TRUE(LoadUsers());
        WriteIni("");
    }
    void TearDown() override {
        StopSmtp();
        NetTest::TearDown();
    }
    void WriteIni(const std::string& more) {   // the first of two equal keys counts: `more` first
        harness::WriteBytes("Quorrel.ini", "[SMTP]\r\n" + more + "Port=" + std::to_string(kPort) +
                                               "\r\nDomain=Office.Local\r\nMaxSize=3000\r\nIdleSeconds=40\r\n");
        StopSmtp();
        StartSmtp();
    }
    std::string Reply(net::Client& c) {   // all of its lines
        std::string all, b;
        for (std::size_t line = 0; all.size() < 1000 && !(b = c.Read(1)).empty();) {
            all += b;
            if (b != "\n") continue;
            if (all.size() - line < 5 || all[line + 3] != '-') break;
            line = all.size();   // where the next line starts
        }
        return all;
    }
    std::string Ask(net::Client& c, const std::string& command) {
        c.SendRaw(command + "\r\n");
        return Reply(c);
    }
    // Connected and greeted; with `rcpts`, EHLO, MAIL from ivan, the recipients and DATA too.
    void Open(net::Client& c, std::initializer_list<const char*> rcpts = {}) {
        ASSERT_TRUE(c.Connect(kPort));
        ASSERT_EQ("220 office.local ESMTP Quorrel\r\n", Reply(c));
        if (rcpts.size() == 0) return;
        std::string want = "250 2.0.0 Ok\r\n", got = Ask(c, "EHLO pc1").substr(0, 4);
        got += Ask(c, "MAIL FROM:<ivan@office.local>");
        for (const char* r : rcpts) got += Ask(c, std::string("RCPT TO:<") + r + "@office.local>"), want += "250 2.0.0 Ok\r\n";
        got += Ask(c, "DATA");
        ASSERT_EQ("250-" + want + "354 End data with <CR><LF>.<CR><LF>\r\n", got);
    }
    // A folder's files in name order: "name=bytes" each, the date line of a letter made "DATE".
    static std::vector<std::string> Files(const std::string& folder) {
        std::vector<std::string> out;
        WIN32_FIND_DATAA d;
        HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &d);
        for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &d))
            if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                out.push_back(std::string(d.cFileName) + "=" +
                              std::regex_replace(harness::ReadBytes(folder + "\\" + d.cFileName),
                                                 std::regex("\t\\w{3}, \\d+ \\w{3} \\d{4} [\\d:]{8} \\+0000\r\n"), "\tDATE\r\n"));
        if (h != INVALID_HANDLE_VALUE) FindClose(h);
        std::sort(out.begin(), out.end());
        return out;
    }
    const std::string kHead = "0Return-Path: <ivan@office.local>\r\nReceived: from pc1 ([127.0.0.1])\r\n"
                              "\tby office.local with ESMTP;\r\n\tDATE\r\n";
    const std::string kOld = "007.msg=0old\r\n";
    const std::string kRelay = "550 5.7.1 Relaying denied: this server takes mail for its own users only\r\n";
    const unsigned short kPort = static_cast<unsigned short>(20000 + (GetCurrentProcessId() + 7) % 20000);
};

}  // namespace

// One conversation: each row a command and the reply it gets, in order; then what was delivered.
TEST_F(SmtpTest, EveryCommandInEveryStateAndTheLetterItDelivers) {
    const std::string kOk = "250 2.0.0 Ok\r\n";
    const std::pair<std::string, std::string> kRows[] = {
        {"MAIL FROM:<ivan@office.local>", "503 5.5.1 Send HELO or EHLO first\r\n"},
        {"HELO", "501 5.5.4 Syntax error in parameters or arguments\r\n"},
        {"EHLO pc1", "250-office.local\r\n250-SIZE 3000\r\n250-8BITMIME\r\n250-PIPELINING\r\n250 ENHANCEDSTATUSCODES\r\n"},
        {"RCPT TO:<ivan@office.local>", "503 5.5.1 Need MAIL before RCPT\r\n"},
        {"MAIL FROM:<ivan@office.local> SIZE=3001", "552 5.3.4 Message size exceeds fixed maximum message size\r\n"},
        {"MAIL FROM:<ivan@office.local> SIZE=10 BODY=8BITMIME", kOk},
        {"MAIL FROM:<ivan@office.local>", "503 5.5.1 Sender already given\r\n"},
        {"DATA", "503 5.5.1 Need RCPT before DATA\r\n"},
        {"RCPT TO:<ivan@other.example>", kRelay}, {"RCPT TO:<ivan%other.example@office.local>", kRelay},
        {"RCPT TO:<@office.local:ivan@other.example>", kRelay}, {"RCPT TO:<\"ivan@x.example\"@office.local>", kRelay},
        {"RCPT TO:<nobody@office.local>", "550 5.1.1 No such user here\r\n"},
        {"RCPT TO:<IVAN@OFFICE.LOCAL>", kOk}, {"RCPT TO:<postmaster>", kOk},
        {"RCPT TO:<maria@office.local>", kOk},   // postmaster is Maria: one letter for both
        {"VRFY ivan", "252 2.5.0 Cannot verify the user, but will take mail for our users\r\n"},
        {"EXPN staff", "502 5.5.1 Command not implemented\r\n"}, {"XYZZY", "500 5.5.2 Command unrecognized\r\n"},
        {"NOOP " + std::string(600, 'x'), "500 5.5.2 Line too long\r\n"},
        {"DATA", "354 End data with <CR><LF>.<CR><LF>\r\n"},
        {"Subject: hi\r\n\r\n..dot\r\n\xcf\xf0\xe8\xe2\xe5\xf2\r\n.", "250 2.0.0 Ok: delivered\r\n"},
        {"RCPT TO:<ivan@office.local>", "503 5.5.1 Need MAIL before RCPT\r\n"},
        {"QUIT", "221 2.0.0 office.local closing connection\r\n"},
    };
    net::Client c;
    Open(c);
    for (const auto& row : kRows) EXPECT_EQ(row.second, Ask(c, row.first)) << row.first;
    EXPECT_TRUE(c.ClosedByServer());
    std::string letter = kHead + "Subject: hi\r\n\r\n.dot\r\n\xcf\xf0\xe8\xe2\xe5\xf2\r\n";
    EXPECT_EQ(std::vector<std::string>{"00000001.msg=" + letter}, Files("ivan"));
    EXPECT_EQ((std::vector<std::string>{kOld, "008.msg=" + letter}), Files("Maria"));
    EXPECT_EQ("2", harness::ListCell(g_server.user_list, 1, 3)) << "Maria's count cell follows";
}

// Each row a message to Maria and ivan ending one way: the reply, and the letter each now has last
// (none: the folders as they were, no temporary file left).
TEST_F(SmtpTest, WhatLandsOnDiskForEachEnding) {
    const struct { std::string data; long long room; bool gone; std::string reply, letter; } kRows[] = {
        {"a\n.\nMAIL FROM:<x@y.z>\r\n.\r\n", -1, false, "550 5.6.0 Message refused: lines must end in CRLF, bare CR or LF found\r\n", ""},
        {std::string(3001, 'x') + "\r\n.\r\n", -1, false, "552 5.3.4 Message size exceeds fixed maximum message size\r\n", ""},
        {"hello\r\n.\r\n", 3, false, "452 4.3.1 Insufficient system storage, message not delivered\r\n", ""},    // the data
        {"hello\r\n.\r\n", 100, false, "452 4.3.1 Insufficient system storage, message not delivered\r\n", ""},  // the copy
        {"hello\r\n.\r\n", -1, true, "451 4.3.0 Local error in processing, message not delivered\r\n", ""},       // ivan's folder gone
        {std::string(2998, 'x') + "\r\n.\r\n", -1, false, "250 2.0.0 Ok: delivered\r\n", std::string(2998, 'x') + "\r\n"},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.reply);
        net::Client c;
        Open(c, {"Maria", "ivan"});
        g_write_room = row.room;   // the room left after the head
        if (row.gone) RemoveDirectoryA("ivan");
        c.SendRaw(row.data);
        EXPECT_EQ(row.reply, Reply(c));
        g_write_room = -1;
        if (row.letter.empty()) {
            EXPECT_EQ(std::vector<std::string>{kOld}, Files("Maria"));
            EXPECT_EQ(std::vector<std::string>{}, Files("ivan"));
        } else {
            EXPECT_EQ((std::vector<std::string>{kOld, "008.msg=" + kHead + row.letter}), Files("Maria"));
            EXPECT_EQ(std::vector<std::string>{"00000001.msg=" + kHead + row.letter}, Files("ivan"));
        }
        EXPECT_EQ("250 2.0.0 Ok\r\n", Ask(c, "RSET")) << "the conversation goes on";
        storage::Mailbox("ivan");
    }
}

// A 2.5 MB letter to two users, copied over several events, from a sender that closes right after
// its QUIT: both get it whole.  (Senders at once are the end-to-end tests' eight curls.)
TEST_F(SmtpTest, ABigLetterToTwoUsers) {
    WriteIni("MaxSize=3000000\r\n");
    net::Client big;
    Open(big, {"Maria", "ivan"});
    std::string data;
    for (int i = 0; i < 2500; ++i) data += std::string(998, 'q') + "\r\n";
    data += ".\r\nQUIT\r\n";
    for (std::size_t at = 0; at < data.size(); harness::Pump(1)) {   // as the socket takes it
        int n = send(big.socket_handle(), data.data() + at, static_cast<int>(std::min<std::size_t>(data.size() - at, 65536)), 0);
        at += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    shutdown(big.socket_handle(), 1);   // SD_SEND
    EXPECT_TRUE(big.ClosedByServer(20000));
    EXPECT_EQ(std::vector<std::string>{"00000001.msg=" + kHead + data.substr(0, data.size() - 9)}, Files("ivan"));
    EXPECT_EQ(Files("ivan")[0].substr(13), Files("Maria").back().substr(8));
}

// What closes a connection, and what is left behind.
TEST_F(SmtpTest, LimitsThatCloseTheConnection) {
    net::Client bad, idle, dropped, outside, inside, none;
    Open(bad);
    for (int i = 1; i < 20; ++i) EXPECT_EQ("500 5.5.2 Command unrecognized\r\n", Ask(bad, "BAD"));
    EXPECT_EQ("421 4.7.0 Too many bad commands, closing connection\r\n", Ask(bad, "BAD"));
    EXPECT_TRUE(bad.ClosedByServer());

    Open(idle, {"Maria"});   // idle in the middle of the data
    idle.SendRaw("half a letter\r\n");
    harness::Pump(100);
    g_clock_skew += 40000;
    SweepConnections();
    EXPECT_EQ("421 4.4.2 Idle for too long, closing connection\r\n", Reply(idle));
    EXPECT_TRUE(idle.ClosedByServer());

    Open(dropped, {"ivan"});   // dropped in the middle of the data
    dropped.SendRaw("partial\r\n");
    dropped.Abort();
    harness::Pump(300);
    EXPECT_EQ(std::vector<std::string>{kOld}, Files("Maria"));
    EXPECT_EQ(std::vector<std::string>{}, Files("ivan"));

    WriteIni("Networks=127.0.0.2/32\r\n");
    ASSERT_TRUE(outside.Connect(kPort));
    EXPECT_EQ("554 5.7.1 office.local: your address may not send mail here\r\n", Reply(outside));
    EXPECT_TRUE(outside.ClosedByServer());
    ASSERT_TRUE(inside.Connect(kPort, "127.0.0.2"));
    EXPECT_EQ("220 office.local ESMTP Quorrel\r\n", Reply(inside));

    harness::WriteBytes("Quorrel.ini", "[POP3]\r\n");   // no [SMTP]: no listener
    StopSmtp();
    StartSmtp();
    EXPECT_FALSE(none.Connect(kPort));
}
