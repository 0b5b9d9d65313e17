// The server main window: class, controls, command dispatch, About box and shutdown.
#include "window.h"

#include "connection.h"
#include "engine.h"
#include "fileio.h"
#include "listener.h"
#include "log.h"
#include "mailbox.h"
#include "password.h"
#include "server.h"
#include "smtp.h"
#include "standard.h"
#include "users.h"
#include "wire.h"

namespace {

struct ButtonSpec { const char* caption; int id; int x, y, w, h; };
const ButtonSpec kButtons[] = {
    {"Старт", IDM_START, 12, 380, 80, 40},
    {"Стоп", IDM_STOP, 100, 380, 80, 40},
    {"Приостановить", IDM_PAUSE, 470, 380, 140, 40},
};

struct ColumnSpec { const char* caption; int width; };
const ColumnSpec kColumns[] = {
    {"Имя пользователя", 150},
    {"IP - адрес", 110},
    {"Пароль", 75},
    {"Кол-во писем", 110},
    {"Статус пользователя", 170},
};

// Greyed from window creation: Stop and Pause, the three user commands and "Назначить пароль".
const int kInitiallyGrayed[] = {IDM_STOP, IDM_PAUSE, IDM_NEWUSER, IDM_DELUSER, IDM_EDITUSER, IDM_SETPASSWORD};

INT_PTR CALLBACK AboutDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    if (msg == WM_COMMAND && LOWORD(wp) == IDOK) {
        EndDialog(dlg, wp);
        return TRUE;
    }
    return FALSE;
}

void CreateUserList(HWND hwnd) {
    g_server.user_list = CreateWindowExA(
        0, WC_LISTVIEWA, "",
        WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_AUTOARRANGE,
        10, 10, 600, 350, hwnd, reinterpret_cast<HMENU>(IDC_USERLIST), g_server.instance, nullptr);

    HIMAGELIST images = ImageList_Create(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                         ILC_MASK, 3, 10);
    HICON check = LoadIconA(g_server.instance, MAKEINTRESOURCEA(IDI_CHECK));
    for (int i = 0; i < 3; ++i) ImageList_AddIcon(images, check);
    SendMessageA(g_server.user_list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));

    for (int i = 0; i < 5; ++i) {
        LVCOLUMNA col = {};
        col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        col.fmt = LVCFMT_CENTER;
        col.cx = kColumns[i].width;
        col.pszText = const_cast<char*>(kColumns[i].caption);
        col.iSubItem = i;
        SendMessageA(g_server.user_list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&col));
    }
}

LRESULT OnCreate(HWND hwnd) {
    g_server.main = hwnd;   // message boxes shown during creation are owned by this window
    InitCommonControls();
    HWND* handles[] = {&g_server.start_button, &g_server.stop_button, &g_server.pause_button};
    for (int i = 0; i < 3; ++i) {
        const ButtonSpec& b = kButtons[i];
        *handles[i] = CreateWindowExA(0, "button", b.caption, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON,
                                      b.x, b.y, b.w, b.h, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)),
                                      g_server.instance, nullptr);
    }
    CreateUserList(hwnd);
    ReadAdminPassword();
    EnableWindow(g_server.stop_button, FALSE);
    EnableWindow(g_server.pause_button, FALSE);
    for (int id : kInitiallyGrayed) EnableCommand(id, false);
    ReadLogSettings(false);
    // A server that starts by itself does what "Старт" does, boxes and all, once the window is up.
    if (GetPrivateProfileIntA("Server", "AutoStart", 0, ".\\Quorrel.ini") == 1)
        PostMessageA(hwnd, WM_COMMAND, IDM_START, 0);
    return 0;
}

void CloseSocketSlot(SOCKET& s) {
    if (s != INVALID_SOCKET) closesocket(s);
    s = INVALID_SOCKET;
}

LRESULT OnTimer(WPARAM id) {
    if (id != SWEEP_TIMER) return 0;
    SweepConnections();
    LogNewDay();
    return 0;
}

LRESULT OnDestroy() {
    StopSweep();
    CloseSocketSlot(g_server.listener);
    CloseClient("server");
    StopStandard();
    StopSmtp();
    if (WSACleanup() != 0) SocketError("WinSock DLL not terminated.");
    PostQuitMessage(0);
    return 0;
}

// After a user command: every conversation keeps to its user by name, or ends.
void FollowUsers() {
    FollowUserTable();
    FollowUserTableInSessions();
}

LRESULT OnCommand(HWND hwnd, int id) {
    switch (id) {
    case IDM_START:       OnStartCommand(); break;
    case IDM_STOP:        OnStopCommand(); break;
    case IDM_PASSWORD:    OnPasswordCommand(); break;
    case IDM_SETPASSWORD: OnSetPasswordCommand(); break;
    case IDM_EXIT:        DestroyWindow(hwnd); break;
    case IDM_ABOUT:       DialogBoxParamA(g_server.instance, MAKEINTRESOURCEA(IDD_ABOUT), hwnd, AboutDialogProc, 0); break;
    case IDM_NEWUSER:     OnNewUserCommand(); FollowUsers(); break;
    case IDM_DELUSER:     OnDelUserCommand(); FollowUsers(); break;
    case IDM_EDITUSER:    OnEditUserCommand(); FollowUsers(); break;
    case IDM_PAUSE:       OnPauseCommand(); break;
    default: break;
    }
    return 0;
}

}  // namespace

void ResetServerState() {
    g_server = ServerState{};
    g_server.port = wire::POP3_PORT;
    g_server.listener = INVALID_SOCKET;
    g_server.standard_listener = INVALID_SOCKET;
    g_beeps = BeepLog{};
    ResetFileFaults();
    ResetUsers();
    ResetMailbox();
    ResetConnections();
    ResetLog();
    ResetEngine();
    ResetStandard();
    ResetSmtp();
}

LRESULT CALLBACK ServerWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE:      return OnCreate(hwnd);
    case WM_DESTROY:     return OnDestroy();
    case WM_COMMAND:     return OnCommand(hwnd, LOWORD(wp));
    case WM_TIMER:       return OnTimer(wp);
    case WM_SOCKETEVENT: return OnStandardEvent(static_cast<SOCKET>(wp), lp) || OnSmtpEvent(static_cast<SOCKET>(wp), lp)
                                    ? 0 : OnSocketEvent(hwnd, wp, lp);
    default:             return DefWindowProcA(hwnd, msg, wp, lp);
    }
}

bool RegisterServerClass(HINSTANCE instance) { return RegisterMainClass(instance, ServerWindowProc, "IDM_MENU"); }

HWND CreateServerWindow(HINSTANCE instance) {
    g_server.instance = instance;
    return CreateMainWindow(instance, "POP3 - СЕРВЕР.");
}
