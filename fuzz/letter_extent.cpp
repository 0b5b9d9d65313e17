// LetterExtent on any listed size text and any reply length: the extent never passes what the
// reply holds after its head nor the letter pane's room, and the copy it allows stays inside a
// reply buffer of exactly the received length.
#include <initializer_list>

#include "check.h"
#include "wire.h"

using namespace wire;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size < 2) return 0;
    std::size_t reply_len = ((static_cast<std::size_t>(data[0]) << 8) | data[1]) % (DATA_FRAME_SIZE + 50);
    ExactBuffer listed(size - 2 + 1);
    std::memcpy(listed.get(), data + 2, size - 2);
    listed.get()[size - 2] = '\0';
    ExactBuffer reply(reply_len);
    std::memset(reply.get(), 'x', reply_len);
    for (const char* text : {static_cast<const char*>(listed.get()), static_cast<const char*>(nullptr)}) {
        std::size_t n = LetterExtent(reply_len, text);
        FUZZ_CHECK(n <= (reply_len > PAYLOAD_OFFSET ? reply_len - PAYLOAD_OFFSET : 0));
        FUZZ_CHECK(n < DATA_FRAME_SIZE);
        char pane[DATA_FRAME_SIZE];
        if (n) std::memcpy(pane, reply.get() + PAYLOAD_OFFSET, n);
    }
    return 0;
}
