// Start, Stop and Pause in-process: the listening socket, the enabling of the controls, every
// "Socket Error!" box, and what a connected client sees.
#include <set>

#include "listener.h"
#include "net_util.h"

using net::Client;
using net::StatusOf;

namespace {

// Every socket handle open in this process, found by asking each handle value for its type:
// a socket that a command makes and leaves open shows up as a new member.
std::set<SOCKET> OpenSockets() {
    std::set<SOCKET> open;
    for (SOCKET h = 4; h < 0x10000; h += 4) {
        int type = 0;
        int len = sizeof type;
        if (getsockopt(h, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) == 0) open.insert(h);
    }
    return open;
}

class ListenerTest : public net::NetTest {
protected:
    // Users.db with the given users (name, access level), and the window.
    void Prepare(const std::vector<std::pair<const char*, std::int32_t>>& users) {
        std::string db;
        for (const auto& u : users) db += records::Bytes(records::User(u.first, "127.0.0.1", "pw", u.second));
        ASSERT_TRUE(harness::WriteBytes("Users.db", db));
        OpenWindowWithPassword("pw");
        ASSERT_TRUE(LoadUsers());
        SendMessageA(g_server.user_list, LVM_DELETEALLITEMS, 0, 0);
    }
    unsigned short BoundPort() {
        sockaddr_in a = {};
        int len = sizeof a;
        getsockname(g_server.listener, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }
    // Starts on an ephemeral port and has a client connect and log in as ivan.
    void StartServing(Client& c) {
        g_server.port = 0;
        Command(IDM_START);
        port = BoundPort();
        Open(c);
        Login(c, "ivan", "pw");
    }
    // The enabling of Start, Stop and Pause, each as a button and a menu item.
    void ExpectEnabling(bool start, bool stop, bool pause) {
        EXPECT_EQ(start, IsWindowEnabled(g_server.start_button) != FALSE);
        EXPECT_EQ(start, harness::MenuEnabled(wnd, IDM_START));
        EXPECT_EQ(stop, IsWindowEnabled(g_server.stop_button) != FALSE);
        EXPECT_EQ(stop, harness::MenuEnabled(wnd, IDM_STOP));
        EXPECT_EQ(pause, IsWindowEnabled(g_server.pause_button) != FALSE);
        EXPECT_EQ(pause, harness::MenuEnabled(wnd, IDM_PAUSE));
    }
    void ExpectIdle() {
        EXPECT_EQ(INVALID_SOCKET, g_server.listener);
        ExpectEnabling(true, false, false);
    }
    void ExpectSocketBox(std::size_t i, const char* text) {
        ASSERT_LT(i, modals->boxes.size());
        const harness::Box& b = modals->boxes[i];
        harness::ExpectBox(b, text, "Socket Error!", MB_ICONERROR, nullptr);
        EXPECT_EQ(0, b.beeps);
    }
};

TEST_F(ListenerTest, StartLoadsTheUsersListensAndSetsTheControls) {
    Prepare({{"ivan", 1}, {"maria", 2}});
    g_server.port = 0;
    Command(IDM_START);
    EXPECT_TRUE(modals->boxes.empty());
    ASSERT_NE(INVALID_SOCKET, g_server.listener);
    EXPECT_EQ(2, harness::ListCount(g_server.user_list));
    ExpectEnabling(false, true, false);
    port = BoundPort();
    Client c;
    Open(c);
    EXPECT_TRUE(IsWindowEnabled(g_server.pause_button));
    Login(c, "maria", "pw");
}

TEST_F(ListenerTest, StartWithoutUsersDbMakesNoSocket) {
    OpenWindowWithPassword("pw");
    g_server.port = 0;
    Command(IDM_START);
    ExpectIdle();
    for (const harness::Box& b : modals->boxes) EXPECT_NE("Socket Error!", b.caption);
}

TEST_F(ListenerTest, StartOnATakenPortFailsAndReleasesItsSocket) {
    Prepare({{"ivan", 1}});
    SOCKET blocker = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    ASSERT_EQ(0, bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a));
    ASSERT_EQ(0, listen(blocker, 1));
    int len = sizeof a;
    getsockname(blocker, reinterpret_cast<sockaddr*>(&a), &len);
    g_server.port = ntohs(a.sin_port);

