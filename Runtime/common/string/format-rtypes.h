// The %R type table row and the handlers of the %R families beyond the sized integers.
#pragma once

#include "format-internal.h"

enum : uint32_t
{
    FMT_KIND_NUMBER = 0,
    FMT_KIND_HEX_FIXED = 1,
    FMT_KIND_BOOL = 2,
    FMT_KIND_FAR16 = 3,
    FMT_KIND_FAR32 = 4,
    FMT_KIND_FAR64 = 5,
    FMT_KIND_IPV4 = 6,
    FMT_KIND_IPV6 = 7,
    FMT_KIND_MAC = 8,
    FMT_KIND_NETADDR = 9,
    FMT_KIND_UUID = 10,
    FMT_KIND_ERRINFO = 11,
    FMT_KIND_ERRINFO_MSG = 12,
};

struct FormatTypeEntry
{
    uint8_t nameLength;
    char name[10]; // zero-padded, not necessarily terminated
    uint8_t size;  // bytes of the argument
    uint8_t base;
    uint32_t kind;
    uint32_t flags; // ORed into the directive's flags
};

#define RTFMT_TYPE(name, size, base, kind, flags) \
    { (uint8_t)(sizeof(name) - 1), name, (uint8_t)(size), (uint8_t)(base), (kind), (flags) }

// "XXXXXXXX" in place of a masked value ("0x" first with FMT_SPECIAL).
size_t rtFmtMasked(FormatOutputFn output, void *outputArg, unsigned flags);

// Rows of the kinds past FMT_KIND_BOOL: takes the argument itself.
size_t rtFmtRTypeExt(FormatOutputFn output, void *outputArg, const FormatTypeEntry &row,
                     va_list *args, int width, int precision, unsigned flags);

// The other families, by the letter after "R".
size_t rtFmtRHex(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
                 int width, int precision, unsigned flags, char size);
size_t rtFmtRBaseName(FormatOutputFn output, void *outputArg, const char **format,
                      va_list *args, int width, int precision, unsigned flags, char size);
size_t rtFmtRFuncName(FormatOutputFn output, void *outputArg, const char **format,
                      va_list *args, int width, int precision, unsigned flags, char size);
size_t rtFmtREscape(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
                    int width, int precision, unsigned flags, char size);
size_t rtFmtRTime(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
                  int width, int precision, unsigned flags, char size);
size_t rtFmtRArch(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
                  int width, int precision, unsigned flags, char size);
size_t rtFmtRCustom(FormatOutputFn output, void *outputArg, const char **format,
                    va_list *args, int width, int precision, unsigned flags, char size);
