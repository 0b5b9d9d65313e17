// The seven buttons: the connect dialog, connect, disconnect and the five mailbox commands.
#include "client.h"

namespace {

bool TakeConnectFields(HWND dlg) {
    GetDlgItemTextA(dlg, IDC_SERVERADDR, g_client.server_addr, SERVER_ADDR_SIZE);
    GetDlgItemTextA(dlg, IDC_USERNAME, g_client.user_name, USER_NAME_SIZE);
    GetDlgItemTextA(dlg, IDC_PASSWORD, g_client.password, PASSWORD_SIZE);
    return true;
}

INT_PTR CALLBACK ConnectDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    return msg == WM_COMMAND ? OnDialogButtons(dlg, wp, TakeConnectFields) : FALSE;
}

void OnConnect(HWND hwnd) {
    if (DialogBoxParamA(g_client.instance, MAKEINTRESOURCEA(IDD_CONNECT), hwnd, ConnectDialogProc, 0) == IDCANCEL)
        return;
    OpenConnection(hwnd);
}

// The index of the selected letter row (-1 when none) and its number, cut to 3 characters.
int SelectedLetter(char (&number)[4]) {
    number[0] = 0;
    int row = static_cast<int>(SendMessageA(g_client.letter_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                            MAKELPARAM(LVNI_SELECTED, 0)));
    if (row >= 0) GetLetterCell(row, 0, number, sizeof number);
    return row;
}

void OnLetterCommand(ClientState state, wire::Command cmd) {
    char number[4];
    int row = SelectedLetter(number);
    SendCommand(state, row, cmd, number);
}

void OnPlainCommand(ClientState state, wire::Command cmd) {
    SendCommand(state, -1, cmd, "");
}

}  // namespace

void OnClientCommand(HWND hwnd, int id) {
    switch (id) {
    case IDC_CONNECT:    OnConnect(hwnd); break;
    case IDC_DISCONNECT: CloseConnection(ClearLetters); break;
    case IDC_STATISTICS: OnPlainCommand(StatSent, wire::Command::Stat); break;
    case IDC_LIST:       OnPlainCommand(ListSent, wire::Command::List); break;
    case IDC_READ:       OnLetterCommand(RetrSent, wire::Command::Retr); break;
    case IDC_DELETE:     OnLetterCommand(DeleSent, wire::Command::Dele); break;
    case IDC_QUIT:       OnPlainCommand(QuitSent, wire::Command::Quit); break;
    default: break;
    }
}
