// Drives a running Quorrel.exe from outside, for the end-to-end tests.  Runs its actions in order
// and prints one line per result; the exit code is 0 when every action could be carried out.
//
//   wait                 find the main window ("Application", "POP3 - СЕРВЕР.") and wait until
//                        its buttons exist
//   cmd ID               post WM_COMMAND ID, as a click on a button or a menu item does
//   state                "state start=E stop=E pause=E", the buttons' enabling (E is 0 or 1); the
//                        menu of another process cannot be read under Wine
//   box MS               wait up to MS ms for a message box of Quorrel, print
//                        "box\t<caption>\t<text>\t<icon>\t<owned>", press OK; the icon is
//                        "unreadable" where the other process's icon cannot be drawn
//   nobox MS             "nobox" when no message box comes up within MS ms, else "box ..."
//   rows                 one line per user list row: "row\t<cell 0>\t...\t<cell 4>"
//   bind PORT            try to bind a TCP socket of this process to PORT on every address;
//                        prints "bind 0" or "bind <WSA error>"
//   dialog CTRL MS       wait up to MS ms for a dialog of Quorrel holding control CTRL; the
//                        actions below fill it
//   set ID TEXT          put TEXT into control ID of that dialog
//   pick ID N            select entry N of the combo box ID of that dialog
//   ok                   press OK of that dialog and wait for it to close
//   close                post WM_CLOSE to the main window
#include <winsock.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "server/resource.h"
#include "tests/e2e/win/driver.h"

namespace {

using namespace driver;

// Icon handles of another process differ from ours: the icon is told by its pixels.
bool IconPixels(HICON icon, unsigned (&px)[32 * 32]) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = 32;
    bi.bmiHeader.biHeight = 32;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bmp) {
        HGDIOBJ old = SelectObject(dc, bmp);
        std::memset(bits, 0x5a, sizeof px);
        ok = DrawIconEx(dc, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL) != 0;
        GdiFlush();
        std::memcpy(px, bits, sizeof px);
        SelectObject(dc, old);
        DeleteObject(bmp);
    }
    DeleteDC(dc);
    return ok;
}

const char* IconName(HWND box) {
    HWND c = nullptr;
    while ((c = FindWindowExA(box, c, "Static", nullptr)) != nullptr) {
        if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        HICON icon = reinterpret_cast<HICON>(SendMessageA(c, STM_GETICON, 0, 0));
        static unsigned shown[32 * 32], known[32 * 32];
        if (!IconPixels(icon, shown)) return "unreadable";
        struct { LPCSTR id; const char* name; } kinds[] = {
            {IDI_HAND, "error"}, {IDI_EXCLAMATION, "warning"}, {IDI_ASTERISK, "information"}, {IDI_QUESTION, "question"}};
        for (const auto& k : kinds)
            if (IconPixels(LoadIconA(nullptr, k.id), known) && std::memcmp(shown, known, sizeof shown) == 0) return k.name;
        return "other";
    }
    return "none";
}

void PrintBox(HWND box) {
    std::printf("box\t%s\t%s\t%s\t%d\n", Text(box).c_str(), Text(GetDlgItem(box, 0xFFFF)).c_str(), IconName(box),
                GetWindow(box, GW_OWNER) == g_main ? 1 : 0);
    CloseBox(box);
}

void PrintRows() {
    Remote r(GetDlgItem(g_main, IDC_USERLIST));
    for (int row = 0; row < r.Rows(); ++row) {
        std::printf("row");
        for (int sub = 0; sub < 5; ++sub) std::printf("\t%s", r.Cell(row, sub).c_str());
        std::printf("\n");
    }
}

int TryBind(int port) {
    WSADATA wsa;
    WSAStartup(0x0101, &wsa);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<unsigned short>(port));
    int result = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : WSAGetLastError();
    closesocket(s);
    WSACleanup();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    int failures = 0;
    HWND dialog = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : "0";
        if (std::strcmp(a, "bind") == 0) {
            std::printf("bind %d\n", TryBind(std::atoi(next)));
            ++i;
            continue;
        }
        if (!g_main && !WaitMain("POP3 - СЕРВЕР.", IDM_PAUSE, IDC_USERLIST, std::strcmp(a, "wait") == 0 ? 15000 : 3000)) {
            std::printf("no window\n");
            return 2;
        }
        if (std::strcmp(a, "wait") == 0) {
            std::printf("ready\n");
        } else if (std::strcmp(a, "cmd") == 0) {
            PostCommand(std::atoi(next));
            ++i;
        } else if (std::strcmp(a, "state") == 0) {
            std::printf("state start=%d stop=%d pause=%d\n", IsWindowEnabled(GetDlgItem(g_main, IDM_START)) ? 1 : 0,
                        IsWindowEnabled(GetDlgItem(g_main, IDM_STOP)) ? 1 : 0,
                        IsWindowEnabled(GetDlgItem(g_main, IDM_PAUSE)) ? 1 : 0);
        } else if (std::strcmp(a, "box") == 0 || std::strcmp(a, "nobox") == 0) {
            HWND box = WaitDialog(0xFFFF, static_cast<DWORD>(std::atoi(next)));
            if (box) PrintBox(box);
            else if (a[0] == 'n') std::printf("nobox\n");
            else { std::printf("no box came\n"); ++failures; }
            ++i;
        } else if (std::strcmp(a, "rows") == 0) {
            PrintRows();
        } else if (std::strcmp(a, "dialog") == 0 && i + 2 < argc) {
            dialog = WaitDialog(std::atoi(next), static_cast<DWORD>(std::atoi(argv[i + 2])));
            if (!dialog) { std::printf("no dialog came\n"); ++failures; }
            i += 2;
        } else if (std::strcmp(a, "set") == 0 && dialog && i + 2 < argc) {
            SendMessageA(GetDlgItem(dialog, std::atoi(next)), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[i + 2]));
            i += 2;
        } else if (std::strcmp(a, "pick") == 0 && dialog && i + 2 < argc) {
            SendMessageA(GetDlgItem(dialog, std::atoi(next)), CB_SETCURSEL, std::atoi(argv[i + 2]), 0);
            i += 2;
        } else if (std::strcmp(a, "ok") == 0 && dialog) {
            CloseBox(dialog);
            dialog = nullptr;
        } else if (std::strcmp(a, "close") == 0) {
            PostMessageA(g_main, WM_CLOSE, 0, 0);
        } else {
            std::printf("unknown action %s\n", a);
            ++failures;
        }
        std::fflush(stdout);
    }
    return failures;
}
