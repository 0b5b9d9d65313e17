// The POP3 command engine.
//
// One client at a time: g_server.client is the current connection.  Login belongs to the
// connection: a new one starts with no user selected, and only a USER then a PASS on it open the
// mailbox commands.  Frames are collected whole, so a command split over several reads is one
// command and several commands in one read are answered one by one.
#include "engine.h"

#include <cstring>

#include "mailbox.h"
#include "server.h"
#include "users.h"
#include "wire.h"

namespace {

const char kNoAccess[] = "Нет доступа";
const char kReadOnly[] = "Только чтение";
constexpr int STATUS_TEXT_SIZE = 20;

struct Engine {
    sockaddr_in peer;
    char requested_name[wire::LOGIN_ARG_END];
    int user;              // index into g_users of the selected user; -1 when none
    bool logged_in;
    wire::Collector in;    // the command frame being put together
};
Engine g_engine;

bool HaveClient() { return g_server.client != INVALID_SOCKET; }

void Send(const unsigned char* bytes, std::size_t len) {
    send(g_server.client, reinterpret_cast<const char*>(bytes), static_cast<int>(len), 0);
}

void SendStatus(bool positive) {
    unsigned char frame[wire::STATUS_FRAME_SIZE];
    wire::BuildStatus(frame, positive);
    Send(frame, sizeof frame);
}

void ForgetLogin() {
    g_engine.user = -1;
    g_engine.logged_in = false;
}

// The selected user still has a record and PASS succeeded on this connection.
bool Authorized() {
    return g_engine.logged_in && g_engine.user >= 0 && g_engine.user < static_cast<int>(g_users.count);
}

// Column 4 of the user's row: the access rule is read from what the administrator sees.
void ReadStatusText(char (&text)[STATUS_TEXT_SIZE]) {
    text[0] = '\0';
    LVITEMA item = {};
    item.iSubItem = 4;
    item.pszText = text;
    item.cchTextMax = STATUS_TEXT_SIZE;
    SendMessageA(g_server.user_list, LVM_GETITEMTEXTA, g_engine.user, reinterpret_cast<LPARAM>(&item));
    text[STATUS_TEXT_SIZE - 1] = '\0';
}

// The letter that a RETR or DELE number names, or null when it names no served letter.
LetterRecord* ServedLetter(const wire::ParsedCommand& c) {
    if (!c.has_number || c.number < 1 || c.number > g_letters.count || c.number > MAX_LETTERS) return nullptr;
    return &g_letters.letters[c.number - 1];
}

void DoUser(const wire::ParsedCommand& c) {
    ForgetLogin();
    CopyText(g_engine.requested_name, sizeof g_engine.requested_name, c.arg_valid ? c.arg : "");
    SendStatus(c.arg_valid && FindUser());
}

void DoPass(const wire::ParsedCommand& c) {
    g_engine.logged_in = false;
    bool ok = c.arg_valid && g_engine.user >= 0 && g_engine.user < static_cast<int>(g_users.count) &&
              std::strncmp(c.arg, g_users.users[g_engine.user].password, PASSWORD_SIZE) == 0 &&
              std::strlen(c.arg) < PASSWORD_SIZE;
    SendStatus(ok);
    if (!ok) return;
    g_engine.logged_in = true;
    LoadLetters(g_engine.user);
}

void DoStat() {
    if (!Authorized()) { SendStatus(false); return; }
    int count = 0;
    std::uint64_t size = 0;
    MeasureMailbox(g_engine.user, &count, &size);
    g_users.users[g_engine.user].letter_count = count;
    unsigned char frame[wire::STAT_FRAME_SIZE];
    if (count < 0 || !wire::BuildStat(frame, static_cast<std::uint32_t>(count), size)) {
        SendStatus(false);
        return;
    }
    Send(frame, sizeof frame);
}

void DoList() {
    if (!Authorized()) { SendStatus(false); return; }
    LoadLetters(g_engine.user);
    int count = g_letters.count;
    if (count < 0) count = 0;
    if (count > MAX_LETTERS) count = MAX_LETTERS;
    g_users.users[g_engine.user].letter_count = count;
    std::uint32_t sizes[MAX_LETTERS];
    for (int i = 0; i < count; ++i) sizes[i] = g_letters.letters[i].size;
    unsigned char frame[wire::DATA_FRAME_SIZE];
    if (count == 0 || !wire::BuildList(frame, sizes, static_cast<std::size_t>(count))) {
        SendStatus(false);
        return;
    }
    Send(frame, sizeof frame);
}

void DoRetr(const wire::ParsedCommand& c) {
    if (!Authorized()) { SendStatus(false); return; }
    char status[STATUS_TEXT_SIZE];
    ReadStatusText(status);
    if (std::strcmp(status, kNoAccess) == 0) {
        SoundBeep(MB_OK);
        SendStatus(false);
        return;
    }
    LetterRecord* letter = ServedLetter(c);
    if (!letter || letter->is_deleted) { SendStatus(false); return; }
    std::size_t len = letter->size;
    if (len > wire::MAX_DATA_TEXT) len = wire::MAX_DATA_TEXT;
    unsigned char frame[wire::DATA_FRAME_SIZE];
    wire::BuildRetr(frame, reinterpret_cast<const unsigned char*>(letter->text), len);
    Send(frame, sizeof frame);
    letter->is_read = 1;
}

void DoDele(const wire::ParsedCommand& c) {
    if (!Authorized()) { SendStatus(false); return; }
    char status[STATUS_TEXT_SIZE];
    ReadStatusText(status);
    if (std::strcmp(status, kReadOnly) == 0) {
        SoundBeep(MB_OK);
        SendStatus(false);
        return;
    }
    LetterRecord* letter = ServedLetter(c);
    if (!letter || letter->is_deleted) { SendStatus(false); return; }
    SendStatus(true);
    letter->is_deleted = 1;
}

// Returns false when the connection is gone afterwards.
bool DoQuit() {
    if (Authorized()) CommitMailbox(g_engine.user);
    SendStatus(true);
    if (closesocket(g_server.client) == SOCKET_ERROR) {
        SendStatus(false);
        return true;
    }
    g_server.client = INVALID_SOCKET;
    ForgetLogin();
    EnableButton(g_server.pause_button, false);
    return false;
}

// Answers one whole command frame; false when the connection was closed by it.
bool Serve(const unsigned char* frame) {
    wire::ParsedCommand c = wire::ParseCommand(frame, wire::COMMAND_FRAME_SIZE);
    switch (c.cmd) {
    case wire::Command::User: DoUser(c); break;
    case wire::Command::Pass: DoPass(c); break;
    case wire::Command::Stat: DoStat(); break;
    case wire::Command::List: DoList(); break;
    case wire::Command::Retr: DoRetr(c); break;
    case wire::Command::Dele: DoDele(c); break;
    case wire::Command::Quit: return DoQuit();
    case wire::Command::None: break;
    }
    return true;
}

enum class ReadResult { Later, PeerClosed };

// Reads everything waiting on the current connection and answers every whole frame.  A stale
// event (the handle may have been reused) finds nothing waiting: WSAEWOULDBLOCK, nothing done.
ReadResult ReadCommands() {
    unsigned char buf[wire::DATA_FRAME_SIZE];
    for (;;) {
        if (!HaveClient()) return ReadResult::Later;
        int n = recv(g_server.client, reinterpret_cast<char*>(buf), sizeof buf, 0);
        if (n == 0) return ReadResult::PeerClosed;
        if (n == SOCKET_ERROR) {
            int err = WSAGetLastError();
            return err == WSAEWOULDBLOCK || err == WSAEINTR || err == WSAEINPROGRESS ? ReadResult::Later
                                                                                     : ReadResult::PeerClosed;
        }
        std::size_t pos = 0;
        while (pos < static_cast<std::size_t>(n)) {
            pos += wire::CollectorFeed(g_engine.in, buf + pos, static_cast<std::size_t>(n) - pos);
            if (!wire::CollectorFull(g_engine.in)) break;
            unsigned char frame[wire::COMMAND_FRAME_SIZE];
            std::memcpy(frame, g_engine.in.data, sizeof frame);
            wire::CollectorReset(g_engine.in, wire::COMMAND_FRAME_SIZE);
            if (!Serve(frame)) return ReadResult::Later;
        }
    }
}

void OnAccept() {
    int len = sizeof g_engine.peer;
    SOCKET s = accept(g_server.listener, reinterpret_cast<sockaddr*>(&g_engine.peer), &len);
    if (s == INVALID_SOCKET) return;
    // The replaced connection is closed only now, after the accept, so its handle value cannot be
    // handed to the new one while events of the old are still queued.
    if (HaveClient()) closesocket(g_server.client);
    g_server.client = s;
    ForgetLogin();
    g_engine.requested_name[0] = '\0';
    wire::CollectorReset(g_engine.in, wire::COMMAND_FRAME_SIZE);
    SendStatus(true);
    EnableButton(g_server.pause_button, true);
}

}  // namespace

