// The POP3 command engine in-process: accept and greeting, login per connection, whole frames,
// the replies' bytes, the access rule, numbers out of range, stale socket events, a replaced
// connection, deleted users and hostile input.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "connection.h"
#include "log.h"
#include "net_util.h"
#include "storage_util.h"

using net::Client;
using net::Cmd;
using net::StatusOf;

namespace {

class EngineTest : public net::NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        Listen();
        PutUsers({{"ivan", "pw1", "Полный доступ"},
                  {"maria", "pw2", "Полный доступ"},
                  {"petr", "pw3", "Полный доступ"},
                  {"abcdefghijklmnopqrs", "pw4", "Полный доступ"}});
    }
    // Connects and logs in as ivan.
    void LogIn(Client& c) {
        Open(c);
        Login(c, "ivan", "pw1");
    }
};

std::string Letter(char status, const std::string& body) { return std::string(1, status) + body; }

TEST_F(EngineTest, AcceptGreetsAndEnablesPause) {
    EXPECT_FALSE(IsWindowEnabled(g_server.pause_button));
    Client c;
    ASSERT_TRUE(c.Connect(port));
    std::string greeting = c.Read(5);
    ASSERT_EQ(5u, greeting.size());
    EXPECT_EQ(net::kOk, greeting.substr(0, 4));
    EXPECT_TRUE(IsWindowEnabled(g_server.pause_button));
    EXPECT_TRUE(harness::MenuEnabled(wnd, IDM_PAUSE));
    EXPECT_EQ("-Erro", StatusOf(c.Ask("STAT"))) << "no login carried over";
}

// Each row: the commands of one fresh connection, in order, and the status each gets.
struct LoginCase {
    const char* label;
    std::vector<std::pair<std::string, std::string>> steps;   // command text, expected status
};

TEST_F(EngineTest, LoginBelongsToTheConnection) {
    const LoginCase cases[] = {
        {"PASS without USER", {{"PASS pw1", "-Erro"}, {"STAT", "-Erro"}}},
        {"mailbox commands before login", {{"STAT", "-Erro"}, {"LIST", "-Erro"}, {"RETR 1", "-Erro"}, {"DELE 1", "-Erro"}}},
        {"USER alone opens nothing", {{"USER ivan", "+Ok"}, {"STAT", "-Erro"}, {"DELE 1", "-Erro"}}},
        {"wrong password", {{"USER ivan", "+Ok"}, {"PASS pw2", "-Erro"}, {"STAT", "-Erro"}}},
        {"unknown user, then the password of record 0", {{"USER nobody", "-Erro"}, {"PASS pw1", "-Erro"}}},
        {"a failed USER unselects the earlier one", {{"USER maria", "+Ok"}, {"USER nobody", "-Erro"}, {"PASS pw2", "-Erro"}}},
        {"a new USER ends the login", {{"USER ivan", "+Ok"}, {"PASS pw1", "+Ok"}, {"USER maria", "+Ok"}, {"STAT", "-Erro"}}},
        {"names are case-sensitive", {{"USER Ivan", "-Erro"}}},
        {"a name of 19 characters", {{"USER abcdefghijklmnopqrs", "+Ok"}, {"PASS pw4", "+Ok"}}},
        {"a name of 20 characters", {{"USER abcdefghijklmnopqrst", "-Erro"}}},
        {"a password with a longer tail", {{"USER ivan", "+Ok"}, {"PASS pw1x", "-Erro"}, {"PASS pw", "-Erro"}}},
        {"the password of another user", {{"USER maria", "+Ok"}, {"PASS pw1", "-Erro"}}},
    };
    for (const LoginCase& lc : cases) {
        SCOPED_TRACE(lc.label);
        Client c;
        Open(c);
        for (const auto& step : lc.steps) EXPECT_EQ(step.second, StatusOf(c.Ask(step.first))) << step.first;
    }
}

