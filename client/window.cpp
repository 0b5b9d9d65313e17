// The client main window: class, controls, enabling at start and shutdown.
#include "client.h"
#include "send.h"

ClientGlobals g_client;

namespace {

struct ControlSpec {
    const char* cls;
    const char* text;
    int id;
    DWORD style;
    int x, y, w, h;
    HWND* handle;
};

const DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;

const ControlSpec kControls[] = {
    {"edit", "", IDC_LETTERTEXT,
     WS_CHILD | WS_VISIBLE | WS_BORDER | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY,
     10, 70, 610, 150, &g_client.letter_text},
    {"static", "Соединение с POP3 - сервером установлено.", 0, WS_CHILD | WS_VISIBLE | SS_LEFT,
     10, 230, 400, 20, &g_client.status_line},
    {WC_LISTVIEWA, "", IDC_LETTERLIST,
     WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SORTASCENDING | LVS_AUTOARRANGE,
     10, 260, 610, 130, &g_client.letter_list},
    {"button", "Соединить с сервером", IDC_CONNECT, kButtonStyle, 10, 10, 220, 25, &g_client.connect_button},
    {"button", "Прервать соединение", IDC_DISCONNECT, kButtonStyle, 10, 40, 220, 25, &g_client.disconnect_button},
    {"button", "Статистика почтового ящика", IDC_STATISTICS, kButtonStyle, 370, 230, 250, 20,
     &g_client.statistics_button},
    {"button", "Показать список писем", IDC_LIST, kButtonStyle, 10, 400, 200, 40, &g_client.list_button},
    {"button", "Читать письмо", IDC_READ, kButtonStyle, 335, 400, 140, 40, &g_client.read_button},
    {"button", "Удалить письмо", IDC_DELETE, kButtonStyle, 480, 400, 140, 40, &g_client.delete_button},
    {"button", "Завершение работы", IDC_QUIT, kButtonStyle, 450, 10, 170, 55, &g_client.quit_button},
};

const char* const kColumns[] = {"Номер письма", "Размер письма", "Состояние письма"};

void SetUpLetterList() {
    HIMAGELIST images = ImageList_Create(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                         ILC_MASK, 3, 10);
    ImageList_AddIcon(images, LoadIconA(g_client.instance, MAKEINTRESOURCEA(IDI_CHECK)));
    SendMessageA(g_client.letter_list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));

    for (int i = 0; i < 3; ++i) {
        LVCOLUMNA col = {};
        col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        col.fmt = LVCFMT_CENTER;
        col.cx = 200;
        col.pszText = const_cast<char*>(kColumns[i]);
        col.iSubItem = i;
        SendMessageA(g_client.letter_list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&col));
    }
}

LRESULT OnCreate(HWND hwnd) {
    g_client.main = hwnd;
    InitCommonControls();
    for (const ControlSpec& c : kControls)
        *c.handle = CreateWindowExA(0, c.cls, c.text, c.style, c.x, c.y, c.w, c.h, hwnd,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), g_client.instance,
                                    nullptr);
    SetUpLetterList();
    SetControls(ControlsIdle);
    return 0;
}

LRESULT OnDestroy() {
    // No QUIT: the server learns of the end from the closed connection.
    ReleaseConnection();
    if (WSACleanup() != 0) SocketError("WinSock DLL not terminated.");
    PostQuitMessage(0);
    return 0;
}

}  // namespace

LRESULT CALLBACK ClientWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE:      return OnCreate(hwnd);
    case WM_DESTROY:     return OnDestroy();
    case WM_COMMAND:     OnClientCommand(hwnd, LOWORD(wp)); return 0;
    case WM_SOCKETEVENT: return OnSocketEvent(hwnd, wp, lp);
    default:             return DefWindowProcA(hwnd, msg, wp, lp);
    }
}

bool RegisterClientClass(HINSTANCE instance) { return RegisterMainClass(instance, ClientWindowProc, nullptr); }

HWND CreateClientWindow(HINSTANCE instance) {
    g_client.instance = instance;
    return CreateMainWindow(instance, "POP3 - КЛИЕНТ");
}

void ResetClientState() {
    g_client = ClientGlobals{};
    g_client.port = wire::POP3_PORT;
    g_client.socket = INVALID_SOCKET;
    g_client.state = NotConnected;
    g_beeps = BeepLog{};
    ResetSendFaults();
}
