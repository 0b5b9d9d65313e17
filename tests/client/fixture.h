// The fixture of the in-process client tests: a fresh program state, the client main window, a
// Modals that answers and records every dialog and message box, and a scripted server: a
// listening socket of the test on 127.0.0.1 and an ephemeral port that takes the client's
// connection, sends replies whole, in pieces or late, and records the frames it receives.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "client.h"
#include "harness.h"

// Replies as they travel.
std::string Ok();                                  // "+Ok", NUL, filler
std::string Err();                                 // "-Erro"
std::string StatReply(const std::string& payload);   // "+Ok", NUL, space, payload, padded to 20
std::string DataReply(const std::string& payload);    // "+Ok", NUL, space, payload, padded to 1000
// A 100-byte command frame as the client is to send it: the text, then zeros.
std::string Frame(const std::string& text);

class ClientTest : public harness::AppTest {
protected:
    ClientTest() : AppTest(RegisterClientClass, CreateClientWindow, &g_beeps.count) {}
    void SetUp() override;
    void TearDown() override;

    // Queues the connect dialog's answer: the three fields, then OK.
    void AnswerConnect(const std::string& addr, const std::string& user, const std::string& pass);
    // Connect with the dialog answered, then the scripted server accepts; false when no
    // connection came.
    bool Connect(const std::string& user = "ivan", const std::string& pass = "secret");
    // Connect, greeting, USER, PASS: logged in.
    void LogIn();
    // Presses a button and receives its command frame, which must carry `text`; true when it did.
    bool Press(int id, const std::string& text);
    // LIST pressed and answered with this payload; returns once the list shows `rows` rows.
    void List(const std::string& payload, int rows);

    // The scripted server's side.
    void Send(const std::string& bytes);
    // Receives one whole command frame (pumping the client's messages meanwhile); "" on timeout.
    std::string ReceiveFrame(DWORD ms = 3000);
    // True when no byte arrives from the client within `ms`.
    bool NothingReceived(DWORD ms = 150);
    void ServerClose();
    // Pumps until done() or about two seconds.
    bool Until(const std::function<bool()>& done, DWORD ms = 2000) { return harness::PumpUntil(done, ms); }

    static bool Enabled(HWND h) { return IsWindowEnabled(h) != FALSE; }
    int Boxes() const { return static_cast<int>(modals->boxes.size()); }

    SOCKET listener = INVALID_SOCKET;
    SOCKET peer = INVALID_SOCKET;
};
