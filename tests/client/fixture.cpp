#include "fixture.h"

std::string Ok() { return std::string("+Ok\0\0", 5); }
std::string Err() { return "-Erro"; }

namespace {
std::string Padded(const std::string& payload, std::size_t size) {
    std::string r = std::string("+Ok\0 ", 5) + payload;
    r.resize(size, '\0');
    return r;
}
}  // namespace

std::string StatReply(const std::string& payload) { return Padded(payload, wire::STAT_FRAME_SIZE); }
std::string DataReply(const std::string& payload) { return Padded(payload, wire::DATA_FRAME_SIZE); }

std::string Frame(const std::string& text) {
    std::string f = text;
    f.resize(wire::COMMAND_FRAME_SIZE, '\0');
    return f;
}

void ClientTest::SetUp() {
    AppTest::SetUp();
    ResetClientState();
    g_client.instance = GetModuleHandleA(nullptr);

    listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(INVALID_SOCKET, listener);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr("127.0.0.1");
    addr.sin_port = 0;
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    ASSERT_EQ(0, listen(listener, 4));
    int len = sizeof addr;
    ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len));
    g_client.port = ntohs(addr.sin_port);
}

void ClientTest::TearDown() {
    if (peer != INVALID_SOCKET) closesocket(peer);
    if (listener != INVALID_SOCKET) closesocket(listener);
    AppTest::TearDown();
}

void ClientTest::AnswerConnect(const std::string& addr, const std::string& user, const std::string& pass) {
    modals->OnDialog([=](HWND dlg) {
        SetDlgItemTextA(dlg, IDC_SERVERADDR, addr.c_str());
        SetDlgItemTextA(dlg, IDC_USERNAME, user.c_str());
        SetDlgItemTextA(dlg, IDC_PASSWORD, pass.c_str());
        return IDOK;
    });
}

bool ClientTest::Connect(const std::string& user, const std::string& pass) {
    AnswerConnect("127.0.0.1", user, pass);
    // The client's connect is blocking; the listener's backlog takes it, and we accept after.
    Command(IDC_CONNECT);
    if (g_client.socket == INVALID_SOCKET) return false;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(listener, &set);
    timeval tv = {2, 0};
    if (select(0, &set, nullptr, nullptr, &tv) != 1) return false;
    peer = accept(listener, nullptr, nullptr);
    return peer != INVALID_SOCKET;
}

void ClientTest::LogIn() {
    ASSERT_TRUE(Connect());
    Send(Ok());
    ASSERT_EQ(Frame("USER ivan"), ReceiveFrame());
    Send(Ok());
    ASSERT_EQ(Frame("PASS secret"), ReceiveFrame());
    Send(Ok());
    ASSERT_TRUE(Until([&] { return Enabled(g_client.quit_button); }));
}

bool ClientTest::Press(int id, const std::string& text) {
    Command(id);
    std::string got = ReceiveFrame();
    EXPECT_EQ(harness::Hex(Frame(text)), harness::Hex(got));
    return got == Frame(text);
}

void ClientTest::List(const std::string& payload, int rows) {
    ASSERT_TRUE(Press(IDC_LIST, "LIST"));
    Send(DataReply(payload));
    ASSERT_TRUE(Until([&] { return harness::ListCount(g_client.letter_list) == rows; })) << payload;
    harness::Pump(30);
}

void ClientTest::Send(const std::string& bytes) {
    ASSERT_EQ(static_cast<int>(bytes.size()), send(peer, bytes.data(), static_cast<int>(bytes.size()), 0));
}

std::string ClientTest::ReceiveFrame(DWORD ms) {
    std::string got;
    char buf[wire::COMMAND_FRAME_SIZE];
    harness::PumpUntil([&] {
        for (;;) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(peer, &set);
            timeval tv = {0, 0};
            if (select(0, &set, nullptr, nullptr, &tv) != 1) return false;
            int n = recv(peer, buf, static_cast<int>(wire::COMMAND_FRAME_SIZE - got.size()), 0);
            if (n <= 0) return false;
            got.append(buf, n);
            if (got.size() == wire::COMMAND_FRAME_SIZE) return true;
        }
    }, ms);
    return got.size() == wire::COMMAND_FRAME_SIZE ? got : std::string();
}

bool ClientTest::NothingReceived(DWORD ms) {
    harness::Pump(ms);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(peer, &set);
    timeval tv = {0, 0};
    return select(0, &set, nullptr, nullptr, &tv) == 0;
}

void ClientTest::ServerClose() {
    closesocket(peer);
    peer = INVALID_SOCKET;
}
