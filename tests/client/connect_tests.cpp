// The connect dialog, connecting, disconnecting, and the command frames of the five buttons.
#include "fixture.h"

using harness::Text;

namespace {

// How many sockets this process holds open, by asking every plausible handle value.
int OpenSockets() {
    int n = 0;
    for (UINT_PTR h = 4; h < 0x4000; h += 4) {
        int type = 0, len = sizeof type;
        if (getsockopt(static_cast<SOCKET>(h), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) == 0) ++n;
    }
    return n;
}

}  // namespace

TEST_F(ClientTest, ConnectDialogFollowsItsTemplateAndStartsEmpty) {
    using namespace harness;
    const DialogTemplate connect = {"Соединение с сервером", 133, 163,
                                    {{IDOK, kPushButton, "Да", 44, 116, 44, 16},
                                     {IDCANCEL, kPushButton, "Отмена", 44, 140, 44, 16},
                                     {107, kCentredText, "IP - адрес сервера:", 18, 12, 96, 8},
                                     {108, kCentredText, "Имя пользователя:", 20, 52, 92, 8},
                                     {109, kCentredText, "Пароль пользователя:", 22, 80, 88, 8},
                                     {IDC_SERVERADDR, kEdit, "", 18, 24, 96, 12},
                                     {IDC_USERNAME, kEdit, "", 18, 60, 96, 12},
                                     {IDC_PASSWORD, kPasswordEdit, "", 18, 88, 96, 12},
                                     {101, kEtchedFrame, "", 8, 4, 116, 104},
                                     {102, kEtchedFrame, "", 18, 44, 96, 1}}};
    OpenWindow();
    ExpectDialog(IDC_CONNECT, connect);
}

TEST_F(ClientTest, CancelKeepsTheSettingsAndMakesNoSocket) {
    OpenWindow();
    ASSERT_TRUE(Connect("petr", "pw1"));
    Command(IDC_DISCONNECT);
    int before = OpenSockets();
    std::string fields = "unset";
    modals->OnDialog([&](HWND dlg) {
        fields = harness::ItemText(dlg, IDC_SERVERADDR) + harness::ItemText(dlg, IDC_USERNAME);
        SetDlgItemTextA(dlg, IDC_USERNAME, "other");
        return IDCANCEL;
    });
    Command(IDC_CONNECT);
    EXPECT_EQ("", fields) << "the fields never show an earlier connection's settings";
    EXPECT_STREQ("127.0.0.1", g_client.server_addr);
    EXPECT_STREQ("petr", g_client.user_name);
    EXPECT_STREQ("pw1", g_client.password);
    EXPECT_EQ(NotConnected, g_client.state);
    EXPECT_EQ(INVALID_SOCKET, g_client.socket);
    EXPECT_EQ(before, OpenSockets());
    EXPECT_TRUE(Enabled(g_client.connect_button));
}

TEST_F(ClientTest, LongFieldsAreCutAndTheLoginCarriesThem) {
    OpenWindow();
    AnswerConnect("127.0.0.1", "abcdefghijklmnopqrstuvwxyz", "123456789ABC");
    Command(IDC_CONNECT);
    EXPECT_STREQ("abcdefghijklmnopqrs", g_client.user_name);
    EXPECT_STREQ("123456789", g_client.password);
    ASSERT_NE(INVALID_SOCKET, g_client.socket);
    peer = accept(listener, nullptr, nullptr);
    Send(Ok());
    // The command frame itself keeps 14 characters, so that the server can read the name whole.
    EXPECT_EQ(Frame("USER abcdefghijklmnopqrs"), ReceiveFrame());
    Send(Ok());
    EXPECT_EQ(Frame("PASS 123456789"), ReceiveFrame());
}

TEST_F(ClientTest, FullLengthAddressIsUsedAsTyped) {
    OpenWindow();
    AnswerConnect("127.000.000.001", "u", "p");
    Command(IDC_CONNECT);
    EXPECT_STREQ("127.000.000.001", g_client.server_addr);
}

TEST_F(ClientTest, ConnectSetsConnectedAndAwaitsTheGreeting) {
    OpenWindow();
    ASSERT_TRUE(Connect());
    EXPECT_EQ(Connected, g_client.state);
    EXPECT_FALSE(Enabled(g_client.connect_button));
    EXPECT_TRUE(Enabled(g_client.disconnect_button));
    EXPECT_FALSE(Enabled(g_client.status_line));
    EXPECT_FALSE(Enabled(g_client.statistics_button));
    EXPECT_TRUE(NothingReceived()) << "nothing is sent before the greeting";
}

