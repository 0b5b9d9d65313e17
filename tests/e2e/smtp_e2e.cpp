// The SMTP listener of Quorrel.exe under Wine, sent to by mail programs nobody here wrote (msmtp,
// swaks, curl) and fetched from over POP3 by fetchmail and curl: an office's mail going round.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pop3_client.h"
#include "server/commands.h"
#include "wine_app.h"

namespace {

constexpr int POP3 = 1110, SMTP = 2525;

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char b[4096];
    for (std::size_t n; (n = fread(b, 1, sizeof b, p)) > 0;) out.append(b, n);
    pclose(p);
    return out;
}

std::string NoCr(std::string s) {
    std::string out;
    for (char c : s)
        if (c != '\r') out += c;
    return out;
}

class SmtpE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(e2e::Listening(SMTP)) << "something else listens on port 2525";
        ASSERT_TRUE(e2e::WriteFile(q.dir / "Users.db", e2e::UserBytes("ivan", "pw1", 1) + e2e::UserBytes("maria", "pw2", 1)));
        ASSERT_TRUE(e2e::WriteFile(q.dir / "Quorrel.ini", "[POP3]\r\nPort=1110\r\n[SMTP]\r\nPort=2525\r\n"
                                                          "Domain=office.local\r\nMaxSize=100000\r\nPerAddress=8\r\n"));
        for (const char* u : {"ivan", "maria"}) e2e::MakeDir(q.dir / u);
        ASSERT_TRUE(q.Launch());
        q.Command(IDM_START);
        ASSERT_TRUE(e2e::WaitListening(SMTP, true, 5000));
    }
    // maria's letter files, in name order, and the text of the last one without its status byte.
    std::vector<std::string> Letters() { return e2e::ListDir(q.dir / "maria"); }
    std::string Last() {
        std::vector<std::string> l = Letters();
        return l.empty() ? "" : e2e::ReadFile(q.dir / ("maria/" + l.back())).substr(1);
    }
    std::string Put(const std::string& name, const std::string& bytes) {
        std::string path = q.dir / name;
        e2e::WriteFile(path, bytes);
        return path;
    }
    e2e::Quorrel q;
};

// The office's story: msmtp sends from ivan to maria; fetchmail brings it to maria with the two
// trace lines in front, the rest byte for byte as msmtp sent it.
TEST_F(SmtpE2E, MsmtpSendsAndFetchmailBringsItBack) {
    const std::string msg = "From: ivan@office.local\r\nTo: maria@office.local\r\nSubject: Lunch\r\n"
                            "Date: Mon, 07 Dec 2026 12:00:00 +0300\r\nMessage-ID: <1@office.local>\r\n\r\n"
                            "At one?\r\n.dot first\r\n";
    std::string rc = Put("msmtprc", "account office\nhost 127.0.0.1\nport 2525\nfrom ivan@office.local\n"
                                    "auth off\ntls off\naccount default : office\n");
    chmod(rc.c_str(), 0600);
    std::string log = Shell("msmtp -C " + rc + " maria@office.local < " + Put("m.eml", msg) + " 2>&1; echo rc=$?");
    ASSERT_NE(std::string::npos, log.find("rc=0")) << log;
    std::string stored = Last();
    ASSERT_EQ(0u, stored.find("Return-Path: <ivan@office.local>\r\nReceived: from ")) << stored;
    ASSERT_NE(std::string::npos, stored.find("\tby office.local with ESMTP;\r\n"));
    std::size_t body = stored.find("\r\nFrom: ") + 2;
    EXPECT_EQ(msg, stored.substr(body)) << "as sent, the dot-stuffing undone";

    std::string mbox = q.dir / "mbox", frc = Put("fetchmailrc", "poll 127.0.0.1 protocol pop3 port 1110 user maria password pw2 "
                                                                "sslproto '' mda \"cat >> " + (q.dir / "mbox") + "\"\n");
    chmod(frc.c_str(), 0600);
    log = Shell("HOME=" + q.dir.path() + " fetchmail -f " + frc + " --invisible --norewrite --nosyslog -s --pidfile " +
                (q.dir / "fm.pid") + " 2>&1");
    EXPECT_EQ(NoCr(stored), e2e::ReadFile(mbox)) << log;
    EXPECT_TRUE(Letters().empty()) << "fetched and deleted";
}

