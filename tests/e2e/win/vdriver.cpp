// Drives a running Vindle.exe from outside, for the end-to-end tests.  Runs its actions in order
// and prints one line per result; the exit code is the number of actions that failed.
//
//   wait                      find the main window ("Application", "POP3 - КЛИЕНТ") and wait until
//                             its buttons exist
//   connect ADDR USER PASS    press "Соединить с сервером", fill the connect dialog, press "Да"
//   cmd ID                    post WM_COMMAND ID, as a click on the button does
//   enabled ID MS             wait up to MS ms until control ID is enabled: "enabled ID" or
//                             "disabled ID"
//   disabled ID MS            the same, waiting until it is disabled
//   rows N MS                 wait up to MS ms for N rows, then one line per row:
//                             "row\t<cell 0>\t<cell 1>\t<cell 2>"
//   select ROW                select a row of the letter list
//   cell ROW COL MARK MS      wait up to MS ms until the cell shows MARK ("read" for "ПРОЧИТАНО",
//                             "deleted" for "УДАЛЕНО", "empty"): "cell ok" or "cell <text>"
//                             (the marks are named, since the command line is not Windows-1251)
//   text MS                   wait up to MS ms for a non-empty letter text box: "text\t<hex bytes>"
//                             (each byte as two hex digits and a space)
//   state                     "state" and the enabling (0/1) of the controls 2 to 8 and the status line
//   box MS / nobox MS         as qdriver: "box\t<caption>\t<text hex>" and press OK, or "nobox"
//   close                     post WM_CLOSE to the main window
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/resource.h"
#include "tests/harness/frames.h"

namespace {

HWND g_main;
DWORD g_pid;
int g_failures;


std::string Text(HWND h) {
    char out[2048] = "";
    DWORD_PTR n = 0;
    SendMessageTimeoutA(h, WM_GETTEXT, sizeof out, reinterpret_cast<LPARAM>(out), SMTO_ABORTIFHUNG, 2000, &n);
    out[sizeof out - 1] = '\0';
    return out;
}

using frames::Hex;

bool Until(DWORD ms, bool (*done)(const void*), const void* arg) {
    DWORD end = GetTickCount() + ms;
    for (;;) {
        if (done(arg)) return true;
        if (static_cast<LONG>(GetTickCount() - end) >= 0) return false;
        Sleep(20);
    }
}

bool WaitMain(DWORD ms) {
    return Until(ms, [](const void*) {
        g_main = FindWindowA("Application", "POP3 - КЛИЕНТ");
        // The window can be found while its creation is still running; it is shown only after.
        if (!g_main || !IsWindowVisible(g_main) || !GetDlgItem(g_main, IDC_QUIT) || !GetDlgItem(g_main, IDC_LETTERLIST))
            return false;
        GetWindowThreadProcessId(g_main, &g_pid);
        return true;
    }, nullptr);
}

struct Find { int ctrl; HWND found; };
HWND WaitDialog(int ctrl, DWORD ms) {
    static Find f;
    f = Find{ctrl, nullptr};
    Until(ms, [](const void*) {
        EnumWindows([](HWND h, LPARAM) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            char cls[32] = "";
            GetClassNameA(h, cls, sizeof cls);
            if (pid == g_pid && !std::strcmp(cls, "#32770") && IsWindowVisible(h) && GetDlgItem(h, f.ctrl)) {
                f.found = h;
                return FALSE;
            }
            return TRUE;
        }, 0);
        return f.found != nullptr;
    }, nullptr);
    return f.found;
}

