// Command lines of the standard POP3 listener: how received bytes become lines, and lines
// commands, including the lines a hostile or broken client sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command.h"

using namespace pop3;

namespace {

const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// Every event the collector reports for a byte stream fed in pieces of `step`: the line text,
// or "<too long>".
std::vector<std::string> Lines(const std::string& bytes, std::size_t step) {
    LineCollector c;
    LineReset(c);
    std::vector<std::string> got;
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t n = bytes.size() - at < step ? bytes.size() - at : step, used = 0;
        while (n) {
            LineStatus st = LineFeed(c, U(bytes) + at, n, &used);
            EXPECT_LE(used, n);
            EXPECT_LE(c.len, MAX_LINE - 1);
            if (st == LineStatus::Line) got.push_back(std::string(c.line, c.len));
            if (st == LineStatus::TooLong) got.push_back("<too long>");
            EXPECT_TRUE(st != LineStatus::Partial || used == n);
            at += used;
            n -= used;
        }
    }
    return got;
}

CommandLine Parse(const std::string& line) { return ParseCommand(line.data(), line.size()); }

}  // namespace

TEST(ParseNumber, DigitsOnlyWithinThirtyTwoBits) {
    struct Case { const char* text; bool ok; unsigned long value; };
    const Case cases[] = {
        {"0", true, 0}, {"1", true, 1}, {"007", true, 7}, {"4294967295", true, 4294967295ul},
        {"4294967296", false, 0}, {"99999999999999999999999", false, 0}, {"", false, 0},
        {"-1", false, 0}, {"+1", false, 0}, {" 1", false, 0}, {"1 ", false, 0}, {"1a", false, 0},
        {"0x10", false, 0}, {"1.0", false, 0}, {"\xb9", false, 0},
    };
    for (const Case& c : cases) {
        unsigned long v = 12345;
        EXPECT_EQ(c.ok, ParseNumber(c.text, &v)) << c.text;
        EXPECT_EQ(c.ok ? c.value : 12345ul, v) << c.text;
    }
    unsigned long v = 0;
    EXPECT_FALSE(ParseNumber(nullptr, &v));
}

TEST(ParseCommand, VerbsAndTheirArguments) {
    struct Case {
        std::string line;
        Verb verb;
        bool bad;
        int argc;
        std::string a0, a1;
        unsigned long n0, n1;
    };
    const Case cases[] = {
        {"CAPA", Verb::Capa, false, 0, "", "", 0, 0},
        {"capa", Verb::Capa, false, 0, "", "", 0, 0},
        {"StAt", Verb::Stat, false, 0, "", "", 0, 0},
        {"NOOP", Verb::Noop, false, 0, "", "", 0, 0},
        {"RSET", Verb::Rset, false, 0, "", "", 0, 0},
        {"QUIT", Verb::Quit, false, 0, "", "", 0, 0},
        {"QUIT now", Verb::Quit, true, 0, "", "", 0, 0},
        {"STAT ", Verb::Stat, false, 0, "", "", 0, 0},
        {"LIST", Verb::List, false, 0, "", "", 0, 0},
        {"list 3", Verb::List, false, 1, "3", "", 3, 0},
        {"LIST 3 4", Verb::List, true, 0, "", "", 0, 0},
        {"LIST x", Verb::List, true, 0, "", "", 0, 0},
        {"LIST -1", Verb::List, true, 0, "", "", 0, 0},
        {"UIDL 12", Verb::Uidl, false, 1, "12", "", 12, 0},
        {"UIDL", Verb::Uidl, false, 0, "", "", 0, 0},
        {"RETR 1", Verb::Retr, false, 1, "1", "", 1, 0},
        {"RETR", Verb::Retr, true, 0, "", "", 0, 0},
        {"RETR 4294967296", Verb::Retr, true, 0, "", "", 0, 0},
        {"RETR  \t 2  ", Verb::Retr, false, 1, "2", "", 2, 0},
        {"DELE 0", Verb::Dele, false, 1, "0", "", 0, 0},
        {"TOP 1 0", Verb::Top, false, 2, "1", "0", 1, 0},
        {"top 2 10", Verb::Top, false, 2, "2", "10", 2, 10},
        {"TOP 1", Verb::Top, true, 0, "", "", 0, 0},
        {"TOP 1 2 3", Verb::Top, true, 0, "", "", 0, 0},
        {"TOP 1 x", Verb::Top, true, 0, "", "", 0, 0},
        {"USER ivan", Verb::User, false, 1, "ivan", "", 0, 0},
        {"user \xc8\xe2\xe0\xed", Verb::User, false, 1, "\xc8\xe2\xe0\xed", "", 0, 0},
        {"PASS my secret pass ", Verb::Pass, false, 1, "my secret pass ", "", 0, 0},
        {"PASS  lead", Verb::Pass, false, 1, " lead", "", 0, 0},
        {"PASS", Verb::Pass, true, 0, "", "", 0, 0},
        {"PASS ", Verb::Pass, true, 0, "", "", 0, 0},
        {"PASS " + std::string(40, 'p'), Verb::Pass, false, 1, std::string(40, 'p'), "", 0, 0},
        {"PASS " + std::string(41, 'p'), Verb::Pass, true, 0, "", "", 0, 0},
        {std::string("PASS a\0b", 8), Verb::Pass, true, 0, "", "", 0, 0},
        {"LIST " + std::string(41, '1'), Verb::List, true, 0, "", "", 0, 0},
        {"", Verb::Unknown, false, 0, "", "", 0, 0},
        {"   ", Verb::Unknown, false, 0, "", "", 0, 0},
        {"HELO x", Verb::Unknown, false, 0, "", "", 0, 0},
        {"STATS", Verb::Unknown, false, 0, "", "", 0, 0},
        {"STA", Verb::Unknown, false, 0, "", "", 0, 0},
        {"APOP ivan 0123", Verb::Unknown, false, 0, "", "", 0, 0},
        {std::string("STAT\0", 5), Verb::Unknown, false, 0, "", "", 0, 0},
        {"STAT\r", Verb::Unknown, false, 0, "", "", 0, 0},
    };
    for (const Case& c : cases) {
        CommandLine cmd = Parse(c.line);
        EXPECT_EQ(c.verb, cmd.verb) << c.line;
        EXPECT_EQ(c.bad, cmd.bad_args) << c.line;
        EXPECT_FALSE(cmd.too_long);
        EXPECT_EQ(c.argc, cmd.argc) << c.line;
        EXPECT_EQ(c.a0, cmd.args[0]) << c.line;
        EXPECT_EQ(c.a1, cmd.args[1]) << c.line;
        EXPECT_EQ(c.n0, cmd.number[0]) << c.line;
        EXPECT_EQ(c.n1, cmd.number[1]) << c.line;
    }
}

