// Quorrel.exe under Wine on port 110, driven from outside: Start, Stop and Pause by the driver,
// the conversation by the native client, and what lands in the data folder.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>


#include <cstdlib>
#include <cstring>
#include <map>

#include "pop3_client.h"
#include "server/commands.h"
#include "wine_app.h"

namespace {

using e2e::Cmd;
using e2e::Pop3Client;
using e2e::StatusOf;

constexpr int PORT = 110;
const char kIdle[] = "start=1 stop=0 pause=0";
const char kListening[] = "start=0 stop=1 pause=0";
const char kServing[] = "start=0 stop=1 pause=1";

// The driver's box line as caption, text and whether the main window owns it.  The icon is
// checked by the in-process tests: another process's icon cannot be read under Wine.
std::string BoxLine(const std::string& out) {
    std::size_t p = out.find("box\t");
    if (p == std::string::npos) return "";
    std::string line = out.substr(p + 4, out.find('\n', p) - p - 4);
    std::size_t icon = line.find('\t', line.find('\t') + 1);
    std::size_t owned = line.rfind('\t');
    return line.substr(0, icon) + line.substr(owned);
}

class ServerE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(e2e::Exists(e2e::WinBuildDir() + "/server/Quorrel.exe"));
        ASSERT_FALSE(e2e::Listening(PORT)) << "something else listens on port 110";
    }
    void PutUsers() {
        std::string db = e2e::UserBytes("ivan", "pw1", 1) + e2e::UserBytes("maria", "pw2", 2) + e2e::UserBytes("petr", "pw3", 0);
        ASSERT_TRUE(e2e::WriteFile(q.dir / "Users.db", db));
    }
    void PutLetters(const std::string& user, const std::vector<std::string>& texts) {
        e2e::MakeDir(q.dir / user);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "%03d.msg", static_cast<int>(i + 1));
            ASSERT_TRUE(e2e::WriteFile(q.dir / (user + "/" + name), texts[i]));
        }
    }
    void Start() {
        q.Command(IDM_START);
        ASSERT_TRUE(WaitState(kListening));
    }
    bool WaitState(const char* want) {
        for (int i = 0; i < 30; ++i) {
            if (q.State() == want) return true;
            usleep(100 * 1000);
        }
        ADD_FAILURE() << "state " << q.State() << ", wanted " << want;
        return false;
    }
    void Open(Pop3Client& c) {
        ASSERT_TRUE(c.Connect(PORT));
        ASSERT_EQ(e2e::kOk, c.Read(5).substr(0, 4));
    }
    void Login(Pop3Client& c, const char* name, const char* pw) {
        ASSERT_EQ("+Ok", StatusOf(c.Ask(std::string("USER ") + name)));
        ASSERT_EQ("+Ok", StatusOf(c.Ask(std::string("PASS ") + pw)));
    }
    // LIST: letter number by letter size.
    std::map<std::size_t, int> NumbersBySize(Pop3Client& c) {
        std::map<std::size_t, int> by_size;
        std::string list = c.Ask("LIST");
        EXPECT_EQ(1000u, list.size()) << StatusOf(list);
        if (list.size() != 1000) return by_size;
        EXPECT_EQ(std::string("+Ok\0 ", 5), list.substr(0, 5));
        std::string body = list.substr(5, list.find('\0', 5) - 5);
        int n = 0;
        std::size_t size = 0;
        int k = 0;
        for (const char* p = body.c_str(); *p;) {
            n = std::atoi(p);
            p = std::strchr(p, ' ') + 1;
            size = static_cast<std::size_t>(std::atoi(p));
            p = std::strchr(p, ' ') + 1;
            EXPECT_EQ(++k, n) << body;
            by_size[size] = n;
        }
        return by_size;
    }

    e2e::Quorrel q;
};

const std::string kL1 = std::string("0") + "Первое письмо.";
const std::string kL2 = std::string("0") + "Second letter, a little longer.";
const std::string kL3 = std::string("R") + "Third, read before: the longest letter of them all.";

