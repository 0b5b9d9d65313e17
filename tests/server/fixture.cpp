#include "fixture.h"

void ServerTest::SetUp() {
    AppTest::SetUp();
    FreshState();
    dir.reset(new harness::TempDir());
}

void ServerTest::TearDown() {
    AppTest::TearDown();
    dir.reset();
}

void ServerTest::FreshState() {
    ResetServerState();
    g_server.instance = GetModuleHandleA(nullptr);
}

HWND ServerTest::OpenWindowWithPassword(const std::string& psw_bytes) {
    EXPECT_TRUE(harness::WriteBytes("Admin.psw", psw_bytes));
    return OpenWindow();
}

WPARAM ServerTest::CloseWindow() {
    SendMessageA(wnd, WM_CLOSE, 0, 0);
    MSG m;
    if (PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return m.wParam;
    return static_cast<WPARAM>(-1);
}

void ServerTest::ExpectWarning(size_t i, const char* text, int beeps) {
    ASSERT_LT(i, modals->boxes.size());
    const harness::Box& b = modals->boxes[i];
    harness::ExpectBox(b, text, "Ошибка.", MB_ICONWARNING, wnd);
    EXPECT_EQ(beeps ? beeps : b.beeps, b.beeps) << text;
    ASSERT_GE(b.beeps, 1) << text;
    EXPECT_EQ(0u, g_beeps.types[b.beeps - 1]) << text;
}
