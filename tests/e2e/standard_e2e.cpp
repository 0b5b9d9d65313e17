// The standard POP3 listener of Quorrel.exe under Wine, fetched from by mail clients nobody here
// wrote (fetchmail, curl) and by a plain line client for the edge cases; then what is on disk.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "message.h"
#include "pop3_client.h"
#include "server/commands.h"
#include "uid.h"
#include "wine_app.h"

namespace {

constexpr int PORT = 1110;

// One connection to the standard listener: lines out, replies in, every wait bounded.
class LineClient {
public:
    ~LineClient() { Close(); }
    bool Connect() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(PORT);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && Line().rfind("+OK", 0) == 0;
    }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    void Send(const std::string& bytes) { (void)!write(fd_, bytes.data(), bytes.size()); }
    // Reads up to and including `end`; "" when it does not come within 5 s.
    std::string Until(const std::string& end) {
        while (buf_.find(end) == std::string::npos) {
            pollfd p = {fd_, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) return "";
            char b[4096];
            ssize_t n = read(fd_, b, sizeof b);
            if (n <= 0) return "";
            buf_.append(b, static_cast<std::size_t>(n));
        }
        std::size_t at = buf_.find(end) + end.size();
        std::string got = buf_.substr(0, at);
        buf_.erase(0, at);
        return got;
    }
    std::string Line() { return Until("\r\n"); }
    std::string Ask(const std::string& line) {
        Send(line + "\r\n");
        return Line();
    }
    std::string AskMulti(const std::string& line) {
        std::string first = Ask(line);
        return first.rfind("+OK", 0) == 0 ? first + Until("\r\n.\r\n") : first;
    }
    bool ClosedByPeer() {
        pollfd p = {fd_, POLLIN, 0};
        char b[64];
        return poll(&p, 1, 5000) > 0 && read(fd_, b, sizeof b) == 0;
    }

private:
    int fd_ = -1;
    std::string buf_;
};

bool Ok(const std::string& reply) { return reply.rfind("+OK", 0) == 0; }

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char b[4096];
    for (std::size_t n; (n = fread(b, 1, sizeof b, p)) > 0;) out.append(b, n);
    pclose(p);
    return out;
}

class StandardE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(e2e::Listening(PORT)) << "something else listens on port 1110";
        std::string db = e2e::UserBytes("ivan", "pw1", 1) + e2e::UserBytes("maria", "pw2", 2) +
                         e2e::UserBytes("petr", "pw3", 0);
        ASSERT_TRUE(e2e::WriteFile(q.dir / "Users.db", db));
        ASSERT_TRUE(e2e::WriteFile(q.dir / "Quorrel.ini", "[POP3]\r\nPort=1110\r\n"));
        for (const char* u : {"ivan", "maria", "petr"}) e2e::MakeDir(q.dir / u);
    }
    void Start() {
        ASSERT_TRUE(q.Launch());
        q.Command(IDM_START);
        ASSERT_TRUE(e2e::WaitListening(PORT, true, 5000));
    }
    void LogIn(LineClient& c, const char* user, const char* pw) {
        ASSERT_TRUE(c.Connect());
        ASSERT_TRUE(Ok(c.Ask(std::string("USER ") + user)));
        ASSERT_TRUE(Ok(c.Ask(std::string("PASS ") + pw)));
    }
    // What a mail client is to get for a letter file: rendered as the server renders it.
    std::string Rendered(const std::string& user, const std::string& name) {
        std::string file = e2e::ReadFile(q.dir / (user + "/" + name));
        struct stat st = {};
        stat((q.dir / (user + "/" + name)).c_str(), &st);
        char uid[pop3::MAX_UID_LEN + 1], host[256] = "";
        pop3::MakeUid(name.c_str(), uid);
        gethostname(host, sizeof host);
        pop3::Renderer r;   // no SMTP listener here: no made-up From:
        pop3::Begin(r, pop3::LetterMeta{static_cast<long long>(st.st_mtime), uid, host, nullptr}, -1);
        std::string out(file.size() * 2 + 2048, '\0');
        std::size_t used = 0, n = pop3::Feed(r, reinterpret_cast<const unsigned char*>(file.data()), file.size(),
                                             &used, reinterpret_cast<unsigned char*>(&out[0]), out.size());
        while (!pop3::Finished(r)) n += pop3::Finish(r, reinterpret_cast<unsigned char*>(&out[n]), out.size() - n);
        out.resize(n);
        return out;
    }
    e2e::Quorrel q;
};

