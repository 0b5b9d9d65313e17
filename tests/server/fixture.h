// The fixture of the in-process server tests: each test gets a fresh program state, its own
// empty working folder, and a Modals that answers and records every dialog and message box.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "harness.h"
#include "server.h"
#include "window.h"

class ServerTest : public harness::AppTest {
protected:
    ServerTest() : AppTest(RegisterServerClass, CreateServerWindow, &g_beeps.count) {}
    void SetUp() override;
    void TearDown() override;

    // A fresh program state, as at the start of a test (the window, if any, is left alone).
    void FreshState();
    // Writes Admin.psw with these bytes, then opens the window (Admin.psw is read now).
    HWND OpenWindowWithPassword(const std::string& psw_bytes);
    // Closes the window as its close box does; returns the wParam of the quit message posted.
    WPARAM CloseWindow();
    // Box i is the file warning: caption "Ошибка.", warning icon, owned by the main window, a plain
    // beep just before it; `beeps`, when given, is the beep count at the box.
    void ExpectWarning(size_t i, const char* text, int beeps = 0);

    std::unique_ptr<harness::TempDir> dir;
};