    std::set<SOCKET> before = OpenSockets();
    ASSERT_EQ(1u, before.count(blocker)) << "the handle scan sees sockets";
    Command(IDM_START);
    ASSERT_EQ(1u, modals->boxes.size());
    ExpectSocketBox(0, "Socket don't bind.");
    ExpectIdle();
    EXPECT_EQ(before, OpenSockets()) << "the socket of the failed Start is closed";
    EXPECT_EQ(1, harness::ListCount(g_server.user_list)) << "the users loaded stay shown";

    // Start can be chosen again and works once the port is free.
    closesocket(blocker);
    Command(IDM_START);
    EXPECT_EQ(1u, modals->boxes.size());
    EXPECT_NE(INVALID_SOCKET, g_server.listener);
    EXPECT_EQ(g_server.port, BoundPort());
}

TEST_F(ListenerTest, StopClosesBothSocketsWithoutReplyAndEmptiesTheList) {
    Prepare({{"ivan", 1}});
    Client c;
    StartServing(c);
    Command(IDM_STOP);
    EXPECT_TRUE(c.ClosedByServer());
    EXPECT_EQ(INVALID_SOCKET, DialectSocket());
    EXPECT_EQ(0, harness::ListCount(g_server.user_list));
    EXPECT_EQ(1u, g_users.count) << "the user table is kept";
    ExpectIdle();
    EXPECT_TRUE(modals->boxes.empty());
    Client late;
    EXPECT_FALSE(late.Connect(port)) << "nothing listens after Stop";
}

TEST_F(ListenerTest, PauseDropsTheClientAndKeepsListening) {
    Prepare({{"ivan", 1}});
    Client c;
    StartServing(c);
    Command(IDM_PAUSE);
    EXPECT_TRUE(c.ClosedByServer());
    EXPECT_FALSE(IsWindowEnabled(g_server.pause_button));
    EXPECT_FALSE(harness::MenuEnabled(wnd, IDM_PAUSE));
    EXPECT_TRUE(IsWindowEnabled(g_server.stop_button));
    EXPECT_TRUE(modals->boxes.empty());
    Client next;
    Open(next);
    EXPECT_TRUE(IsWindowEnabled(g_server.pause_button));
    EXPECT_EQ("-Erro", StatusOf(next.Ask("STAT"))) << "the new client is not logged in";
}

TEST_F(ListenerTest, StartRightAfterStopBindsDespiteTimeWaitAndKeepsThePortOurs) {
    Prepare({{"ivan", 1}});
    // The same port each time: one the system has just handed out as free.
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in any = {};
    any.sin_family = AF_INET;
    int len = sizeof any;
    ASSERT_EQ(0, bind(probe, reinterpret_cast<sockaddr*>(&any), sizeof any));
    getsockname(probe, reinterpret_cast<sockaddr*>(&any), &len);
    closesocket(probe);
    g_server.port = ntohs(any.sin_port);
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        Command(IDM_START);
        ASSERT_NE(INVALID_SOCKET, g_server.listener);
        port = g_server.port;
        Client c;
        Open(c);
        // The server closes first after QUIT: its end of the connection lingers in TIME_WAIT.
        EXPECT_EQ("+Ok", StatusOf(c.Ask("QUIT ")));
        EXPECT_TRUE(c.ClosedByServer());
        Command(IDM_STOP);
    }
    Command(IDM_START);
    ASSERT_NE(INVALID_SOCKET, g_server.listener);
    EXPECT_TRUE(modals->boxes.empty());
    // Another socket cannot take the port, with or without SO_REUSEADDR.
    for (int reuse = 0; reuse < 2; ++reuse) {
        SOCKET other = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        BOOL on = TRUE;
        if (reuse) setsockopt(other, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(g_server.port);
        EXPECT_EQ(SOCKET_ERROR, bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a)) << reuse;
        closesocket(other);
    }
}

}  // namespace