// Sixteen letters in ivan's mailbox, one past what the dialect serves: plain notes in Russian
// without headers, one with headers of its own and dot lines, one without a status byte, one long.
TEST_F(StandardE2E, MailClientsFetchEveryLetterWholeAndTheCommitsFollow) {
    std::map<std::string, std::string> letters = {
        {"note.msg", "0Привет!\r\nКак дела?\r\n"},
        {"headers.msg", "0From: olga@example.org\nSubject: Hi\n\nA line\n.a dot line\n..two\nlast"},
        {"plain.msg", "No status byte, one line"},
        {"long.msg", "0" + std::string(70000, 'x') + "\n"},
    };
    for (int i = 0; i < 12; ++i) letters["n" + std::to_string(i) + ".msg"] = "0Письмо номер " + std::to_string(i) + "\n";
    for (const auto& l : letters) ASSERT_TRUE(e2e::WriteFile(q.dir / ("ivan/" + l.first), l.second));
    Start();

    std::map<std::string, std::string> want;   // before any commit moves the write times
    for (const auto& l : letters) want[l.first] = Rendered("ivan", l.first);

    // curl: the listing, then every letter by the number UIDL gives its file, byte for byte.
    const std::string url = "pop3://127.0.0.1:1110/";
    std::string uidl = Shell("curl -s --max-time 20 -u ivan:pw1 -X UIDL " + url);
    std::map<std::string, std::string> number_of;
    for (std::size_t at = 0; at < uidl.size();) {
        std::size_t end = uidl.find("\r\n", at);
        if (end == std::string::npos) break;
        std::string line = uidl.substr(at, end - at);
        number_of[line.substr(line.find(' ') + 1)] = line.substr(0, line.find(' '));
        at = end + 2;
    }
    ASSERT_EQ(16u, number_of.size()) << uidl;
    for (const char* name : {"note.msg", "headers.msg", "plain.msg", "long.msg", "n7.msg"}) {
        char uid[pop3::MAX_UID_LEN + 1];
        pop3::MakeUid(name, uid);
        ASSERT_TRUE(number_of.count(uid)) << name;
        std::string got = Shell("curl -s --max-time 20 -u ivan:pw1 " + url + number_of[uid]);
        // curl hands the message on as sent, the dot-stuffing undone.
        std::string unstuffed;
        for (std::size_t at = 0; at < want[name].size();) {
            std::size_t end = want[name].find("\r\n", at) + 2;
            std::string line = want[name].substr(at, end - at);
            unstuffed += line.rfind("..", 0) == 0 ? line.substr(1) : line;
            at = end;
        }
        std::size_t diff = 0;
        while (diff < got.size() && diff < unstuffed.size() && got[diff] == unstuffed[diff]) ++diff;
        EXPECT_EQ(unstuffed.size(), got.size()) << name;
        EXPECT_EQ(unstuffed.size(), diff) << name << " differs at " << diff << ": " << e2e::Hex(got.substr(diff, 40))
                                          << " / " << e2e::Hex(unstuffed.substr(diff, 40));
    }
    EXPECT_NE(std::string::npos, want["note.msg"].find("Subject: =?windows-1251?B?"));
    EXPECT_NE(std::string::npos, want["note.msg"].find("Content-Type: text/plain; charset=windows-1251\r\n"));

    // fetchmail keeping the letters: every letter delivered, every one marked read on disk.
    std::string mbox = q.dir / "mbox";
    std::string rc = q.dir / "fetchmailrc";
    ASSERT_TRUE(e2e::WriteFile(rc, "poll 127.0.0.1 protocol pop3 port 1110 user ivan password pw1 sslproto '' mda \"cat >> " +
                                       mbox + "\"\n"));
    chmod(rc.c_str(), 0600);
    const std::string fetch = "fetchmail -f " + rc + " --invisible --norewrite --all --nosyslog -s --pidfile " +
                              (q.dir / "fm.pid") + " ";
    std::string log = Shell("HOME=" + q.dir.path() + " " + fetch + "--keep 2>&1");
    std::string delivered = e2e::ReadFile(mbox);
    EXPECT_FALSE(delivered.empty()) << log;
    for (const auto& l : letters) {
        std::string text = l.second.substr(l.second[0] == '0' ? 1 : 0, 40);
        if (text.find('\r') != std::string::npos) text = text.substr(0, text.find('\r'));
        if (text.find('\n') != std::string::npos) text = text.substr(0, text.find('\n'));
        EXPECT_NE(std::string::npos, delivered.find(text)) << l.first;
        if (delivered.empty()) break;
    }
    EXPECT_NE(std::string::npos, delivered.find("Subject: =?windows-1251?B?"));
    for (const auto& l : letters) {
        std::string now = e2e::ReadFile(q.dir / ("ivan/" + l.first));
        std::string body = l.second[0] == '0' ? l.second.substr(1) : l.second;
        EXPECT_TRUE("R" + body == now) << l.first << " is marked read, its text unchanged: " << e2e::Hex(now.substr(0, 20));
    }
    // And without --keep: the mailbox is emptied.
    Shell("HOME=" + q.dir.path() + " " + fetch + "2>&1");
    EXPECT_TRUE(e2e::ListDir(q.dir / "ivan").empty());
}

