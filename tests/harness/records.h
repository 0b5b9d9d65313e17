// User records for the tests: built field by field, turned into their 55 bytes by the program's
// own encoder, and back.  No Windows header: the native tests use it as well.
#pragma once

#include <cstring>
#include <string>

#include "userrecord.h"

namespace records {

inline UserRecord User(const char* name, const char* ip = "10.0.0.1", const char* pw = "pw", int level = ACCESS_FULL,
                       int letters = 0) {
    UserRecord r = {};
    CopyText(r.name, sizeof r.name, name);
    CopyText(r.ip_address, sizeof r.ip_address, ip);
    CopyText(r.password, sizeof r.password, pw);
    r.letter_count = letters;
    r.access_level = level;
    return r;
}

// The encoder's bytes, from a buffer filled with 0xee first, so a byte it never writes shows.
inline std::string Bytes(const UserRecord& r) {
    unsigned char raw[USER_RECORD_SIZE];
    std::memset(raw, 0xee, sizeof raw);
    EncodeUserRecord(r, raw);
    return std::string(reinterpret_cast<const char*>(raw), sizeof raw);
}

// The record decoded from the first USER_RECORD_SIZE bytes of `bytes` (zeros where it is shorter).
inline UserRecord Decode(const std::string& bytes) {
    unsigned char raw[USER_RECORD_SIZE] = {};
    std::memcpy(raw, bytes.data(), bytes.size() < sizeof raw ? bytes.size() : sizeof raw);
    UserRecord r = {};
    DecodeUserRecord(raw, r);
    return r;
}

}  // namespace records
