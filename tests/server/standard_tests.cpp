// The standard listener in-process: the count cell following STAT and LIST, a conversation whose
// user leaves the registry, the conversation's clocks and limits, and what QUIT commits.
#include <algorithm>
#include <cctype>

#include "connection.h"
#include "fileio.h"
#include "message.h"
#include "net_util.h"
#include "standard.h"
#include "storage_util.h"
#include "uid.h"

namespace {

class StandardTest : public net::NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        Listen();
        std_port = static_cast<unsigned short>(20000 + GetCurrentProcessId() % 20000);
        harness::WriteBytes("Quorrel.ini", "[POP3]\r\nPort=" + std::to_string(std_port) +
                                               "\r\nLoginSeconds=30\r\nIdleSeconds=40\r\nPerAddress=2\r\n");
        harness::WriteBytes("Users.db", storage::Users({storage::User("ivan", "1.1.1.1", "pw1"),
                                                        storage::User("maria", "1.1.1.1", "pw2")}));
        storage::Mailbox("maria");
        storage::Letter("maria\\1.msg", "0one\n");
        storage::Letter("maria\\2.msg", "0two\n");
        ASSERT_TRUE(LoadUsers());
        StartStandard();
        ASSERT_NE(INVALID_SOCKET, g_server.standard_listener);
    }
    void TearDown() override {
        StopStandard();
        NetTest::TearDown();
    }
    std::string Line(net::Client& c) {
        std::string line;
        while (line.size() < 512 && (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0)) {
            std::string b = c.Read(1);
            if (b.empty()) break;
            line += b;
        }
        return line;
    }
    std::string Ask(net::Client& c, const std::string& command) {
        c.SendRaw(command + "\r\n");
        return Line(c);
    }
    // Everything that arrives until the server closes or `ms` pass.
    std::string Rest(net::Client& c, DWORD ms = 3000) { return c.Read(1 << 24, ms); }
    void LogIn(net::Client& c, const char* from = nullptr) {
        ASSERT_TRUE(c.Connect(std_port, from));
        ASSERT_EQ(0u, Line(c).rfind("+OK", 0));
        ASSERT_EQ(0u, Ask(c, "USER maria").rfind("+OK", 0));
        ASSERT_EQ(0u, Ask(c, "PASS pw2").rfind("+OK", 0));
    }
    // Lets time pass for the conversations' clocks, then runs the sweep.
    void Later(DWORD ms) {
        g_clock_skew += ms;
        SweepConnections();
        harness::Pump(100);
    }
    unsigned short std_port = 0;
};

}  // namespace

TEST_F(StandardTest, TheCountCellFollowsAndAGoneUserEndsTheConversation) {
    EXPECT_EQ("2", harness::ListCell(g_server.user_list, 1, 3));
    net::Client c;
    ASSERT_TRUE(c.Connect(std_port));
    EXPECT_EQ(0u, Line(c).rfind("+OK", 0));
    EXPECT_TRUE(IsWindowEnabled(g_server.pause_button));
    EXPECT_EQ(0u, Ask(c, "USER maria").rfind("+OK", 0));
    EXPECT_EQ(0u, Ask(c, "PASS pw2").rfind("+OK", 0));
    storage::Letter("maria\\3.msg", "0three\n");   // not in this conversation's letters
    EXPECT_EQ(0u, Ask(c, "DELE 1").rfind("+OK", 0));
    EXPECT_EQ(0u, Ask(c, "STAT").rfind("+OK 1 ", 0)) << "the letter put in since PASS is not counted";
    EXPECT_EQ("1", harness::ListCell(g_server.user_list, 1, 3)) << "the cell shows what STAT found";

    // maria leaves Users.db; the registry is loaded again, as a user command does.
    harness::WriteBytes("Users.db", storage::Users({storage::User("ivan", "1.1.1.1", "pw1")}));
    ASSERT_TRUE(LoadUsers());
    FollowUserTableInSessions();
    EXPECT_TRUE(c.ClosedByServer());
    EXPECT_EQ("0one\n", harness::ReadBytes("maria\\1.msg")) << "nothing committed";
    EXPECT_FALSE(IsWindowEnabled(g_server.pause_button));
}

