// The head of any reply: positive exactly when it starts "+Ok" and a NUL; then it is as long as
// its command's answer (20 for STAT, 1000 for LIST and RETR, 5 otherwise), and otherwise 5.
#include <vector>

#include "check.h"
#include "wire.h"

using namespace wire;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::vector<unsigned char> head(data, data + size);   // exactly `size` bytes on the heap
    bool positive = IsPositive(head.data(), size);
    FUZZ_CHECK(positive == (size >= 4 && std::memcmp(data, "+Ok", 4) == 0));
    for (int k = 0; k <= static_cast<int>(Command::Quit); ++k) {
        Command cmd = static_cast<Command>(k);
        std::size_t n = ReplySize(cmd, head.data(), size);
        std::size_t expected = STATUS_FRAME_SIZE;
        if (positive && cmd == Command::Stat) expected = STAT_FRAME_SIZE;
        if (positive && (cmd == Command::List || cmd == Command::Retr)) expected = DATA_FRAME_SIZE;
        FUZZ_CHECK(n == expected);
    }
    return 0;
}
