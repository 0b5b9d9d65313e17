// The 55-byte user record at its offsets, and the access levels' status texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../harness/records.h"

using records::Bytes;
using records::Decode;
using records::User;

TEST(UserRecord, EveryFieldAtItsOffset) {
    std::string b = Bytes(User("Иван", "192.168.0.1", "пароль", ACCESS_READ_ONLY, 3));
    ASSERT_EQ(55u, b.size());
    EXPECT_EQ(std::string("\xc8\xe2\xe0\xed", 4) + std::string(16, '\0'), b.substr(0, 20));
    EXPECT_EQ(std::string("192.168.0.1") + std::string(6, '\0'), b.substr(20, 17));
    EXPECT_EQ(std::string("\xef\xe0\xf0\xee\xeb\xfc", 6) + std::string(4, '\0'), b.substr(37, 10));
    EXPECT_EQ(std::string("\x03\x00\x00\x00", 4), b.substr(47, 4));
    EXPECT_EQ(std::string("\x02\x00\x00\x00", 4), b.substr(51, 4));
}

TEST(UserRecord, SignedLittleEndianNumbers) {
    std::string b = Bytes(User("a", "", "", -1, 0x01020304));
    EXPECT_EQ(std::string("\x04\x03\x02\x01", 4), b.substr(47, 4));
    EXPECT_EQ(std::string("\xff\xff\xff\xff", 4), b.substr(51, 4));
    UserRecord back = Decode(b);
    EXPECT_EQ(0x01020304, back.letter_count);
    EXPECT_EQ(-1, back.access_level);
}

TEST(UserRecord, LongestFieldsKeepEveryCharacter) {
    const std::string name19(19, 'n'), ip16(16, '1'), pw9(9, 'p');
    std::string b = Bytes(User(name19.c_str(), ip16.c_str(), pw9.c_str()));
    EXPECT_EQ(name19 + '\0', b.substr(0, 20)) << "NUL at byte 19";
    EXPECT_EQ(ip16 + '\0', b.substr(20, 17));
    EXPECT_EQ(pw9 + '\0', b.substr(37, 10));
    UserRecord back = Decode(b);
    EXPECT_EQ(name19, back.name);
    EXPECT_EQ(ip16, back.ip_address);
    EXPECT_EQ(pw9, back.password);
    EXPECT_EQ(ACCESS_FULL, back.access_level);
}

TEST(UserRecord, CopyTextCutsToTheField) {
    UserRecord r = User(std::string(20, 'x').c_str(), std::string(17, '2').c_str(), std::string(10, 'q').c_str());
    EXPECT_EQ(std::string(19, 'x'), r.name);
    EXPECT_EQ(std::string(16, '2'), r.ip_address);
    EXPECT_EQ(std::string(9, 'q'), r.password);
}

TEST(UserRecord, DamagedTextFieldsWithoutNulAreReadBounded) {
    unsigned char raw[USER_RECORD_SIZE];
    std::memset(raw, 'A', sizeof raw);   // no NUL anywhere
    UserRecord r;
    std::memset(&r, 0x5a, sizeof r);
    DecodeUserRecord(raw, r);
    EXPECT_EQ(std::string(19, 'A'), std::string(r.name));
    EXPECT_EQ(std::string(16, 'A'), std::string(r.ip_address));
    EXPECT_EQ(std::string(9, 'A'), std::string(r.password));
    EXPECT_EQ(0x41414141, r.letter_count);
}

TEST(UserRecord, BytesAfterTheNulAreWrittenAsZero) {
    UserRecord r = User("ab", "", "");
    std::memset(r.name + 3, 'J', sizeof r.name - 3);   // junk behind the terminator
    std::string b = Bytes(r);
    EXPECT_EQ(std::string("ab") + std::string(18, '\0'), b.substr(0, 20));
}

TEST(AccessLevel, StatusTexts) {
    EXPECT_EQ(0, ACCESS_NONE);
    EXPECT_EQ(1, ACCESS_FULL);
    EXPECT_EQ(2, ACCESS_READ_ONLY);
    EXPECT_STREQ("Нет доступа", AccessStatusText(ACCESS_NONE));
    EXPECT_STREQ("Полный доступ", AccessStatusText(ACCESS_FULL));
    EXPECT_STREQ("Только чтение", AccessStatusText(ACCESS_READ_ONLY));
    EXPECT_EQ(nullptr, AccessStatusText(-1));
    EXPECT_EQ(nullptr, AccessStatusText(3));
    EXPECT_EQ(20u, MAX_USERS);
}