TEST_F(EngineTest, StatAfterLoginCountsWhatListServes) {
    PutLetters(1, {Letter('0', "Hello"), Letter('R', "Second letter!")});
    Client c;
    Open(c);
    Login(c, "maria", "pw2");
    ExpectStat(c.Ask("STAT"), "2 21");
    EXPECT_EQ(2, g_users.users[1].letter_count);
    EXPECT_EQ(0, g_users.users[0].letter_count);

    std::string list = c.Ask("LIST");
    ASSERT_EQ(1000u, list.size()) << harness::Hex(list.substr(0, 20));
    // The order is the store's: learn it from the sizes.
    std::string body = list.substr(5, list.find('\0', 5) - 5);
    EXPECT_TRUE(body == "1 6 2 15 " || body == "1 15 2 6 ") << body;
}

// 17 letters, the first over the 994 bytes a letter is served with: STAT gives exactly the
// count and total of what LIST serves.
TEST_F(EngineTest, StatCountsOnlyWhatListServes) {
    std::vector<std::string> letters(17, Letter('0', "x"));
    letters[0] = Letter('0', std::string(1500, 'a'));
    PutLetters(0, letters);
    Client c;
    LogIn(c);
    std::string stat = c.Ask("STAT");
    ASSERT_EQ(wire::STAT_FRAME_SIZE, stat.size());
    std::string list = c.Ask("LIST");
    ASSERT_EQ(1000u, list.size());
    // "k size " pairs from byte 5 on.
    std::string body = list.substr(5, list.find('\0', 5) - 5);
    int pairs = 0;
    long long total = 0;
    for (std::size_t pos = 0; pos < body.size();) {
        int k = 0, size = 0, used = 0;
        ASSERT_EQ(2, std::sscanf(body.c_str() + pos, "%d %d %n", &k, &size, &used)) << body;
        EXPECT_EQ(++pairs, k);
        EXPECT_LE(size, 994);
        total += size;
        pos += static_cast<std::size_t>(used);
    }
    EXPECT_EQ(MAX_LETTERS, pairs);
    ExpectStat(stat, ("15 " + std::to_string(total)).c_str());
    EXPECT_EQ(15, g_users.users[0].letter_count);
}

TEST_F(EngineTest, ListWithNoLetterIsRefusedAndStoresZero) {
    g_users.users[0].letter_count = 7;
    Client c;
    LogIn(c);
    EXPECT_EQ("-Erro", StatusOf(c.Ask("LIST")));
    EXPECT_EQ(0, g_users.users[0].letter_count);
    ExpectStat(c.Ask("STAT"), "0 0");
}

TEST_F(EngineTest, ListCountsAfreshWithoutStat) {
    PutLetters(0, {Letter('0', "abc")});
    g_users.users[0].letter_count = 0;   // as a new user or Start on an empty box leaves it
    Client c;
    LogIn(c);
    std::string list = c.Ask("LIST");
    ASSERT_EQ(1000u, list.size());
    EXPECT_EQ(std::string("+Ok\0 1 4 \0", 10), list.substr(0, 10));
    EXPECT_EQ(1, g_users.users[0].letter_count);
}

TEST_F(EngineTest, RetrSendsTheLetterAndMarksItRead) {
    PutLetters(0, {Letter('0', "Привет")});
    Client c;
    LogIn(c);
    c.Ask("LIST");
    std::string retr = c.Ask("RETR 1");
    ASSERT_EQ(1000u, retr.size());
    EXPECT_EQ(std::string("+Ok\0 0Привет\0", 13), retr.substr(0, 13));
    EXPECT_EQ(1, g_letters.letters[0].is_read);
    EXPECT_EQ(0, g_letters.letters[0].is_deleted);
    // "1x" and "001" name letter 1; only bytes 5 to 7 count.
    EXPECT_EQ(1000u, c.Ask("RETR 1x").size());
    EXPECT_EQ(1000u, c.Ask("RETR 001").size());
}