TEST_F(ServerE2E, AConversationAndItsCommit) {
    PutUsers();
    PutLetters("ivan", {kL1, kL2, kL3});
    PutLetters("maria", {kL1});
    PutLetters("petr", {kL2});
    ASSERT_TRUE(q.Launch());
    EXPECT_EQ(kIdle, q.State());
    Start();
    std::string rows = q.Do({"rows"});
    EXPECT_NE(std::string::npos, rows.find("row\tivan\t")) << rows;
    EXPECT_NE(std::string::npos, rows.find("Только чтение")) << rows;

    // Login belongs to the connection; QUIT before it answers and commits nothing.
    {
        Pop3Client c;
        Open(c);
        EXPECT_TRUE(WaitState(kServing));
        EXPECT_EQ("-Erro", StatusOf(c.Ask("PASS pw1")));
        EXPECT_EQ("-Erro", StatusOf(c.Ask("STAT")));
        EXPECT_EQ("-Erro", StatusOf(c.Ask("USER nobody")));
        EXPECT_EQ("+Ok", StatusOf(c.Ask("QUIT ")));
        EXPECT_TRUE(c.ClosedByPeer());
        EXPECT_TRUE(WaitState(kListening));
    }
    // A dropped connection commits nothing.
    {
        Pop3Client c;
        Open(c);
        Login(c, "ivan", "pw1");
        NumbersBySize(c);
        EXPECT_EQ("+Ok", StatusOf(c.Ask("DELE 1")));
        c.Close();
        EXPECT_TRUE(WaitState(kListening));
    }
    EXPECT_EQ(kL1, e2e::ReadFile(q.dir / "ivan/001.msg"));
    EXPECT_EQ(3u, e2e::ListDir(q.dir / "ivan").size());

    // The whole conversation, byte for byte.
    Pop3Client c;
    Open(c);
    Login(c, "ivan", "pw1");
    std::string stat = c.Ask("STAT");
    std::string total = std::to_string(kL1.size() + kL2.size() + kL3.size());
    EXPECT_EQ(std::string("+Ok\0 3 ", 7) + total + '\0', stat.substr(0, 8 + total.size())) << e2e::Hex(stat);
    EXPECT_EQ(20u, stat.size());
    std::map<std::size_t, int> num = NumbersBySize(c);
    ASSERT_EQ(3u, num.size());
    std::string retr = c.Ask("RETR " + std::to_string(num[kL1.size()]));
    ASSERT_EQ(1000u, retr.size());
    EXPECT_EQ(std::string("+Ok\0 ", 5) + kL1 + '\0', retr.substr(0, 6 + kL1.size()));
    for (const char* bad : {"RETR 0", "RETR 4", "RETR", "DELE 0", "DELE 16", "RETR 1234"})
        EXPECT_EQ("-Erro", StatusOf(c.Ask(bad))) << bad;
    std::string del = std::to_string(num[kL2.size()]);
    EXPECT_EQ("+Ok", StatusOf(c.Ask("DELE " + del)));
    EXPECT_EQ("-Erro", StatusOf(c.Ask("DELE " + del)));
    EXPECT_EQ("-Erro", StatusOf(c.Ask("RETR " + del)));
    c.SendRaw(Cmd("quit "));
    EXPECT_TRUE(c.Silent(300));
    EXPECT_EQ("+Ok", StatusOf(c.Ask("QUIT ")));
    EXPECT_TRUE(c.ClosedByPeer());
    EXPECT_TRUE(WaitState(kListening));

    std::vector<std::string> left = e2e::ListDir(q.dir / "ivan");
    ASSERT_EQ(2u, left.size());
    std::map<std::size_t, std::string> by_size;
    for (const std::string& f : left) {
        std::string bytes = e2e::ReadFile(q.dir / ("ivan/" + f));
        by_size[bytes.size()] = bytes;
    }
    EXPECT_EQ("R" + kL1.substr(1), by_size[kL1.size()]) << "retrieved: marked read";
    EXPECT_EQ(kL3, by_size[kL3.size()]) << "untouched, status byte as it was";
    EXPECT_EQ(0u, by_size.count(kL2.size())) << "deleted";

    // Access levels; two clients in a row, the first replaced and closed.
    Pop3Client m;
    Open(m);
    Login(m, "maria", "pw2");
    NumbersBySize(m);
    EXPECT_EQ(1000u, m.Ask("RETR 1").size());
    EXPECT_EQ("-Erro", StatusOf(m.Ask("DELE 1")));
    Pop3Client p;
    Open(p);
    EXPECT_TRUE(m.ClosedByPeer());
    EXPECT_EQ("-Erro", StatusOf(p.Ask("STAT"))) << "no login carried over from the replaced connection";
    Login(p, "petr", "pw3");
    NumbersBySize(p);
    EXPECT_EQ("-Erro", StatusOf(p.Ask("RETR 1")));
    EXPECT_EQ("+Ok", StatusOf(p.Ask("DELE 1")));
    EXPECT_EQ("+Ok", StatusOf(p.Ask("QUIT ")));
    EXPECT_TRUE(p.ClosedByPeer());
    EXPECT_EQ(e2e::ListDir(q.dir / "maria").size(), 1u);
    EXPECT_EQ(kL1, e2e::ReadFile(q.dir / "maria/001.msg"));
    EXPECT_TRUE(e2e::ListDir(q.dir / "petr").empty());

    int code = -1;
    EXPECT_TRUE(q.Close(&code));
    EXPECT_EQ(0, code);
}

