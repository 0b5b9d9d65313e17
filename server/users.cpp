// The user registry.
#include "users.h"

#include "server.h"

UserTable g_users;
UserRecord g_staging;

bool LoadUsers() { return false; }
void SaveUsers() {}
void OnNewUserCommand() {}
void OnDelUserCommand() {}
void OnEditUserCommand() {}

void ResetUsers() {
    g_users = UserTable{};
    g_staging = UserRecord{};
}