// Each row a conversation against the clocks and limits (LoginSeconds=30, IdleSeconds=40,
// PerAddress=2 in the fixture's Quorrel.ini): what the client sees, and that nothing is committed.
TEST_F(StandardTest, ClocksLimitsAndGuessing) {
    const char* kGone = "-ERR disconnected for inactivity\r\n";
    {
        SCOPED_TRACE("not logged in within LoginSeconds");
        net::Client c;
        ASSERT_TRUE(c.Connect(std_port));
        Line(c);
        Later(29000);
        EXPECT_EQ("+OK\r\n", Ask(c, "USER maria"));
        Later(1000);
        EXPECT_EQ(kGone, Rest(c));
        EXPECT_TRUE(c.ClosedByServer());
    }
    {
        SCOPED_TRACE("idle past IdleSeconds: closed, nothing committed, the mailbox free again");
        net::Client c, next;
        LogIn(c);
        EXPECT_EQ(0u, Ask(c, "DELE 1").rfind("+OK", 0));
        Later(39000);
        EXPECT_EQ("+OK\r\n", Ask(c, "NOOP"));
        Later(40000);
        EXPECT_EQ(kGone, Rest(c));
        EXPECT_EQ("0one\n", harness::ReadBytes("maria\\1.msg"));
        LogIn(next);
    }
    {
        SCOPED_TRACE("PerAddress: a third from one address is turned away, another address is served");
        net::Client a, b, c, d;
        ASSERT_TRUE(a.Connect(std_port));
        ASSERT_TRUE(b.Connect(std_port));
        ASSERT_TRUE(c.Connect(std_port));
        EXPECT_EQ("-ERR [SYS/TEMP] too many connections from your address\r\n", Rest(c));
        ASSERT_TRUE(d.Connect(std_port, "127.0.0.2"));
        EXPECT_EQ("+OK Quorrel POP3 ready\r\n", Line(d));
    }
    ASSERT_TRUE(harness::PumpUntil([] { return OpenConnections() == 0; }, 3000));
    {
        SCOPED_TRACE("every connection waiting in the queue is taken at one FD_ACCEPT");
        net::Client a, b;
        ASSERT_TRUE(a.Connect(std_port));
        ASSERT_TRUE(b.Connect(std_port, "127.0.0.2"));
        SendMessageA(wnd, WM_SOCKETEVENT, g_server.standard_listener, WSAMAKESELECTREPLY(FD_ACCEPT, 0));
        EXPECT_EQ(2, OpenConnections());
        EXPECT_EQ("+OK Quorrel POP3 ready\r\n", Line(a));
        EXPECT_EQ("+OK Quorrel POP3 ready\r\n", Line(b));
    }
    ASSERT_TRUE(harness::PumpUntil([] { return OpenConnections() == 0; }, 3000));
    {
        SCOPED_TRACE("twenty bad commands end the conversation");
        net::Client c;
        ASSERT_TRUE(c.Connect(std_port));
        Line(c);
        std::string burst;
        for (int i = 0; i < 19; ++i) burst += i % 2 ? "XYZZY\r\n" : "RETR x y z\r\n";
        c.SendRaw(burst + "LIST 1 2 3\r\nNOOP\r\n");
        std::string got = Rest(c);
        EXPECT_EQ(20, std::count(got.begin(), got.end(), '\n')) << got;
        EXPECT_EQ("-ERR too many bad commands\r\n", got.substr(got.rfind("-ERR"))) << "the NOOP is not answered";
    }
    {
        SCOPED_TRACE("slowed guessing: five free failures, then every PASS waits, the right one too");
        for (int i = 0; i < 5; ++i) {
            net::Client c;
            ASSERT_TRUE(c.Connect(std_port));
            Line(c);
            Ask(c, "USER maria");
            EXPECT_EQ("-ERR wrong name or password\r\n", Ask(c, "PASS guess"));
            Ask(c, "QUIT");
            EXPECT_TRUE(c.ClosedByServer());
        }
        net::Client c, other, again;
        ASSERT_TRUE(c.Connect(std_port));
        Line(c);
        Ask(c, "USER maria");
        c.SendRaw("PASS pw2\r\n");
        EXPECT_TRUE(c.Silent(300)) << "held";
        ASSERT_TRUE(other.Connect(std_port, "127.0.0.3"));   // another address is never delayed
        Line(other);
        Ask(other, "USER ivan");
        EXPECT_EQ("+OK 0 messages (0 octets)\r\n", Ask(other, "PASS pw1"));
        Later(1000);
        EXPECT_TRUE(c.Silent(100));
        Later(1000);
        EXPECT_EQ("+OK 2 messages", Line(c).substr(0, 14));
        ASSERT_TRUE(again.Connect(std_port, "127.0.0.1"));
        Line(again);
        Ask(again, "USER ivan");
        EXPECT_EQ("-ERR wrong name or password\r\n", Ask(again, "PASS x")) << "the success reset the address";
    }
}

