// The user registry: Users.db, the user table, the user list view, the user commands and the
// user dialog.
#include "users.h"

#include <cstdio>
#include <cstring>

#include "fileio.h"
#include "log.h"
#include "mailbox.h"
#include "server.h"

UserTable g_users;
UserRecord g_staging;

namespace {

const char kUsersFile[] = "Users.db";
const char kUsersTemp[] = "Users.tmp";

const char kOpenFailed[] = "Ошибка открытия файла пользователей!";
const char kWriteFailed[] = "Ошибка при записи файла!";
const char kReadFailed[] = "Ошибка при чтении файла пользователей!";
const char kTooMany[] = "В файле пользователей больше 20 записей! Загружены первые 20.";
const char kTableFull[] = "Нельзя добавить больше 20 пользователей!";
const char kBadName[] = "Недопустимое имя пользователя!";
const char kNameTaken[] = "Пользователь с таким именем уже существует!";
const char kNoMailbox[] = "Ошибка при создании почтового ящика!";

// Set once the table and the list were filled from Users.db.  They then agree as long as the
// list has a row per record: Stop empties the list, and the commands load the registry again.
bool s_loaded;
// The record the user dialog edits (its name may stay), -1 for a new user.
int s_editing = -1;
// Counts the changes of the user table, so that a connection can tell that its index may have
// come to name another user.
unsigned s_generation;

HANDLE OpenUsers(DWORD disposition) {
    return CreateFileA(kUsersFile, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

DWORD WholeRecords(HANDLE file) {
    DWORD size = GetFileSize(file, nullptr);
    return size == INVALID_FILE_SIZE ? 0 : size / USER_RECORD_SIZE;
}

bool ReadRecord(HANDLE file, UserRecord& rec) {
    unsigned char raw[USER_RECORD_SIZE];
    DWORD got = 0;
    if (!ReadData(file, raw, sizeof raw, &got) || got != sizeof raw) return false;
    DecodeUserRecord(raw, rec);
    return true;
}

int ListRows() { return static_cast<int>(SendMessageA(g_server.user_list, LVM_GETITEMCOUNT, 0, 0)); }

bool InSync() { return s_loaded && static_cast<std::uint32_t>(ListRows()) == g_users.count; }

void SetCell(int row, int col, const char* text) {
    LVITEMA it = {};
    it.iSubItem = col;
    it.pszText = const_cast<char*>(text);
    SendMessageA(g_server.user_list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&it));
}

// The text of a cell, cut to the buffer.
void GetCell(int row, int col, char* text, int size) {
    text[0] = '\0';
    LVITEMA it = {};
    it.iSubItem = col;
    it.pszText = text;
    it.cchTextMax = size;
    SendMessageA(g_server.user_list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&it));
    text[size - 1] = '\0';
}

// Column 4 shows the status text; a level without one shows the text of column 3.
void SetStatusCell(int row, std::int32_t level, const char* count_text) {
    const char* status = AccessStatusText(level);
    SetCell(row, 4, status ? status : count_text);
}

void AddRow(int row, const UserRecord& rec, int letters) {
    char count[16];
    std::snprintf(count, sizeof count, "%d", letters);
    LVITEMA it = {};
    it.mask = LVIF_TEXT | LVIF_IMAGE;
    it.iItem = row;
    it.iImage = 0;
    it.pszText = const_cast<char*>(rec.name);
    SendMessageA(g_server.user_list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it));
    SetCell(row, 1, rec.ip_address);
    SetCell(row, 2, rec.password);
    SetCell(row, 3, count);
    SetStatusCell(row, rec.access_level, count);
}

// Record i of the table, its letter count and its row, as a load fills them.
void TakeRecord(HANDLE file, std::uint32_t i) {
    if (!ReadRecord(file, g_users.users[i])) {
        g_users.users[i] = UserRecord{};
        FileWarning(kReadFailed);
    }
    int letters = CountLetters(MailboxFolder(static_cast<int>(i)));
    g_users.users[i].letter_count = letters;
    AddRow(static_cast<int>(i), g_users.users[i], letters);
}

