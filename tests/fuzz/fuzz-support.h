// Shared by the fuzz targets: a failed property check stops the run like a sanitizer
// finding, and a small reader splits the fuzzer's bytes into the pieces a target needs.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FUZZ_CHECK(cond)                                                                      \
    do                                                                                        \
    {                                                                                         \
        if (!(cond))                                                                          \
        {                                                                                     \
            fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond);       \
            abort();                                                                          \
        }                                                                                     \
    } while (0)

#define FUZZ_CHECK_MSG(cond, ...)                                                             \
    do                                                                                        \
    {                                                                                         \
        if (!(cond))                                                                          \
        {                                                                                     \
            fprintf(stderr, "%s:%d: property failed: %s: ", __FILE__, __LINE__, #cond);       \
            fprintf(stderr, __VA_ARGS__);                                                     \
            fputc('\n', stderr);                                                              \
            abort();                                                                          \
        }                                                                                     \
    } while (0)

// Consumes the input from the front; running out yields zeros and empty pieces.
struct FuzzReader
{
    const uint8_t *data;
    size_t size;

    uint8_t byte()
    {
        if (!size)
            return 0;
        size--;
        return *data++;
    }
    uint32_t u32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++)
            v = (v << 8) | byte();
        return v;
    }
    uint64_t u64()
    {
        return ((uint64_t)u32() << 32) | u32();
    }
    // Up to the next `stop` byte (not included, consumed) or the end.
    size_t piece(uint8_t stop, const uint8_t **start)
    {
        *start = data;
        size_t n = 0;
        while (n < size && data[n] != stop)
            n++;
        data += n;
        size -= n;
        if (size)
            data++, size--;
        return n;
    }
};

// A heap copy of exactly `size` bytes with no terminator, so that reading one byte past
// the end is an AddressSanitizer finding.
inline char *FuzzExactCopy(const void *data, size_t size)
{
    char *p = (char *)malloc(size ? size : 1);
    if (size)
        memcpy(p, data, size);
    return p;
}

// A heap copy with a terminator after `size` bytes (earlier zero bytes stay).
inline char *FuzzTerminatedCopy(const void *data, size_t size)
{
    char *p = (char *)malloc(size + 1);
    if (size)
        memcpy(p, data, size);
    p[size] = 0;
    return p;
}
