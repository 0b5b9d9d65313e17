// A frame fed to the Collector in pieces of any size: the first two bytes ask for a length (up to
// 65535, more than a frame holds); each following byte is the size of the next piece, taken from
// the bytes after it.  The Collector never holds more than it was asked for nor more than a
// frame, takes exactly what is still missing, and holds the bytes in the order they came.
#include <algorithm>
#include <vector>

#include "check.h"
#include "wire.h"

using namespace wire;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size < 2) return 0;
    std::size_t ask = data[0] | data[1] << 8;
    Collector c;
    std::memset(&c, 0xcc, sizeof c);
    CollectorReset(c, ask);
    std::size_t want = ask < DATA_FRAME_SIZE ? ask : DATA_FRAME_SIZE;
    FUZZ_CHECK(c.have == 0 && c.want == want);

    std::vector<unsigned char> expected;
    std::size_t i = 2;
    while (i < size) {
        std::size_t piece = data[i++];
        if (piece > size - i) piece = size - i;
        // The piece alone on the heap, so that a read past it is seen (never a null pointer:
        // the programs always feed from a receive buffer).
        std::vector<unsigned char> bytes(data + i, data + i + piece);
        bytes.reserve(1);
        std::size_t missing = want - c.have;
        std::size_t took = CollectorFeed(c, bytes.data(), piece);
        FUZZ_CHECK(took == (piece < missing ? piece : missing));
        expected.insert(expected.end(), bytes.begin(), bytes.begin() + took);
        FUZZ_CHECK(c.have == expected.size() && c.have <= c.want && c.want == want);
        FUZZ_CHECK(CollectorFull(c) == (c.have == want));
        i += piece;
    }
    FUZZ_CHECK(std::equal(expected.begin(), expected.end(), c.data));
    return 0;
}
