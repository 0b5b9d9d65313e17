// What the main windows of both programs share: the window class, the WinMain frame, the beep log
// and the WinSock-trouble box.
#pragma once

#include <winsock.h>
#include <windows.h>

// WinSock reports the events of a registered socket to the main window with this message.
#define WM_SOCKETEVENT (WM_USER + 1)

// Every beep of a program goes through SoundBeep, which keeps a short log for the tests.
struct BeepLog {
    int count;
    UINT types[64];
};
extern BeepLog g_beeps;
void SoundBeep(UINT type);

// The WinSock-trouble box: no owner, caption "Socket Error!", error icon, no beep.
void SocketError(const char* text);

constexpr const char* MAIN_WINDOW_CLASS = "Application";

// Registers the main window class MAIN_WINDOW_CLASS: icon "Logo", arrow cursor, the scroll-bar
// colour behind, and `menu` (null: none).
bool RegisterMainClass(HINSTANCE instance, WNDPROC proc, const char* menu);

// The main window: MAIN_WINDOW_CLASS, overlapped, 640 x 480, placed by the system.
HWND CreateMainWindow(HINSTANCE instance, const char* title);

// OK and Cancel of a modal dialog (WM_COMMAND): OK calls `accept`, which takes the fields and says
// whether the dialog may close with IDOK; Cancel closes it with IDCANCEL.  FALSE for any other
// command, which the dialog handles itself.
INT_PTR OnDialogButtons(HWND dlg, WPARAM wp, bool (*accept)(HWND dlg));

// WinMain's work: starts WinSock 1.1 (a box "WinSock DLL not loaded." when it can't), registers
// the class, creates and shows the main window and runs the message loop.  Returns the exit code.
int RunProgram(HINSTANCE instance, int show, bool (*register_class)(HINSTANCE), HWND (*create)(HINSTANCE));