TEST_F(EngineTest, NumbersThatNameNoServedLetterAreRefused) {
    PutLetters(0, {Letter('0', "one"), Letter('0', "two"), Letter('0', "three")});
    Client c;
    LogIn(c);
    c.Ask("LIST");
    const char* bad[] = {"0", "", "4", "15", "16", "999", "1234", "-1", "x1"};
    for (const char* n : bad) {
        SCOPED_TRACE(n);
        EXPECT_EQ("-Erro", StatusOf(c.Ask(std::string("RETR ") + n)));
        EXPECT_EQ("-Erro", StatusOf(c.Ask(std::string("DELE ") + n)));
    }
    // "RETR" with NUL at byte 4 and nothing after it.
    EXPECT_EQ("-Erro", StatusOf(c.Ask("RETR")));
    for (int i = 0; i < MAX_LETTERS; ++i) {
        EXPECT_EQ(0, g_letters.letters[i].is_read) << i;
        EXPECT_EQ(0, g_letters.letters[i].is_deleted) << i;
    }
    EXPECT_EQ(1000u, c.Ask("RETR 3").size());
}

TEST_F(EngineTest, DeleMarksOnceAndRetrOfADeletedLetterIsRefused) {
    PutLetters(0, {Letter('0', "one"), Letter('0', "two")});
    Client c;
    LogIn(c);
    c.Ask("LIST");
    std::string dele = c.Ask("DELE 2");
    ASSERT_EQ(5u, dele.size());
    EXPECT_EQ(net::kOk, dele.substr(0, 4));
    EXPECT_EQ(1, g_letters.letters[1].is_deleted);
    EXPECT_EQ("-Erro", StatusOf(c.Ask("DELE 2")));
    EXPECT_EQ("-Erro", StatusOf(c.Ask("RETR 2")));
    EXPECT_EQ(0, g_letters.letters[0].is_deleted);
}

// Each row: the status text in column 4, whether RETR and DELE pass.
struct AccessCase { const char* status; bool retr; bool dele; };

TEST_F(EngineTest, AccessIsReadFromTheRegistryAtEachCommand) {
    const AccessCase cases[] = {
        {"Нет доступа", false, true},
        {"Только чтение", true, false},
        {"Полный доступ", true, true},
        {"", true, true},
        {"Нет доступа ", true, true},   // compared whole
    };
    PutLetters(0, {Letter('0', "one"), Letter('0', "two")});
    Client c;
    LogIn(c);
    for (const AccessCase& ac : cases) {
        SCOPED_TRACE(ac.status);
        c.Ask("LIST");   // a fresh load: marks of the last row gone
        SetStatus(0, ac.status);
        int beeps = g_beeps.count;
        std::string retr = c.Ask("RETR 1");
        EXPECT_EQ(ac.retr ? 1000u : 5u, retr.size());
        if (!ac.retr) {
            EXPECT_EQ("-Erro", StatusOf(retr));
            ASSERT_EQ(beeps + 1, g_beeps.count);
            EXPECT_EQ(static_cast<UINT>(MB_OK), g_beeps.types[beeps]);
            EXPECT_EQ(0, g_letters.letters[0].is_read);
        }
        beeps = g_beeps.count;
        EXPECT_EQ(ac.dele ? "+Ok" : "-Erro", StatusOf(c.Ask("DELE 2")));
        EXPECT_EQ(ac.dele ? 1 : 0, g_letters.letters[1].is_deleted);
        EXPECT_EQ(ac.dele ? beeps : beeps + 1, g_beeps.count);
        // STAT and LIST pass whatever the status.
        EXPECT_EQ(20u, c.Ask("STAT").size());
    }
}

