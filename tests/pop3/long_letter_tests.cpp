// Letters past the renderer's look-ahead, long subjects, the largest synthesised headers, and
// seeded random files: every chunking and every room gives the same bytes and the same count.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "message.h"

using namespace pop3;

namespace {

const LetterMeta kMeta = {1700000000, "u", "h"};

std::string Render(const std::string& file, long long top, std::size_t step, std::size_t room,
                   const LetterMeta& meta = kMeta) {
    static Renderer r;
    static unsigned char out[8192 + 16];
    Begin(r, meta, top);
    std::string got;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(file.data());
    std::size_t at = 0;
    while (at < file.size()) {
        std::size_t n = file.size() - at < step ? file.size() - at : step, used = 0;
        std::memset(out + room, 0xcc, 16);
        std::size_t wrote = Feed(r, in + at, n, &used, out, room);
        EXPECT_LE(wrote, room);
        for (int k = 0; k < 16; ++k) EXPECT_EQ(0xcc, out[room + k]);
        got.append(reinterpret_cast<char*>(out), wrote);
        at += used;
    }
    while (!Finished(r)) got.append(reinterpret_cast<char*>(out), Finish(r, out, room));
    EXPECT_EQ(got.size(), Octets(r));
    return got;
}

// The value of the Subject field: header lines unfolded up to the empty line.
std::string SubjectOf(const std::string& msg) {
    std::size_t at = msg.find("\r\nSubject: ");
    if (at == std::string::npos) return "<none>";
    at += 11;
    std::string v;
    for (;;) {
        std::size_t end = msg.find("\r\n", at);
        v += msg.substr(at, end - at);
        if (msg[end + 2] != ' ' && msg[end + 2] != '\t') return v;
        at = end + 2;
    }
}

std::string DecodeWords(const std::string& v) {
    static const std::string kB64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    std::size_t at = 0;
    while ((at = v.find("=?windows-1251?B?", at)) != std::string::npos) {
        at += 17;
        std::size_t end = v.find("?=", at);
        std::uint32_t acc = 0;
        int bits = 0;
        for (std::size_t i = at; i < end && v[i] != '='; ++i) {
            acc = acc << 6 | static_cast<std::uint32_t>(kB64.find(v[i]));
            bits += 6;
            if (bits >= 8) { bits -= 8; bytes += static_cast<char>(acc >> bits & 0xff); }
        }
        at = end + 2;
    }
    return bytes;
}

void ExpectLinesWithin(const std::string& msg, std::size_t width, const char* label) {
    std::size_t head_end = msg.find("\r\n\r\n");
    for (std::size_t at = 0; at < head_end;) {
        std::size_t end = msg.find("\r\n", at);
        EXPECT_LE(end - at, width) << label << ": " << msg.substr(at, end - at);
        at = end + 2;
    }
}

struct Rng {
    std::uint64_t s;
    std::uint32_t Next() { s ^= s << 13; s ^= s >> 7; s ^= s << 17; return static_cast<std::uint32_t>(s); }
};

}  // namespace

TEST(LongLetters, StoredHeadersPastTheLookAheadAreServedAsStored) {
    std::string head = "Received: from a\r\n";
    while (head.size() < 6000) head += "\tby relay-" + std::to_string(head.size()) + "\r\n";
    std::string body;
    for (int i = 0; i < 3000; ++i) body += (i % 50 ? "line " : ".dot ") + std::to_string(i) + "\n";
    std::string want_body;
    for (int i = 0; i < 3000; ++i) want_body += (i % 50 ? "line " : "..dot ") + std::to_string(i) + "\r\n";
    const std::string file = "0" + head + "Subject: s\r\n\r\n" + body;
    const std::string want = head + "Subject: s\r\n\r\n" + want_body;
    for (std::size_t step : {1, 7, 4096, 100000})
        EXPECT_EQ(want, Render(file, -1, step, step == 1 ? 3 : 4096)) << step;
    EXPECT_EQ(head + "Subject: s\r\n\r\n..dot 0\r\nline 1\r\n", Render(file, 2, 4096, 4096));
}

TEST(LongLetters, HeaderLikeLinesUpToTheLookAheadCountAsHeaders) {
    // Field after field to the end of the look-ahead: served as stored.
    std::string fields = "Date: x\n";
    while (fields.size() < LOOKAHEAD + 100) fields += "X-Pad: " + std::string(50, 'p') + "\n";
    std::string got = Render("0" + fields + "\nbody", -1, 512, 4096);
    EXPECT_EQ(0u, got.find("Date: x\r\nX-Pad: "));
    // A plain line just inside the look-ahead makes it a note.
    std::string note = fields.substr(0, fields.rfind('\n', LOOKAHEAD - 20) + 1) + "plain words here\n";
    got = Render("0" + note, -1, 512, 4096);
    EXPECT_EQ(0u, got.find("Date: Tue, 14 Nov 2023 22:13:20 +0000\r\nSubject: Date: x\r\n"));
}