LRESULT OnSocketEvent(HWND, WPARAM wp, LPARAM lp) {
    SOCKET s = static_cast<SOCKET>(wp);
    switch (WSAGETSELECTEVENT(lp)) {
    case FD_ACCEPT:
        if (g_server.listener != INVALID_SOCKET && s == g_server.listener) OnAccept();
        break;
    case FD_READ:
        // A failed or empty read changes nothing here; the close event that follows ends it.
        if (HaveClient() && s == g_server.client) ReadCommands();
        break;
    case FD_CLOSE:
        // Commands that came before the close are still answered; the connection is closed only
        // when the socket really is at its end.
        if (HaveClient() && s == g_server.client && ReadCommands() == ReadResult::PeerClosed) DropClient();
        break;
    default:
        break;
    }
    return 0;
}

bool FindUser() {
    for (std::uint32_t i = 0; i < g_users.count && i < MAX_USERS; ++i) {
        const UserRecord& u = g_users.users[i];
        if (std::strncmp(u.name, g_engine.requested_name, NAME_SIZE) == 0) {
            g_engine.user = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

bool CloseClient() {
    bool ok = true;
    if (HaveClient()) ok = closesocket(g_server.client) != SOCKET_ERROR;
    g_server.client = INVALID_SOCKET;
    ForgetLogin();
    return ok;
}

bool DropClient() {
    bool ok = CloseClient();
    EnableButton(g_server.pause_button, false);
    return ok;
}

void OnUserDeleted(int index) {
    if (!HaveClient() || g_engine.user < 0) return;
    if (index == g_engine.user) DropClient();
    else if (index < g_engine.user) --g_engine.user;
}

int CurrentUser() { return g_engine.user; }
bool LoggedIn() { return g_engine.logged_in; }

void ResetEngine() {
    g_engine = Engine{};
    ForgetLogin();
    wire::CollectorReset(g_engine.in, wire::COMMAND_FRAME_SIZE);
}
