// The server main window: class, controls, columns, menu, initial enabling, Admin.psw at
// start-up, the About box and the shutdown.
#include <cstring>
#include <string>
#include <vector>

#include "fileio.h"
#include "fixture.h"

using harness::ListColumnCaption;
using harness::MenuEnabled;
using harness::Text;

namespace {

const harness::ChildSpec kControls[] = {
    {IDM_START, "Button", "Старт", 12, 380, 80, 40},
    {IDM_STOP, "Button", "Стоп", 100, 380, 80, 40},
    {IDM_PAUSE, "Button", "Приостановить", 470, 380, 140, 40},
    {IDC_USERLIST, "SysListView32", "", 10, 10, 600, 350},
};

}  // namespace

TEST_F(ServerTest, MainWindowHasTheClassTitleSizeAndStyle) {
    OpenWindowWithPassword("pw");
    ExpectMainWindow("POP3 - СЕРВЕР.");
    EXPECT_NE(nullptr, GetMenu(wnd)) << "the class menu IDM_MENU";
}

TEST_F(ServerTest, ChildControlsStandWhereTheyBelongAndStayOnResize) {
    OpenWindowWithPassword("pw");
    for (int pass = 0; pass < 2; ++pass) {
        for (const harness::ChildSpec& c : kControls) {
            HWND h = GetDlgItem(wnd, c.id);
            harness::ExpectChild(h, c);
            EXPECT_TRUE(GetWindowLongA(h, GWL_STYLE) & WS_VISIBLE) << c.id;
            EXPECT_EQ(0, GetWindowLongA(h, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY & ~WS_EX_CLIENTEDGE) << c.id;
        }
        // The second pass after maximising: nothing moves.
        SetWindowPos(wnd, nullptr, 0, 0, 1000, 900, SWP_NOZORDER | SWP_NOMOVE);
        ShowWindow(wnd, SW_MAXIMIZE);
        harness::Pump(20);
    }
    LONG lv = GetWindowLongA(g_server.user_list, GWL_STYLE);
    EXPECT_EQ(LVS_REPORT, lv & LVS_TYPEMASK);
    EXPECT_TRUE(lv & LVS_SINGLESEL);
    EXPECT_TRUE(lv & LVS_AUTOARRANGE);
    EXPECT_TRUE(lv & WS_BORDER);
    EXPECT_FALSE(lv & LVS_SORTASCENDING);
    EXPECT_EQ(0, SendMessageA(g_server.user_list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
}

TEST_F(ServerTest, UserListHasFiveCentredColumnsAndThreeCheckImages) {
    OpenWindowWithPassword("pw");
    HWND list = g_server.user_list;
    ASSERT_EQ(5, harness::ListColumnCount(list));
    const char* captions[] = {"Имя пользователя", "IP - адрес", "Пароль", "Кол-во писем", "Статус пользователя"};
    const int widths[] = {150, 110, 75, 110, 170};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(captions[i], ListColumnCaption(list, i)) << i;
        EXPECT_EQ(widths[i], harness::ListColumnWidth(list, i)) << i;
        if (i) EXPECT_EQ(LVCFMT_CENTER, harness::ListColumnFormat(list, i)) << i;   // column 0 is always left
    }
    EXPECT_EQ(0, harness::ListCount(list)) << "empty until Start";
    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    ASSERT_NE(nullptr, images);
    EXPECT_EQ(3, ImageList_GetImageCount(images));
    int cx = 0, cy = 0;
    ImageList_GetIconSize(images, &cx, &cy);
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), cx);
    EXPECT_EQ(GetSystemMetrics(SM_CYSMICON), cy);
}

