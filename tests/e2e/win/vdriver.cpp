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
#include "tests/e2e/win/driver.h"
#include "tests/harness/frames.h"

namespace {

using namespace driver;
using frames::Hex;

int g_failures;

HWND List() { return GetDlgItem(g_main, IDC_LETTERLIST); }

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
    bool ok = Until(ms, [&] { return (IsWindowEnabled(GetDlgItem(g_main, id)) != FALSE) == want; });
    std::printf("%s %d\n", IsWindowEnabled(GetDlgItem(g_main, id)) ? "enabled" : "disabled", id);
    if (!ok) ++g_failures;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        auto arg = [&](int k) -> const char* { return i + k < argc ? argv[i + k] : "0"; };
        if (!g_main && !WaitMain("POP3 - КЛИЕНТ", IDC_QUIT, IDC_LETTERLIST, std::strcmp(a, "wait") == 0 ? 15000 : 3000)) {
            std::printf("no window\n");
            return 100;
        }
        if (!std::strcmp(a, "wait")) {
            std::printf("ready\n");
        } else if (!std::strcmp(a, "connect")) {
            Connect(arg(1), arg(2), arg(3));
            i += 3;
        } else if (!std::strcmp(a, "cmd")) {
            PostCommand(std::atoi(arg(1)));
            i += 1;
        } else if (!std::strcmp(a, "enabled") || !std::strcmp(a, "disabled")) {
            WaitEnabled(std::atoi(arg(1)), static_cast<DWORD>(std::atoi(arg(2))), a[0] == 'e');
            i += 2;
        } else if (!std::strcmp(a, "rows")) {
            Remote r(List());
            int n = std::atoi(arg(1));
            if (!Until(static_cast<DWORD>(std::atoi(arg(2))), [&] { return r.Rows() == n; })) ++g_failures;
            for (int row = 0; row < r.Rows(); ++row)
                std::printf("row\t%s\t%s\t%s\n", r.Cell(row, 0).c_str(), r.Cell(row, 1).c_str(), r.Cell(row, 2).c_str());
            i += 2;
        } else if (!std::strcmp(a, "select")) {
            Remote(List()).Select(std::atoi(arg(1)));
            i += 1;
        } else if (!std::strcmp(a, "cell")) {
            Remote r(List());
            int row = std::atoi(arg(1)), col = std::atoi(arg(2));
            std::string want = !std::strcmp(arg(3), "read") ? "ПРОЧИТАНО" : !std::strcmp(arg(3), "deleted") ? "УДАЛЕНО" : "";
            bool ok = Until(static_cast<DWORD>(std::atoi(arg(4))), [&] { return r.Cell(row, col) == want; });
            std::printf("cell %s\n", ok ? "ok" : r.Cell(row, col).c_str());
            if (!ok) ++g_failures;
            i += 4;
        } else if (!std::strcmp(a, "text")) {
            HWND edit = GetDlgItem(g_main, IDC_LETTERTEXT);
            Until(static_cast<DWORD>(std::atoi(arg(1))), [&] { return !Text(edit).empty(); });
            std::printf("text\t%s\n", Hex(Text(edit)).c_str());
            i += 1;
        } else if (!std::strcmp(a, "state")) {
            std::printf("state");
            for (int id = 2; id <= 8; ++id) std::printf(" %d", IsWindowEnabled(GetDlgItem(g_main, id)) ? 1 : 0);
            // The status line is the one static child of the main window.
            HWND status = FindWindowExA(g_main, nullptr, "Static", nullptr);
            std::printf(" %d\n", status && IsWindowEnabled(status) ? 1 : 0);
        } else if (!std::strcmp(a, "box") || !std::strcmp(a, "nobox")) {
            HWND box = WaitDialog(0xFFFF, static_cast<DWORD>(std::atoi(arg(1))));
            if (box) {
                std::printf("box\t%s\t%s\n", Text(box).c_str(), Hex(Text(GetDlgItem(box, 0xFFFF))).c_str());
                CloseBox(box);
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