TEST_F(ClientTest, FailedConnectShowsTheBoxAndReleasesItsSocket) {
    OpenWindow();
    closesocket(listener);     // nobody listens on the port any more
    listener = INVALID_SOCKET;
    int before = OpenSockets();
    for (const char* addr : {"127.0.0.1", "", "not an address"}) {
        AnswerConnect(addr, "u", "p");
        Command(IDC_CONNECT);
    }
    ASSERT_EQ(3, Boxes());
    for (const harness::Box& b : modals->boxes)
        harness::ExpectBox(b, "Socket don't connect.", "Socket Error!", MB_ICONERROR, nullptr);
    EXPECT_EQ(0, g_beeps.count);
    EXPECT_EQ(NotConnected, g_client.state);
    EXPECT_TRUE(Enabled(g_client.connect_button));
    EXPECT_EQ(before, OpenSockets()) << "each failed attempt closes its socket";
}

TEST_F(ClientTest, DisconnectClearsTheWindowClosesAndBeeps) {
    OpenWindow();
    LogIn();
    List("1 57 2 80 ", 2);
    SetWindowTextA(g_client.letter_text, "some letter");
    Command(IDC_DISCONNECT);
    EXPECT_EQ(0, harness::ListCount(g_client.letter_list));
    EXPECT_EQ("", Text(g_client.letter_text));
    EXPECT_EQ(NotConnected, g_client.state);
    EXPECT_EQ(1, g_beeps.count);
    EXPECT_EQ(0u, g_beeps.types[0]);
    EXPECT_TRUE(Enabled(g_client.connect_button));
    for (HWND h : {g_client.disconnect_button, g_client.statistics_button, g_client.quit_button, g_client.status_line})
        EXPECT_FALSE(Enabled(h)) << Text(h);
    char c;
    EXPECT_EQ(0, recv(peer, &c, 1, 0)) << "no QUIT: the connection just ends";
    harness::Pump(100);
    EXPECT_EQ(0, Boxes()) << "the close event of our own close shows nothing";
}

TEST_F(ClientTest, EachButtonSendsItsFrameAndSetsItsState) {
    OpenWindow();
    LogIn();
    List("1 57 2 80 3 9 ", 3);
    harness::SelectRow(g_client.letter_list, 1);
    struct { const char* label; int id; ClientState state; std::string frame; } rows[] = {
        {"statistics", IDC_STATISTICS, StatSent, Frame("STAT")},
        {"list", IDC_LIST, ListSent, Frame("LIST")},
        {"read", IDC_READ, RetrSent, Frame("RETR 2")},
        {"delete", IDC_DELETE, DeleSent, Frame("DELE 2")},
        {"quit", IDC_QUIT, QuitSent, Frame("QUIT ")},
    };
    for (auto& r : rows) {
        Command(r.id);
        EXPECT_EQ(r.state, g_client.state) << r.label;
        EXPECT_EQ(harness::Hex(r.frame), harness::Hex(ReceiveFrame())) << r.label;
    }
    // Awaiting their replies: STAT, LIST, then RETR and DELE of row 1, then QUIT.
    const PendingQueue& q = g_client.pending;
    ASSERT_EQ(5, q.count);
    EXPECT_EQ(1, q.items[(q.first + 2) % MAX_PENDING].row);
    EXPECT_EQ(1, q.items[(q.first + 3) % MAX_PENDING].row);
    // The buttons stay usable while replies are awaited.
    EXPECT_TRUE(Enabled(g_client.statistics_button));
}

TEST_F(ClientTest, ReadAndDeleteWithoutSelectionSendAnEmptyNumber) {
    OpenWindow();
    LogIn();
    Press(IDC_READ, "RETR ");
    Press(IDC_DELETE, "DELE ");
    const PendingQueue& q = g_client.pending;
    ASSERT_EQ(2, q.count);
    EXPECT_EQ(-1, q.items[q.first].row);
    EXPECT_EQ(-1, q.items[(q.first + 1) % MAX_PENDING].row);
}

TEST_F(ClientTest, LongLetterNumberIsSentCutToThreeCharacters) {
    OpenWindow();
    LogIn();
    List("12345 57 ", 1);
    harness::SelectRow(g_client.letter_list, 0);
    Press(IDC_READ, "RETR 123");
}