TEST_F(ServerE2E, PauseAndStopDropTheClientWithoutCommit) {
    PutUsers();
    PutLetters("ivan", {kL1, kL2});
    ASSERT_TRUE(q.Launch());
    Start();
    for (int id : {IDM_PAUSE, IDM_STOP}) {
        SCOPED_TRACE(id);
        Pop3Client c;
        Open(c);
        Login(c, "ivan", "pw1");
        NumbersBySize(c);
        EXPECT_EQ("+Ok", StatusOf(c.Ask("DELE 1")));
        EXPECT_EQ("+Ok", StatusOf(c.Ask("DELE 2")));
        EXPECT_TRUE(WaitState(kServing));
        q.Command(id);
        EXPECT_TRUE(c.ClosedByPeer());
        EXPECT_EQ("", c.Read(1, 100)) << "no reply to a dropped client";
        EXPECT_TRUE(WaitState(id == IDM_PAUSE ? kListening : kIdle));
        EXPECT_EQ(kL1, e2e::ReadFile(q.dir / "ivan/001.msg"));
        EXPECT_EQ(kL2, e2e::ReadFile(q.dir / "ivan/002.msg"));
        if (id == IDM_PAUSE) {
            // The next client is served as usual.
            Pop3Client next;
            Open(next);
            EXPECT_EQ("-Erro", StatusOf(next.Ask("STAT")));
            Login(next, "ivan", "pw1");
            EXPECT_EQ(20u, next.Ask("STAT").size());
            next.Close();
            EXPECT_TRUE(WaitState(kListening));
        }
    }
    EXPECT_FALSE(e2e::Listening(PORT));
    EXPECT_EQ("", BoxLine(q.Do({"nobox", "200"})));
    // Start after Stop loads Users.db as it is now.
    ASSERT_TRUE(e2e::WriteFile(q.dir / "Users.db", e2e::UserBytes("olga", "pw9", 1)));
    Start();
    std::string rows = q.Do({"rows"});
    EXPECT_NE(std::string::npos, rows.find("row\tolga\t")) << rows;
    EXPECT_EQ(std::string::npos, rows.find("ivan")) << rows;
    Pop3Client c;
    Open(c);
    Login(c, "olga", "pw9");
    EXPECT_EQ("-Erro", StatusOf(c.Ask("USER ivan")));
}

