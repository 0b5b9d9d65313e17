// The SMTP listener of Quorrel.exe under Wine, sent to by mail programs nobody here wrote (msmtp,
// swaks, curl) and fetched from over POP3 by fetchmail and curl: an office's mail going round.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>

#include "pop3_client.h"
#include "server/commands.h"
#include "wine_app.h"

namespace {

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>&1; echo rc=$?").c_str(), "r");
    char b[4096];
    for (std::size_t n; p && (n = fread(b, 1, sizeof b, p)) > 0;) out.append(b, n);
    if (p) pclose(p);
    return out;
}

class SmtpE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(e2e::Listening(2525)) << "something else listens on port 2525";
        ASSERT_TRUE(e2e::WriteFile(q.dir / "Users.db", e2e::UserBytes("ivan", "pw1", 1) + e2e::UserBytes("maria", "pw2", 1)));
        ASSERT_TRUE(e2e::WriteFile(q.dir / "Quorrel.ini", "[POP3]\r\nPort=1110\r\n[SMTP]\r\nPort=2525\r\n"
                                                          "Domain=office.local\r\nPerAddress=8\r\n[Log]\r\nEnabled=1\r\n"));
        for (const char* u : {"ivan", "maria"}) e2e::MakeDir(q.dir / u);
        ASSERT_TRUE(q.Launch());
        q.Command(IDM_START);
        ASSERT_TRUE(e2e::WaitListening(2525, true, 5000));
    }
    std::string Put(const std::string& name, const std::string& bytes) {   // 0600: fetchmail and msmtp insist
        e2e::WriteFile(q.dir / name, bytes);
        chmod((q.dir / name).c_str(), 0600);
        return q.dir / name;
    }
    // maria's letter files in name order, and the text of the last one without its status byte.
    std::vector<std::string> Letters() { return e2e::ListDir(q.dir / "maria"); }
    std::string Last() { return Letters().empty() ? "" : e2e::ReadFile(q.dir / ("maria/" + Letters().back())).substr(1); }
    const std::string kCurl = "curl -sS --max-time 20 smtp://127.0.0.1:2525 --mail-from ivan@office.local "
                              "--mail-rcpt maria@office.local -T ";
    e2e::Quorrel q;
};

// The office's story: msmtp sends from ivan to maria; fetchmail brings it to maria byte for byte,
// the two trace lines in front of the message as msmtp sent it.
TEST_F(SmtpE2E, MsmtpSendsAndFetchmailBringsItBack) {
    const std::string msg = "From: ivan@office.local\r\nTo: maria@office.local\r\nSubject: Lunch\r\nDate: Mon, 07 Dec "
                            "2026 12:00:00 +0300\r\nMessage-ID: <1@office.local>\r\n\r\nAt one?\r\n.dot first\r\n";
    std::string rc = Put("msmtprc", "account office\nhost 127.0.0.1\nport 2525\nfrom ivan@office.local\nauth off\n"
                                    "tls off\naccount default : office\n");
    ASSERT_EQ("rc=0\n", Shell("msmtp -C " + rc + " maria@office.local < " + Put("m.eml", msg)));
    std::string stored = Last();
    EXPECT_TRUE(std::regex_match(stored.substr(0, stored.find("From: ")),
                                 std::regex("Return-Path: <ivan@office.local>\r\nReceived: from \\S+ \\(\\[127\\.0\\.0\\.1\\]\\)"
                                            "\r\n\tby office.local with ESMTP;\r\n\t\\w{3}, \\d{1,2} \\w{3} \\d{4} [\\d:]{8} \\+0000\r\n"))) << stored;
    EXPECT_EQ(msg, stored.substr(stored.find("From: ")));

    std::string mbox = q.dir / "mbox";
    std::string frc = Put("fetchmailrc", "poll 127.0.0.1 protocol pop3 port 1110 user maria password pw2 sslproto '' mda \"cat >> " +
                                             mbox + "\"\n");
    std::string log = Shell("HOME=" + q.dir.path() + " fetchmail -f " + frc + " --invisible --norewrite --nosyslog -s --pidfile " +
                            (q.dir / "fm.pid"));
    std::string unix_lines;   // fetchmail hands the message to its delivery program with LF line ends
    for (char c : stored) unix_lines += c == '\r' ? "" : std::string(1, c);
    EXPECT_EQ(unix_lines, e2e::ReadFile(mbox)) << log;
    EXPECT_TRUE(Letters().empty()) << "fetched and deleted";

    // The log tells the delivery and a relay attempt apart.
    Shell("curl -sS --max-time 20 smtp://127.0.0.1:2525 --mail-from ivan@office.local --mail-rcpt x@other.example -T " +
          Put("r.eml", msg));
    std::vector<std::string> logs = e2e::ListDir(q.dir / "Logs");
    ASSERT_EQ(1u, logs.size());
    std::string lines = e2e::ReadFile(q.dir / ("Logs/" + logs[0]));
    EXPECT_NE(std::string::npos, lines.find(" SMTP 127.0.0.1 delivered from=ivan@office.local to=maria size=" +
                                            std::to_string(msg.size()) + "\r\n")) << lines;
    EXPECT_NE(std::string::npos, lines.find(" SMTP 127.0.0.1 refused reason=relay from=ivan@office.local to=<x@other.example>\r\n")) << lines;
}

