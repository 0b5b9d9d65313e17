// Helpers of the storage tests: user records as bytes, Users.db and letter files.
#pragma once

#include <cstring>
#include <string>

#include "harness.h"
#include "records.h"

namespace storage {

using records::Bytes;
using records::User;

// The 55 bytes of a record written by hand, field by field, for checking the encoder's output.
inline std::string RecordBytes(const std::string& name, const std::string& ip, const std::string& pw, int count,
                               int level) {
    std::string b(USER_RECORD_SIZE, '\0');
    b.replace(0, name.size(), name);
    b.replace(20, ip.size(), ip);
    b.replace(37, pw.size(), pw);
    for (int i = 0; i < 4; ++i) {
        b[47 + i] = static_cast<char>((static_cast<unsigned>(count) >> (8 * i)) & 0xff);
        b[51 + i] = static_cast<char>((static_cast<unsigned>(level) >> (8 * i)) & 0xff);
    }
    return b;
}

inline std::string Users(std::initializer_list<UserRecord> users) {
    std::string b;
    for (const UserRecord& u : users) b += Bytes(u);
    return b;
}

inline void Mailbox(const std::string& name) { CreateDirectoryA(name.c_str(), nullptr); }

inline void Letter(const std::string& path, const std::string& bytes) { harness::WriteBytes(path, bytes); }

}  // namespace storage
