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
//   close                post WM_CLOSE to the main window
#include <winsock.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "server/resource.h"

namespace {

HWND g_main;
DWORD g_pid;

void Text(HWND h, char* out, int size) {
    out[0] = '\0';
    DWORD_PTR n = 0;
    SendMessageTimeoutA(h, WM_GETTEXT, size, reinterpret_cast<LPARAM>(out), SMTO_ABORTIFHUNG, 2000, &n);
    out[size - 1] = '\0';
}

bool WaitMain(DWORD ms) {
    DWORD end = GetTickCount() + ms;
    do {
        g_main = FindWindowA("Application", "POP3 - СЕРВЕР.");
        // The window can be found while its creation is still running; it is shown only after.
        if (g_main && IsWindowVisible(g_main) && GetDlgItem(g_main, IDM_PAUSE) && GetDlgItem(g_main, IDC_USERLIST)) {
            GetWindowThreadProcessId(g_main, &g_pid);
            return true;
        }
        Sleep(20);
    } while (static_cast<LONG>(GetTickCount() - end) < 0);
    return false;
}

struct FindBox { DWORD pid; HWND found; };

BOOL CALLBACK FindBoxProc(HWND h, LPARAM l) {
    FindBox* f = reinterpret_cast<FindBox*>(l);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char cls[32] = "";
    GetClassNameA(h, cls, sizeof cls);
    if (pid == f->pid && std::strcmp(cls, "#32770") == 0 && IsWindowVisible(h) && GetDlgItem(h, 0xFFFF)) {
        f->found = h;
        return FALSE;
    }
    return TRUE;
}

HWND WaitBox(DWORD ms) {
    DWORD end = GetTickCount() + ms;
    do {
        FindBox f = {g_pid, nullptr};
        EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&f));
        if (f.found) return f.found;
        Sleep(20);
    } while (static_cast<LONG>(GetTickCount() - end) < 0);
    return nullptr;
}

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
    char caption[256], text[1024];
    Text(box, caption, sizeof caption);
    Text(GetDlgItem(box, 0xFFFF), text, sizeof text);
    std::printf("box\t%s\t%s\t%s\t%d\n", caption, text, IconName(box), GetWindow(box, GW_OWNER) == g_main ? 1 : 0);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(20);
}

void PrintRows() {
    HWND list = GetDlgItem(g_main, IDC_USERLIST);
    HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, g_pid);
    if (!proc) return;
    char* remote = static_cast<char*>(VirtualAllocEx(proc, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count && remote; ++row) {
        std::printf("row");
        for (int sub = 0; sub < 5; ++sub) {
            LVITEMA it = {};
            it.iSubItem = sub;
            it.cchTextMax = 256;
            it.pszText = remote + sizeof(LVITEMA);
            WriteProcessMemory(proc, remote, &it, sizeof it, nullptr);
            WriteProcessMemory(proc, remote + sizeof(LVITEMA), "", 1, nullptr);
            SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote));
            char buf[257] = "";
            ReadProcessMemory(proc, remote + sizeof(LVITEMA), buf, 256, nullptr);
            std::printf("\t%s", buf);
        }
        std::printf("\n");
    }
    if (remote) VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
    CloseHandle(proc);
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
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : "0";
        if (std::strcmp(a, "bind") == 0) {
            std::printf("bind %d\n", TryBind(std::atoi(next)));
            ++i;
            continue;
        }
        if (!g_main && !WaitMain(std::strcmp(a, "wait") == 0 ? 15000 : 3000)) {
            std::printf("no window\n");
            return 2;
        }
        if (std::strcmp(a, "wait") == 0) {
            std::printf("ready\n");
        } else if (std::strcmp(a, "cmd") == 0) {
            PostMessageA(g_main, WM_COMMAND, MAKEWPARAM(std::atoi(next), 0), 0);
            // Give the posted command its turn; a command that opens a box is left inside it.
            Sleep(100);
            SendMessageTimeoutA(g_main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, nullptr);
            ++i;
        } else if (std::strcmp(a, "state") == 0) {
            std::printf("state start=%d stop=%d pause=%d\n", IsWindowEnabled(GetDlgItem(g_main, IDM_START)) ? 1 : 0,
                        IsWindowEnabled(GetDlgItem(g_main, IDM_STOP)) ? 1 : 0,
                        IsWindowEnabled(GetDlgItem(g_main, IDM_PAUSE)) ? 1 : 0);
        } else if (std::strcmp(a, "box") == 0 || std::strcmp(a, "nobox") == 0) {
            HWND box = WaitBox(static_cast<DWORD>(std::atoi(next)));
            if (box) PrintBox(box);
            else if (a[0] == 'n') std::printf("nobox\n");
            else { std::printf("no box came\n"); ++failures; }
            ++i;
        } else if (std::strcmp(a, "rows") == 0) {
            PrintRows();
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