// Cyrillic in UTF-8 and in windows-1251 by curl, an attachment by swaks, eight curl senders at once:
// each stored after the trace lines as it came, and fetched back by curl byte for byte.
TEST_F(SmtpE2E, CyrillicAttachmentsAndEightSendersAtOnce) {
    const std::string utf8 = "Subject: =?UTF-8?B?0J/RgNC40LLQtdGC?=\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nПривет!\r\n";
    const std::string cp1251 = "Subject: x\r\nContent-Type: text/plain; charset=windows-1251\r\n\r\n\xcf\xf0\xe8\xe2\xe5\xf2\r\n";
    std::string blob = Put("report.bin", std::string("\x00\x01\xff.\r\n.\n", 8) + std::string(3000, 'z'));
    const std::pair<std::string, std::string> kSent[] = {
        {kCurl + Put("u.eml", utf8), utf8},
        {kCurl + Put("c.eml", cp1251), cp1251},
        {"swaks -s 127.0.0.1 -p 2525 -f ivan@office.local -t maria@office.local --attach-type application/pdf --attach @" + blob, ""},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_NE(std::string::npos, Shell(kSent[i].first).find("rc=0")) << kSent[i].first;
        std::string stored = Last();
        if (i < 2) EXPECT_EQ(kSent[i].second, stored.substr(stored.find("+0000\r\n") + 7));
        else EXPECT_NE(std::string::npos, stored.find("Content-Type: application/pdf")) << stored.substr(0, 900);
        EXPECT_EQ(stored + "rc=0\n", Shell("curl -s --max-time 20 -u maria:pw2 pop3://127.0.0.1:1110/" + std::to_string(i + 1)));
    }

    std::string all;
    for (int i = 0; i < 8; ++i)
        all += kCurl + Put("p" + std::to_string(i), "Subject: " + std::to_string(i) + "\r\n\r\n" + std::string(20000, 'a' + i) + "\r\n") + " & ";
    Shell(all + "wait");
    std::vector<std::string> names = Letters();
    ASSERT_EQ(11u, names.size());
    std::string seen;
    for (std::size_t n = 3; n < names.size(); ++n) {
        std::string text = e2e::ReadFile(q.dir / ("maria/" + names[n]));
        char i = text[text.find("Subject: ") + 9];
        seen += i;
        EXPECT_EQ(std::string("Subject: ") + i + "\r\n\r\n" + std::string(20000, 'a' + (i - '0')) + "\r\n", text.substr(text.find("Subject: ")));
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ("01234567", seen);
}

}  // namespace
