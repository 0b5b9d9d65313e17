#include "server.h"
#include "window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    ResetServerState();
    g_server.instance = instance;
    WSADATA wsa;
    if (WSAStartup(0x0101, &wsa) != 0) {
        SocketError("WinSock DLL not loaded.");
        return 0;
    }
    if (!RegisterServerClass(instance)) return 0;
    HWND hwnd = CreateServerWindow(instance);
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
