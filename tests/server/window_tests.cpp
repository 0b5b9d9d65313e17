// The server main window: class, controls, columns, menu, initial enabling, Admin.psw at
// start-up, the About box and the shutdown.
#include <cstring>
#include <string>
#include <vector>

#include "fileio.h"
#include "fixture.h"

using harness::Box;
using harness::ListColumnCaption;
using harness::MenuEnabled;
using harness::Text;

namespace {

struct ControlSpec { int id; const char* cls; const char* text; int x, y, w, h; };
const ControlSpec kControls[] = {
    {IDM_START, "Button", "Старт", 12, 380, 80, 40},
    {IDM_STOP, "Button", "Стоп", 100, 380, 80, 40},
    {IDM_PAUSE, "Button", "Приостановить", 470, 380, 140, 40},
    {IDC_USERLIST, "SysListView32", "", 10, 10, 600, 350},
};

}  // namespace

TEST_F(ServerTest, MainWindowHasTheClassTitleSizeAndStyle) {
    OpenWindowWithPassword("pw");
    EXPECT_EQ("Application", harness::ClassName(wnd));
    EXPECT_EQ("POP3 - СЕРВЕР.", Text(wnd));
    RECT r;
    GetWindowRect(wnd, &r);
    EXPECT_EQ(640, r.right - r.left);
    EXPECT_EQ(480, r.bottom - r.top);
    LONG style = GetWindowLongA(wnd, GWL_STYLE);
    EXPECT_EQ(static_cast<LONG>(WS_OVERLAPPEDWINDOW), style & WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(nullptr, GetParent(wnd));

    WNDCLASSEXA wc = {sizeof wc};
    ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), "Application", &wc));
    EXPECT_EQ(static_cast<UINT>(CS_HREDRAW | CS_VREDRAW), wc.style);
    EXPECT_EQ(reinterpret_cast<HBRUSH>(1), wc.hbrBackground);
    EXPECT_NE(nullptr, wc.hIcon);
    EXPECT_EQ(0, wc.cbClsExtra);
    EXPECT_EQ(0, wc.cbWndExtra);
    EXPECT_NE(nullptr, GetMenu(wnd)) << "the class menu IDM_MENU";
}

TEST_F(ServerTest, ChildControlsStandWhereTheyBelongAndStayOnResize) {
    OpenWindowWithPassword("pw");
    for (int pass = 0; pass < 2; ++pass) {
        for (const ControlSpec& c : kControls) {
            HWND h = GetDlgItem(wnd, c.id);
            ASSERT_NE(nullptr, h) << c.id;
            EXPECT_EQ(c.cls, harness::ClassName(h)) << c.id;
            EXPECT_EQ(c.text, Text(h)) << c.id;
            RECT r = harness::RectInParent(h);
            EXPECT_EQ(c.x, r.left) << c.id;
            EXPECT_EQ(c.y, r.top) << c.id;
            EXPECT_EQ(c.w, r.right - r.left) << c.id;
            EXPECT_EQ(c.h, r.bottom - r.top) << c.id;
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
    // Opens the window and checks its one start-up warning about Admin.psw: text, caption, icon,
    // owner, the beep just before it, and that it came before the window was shown.
    void OpenExpectingWarning(const char* text) {
        bool visible_at_box = true;
        modals->on_box = [&](const Box&, HWND owner) { visible_at_box = IsWindowVisible(owner) != FALSE; };
        OpenWindow();
        ASSERT_EQ(1u, modals->boxes.size());
        const Box& b = modals->boxes[0];
        EXPECT_EQ(text, b.text);
        EXPECT_EQ("Ошибка.", b.caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONWARNING), b.icon);
        EXPECT_EQ(wnd, b.owner);
        EXPECT_EQ(1, b.beeps) << "the beep comes just before the box";
        EXPECT_EQ(0u, g_beeps.types[0]);
        EXPECT_FALSE(visible_at_box);
    }
};

}  // namespace