// The rules of the conversation, one row a story on fresh connections of a running server.
TEST_F(StandardE2E, ConversationRulesLocksAndAccess) {
    ASSERT_TRUE(e2e::WriteFile(q.dir / "maria/1.msg", "0one\n"));
    ASSERT_TRUE(e2e::WriteFile(q.dir / "maria/2.msg", "0two\n"));
    ASSERT_TRUE(e2e::WriteFile(q.dir / "petr/1.msg", "0secret\n"));
    Start();
    struct Step { const char* send; const char* want; };   // want: the reply's first characters
    struct Story { const char* label; std::vector<Step> steps; };
    const std::string longline(300, 'a');
    const Story stories[] = {
        {"out of state", {{"STAT", "-ERR"}, {"PASS pw2", "-ERR"}, {"RETR 1", "-ERR"}, {"capa", "+OK"}, {"NOOP", "-ERR"}}},
        {"lines", {{longline.c_str(), "-ERR"}, {"FOO", "-ERR"}, {"user maria", "+OK"}, {"pass pw2", "+OK"}, {"noop", "+OK"}}},
        {"bad numbers", {{"USER maria", "+OK"}, {"PASS pw2", "+OK"}, {"RETR 0", "-ERR"}, {"RETR 3", "-ERR"},
                         {"RETR -1", "-ERR"}, {"RETR 99999999999", "-ERR"}, {"TOP 1", "-ERR"}, {"LIST x", "-ERR"}}},
        {"wrong password", {{"USER maria", "+OK"}, {"PASS pw1", "-ERR"}, {"STAT", "-ERR"}}},
        {"read only", {{"USER maria", "+OK"}, {"PASS pw2", "+OK"}, {"STAT", "+OK 2 "}, {"DELE 1", "-ERR"},
                       {"RETR 1", "+OK"}, {"RSET", "+OK"}, {"QUIT", "+OK"}}},
        {"no access", {{"USER petr", "+OK"}, {"PASS pw3", "+OK"}, {"RETR 1", "-ERR"}, {"TOP 1 0", "-ERR"},
                       {"DELE 1", "+OK"}, {"RSET", "+OK"}, {"QUIT", "+OK"}}},
    };
    for (const Story& s : stories) {
        SCOPED_TRACE(s.label);
        LineClient c;
        ASSERT_TRUE(c.Connect());
        for (const Step& st : s.steps) {
            std::string got = st.send[0] && std::strncmp(st.send, "RETR 1", 6) == 0 ? c.AskMulti(st.send) : c.Ask(st.send);
            if (std::string(st.send) == "capa") got += c.Until("\r\n.\r\n");
            EXPECT_EQ(0u, got.rfind(st.want, 0)) << st.send << " -> " << got.substr(0, 60);
        }
    }
    EXPECT_EQ("0one\n", e2e::ReadFile(q.dir / "maria/1.msg")) << "RSET cleared the mark of RETR";
    EXPECT_EQ("0secret\n", e2e::ReadFile(q.dir / "petr/1.msg")) << "RSET cleared the mark of DELE";

    // A mailbox is open to one conversation at a time, in either protocol; another user's is not
    // held; a dropped conversation commits nothing and lets the mailbox go.
    LineClient first, second, other;
    LogIn(first, "maria", "pw2");
    ASSERT_TRUE(second.Connect());
    EXPECT_TRUE(Ok(second.Ask("USER maria")));
    EXPECT_EQ(0u, second.Ask("PASS pw2").rfind("-ERR [IN-USE]", 0));
    LogIn(other, "petr", "pw3");
    e2e::Pop3Client dialect;
    ASSERT_TRUE(dialect.Connect(110));
    dialect.Read(5);
    EXPECT_EQ("+Ok", e2e::StatusOf(dialect.Ask("USER maria")));
    EXPECT_EQ("-Erro", e2e::StatusOf(dialect.Ask("PASS pw2"))) << "locked across the protocols";
    EXPECT_EQ("+OK", first.AskMulti("TOP 2 0").substr(0, 3));
    EXPECT_TRUE(Ok(first.Ask("RETR 1").substr(0, 3)));
    first.Until("\r\n.\r\n");
    first.Close();
    usleep(300 * 1000);
    EXPECT_EQ("0one\n", e2e::ReadFile(q.dir / "maria/1.msg")) << "dropped without QUIT: nothing committed";
    EXPECT_EQ("+Ok", e2e::StatusOf(dialect.Ask("PASS pw2"))) << "the mailbox is free again";
    EXPECT_EQ("+OK", other.Ask("QUIT").substr(0, 3));

    // Pause drops every connection; with none open, Pause can't be chosen.
    LineClient last;
    ASSERT_TRUE(last.Connect());
    q.Command(IDM_PAUSE);
    EXPECT_TRUE(last.ClosedByPeer());
    EXPECT_TRUE(dialect.ClosedByPeer());
    EXPECT_NE(std::string::npos, q.State().find("pause=0"));
    EXPECT_FALSE(e2e::Exists(q.dir / "Logs")) << "without [Log] Enabled=1 no log is written";
}