TEST_F(ServerTest, MenuHasTheItemsInOrder) {
    OpenWindowWithPassword("pw");
    HMENU bar = GetMenu(wnd);
    ASSERT_EQ(3, GetMenuItemCount(bar));
    struct Item { int id; const char* text; };
    const char* popups[] = {"Работа сервера", "Пользователи", "Справка"};
    const std::vector<std::vector<Item>> items = {
        {{IDM_START, "Старт"}, {IDM_STOP, "Стоп"}, {IDM_PAUSE, "Приостановить"}, {0, ""},
         {IDM_SETPASSWORD, "Назначить пароль"}, {IDM_PASSWORD, "Пароль"}, {0, ""}, {IDM_EXIT, "Выход"}},
        {{IDM_NEWUSER, "Новый пользователь"}, {IDM_DELUSER, "Удалить пользователя"}, {0, ""},
         {IDM_EDITUSER, "Изменить пользователя"}},
        {{IDM_ABOUT, "О программе"}},
    };
    for (int p = 0; p < 3; ++p) {
        char buf[128] = "";
        GetMenuStringA(bar, p, buf, sizeof buf, MF_BYPOSITION);
        EXPECT_STREQ(popups[p], buf);
        HMENU sub = GetSubMenu(bar, p);
        ASSERT_NE(nullptr, sub);
        ASSERT_EQ(static_cast<int>(items[p].size()), GetMenuItemCount(sub));
        for (size_t i = 0; i < items[p].size(); ++i) {
            MENUITEMINFOA mi = {sizeof mi};
            mi.fMask = MIIM_ID | MIIM_FTYPE;
            GetMenuItemInfoA(sub, static_cast<UINT>(i), TRUE, &mi);
            EXPECT_EQ(static_cast<UINT>(items[p][i].id), mi.wID) << p << "/" << i;
            if (items[p][i].id == 0) {
                EXPECT_TRUE(mi.fType & MFT_SEPARATOR) << p << "/" << i;
            } else {
                buf[0] = 0;
                GetMenuStringA(sub, static_cast<UINT>(i), buf, sizeof buf, MF_BYPOSITION);
                EXPECT_STREQ(items[p][i].text, buf);
            }
        }
    }
}

TEST_F(ServerTest, InitialEnablingOfButtonsAndMenuItems) {
    OpenWindowWithPassword("pw");
    EXPECT_TRUE(IsWindowEnabled(g_server.start_button));
    EXPECT_FALSE(IsWindowEnabled(g_server.stop_button));
    EXPECT_FALSE(IsWindowEnabled(g_server.pause_button));
    for (int id : {IDM_START, IDM_PASSWORD, IDM_EXIT, IDM_ABOUT}) EXPECT_TRUE(MenuEnabled(wnd, id)) << id;
    for (int id : {IDM_STOP, IDM_PAUSE, IDM_NEWUSER, IDM_DELUSER, IDM_EDITUSER, IDM_SETPASSWORD}) {
        EXPECT_FALSE(MenuEnabled(wnd, id)) << id;
        EXPECT_TRUE(GetMenuState(GetMenu(wnd), id, MF_BYCOMMAND) & MF_GRAYED) << id;
    }
    EXPECT_TRUE(modals->boxes.empty());
    EXPECT_EQ(0, g_beeps.count);
}

// ---- Admin.psw at start-up ----------------------------------------------------------------

namespace {

class StartupTest : public ServerTest {
protected:
    // Opens the window and checks its one start-up warning about Admin.psw: the warning, the beep
    // just before it, that it came before the window was shown, and that the password is empty.
    void OpenExpectingWarning(const char* text) {
        bool visible_at_box = true;
        modals->on_box = [&](const harness::Box&, HWND owner) { visible_at_box = IsWindowVisible(owner) != FALSE; };
        OpenWindow();
        ASSERT_EQ(1u, modals->boxes.size());
        ExpectWarning(0, text, 1);
        EXPECT_FALSE(visible_at_box);
        EXPECT_EQ(std::string(ADMIN_PASSWORD_SIZE + 1, '\0'), std::string(g_server.admin_password, ADMIN_PASSWORD_SIZE + 1));
    }
};

}  // namespace

TEST_F(StartupTest, PasswordFileMissingHeldElsewhereOrAFolderWarnsBeforeTheWindowShows) {
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (way == 1) {
            ASSERT_TRUE(harness::WriteBytes("Admin.psw", "secret"));
            held = CreateFileA("Admin.psw", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, held);
        }
        if (way == 2) {
            ASSERT_TRUE(CreateDirectoryA("Admin.psw", nullptr));
        }
        OpenExpectingWarning("Файл пароля поврежден или не существует!");
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(way == 2, harness::DirExists("Admin.psw"));
        // The window is created all the same, with its usual enabling.
        EXPECT_TRUE(IsWindow(wnd));
        EXPECT_TRUE(IsWindowEnabled(g_server.start_button));
        EXPECT_FALSE(MenuEnabled(wnd, IDM_NEWUSER));
        DestroyWindow(wnd);
        DeleteFileA("Admin.psw");
        FreshState();
        modals->boxes.clear();
    }
}

