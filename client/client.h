// Program-wide state of Vindle and the helpers every part of the client shares.
#pragma once

#include <winsock.h>
#include <windows.h>
#include <commctrl.h>

#include "app.h"
#include "resource.h"
#include "wire.h"

// The conversation state.  From StatSent on it names the last command sent.
enum ClientState {
    NotConnected = 0,
    Connected = 1,
    UserSent = 2,
    PassSent = 3,
    StatSent = 4,
    ListSent = 5,
    RetrSent = 6,
    DeleSent = 7,
    QuitSent = 8,
};

constexpr int SERVER_ADDR_SIZE = 16;    // 15 characters and the NUL
constexpr int USER_NAME_SIZE = 20;      // 19 characters and the NUL
constexpr int PASSWORD_SIZE = 10;       // 9 characters and the NUL
constexpr int LETTER_TEXT_SIZE = 1000;

// The server answers in order, so the commands sent and not yet answered wait in a queue, each
// with the letter-list row it was about; every reply is read as the answer to the oldest of them.
constexpr int MAX_PENDING = 16;
struct PendingCommand {
    ClientState command;   // the command the reply answers (Connected: the greeting)
    int row;               // the read or delete row of RETR and DELE, else -1
    char number[4];        // the letter number RETR and DELE carried, to find the row after a new listing
};
struct PendingQueue {
    PendingCommand items[MAX_PENDING];   // a ring: `count` commands from `first` on, oldest first
    int first, count;
};

struct ClientGlobals {
    HINSTANCE instance;
    HWND main;
    HWND letter_text, status_line, letter_list;
    HWND connect_button, disconnect_button, statistics_button, list_button, read_button,
        delete_button, quit_button;
    unsigned short port;           // POP3_PORT; the in-process tests use another
    SOCKET socket;                 // the connection, INVALID_SOCKET when there is none
    ClientState state;             // the conversation: connected, logged in, the last command sent

    char server_addr[SERVER_ADDR_SIZE];
    char user_name[USER_NAME_SIZE];
    char password[PASSWORD_SIZE];

    PendingQueue pending;          // like the socket and `unsent`, changed only by connection.cpp
    wire::Collector reply;         // the reply being put together
    // A reply is being handled (its box may be open): replies that arrive meanwhile wait for it.
    bool handling;
    bool read_waiting;             // a read event came while handling
    bool peer_closed;              // the server has closed: no event will come for what is left
    // Frames the socket has not taken yet: only those of commands still waiting for their reply.
    unsigned char unsent[MAX_PENDING * wire::COMMAND_FRAME_SIZE];
    std::size_t unsent_len;
    char letter_text_buffer[LETTER_TEXT_SIZE];
};
extern ClientGlobals g_client;

// A refused command: a default beep, then a box with no owner, caption "Connect Error!", error icon.
void ConnectError(const char* text);
// The mailbox statistics: no owner, caption "Статистика.", information icon.
void StatisticsBox(const char* text);

// Enabling of the controls: the connection is down, up without greeting, greeted, logged in.
enum ControlSet { ControlsIdle, ControlsConnected, ControlsGreeted, ControlsLoggedIn };
void SetControls(ControlSet set);
// The text of a letter-list cell, cut to `size` (empty for a row that isn't there).
void GetLetterCell(int row, int column, char* text, int size);

// Window class, main window and its procedure.
bool RegisterClientClass(HINSTANCE instance);
HWND CreateClientWindow(HINSTANCE instance);
LRESULT CALLBACK ClientWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

// Puts the client back to its start-up state (the socket is forgotten, not closed; the instance
// too: the caller sets it).
void ResetClientState();

// commands.cpp
void OnClientCommand(HWND hwnd, int id);

// connection.cpp: the only part that changes the socket, the pending queue and the unsent frames.
// Opens the connection to the address of the connect dialog and awaits the greeting; false, after
// its box, when there is none.
bool OpenConnection(HWND hwnd);
// Sets the state to `command`, queues the command for its reply and sends its frame, or as much
// of it as the socket takes now; false when it was refused or the connection broke.
bool SendCommand(ClientState command, int row, wire::Command cmd, const char* arg);
// Sends what the socket would not take before (FD_WRITE).
void SendUnsent();
// The command the next reply answers; false when none is waiting for one.
bool NextCommand(PendingCommand& cmd);
// Takes the oldest command off the queue: its reply has come.
void PopCommand();
// A new listing came: every command about a letter row names its row in the new list, found by
// the letter's number (-1 when it is gone).
void RefindPendingRows(int (*find_row)(const char* number));
// Closes the socket and forgets every command still waiting; closesocket's result.  Nothing else
// changes: for the window's end.
int ReleaseConnection();
// Ends the connection: closes it, resets the buttons and beeps.  Disconnect and a positive QUIT
// reply also empty the letter list and the letter text; a connection that broke leaves them.
enum LetterView { KeepLetters, ClearLetters };
void CloseConnection(LetterView view);

// replies.cpp
LRESULT OnSocketEvent(HWND hwnd, WPARAM wp, LPARAM lp);