// With [Log] Enabled=1: both protocols, a wrong and a right login each, a RETR, a DELE and a QUIT,
// a conversation dropped without QUIT, a new user, Pause and Stop, each a line of one file, in the
// form a firewall tool can match, and no password anywhere in it.
TEST_F(StandardE2E, TheLogSaysWhatHappenedAndNoPassword) {
    ASSERT_TRUE(e2e::WriteFile(q.dir / "Quorrel.ini", "[POP3]\r\nPort=1110\r\n[Log]\r\nEnabled=1\r\n"));
    ASSERT_TRUE(e2e::WriteFile(q.dir / "ivan/1.msg", "0one\n"));
    ASSERT_TRUE(e2e::WriteFile(q.dir / "ivan/2.msg", "0two\n"));
    Start();   // its probe of the port is a connection too
    LineClient c;
    ASSERT_TRUE(c.Connect());
    c.Ask("USER ivan");
    EXPECT_EQ(0u, c.Ask("PASS guess1").rfind("-ERR", 0));
    c.Ask("USER ivan");
    EXPECT_TRUE(Ok(c.Ask("PASS pw1")));
    c.AskMulti("RETR 1");
    c.Ask("DELE 2");
    EXPECT_TRUE(Ok(c.Ask("QUIT")));
    e2e::Pop3Client dialect;
    ASSERT_TRUE(dialect.Connect(110));
    dialect.Read(5);
    dialect.Ask("USER maria");
    EXPECT_EQ("-Erro", e2e::StatusOf(dialect.Ask("PASS guess2")));
    dialect.Ask("USER maria");
    EXPECT_EQ("+Ok", e2e::StatusOf(dialect.Ask("PASS pw2")));
    dialect.Close();
    usleep(300 * 1000);
    std::string out = q.Do({"cmd", std::to_string(IDM_PASSWORD), "dialog", "10003", "5000", "set", "10003", "admin", "ok",
                            "cmd", std::to_string(IDM_NEWUSER), "dialog", "10000", "5000", "set", "10000", "olga", "set",
                            "10001", "pw9", "set", "10003", "127.0.0.1", "pick", "10002", "1", "ok", "cmd",
                            std::to_string(IDM_PAUSE), "cmd", std::to_string(IDM_STOP), "state"});
    EXPECT_NE(std::string::npos, out.find("state start=1")) << out;

    std::vector<std::string> files = e2e::ListDir(q.dir / "Logs");
    ASSERT_EQ(1u, files.size());
    std::time_t now = std::time(nullptr);
    char name[40];
    std::strftime(name, sizeof name, "Quorrel-%Y-%m-%d.log", std::localtime(&now));
    EXPECT_EQ(name, files[0]);
    std::string log = e2e::ReadFile(q.dir / ("Logs/" + files[0]));
    const std::regex form("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (SERVER|ADMIN|DIALECT|POP3|SMTP) (\\d+\\.\\d+\\.\\d+\\.\\d+|-) "
                          "[a-z-]+( [a-z0-9]+=(\"[^\"]*\"|[!-~]+))*");
    std::vector<std::string> seen;
    for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
        std::string line = log.substr(at, end - at);
        EXPECT_TRUE(std::regex_match(line, form)) << line;
        seen.push_back(line.substr(20));
    }
    const std::vector<std::string> want = {
        "SERVER - start dialect=110 pop3=1110",
        "POP3 127.0.0.1 connect",
        "POP3 127.0.0.1 connect",
        "POP3 127.0.0.1 closed reason=peer",
        "POP3 127.0.0.1 login-failed user=ivan",
        "POP3 127.0.0.1 login user=ivan",
        "POP3 127.0.0.1 quit user=ivan deleted=1 read=1 failed=0",
        "DIALECT 127.0.0.1 connect",
        "DIALECT 127.0.0.1 login-failed user=maria",
        "DIALECT 127.0.0.1 login user=maria",
        "DIALECT 127.0.0.1 closed user=maria reason=peer",
        "ADMIN - user-added user=olga",
        "SERVER - pause",
        "SERVER - stop",
    };
    EXPECT_EQ(want, seen) << log;
    for (const char* secret : {"pw1", "pw2", "pw9", "guess", "admin"}) EXPECT_EQ(std::string::npos, log.find(secret)) << secret;
}

// The standard port taken by another program: a box names it, and the dialect runs alone.
TEST_F(StandardE2E, ATakenPortIsNamedAndTheDialectStartsAlone) {
    int blocker = e2e::HoldPort(PORT);
    ASSERT_GE(blocker, 0);
    ASSERT_TRUE(q.Launch());
    std::string out = q.Do({"cmd", std::to_string(IDM_START), "box", "5000", "state"});
    EXPECT_NE(std::string::npos, out.find("box\tSocket Error!\tSocket don't bind port 1110.\t")) << out;
    EXPECT_NE(std::string::npos, out.find("state start=0 stop=1")) << out;
    e2e::Pop3Client dialect;
    EXPECT_TRUE(dialect.Connect(110));
    close(blocker);
}

}  // namespace
