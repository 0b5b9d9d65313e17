// The administrator password: read from Admin.psw at start-up; the password dialog; the lock.
#include "password.h"

#include <cstring>

#include "server.h"

namespace {
const char kPasswordFile[] = "Admin.psw";
}

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
    if (!ReadFile(file, bytes, ADMIN_PASSWORD_SIZE, &got, nullptr))
        FileWarning("Ошибка при чтении файла пароля!");
    else
        std::memcpy(g_server.admin_password, bytes, got);   // the terminator after byte 11 stays zero
    CloseHandle(file);
}

void OnPasswordCommand() {}
void OnSetPasswordCommand() {}
