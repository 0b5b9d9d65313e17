// The administrator password: read from Admin.psw at start-up; the password dialog; the lock.
#include "password.h"

#include "log.h"

#include <cstring>

#include "server.h"
#include "fileio.h"

namespace {

const char kPasswordFile[] = "Admin.psw";
const char kPasswordTemp[] = "Admin.tmp";

// The commands the lock guards.
const int kLocked[] = {IDM_NEWUSER, IDM_DELUSER, IDM_EDITUSER, IDM_SETPASSWORD};

// The entry of the last dialog: at most 10 characters, zero bytes up to the end.
char s_entry[ADMIN_PASSWORD_SIZE];

bool TakeEntry(HWND dlg) {
    std::memset(s_entry, 0, sizeof s_entry);
    GetDlgItemTextA(dlg, IDC_ADMINPASSWORD, s_entry, sizeof s_entry);
    return true;
}

INT_PTR CALLBACK PasswordDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    return msg == WM_COMMAND ? OnDialogButtons(dlg, wp, TakeEntry) : FALSE;
}

// Both commands have a procedure of their own on the one dialog.
INT_PTR CALLBACK EnterPasswordProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    return PasswordDialogProc(dlg, msg, wp, lp);
}
INT_PTR CALLBACK SetPasswordProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    return PasswordDialogProc(dlg, msg, wp, lp);
}

bool AskPassword(DLGPROC proc) {
    return DialogBoxParamA(g_server.instance, MAKEINTRESOURCEA(IDD_PASSWORD), g_server.main, proc, 0) == IDOK;
}

}  // namespace

void ReadAdminPassword() {
    std::memset(g_server.admin_password, 0, sizeof g_server.admin_password);
    HANDLE file = CreateFileA(kPasswordFile, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        FileWarning("Файл пароля поврежден или не существует!");
        return;
    }
    char bytes[ADMIN_PASSWORD_SIZE] = {};
    DWORD got = 0;
    if (!ReadData(file, bytes, ADMIN_PASSWORD_SIZE, &got))
        FileWarning("Ошибка при чтении файла пароля!");
    else
        std::memcpy(g_server.admin_password, bytes, got);   // the terminator after byte 11 stays zero
    CloseHandle(file);
}

void OnPasswordCommand() {
    if (!AskPassword(EnterPasswordProc)) return;
    if (std::strcmp(s_entry, g_server.admin_password) != 0) {
        FileWarning("Неверный пароль!");
        return;
    }
    g_server.unlocked = true;
    for (int id : kLocked) EnableCommand(id, true);
}

// The new password applies from the next start.  Admin.psw is replaced whole, so a failed write
// never leaves an empty or cut password behind.
void OnSetPasswordCommand() {
    if (!g_server.unlocked) return;
    if (!AskPassword(SetPasswordProc)) return;
    HANDLE file = CreateFileA(kPasswordTemp, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        FileWarning("Ошибка создания файла пароля!");
        return;
    }
    bool written = WriteWhole(file, s_entry, sizeof s_entry);
    CloseHandle(file);
    if (!written) {
        DeleteFileA(kPasswordTemp);
        FileWarning("Ошибка при записи файла!");
        return;
    }
    if (!ReplaceWith(kPasswordTemp, kPasswordFile)) {
        DeleteFileA(kPasswordTemp);
        FileWarning("Ошибка создания файла пароля!");
        return;
    }
    LogLine(logsrc::ADMIN, 0, "password-set").Write();
}
