#include "data.h"

#include <cstdio>
#include <cstring>

namespace bench {

void UserName(int index, char (&out)[16]) { std::snprintf(out, sizeof out, "user%02d", index + 1); }
void Password(int index, char (&out)[16]) { std::snprintf(out, sizeof out, "pw%02d", index + 1); }

void LetterText(unsigned char (&out)[LETTER_SIZE]) {
    static const char head[] =
        "0From: admin\r\nTo: user\r\nSubject: benchmark letter\r\n\r\n";
    static const char line[] = "The quick brown fox jumps over the lazy dog, 0123456789.\r\n";
    std::size_t pos = 0;
    for (std::size_t i = 0; head[i] && pos < LETTER_SIZE; ++i) out[pos++] = static_cast<unsigned char>(head[i]);
    for (std::size_t i = 0; pos < LETTER_SIZE - 2; i = (i + 1) % (sizeof line - 1))
        out[pos++] = static_cast<unsigned char>(line[i]);
    out[LETTER_SIZE - 2] = '\r';
    out[LETTER_SIZE - 1] = '\n';
}

void BuildReplies(Replies& r) {
    wire::BuildStatus(r.status, true);
    wire::BuildStat(r.stat, LETTERS, static_cast<std::uint64_t>(LETTERS) * LETTER_SIZE);
    std::uint32_t sizes[LETTERS];
    for (std::uint32_t& s : sizes) s = LETTER_SIZE;
    wire::BuildList(r.list, sizes, LETTERS);
    unsigned char text[LETTER_SIZE];
    LetterText(text);
    wire::BuildRetr(r.retr, text, sizeof text);
}

}  // namespace bench
