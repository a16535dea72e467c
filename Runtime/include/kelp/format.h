// The runtime's printf-style formatter: one engine that walks a format string and hands
// each finished chunk of text to an output callback, the %R directives for the runtime's
// own types (sized integers, booleans, status codes, ...) and the ready-made front ends.
//
// All text is UTF-8. Integer, pointer and size arguments follow the build's own widths:
// int and long are 32 bits, size_t, ptrdiff_t and pointers are pointer-sized.
#pragma once

#include "kelp/types.h"

// Receives one chunk of output (not terminated). A null chunk with count 0 marks the end
// of one run of the engine; a nested %N run makes its own end call, so a callback must
// accept further output after it. The result is added to the engine's total (its
// meaning is the callback's business).
typedef size_t (*FormatOutputFn)(void *outputArg, const char *chars, size_t count);

// Handles a conversion letter the engine does not know. *format points at that letter;
// the handler moves it past everything it consumes and takes its arguments from *args.
// width and precision are -1 when absent; size is the size character (0 for none).
typedef size_t (*FormatExtensionFn)(void *extensionArg, FormatOutputFn output, void *outputArg,
                                    const char **format, va_list *args, int width,
                                    int precision, unsigned flags, char size);

// The flags word of a directive, shared by the engine and every %R handler.
enum : unsigned
{
    FMT_CAPITALS  = 0x1,    // upper-case digits and "0X"
    FMT_LEFT      = 0x2,    // '-': left-aligned
    FMT_ZEROPAD   = 0x4,    // '0'
    FMT_SPECIAL   = 0x8,    // '#'
    FMT_SIGNED    = 0x10,   // the value is signed
    FMT_PLUS      = 0x20,   // '+'
    FMT_BLANK     = 0x40,   // ' '
    FMT_WIDTH     = 0x80,   // a width is present
    FMT_PRECISION = 0x100,  // a precision is present
    FMT_THOUSANDS = 0x200,  // '\'': blank between groups of three decimal digits
    FMT_MASKED    = 0x400,  // the value is never shown
    FMT_8BIT      = 0x800,
    FMT_16BIT     = 0x1000,
    FMT_32BIT     = 0x2000,
    FMT_64BIT     = 0x4000,
};

enum : size_t
{
    // Room for one number conversion: at most 63 characters and the terminator.
    RTFMT_NUMBER_BUFFER = 64,
};

// The engine. extension may be null. Returns the sum of the callback results.
size_t RTFmtEmitV(FormatOutputFn output, void *outputArg, FormatExtensionFn extension,
                  void *extensionArg, const char *format, va_list args);
size_t RTFmtEmit(FormatOutputFn output, void *outputArg, FormatExtensionFn extension,
                 void *extensionArg, const char *format, ...);

// Formats into buffer (size bytes), truncating; the buffer is always terminated unless
// size is 0. Returns the number of bytes stored without the terminator.
size_t RTFmtBufferV(char *buffer, size_t size, const char *format, va_list args);
size_t RTFmtBuffer(char *buffer, size_t size, const char *format, ...);

// As RTFmtBuffer, but returns the full length of the output when it fit and
// -(full length + 1) when it was truncated.
int RTFmtBufferCheckedV(char *buffer, size_t size, const char *format, va_list args);
int RTFmtBufferChecked(char *buffer, size_t size, const char *format, ...);

// Formats into a new heap string (freed with RTMemFree or RTStrDispose). Returns its
// length, or -1 with *result null when memory ran out.
int RTFmtAllocV(char **result, const char *format, va_list args, const char *tag = RT_SRC_TAG);
int RTFmtAllocTag(char **result, const char *tag, const char *format, ...);
#define RTFmtAlloc(result, ...) RTFmtAllocTag((result), RT_SRC_TAG, __VA_ARGS__)

// Converts one integer into buffer, which must hold RTFMT_NUMBER_BUFFER bytes. base is
// 8, 10 or 16; width and precision -1 for none. The value is taken as 64-bit when
// FMT_64BIT is set or its high half is not zero. Returns the length.
int RTFmtNumber(char *buffer, uint64_t value, unsigned base, int width, int precision,
                unsigned flags);

// Far pointers as the %RTfp32 and %RTfp64 directives take them (by value).
#pragma pack(push, 4)
struct RTFAR32
{
    uint32_t off;
    uint16_t sel;
};
struct RTFAR64
{
    uint64_t off;
    uint16_t sel;
};
#pragma pack(pop)

// A network address as %RTnaddr reads it (through a pointer).
enum : uint32_t
{
    RTNETADDRTYPE_IPV4 = 1,
    RTNETADDRTYPE_IPV6 = 2,
    RTNETADDRTYPE_MAC = 4,
    RTNETADDR_PORT_NONE = 0xFFFFFFFF,
};
struct RTNETADDR
{
    uint8_t address[16]; // IPv4 in the first 4 bytes, IPv6 in all 16, MAC in the first 6
    uint32_t type;
    uint32_t port;       // RTNETADDR_PORT_NONE: no port
};
