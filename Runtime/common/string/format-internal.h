// Pieces shared by the formatter's engine, its %R handlers and its front ends.
#pragma once

#include "kelp/format.h"

// A %R family handler. *format points at the first letter after "R" and is moved past
// what the handler recognised; a handler that recognises nothing leaves it alone.
typedef size_t (*RTFMTRHANDLER)(FormatOutputFn output, void *outputArg, const char **format,
                                va_list *args, int width, int precision, unsigned flags,
                                char size);

// The %R dispatcher: after it the position is past the directive or, for an unknown
// one, just after its first letter.
size_t rtFmtR(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
              int width, int precision, unsigned flags, char size);

size_t rtFmtRType(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
                  int width, int precision, unsigned flags, char size);
// Status codes ("r..."), Windows errors ("w...") and HRESULTs ("hr...").
size_t rtFmtRStatus(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
                    int width, int precision, unsigned flags, char size);

// Blanks, one output call each (strings, characters and marker texts pad this way).
size_t rtFmtBlanks(FormatOutputFn output, void *outputArg, int count);
// text (length bytes) padded to width with blanks before it, or after it with FMT_LEFT;
// the text itself goes out in one call, also when it is empty.
size_t rtFmtPadded(FormatOutputFn output, void *outputArg, const char *text, size_t length,
                   int width, unsigned flags);
// The text shown instead of an unusable pointer: "<NULL>" for null, else "<", the
// pointer in hex (two digits per byte of a pointer), marker and ">"; padded as above.
size_t rtFmtBadPointer(FormatOutputFn output, void *outputArg, const void *pointer,
                       const char *marker, int width, unsigned flags);
// A number converted by RTFmtNumber, handed over in one call.
size_t rtFmtEmitNumber(FormatOutputFn output, void *outputArg, uint64_t value, unsigned base,
                       int width, int precision, unsigned flags);
// Plain text in one call.
size_t rtFmtText(FormatOutputFn output, void *outputArg, const char *text);

size_t rtFmtStrLen(const char *text);
size_t rtFmtStrNLen(const char *text, size_t maxBytes);

// The status message as %Rrs shows it (also used by the error-info types).
size_t rtFmtStatusMessage(FormatOutputFn output, void *outputArg, int status);

// The growth step of the allocating front end for a chunk that does not fit; 0 when the
// growth must fail.
size_t rtFmtAllocIncrement(size_t capacity, size_t chunk);

// A small local text that never runs past its end (cap excludes the terminator).
struct RTFMTTEXT
{
    char *buf;
    size_t len;
    size_t cap;
};

inline void rtFmtTextInit(RTFMTTEXT *t, char *buf, size_t size)
{
    t->buf = buf;
    t->len = 0;
    t->cap = size - 1;
    buf[0] = '\0';
}

inline void rtFmtTextAdd(RTFMTTEXT *t, const char *s, size_t n)
{
    while (n-- && t->len < t->cap)
        t->buf[t->len++] = *s++;
    t->buf[t->len] = '\0';
}

inline void rtFmtTextAddStr(RTFMTTEXT *t, const char *s)
{
    while (*s && t->len < t->cap)
        t->buf[t->len++] = *s++;
    t->buf[t->len] = '\0';
}

inline void rtFmtTextAddNumber(RTFMTTEXT *t, uint64_t value, unsigned base, int width,
                               unsigned flags)
{
    char num[RTFMT_NUMBER_BUFFER];
    int n = RTFmtNumber(num, value, base, width, -1, flags);
    rtFmtTextAdd(t, num, (size_t)n);
}
