// The replies: login, statistics, the letter list, a letter, the marks, the end of the
// conversation, the server's close and every refusal; replies whole, in pieces or late.
#include <algorithm>
#include <cstring>

#include "fixture.h"
#include "send.h"

using harness::ListCell;
using harness::Text;

namespace {

std::string TwelveLetters() {
    std::string p;
    for (int i = 1; i <= 12; ++i) p += std::to_string(i) + " " + std::to_string(100 + i) + " ";
    return p;
}

}  // namespace

class ReplyTest : public ClientTest {
protected:
    void SetUp() override {
        ClientTest::SetUp();
        OpenWindow();
    }
    // The box shown last, checked whole.
    void ExpectBox(const std::string& text, const std::string& caption, UINT icon, int beeps_before) {
        ASSERT_FALSE(modals->boxes.empty()) << text;
        const harness::Box& b = modals->boxes.back();
        harness::ExpectBox(b, text.c_str(), caption.c_str(), icon, nullptr);
        EXPECT_EQ(beeps_before, b.beeps) << "the beep comes just before the box";
    }
};

TEST_F(ReplyTest, LoginEnablesTheControlsStepByStep) {
    ASSERT_TRUE(Connect());
    Send(Ok());
    ASSERT_EQ(Frame("USER ivan"), ReceiveFrame());
    EXPECT_EQ(UserSent, g_client.state);
    EXPECT_TRUE(Enabled(g_client.status_line));
    EXPECT_FALSE(Enabled(g_client.statistics_button));
    Send(Ok());
    ASSERT_EQ(Frame("PASS secret"), ReceiveFrame());
    EXPECT_EQ(PassSent, g_client.state);
    EXPECT_FALSE(Enabled(g_client.list_button));
    Send(Ok());
    ASSERT_TRUE(Until([] { return Enabled(g_client.read_button); }));
    EXPECT_EQ(PassSent, g_client.state);
    for (HWND h : {g_client.statistics_button, g_client.list_button, g_client.read_button, g_client.delete_button,
                   g_client.quit_button, g_client.disconnect_button, g_client.status_line})
        EXPECT_TRUE(Enabled(h)) << Text(h);
    EXPECT_FALSE(Enabled(g_client.connect_button));
    EXPECT_EQ(0, Boxes());
}

TEST_F(ReplyTest, EachStateRefusalHasItsTextAndBeep) {
    struct Row { const char* label; int id; std::string frame; const char* text; };
    // The login refusals first, each on a fresh connection.
    struct Login { const char* label; int replies_before; const char* text; ClientState state; bool status_on; };
    const Login logins[] = {
        {"greeting", 0, "Сервер не отвечает.", Connected, false},
        {"user", 1, "Пользователь не зарегистрирован.", UserSent, true},
        {"pass", 2, "Неверный пароль.", PassSent, true},
    };
    for (const Login& l : logins) {
        ASSERT_TRUE(Connect()) << l.label;
        for (int i = 0; i < l.replies_before; ++i) {
            Send(Ok());
            ASSERT_NE("", ReceiveFrame()) << l.label;
        }
        int beeps = g_beeps.count, boxes = Boxes();
        Send(Err());
        ASSERT_TRUE(Until([&] { return Boxes() == boxes + 1; })) << l.label;
        ExpectBox(l.text, "Connect Error!", MB_ICONERROR, beeps + 1);
        EXPECT_EQ(l.state, g_client.state) << l.label;
        EXPECT_EQ(l.status_on, Enabled(g_client.status_line)) << l.label;
        EXPECT_FALSE(Enabled(g_client.statistics_button)) << l.label;
        EXPECT_TRUE(Enabled(g_client.disconnect_button)) << l.label;
        EXPECT_TRUE(NothingReceived()) << l.label;
        Command(IDC_DISCONNECT);
        ServerClose();
    }

    LogIn();
    List("1 10 ", 1);
    harness::SelectRow(g_client.letter_list, 0);
    const Row rows[] = {
        {"stat", IDC_STATISTICS, Frame("STAT"), "Статистика недоступна."},
        {"list", IDC_LIST, Frame("LIST"), "Список сообщений не доступен."},
        {"retr", IDC_READ, Frame("RETR 1"), "Сообщение недоступо."},
        {"dele", IDC_DELETE, Frame("DELE 1"), "Сообщение нельзя удалить."},
        {"quit", IDC_QUIT, Frame("QUIT "), "Выход невозможен."},
    };
    for (const Row& r : rows) {
        Command(r.id);
        ASSERT_EQ(r.frame, ReceiveFrame()) << r.label;
        int beeps = g_beeps.count, boxes = Boxes();
        Send(Err());
        ASSERT_TRUE(Until([&] { return Boxes() == boxes + 1; })) << r.label;
        ExpectBox(r.text, "Connect Error!", MB_ICONERROR, beeps + 1);
        EXPECT_EQ(beeps + 1, g_beeps.count) << r.label;
        EXPECT_EQ("", ListCell(g_client.letter_list, 0, 2)) << r.label << ": nothing changes";
        EXPECT_EQ(1, harness::ListCount(g_client.letter_list)) << r.label;
        EXPECT_NE(INVALID_SOCKET, g_client.socket) << r.label;
    }
}