TEST_F(EngineTest, FramesArePutTogetherAndAnsweredInOrder) {
    PutLetters(0, {Letter('0', "one")});
    Client c;
    Open(c);
    // One frame in three pieces: one reply, after the last piece only.
    std::string user = Cmd("USER ivan");
    c.SendRaw(user.substr(0, 3));
    EXPECT_TRUE(c.Silent(200));
    c.SendRaw(user.substr(3, 50));
    EXPECT_TRUE(c.Silent(200));
    c.SendRaw(user.substr(53));
    EXPECT_EQ("+Ok", StatusOf(c.Read(5)));
    // Four frames in one send, an unknown word among them: three replies in order.
    c.SendRaw(Cmd("PASS pw1") + Cmd("stat") + Cmd("STAT") + Cmd("DELE 9"));
    EXPECT_EQ("+Ok", StatusOf(c.Read(5)));
    ExpectStat(c.Read(20), "1 4");
    EXPECT_EQ("-Erro", StatusOf(c.Read(5)));
    EXPECT_TRUE(c.Silent(200));
    // A frame and a half, then the rest.
    std::string two = Cmd("STAT") + Cmd("STAT");
    c.SendRaw(two.substr(0, 150));
    EXPECT_EQ(20u, c.Read(20).size());
    EXPECT_TRUE(c.Silent(200));
    c.SendRaw(two.substr(150));
    EXPECT_EQ(20u, c.Read(20).size());
}

TEST_F(EngineTest, UnknownWordsGetNoReply) {
    Client c;
    Open(c);
    const char* words[] = {"user ivan", "Stat", "LIS", "XXXX", "", " USER ivan"};
    for (const char* w : words) EXPECT_TRUE(c.Silent(100)) << w;
    for (const char* w : words) {
        c.SendRaw(Cmd(w));
        EXPECT_TRUE(c.Silent(150)) << w;
    }
    EXPECT_EQ("+Ok", StatusOf(c.Ask("USER ivan")));
}

TEST_F(EngineTest, QuitAnswersClosesAndGreysPause) {
    Client c;
    LogIn(c);
    EXPECT_EQ("+Ok", StatusOf(c.Ask("QUIT ")));
    EXPECT_TRUE(c.ClosedByServer());
    EXPECT_EQ(INVALID_SOCKET, DialectSocket());
    EXPECT_FALSE(IsWindowEnabled(g_server.pause_button));
    EXPECT_FALSE(harness::MenuEnabled(wnd, IDM_PAUSE));
}

TEST_F(EngineTest, QuitBeforeLoginAnswersAndCommitsNothing) {
    PutLetters(0, {Letter('0', "one"), Letter('0', "two")});
    {
        Client c;
        Open(c);
        Login(c, "ivan", "pw1");
        c.Ask("LIST");
        EXPECT_EQ("+Ok", StatusOf(c.Ask("DELE 1")));
        c.Close();   // dropped: nothing committed
        harness::PumpUntil([] { return DialectSocket() == INVALID_SOCKET; }, 2000);
    }
    Client c;
    Open(c);
    // QUIT with NUL at byte 4 is the same command.
    EXPECT_EQ("+Ok", StatusOf(c.Ask("QUIT")));
    EXPECT_TRUE(c.ClosedByServer());
    harness::Pump(100);
    EXPECT_TRUE(harness::FileExists("ivan\\001.msg"));
    EXPECT_TRUE(harness::FileExists("ivan\\002.msg"));
}

TEST_F(EngineTest, ClientCloseDropsTheConnectionWithoutCommit) {
    PutLetters(0, {Letter('0', "one")});
    Client c;
    LogIn(c);
    c.Ask("LIST");
    c.Ask("DELE 1");
    c.Close();
    EXPECT_TRUE(harness::PumpUntil([] { return DialectSocket() == INVALID_SOCKET; }, 3000));
    EXPECT_FALSE(IsWindowEnabled(g_server.pause_button));
    EXPECT_TRUE(harness::FileExists("ivan\\001.msg"));
}

