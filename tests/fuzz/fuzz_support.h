// Shared helpers of the fuzz targets: a zero-terminated copy of the input on the heap (so that
// AddressSanitizer sees a read past its end) and a check that aborts with a message.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            fprintf(stderr, "%s:%d: broken invariant: %s\n", __FILE__, __LINE__, #condition);  \
            abort();                                                                            \
        }                                                                                       \
    } while (0)

inline std::vector<char> zeroTerminatedCopy(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    return text;
}

// True when `field` of `size` bytes holds its terminating zero.
inline bool isTerminated(const char* field, size_t size) { return memchr(field, '\0', size) != nullptr; }