void Press(HWND dlg, int id) {
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

// List-view messages with pointers need their buffers in Vindle's own memory.
class Remote {
public:
    Remote() {
        proc_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, g_pid);
        mem_ = proc_ ? static_cast<char*>(VirtualAllocEx(proc_, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE)) : nullptr;
    }
    ~Remote() {
        if (mem_) VirtualFreeEx(proc_, mem_, 0, MEM_RELEASE);
        if (proc_) CloseHandle(proc_);
    }
    std::string Cell(int row, int col) {
        if (!mem_) return "";
        LVITEMA it = {};
        it.iSubItem = col;
        it.cchTextMax = 256;
        it.pszText = mem_ + sizeof(LVITEMA);
        WriteProcessMemory(proc_, mem_, &it, sizeof it, nullptr);
        WriteProcessMemory(proc_, mem_ + sizeof(LVITEMA), "", 1, nullptr);
        SendMessageA(List(), LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(mem_));
        char buf[257] = "";
        ReadProcessMemory(proc_, mem_ + sizeof(LVITEMA), buf, 256, nullptr);
        return buf;
    }
    void Select(int row) {
        if (!mem_) return;
        LVITEMA it = {};
        it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        it.state = LVIS_SELECTED | LVIS_FOCUSED;
        WriteProcessMemory(proc_, mem_, &it, sizeof it, nullptr);
        SendMessageA(List(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(mem_));
    }
    static HWND List() { return GetDlgItem(g_main, IDC_LETTERLIST); }

private:
    HANDLE proc_ = nullptr;
    char* mem_ = nullptr;
};

int Rows() { return static_cast<int>(SendMessageA(Remote::List(), LVM_GETITEMCOUNT, 0, 0)); }

void Connect(const char* addr, const char* user, const char* pass) {
    PostMessageA(g_main, WM_COMMAND, MAKEWPARAM(IDC_CONNECT, 0), 0);
    HWND dlg = WaitDialog(IDC_SERVERADDR, 5000);
    if (!dlg) { std::printf("no connect dialog\n"); ++g_failures; return; }
    SendMessageA(GetDlgItem(dlg, IDC_SERVERADDR), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(addr));
    SendMessageA(GetDlgItem(dlg, IDC_USERNAME), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(user));
    SendMessageA(GetDlgItem(dlg, IDC_PASSWORD), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(pass));
    Press(dlg, IDOK);
    for (int i = 0; i < 250 && IsWindow(dlg); ++i) Sleep(20);
    std::printf("connected\n");
}

void WaitEnabled(int id, DWORD ms, bool want) {
    static int s_id;
    static bool s_want;
    s_id = id;
    s_want = want;
    bool ok = Until(ms, [](const void*) { return (IsWindowEnabled(GetDlgItem(g_main, s_id)) != FALSE) == s_want; }, nullptr);
    std::printf("%s %d\n", IsWindowEnabled(GetDlgItem(g_main, id)) ? "enabled" : "disabled", id);
    if (!ok) ++g_failures;
}

HWND WaitBox(DWORD ms) { return WaitDialog(0xFFFF, ms); }

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        auto arg = [&](int k) -> const char* { return i + k < argc ? argv[i + k] : "0"; };
        if (!g_main && !WaitMain(std::strcmp(a, "wait") == 0 ? 15000 : 3000)) {
            std::printf("no window\n");
            return 100;
        }
        if (!std::strcmp(a, "wait")) {
            std::printf("ready\n");
        } else if (!std::strcmp(a, "connect")) {
            Connect(arg(1), arg(2), arg(3));
            i += 3;
        } else if (!std::strcmp(a, "cmd")) {
            PostMessageA(g_main, WM_COMMAND, MAKEWPARAM(std::atoi(arg(1)), 0), 0);
            Sleep(50);
            SendMessageTimeoutA(g_main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, nullptr);
            i += 1;
        } else if (!std::strcmp(a, "enabled") || !std::strcmp(a, "disabled")) {
            WaitEnabled(std::atoi(arg(1)), static_cast<DWORD>(std::atoi(arg(2))), a[0] == 'e');
            i += 2;
        } else if (!std::strcmp(a, "rows")) {
            static int s_n;
            s_n = std::atoi(arg(1));
            if (!Until(static_cast<DWORD>(std::atoi(arg(2))), [](const void*) { return Rows() == s_n; }, nullptr)) ++g_failures;
            Remote r;
            for (int row = 0; row < Rows(); ++row)
                std::printf("row\t%s\t%s\t%s\n", r.Cell(row, 0).c_str(), r.Cell(row, 1).c_str(), r.Cell(row, 2).c_str());
            i += 2;
        } else if (!std::strcmp(a, "select")) {
            Remote().Select(std::atoi(arg(1)));
            i += 1;
        } else if (!std::strcmp(a, "cell")) {
            static int s_row, s_col;
            static std::string s_want;
            s_row = std::atoi(arg(1));
            s_col = std::atoi(arg(2));
            s_want = !std::strcmp(arg(3), "read") ? "ПРОЧИТАНО" : !std::strcmp(arg(3), "deleted") ? "УДАЛЕНО" : "";
            bool ok = Until(static_cast<DWORD>(std::atoi(arg(4))),
                            [](const void*) { return Remote().Cell(s_row, s_col) == s_want; }, nullptr);
            std::printf("cell %s\n", ok ? "ok" : Remote().Cell(s_row, s_col).c_str());
            if (!ok) ++g_failures;
            i += 4;
        } else if (!std::strcmp(a, "text")) {
            HWND edit = GetDlgItem(g_main, IDC_LETTERTEXT);
            Until(static_cast<DWORD>(std::atoi(arg(1))), [](const void* e) { return !Text((HWND)e).empty(); }, edit);
            std::printf("text\t%s\n", Hex(Text(edit)).c_str());
            i += 1;
        } else if (!std::strcmp(a, "state")) {
            std::printf("state");
            for (int id = 2; id <= 8; ++id) std::printf(" %d", IsWindowEnabled(GetDlgItem(g_main, id)) ? 1 : 0);
            // The status line is the one static child of the main window.
            HWND status = FindWindowExA(g_main, nullptr, "Static", nullptr);
            std::printf(" %d\n", status && IsWindowEnabled(status) ? 1 : 0);
        } else if (!std::strcmp(a, "box") || !std::strcmp(a, "nobox")) {
            HWND box = WaitBox(static_cast<DWORD>(std::atoi(arg(1))));
            if (box) {
                std::printf("box\t%s\t%s\n", Text(box).c_str(), Hex(Text(GetDlgItem(box, 0xFFFF))).c_str());
                Press(box, IDOK);
                for (int k = 0; k < 100 && IsWindow(box); ++k) Sleep(20);
            } else if (a[0] == 'n') {
                std::printf("nobox\n");
            } else {
                std::printf("no box came\n");
                ++g_failures;
            }
            i += 1;
        } else if (!std::strcmp(a, "close")) {
            PostMessageA(g_main, WM_CLOSE, 0, 0);
        } else {
            std::printf("unknown action %s\n", a);
            ++g_failures;
        }
        std::fflush(stdout);
    }
    return g_failures;
}
