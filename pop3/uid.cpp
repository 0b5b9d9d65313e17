#include "uid.h"

#include <cstdint>
#include <cstring>

namespace pop3 {
namespace {

constexpr std::size_t PREFIX_LEN = 37;

bool IsSafe(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

std::uint64_t Mix(std::uint64_t h) {
    h ^= h >> 33; h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33; h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return h;
}

// Two FNV-1a passes, one forward from the standard basis and one backward from another, each
// finished by a mixer: 128 bits that depend on every byte and on the length.
void Hash(const unsigned char* s, std::size_t n, std::uint64_t* a, std::uint64_t* b) {
    const std::uint64_t kPrime = 0x100000001b3ull;
    std::uint64_t h1 = 0xcbf29ce484222325ull, h2 = 0x84222325cbf29ce4ull;
    for (std::size_t i = 0; i < n; ++i) {
        h1 = (h1 ^ s[i]) * kPrime;
        h2 = (h2 ^ s[n - 1 - i]) * kPrime;
    }
    *a = Mix(h1 ^ n);
    *b = Mix(h2 + n);
}

void PutHex64(char* p, std::uint64_t v) {
    static const char kHex[] = "0123456789abcdef";
    for (int i = 15; i >= 0; --i, v >>= 4) p[i] = kHex[v & 15];
}

}  // namespace

std::size_t MakeUid(const char* name, char (&out)[MAX_UID_LEN + 1]) {
    static const char kHex[] = "0123456789ABCDEF";
    out[0] = 0;
    if (!name || !*name) return 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(name);
    std::size_t n = std::strlen(name), len = 0, prefix = 0;
    bool fits = true;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = s[i];
        bool plain = IsSafe(c) || (c == '.' && i > 0 && i + 1 < n && s[i - 1] != '.');
        std::size_t width = plain ? 1 : 3;
        if (len + width <= PREFIX_LEN) prefix = len + width;
        if (len + width > MAX_UID_LEN) { fits = false; break; }
        if (plain) {
            out[len++] = static_cast<char>(c);
        } else {
            out[len++] = '=';
            out[len++] = kHex[c >> 4];
            out[len++] = kHex[c & 15];
        }
    }
    if (fits) {
        out[len] = 0;
        return len;
    }
    // A dot-atom may not end in '.' before the '~'; the prefix is only a reader's hint anyway.
    while (prefix && out[prefix - 1] == '.') --prefix;
    std::uint64_t a, b;
    Hash(s, n, &a, &b);
    out[prefix] = '~';
    PutHex64(out + prefix + 1, a);
    PutHex64(out + prefix + 17, b);
    out[prefix + 33] = 0;
    return prefix + 33;
}

}  // namespace pop3
