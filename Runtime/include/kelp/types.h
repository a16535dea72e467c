// Basic types shared by every runtime area. Only compiler-provided headers are used here,
// so the portable half of the runtime builds freestanding and on any host.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdarg.h>

// Source-location tag handed to the heap functions; ignored on this platform.
#define RT_SRC_TAG __FILE__

// A pointer in the first or the last 4096 bytes of the address space is never
// dereferenced; the limits follow the build's pointer width.
inline bool RTIsValidPtr(const void *p)
{
    uintptr_t const v = (uintptr_t)p;
    return v >= 0x1000 && v <= UINTPTR_MAX - 0x1000;
}

#define RT_ELEMENTS(a) (sizeof(a) / sizeof((a)[0]))
#define RT_NOREF(x) ((void)(x))

// Fixed buffer sizes used throughout the program.
enum : size_t
{
    RTPATH_MAX = 4100,
};