// The rendered size of a letter file as the listener counts it.
unsigned long long Rendered(const std::string& name, const std::string& file) {
    char uid[pop3::MAX_UID_LEN + 1], host[256] = "";
    pop3::MakeUid(name.c_str(), uid);
    gethostname(host, sizeof host);
    pop3::LetterMeta meta = {0, uid, host, nullptr};   // no SMTP listener here: no made-up From:
    return pop3::RenderedSize(meta, reinterpret_cast<const unsigned char*>(file.data()), file.size());
}

// What RETR sends of a letter that has its own headers (so no date or host goes into it).
std::string RenderedText(const std::string& file) {
    pop3::Renderer r;
    pop3::Begin(r, pop3::LetterMeta{0, nullptr, nullptr}, -1);
    std::string out(2 * file.size() + 16, '\0');
    std::size_t used = 0, n = pop3::Feed(r, reinterpret_cast<const unsigned char*>(file.data()), file.size(), &used,
                                        reinterpret_cast<unsigned char*>(&out[0]), out.size());
    while (!pop3::Finished(r)) n += pop3::Finish(r, reinterpret_cast<unsigned char*>(&out[n]), out.size() - n);
    return out.substr(0, n);
}

void SetWritten(const std::string& path, WORD year) {
    SYSTEMTIME st = {year, 1, 0, 2, 3, 4, 5, 0};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(f, nullptr, nullptr, &ft);
    CloseHandle(f);
}

std::string Written(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA d = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d);
    return std::to_string(d.ftLastWriteTime.dwHighDateTime) + ":" + std::to_string(d.ftLastWriteTime.dwLowDateTime);
}