// swaks and curl sending what offices send: UTF-8 and windows-1251 Cyrillic, a MIME letter with an
// attachment; each stored after the trace lines as it came and fetched back by curl byte for byte.
TEST_F(SmtpE2E, CyrillicAndAttachmentsComeBackByteForByte) {
    const std::string utf8 = "Subject: =?UTF-8?B?0J/RgNC40LLQtdGC?=\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
                             "Привет, Мария!\r\n";
    const std::string cp1251 = "Subject: test\r\nContent-Type: text/plain; charset=windows-1251\r\n\r\n"
                               "\xcf\xf0\xe8\xe2\xe5\xf2\r\n";
    std::string attachment = Put("report.bin", std::string("\x00\x01\xff.\r\n.\n", 8) + std::string(3000, 'z'));
    struct Sender { const char* label; std::string command; std::string sent; };
    const std::string swaks = "swaks --server 127.0.0.1 --port 2525 --from ivan@office.local --to maria@office.local ";
    const Sender senders[] = {
        {"curl, UTF-8", "curl -s --max-time 20 smtp://127.0.0.1:2525 --mail-from ivan@office.local --mail-rcpt "
                        "maria@office.local -T " + Put("u.eml", utf8), utf8},
        {"curl, windows-1251", "curl -s --max-time 20 smtp://127.0.0.1:2525 --mail-from ivan@office.local --mail-rcpt "
                               "maria@office.local -T " + Put("c.eml", cp1251), cp1251},
        {"swaks, an attachment", swaks + "--attach @" + attachment + " --attach-type application/octet-stream", ""},
    };
    for (const Sender& s : senders) {
        SCOPED_TRACE(s.label);
        std::size_t before = Letters().size();
        std::string log = Shell(s.command + " 2>&1; echo rc=$?");
        ASSERT_NE(std::string::npos, log.find("rc=0")) << log;
        ASSERT_EQ(before + 1, Letters().size());
        std::string stored = Last();
        std::size_t head = stored.find("+0000\r\n") + 7;
        if (!s.sent.empty()) EXPECT_EQ(s.sent, stored.substr(head));
        else EXPECT_NE(std::string::npos, stored.find("Content-Type: application/octet-stream")) << stored.substr(0, 800);
        std::string got = Shell("curl -s --max-time 20 -u maria:pw2 pop3://127.0.0.1:1110/" + std::to_string(before + 1));
        EXPECT_EQ(stored, got);
    }
}

// The refusals as real senders meet them, and eight curl senders at once into one mailbox.
TEST_F(SmtpE2E, RefusalsAndEightSendersAtOnce) {
    std::string eml = Put("r.eml", "Subject: x\r\n\r\nhi\r\n");
    const std::string curl = "curl -sS --max-time 20 smtp://127.0.0.1:2525 -T " + eml + " --mail-from ivan@office.local ";
    const struct { const char* label; std::string command; const char* want; } refusals[] = {
        {"another domain", curl + "--mail-rcpt ivan@other.example", "550"},
        {"the percent hack", curl + "--mail-rcpt 'ivan%other.example@office.local'", "550"},
        {"an unknown user", curl + "--mail-rcpt nobody@office.local", "550"},
        {"a size over MaxSize", "swaks --server 127.0.0.1 --port 2525 --from ivan@office.local --to maria@office.local "
                                "--body " + Put("big.txt", std::string(120000, 'b')), "552 5.3.4"},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.label);
        std::string log = Shell(r.command + " 2>&1");
        EXPECT_NE(std::string::npos, log.find(r.want)) << log;
    }
    EXPECT_TRUE(Letters().empty());

    std::string all;
    for (int i = 0; i < 8; ++i) {
        Put("p" + std::to_string(i) + ".eml", "Subject: " + std::to_string(i) + "\r\n\r\n" + std::string(20000, 'a' + i) + "\r\n");
        all += curl.substr(0, curl.find(" -T ")) + " -T " + (q.dir / ("p" + std::to_string(i) + ".eml")) +
               " --mail-from ivan@office.local --mail-rcpt maria@office.local & ";
    }
    Shell(all + "wait");
    std::vector<std::string> names = Letters();
    ASSERT_EQ(8u, names.size());
    std::vector<bool> seen(8);
    for (const std::string& n : names) {
        std::string text = e2e::ReadFile(q.dir / ("maria/" + n));
        std::size_t s = text.find("Subject: ");
        ASSERT_NE(std::string::npos, s);
        int i = text[s + 9] - '0';
        ASSERT_TRUE(i >= 0 && i < 8);
        seen[i] = true;
        EXPECT_EQ("Subject: " + std::to_string(i) + "\r\n\r\n" + std::string(20000, 'a' + i) + "\r\n", text.substr(s));
    }
    EXPECT_EQ(std::vector<bool>(8, true), seen);
}

}  // namespace
