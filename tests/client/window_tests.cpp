// The client main window: class, controls, columns, image list, enabling at start, shutdown.
#include "fixture.h"

using harness::Text;

namespace {

struct ControlSpec { HWND* handle; harness::ChildSpec child; };
const ControlSpec kControls[] = {
    {&g_client.letter_text, {IDC_LETTERTEXT, "Edit", "", 10, 70, 610, 150}},
    {&g_client.status_line, {0, "Static", "Соединение с POP3 - сервером установлено.", 10, 230, 400, 20}},
    {&g_client.letter_list, {IDC_LETTERLIST, "SysListView32", "", 10, 260, 610, 130}},
    {&g_client.connect_button, {IDC_CONNECT, "Button", "Соединить с сервером", 10, 10, 220, 25}},
    {&g_client.disconnect_button, {IDC_DISCONNECT, "Button", "Прервать соединение", 10, 40, 220, 25}},
    {&g_client.statistics_button, {IDC_STATISTICS, "Button", "Статистика почтового ящика", 370, 230, 250, 20}},
    {&g_client.list_button, {IDC_LIST, "Button", "Показать список писем", 10, 400, 200, 40}},
    {&g_client.read_button, {IDC_READ, "Button", "Читать письмо", 335, 400, 140, 40}},
    {&g_client.delete_button, {IDC_DELETE, "Button", "Удалить письмо", 480, 400, 140, 40}},
    {&g_client.quit_button, {IDC_QUIT, "Button", "Завершение работы", 450, 10, 170, 55}},
};

}  // namespace

TEST_F(ClientTest, MainWindowHasTheClassTitleSizeAndNoMenu) {
    OpenWindow();
    ExpectMainWindow("POP3 - КЛИЕНТ");
    EXPECT_EQ(nullptr, GetMenu(wnd));
    WNDCLASSEXA wc = {sizeof wc};
    ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), "Application", &wc));
    EXPECT_EQ(nullptr, wc.lpszMenuName);
}

TEST_F(ClientTest, IconsAreTheRedCAndTheCheckMark) {
    struct { const char* label; LPCSTR name; int size; } icons[] = {
        {"Logo", "Logo", 48},
        {"icon 10", MAKEINTRESOURCEA(IDI_CHECK), 32},
    };
    for (auto& i : icons) {
        HICON h = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), i.name, IMAGE_ICON, 0, 0, 0));
        ASSERT_NE(nullptr, h) << i.label;
        ICONINFO info;
        ASSERT_TRUE(GetIconInfo(h, &info)) << i.label;
        BITMAP bm;
        GetObjectA(info.hbmMask, sizeof bm, &bm);
        EXPECT_EQ(i.size, bm.bmWidth) << i.label;
        DeleteObject(info.hbmMask);
        if (info.hbmColor) DeleteObject(info.hbmColor);
        DestroyIcon(h);
    }
}

TEST_F(ClientTest, ControlsStandWhereTheyBelongAndStayOnResize) {
    OpenWindow();
    for (int pass = 0; pass < 2; ++pass) {
        for (const ControlSpec& c : kControls) harness::ExpectChild(*c.handle, c.child);
        SetWindowPos(wnd, nullptr, 0, 0, 1000, 900, SWP_NOZORDER | SWP_NOMOVE);
        harness::Pump(20);
    }
    LONG edit = GetWindowLongA(g_client.letter_text, GWL_STYLE);
    EXPECT_TRUE(edit & ES_MULTILINE);
    EXPECT_TRUE(edit & ES_READONLY);
    EXPECT_FALSE(edit & (WS_VSCROLL | WS_HSCROLL));
    LONG lv = GetWindowLongA(g_client.letter_list, GWL_STYLE);
    EXPECT_EQ(LVS_REPORT, lv & LVS_TYPEMASK);
    EXPECT_TRUE(lv & LVS_SINGLESEL);
    EXPECT_TRUE(lv & LVS_SORTASCENDING);
}

TEST_F(ClientTest, LetterListHasThreeCentredColumnsAndTheCheckImages) {
    OpenWindow();
    const char* captions[] = {"Номер письма", "Размер письма", "Состояние письма"};
    ASSERT_EQ(3, harness::ListColumnCount(g_client.letter_list));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(captions[i], harness::ListColumnCaption(g_client.letter_list, i));
        EXPECT_EQ(200, harness::ListColumnWidth(g_client.letter_list, i));
        EXPECT_EQ(LVCFMT_CENTER, harness::ListColumnFormat(g_client.letter_list, i) & LVCFMT_JUSTIFYMASK);
    }
    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(
        SendMessageA(g_client.letter_list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    ASSERT_NE(nullptr, images);
    EXPECT_EQ(1, ImageList_GetImageCount(images));
    int cx = 0, cy = 0;
    ImageList_GetIconSize(images, &cx, &cy);
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), cx);
}

TEST_F(ClientTest, AtStartOnlyConnectTheTextAndTheListAreUsable) {
    OpenWindow();
    EXPECT_TRUE(Enabled(g_client.connect_button));
    EXPECT_TRUE(Enabled(g_client.letter_text));
    EXPECT_TRUE(Enabled(g_client.letter_list));
    HWND off[] = {g_client.disconnect_button, g_client.statistics_button, g_client.list_button,
                  g_client.read_button, g_client.delete_button, g_client.quit_button, g_client.status_line};
    for (HWND h : off) EXPECT_FALSE(Enabled(h)) << Text(h);
    EXPECT_EQ(NotConnected, g_client.state);
}

TEST_F(ClientTest, CommandsOutsideTheButtonsDoNothing) {
    OpenWindow();
    for (int id : {0, 1, 9, IDC_LETTERTEXT, IDC_LETTERLIST}) Command(id);
    SendMessageA(wnd, WM_COMMAND, MAKEWPARAM(IDC_LETTERTEXT, EN_CHANGE), 0);
    EXPECT_EQ(0, Boxes());
    EXPECT_EQ(0, modals->PendingActions());
    EXPECT_TRUE(modals->dialogs.empty());
    EXPECT_EQ(NotConnected, g_client.state);
}

TEST_F(ClientTest, ClosingTheWindowWhileLoggedInSendsNothingAndQuitsWithZero) {
    OpenWindow();
    LogIn();
    SendMessageA(wnd, WM_CLOSE, 0, 0);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, m.wParam);
    EXPECT_EQ(0, Boxes());
    char c;
    EXPECT_EQ(0, recv(peer, &c, 1, 0)) << "the connection is closed with nothing more sent";
}
