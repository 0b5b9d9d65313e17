// ListBegin/ListNext on any reply, into buffers of any size (0 to 31 bytes, from the first two
// input bytes): every entry moves the cursor forward by two spaces at least and stays within the frame and the received
// bytes, both fields come back NUL-terminated, hold no space and are copies of the reply's bytes,
// and once the walk has ended it stays ended.
#include "check.h"
#include "wire.h"

using namespace wire;

namespace {

// `field` (cut to its buffer) is a copy of the reply's bytes [from, to), which hold no space.
bool CopiedFrom(const char* field, const unsigned char* reply, std::size_t from, std::size_t to) {
    std::size_t n = std::strlen(field);
    return from + n <= to && std::memcmp(field, reply + from, n) == 0 &&
           std::memchr(reply + from, ' ', to - from) == nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size < 2) return 0;
    ExactBuffer number(data[0] % 32), sizef(data[1] % 32);
    std::size_t len = size - 2;
    std::unique_ptr<unsigned char[]> reply(new unsigned char[len ? len : 1]);
    if (len) std::memcpy(reply.get(), data + 2, len);
    std::size_t end = len < DATA_FRAME_SIZE ? len : DATA_FRAME_SIZE;

    ListCursor cur = ListBegin(reply.get(), len);
    std::size_t entries = 0;
    for (;;) {
        std::size_t before = cur.pos;
        bool more = ListNext(cur, number.get(), number.size, sizef.get(), sizef.size);
        FUZZ_CHECK(number.Terminated() && sizef.Terminated());
        if (!more) break;
        // An entry is two fields, each ended by a space; a field may be empty.
        FUZZ_CHECK(cur.pos >= before + 2 && cur.pos <= end && reply[cur.pos - 1] == ' ');
        const unsigned char* gap = static_cast<const unsigned char*>(std::memchr(&reply[before], ' ', cur.pos - before));
        FUZZ_CHECK(gap != nullptr);
        std::size_t sp = gap - reply.get();
        if (number.size) FUZZ_CHECK(CopiedFrom(number.get(), reply.get(), before, sp));
        if (sizef.size) FUZZ_CHECK(CopiedFrom(sizef.get(), reply.get(), sp + 1, cur.pos - 1));
        FUZZ_CHECK(++entries <= DATA_FRAME_SIZE / 2);
    }
    FUZZ_CHECK(!ListNext(cur, number.get(), number.size, sizef.get(), sizef.size));
    return 0;
}