// The table and the list from the first 20 records of the open file.
void FillFromFile(HANDLE file) {
    // The list is drawn once, when it is whole, not for every cell.
    SendMessageA(g_server.user_list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(g_server.user_list, LVM_DELETEALLITEMS, 0, 0);
    DWORD records = WholeRecords(file);
    g_users.count = records < MAX_USERS ? records : static_cast<DWORD>(MAX_USERS);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    for (std::uint32_t i = 0; i < g_users.count; ++i) TakeRecord(file, i);
    SendMessageA(g_server.user_list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(g_server.user_list, nullptr, TRUE);
    s_loaded = true;
    ++s_generation;
    if (records > MAX_USERS) FileWarning(kTooMany);
}

// After a deletion the file may hold records beyond the table: the table takes them up to 20.
void TakeUpTail() {
    HANDLE file = OpenUsers(OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD records = WholeRecords(file);
    SetFilePointer(file, static_cast<LONG>(g_users.count * USER_RECORD_SIZE), nullptr, FILE_BEGIN);
    while (g_users.count < MAX_USERS && g_users.count < records) TakeRecord(file, g_users.count++);
    CloseHandle(file);
}

// Writes Users.db anew through a temporary file: the table's records, leaving out record `omit`
// and taking record `replace` from `with`, then the file's own records from number `tail_from`
// on, which the table does not hold.  On failure the old file stays as it was.
bool RewriteUsers(int omit, int replace, const UserRecord* with, DWORD tail_from) {
    HANDLE old = CreateFileA(kUsersFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (old == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) {
        FileWarning(kOpenFailed);
        return false;
    }
    HANDLE tmp = CreateFileA(kUsersTemp, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (tmp == INVALID_HANDLE_VALUE) {
        if (old != INVALID_HANDLE_VALUE) CloseHandle(old);
        FileWarning(kOpenFailed);
        return false;
    }
    bool ok = true;
    unsigned char raw[USER_RECORD_SIZE];
    for (std::uint32_t i = 0; ok && i < g_users.count; ++i) {
        if (static_cast<int>(i) == omit) continue;
        EncodeUserRecord(static_cast<int>(i) == replace ? *with : g_users.users[i], raw);
        ok = WriteWhole(tmp, raw, sizeof raw);
    }
    if (old != INVALID_HANDLE_VALUE) {
        DWORD records = WholeRecords(old);
        SetFilePointer(old, static_cast<LONG>(tail_from * USER_RECORD_SIZE), nullptr, FILE_BEGIN);
        for (DWORD r = tail_from; ok && r < records; ++r) {
            DWORD got = 0;
            ok = ReadFile(old, raw, sizeof raw, &got, nullptr) && got == sizeof raw && WriteWhole(tmp, raw, sizeof raw);
        }
        CloseHandle(old);
    }
    CloseHandle(tmp);
    if (!ok) {
        DeleteFileA(kUsersTemp);
        FileWarning(kWriteFailed);
        return false;
    }
    if (!ReplaceWith(kUsersTemp, kUsersFile)) {
        DeleteFileA(kUsersTemp);
        FileWarning(kOpenFailed);
        return false;
    }
    return true;
}

int SelectedRow() {
    int sel = static_cast<int>(SendMessageA(g_server.user_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                            MAKELPARAM(LVNI_SELECTED, 0)));
    return sel >= 0 && static_cast<std::uint32_t>(sel) < g_users.count ? sel : -1;
}

const char* NameProblem(const char* name) {
    if (!IsValidUserName(name)) return kBadName;
    for (std::uint32_t i = 0; i < g_users.count; ++i)
        if (static_cast<int>(i) != s_editing && lstrcmpiA(g_users.users[i].name, name) == 0) return kNameTaken;
    return nullptr;
}

void FillStatusList(HWND dlg) {
    // Added in this order; the list is sorted, so an entry's index is its level.
    const std::int32_t levels[] = {ACCESS_FULL, ACCESS_READ_ONLY, ACCESS_NONE};
    for (std::int32_t level : levels)
        SendDlgItemMessageA(dlg, IDC_USERSTATUS, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(AccessStatusText(level)));
}

// A name that can't be a mailbox folder, or that another user has, is sent back for correction:
// the dialog stays open.
bool TakeUserFields(HWND dlg) {
    char name[NAME_SIZE] = {};
    GetDlgItemTextA(dlg, IDC_USERNAME, name, sizeof name);
    if (const char* problem = NameProblem(name)) {
        FileWarning(problem);
        SetFocus(GetDlgItem(dlg, IDC_USERNAME));
        return false;
    }
    CopyText(g_staging.name, sizeof g_staging.name, name);
    GetDlgItemTextA(dlg, IDC_USERPASSWORD, g_staging.password, sizeof g_staging.password);
    GetDlgItemTextA(dlg, IDC_USERIP, g_staging.ip_address, sizeof g_staging.ip_address);
    g_staging.access_level = static_cast<std::int32_t>(SendDlgItemMessageA(dlg, IDC_USERSTATUS, CB_GETCURSEL, 0, 0));
    return true;
}

// The user dialog of both commands; editing shows the staging record's fields first.
INT_PTR UserDialog(HWND dlg, UINT msg, WPARAM wp, bool editing) {
    switch (msg) {
    case WM_INITDIALOG:
        if (editing) {
            SetDlgItemTextA(dlg, IDC_USERNAME, g_staging.name);
            SetDlgItemTextA(dlg, IDC_USERPASSWORD, g_staging.password);
            SetDlgItemTextA(dlg, IDC_USERIP, g_staging.ip_address);
        }
        FillStatusList(dlg);
        return TRUE;
    case WM_COMMAND:
        return OnDialogButtons(dlg, wp, TakeUserFields);
    default:
        return FALSE;
    }
}

INT_PTR RunUserDialog(DLGPROC proc) {
    return DialogBoxParamA(g_server.instance, MAKEINTRESOURCEA(IDD_USER), g_server.main, proc, 0);
}

}  // namespace

const char* MailboxFolder(int user) {
    if (user < 0 || static_cast<std::uint32_t>(user) >= g_users.count) return nullptr;
    const char* name = g_users.users[user].name;
    if (!IsValidUserName(name)) return nullptr;
    // Folder names are compared without case: of records that differ only in case (a damaged
    // or hand-made Users.db), the first one owns the folder.
    for (int i = 0; i < user; ++i)
        if (lstrcmpiA(g_users.users[i].name, name) == 0) return nullptr;
    return name;
}

unsigned UserTableGeneration() { return s_generation; }

void ClearUserList() { SendMessageA(g_server.user_list, LVM_DELETEALLITEMS, 0, 0); }

std::int32_t UserAccess(int user) {
    if (user < 0 || static_cast<std::uint32_t>(user) >= g_users.count) return -1;
    return g_users.users[user].access_level;
}

// The count cell follows what STAT and LIST last found, in either protocol.
void SetLetterCount(int user, int count) {
    if (user < 0 || static_cast<std::uint32_t>(user) >= g_users.count) return;
    g_users.users[user].letter_count = count;
    if (!InSync()) return;   // after Stop the rows are gone
    char text[16], shown[16];
    std::snprintf(text, sizeof text, "%d", count);
    GetCell(user, 3, shown, sizeof shown);
    if (std::strcmp(text, shown) == 0) return;   // nothing to redraw
    SetCell(user, 3, text);
    if (!AccessStatusText(g_users.users[user].access_level)) SetCell(user, 4, text);
}

int FindUserIndex(const char* name) {
    for (std::uint32_t i = 0; i < g_users.count && i < MAX_USERS; ++i)
        if (std::strncmp(g_users.users[i].name, name, NAME_SIZE) == 0) return static_cast<int>(i);
    return -1;
}

bool LoadUsers() {
    HANDLE file = OpenUsers(OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        FileWarning("Файл пользователей поврежден или не существует!");
        return false;
    }
    FillFromFile(file);
    CloseHandle(file);
    return true;
}

void OnNewUserCommand() {
    if (!g_server.unlocked) return;   // posted by another program past the greyed menu
    HANDLE file = OpenUsers(OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        FileWarning(kOpenFailed);
        return;
    }
    // The new record goes in at the table's end: the table must hold the file's records.
    DWORD records = WholeRecords(file);
    if (!InSync() || (records < MAX_USERS ? records : static_cast<DWORD>(MAX_USERS)) != g_users.count)
        FillFromFile(file);
    if (g_users.count >= MAX_USERS) {
        CloseHandle(file);
        FileWarning(kTableFull);
        return;
    }
    s_editing = -1;
    if (RunUserDialog(NewUserDialogProc) != IDOK) {
        CloseHandle(file);
        return;
    }
    // The mailbox comes first: a user whose folder can't be made is not registered.  A folder
    // left behind by an earlier user of the name is taken over, with the warning.
    bool made = CreateDirectoryA(g_staging.name, nullptr) != FALSE;
    if (!made) {
        DWORD attrs = GetFileAttributesA(g_staging.name);
        if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
                                                    FILE_ATTRIBUTE_DIRECTORY) {
            CloseHandle(file);
            FileWarning(kNoMailbox);
            return;
        }
    }
    // The record goes right behind the last whole one, over the bytes of a damaged tail; those
    // bytes are put back when the write fails.
    DWORD size = GetFileSize(file, nullptr);
    DWORD at = g_users.count * USER_RECORD_SIZE;
    unsigned char tail[USER_RECORD_SIZE];
    DWORD tail_size = 0;
    SetFilePointer(file, static_cast<LONG>(at), nullptr, FILE_BEGIN);
    if (size > at) ReadFile(file, tail, size - at < sizeof tail ? size - at : sizeof tail, &tail_size, nullptr);
    unsigned char raw[USER_RECORD_SIZE];
    EncodeUserRecord(g_staging, raw);
    SetFilePointer(file, static_cast<LONG>(at), nullptr, FILE_BEGIN);
    if (!WriteWhole(file, raw, sizeof raw)) {
        DWORD done = 0;
        SetFilePointer(file, static_cast<LONG>(at), nullptr, FILE_BEGIN);
        if (tail_size) WriteFile(file, tail, tail_size, &done, nullptr);
        SetFilePointer(file, static_cast<LONG>(size), nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
        if (made) RemoveDirectoryA(g_staging.name);
        FileWarning(kWriteFailed);
        return;
    }
    CloseHandle(file);
    std::uint32_t i = g_users.count++;
    g_users.users[i] = g_staging;
    AddRow(static_cast<int>(i), g_staging, g_staging.letter_count);
    LogLine(logsrc::ADMIN, 0, "user-added").Text("user", g_staging.name).Write();
    if (!made) FileWarning(kNoMailbox);
}

void OnDelUserCommand() {
    if (!g_server.unlocked) return;
    // Before the first Start and after Stop the list does not show the table: load the registry,
    // and the administrator picks the user from the filled list.
    if (!InSync()) LoadUsers();
    int sel = SelectedRow();
    if (sel < 0) return;
    char name[NAME_SIZE];
    CopyText(name, sizeof name, g_users.users[sel].name);
    bool own_mailbox = MailboxFolder(sel) != nullptr;   // an alias must not remove another's folder
    // The file goes first: when it can't be rewritten, the user stays in file, table and list.
    if (!RewriteUsers(sel, -1, nullptr, g_users.count)) return;
    SendMessageA(g_server.user_list, LVM_DELETEITEM, sel, 0);
    if (own_mailbox) RemoveDirectoryA(name);
    for (std::uint32_t i = sel; i + 1 < g_users.count; ++i) g_users.users[i] = g_users.users[i + 1];
    g_users.users[--g_users.count] = UserRecord{};
    TakeUpTail();
    ++s_generation;
    LogLine(logsrc::ADMIN, 0, "user-deleted").Text("user", name).Write();
}

void OnEditUserCommand() {
    if (!g_server.unlocked) return;
    if (!InSync()) LoadUsers();
    int sel = SelectedRow();
    if (sel < 0) return;
    const UserRecord& rec = g_users.users[sel];
    CopyText(g_staging.name, sizeof g_staging.name, rec.name);
    CopyText(g_staging.ip_address, sizeof g_staging.ip_address, rec.ip_address);
    CopyText(g_staging.password, sizeof g_staging.password, rec.password);
    s_editing = sel;
    INT_PTR result = RunUserDialog(EditUserDialogProc);
    s_editing = -1;
    if (result != IDOK) return;
    if (!RewriteUsers(-1, sel, &g_staging, g_users.count)) return;
    LogLine(logsrc::ADMIN, 0, "user-changed").Text("user", rec.name).Text("name", g_staging.name).Write();
    g_users.users[sel] = g_staging;
    ++s_generation;
    SetCell(sel, 0, g_staging.name);
    SetCell(sel, 1, g_staging.ip_address);
    SetCell(sel, 2, g_staging.password);
    char count[16];
    GetCell(sel, 3, count, sizeof count);
    SetStatusCell(sel, g_staging.access_level, count);
}

INT_PTR CALLBACK NewUserDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) { return UserDialog(dlg, msg, wp, false); }

INT_PTR CALLBACK EditUserDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) { return UserDialog(dlg, msg, wp, true); }

void ResetUsers() {
    g_users = UserTable{};
    g_staging = UserRecord{};
    s_loaded = false;
    s_editing = -1;
}