TEST_F(ReplyTest, PositiveMeansExactlyPlusOkNul) {
    struct { const char* label; std::string greeting; } rows[] = {
        {"capital K", "+OK\0\0"},
        {"space after Ok", "+Ok \0"},
        {"plain text", "hello"},
    };
    ASSERT_TRUE(Connect());
    for (auto& r : rows) {
        int boxes = Boxes();
        Send(std::string(r.greeting.data(), 5));
        ASSERT_TRUE(Until([&] { return Boxes() == boxes + 1; })) << r.label;
        EXPECT_EQ("Сервер не отвечает.", modals->boxes.back().text) << r.label;
        EXPECT_EQ(Connected, g_client.state) << r.label;
    }
    // Read as a greeting again: a positive one now logs in.
    Send(Ok());
    EXPECT_EQ(Frame("USER ivan"), ReceiveFrame());
}

TEST_F(ReplyTest, StatisticsBoxTextAndCaption) {
    LogIn();
    struct { const char* label; std::string payload; std::string text; } rows[] = {
        {"two letters", std::string("2 320\0", 6), "Сообщений: 2\n         Размер: 320 байт."},
        {"empty", std::string("0 0\0", 4), "Сообщений: 0\n         Размер: 0 байт."},
        {"filler after the NUL", std::string("15 99999\0zzzz", 13), "Сообщений: 15\n         Размер: 99999 байт."},
    };
    for (auto& r : rows) {
        Command(IDC_STATISTICS);
        ASSERT_EQ(Frame("STAT"), ReceiveFrame()) << r.label;
        int boxes = Boxes(), beeps = g_beeps.count;
        Send(StatReply(r.payload));
        ASSERT_TRUE(Until([&] { return Boxes() == boxes + 1; })) << r.label;
        ExpectBox(r.text, "Статистика.", MB_ICONINFORMATION, beeps);
        EXPECT_EQ(beeps, g_beeps.count) << r.label << ": no beep";
        EXPECT_EQ(StatSent, g_client.state);
    }
}

TEST_F(ReplyTest, StatisticsPayloadThatBreaksTheFrameIsNotReadPastIt) {
    LogIn();
    struct { const char* label; std::string payload; std::string text; } rows[] = {
        // Nothing to split the count from the size: the reply cannot be read as statistics.
        {"no space", std::string(15, '7'), "Статистика недоступна."},
        // No NUL before the frame ends: the size stops at byte 19.
        {"no NUL", "1 " + std::string(13, '9'), "Сообщений: 1\n         Размер: 99999999999 байт."},
        {"count too long", "12345 6", "Сообщений: 123\n         Размер: 6 байт."},
    };
    for (auto& r : rows) {
        Command(IDC_STATISTICS);
        ASSERT_EQ(Frame("STAT"), ReceiveFrame()) << r.label;
        int boxes = Boxes();
        std::string reply = std::string("+Ok\0 ", 5) + r.payload;
        reply.resize(20, 0);
        Send(reply);
        // A byte right behind the frame must not leak into the box: it starts the next reply.
        ASSERT_TRUE(Until([&] { return Boxes() == boxes + 1; })) << r.label;
        EXPECT_EQ(r.text, modals->boxes.back().text) << r.label;
    }
}