TEST_F(EngineTest, ANewConnectionReplacesAndClosesTheOldOne) {
    Client first;
    Open(first);
    Login(first, "ivan", "pw1");
    Client second;
    Open(second);
    EXPECT_TRUE(first.ClosedByServer());
    // The second starts afresh: no login carried over.
    EXPECT_EQ("-Erro", StatusOf(second.Ask("STAT")));
    EXPECT_EQ("-Erro", StatusOf(second.Ask("PASS pw1")));
    Login(second, "maria", "pw2");
    EXPECT_EQ(20u, second.Ask("STAT").size());
    EXPECT_TRUE(IsWindowEnabled(g_server.pause_button));

    // Two waiting at one FD_ACCEPT: each replaces the one before, the last one stays.
    Client third, fourth;
    ASSERT_TRUE(third.Connect(port));
    ASSERT_TRUE(fourth.Connect(port));
    SendMessageA(wnd, WM_SOCKETEVENT, g_server.listener, WSAMAKESELECTREPLY(FD_ACCEPT, 0));
    EXPECT_TRUE(second.ClosedByServer());
    EXPECT_EQ(net::kOk, third.Read(5).substr(0, 4));
    EXPECT_TRUE(third.ClosedByServer());
    EXPECT_EQ(net::kOk, fourth.Read(5).substr(0, 4));
    EXPECT_EQ("-Erro", StatusOf(fourth.Ask("STAT")));
}

TEST_F(EngineTest, StaleEventsAreNotTakenAsTheCurrentClients) {
    Client c;
    LogIn(c);
    SOCKET current = DialectSocket();
    struct { const char* label; WPARAM socket; LPARAM event; } events[] = {
        {"close of an unknown socket", current + 4, FD_CLOSE},
        {"read of an unknown socket", current + 4, FD_READ},
        {"read with nothing waiting", current, FD_READ},
        {"close while the socket is alive", current, FD_CLOSE},
        {"accept with nothing pending", g_server.listener, FD_ACCEPT},
        {"accept from a socket that is not the listener", current, FD_ACCEPT},
        {"write with nothing to send", current, FD_WRITE},
        // An error may be an earlier socket's whose handle value was reused.
        {"reset reported for a live socket", current, WSAMAKESELECTREPLY(FD_CLOSE, WSAECONNRESET)},
        {"read error reported for a live socket", current, WSAMAKESELECTREPLY(FD_READ, WSAENETDOWN)},
    };
    for (const auto& e : events) {
        SCOPED_TRACE(e.label);
        SendMessageA(wnd, WM_SOCKETEVENT, e.socket, WSAMAKESELECTREPLY(e.event, 0));
        EXPECT_EQ(current, DialectSocket());
        EXPECT_TRUE(c.Silent(100));
    }
    EXPECT_EQ(20u, c.Ask("STAT").size());
}

// A table that lost the selected user's record without the engine being told: the connection
// gets nothing of whichever record is there or past the end.
TEST_F(EngineTest, AUserPastTheTableIsServedNothing) {
    PutLetters(2, {Letter('0', "p")});
    Client c;
    Open(c);
    Login(c, "petr", "pw3");
    g_users.count = 2;
    const char* commands[] = {"STAT", "LIST", "RETR 1", "DELE 1"};
    for (const char* cmd : commands) EXPECT_EQ("-Erro", StatusOf(c.Ask(cmd))) << cmd;
    EXPECT_EQ("+Ok", StatusOf(c.Ask("QUIT")));
    EXPECT_TRUE(harness::FileExists("petr\\001.msg"));
}

// The registry changes under a logged-in connection (a record deleted, Users.db replaced and
// loaded again): the connection keeps to its user by name, reads the access from that user's row,
// and is dropped with nothing committed once the user is gone.
TEST_F(EngineTest, AChangedRegistryKeepsTheConnectionOnItsUserByName) {
    PutLetters(0, {Letter('0', "for ivan")});
    PutLetters(1, {Letter('0', "for maria")});
    Client c;
    Open(c);
    Login(c, "maria", "pw2");
    c.Ask("LIST");
    EXPECT_EQ("+Ok", StatusOf(c.Ask("DELE 1")));
    harness::WriteBytes("Users.db", storage::Users({storage::User("maria", "1.1.1.1", "pw2", -1), storage::User("ivan")}));
    ASSERT_TRUE(LoadUsers());
    SetStatus(1, "Нет доступа");
    c.Ask("LIST");
    EXPECT_EQ("0for maria", c.Ask("RETR 1").substr(5, 10));
    SetStatus(0, "Нет доступа");
    EXPECT_EQ("-Erro", StatusOf(c.Ask("RETR 1")));
    EXPECT_EQ("+Ok", StatusOf(c.Ask("DELE 1")));

    harness::WriteBytes("Users.db", storage::Users({storage::User("ivan")}));
    ASSERT_TRUE(LoadUsers());
    FollowUserTable();   // as the window does after a user command
    EXPECT_TRUE(c.ClosedByServer()) << "her record is gone";
    EXPECT_EQ(INVALID_SOCKET, DialectSocket());
    EXPECT_FALSE(IsWindowEnabled(g_server.pause_button));
    EXPECT_EQ("0for maria", harness::ReadBytes("maria\\001.msg")) << "nothing committed";
}