// QUIT commits only what the conversation served, and says when a deletion failed; a reply that
// ends at the edge of the output room ends whole; a half-close answers what came before it.
TEST_F(StandardTest, NothingIsLostAtQuit) {
    // A letter of line ends only, whose reply ends within three octets of the output room: each
    // line end is two octets, so the length is found from one count near it.  The room is made
    // small enough for the whole letter to wait in the renderer until its end.
    const std::size_t room = 8192;
    g_out_room = room;
    auto reply_size = [](std::size_t k) {
        unsigned long long n = Rendered("3.msg", "0" + std::string(k, '\n'));
        return ("+OK " + std::to_string(n) + " octets\r\n").size() + n;
    };
    std::size_t guess = room / 2 - 1000;
    std::string edge;
    for (std::size_t k = guess + (room - reply_size(guess)) / 2 - 2; k < room / 2 && edge.empty(); ++k) {
        std::size_t total = reply_size(k);
        if (total >= room - 2 && total <= room) edge = "0" + std::string(k, '\n');
    }
    ASSERT_FALSE(edge.empty());
    storage::Letter("maria\\3.msg", edge);
    storage::Letter("maria\\4.msg", "0four\n");
    storage::Letter("maria\\5.msg", "0five\n");
    for (const char* f : {"maria\\1.msg", "maria\\2.msg", "maria\\3.msg", "maria\\4.msg", "maria\\5.msg"})
        SetWritten(f, 2020);
    const std::string kept_time = Written("maria\\2.msg");
    {
        net::Client c;
        LogIn(c);
        // 1 retrieved and grown, 2 retrieved, 3 at the edge, 4 deleted but held open, 5 deleted and
        // replaced; then a half-close behind the pipelined commands.
        c.SendRaw("RETR 1\r\nRETR 2\r\nRETR 3\r\nDELE 4\r\nDELE 5\r\n");
        std::string got = c.Read(1 << 20, 1500);
        EXPECT_NE(std::string::npos, got.find("\r\n.\r\n+OK marked to be deleted\r\n+OK marked")) << "3 ended whole";
        storage::Letter("maria\\1.msg", "0one\nP.S.\n");
        HANDLE held = CreateFileA("maria\\4.msg", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        DeleteFileA("maria\\5.msg");
        storage::Letter("maria\\5.msg", "0FIVE\n");
        EXPECT_EQ("-ERR the message has changed since login\r\n", Ask(c, "RETR 1"));
        EXPECT_EQ("-ERR some deleted messages not removed\r\n", Ask(c, "QUIT"));
        CloseHandle(held);
    }
    EXPECT_EQ("0one\nP.S.\n", harness::ReadBytes("maria\\1.msg")) << "grew: left alone";
    EXPECT_EQ("Rtwo\n", harness::ReadBytes("maria\\2.msg"));
    EXPECT_EQ(kept_time, Written("maria\\2.msg")) << "the mark keeps the write time";
    EXPECT_EQ("R", harness::ReadBytes("maria\\3.msg").substr(0, 1));
    EXPECT_EQ("0four\n", harness::ReadBytes("maria\\4.msg"));
    EXPECT_EQ("0FIVE\n", harness::ReadBytes("maria\\5.msg")) << "replaced: left alone";

    // Commands sent before a half-close are all answered, however long their replies take (the
    // first, a letter of many pieces and many events' turns), and QUIT commits.
    std::string big = "0From: a\nSubject: big\n\n";
    for (int i = 0; big.size() < 5 * OUT_ROOM; ++i) big += i % 7 ? "line " + std::to_string(i) + "\n" : ".dot\r\n";
    storage::Letter("maria\\6.msg", big);
    const std::string big_reply = RenderedText(big);
    const std::size_t kRetrs = 60;
    net::Client c;
    LogIn(c);
    EXPECT_EQ(0u, Ask(c, "DELE 4").rfind("+OK", 0));
    std::string burst = "RETR 6\r\n";
    for (std::size_t i = 0; i < kRetrs; ++i) burst += "RETR 3\r\n";
    c.SendRaw(burst + "QUIT\r\n");
    shutdown(c.socket_handle(), 1);   // SD_SEND: no more from this side
    std::string got = Rest(c, 10000);
    std::size_t whole = 0;
    for (std::size_t at = 0; (at = got.find("\r\n.\r\n", at)) != std::string::npos; at += 5) ++whole;
    EXPECT_EQ(kRetrs + 1, whole);
    EXPECT_EQ("+OK " + std::to_string(big_reply.size()) + " octets\r\n" + big_reply + ".\r\n",
              got.substr(0, got.find("\r\n.\r\n") + 5)) << "the big letter whole, byte for byte";
    EXPECT_EQ("+OK bye\r\n", got.substr(got.size() - 9));
    EXPECT_FALSE(harness::FileExists("maria\\4.msg"));

    // A login to an unchanged mailbox reads no letter; a read that fails inside a letter ends the
    // conversation with no commit.
    int reads = g_reads;
    net::Client d;
    LogIn(d);
    EXPECT_EQ(reads, g_reads) << "the counts were kept";
    EXPECT_EQ(0u, Ask(d, "DELE 2").rfind("+OK", 0));
    g_read_fails = true;
    d.SendRaw("RETR 3\r\nQUIT\r\n");
    got = Rest(d);
    g_read_fails = false;
    EXPECT_EQ(std::string::npos, got.find("\r\n.\r\n")) << "never passed off as whole";
    EXPECT_TRUE(harness::FileExists("maria\\2.msg"));
}
