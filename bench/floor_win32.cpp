// The platform floor: the least a Win32 server of the frame dialect does under this Wine.  One
// hidden window, WinSock 1.1 with WSAAsyncSelect as Quorrel uses it, one connection at a time,
// one receive per read event; every command is answered with the canned frame Quorrel sends for
// the benchmark's data.  No file is read, nothing is drawn.
//
//   floor_win32.exe PORT
#include <winsock.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "data.h"
#include "wire.h"

namespace {

constexpr UINT WM_SOCKETEVENT = WM_USER + 1;

bench::Replies g_replies;
SOCKET g_listener = INVALID_SOCKET;
SOCKET g_client = INVALID_SOCKET;
wire::Collector g_in;

void Reply(const unsigned char* p, int n) {
    while (n > 0) {
        int k = send(g_client, reinterpret_cast<const char*>(p), n, 0);
        if (k == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK) return;
            Sleep(0);
            continue;
        }
        p += k;
        n -= k;
    }
}

void CloseClient() {
    if (g_client != INVALID_SOCKET) closesocket(g_client);
    g_client = INVALID_SOCKET;
}

void Serve() {
    const bench::Replies& r = g_replies;
    switch (wire::ParseCommand(g_in.data, wire::COMMAND_FRAME_SIZE).cmd) {
    case wire::Command::User:
    case wire::Command::Pass:
    case wire::Command::Dele: Reply(r.status, sizeof r.status); break;
    case wire::Command::Stat: Reply(r.stat, sizeof r.stat); break;
    case wire::Command::List: Reply(r.list, sizeof r.list); break;
    case wire::Command::Retr: Reply(r.retr, sizeof r.retr); break;
    case wire::Command::Quit: Reply(r.status, sizeof r.status); CloseClient(); break;
    case wire::Command::None: break;
    }
    wire::CollectorReset(g_in, wire::COMMAND_FRAME_SIZE);
}

void OnSocket(SOCKET s, int event) {
    if (event == FD_ACCEPT && s == g_listener) {
        SOCKET c = accept(g_listener, nullptr, nullptr);
        if (c == INVALID_SOCKET) return;
        CloseClient();
        g_client = c;   // it inherits the listener's events
        wire::CollectorReset(g_in, wire::COMMAND_FRAME_SIZE);
        Reply(g_replies.status, sizeof g_replies.status);
        return;
    }
    if (s != g_client || g_client == INVALID_SOCKET) return;   // a stale event of a closed socket
    int n = recv(g_client, reinterpret_cast<char*>(g_in.data + g_in.have), static_cast<int>(g_in.want - g_in.have), 0);
    if (n == 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)) {
        CloseClient();
        return;
    }
    if (n > 0) g_in.have += static_cast<std::size_t>(n);
    if (wire::CollectorFull(g_in)) Serve();
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_SOCKETEVENT: OnSocket(static_cast<SOCKET>(wp), WSAGETSELECTEVENT(lp)); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdline, int) {
    int port = std::atoi(cmdline);
    if (port <= 0) return 2;
    bench::BuildReplies(g_replies);
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) return 1;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = "BenchFloor";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA("BenchFloor", "floor", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                              instance, nullptr);
    g_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!hwnd || bind(g_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == SOCKET_ERROR ||
        listen(g_listener, 5) == SOCKET_ERROR ||
        WSAAsyncSelect(g_listener, hwnd, WM_SOCKETEVENT, FD_ACCEPT | FD_READ | FD_CLOSE) == SOCKET_ERROR)
        return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    CloseClient();
    closesocket(g_listener);
    WSACleanup();
    return 0;
}