TEST_F(ServerE2E, StartWithoutUsersDbWarnsAndListensNot) {
    ASSERT_TRUE(q.Launch());
    std::string out = q.Do({"cmd", std::to_string(IDM_START), "box", "5000"});
    EXPECT_EQ("Ошибка.\tФайл пользователей поврежден или не существует!\t1", BoxLine(out)) << out;
    EXPECT_EQ(kIdle, q.State());
    EXPECT_FALSE(e2e::Listening(PORT));
}

TEST_F(ServerE2E, PortTakenStopStartAtOnceAndThePortStaysOurs) {
    PutUsers();
    // A native listener holds port 110.
    int blocker = e2e::HoldPort(PORT);
    ASSERT_GE(blocker, 0);
    ASSERT_TRUE(q.Launch());
    std::string out = q.Do({"cmd", std::to_string(IDM_START), "box", "5000"});
    EXPECT_EQ("Socket Error!\tSocket don't bind.\t0", BoxLine(out)) << out;
    EXPECT_EQ(kIdle, q.State());
    close(blocker);
    out = q.Do({"cmd", std::to_string(IDM_START), "nobox", "500", "state"});
    EXPECT_EQ("", BoxLine(out)) << out;
    q.Command(IDM_STOP);

    // Start again works; then Stop and Start at once, with the server's ends in TIME_WAIT.
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        Start();
        Pop3Client c;
        Open(c);
        Login(c, "ivan", "pw1");
        EXPECT_EQ("+Ok", StatusOf(c.Ask("QUIT ")));
        EXPECT_TRUE(c.ClosedByPeer());
        EXPECT_TRUE(WaitState(kListening));
        out = q.Do({"cmd", std::to_string(IDM_STOP), "cmd", std::to_string(IDM_START), "nobox", "300", "state"});
        EXPECT_EQ("", BoxLine(out)) << out;
        EXPECT_NE(std::string::npos, out.find(kListening)) << out;
        q.Command(IDM_STOP);
        EXPECT_TRUE(WaitState(kIdle));
    }
    Start();
    // Neither a native program nor another Windows program takes the port from ours.
    EXPECT_EQ(-1, e2e::HoldPort(PORT));
    out = q.Do({"bind", "110"});
    EXPECT_NE(std::string::npos, out.find("bind 10048")) << out;
    Pop3Client c;
    Open(c);
    Login(c, "ivan", "pw1");
}

TEST_F(ServerE2E, KeepsServingAfterHostileInput) {
    PutUsers();
    PutLetters("ivan", {kL1});
    ASSERT_TRUE(q.Launch());
    Start();
    std::srand(110);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        Pop3Client c;
        Open(c);
        if (round % 4 == 3) Login(c, "ivan", "pw1");
        std::string junk;
        for (int i = 0; i < 20; ++i) {
            std::string f(100, '\0');
            for (char& ch : f) ch = static_cast<char>(std::rand() & 0xff);
            const char* words[] = {"USER", "PASS", "STAT", "LIST", "RETR", "DELE", "XXXX"};
            if (i % 2) std::memcpy(&f[0], words[std::rand() % 7], 4);
            junk += f.substr(0, 1 + std::rand() % 100);
        }
        c.SendRaw(junk);
        c.Read(100000, 200);
        if (round % 2) c.Abort(); else c.Close();
    }
    usleep(300 * 1000);
    Pop3Client c;
    Open(c);
    Login(c, "ivan", "pw1");
    std::string stat = c.Ask("STAT");
    EXPECT_EQ(std::string("+Ok\0 1 ", 7) + std::to_string(kL1.size()) + '\0', stat.substr(0, 8 + std::to_string(kL1.size()).size()));
    EXPECT_EQ(1000u, c.Ask("RETR 1").size());
    EXPECT_EQ(kL1, e2e::ReadFile(q.dir / "ivan/001.msg"));
}

