#include "userrecord.h"

#include <cstring>

namespace {

void PutText(unsigned char* out, const char* field, std::size_t width) {
    std::memset(out, 0, width);
    for (std::size_t i = 0; i + 1 < width && field[i]; ++i) out[i] = static_cast<unsigned char>(field[i]);
}

void GetText(char* field, const unsigned char* in, std::size_t width) {
    std::size_t i = 0;
    for (; i + 1 < width && in[i]; ++i) field[i] = static_cast<char>(in[i]);
    std::memset(field + i, 0, width - i);
}

void PutInt32(unsigned char* out, std::int32_t v) {
    std::uint32_t u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(u >> (8 * i));
}

std::int32_t GetInt32(const unsigned char* in) {
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return static_cast<std::int32_t>(u);
}

// Device and file names are ASCII: their case is folded without the code page.
bool SameAscii(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y) return false;
        if (!x) return true;
    }
    return true;
}

bool IsDeviceName(const char* name) {
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    std::size_t n = std::strcspn(name, ".");
    while (n > 0 && name[n - 1] == ' ') --n;   // "nul .msg" is NUL too
    for (const char* d : kDevices)
        if (n == std::strlen(d) && SameAscii(name, d, n)) return true;
    return n == 4 && (SameAscii(name, "COM", 3) || SameAscii(name, "LPT", 3)) && name[3] >= '0' && name[3] <= '9';
}

}  // namespace

const char* AccessStatusText(std::int32_t level) {
    switch (level) {
    case ACCESS_NONE: return "Нет доступа";
    case ACCESS_FULL: return "Полный доступ";
    case ACCESS_READ_ONLY: return "Только чтение";
    default: return nullptr;
    }
}

void EncodeUserRecord(const UserRecord& rec, unsigned char (&out)[USER_RECORD_SIZE]) {
    PutText(out + NAME_OFFSET, rec.name, NAME_SIZE);
    PutText(out + IP_OFFSET, rec.ip_address, IP_SIZE);
    PutText(out + PASSWORD_OFFSET, rec.password, PASSWORD_SIZE);
    PutInt32(out + LETTER_COUNT_OFFSET, rec.letter_count);
    PutInt32(out + ACCESS_LEVEL_OFFSET, rec.access_level);
}

void DecodeUserRecord(const unsigned char (&in)[USER_RECORD_SIZE], UserRecord& rec) {
    GetText(rec.name, in + NAME_OFFSET, NAME_SIZE);
    GetText(rec.ip_address, in + IP_OFFSET, IP_SIZE);
    GetText(rec.password, in + PASSWORD_OFFSET, PASSWORD_SIZE);
    rec.letter_count = GetInt32(in + LETTER_COUNT_OFFSET);
    rec.access_level = GetInt32(in + ACCESS_LEVEL_OFFSET);
}

void CopyText(char* dst, std::size_t size, const char* src) {
    if (!size) return;
    std::size_t i = 0;
    for (; src && i + 1 < size && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
}

bool IsPlainFileName(const char* name) {
    std::size_t n = std::strlen(name);
    if (n == 0 || name[n - 1] == '.' || name[n - 1] == ' ') return false;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7f || std::strchr("\\/:*?\"<>|", c)) return false;
    }
    return !IsDeviceName(name);
}

bool IsValidUserName(const char* name) {
    static const char* const kServerFiles[] = {"Users.db", "Users.tmp", "Admin.psw", "Admin.tmp"};
    if (!IsPlainFileName(name) || std::strchr(name, '~')) return false;
    for (const char* f : kServerFiles)
        if (std::strlen(name) == std::strlen(f) && SameAscii(name, f, std::strlen(f))) return false;
    return true;
}