TEST_F(StartupTest, PasswordFileThatCannotBeReadWarnsBeforeTheWindowShows) {
    ASSERT_TRUE(harness::WriteBytes("Admin.psw", "secret"));
    g_read_fails = true;   // the file opens, the read under it fails
    OpenExpectingWarning("Ошибка при чтении файла пароля!");
    EXPECT_EQ("secret", harness::ReadBytes("Admin.psw"));
    // The file was closed: another program can open it without sharing.
    HANDLE h = CreateFileA("Admin.psw", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

TEST_F(ServerTest, PasswordIsReadFromFilesOfAnyLength) {
    struct Case { const char* label; std::string file; std::string expected; };
    const Case cases[] = {
        {"0 bytes: empty password, no warning", std::string(), std::string()},
        {"5 bytes, no zero: all five", "abcde", "abcde"},
        {"11 bytes with a zero: up to it", std::string("пароль\0\0\0\0\0", 11), "пароль"},
        {"11 bytes, no zero: all eleven, bounded", "abcdefghijk", "abcdefghijk"},
        {"15 bytes: only the first 11 count", "0123456789ABCDE", "0123456789A"},
    };
    for (const Case& c : cases) {
        FreshState();
        size_t boxes_before = modals->boxes.size();
        OpenWindowWithPassword(c.file);
        EXPECT_EQ(boxes_before, modals->boxes.size()) << c.label;
        EXPECT_EQ(c.expected, std::string(g_server.admin_password)) << c.label;
        EXPECT_EQ('\0', g_server.admin_password[ADMIN_PASSWORD_SIZE]) << c.label;
        EXPECT_EQ(c.file, harness::ReadBytes("Admin.psw")) << c.label << ": the file is not changed";
        DestroyWindow(wnd);
    }
}

// ---- About ---------------------------------------------------------------------------------

TEST_F(ServerTest, AboutDialogFollowsItsTemplateAndClosesWithOk) {
    using namespace harness;
    const DialogTemplate about = {"О программе", 214, 74,
                                  {{1, kPushButton, "OK", 132, 56, 68, 14},
                                   {101, kCentredText, "POP3 - Сервер", 28, 8, 68, 8},
                                   {103, kEtchedFrame, "", 4, 4, 116, 68},
                                   {104, kEtchedLine, "", 14, 20, 96, 1},
                                   {105, kLeftText, "Post Office Protocol version 3", 14, 28, 96, 8},
                                   {106, kCentredText, "RFC - 1081", 32, 52, 60, 8},
                                   {107, kEtchedLine, "", 12, 44, 100, 1}}};
    OpenWindowWithPassword("pw");
    ExpectDialog(IDM_ABOUT, about, IDOK);
    EXPECT_TRUE(modals->boxes.empty());
}

namespace {
bool g_open_after_escape;
void CALLBACK PressEnterLater(HWND dlg, UINT, UINT_PTR id, DWORD) {
    KillTimer(dlg, id);
    g_open_after_escape = IsWindowVisible(dlg) != FALSE;
    PostMessageA(GetDlgItem(dlg, IDOK), WM_KEYDOWN, VK_RETURN, 0);
}
}  // namespace

TEST_F(ServerTest, AboutDialogClosesWithEnterButNotWithEscape) {
    OpenWindowWithPassword("pw");
    g_open_after_escape = false;
    modals->OnDialog([&](HWND dlg) {
        // Escape and the close box send id 2, which the About box leaves alone; Enter sends id 1.
        PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
        SetTimer(dlg, 1, 100, PressEnterLater);
        return 0;
    });
    Command(IDM_ABOUT);
    EXPECT_TRUE(g_open_after_escape);
    EXPECT_FALSE(modals->timed_out) << "Enter closed the box";
}

// ---- Commands and shutdown -----------------------------------------------------------------

TEST_F(ServerTest, CommandIdsOutsideTheTableDoNothing) {
    OpenWindowWithPassword("pw");
    for (int id : {0, 1, 999, 1001, 1012, 2000, 65535}) Command(id);
    EXPECT_TRUE(IsWindow(wnd));
    EXPECT_TRUE(modals->boxes.empty());
    EXPECT_TRUE(modals->dialogs.empty());
}

TEST_F(ServerTest, ExitAndCloseBoxBothShutDownWithCodeZero) {
    for (int way = 0; way < 2; ++way) {
        OpenWindowWithPassword("pw");
        // A listening socket in the slot: the shutdown must close it, so its port binds again.
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a));
        int len = sizeof a;
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        listen(s, 1);
        g_server.listener = s;

        WPARAM code;
        if (way == 0) {
            Command(IDM_EXIT);
            MSG m;
            ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
            code = m.wParam;
        } else {
            code = CloseWindow();
        }
        EXPECT_EQ(0u, code) << way;
        EXPECT_FALSE(IsWindow(wnd)) << way;
        EXPECT_EQ(INVALID_SOCKET, g_server.listener) << way;
        EXPECT_TRUE(modals->boxes.empty()) << way;

        SOCKET again = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_EQ(0, bind(again, reinterpret_cast<sockaddr*>(&a), sizeof a)) << "the listener was closed";
        closesocket(again);
        FreshState();
    }
}
