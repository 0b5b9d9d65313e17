// Random and truncated input against every reader of the frames, under the sanitizers: nothing
// reads outside the bytes given, and every field comes back NUL-terminated within its buffer.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "wire.h"

using namespace wire;

namespace {

// A small fixed-seed generator, so that a failure can be replayed.
struct Rng {
    std::uint64_t s;
    std::uint32_t Next() {
        s ^= s << 13; s ^= s >> 7; s ^= s << 17;
        return static_cast<std::uint32_t>(s);
    }
};

// Bytes that matter to the readers turn up often: NUL, space, digits, the command words.
void Fill(Rng& rng, unsigned char* p, std::size_t n) {
    static const unsigned char kAlphabet[] = {0, ' ', '0', '1', '9', '+', '-', 'O', 'k', 'x', 0xff, 0xc8};
    for (std::size_t i = 0; i < n; ++i)
        p[i] = rng.Next() % 3 ? kAlphabet[rng.Next() % sizeof kAlphabet] : static_cast<unsigned char>(rng.Next());
    if (n >= 4 && rng.Next() % 2) std::memcpy(p, CommandWord(static_cast<Command>(1 + rng.Next() % 7)), 4);
    if (n >= 4 && rng.Next() % 3 == 0) std::memcpy(p, "+Ok\0", 4);
}

}  // namespace

TEST(Hostile, RandomAndTruncatedFramesStayInBounds) {
    Rng rng{0x9e3779b97f4a7c15ull};
    for (int round = 0; round < 20000; ++round) {
        std::size_t len = rng.Next() % (DATA_FRAME_SIZE + 1);
        // Exactly len bytes on the heap: the address sanitizer catches a read past them.
        std::vector<unsigned char> buf(len ? len : 1);
        Fill(rng, buf.data(), len);

        ParsedCommand p = ParseCommand(buf.data(), len);
        ASSERT_LE(std::strlen(p.arg), MAX_LOGIN_ARG);
        ASSERT_GE(p.number, -99);
        ASSERT_LE(p.number, 999);

        char count[4], size[12];
        ParseStat(buf.data(), len, count, sizeof count, size, sizeof size);
        ASSERT_LT(std::strlen(count), sizeof count);
        ASSERT_LT(std::strlen(size), sizeof size);

        ListCursor cur = ListBegin(buf.data(), len);
        char num[8], sz[12];
        int entries = 0;
        while (ListNext(cur, num, sizeof num, sz, sizeof sz)) {
            ASSERT_LT(std::strlen(num), sizeof num);
            ASSERT_LT(std::strlen(sz), sizeof sz);
            ASSERT_LT(++entries, 500);
        }
        // A RETR reply against a listed size anywhere from 0 to twice a frame: the letter's copy
        // stays inside the bytes that came.
        char listed[12];
        std::snprintf(listed, sizeof listed, "%u", static_cast<unsigned>(rng.Next() % (2 * DATA_FRAME_SIZE)));
        unsigned char letter[DATA_FRAME_SIZE];
        std::size_t extent = LetterExtent(len, rng.Next() % 4 ? listed : nullptr);
        ASSERT_LE(extent, sizeof letter);
        if (extent) std::memcpy(letter, buf.data() + PAYLOAD_OFFSET, extent);

        IsPositive(buf.data(), len);
        ReplySize(static_cast<Command>(rng.Next() % 8), buf.data(), len < 5 ? len : 5);

        Collector c;
        CollectorReset(c, rng.Next() % 2000);
        std::size_t fed = 0;
        while (fed < len && !CollectorFull(c)) {
            std::size_t piece = 1 + rng.Next() % 300;
            if (piece > len - fed) piece = len - fed;
            fed += CollectorFeed(c, buf.data() + fed, piece);
        }
        ASSERT_LE(c.have, c.want);
    }
}
