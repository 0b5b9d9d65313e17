// UIDL values from file names (stable, distinct, within RFC 1939's alphabet and length) and the
// reply lines.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "reply.h"
#include "uid.h"

using namespace pop3;

namespace {

std::string Uid(const std::string& name) {
    char out[MAX_UID_LEN + 1];
    std::memset(out, 0xcc, sizeof out);
    std::size_t n = MakeUid(name.c_str(), out);
    EXPECT_EQ(std::strlen(out), n) << name;
    return out;
}

// RFC 1939: 1 to 70 characters from 0x21 to 0x7E.  Ours are also a dot-atom (a Message-ID's left
// part): no '.' at either end or twice in a row.
void ExpectValid(const std::string& uid, const std::string& name) {
    EXPECT_GE(uid.size(), 1u) << name;
    EXPECT_LE(uid.size(), MAX_UID_LEN) << name;
    for (unsigned char c : uid) EXPECT_TRUE(c >= 0x21 && c <= 0x7e) << name;
    EXPECT_NE('.', uid.front()) << name;
    EXPECT_NE('.', uid.back()) << name;
    EXPECT_EQ(std::string::npos, uid.find("..")) << name;
    EXPECT_EQ(std::string::npos, uid.find_first_of("<>@\"()[]\\,;: ")) << name;
}

}  // namespace

TEST(MakeUid, ShortNamesSpelledOutReversibly) {
    struct Case { std::string name, want; };
    const Case cases[] = {
        {"001.msg", "001.msg"},
        {"A.msg", "A.msg"},
        {"a.msg", "a.msg"},
        {"Письмо 1.msg", "=CF=E8=F1=FC=EC=EE=201.msg"},
        {".hidden", "=2Ehidden"},
        {"a..b", "a.=2Eb"},
        {"x.", "x=2E"},
        {"a~b=c", "a=7Eb=3Dc"},
        {"\xff", "=FF"},
        {std::string(70, 'z'), std::string(70, 'z')},
        {"ааааааааааааааааааааааabcd", "=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0=E0abcd"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.want, Uid(c.name)) << c.name;
        ExpectValid(Uid(c.name), c.name);
    }
    char out[MAX_UID_LEN + 1];
    EXPECT_EQ(0u, MakeUid("", out));
    EXPECT_STREQ("", out);
    EXPECT_EQ(0u, MakeUid(nullptr, out));
}

TEST(MakeUid, LongNamesGetAPrefixAndAFixedHash) {
    // Pinned: a change of the hash would make every client fetch every letter again.
    EXPECT_EQ(std::string(37, 'a') + "~11eb92c591f926f806ff316f9ea02fb4", Uid(std::string(100, 'a')));
    std::string cyr;
    for (int i = 0; i < 30; ++i) cyr += "Пи";
    EXPECT_EQ("=CF=E8=CF=E8=CF=E8=CF=E8=CF=E8=CF=E8~e5ec02cf80540379b9f9706353065177", Uid(cyr + ".msg"));
    EXPECT_EQ(std::string(70, 'z'), Uid(std::string(70, 'z')));
    EXPECT_EQ(std::string(37, 'z'), Uid(std::string(71, 'z')).substr(0, 37));
    EXPECT_EQ(71u - 1, Uid(std::string(71, 'z')).size());
    // A prefix never ends in '.' nor cuts an escape.
    EXPECT_EQ(std::string(36, 'q') + "~", Uid(std::string(36, 'q') + ".r" + std::string(40, 's')).substr(0, 37));
    EXPECT_EQ(std::string(35, 'q') + "~", Uid(std::string(35, 'q') + "Ж" + std::string(40, 's')).substr(0, 36));
}

TEST(MakeUid, DistinctNamesGiveDistinctValues) {
    std::set<std::string> names, uids;
    auto add = [&](const std::string& name) {
        if (!names.insert(name).second) return;
        std::string uid = Uid(name);
        ExpectValid(uid, name);
        EXPECT_TRUE(uids.insert(uid).second) << "collision: " << name << " -> " << uid;
    };
    // Long names alike up to their last bytes, names differing only in case, the escape
    // character itself spelled out, names of the full 255-byte length.
    const std::string base(60, 'n');
    for (int i = 0; i < 256; ++i) {
        if (i == 0) continue;
        add(base + std::string(1, static_cast<char>(i)));
        add(std::string(1, static_cast<char>(i)) + ".msg");
        add(std::string(255, 'Я').substr(0, 254) + std::string(1, static_cast<char>(i)));
    }
    for (const char* n : {"ABC.msg", "abc.msg", "Abc.msg", "=41BC.msg", "=3D41BC.msg", "a.b", "a=2Eb"}) add(n);
    for (int len = 60; len < 80; ++len) add(std::string(len, 'x'));
    EXPECT_EQ(names.size(), uids.size());
}

TEST(Replies, StatusLinesStayOneLineWithinTheLimit) {
    struct Made { std::size_t (*make)(char (&)[MAX_REPLY + 1]); const char* want; };
    const Made made[] = {
        {[](char (&o)[MAX_REPLY + 1]) { return FormatOk(o, nullptr); }, "+OK\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatOk(o, "ready"); }, "+OK ready\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatOk(o, "two\r\nlines"); }, "+OK two  lines\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatErr(o, nullptr, nullptr); }, "-ERR\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatErr(o, nullptr, "no such message"); }, "-ERR no such message\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatErr(o, "IN-USE", "mailbox locked"); }, "-ERR [IN-USE] mailbox locked\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatErr(o, "IN-USE", ""); }, "-ERR [IN-USE]\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatStat(o, 2, 320); }, "+OK 2 320\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatStat(o, 0, 0); }, "+OK 0 0\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatStat(o, 4294967295ul, 18446744073709551615ull); },
         "+OK 4294967295 18446744073709551615\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatListLine(o, false, 1, 120); }, "1 120\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatListLine(o, true, 15, 7); }, "+OK 15 7\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatUidLine(o, false, 3, "003.msg"); }, "3 003.msg\r\n"},
        {[](char (&o)[MAX_REPLY + 1]) { return FormatUidLine(o, true, 3, "=CF1"); }, "+OK 3 =CF1\r\n"},
    };
    for (const Made& m : made) {
        char buf[MAX_REPLY + 1];
        std::memset(buf, 0xcc, sizeof buf);
        std::size_t n = m.make(buf);
        EXPECT_EQ(std::string(m.want), std::string(buf, n));
        EXPECT_EQ(0, buf[n]);
    }
    std::string huge(2000, 'h');
    char out[MAX_REPLY + 1];
    std::size_t n = FormatErr(out, "IN-USE", huge.c_str());
    EXPECT_EQ(MAX_REPLY, n);
    EXPECT_EQ("-ERR [IN-USE] hhh", std::string(out, 17));
    EXPECT_EQ("h\r\n", std::string(out + n - 3, 3));
    EXPECT_EQ(0, out[n]);
}
