// What both drivers do alike: find the program's main window and its boxes, read texts and
// list-view cells across the process boundary, press buttons, post commands.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <functional>
#include <string>

namespace driver {

inline HWND g_main;
inline DWORD g_pid;

// A window's text, read with a timeout (the window is another process's).
inline std::string Text(HWND h) {
    char out[2048] = "";
    DWORD_PTR n = 0;
    SendMessageTimeoutA(h, WM_GETTEXT, sizeof out, reinterpret_cast<LPARAM>(out), SMTO_ABORTIFHUNG, 2000, &n);
    out[sizeof out - 1] = '\0';
    return out;
}

inline bool Until(DWORD ms, const std::function<bool()>& done) {
    DWORD end = GetTickCount() + ms;
    for (;;) {
        if (done()) return true;
        if (static_cast<LONG>(GetTickCount() - end) >= 0) return false;
        Sleep(20);
    }
}

// Waits for the main window of this title with both controls: the window can be found while its
// creation is still running, and it is shown only after.
inline bool WaitMain(const char* title, int control1, int control2, DWORD ms) {
    return Until(ms, [&] {
        g_main = FindWindowA("Application", title);
        if (!g_main || !IsWindowVisible(g_main) || !GetDlgItem(g_main, control1) || !GetDlgItem(g_main, control2))
            return false;
        GetWindowThreadProcessId(g_main, &g_pid);
        return true;
    });
}

// Waits for a visible dialog of the program that holds control `ctrl`; 0xFFFF: a message box.
inline HWND WaitDialog(int ctrl, DWORD ms) {
    struct Find { int ctrl; HWND found; } f = {ctrl, nullptr};
    Until(ms, [&] {
        EnumWindows([](HWND h, LPARAM l) -> BOOL {
            Find* f = reinterpret_cast<Find*>(l);
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            char cls[32] = "";
            GetClassNameA(h, cls, sizeof cls);
            if (pid != g_pid || std::strcmp(cls, "#32770") || !IsWindowVisible(h) || !GetDlgItem(h, f->ctrl)) return TRUE;
            f->found = h;
            return FALSE;
        }, reinterpret_cast<LPARAM>(&f));
        return f.found != nullptr;
    });
    return f.found;
}

// Presses a button by a posted click, so that a handler that opens a box does not block us.
inline void Press(HWND dlg, int id) {
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

// Presses OK of a box and waits up to two seconds for it to close.
inline void CloseBox(HWND box) {
    Press(box, IDOK);
    for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(20);
}

// Posts a command as a click does and gives it its turn; a command that opens a box is left
// inside it.
inline void PostCommand(int id) {
    PostMessageA(g_main, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    Sleep(100);
    SendMessageTimeoutA(g_main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, nullptr);
}

// List-view messages with pointers need their buffers in the program's own memory.
class Remote {
public:
    explicit Remote(HWND list) : list_(list) {
        proc_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, g_pid);
        mem_ = proc_ ? static_cast<char*>(VirtualAllocEx(proc_, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE)) : nullptr;
    }
    ~Remote() {
        if (mem_) VirtualFreeEx(proc_, mem_, 0, MEM_RELEASE);
        if (proc_) CloseHandle(proc_);
    }
    Remote(const Remote&) = delete;
    Remote& operator=(const Remote&) = delete;

    int Rows() const { return static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)); }
    std::string Cell(int row, int col) {
        if (!mem_) return "";
        LVITEMA it = {};
        it.iSubItem = col;
        it.cchTextMax = 256;
        it.pszText = mem_ + sizeof(LVITEMA);
        WriteProcessMemory(proc_, mem_, &it, sizeof it, nullptr);
        WriteProcessMemory(proc_, mem_ + sizeof(LVITEMA), "", 1, nullptr);
        SendMessageA(list_, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(mem_));
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
        SendMessageA(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(mem_));
    }

private:
    HWND list_;
    HANDLE proc_ = nullptr;
    char* mem_ = nullptr;
};

}  // namespace driver
