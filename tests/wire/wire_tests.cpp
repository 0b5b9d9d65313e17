// The frames, byte for byte, in both directions, and the rules for reading them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "wire.h"

using namespace wire;

namespace {

std::string Bytes(const unsigned char* p, std::size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }
std::string Frame(const std::string& head, std::size_t size) {
    std::string f = head;
    f.resize(size, '\0');
    return f;
}
ParsedCommand Parse(const std::string& bytes) {
    return ParseCommand(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace

TEST(Constants, FrameSizesAndPort) {
    EXPECT_EQ(110, POP3_PORT);
    EXPECT_EQ(100u, COMMAND_FRAME_SIZE);
    EXPECT_EQ(5u, STATUS_FRAME_SIZE);
    EXPECT_EQ(20u, STAT_FRAME_SIZE);
    EXPECT_EQ(1000u, DATA_FRAME_SIZE);
    EXPECT_EQ(994u, MAX_DATA_TEXT);
}

// ---- command frames ------------------------------------------------------------------------

TEST(BuildCommand, EveryCommandWordArgumentAndFiller) {
    struct Case { Command cmd; const char* arg; std::string head; };
    const Case cases[] = {
        {Command::User, "Иван", std::string("USER \xc8\xe2\xe0\xed")},
        {Command::Pass, "secret", "PASS secret"},
        {Command::Stat, "ignored", "STAT"},
        {Command::List, nullptr, "LIST"},
        {Command::Retr, "12", "RETR 12"},
        {Command::Dele, "3", "DELE 3"},
        {Command::Quit, "", "QUIT "},
        {Command::Retr, "", "RETR "},
        {Command::Dele, nullptr, "DELE "},
    };
    for (const Case& c : cases) {
        unsigned char f[COMMAND_FRAME_SIZE];
        std::memset(f, 0x55, sizeof f);
        BuildCommand(f, c.cmd, c.arg);
        EXPECT_EQ(Frame(c.head, 100), Bytes(f, 100)) << c.head;
    }
}

TEST(BuildCommand, LongArgumentIsCutSoItsNulStaysInTheFrame) {
    unsigned char f[COMMAND_FRAME_SIZE];
    std::string arg(300, 'x');
    BuildCommand(f, Command::User, arg.c_str());
    EXPECT_EQ(0, f[99]);
    EXPECT_EQ("USER " + std::string(94, 'x'), std::string(reinterpret_cast<char*>(f)));
}

TEST(ParseCommand, MatchesTheSevenWordsExactly) {
    struct Case { std::string head; Command cmd; };
    const Case cases[] = {
        {"USER a", Command::User}, {"PASS a", Command::Pass}, {"STAT", Command::Stat},
        {"LIST", Command::List}, {"RETR 1", Command::Retr}, {"DELE 1", Command::Dele},
        {"QUIT ", Command::Quit}, {"QUIT", Command::Quit},       // byte 4 NUL or space: same
        {"QUITX", Command::Quit},                                // byte 4 is not examined
        {"user a", Command::None}, {"Stat", Command::None}, {"LISTE", Command::List},
        {"NOOP", Command::None}, {"", Command::None}, {"USE", Command::None},
    };
    for (const Case& c : cases) EXPECT_EQ(c.cmd, Parse(Frame(c.head, 100)).cmd) << c.head;
}

TEST(ParseCommand, ShortReceiveIsReadOnlyAsFarAsItGoes) {
    EXPECT_EQ(Command::None, Parse("STA").cmd);
    EXPECT_EQ(Command::Stat, Parse("STAT").cmd);
    ParsedCommand p = Parse("USER ab");   // 7 bytes received, no NUL among them
    EXPECT_EQ(Command::User, p.cmd);
    EXPECT_FALSE(p.arg_valid);
    EXPECT_STREQ("", p.arg);
    p = Parse(std::string("USER ab\0", 8));
    EXPECT_TRUE(p.arg_valid);
    EXPECT_STREQ("ab", p.arg);
    p = Parse("RETR 1");   // the number ends with the bytes received
    EXPECT_TRUE(p.has_number);
    EXPECT_EQ(1, p.number);
}

TEST(ParseCommand, LoginArgumentMustEndWithinByte24) {
    std::string name19(19, 'n'), name20(20, 'n');
    ParsedCommand p = Parse(Frame("USER " + name19, 100));
    EXPECT_TRUE(p.arg_valid);
    EXPECT_EQ(name19, p.arg);
    p = Parse(Frame("PASS " + name20, 100));   // NUL at byte 25: outside 5..24
    EXPECT_FALSE(p.arg_valid);
    EXPECT_STREQ("", p.arg);
    p = Parse(Frame("USER ", 100));
    EXPECT_TRUE(p.arg_valid);
    EXPECT_STREQ("", p.arg);
    p = Parse(Frame("USER " + std::string(94, 'z'), 100));
    EXPECT_FALSE(p.arg_valid);
}

TEST(ParseCommand, NumberIsReadFromBytes5To7) {
    struct Case { std::string head; bool has; int n; };
    const Case cases[] = {
        {"RETR 7", true, 7}, {"RETR 7x", true, 7}, {"RETR 1234", true, 123}, {"DELE 015", true, 15},
        {"RETR  12", true, 12}, {"RETR +5", true, 5}, {"DELE -2", true, -2}, {"RETR ", false, 0},
        {"RETR x1", false, 0}, {"DELE    9", false, 0}, {"DELE   9", true, 9}, {"RETR 0", true, 0},
    };
    for (const Case& c : cases) {
        ParsedCommand p = Parse(Frame(c.head, 100));
        EXPECT_EQ(c.has, p.has_number) << c.head;
        EXPECT_EQ(c.n, p.number) << c.head;
    }
}

// ---- server replies --------------------------------------------------------------------------

TEST(BuildStatus, PositiveAndNegative) {
    unsigned char f[STATUS_FRAME_SIZE];
    BuildStatus(f, true);
    EXPECT_EQ(std::string("+Ok\0", 4), Bytes(f, 4));
    BuildStatus(f, false);
    EXPECT_EQ("-Erro", Bytes(f, 5));
}

TEST(BuildStat, CountSizeAndFiller) {
    unsigned char f[STAT_FRAME_SIZE];
    ASSERT_TRUE(BuildStat(f, 3, 1250));
    EXPECT_EQ(Frame(std::string("+Ok\0 3 1250", 11), 20), Bytes(f, 20));
    ASSERT_TRUE(BuildStat(f, 0, 0));
    EXPECT_EQ(Frame(std::string("+Ok\0 0 0", 8), 20), Bytes(f, 20));
    ASSERT_TRUE(BuildStat(f, 15, 99999999999ull));   // 2 + 11 digits: the NUL is byte 19
    EXPECT_EQ(std::string("+Ok\0 15 99999999999\0", 20), Bytes(f, 20));
    std::memset(f, 0x77, sizeof f);
    EXPECT_FALSE(BuildStat(f, 150, 99999999999ull));
    EXPECT_EQ(std::string(20, '\x77'), Bytes(f, 20)) << "untouched when it can't fit";
}

TEST(BuildList, PairsInOrderThenNul) {
    unsigned char f[DATA_FRAME_SIZE];
    const std::uint32_t two[] = {320, 450};
    ASSERT_TRUE(BuildList(f, two, 2));
    EXPECT_EQ(Frame(std::string("+Ok\0 1 320 2 450 ", 18), 1000), Bytes(f, 1000));
    const std::uint32_t one[] = {57};
    ASSERT_TRUE(BuildList(f, one, 1));
    EXPECT_EQ(Frame(std::string("+Ok\0 1 57 ", 10), 1000), Bytes(f, 1000));
    EXPECT_FALSE(BuildList(f, one, 0));
}

TEST(BuildList, RefusesTextLongerThan994) {
    unsigned char f[DATA_FRAME_SIZE];
    std::uint32_t sizes[200];
    for (auto& s : sizes) s = 4000000000u;   // "k 4000000000 " = 13+ chars each
    EXPECT_FALSE(BuildList(f, sizes, 200));
    EXPECT_TRUE(BuildList(f, sizes, 15));
    EXPECT_EQ(0, f[999]);
}

TEST(BuildRetr, TextThenNulAndAtMost994Bytes) {
    unsigned char f[DATA_FRAME_SIZE];
    const std::string letter = "0Привет";
    EXPECT_EQ(letter.size(), BuildRetr(f, reinterpret_cast<const unsigned char*>(letter.data()), letter.size()));
    EXPECT_EQ(Frame(std::string("+Ok\0 ", 5) + letter, 1000), Bytes(f, 1000));
    std::string big(2000, 'q');
    EXPECT_EQ(994u, BuildRetr(f, reinterpret_cast<const unsigned char*>(big.data()), big.size()));
    EXPECT_EQ(std::string(994, 'q'), Bytes(f + 5, 994));
    EXPECT_EQ(0, f[999]);
    EXPECT_EQ(0u, BuildRetr(f, nullptr, 0));
    EXPECT_EQ(Frame(std::string("+Ok\0 ", 5), 1000), Bytes(f, 1000));
}

// ---- reading replies ------------------------------------------------------------------------

TEST(IsPositive, OnlyPlusOkNul) {
    auto pos = [](const std::string& s) { return IsPositive(reinterpret_cast<const unsigned char*>(s.data()), s.size()); };
    EXPECT_TRUE(pos(std::string("+Ok\0\0", 5)));
    EXPECT_TRUE(pos(std::string("+Ok\0x", 5)));
    EXPECT_FALSE(pos("-Erro"));
    EXPECT_FALSE(pos(std::string("+OK\0\0", 5)));
    EXPECT_FALSE(pos("+Ok x"));
    EXPECT_FALSE(pos("+Ok"));     // only three bytes came
    EXPECT_FALSE(pos(""));
}

TEST(ReplySize, ByCommandAndVerdict) {
    const unsigned char ok[] = {'+', 'O', 'k', 0, 0};
    const unsigned char bad[] = {'-', 'E', 'r', 'r', 'o'};
    EXPECT_EQ(20u, ReplySize(Command::Stat, ok, 5));
    EXPECT_EQ(1000u, ReplySize(Command::List, ok, 5));
    EXPECT_EQ(1000u, ReplySize(Command::Retr, ok, 5));
    for (Command c : {Command::None, Command::User, Command::Pass, Command::Dele, Command::Quit})
        EXPECT_EQ(5u, ReplySize(c, ok, 5));
    for (Command c : {Command::Stat, Command::List, Command::Retr}) EXPECT_EQ(5u, ReplySize(c, bad, 5));
}

TEST(LetterExtent, ListedSizeClampedToTheReply) {
    struct Case { const char* label; std::size_t len; const char* listed; std::size_t extent; };
    const Case cases[] = {
        {"the listed size", 1000, "12", 12},
        {"larger than a frame holds", 1000, "99999", 995},
        {"larger than a short receive holds", 20, "99", 15},
        {"a receive shorter than the head", 3, "7", 0},
        {"no listed row", 1000, nullptr, 995},
        {"no listed row, short receive", 9, nullptr, 4},
        {"more bytes than a frame", 5000, nullptr, 995},
        {"negative", 1000, "-5", 0},
        {"not a number", 1000, "abc", 0},
        {"blanks before, junk after", 1000, "  42x", 42},
        {"too long for any integer", 1000, "99999999999999999999999999", 995},
    };
    for (const Case& c : cases) EXPECT_EQ(c.extent, LetterExtent(c.len, c.listed)) << c.label;
}

TEST(ParseStat, CountAndSizeWithinTheFrame) {
    char count[4], size[12];
    std::string f = Frame(std::string("+Ok\0 2 320", 10), 20);
    ASSERT_TRUE(ParseStat(reinterpret_cast<const unsigned char*>(f.data()), f.size(), count, sizeof count, size, sizeof size));
    EXPECT_STREQ("2", count);
    EXPECT_STREQ("320", size);

    // No space in bytes 5..19: nothing is read.
    f = std::string("+Ok\0 ", 5) + std::string(15, '9');
    EXPECT_FALSE(ParseStat(reinterpret_cast<const unsigned char*>(f.data()), f.size(), count, sizeof count, size, sizeof size));
    EXPECT_STREQ("", count);
    EXPECT_STREQ("", size);

    // No NUL after the size: it stops at byte 19; long fields are cut to their buffers.
    f = std::string("+Ok\0 12345 ", 11) + std::string(9, '7');
    ASSERT_TRUE(ParseStat(reinterpret_cast<const unsigned char*>(f.data()), f.size(), count, sizeof count, size, sizeof size));
    EXPECT_STREQ("123", count);
    EXPECT_STREQ("777777777", size);

    // A short receive: never past the bytes that came.
    f = std::string("+Ok\0 4 1", 8);
    ASSERT_TRUE(ParseStat(reinterpret_cast<const unsigned char*>(f.data()), f.size(), count, sizeof count, size, sizeof size));
    EXPECT_STREQ("4", count);
    EXPECT_STREQ("1", size);
}

TEST(ListCursor, WalksThePairsToTheNul) {
    std::string f = Frame(std::string("+Ok\0 1 320 2 450 ", 18), 1000);
    ListCursor cur = ListBegin(reinterpret_cast<const unsigned char*>(f.data()), f.size());
    char num[8], size[12];
    ASSERT_TRUE(ListNext(cur, num, sizeof num, size, sizeof size));
    EXPECT_STREQ("1", num);
    EXPECT_STREQ("320", size);
    ASSERT_TRUE(ListNext(cur, num, sizeof num, size, sizeof size));
    EXPECT_STREQ("2", num);
    EXPECT_STREQ("450", size);
    EXPECT_FALSE(ListNext(cur, num, sizeof num, size, sizeof size));
    EXPECT_FALSE(ListNext(cur, num, sizeof num, size, sizeof size));
}

TEST(ListCursor, HostilePayloadsStayInsideTheFrame) {
    char num[8], size[12];
    // Empty list.
    std::string f = Frame(std::string("+Ok\0 ", 5), 1000);
    ListCursor cur = ListBegin(reinterpret_cast<const unsigned char*>(f.data()), f.size());
    EXPECT_FALSE(ListNext(cur, num, sizeof num, size, sizeof size));
    // No NUL anywhere: 1000 bytes of "1 2 1 2 ..." end at the frame's end.
    f = std::string("+Ok\0 ", 5);
    while (f.size() < 1000) f += "9 8 ";
    f.resize(1000);
    cur = ListBegin(reinterpret_cast<const unsigned char*>(f.data()), f.size());
    int n = 0;
    while (ListNext(cur, num, sizeof num, size, sizeof size)) ++n;
    EXPECT_EQ(248, n);
    // Fields longer than their buffers are cut; an entry with no closing space is not taken.
    f = Frame(std::string("+Ok\0 123456789 123456789012345 7 8", 34), 40);
    cur = ListBegin(reinterpret_cast<const unsigned char*>(f.data()), 34);
    ASSERT_TRUE(ListNext(cur, num, sizeof num, size, sizeof size));
    EXPECT_STREQ("1234567", num);
    EXPECT_STREQ("12345678901", size);
    EXPECT_FALSE(ListNext(cur, num, sizeof num, size, sizeof size));
}

TEST(Collector, PutsPiecesTogetherAndNeverOverfills) {
    Collector c;
    CollectorReset(c, 100);
    const unsigned char a[60] = {'S', 'T', 'A', 'T'};
    unsigned char b[80] = {};
    b[39] = 0x42;
    EXPECT_EQ(60u, CollectorFeed(c, a, 60));
    EXPECT_FALSE(CollectorFull(c));
    EXPECT_EQ(40u, CollectorFeed(c, b, 80)) << "takes only what the frame still needs";
    EXPECT_TRUE(CollectorFull(c));
    EXPECT_EQ(0x42, c.data[99]);
    EXPECT_EQ(0u, CollectorFeed(c, b, 80));
    CollectorReset(c, 5000);
    EXPECT_EQ(DATA_FRAME_SIZE, c.want);
}

TEST(FormatNumber, PlainDecimal) {
    char b[21];
    EXPECT_EQ(1u, FormatNumber(0, b));
    EXPECT_STREQ("0", b);
    EXPECT_EQ(4u, FormatNumber(1250, b));
    EXPECT_STREQ("1250", b);
    EXPECT_EQ(20u, FormatNumber(18446744073709551615ull, b));
    EXPECT_STREQ("18446744073709551615", b);
}

TEST(RoundTrip, CommandBuiltByTheClientIsReadByTheServer) {
    unsigned char f[COMMAND_FRAME_SIZE];
    BuildCommand(f, Command::User, "Пётр");
    ParsedCommand p = ParseCommand(f, sizeof f);
    EXPECT_EQ(Command::User, p.cmd);
    EXPECT_STREQ("Пётр", p.arg);
    BuildCommand(f, Command::Dele, "15");
    p = ParseCommand(f, sizeof f);
    EXPECT_EQ(Command::Dele, p.cmd);
    EXPECT_EQ(15, p.number);
}