TEST(LongLetters, SubjectFromALongFirstLineIsCutTo200Octets) {
    const std::string line(5000, 'w');
    std::string got = Render("0" + line + "\nrest", -1, 7, 4096);
    EXPECT_EQ(std::string(200, 'w'), SubjectOf(got));
    EXPECT_EQ(line + "\r\nrest\r\n", got.substr(got.find("\r\n\r\n") + 4));
    // The first non-blank line starts past the look-ahead: no Subject.
    got = Render("0" + std::string(LOOKAHEAD + 10, '\n') + "late", -1, 4096, 4096);
    EXPECT_EQ("<none>", SubjectOf(got));
    // Trailing blanks inside the cut go too.
    got = Render("0" + std::string(199, 'a') + "  b", -1, 4096, 4096);
    EXPECT_EQ(std::string(199, 'a'), SubjectOf(got));
}

TEST(LongLetters, LongSubjectsFoldOrEncodeWithinTheLineWidths) {
    struct Case { const char* label; std::string line; bool encoded; };
    std::string words, cyr, mixed;
    for (int i = 0; i < 40; ++i) words += "word" + std::to_string(i) + " ";
    for (int i = 0; i < 100; ++i) cyr += "Ёж";
    for (int i = 0; i < 20; ++i) mixed += "Отчёт report ";
    const Case cases[] = {
        {"plain words", words, false},
        {"one long plain word", std::string(150, 'x') + " tail", false},
        {"200 Cyrillic octets", cyr, true},
        {"mixed", mixed, true},
    };
    for (const Case& c : cases) {
        std::string trimmed = c.line.substr(0, 200);
        while (trimmed.back() == ' ') trimmed.pop_back();
        std::string got = Render("R" + c.line + "\n", -1, 4096, 4096);
        std::string subject = SubjectOf(got);
        if (c.encoded) {
            EXPECT_EQ(trimmed, DecodeWords(subject)) << c.label;
            ExpectLinesWithin(got, 76, c.label);
        } else {
            EXPECT_EQ(trimmed, subject) << c.label;
            if (trimmed.find(std::string(150, 'x')) == std::string::npos) ExpectLinesWithin(got, 78, c.label);
        }
    }
}

TEST(LongLetters, LargestSynthesisedHeadersFitWhole) {
    const std::string uid(70, 'U'), host(400, 'h'), domain(400, 'd');
    const LetterMeta meta = {1700000000, uid.c_str(), host.c_str(), domain.c_str()};
    std::string cyr(250, '\xc6');
    std::string got = Render("0" + cyr + "\nx", -1, 4096, 4096, meta);
    EXPECT_NE(std::string::npos, got.find("\r\nMessage-ID: <" + uid + "@" + std::string(MAX_HOST, 'h') + ">\r\n"));
    EXPECT_NE(std::string::npos, got.find("?=\r\n <postmaster@" + std::string(MAX_HOST, 'd') + ">\r\n"));
    EXPECT_EQ(cyr.substr(0, 200), DecodeWords(SubjectOf(got)));
    EXPECT_EQ("Content-Transfer-Encoding: 8bit\r\n\r\n" + cyr + "\r\nx\r\n",
              got.substr(got.find("Content-Transfer-Encoding")));
    // Bytes that would break the field are left out of the copies.
    const LetterMeta odd = {0, "a>b\r\n<c", "x y@z"};
    got = Render("0s", -1, 4096, 4096, odd);
    EXPECT_NE(std::string::npos, got.find("\r\nMessage-ID: <abc@xy@z>\r\n"));
}

TEST(LongLetters, RandomFilesRenderAlikeInEveryChunkingAndRoom) {
    Rng rng{0x2545f4914f6cdd1dull};
    static const char kBytes[] = {'\r', '\n', '.', ':', ' ', '\t', 'a', 'F', '0', 'R', '\xc8', '\0'};
    for (int round = 0; round < 400; ++round) {
        std::size_t len = rng.Next() % (round % 10 ? 300 : 9000);
        std::string file;
        if (rng.Next() % 3 == 0) file = "0From: x\r\nSubject: y\r\n";
        for (std::size_t i = 0; i < len; ++i)
            file += rng.Next() % 4 ? kBytes[rng.Next() % sizeof kBytes] : static_cast<char>(rng.Next());
        long long top = rng.Next() % 3 ? -1 : rng.Next() % 5;
        std::string whole = Render(file, top, 1 << 20, 8192);
        std::size_t step = 1 + rng.Next() % 50, room = 1 + rng.Next() % 20;
        EXPECT_EQ(whole, Render(file, top, step, room)) << round;
        // Every line ends in CRLF and no bare CR or LF is left.
        for (std::size_t i = 0; i < whole.size(); ++i) {
            if (whole[i] == '\r') { EXPECT_EQ('\n', whole[i + 1]) << round; }
            if (whole[i] == '\n') { EXPECT_TRUE(i > 0 && whole[i - 1] == '\r') << round; }
        }
        ASSERT_GE(whole.size(), 2u);
        EXPECT_EQ("\r\n", whole.substr(whole.size() - 2)) << round;
        // No line is a lone "." that would end the reply early.
        EXPECT_EQ(std::string::npos, whole.find("\r\n.\r\n")) << round;
        EXPECT_NE(0u, whole.find(".\r\n")) << round;
    }
}
