// In-process socket tests of the server: a listener of the server's own on an ephemeral port, a
// non-blocking test client whose every wait pumps the message queue and is bounded, and users and
// letters put in place by the test.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "engine.h"
#include "fixture.h"
#include "frames.h"
#include "mailbox.h"
#include "records.h"
#include "users.h"
#include "wire.h"

namespace net {

using frames::Cmd;
using frames::kErr;
using frames::kOk;
using frames::StatusOf;

class Client {
public:
    Client() = default;
    ~Client() { Close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // `from`: the loopback address to come from, standing for another computer.
    bool Connect(unsigned short port, const char* from = nullptr) {
        s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s_ == INVALID_SOCKET) return false;
        sockaddr_in a = {};
        if (from) {
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = inet_addr(from);
            if (bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) == SOCKET_ERROR) return false;
        }
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = inet_addr("127.0.0.1");
        if (connect(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) == SOCKET_ERROR) return false;
        u_long on = 1;
        ioctlsocket(s_, FIONBIO, &on);
        return true;
    }
    void Close() {
        if (s_ != INVALID_SOCKET) closesocket(s_);
        s_ = INVALID_SOCKET;
    }
    // An abrupt end: the peer sees a reset, not an orderly close.
    void Abort() {
        linger l = {1, 0};
        setsockopt(s_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
        Close();
    }
    void SendRaw(const std::string& bytes) {
        send(s_, bytes.data(), static_cast<int>(bytes.size()), 0);
    }
    // Pumps the queue until `n` bytes came (or the peer closed, or `ms` passed).
    std::string Read(std::size_t n, DWORD ms = 3000) {
        std::string got;
        harness::PumpUntil([&] {
            char buf[1000];
            while (got.size() < n) {
                int want = static_cast<int>(n - got.size() < sizeof buf ? n - got.size() : sizeof buf);
                int r = recv(s_, buf, want, 0);
                if (r == 0) { closed_ = true; return true; }
                if (r < 0) return false;
                got.append(buf, r);
            }
            return true;
        }, ms);
        return got;
    }
    // Sends a command and reads its whole reply, sized as the client does.
    std::string Ask(const std::string& text, DWORD ms = 3000) {
        SendRaw(Cmd(text));
        return ReadReply(text, ms);
    }
    std::string ReadReply(const std::string& text, DWORD ms = 3000) {
        std::string head = Read(wire::STATUS_FRAME_SIZE, ms);
        std::size_t size = frames::ReplySize(text, head);
        if (head.size() == wire::STATUS_FRAME_SIZE && size > head.size()) head += Read(size - head.size(), ms);
        return head;
    }
    // True when nothing at all arrives within `ms` (and the connection stays open).
    bool Silent(DWORD ms = 300) {
        std::string got = Read(1, ms);
        return got.empty() && !closed_;
    }
    // True when the server closes the connection within `ms` (any bytes before are dropped).
    bool ClosedByServer(DWORD ms = 3000) {
        harness::PumpUntil([&] {
            char buf[1000];
            int r = recv(s_, buf, sizeof buf, 0);
            if (r == 0) closed_ = true;
            else if (r < 0 && WSAGetLastError() != WSAEWOULDBLOCK) closed_ = true;
            return closed_;
        }, ms);
        return closed_;
    }
    SOCKET socket_handle() const { return s_; }

private:
    SOCKET s_ = INVALID_SOCKET;
    bool closed_ = false;
};

struct UserSpec {
    const char* name;
    const char* password;
    const char* status;   // the text of column 4
};

class NetTest : public ServerTest {
protected:
    // Opens the window and a listener on an ephemeral loopback port registered as Start does.
    void Listen() {
        OpenWindowWithPassword("pw");
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_NE(INVALID_SOCKET, s);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = inet_addr("127.0.0.1");
        ASSERT_EQ(0, bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a));
        ASSERT_EQ(0, listen(s, 10));
        ASSERT_EQ(0, WSAAsyncSelect(s, wnd, WM_SOCKETEVENT, FD_READ | FD_ACCEPT | FD_CLOSE));
        int len = sizeof a;
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        g_server.listener = s;
    }

    // Fills the user table and the list rows (row i = record i), as the registry shows them.
    void PutUsers(const std::vector<UserSpec>& users) {
        SendMessageA(g_server.user_list, LVM_DELETEALLITEMS, 0, 0);
        g_users.count = 0;
        for (const UserSpec& u : users) {
            UserRecord& r = g_users.users[g_users.count];
            r = records::User(u.name, "127.0.0.1", u.password, ACCESS_NONE);
            LVITEMA item = {};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(g_users.count);
            item.pszText = r.name;
            SendMessageA(g_server.user_list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
            ++g_users.count;
            SetStatus(item.iItem, u.status);
        }
    }
    // The user's access level as the registry holds it, and its row showing `status`.
    void SetStatus(int row, const char* status) {
        g_users.users[row].access_level = -1;
        for (std::int32_t level : {ACCESS_NONE, ACCESS_FULL, ACCESS_READ_ONLY})
            if (std::strcmp(AccessStatusText(level), status) == 0) g_users.users[row].access_level = level;
        LVITEMA item = {};
        item.iSubItem = 4;
        item.pszText = const_cast<char*>(status);
        SendMessageA(g_server.user_list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    }

    // Writes the user's letters as files of the mailbox folder, 001.msg on.
    void PutLetters(int user, const std::vector<std::string>& texts) {
        std::string folder = g_users.users[user].name;
        CreateDirectoryA(folder.c_str(), nullptr);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            char name[64];
            wsprintfA(name, "%s\\%03d.msg", folder.c_str(), static_cast<int>(i + 1));
            ASSERT_TRUE(harness::WriteBytes(name, texts[i]));
        }
    }

    // Connects and reads the greeting.
    void Open(Client& c) {
        ASSERT_TRUE(c.Connect(port));
        ASSERT_EQ("+Ok", StatusOf(c.Read(5)));
    }
    void Login(Client& c, const std::string& name, const std::string& pw) {
        ASSERT_EQ("+Ok", StatusOf(c.Ask("USER " + name)));
        ASSERT_EQ("+Ok", StatusOf(c.Ask("PASS " + pw)));
    }

    // A STAT reply: 20 bytes, "+Ok", NUL, space, count, space, size, NUL.
    void ExpectStat(const std::string& reply, const char* count_and_size) {
        ASSERT_EQ(wire::STAT_FRAME_SIZE, reply.size()) << harness::Hex(reply);
        EXPECT_EQ(std::string("+Ok\0 ", 5), reply.substr(0, 5));
        std::string want = std::string(count_and_size) + '\0';
        EXPECT_EQ(want, reply.substr(5, want.size()));
    }

    unsigned short port = 0;
};

}  // namespace net
