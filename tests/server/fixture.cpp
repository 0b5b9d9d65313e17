#include "fixture.h"

void ServerTest::SetUpTestSuite() {
    static bool registered = false;
    if (!registered) registered = RegisterServerClass(GetModuleHandleA(nullptr));
    ASSERT_TRUE(registered);
    ASSERT_EQ(1251u, GetACP()) << "the tests need Wine's ANSI code page 1251 (LANG=ru_RU.UTF-8)";
}

void ServerTest::SetUp() {
    WSADATA wsa;
    winsock_started = WSAStartup(0x0101, &wsa) == 0;
    ASSERT_TRUE(winsock_started);
    ResetServerState();
    g_server.instance = GetModuleHandleA(nullptr);
    dir.reset(new harness::TempDir());
    modals.reset(new harness::Modals([] { return g_beeps.count; }));
}

void ServerTest::TearDown() {
    if (wnd && IsWindow(wnd)) {
        DestroyWindow(wnd);          // the shutdown cleans WinSock up
        winsock_started = false;
    }
    harness::Pump(0);
    MSG m;
    while (PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
    if (winsock_started) WSACleanup();
    EXPECT_TRUE(modals->unexpected.empty()) << "an unexpected dialog: " << modals->unexpected.front();
    EXPECT_FALSE(modals->timed_out) << "a dialog or box was still open at the watchdog";
    modals.reset();
    dir.reset();
}

HWND ServerTest::OpenWindow() {
    wnd = CreateServerWindow(GetModuleHandleA(nullptr));
    EXPECT_NE(nullptr, wnd);
    return wnd;
}

HWND ServerTest::OpenWindowWithPassword(const std::string& psw_bytes) {
    EXPECT_TRUE(harness::WriteBytes("Admin.psw", psw_bytes));
    return OpenWindow();
}

void ServerTest::Command(int id) {
    SendMessageA(wnd, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

WPARAM ServerTest::CloseWindow() {
    SendMessageA(wnd, WM_CLOSE, 0, 0);
    winsock_started = false;
    MSG m;
    if (PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return m.wParam;
    return static_cast<WPARAM>(-1);
}
