// The user record: the same 55 packed bytes in Users.db and, field by field, in the user table,
// and the rules for the names that become mailbox folders.  No Windows header here, so the
// record's byte layout and the name rules are also tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t USER_RECORD_SIZE = 55;
constexpr std::size_t MAX_USERS = 20;

// Field offsets and widths in the 55-byte record.
constexpr std::size_t NAME_OFFSET = 0, NAME_SIZE = 20;
constexpr std::size_t IP_OFFSET = 20, IP_SIZE = 17;
constexpr std::size_t PASSWORD_OFFSET = 37, PASSWORD_SIZE = 10;
constexpr std::size_t LETTER_COUNT_OFFSET = 47;
constexpr std::size_t ACCESS_LEVEL_OFFSET = 51;
static_assert(ACCESS_LEVEL_OFFSET + 4 == USER_RECORD_SIZE, "a user record is 55 bytes");
static_assert(NAME_OFFSET + NAME_SIZE == IP_OFFSET && IP_OFFSET + IP_SIZE == PASSWORD_OFFSET &&
                  PASSWORD_OFFSET + PASSWORD_SIZE == LETTER_COUNT_OFFSET &&
                  LETTER_COUNT_OFFSET + 4 == ACCESS_LEVEL_OFFSET,
              "the fields follow each other without gaps");

enum AccessLevel : std::int32_t {
    ACCESS_NONE = 0,
    ACCESS_FULL = 1,
    ACCESS_READ_ONLY = 2,
};

struct UserRecord {
    char name[NAME_SIZE];              // at most 19 characters and a NUL; also the mailbox folder
    char ip_address[IP_SIZE];          // at most 16 characters
    char password[PASSWORD_SIZE];      // at most 9 characters
    std::int32_t letter_count;
    std::int32_t access_level;         // an AccessLevel, or -1 when no status was chosen
};

struct UserTable {
    UserRecord users[MAX_USERS];
    std::uint32_t count;
};

// "Нет доступа", "Полный доступ", "Только чтение"; null for a level outside 0 to 2.
const char* AccessStatusText(std::int32_t level);

// Field by field, little-endian; text fields are written up to their NUL and zero-filled after.
void EncodeUserRecord(const UserRecord& rec, unsigned char (&out)[USER_RECORD_SIZE]);
// Text fields are read bounded: a field of a damaged file with no NUL keeps its first
// width - 1 bytes and is terminated.
void DecodeUserRecord(const unsigned char (&in)[USER_RECORD_SIZE], UserRecord& rec);

// Copies src into a fixed field of `size` bytes, cut to size - 1 characters, NUL-terminated.
void CopyText(char* dst, std::size_t size, const char* src);

// A name that can be a file or folder of its own inside a folder: not empty, none of
// \ / : * ? " < > | and no control character, no trailing dot or space (Windows drops them, so
// "ivan." opens "ivan"), and not a device (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$,
// CLOCK$), whatever extension follows.
bool IsPlainFileName(const char* name);
// A name that can be a user's mailbox folder in the server's folder: a plain file name without
// '~' (which may make it the short form of another folder's long name) and none of the server's
// own files.
bool IsValidUserName(const char* name);