TEST_F(StartupTest, MissingPasswordFileWarnsBeforeTheWindowShows) {
    OpenExpectingWarning("Файл пароля поврежден или не существует!");
    EXPECT_EQ(std::string(ADMIN_PASSWORD_SIZE + 1, '\0'), std::string(g_server.admin_password, ADMIN_PASSWORD_SIZE + 1));
    // The window is created all the same, with its usual enabling.
    EXPECT_TRUE(IsWindow(wnd));
    EXPECT_TRUE(IsWindowEnabled(g_server.start_button));
    EXPECT_FALSE(MenuEnabled(wnd, IDM_NEWUSER));
}

TEST_F(StartupTest, PasswordFileThatCannotBeReadWarnsBeforeTheWindowShows) {
    ASSERT_TRUE(harness::WriteBytes("Admin.psw", "secret"));
    g_read_fails = true;   // the file opens, the read under it fails
    OpenExpectingWarning("Ошибка при чтении файла пароля!");
    EXPECT_STREQ("", g_server.admin_password) << "the password stays empty";
    EXPECT_EQ("secret", harness::ReadBytes("Admin.psw"));
    // The file was closed: another program can open it without sharing.
    HANDLE h = CreateFileA("Admin.psw", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

TEST_F(ServerTest, PasswordFileHeldOpenElsewhereCountsAsMissing) {
    ASSERT_TRUE(harness::WriteBytes("Admin.psw", "secret"));
    HANDLE held = CreateFileA("Admin.psw", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    OpenWindow();
    CloseHandle(held);
    ASSERT_EQ(1u, modals->boxes.size());
    EXPECT_EQ("Файл пароля поврежден или не существует!", modals->boxes[0].text);
    EXPECT_STREQ("", g_server.admin_password);
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
        ResetServerState();
        g_server.instance = GetModuleHandleA(nullptr);
        size_t boxes_before = modals->boxes.size();
        OpenWindowWithPassword(c.file);
        EXPECT_EQ(boxes_before, modals->boxes.size()) << c.label;
        EXPECT_EQ(c.expected, std::string(g_server.admin_password)) << c.label;
        EXPECT_EQ('\0', g_server.admin_password[ADMIN_PASSWORD_SIZE]) << c.label;
        EXPECT_EQ(c.file, harness::ReadBytes("Admin.psw")) << c.label << ": the file is not changed";
        DestroyWindow(wnd);
        WSADATA wsa;
        WSAStartup(0x0101, &wsa);   // the shutdown cleaned WinSock up
    }
}

// ---- About ---------------------------------------------------------------------------------

TEST_F(ServerTest, AboutDialogShowsItsTextsAndClosesWithOk) {
    OpenWindowWithPassword("pw");
    std::string caption, texts[7];
    DWORD style = 0, exstyle = 0;
    modals->OnDialog([&](HWND dlg) {
        caption = Text(dlg);
        const int ids[] = {1, 101, 103, 104, 105, 106, 107};
        for (int i = 0; i < 7; ++i) texts[i] = harness::ItemText(dlg, ids[i]);
        style = GetWindowLongA(dlg, GWL_STYLE);
        exstyle = GetWindowLongA(dlg, GWL_EXSTYLE);
        return IDOK;
    });
    Command(IDM_ABOUT);
    EXPECT_EQ(0, modals->PendingActions());
    EXPECT_EQ("О программе", caption);
    EXPECT_EQ("OK", texts[0]);
    EXPECT_EQ("POP3 - Сервер", texts[1]);
    EXPECT_EQ("Post Office Protocol version 3", texts[4]);
    EXPECT_EQ("RFC - 1081", texts[5]);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(exstyle & WS_EX_CONTEXTHELP);
    EXPECT_TRUE(exstyle & WS_EX_DLGMODALFRAME);
}

// ---- Dialog templates ----------------------------------------------------------------------

namespace {

enum class Kind { PushButton, Edit, StaticLeft, StaticCentre, EtchedFrame, EtchedLine };

// One control of a dialog template; the rectangle in dialog units.
struct DlgControl { int id; Kind kind; const char* text; int x, y, w, h; };

struct DlgLayout {
    std::string caption;
    LONG style = 0, exstyle = 0;
    RECT client = {};
    RECT client_expected = {};
    std::vector<int> order;                        // control ids as the dialog holds them
    std::vector<std::string> faults;               // one line per control that differs
};

// Checks every control against the template and records the dialog's own frame.
DlgLayout ReadLayout(HWND dlg, const std::vector<DlgControl>& controls, int cx, int cy) {
    DlgLayout out;
    out.caption = Text(dlg);
    out.style = GetWindowLongA(dlg, GWL_STYLE);
    out.exstyle = GetWindowLongA(dlg, GWL_EXSTYLE);
    GetClientRect(dlg, &out.client);
    out.client_expected = RECT{0, 0, cx, cy};
    MapDialogRect(dlg, &out.client_expected);
    for (HWND h = GetWindow(dlg, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) out.order.push_back(GetDlgCtrlID(h));
    for (const DlgControl& c : controls) {
        std::string where = std::to_string(c.id) + ": ";
        HWND h = GetDlgItem(dlg, c.id);
        if (!h) { out.faults.push_back(where + "missing"); continue; }
        // The dialog manager converts the position and the size each on its own.
        RECT want = {c.x, c.y, c.w, c.h};
        MapDialogRect(dlg, &want);
        want.right += want.left;
        want.bottom += want.top;
        RECT got = harness::RectInParent(h);
        // The system draws an etched line a little wider than its template asks.
        if (c.kind == Kind::EtchedLine && got.right > want.right && got.right <= want.right + 2) got.right = want.right;
        if (!EqualRect(&want, &got))
            out.faults.push_back(where + "rectangle " + std::to_string(got.left) + "," + std::to_string(got.top) + "," +
                                 std::to_string(got.right) + "," + std::to_string(got.bottom) + " instead of " +
                                 std::to_string(want.left) + "," + std::to_string(want.top) + "," +
                                 std::to_string(want.right) + "," + std::to_string(want.bottom));
        if (Text(h) != c.text) out.faults.push_back(where + "text \"" + Text(h) + "\"");
        LONG st = GetWindowLongA(h, GWL_STYLE);
        LONG ex = GetWindowLongA(h, GWL_EXSTYLE);
        std::string cls = harness::ClassName(h);
        bool ok = true;
        switch (c.kind) {
        case Kind::PushButton:
            ok = _stricmp(cls.c_str(), "Button") == 0 && (st & BS_TYPEMASK) == BS_PUSHBUTTON &&
                 (st & BS_CENTER) == BS_CENTER && (st & WS_TABSTOP);
            break;
        case Kind::Edit:
            // The edit control trades WS_BORDER for a client edge when it is made.
            ok = _stricmp(cls.c_str(), "Edit") == 0 && (st & ES_PASSWORD) && !(st & ES_AUTOHSCROLL) &&
                 (st & WS_TABSTOP) && ((st & WS_BORDER) || (ex & WS_EX_CLIENTEDGE));
            break;
        case Kind::StaticLeft:   ok = _stricmp(cls.c_str(), "Static") == 0 && (st & SS_TYPEMASK) == SS_LEFT; break;
        case Kind::StaticCentre: ok = _stricmp(cls.c_str(), "Static") == 0 && (st & SS_TYPEMASK) == SS_CENTER; break;
        case Kind::EtchedFrame:  ok = _stricmp(cls.c_str(), "Static") == 0 && (st & SS_TYPEMASK) == SS_ETCHEDFRAME; break;
        case Kind::EtchedLine:   ok = _stricmp(cls.c_str(), "Static") == 0 && (st & SS_TYPEMASK) == SS_ETCHEDHORZ; break;
        }
        if (!ok) out.faults.push_back(where + "class " + cls + " or style " + std::to_string(st));
    }
    return out;
}

struct DlgCase {
    const char* label;
    int command;
    const char* caption;
    int cx, cy;
    std::vector<DlgControl> controls;   // in template order
};

}  // namespace

TEST_F(ServerTest, DialogsFollowTheirTemplates) {
    const DlgCase cases[] = {
        {"About", IDM_ABOUT, "О программе", 214, 74,
         {{1, Kind::PushButton, "OK", 132, 56, 68, 14},
          {101, Kind::StaticCentre, "POP3 - Сервер", 28, 8, 68, 8},
          {103, Kind::EtchedFrame, "", 4, 4, 116, 68},
          {104, Kind::EtchedLine, "", 14, 20, 96, 1},
          {105, Kind::StaticLeft, "Post Office Protocol version 3", 14, 28, 96, 8},
          {106, Kind::StaticCentre, "RFC - 1081", 32, 52, 60, 8},
          {107, Kind::EtchedLine, "", 12, 44, 100, 1}}},
        {"password", IDM_PASSWORD, "Пароль", 145, 89,
         {{IDC_ADMINPASSWORD, Kind::Edit, "", 8, 24, 128, 12},
          {IDOK, Kind::PushButton, "Да", 47, 52, 50, 14},
          {IDCANCEL, Kind::PushButton, "Отмена", 47, 68, 50, 14},
          {100, Kind::StaticLeft, "Введите пароль:", 42, 12, 60, 8},
          {101, Kind::EtchedFrame, "", 4, 4, 136, 40}}},
    };
    OpenWindowWithPassword("pw");
    for (const DlgCase& c : cases) {
        SCOPED_TRACE(c.label);
        DlgLayout got;
        std::vector<int> tab_order;
        modals->OnDialog([&](HWND dlg) {
            got = ReadLayout(dlg, c.controls, c.cx, c.cy);
            HWND first = GetNextDlgTabItem(dlg, nullptr, FALSE);
            for (HWND h = first; h;) {
                tab_order.push_back(GetDlgCtrlID(h));
                h = GetNextDlgTabItem(dlg, h, FALSE);
                if (h == first) break;
            }
            return c.command == IDM_ABOUT ? IDOK : IDCANCEL;
        });
        Command(c.command);
        ASSERT_EQ(0, modals->PendingActions());
        EXPECT_EQ(c.caption, got.caption);
        EXPECT_TRUE(got.faults.empty()) << ::testing::PrintToString(got.faults);
        std::vector<int> ids;
        for (const DlgControl& k : c.controls) ids.push_back(k.id);
        EXPECT_EQ(ids, got.order) << "controls in the order of the template";
        EXPECT_TRUE(EqualRect(&got.client, &got.client_expected)) << "size in dialog units";
        const LONG style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK | DS_CONTEXTHELP;
        EXPECT_EQ(style, got.style & style);
        EXPECT_EQ(static_cast<LONG>(WS_EX_DLGMODALFRAME | WS_EX_CONTEXTHELP),
                  got.exstyle & (WS_EX_DLGMODALFRAME | WS_EX_CONTEXTHELP));
        // Tab stops in template order: the password dialog starts at its field.
        std::vector<int> stops;
        for (const DlgControl& k : c.controls)
            if (k.kind == Kind::PushButton || k.kind == Kind::Edit) stops.push_back(k.id);
        EXPECT_EQ(stops, tab_order);
    }
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

        WSADATA wsa;
        ASSERT_EQ(0, WSAStartup(0x0101, &wsa));
        SOCKET again = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_EQ(0, bind(again, reinterpret_cast<sockaddr*>(&a), sizeof a)) << "the listener was closed";
        closesocket(again);
        winsock_started = true;
        ResetServerState();
        g_server.instance = GetModuleHandleA(nullptr);
    }
}

TEST_F(ServerTest, PasswordFileThatIsAFolderGivesAWarning) {
    ASSERT_TRUE(CreateDirectoryA("Admin.psw", nullptr));
    OpenWindow();
    ASSERT_EQ(1u, modals->boxes.size());
    EXPECT_EQ("Файл пароля поврежден или не существует!", modals->boxes[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONWARNING), modals->boxes[0].icon);
    EXPECT_STREQ("", g_server.admin_password);
    EXPECT_TRUE(harness::DirExists("Admin.psw"));
}
