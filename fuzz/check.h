// What the fuzz targets share: a check that stops the run with a finding, and buffers of an
// exact size on the heap, so that the address sanitizer sees a write even one byte past them.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#define FUZZ_CHECK(cond)                                                               \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

struct ExactBuffer {
    explicit ExactBuffer(std::size_t n) : size(n), bytes(new char[n]) {}
    std::size_t size;
    std::unique_ptr<char[]> bytes;
    char* get() { return bytes.get(); }
    // The text is NUL-terminated within the buffer (a buffer of no bytes holds none).
    bool Terminated() const { return size == 0 || std::memchr(bytes.get(), 0, size) != nullptr; }
};
