// DecodeUserRecord on any 55 bytes, as a damaged Users.db holds them: each text field is the
// record's bytes up to a NUL, cut to its width less one, terminated and zero-filled after; the
// numbers are the little-endian words at 47 and 51; a decoded record encodes and decodes again
// to itself.
#include "check.h"
#include "userrecord.h"

namespace {

void CheckText(const char* field, std::size_t width, const unsigned char* in) {
    std::size_t n = strnlen(field, width);
    FUZZ_CHECK(n < width && std::memcmp(field, in, n) == 0);
    FUZZ_CHECK(n == width - 1 || in[n] == 0);
    for (std::size_t i = n; i < width; ++i) FUZZ_CHECK(field[i] == 0);
}

std::int32_t Le32(const unsigned char* p) {
    return static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

bool Same(const UserRecord& a, const UserRecord& b) {
    return std::memcmp(a.name, b.name, NAME_SIZE) == 0 && std::memcmp(a.ip_address, b.ip_address, IP_SIZE) == 0 &&
           std::memcmp(a.password, b.password, PASSWORD_SIZE) == 0 && a.letter_count == b.letter_count &&
           a.access_level == b.access_level;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size < USER_RECORD_SIZE) return 0;
    unsigned char in[USER_RECORD_SIZE];
    std::memcpy(in, data, sizeof in);
    UserRecord rec;
    std::memset(&rec, 0xcc, sizeof rec);
    DecodeUserRecord(in, rec);

    CheckText(rec.name, NAME_SIZE, in + NAME_OFFSET);
    CheckText(rec.ip_address, IP_SIZE, in + IP_OFFSET);
    CheckText(rec.password, PASSWORD_SIZE, in + PASSWORD_OFFSET);
    FUZZ_CHECK(rec.letter_count == Le32(in + LETTER_COUNT_OFFSET));
    FUZZ_CHECK(rec.access_level == Le32(in + ACCESS_LEVEL_OFFSET));

    unsigned char out[USER_RECORD_SIZE];
    EncodeUserRecord(rec, out);
    UserRecord again;
    DecodeUserRecord(out, again);
    FUZZ_CHECK(Same(rec, again));
    return 0;
}
