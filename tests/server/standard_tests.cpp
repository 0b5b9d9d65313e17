// The standard listener in-process: the count cell following STAT and LIST, and a conversation
// whose user leaves the registry.
#include "net_util.h"
#include "standard.h"
#include "storage_util.h"

namespace {

class StandardTest : public net::NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        Listen();
        std_port = static_cast<unsigned short>(20000 + GetCurrentProcessId() % 20000);
        harness::WriteBytes("Quorrel.ini", "[POP3]\r\nPort=" + std::to_string(std_port) + "\r\n");
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