// What a mail drop or a careless administrator may leave behind, and whom it must not serve.
// ivan's folder holds his one letter and names put there to reach further: ones that the
// code page maps onto a path ("..＼maria＼001.msg") or onto another letter ("００１.msg"), ones
// that match "*.msg" only through their short form, devices and a pipe.  Users.db holds records
// that name ivan's folder in another way.  ivan gets his letter alone; nobody else gets it.
TEST_F(ServerE2E, EveryoneIsServedTheirOwnFolderAndNothingBeyond) {
    std::string db = e2e::UserBytes("ivan", "pw1", 1) + e2e::UserBytes("maria", "pw2", 1);
    for (const char* alias : {"IVAN", "ivan.", "ivan ", "nul"}) db += e2e::UserBytes(alias, "pw9", 1);
    ASSERT_TRUE(e2e::WriteFile(q.dir / "Users.db", db));
    const std::string plain = "A letter put in without its status byte.";
    PutLetters("ivan", {plain});
    PutLetters("maria", {kL2});
    // The commit writes the status byte in front through a copy beside the letter.
    ASSERT_EQ(0, symlink("../maria/001.msg", (q.dir / "ivan/001.msg.new").c_str()));
    const char* traps[] = {
        "..\xEF\xBC\xBCmaria\xEF\xBC\xBC" "001.msg",   // fullwidth reverse solidus
        "..\xEF\xBC\x8Fmaria\xEF\xBC\x8F" "001.msg",   // fullwidth solidus
        "\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x91.msg",  // fullwidth "001"
        "x.msgx", "draft.msgbak", "aux.msg", "com1.msg", "nul.msg", "a:b.msg",
    };
    for (const char* t : traps) ASSERT_TRUE(e2e::WriteFile(q.dir / ("ivan/" + std::string(t)), "0trap"));
    ASSERT_EQ(0, mkfifo((q.dir / "ivan/pipe.msg").c_str(), 0600));
    const std::vector<std::string> before = e2e::ListDir(q.dir / "ivan");
    ASSERT_TRUE(q.Launch());
    Start();

    Pop3Client c;
    Open(c);
    Login(c, "ivan", "pw1");
    std::string stat = c.Ask("STAT");
    EXPECT_EQ(std::string("+Ok\0 1 ", 7) + std::to_string(plain.size()) + '\0', stat.substr(0, 10)) << e2e::Hex(stat);
    ASSERT_EQ(1u, NumbersBySize(c).size());
    EXPECT_EQ(std::string("+Ok\0 ", 5) + plain + '\0', c.Ask("RETR 1").substr(0, 6 + plain.size()));
    EXPECT_EQ("-Erro", StatusOf(c.Ask("RETR 2")));
    EXPECT_EQ("+Ok", StatusOf(c.Ask("QUIT ")));
    EXPECT_TRUE(c.ClosedByPeer());
    EXPECT_EQ("R" + plain, e2e::ReadFile(q.dir / "ivan/001.msg"));
    EXPECT_EQ(before, e2e::ListDir(q.dir / "ivan"));
    for (const char* t : traps) EXPECT_EQ("0trap", e2e::ReadFile(q.dir / ("ivan/" + std::string(t)))) << t;
    EXPECT_EQ(kL2, e2e::ReadFile(q.dir / "maria/001.msg"));

    // The aliases log in and find no mailbox: the letter put in now stays ivan's.
    ASSERT_TRUE(e2e::WriteFile(q.dir / "ivan/002.msg", kL3));
    for (const char* alias : {"IVAN", "ivan.", "ivan ", "nul"}) {
        SCOPED_TRACE(alias);
        Pop3Client a;
        Open(a);
        Login(a, alias, "pw9");
        EXPECT_EQ(std::string("+Ok\0 0 0\0", 9), a.Ask("STAT").substr(0, 9));
        EXPECT_EQ("-Erro", StatusOf(a.Ask("LIST")));
        EXPECT_EQ("-Erro", StatusOf(a.Ask("DELE 1")));
        EXPECT_EQ("+Ok", StatusOf(a.Ask("QUIT ")));
    }
    EXPECT_EQ(kL3, e2e::ReadFile(q.dir / "ivan/002.msg"));
}

}  // namespace