// Sixty RETR in one burst, through small socket buffers: one read event answers at most two,
// and every reply arrives whole, in order, however the socket takes it.
TEST_F(EngineTest, AFloodIsReadAPieceAnEventAndNoReplyIsLeftHalfSent) {
    const std::string text = Letter('0', std::string(900, 'a'));
    PutLetters(0, {text});
    Client c;
    LogIn(c);
    int small = 2048;
    setsockopt(DialectSocket(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small), sizeof small);
    setsockopt(c.socket_handle(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small);
    constexpr int N = 60;
    std::string burst;
    for (int i = 0; i < N; ++i) burst += Cmd("RETR 1");
    c.SendRaw(burst);
    Sleep(200);   // the burst waits in the server's buffer, its read event in the queue
    SendMessageA(wnd, WM_SOCKETEVENT, DialectSocket(), WSAMAKESELECTREPLY(FD_READ, 0));
    Sleep(100);
    std::size_t early = 0;
    char buf[4096];
    for (int r; (r = recv(c.socket_handle(), buf, sizeof buf, 0)) > 0;) early += static_cast<std::size_t>(r);
    EXPECT_LE(early, 2 * wire::DATA_FRAME_SIZE);
    std::string rest = c.Read(N * wire::DATA_FRAME_SIZE - early, 20000);
    ASSERT_EQ(N * wire::DATA_FRAME_SIZE, early + rest.size());
    const std::string frame = std::string("+Ok\0 ", 5) + text + '\0';
    for (std::size_t at = (wire::DATA_FRAME_SIZE - early % wire::DATA_FRAME_SIZE) % wire::DATA_FRAME_SIZE; at + frame.size() <= rest.size(); at += wire::DATA_FRAME_SIZE)
        ASSERT_EQ(frame, rest.substr(at, frame.size())) << at;
    EXPECT_EQ(20u, c.Ask("STAT").size());
}

TEST_F(EngineTest, KeepsServingAfterHostileInput) {
    PutLetters(0, {Letter('0', "one")});
    std::srand(4242);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        Client c;
        Open(c);
        // Random frames, random cuts, an abrupt end.
        for (int i = 0; i < 30; ++i) {
            std::string f(wire::COMMAND_FRAME_SIZE, '\0');
            for (char& ch : f) ch = static_cast<char>(std::rand() & 0xff);
            const char* words[] = {"USER", "PASS", "STAT", "LIST", "RETR", "DELE", "XXXX"};
            if (i % 2) std::memcpy(&f[0], words[std::rand() % 7], 4);
            c.SendRaw(f.substr(0, 1 + std::rand() % f.size()));
        }
        harness::Pump(100);
        if (round % 2) c.Abort(); else c.Close();
        harness::Pump(100);
    }
    Client c;
    LogIn(c);
    ExpectStat(c.Ask("STAT"), "1 4");
    EXPECT_EQ(1000u, c.Ask("RETR 1").size());
    EXPECT_TRUE(harness::FileExists("ivan\\001.msg"));
}

}  // namespace

