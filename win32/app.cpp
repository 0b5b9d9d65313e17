#include "app.h"

BeepLog g_beeps;

void SoundBeep(UINT type) {
    if (g_beeps.count < static_cast<int>(sizeof g_beeps.types / sizeof g_beeps.types[0]))
        g_beeps.types[g_beeps.count] = type;
    ++g_beeps.count;
    MessageBeep(type);
}

void SocketError(const char* text) { MessageBoxA(nullptr, text, "Socket Error!", MB_OK | MB_ICONERROR); }

bool RegisterMainClass(HINSTANCE instance, WNDPROC proc, const char* menu) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "Logo");
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_SCROLLBAR + 1);
    wc.lpszMenuName = menu;
    wc.lpszClassName = MAIN_WINDOW_CLASS;
    return RegisterClassExA(&wc) != 0;
}

HWND CreateMainWindow(HINSTANCE instance, const char* title) {
    return CreateWindowExA(0, MAIN_WINDOW_CLASS, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640, 480,
                           nullptr, nullptr, instance, nullptr);
}

INT_PTR OnDialogButtons(HWND dlg, WPARAM wp, bool (*accept)(HWND dlg)) {
    switch (LOWORD(wp)) {
    case IDOK:
        if (accept(dlg)) EndDialog(dlg, IDOK);
        return TRUE;
    case IDCANCEL:
        EndDialog(dlg, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

int RunProgram(HINSTANCE instance, int show, bool (*register_class)(HINSTANCE), HWND (*create)(HINSTANCE)) {
    WSADATA wsa;
    if (WSAStartup(0x0101, &wsa) != 0) {
        SocketError("WinSock DLL not loaded.");
        return 0;
    }
    if (!register_class(instance)) return 0;
    HWND hwnd = create(instance);
    if (!hwnd) return 0;
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