TEST(LineCollector, LineEndsAndPieces) {
    const std::string stream = "USER a\r\nPASS b c\nSTAT\r\r\n\r\nLIST\r";
    const std::vector<std::string> want = {"USER a", "PASS b c", "STAT\r", ""};
    for (std::size_t step : {1, 2, 3, 7, 100}) EXPECT_EQ(want, Lines(stream, step)) << step;
}

TEST(LineCollector, TheLimitCountsTheLineEnd) {
    const std::string a253(253, 'a'), a254(254, 'a'), a255(255, 'a');
    struct Case { std::string bytes; std::vector<std::string> want; };
    const Case cases[] = {
        {a253 + "\r\nNOOP\r\n", {a253, "NOOP"}},                  // 255 octets with CRLF
        {a254 + "\r\nNOOP\r\n", {"<too long>", "NOOP"}},          // 256
        {a254 + "\nNOOP\r\n", {a254, "NOOP"}},                     // 255 with a bare LF
        {a255 + "\nNOOP\r\n", {"<too long>", "NOOP"}},            // 256
        {std::string(5000, 'x') + "\r\nQUIT\r\n", {"<too long>", "QUIT"}},
        {std::string(5000, '\r') + "\n", {"<too long>"}},
        {std::string(100000, 'x'), {}},                            // a flood without a line end
    };
    for (const Case& c : cases)
        for (std::size_t step : {1, 64, 4096}) EXPECT_EQ(c.want, Lines(c.bytes, step)) << c.bytes.size() << "/" << step;
}

TEST(NextCommand, PipelinedCommandsComeOneAtATime) {
    const std::string stream = "USER ivan\r\nPASS x y\r\n" + std::string(300, 'z') + "\r\nRETR 2\r\nTOP 2";
    LineCollector c;
    LineReset(c);
    std::vector<CommandLine> got;
    std::size_t at = 0;
    while (at < stream.size()) {
        std::size_t used = 0;
        CommandLine cmd;
        if (NextCommand(c, U(stream) + at, stream.size() - at, &used, &cmd)) got.push_back(cmd);
        at += used;
    }
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ(Verb::User, got[0].verb);
    EXPECT_STREQ("ivan", got[0].args[0]);
    EXPECT_EQ(Verb::Pass, got[1].verb);
    EXPECT_STREQ("x y", got[1].args[0]);
    EXPECT_TRUE(got[2].too_long);
    EXPECT_EQ(Verb::Unknown, got[2].verb);
    EXPECT_EQ(Verb::Retr, got[3].verb);
    EXPECT_EQ(2ul, got[3].number[0]);
    // "TOP 2" has no line end yet: it waits.
    std::size_t used = 0;
    CommandLine cmd;
    EXPECT_TRUE(NextCommand(c, U(std::string(" 5\r\n")), 4, &used, &cmd));
    EXPECT_EQ(Verb::Top, cmd.verb);
    EXPECT_EQ(5ul, cmd.number[1]);
}