TEST_F(ReplyTest, TwelveLettersStandInTextOrderEachWithItsOwnSize) {
    LogIn();
    List(TwelveLetters(), 12);
    const int order[] = {1, 10, 11, 12, 2, 3, 4, 5, 6, 7, 8, 9};
    for (int row = 0; row < 12; ++row) {
        EXPECT_EQ(std::to_string(order[row]), ListCell(g_client.letter_list, row, 0)) << row;
        EXPECT_EQ(std::to_string(100 + order[row]), ListCell(g_client.letter_list, row, 1)) << row;
        EXPECT_EQ("", ListCell(g_client.letter_list, row, 2)) << row;
        LVITEMA it = {};
        it.mask = LVIF_IMAGE;
        it.iItem = row;
        it.iImage = -5;
        SendMessageA(g_client.letter_list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
        EXPECT_EQ(0, it.iImage) << row;
    }
    EXPECT_EQ(ListSent, g_client.state);
    List(std::string("\0", 1), 0);   // an empty listing empties the list
}

TEST_F(ReplyTest, ListPayloadWithoutItsNulOrWithLongFieldsStaysInsideTheFrame) {
    LogIn();
    // 248 entries "n s " fill the frame to its last byte with no NUL; every row is whole.
    std::string full;
    for (int i = 0; full.size() + 4 <= 995; ++i) full += std::to_string(i % 10) + " " + std::to_string(i % 10) + " ";
    full.resize(995, '5');
    std::string reply = std::string("+Ok\0 ", 5) + full;
    ASSERT_EQ(1000u, reply.size());
    ASSERT_TRUE(Press(IDC_LIST, "LIST"));
    Send(reply);
    ASSERT_TRUE(Until([] { return harness::ListCount(g_client.letter_list) > 0; }));
    harness::Pump(50);
    EXPECT_EQ(248, harness::ListCount(g_client.letter_list));
    EXPECT_EQ(0, Boxes());

    List("123456789012 1234567890123456 2 5 ", 2);
    EXPECT_EQ("1234567", ListCell(g_client.letter_list, 0, 0));
    EXPECT_EQ("12345678901", ListCell(g_client.letter_list, 0, 1));
    EXPECT_EQ("5", ListCell(g_client.letter_list, 1, 1));
}

TEST_F(ReplyTest, ReadShowsTheListedSizeOfTheLetterAndMarksIt) {
    LogIn();
    List("1 12 2 6 10 3 ", 3);   // rows: 1, 10, 2
    struct { const char* label; int row; std::string text; std::string shown; } rows[] = {
        {"sized by its row", 0, "0Hello world!and more", "0Hello world"},
        {"stops at a NUL", 2, std::string("Rab\0cd", 6), "Rab"},
        {"bytes as they come", 1, "\r\nX", "\r\nX"},
    };
    for (auto& r : rows) {
        harness::SelectRow(g_client.letter_list, r.row);
        Command(IDC_READ);
        ASSERT_NE("", ReceiveFrame()) << r.label;
        Send(DataReply(r.text));
        ASSERT_TRUE(Until([&] { return ListCell(g_client.letter_list, r.row, 2) == "ПРОЧИТАНО"; })) << r.label;
        EXPECT_EQ(harness::Hex(r.shown), harness::Hex(Text(g_client.letter_text))) << r.label;
        EXPECT_EQ(RetrSent, g_client.state);
    }
    EXPECT_EQ("ПРОЧИТАНО", ListCell(g_client.letter_list, 0, 2));
    EXPECT_EQ("ПРОЧИТАНО", ListCell(g_client.letter_list, 1, 2));
}

TEST_F(ReplyTest, ReadTakesOnlyTheReplysOwnBytes) {
    LogIn();
    // A size beyond what a reply carries, and a read with no row selected.
    List("1 99999 ", 1);
    std::string text(994, 'a');
    text[993] = 'z';
    harness::SelectRow(g_client.letter_list, 0);
    ASSERT_TRUE(Press(IDC_READ, "RETR 1"));
    ASSERT_TRUE(Press(IDC_DELETE, "DELE 1"));
    std::string reply = std::string("+Ok\0 ", 5) + text + "Q";   // no NUL: the frame ends with 'Q'
    Send(reply);
    Send(Err());   // the next bytes on the wire, DELE's refusal, are not part of the letter
    ASSERT_TRUE(Until([] { return ListCell(g_client.letter_list, 0, 2) == "ПРОЧИТАНО"; }));
    EXPECT_EQ(text + "Q", Text(g_client.letter_text));
    ASSERT_TRUE(Until([&] { return Boxes() == 1; }));
    EXPECT_EQ("Сообщение нельзя удалить.", modals->boxes[0].text);

    SendMessageA(g_client.letter_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), 0);
    LVITEMA none = {};
    none.stateMask = LVIS_SELECTED;
    SendMessageA(g_client.letter_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    ASSERT_TRUE(Press(IDC_READ, "RETR "));
    Send(DataReply("short letter"));
    ASSERT_TRUE(Until([] { return Text(g_client.letter_text) == "short letter"; }));
}

TEST_F(ReplyTest, DeleteMarksTheRowAndANewListingClearsTheMarks) {
    LogIn();
    List("1 10 2 20 3 30 ", 3);
    harness::SelectRow(g_client.letter_list, 1);
    ASSERT_TRUE(Press(IDC_DELETE, "DELE 2"));
    Send(Ok());
    ASSERT_TRUE(Until([] { return ListCell(g_client.letter_list, 1, 2) == "УДАЛЕНО"; }));
    harness::SelectRow(g_client.letter_list, 0);
    ASSERT_TRUE(Press(IDC_READ, "RETR 1"));
    Send(DataReply("0letter one"));
    ASSERT_TRUE(Until([] { return ListCell(g_client.letter_list, 0, 2) == "ПРОЧИТАНО"; }));
    EXPECT_EQ(3, harness::ListCount(g_client.letter_list)) << "a deleted letter's row stays";
    EXPECT_EQ("", ListCell(g_client.letter_list, 2, 2));

    List("1 10 2 20 3 30 ", 3);
    for (int row = 0; row < 3; ++row) EXPECT_EQ("", ListCell(g_client.letter_list, row, 2)) << row;
}

TEST_F(ReplyTest, QuitEndsTheConversationQuietly) {
    LogIn();
    List("1 10 ", 1);
    SetWindowTextA(g_client.letter_text, "text");
    ASSERT_TRUE(Press(IDC_QUIT, "QUIT "));
    int beeps = g_beeps.count;
    Send(Ok());
    ServerClose();   // the server closes right after its reply: the close event comes too
    ASSERT_TRUE(Until([] { return g_client.state == NotConnected; }));
    harness::Pump(200);
    EXPECT_EQ(0, Boxes()) << "a normal end shows no box";
    EXPECT_EQ(beeps + 1, g_beeps.count);
    EXPECT_EQ(0, harness::ListCount(g_client.letter_list));
    EXPECT_EQ("", Text(g_client.letter_text));
    EXPECT_EQ(INVALID_SOCKET, g_client.socket);
    EXPECT_TRUE(Enabled(g_client.connect_button));
    for (HWND h : {g_client.disconnect_button, g_client.statistics_button, g_client.list_button, g_client.read_button,
                   g_client.delete_button, g_client.quit_button, g_client.status_line})
        EXPECT_FALSE(Enabled(h)) << Text(h);
}

TEST_F(ReplyTest, ServerCloseLeavesTheListAndTheText) {
    LogIn();
    List("1 5 2 5 ", 2);
    harness::SelectRow(g_client.letter_list, 0);
    ASSERT_TRUE(Press(IDC_READ, "RETR 1"));
    Send(DataReply("0abcd"));
    ASSERT_TRUE(Until([] { return Text(g_client.letter_text) == "0abcd"; }));
    int beeps = g_beeps.count;
    ServerClose();
    ASSERT_TRUE(Until([] { return g_client.state == NotConnected; }));
    harness::Pump(50);
    EXPECT_EQ(0, Boxes());
    EXPECT_EQ(beeps + 1, g_beeps.count);
    EXPECT_EQ(2, harness::ListCount(g_client.letter_list));
    EXPECT_EQ("0abcd", Text(g_client.letter_text));
    EXPECT_TRUE(Enabled(g_client.connect_button));
    for (HWND h : {g_client.disconnect_button, g_client.statistics_button, g_client.quit_button, g_client.status_line})
        EXPECT_FALSE(Enabled(h)) << Text(h);
}

TEST_F(ReplyTest, ServerCloseUnderAnErrorBoxResetsTheButtons) {
    LogIn();
    bool disabled_under_box = false;
    modals->on_box = [&](const harness::Box&, HWND) {
        ServerClose();
        disabled_under_box = harness::PumpUntil([] { return !Enabled(g_client.quit_button); }, 2000);
    };
    ASSERT_TRUE(Press(IDC_STATISTICS, "STAT"));
    Send(Err());
    ASSERT_TRUE(Until([&] { return Boxes() >= 1; }));
    EXPECT_TRUE(disabled_under_box);
    EXPECT_EQ(NotConnected, g_client.state);
}

TEST_F(ReplyTest, RepliesInPiecesAreOneReplyEach) {
    ASSERT_TRUE(Connect());
    // The greeting in two pieces, a moment apart.
    Send(std::string("+O", 2));
    harness::Pump(80);
    Send(std::string("k\0\0", 3));
    ASSERT_EQ(Frame("USER ivan"), ReceiveFrame());
    Send(Ok());
    ASSERT_EQ(Frame("PASS secret"), ReceiveFrame());
    Send(Ok());
    ASSERT_TRUE(Until([] { return Enabled(g_client.list_button); }));

    ASSERT_TRUE(Press(IDC_LIST, "LIST"));
    std::string list = DataReply("1 57 2 80 ");
    for (std::size_t at : {0u, 3u, 5u, 300u, 999u}) {
        std::size_t next = at == 0 ? 3 : at == 3 ? 5 : at == 5 ? 300 : at == 300 ? 999 : 1000;
        Send(list.substr(at, next - at));
        harness::Pump(30);
    }
    ASSERT_TRUE(Until([] { return harness::ListCount(g_client.letter_list) == 2; }));

    ASSERT_TRUE(Press(IDC_STATISTICS, "STAT"));
    std::string stat = StatReply(std::string("2 137\0", 6));
    Send(stat.substr(0, 7));
    harness::Pump(80);
    Send(stat.substr(7));
    ASSERT_TRUE(Until([&] { return Boxes() == 1; }));
    EXPECT_EQ("Сообщений: 2\n         Размер: 137 байт.", modals->boxes[0].text);
    harness::Pump(100);
    EXPECT_EQ(1, Boxes()) << "no piece is taken for a reply of its own";
}

TEST_F(ReplyTest, EachReplyIsReadByTheCommandItAnswers) {
    LogIn();
    ASSERT_TRUE(Press(IDC_LIST, "LIST"));
    // Statistics pressed while the LIST reply is on its way.
    ASSERT_TRUE(Press(IDC_STATISTICS, "STAT"));
    EXPECT_EQ(StatSent, g_client.state);
    int list_rows_at_box = -1;
    modals->on_box = [&](const harness::Box&, HWND) { list_rows_at_box = harness::ListCount(g_client.letter_list); };
    Send(DataReply("1 57 2 80 3 11 ") + StatReply(std::string("3 148\0", 6)));
    ASSERT_TRUE(Until([&] { return Boxes() == 1; }));
    EXPECT_EQ(3, list_rows_at_box) << "the list is filled, then the statistics box shows";
    EXPECT_EQ("Сообщений: 3\n         Размер: 148 байт.", modals->boxes[0].text);
    EXPECT_EQ("Статистика.", modals->boxes[0].caption);
    EXPECT_EQ(StatSent, g_client.state);
    modals->on_box = nullptr;

    // Read row 0, then delete row 1 before the letter comes: each reply goes to its own row.
    harness::SelectRow(g_client.letter_list, 0);
    ASSERT_TRUE(Press(IDC_READ, "RETR 1"));
    harness::SelectRow(g_client.letter_list, 1);
    ASSERT_TRUE(Press(IDC_DELETE, "DELE 2"));
    Send(DataReply("0first letter, longer than 57? no") + Ok());
    ASSERT_TRUE(Until([] { return ListCell(g_client.letter_list, 1, 2) == "УДАЛЕНО"; }));
    EXPECT_EQ("ПРОЧИТАНО", ListCell(g_client.letter_list, 0, 2));
    EXPECT_EQ("0first letter, longer than 57? no", Text(g_client.letter_text));
    EXPECT_EQ(1, Boxes());

    // Read letter 2 (row 1) while a new listing is on its way: in it letter 2 stands on row 2.
    ASSERT_TRUE(Press(IDC_LIST, "LIST"));
    harness::SelectRow(g_client.letter_list, 1);
    ASSERT_TRUE(Press(IDC_READ, "RETR 2"));
    Send(DataReply("1 5 10 3 2 20 ") + DataReply("0second letter"));
    ASSERT_TRUE(Until([] { return ListCell(g_client.letter_list, 2, 2) == "ПРОЧИТАНО"; }));
    EXPECT_EQ("0second letter", Text(g_client.letter_text));
    EXPECT_EQ("", ListCell(g_client.letter_list, 1, 2));
}

TEST_F(ReplyTest, LateGreetingAndStaleEventsAreHarmless) {
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(NothingReceived(300));
    Send(Ok());   // late
    ASSERT_EQ(Frame("USER ivan"), ReceiveFrame());
    // Events for a socket that is not the connection are ignored.
    SOCKET other = g_client.socket + 4;
    SendMessageA(wnd, WM_SOCKETEVENT, other, WSAMAKESELECTREPLY(FD_CLOSE, 0));
    SendMessageA(wnd, WM_SOCKETEVENT, other, WSAMAKESELECTREPLY(FD_READ, 0));
    // A read event with nothing to read does nothing.
    SendMessageA(wnd, WM_SOCKETEVENT, g_client.socket, WSAMAKESELECTREPLY(FD_READ, 0));
    // A close event for the live connection that is still open is not a close.
    SendMessageA(wnd, WM_SOCKETEVENT, g_client.socket, WSAMAKESELECTREPLY(FD_CLOSE, 0));
    EXPECT_EQ(UserSent, g_client.state);
    EXPECT_NE(INVALID_SOCKET, g_client.socket);
    EXPECT_EQ(0, Boxes());
    Send(Ok());
    EXPECT_EQ(Frame("PASS secret"), ReceiveFrame());
}

TEST_F(ReplyTest, CloseEventAfterDisconnectShowsNothing) {
    LogIn();
    SOCKET old = g_client.socket;
    Command(IDC_DISCONNECT);
    int beeps = g_beeps.count;
    SendMessageA(wnd, WM_SOCKETEVENT, old, WSAMAKESELECTREPLY(FD_CLOSE, 0));
    SendMessageA(wnd, WM_SOCKETEVENT, old, WSAMAKESELECTREPLY(FD_READ, 0));
    harness::Pump(100);
    EXPECT_EQ(0, Boxes());
    EXPECT_EQ(beeps, g_beeps.count);
    EXPECT_EQ(NotConnected, g_client.state);
}

TEST_F(ReplyTest, RepliesNobodyAskedForAreDroppedOneReadAtATime) {
    LogIn();
    // 3,000 refusals, 15 KB, that answer no command.
    std::string flood;
    for (int i = 0; i < 3000; ++i) flood += Err();
    int beeps = g_beeps.count;
    Send(flood);
    u_long waiting = 0;
    for (int i = 0; i < 200 && waiting < flood.size(); ++i, Sleep(10))
        ioctlsocket(g_client.socket, FIONREAD, &waiting);
    ASSERT_EQ(flood.size(), waiting);
    // One read event takes one reply's bytes: a server that keeps sending cannot hold the window.
    SendMessageA(wnd, WM_SOCKETEVENT, g_client.socket, WSAMAKESELECTREPLY(FD_READ, 0));
    ioctlsocket(g_client.socket, FIONREAD, &waiting);
    EXPECT_EQ(flood.size() - 5, waiting);
    ASSERT_TRUE(Until([&] { return ioctlsocket(g_client.socket, FIONREAD, &waiting) == 0 && waiting == 0; }, 20000));
    harness::Pump(50);
    EXPECT_EQ(0, Boxes());
    EXPECT_EQ(beeps, g_beeps.count);
    EXPECT_EQ(PassSent, g_client.state);
    EXPECT_TRUE(Enabled(g_client.quit_button));
    ASSERT_TRUE(Press(IDC_STATISTICS, "STAT"));
    Send(StatReply(std::string("1 9\0", 4)));
    ASSERT_TRUE(Until([&] { return Boxes() == 1; }));
    EXPECT_EQ("Сообщений: 1\n         Размер: 9 байт.", modals->boxes[0].text);
}

TEST_F(ReplyTest, RepliesWaitWhileTheBoxOfAnotherIsOpen) {
    LogIn();
    ASSERT_TRUE(Press(IDC_STATISTICS, "STAT"));
    ASSERT_TRUE(Press(IDC_LIST, "LIST"));
    int depth = 0, deepest = 0;
    modals->on_box = [&](const harness::Box&, HWND) {
        deepest = std::max(deepest, ++depth);
        harness::Pump(200);   // the box's own loop runs meanwhile
        --depth;
    };
    // The server closes right behind its two refusals: the close waits for the second one too.
    Send(Err() + Err());
    ServerClose();
    ASSERT_TRUE(Until([&] { return Boxes() == 2 && g_client.state == NotConnected; }));
    EXPECT_EQ(1, deepest);
    EXPECT_EQ("Статистика недоступна.", modals->boxes[0].text);
    EXPECT_EQ("Список сообщений не доступен.", modals->boxes[1].text);
    EXPECT_EQ(INVALID_SOCKET, g_client.socket);
}

TEST_F(ReplyTest, EventsThatCarryAnErrorDropTheConnection) {
    struct { const char* label; int event; int error; } rows[] = {
        {"read", FD_READ, WSAECONNRESET},
        {"close", FD_CLOSE, WSAECONNABORTED},
        {"write", FD_WRITE, WSAENETDOWN},
    };
    for (auto& r : rows) {
        LogIn();
        int beeps = g_beeps.count;
        SendMessageA(wnd, WM_SOCKETEVENT, g_client.socket, WSAMAKESELECTREPLY(r.event, r.error));
        EXPECT_EQ(NotConnected, g_client.state) << r.label;
        EXPECT_EQ(INVALID_SOCKET, g_client.socket) << r.label;
        EXPECT_EQ(beeps + 1, g_beeps.count) << r.label;
        EXPECT_TRUE(Enabled(g_client.connect_button)) << r.label;
        EXPECT_FALSE(Enabled(g_client.quit_button)) << r.label;
        ServerClose();
    }
    harness::Pump(50);
    EXPECT_EQ(0, Boxes());
}

TEST_F(ReplyTest, ShortOrFailedSendNeverLeavesAPartialFrame) {
    LogIn();
    // The socket takes 37 bytes of STAT, then nothing: the rest and LIST wait for FD_WRITE.
    g_send_room = 37;
    Command(IDC_STATISTICS);
    Command(IDC_LIST);
    u_long got = 0;
    harness::Pump(100);
    ioctlsocket(peer, FIONREAD, &got);
    EXPECT_EQ(37u, got);
    // A reply ahead of its command's whole frame answers nothing.
    Send(Err());
    harness::Pump(100);
    EXPECT_EQ(0, Boxes());
    g_send_room = -1;
    SendMessageA(wnd, WM_SOCKETEVENT, g_client.socket, WSAMAKESELECTREPLY(FD_WRITE, 0));
    EXPECT_EQ(Frame("STAT"), ReceiveFrame());
    EXPECT_EQ(Frame("LIST"), ReceiveFrame());
    Send(StatReply(std::string("1 9\0", 4)) + DataReply("1 9 "));
    ASSERT_TRUE(Until([&] { return Boxes() == 1 && harness::ListCount(g_client.letter_list) == 1; }));

    // A send that fails outright ends the connection, as a server close does.
    int beeps = g_beeps.count;
    g_send_error = WSAECONNRESET;
    Command(IDC_STATISTICS);
    EXPECT_EQ(NotConnected, g_client.state);
    EXPECT_EQ(INVALID_SOCKET, g_client.socket);
    EXPECT_EQ(beeps + 1, g_beeps.count);
    EXPECT_TRUE(Enabled(g_client.connect_button));
    EXPECT_EQ(1, harness::ListCount(g_client.letter_list));
    EXPECT_EQ(1, Boxes());
}
