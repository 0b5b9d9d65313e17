// The fixture of the in-process server tests: each test gets a fresh program state, its own
// empty working folder, and a Modals that answers and records every dialog and message box.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "harness.h"
#include "server.h"
#include "window.h"

class ServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Creates the server main window in the test's folder (Admin.psw is read now).
    HWND OpenWindow();
    // Writes Admin.psw with these bytes, then opens the window.
    HWND OpenWindowWithPassword(const std::string& psw_bytes);
    // Sends a command as a click or a menu choice would; returns once it has run, dialogs and
    // boxes included.
    void Command(int id);
    // Closes the window as its close box does; returns the wParam of the quit message posted.
    WPARAM CloseWindow();

    std::unique_ptr<harness::TempDir> dir;
    std::unique_ptr<harness::Modals> modals;
    HWND wnd = nullptr;
    bool winsock_started = false;
};