// The dialect's frames stay as they are, only their time changes: past [Dialect] IdleSeconds the
// connection is dropped with nothing committed, and after five wrong passwords from an address
// every PASS reply waits, the right one too.
TEST_F(EngineTest, AnIdleConnectionEndsAndGuessingIsSlowed) {
    harness::WriteBytes("Quorrel.ini", "[Dialect]\r\nIdleSeconds=50\r\n");
    ReadDialectSettings();
    PutLetters(0, {Letter('0', "one")});
    Client c;
    LogIn(c);
    c.Ask("LIST");
    EXPECT_EQ("+Ok", StatusOf(c.Ask("DELE 1")));
    g_clock_skew += 50000;
    SweepConnections();
    EXPECT_TRUE(c.ClosedByServer());
    EXPECT_TRUE(harness::FileExists("ivan\\001.msg"));

    Client g;
    Open(g);
    for (int i = 0; i < 5; ++i) {
        g.Ask("USER ivan");
        EXPECT_EQ("-Erro", StatusOf(g.Ask("PASS bad")));
    }
    g.Ask("USER ivan");
    g.SendRaw(Cmd("PASS pw1"));
    EXPECT_TRUE(g.Silent(300));
    g_clock_skew += 2000;
    SweepConnections();
    EXPECT_EQ(std::string("+Ok\0", 5), g.ReadReply("PASS pw1"));
}

// What a client sends reaches the log as one field of one line: quoted, in UTF-8, with quotes,
// backslashes and line ends escaped, so no line can be forged; the password never appears.
TEST_F(EngineTest, NamesFromTheNetworkCannotForgeLogLines) {
    harness::WriteBytes("Quorrel.ini", "[Log]\r\nEnabled=1\r\nFolder=logs here\r\n");
    ReadLogSettings(false);
    const struct { const char* given; const char* logged; } rows[] = {
        {"ivan", "user=ivan"},
        {"Иван", "user=\"\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\""},
        {"a\"b\\c d", "user=\"a\\\"b\\\\c d\""},
        {"x\r\n2026-12-07", "user=\"x\\x0D\\x0A2026-12-07\""},
    };
    Client c;
    Open(c);
    for (const auto& r : rows) {
        c.Ask(std::string("USER ") + r.given);
        c.Ask("PASS secret1");
    }
    WIN32_FIND_DATAA d;
    HANDLE f = FindFirstFileA("logs here\\Quorrel-*.log", &d);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    FindClose(f);
    std::string log = harness::ReadBytes(std::string("logs here\\") + d.cFileName);
    std::size_t at = 0;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.given);
        at = log.find(std::string(" DIALECT 127.0.0.1 login-failed ") + r.logged + "\r\n", at);
        EXPECT_NE(std::string::npos, at) << log;
    }
    EXPECT_EQ(std::string::npos, log.find("secret1"));
    EXPECT_EQ(static_cast<std::ptrdiff_t>(1 + 4), std::count(log.begin(), log.end(), '\n')) << "connect and four lines";
}

// Start deletes the log files older than Keep days, and nothing else in the folder.
TEST_F(EngineTest, StartDeletesOnlyLogFilesPastKeep) {
    harness::WriteBytes("Quorrel.ini", "[Log]\r\nEnabled=1\r\nKeep=2\r\n");
    CreateDirectoryA("Logs", nullptr);
    SYSTEMTIME t;
    GetLocalTime(&t);
    char today[40];
    wsprintfA(today, "Logs\\Quorrel-%04u-%02u-%02u.log", t.wYear, t.wMonth, t.wDay);
    const char* kept[] = {today, "Logs\\Quorrel-2020-01-01.log.bak", "Logs\\notes.txt", "Logs\\Quorrel-2020-13-01.log"};
    for (const char* f : kept) harness::WriteBytes(f, "x");
    harness::WriteBytes("Logs\\Quorrel-2020-01-01.log", "old");
    ReadLogSettings(true);
    EXPECT_FALSE(harness::FileExists("Logs\\Quorrel-2020-01-01.log"));
    for (const char* f : kept) EXPECT_TRUE(harness::FileExists(f)) << f;
}
