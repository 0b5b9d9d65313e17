// ParseCommand on any bytes: the word is recognised only when bytes 0 to 3 spell it; a USER or
// PASS argument is exactly the bytes from 5 up to a NUL before byte 20; a RETR or DELE number
// comes from bytes 5 to 7 only.  A valid argument survives a rebuilt frame unchanged.
#include "check.h"
#include "wire.h"

using namespace wire;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    ParsedCommand p = ParseCommand(data, size);

    if (size < 4) FUZZ_CHECK(p.cmd == Command::None);
    if (p.cmd != Command::None) FUZZ_CHECK(std::memcmp(data, CommandWord(p.cmd), 4) == 0);
    FUZZ_CHECK(std::memchr(p.arg, 0, sizeof p.arg) != nullptr);

    bool login = p.cmd == Command::User || p.cmd == Command::Pass;
    if (p.arg_valid) {
        FUZZ_CHECK(login);
        std::size_t n = std::strlen(p.arg);
        FUZZ_CHECK(PAYLOAD_OFFSET + n < LOGIN_ARG_END && PAYLOAD_OFFSET + n < size);
        FUZZ_CHECK(data[PAYLOAD_OFFSET + n] == 0);
        FUZZ_CHECK(std::memcmp(p.arg, data + PAYLOAD_OFFSET, n) == 0);

        unsigned char frame[COMMAND_FRAME_SIZE];
        BuildCommand(frame, p.cmd, p.arg);
        ParsedCommand again = ParseCommand(frame, sizeof frame);
        FUZZ_CHECK(again.cmd == p.cmd && again.arg_valid && std::strcmp(again.arg, p.arg) == 0);
    } else {
        FUZZ_CHECK(p.arg[0] == 0);
    }

    bool numbered = p.cmd == Command::Retr || p.cmd == Command::Dele;
    if (p.has_number) FUZZ_CHECK(numbered);
    else FUZZ_CHECK(p.number == 0);
    FUZZ_CHECK(p.number >= -999 && p.number <= 999);
    return 0;
}
