// ParseStat on any reply, into buffers of any size (0 to 31 bytes, from the first two input
// bytes): both fields NUL-terminated within their buffers, the count holding no space, each a
// copy of the reply's bytes; no space within bytes 5 to 19 means false and empty fields.
#include "check.h"
#include "wire.h"

using namespace wire;

namespace {

// `field` (cut to its buffer) is the reply's text from `from`, which then goes on with a stop.
bool CopiedFrom(const char* field, const unsigned char* reply, std::size_t end, std::size_t from) {
    std::size_t n = std::strlen(field);
    return from + n <= end && std::memcmp(field, reply + from, n) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size < 2) return 0;
    ExactBuffer count(data[0] % 32), sizef(data[1] % 32);
    const unsigned char* reply = data + 2;
    std::size_t len = size - 2;
    std::unique_ptr<unsigned char[]> copy(new unsigned char[len ? len : 1]);
    if (len) std::memcpy(copy.get(), reply, len);

    bool ok = ParseStat(copy.get(), len, count.get(), count.size, sizef.get(), sizef.size);
    FUZZ_CHECK(count.Terminated() && sizef.Terminated());

    std::size_t end = len < STAT_FRAME_SIZE ? len : STAT_FRAME_SIZE;
    const void* space = end > PAYLOAD_OFFSET ? std::memchr(reply + PAYLOAD_OFFSET, ' ', end - PAYLOAD_OFFSET) : nullptr;
    FUZZ_CHECK(ok == (space != nullptr));
    if (!ok) {
        FUZZ_CHECK(count.size == 0 || count.get()[0] == 0);
        FUZZ_CHECK(sizef.size == 0 || sizef.get()[0] == 0);
        return 0;
    }
    std::size_t at = static_cast<const unsigned char*>(space) - reply;
    if (count.size) FUZZ_CHECK(CopiedFrom(count.get(), reply, at, PAYLOAD_OFFSET));
    if (sizef.size) FUZZ_CHECK(CopiedFrom(sizef.get(), reply, end, at + 1));
    return 0;
}
