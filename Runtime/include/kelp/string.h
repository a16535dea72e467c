// Text: zero-terminated UTF-8 inside the program, zero-terminated UTF-16 at every call
// into Windows, and the small string tool kit built on them.
//
// Lengths count bytes (UTF-8) or 16-bit units (UTF-16) without the terminator; the
// capacities of caller buffers include it. Functions that allocate take the caller's
// source tag, which the heap ignores. Heap strings are released with RTStrDispose, UTF-16
// strings made here with RTUtf16Free.
#pragma once

#include "kelp/types.h"

// One UTF-16 unit. On Windows this is the system's wide character, so converted text
// goes straight to the W functions.
#if defined(__SIZEOF_WCHAR_T__) && __SIZEOF_WCHAR_T__ == 2
typedef wchar_t RTUTF16;
#else
typedef char16_t RTUTF16;
#endif

typedef uint32_t RTUNICP;

// The code point that failing decoders return.
enum : RTUNICP { RTUNICP_INVALID = 0xFFFFFFFE };

// "No limit" for maxBytes / maxUnits arguments; also the count stored on error.
#define RTSTR_MAX (~(size_t)0)

// RTStrCheckEncoding flags.
enum : uint32_t
{
    RTSTR_CHECK_TERMINATOR   = 1, // the terminator must lie within maxBytes
    RTSTR_CHECK_EXACT_LENGTH = 2, // the length (+1 with the terminator flag) must equal maxBytes
};

// Plain measuring and comparison (the runtime has no C library underneath).
size_t RTStrLen(const char *str);
size_t RTStrNLen(const char *str, size_t maxBytes);
// Byte-wise comparison (unsigned bytes); null sorts before everything else.
int RTStrCmp(const char *a, const char *b);

// Heap strings.
char *RTStrNew(size_t size, const char *tag = RT_SRC_TAG);
char *RTStrClone(const char *str, const char *tag = RT_SRC_TAG);
char *RTStrCloneN(const char *str, size_t maxBytes, const char *tag = RT_SRC_TAG);
int RTStrCloneNEx(char **result, const char *str, size_t maxBytes, const char *tag = RT_SRC_TAG);
int RTStrResize(char **str, size_t size, const char *tag = RT_SRC_TAG);
void RTStrDispose(char *str);

// Buffers of fixed size: a truncated, terminated text and ERR_BUFFER_OVERFLOW when the
// source does not fit.
int RTStrCopyTo(char *buffer, size_t size, const char *source);
int RTStrAppendTo(char *buffer, size_t size, const char *source);

// Case-insensitive ('A'-'Z' only) comparison of a UTF-8 string with an ASCII string.
int RTStrCompareAsciiNoCase(const char *str, const char *ascii);

// Code points.
int RTStrDecodeCp(const char **cursor, RTUNICP *codePoint);
int RTStrDecodeCpN(const char **cursor, size_t *remaining, RTUNICP *codePoint);
// Writes up to 6 bytes; returns the position after them.
char *RTStrEncodeCp(char *buffer, RTUNICP codePoint);
const char *RTStrStepBack(const char *start, const char *position);
inline char *RTStrStepBack(char *start, char *position)
{
    return const_cast<char *>(RTStrStepBack((const char *)start, (const char *)position));
}
int RTUtf16DecodeCp(const RTUTF16 **cursor, RTUNICP *codePoint);
int RTUtf16BeDecodeCp(const RTUTF16 **cursor, RTUNICP *codePoint);

// Validation and measuring.
int RTStrCheckEncoding(const char *str, size_t maxBytes, uint32_t flags);
size_t RTStrCountCps(const char *str);
int RTStrMeasureUtf16(const char *str, size_t maxBytes, size_t *units);
int RTUtf16MeasureUtf8(const RTUTF16 *wstr, size_t maxUnits, size_t *bytes);

// Conversions. With a caller buffer (capacity not 0 and *result not null) nothing is
// written unless the whole result fits; otherwise a block is allocated.
int RTStrToUtf16(const char *str, RTUTF16 **result, const char *tag = RT_SRC_TAG);
int RTStrToUtf16Ex(const char *str, size_t maxBytes, RTUTF16 **result, size_t capacity,
                   size_t *units, const char *tag = RT_SRC_TAG);
int RTStrToCodePointsEx(const char *str, size_t maxBytes, RTUNICP **result, size_t capacity,
                        size_t *count);
int RTUtf16ToUtf8Ex(const RTUTF16 *wstr, size_t maxUnits, char **result, size_t capacity,
                    size_t *bytes, const char *tag = RT_SRC_TAG);
// Allocating shorthand for RTUtf16ToUtf8Ex up to the terminator.
int RTUtf16ToUtf8(const RTUTF16 *wstr, char **result, const char *tag = RT_SRC_TAG);
// The string in the system's ANSI code page (console output); Windows only.
int RTStrToAnsiCodePage(char **result, const char *str, const char *tag = RT_SRC_TAG);

// UTF-16 strings.
RTUTF16 *RTUtf16New(size_t size, const char *tag = RT_SRC_TAG);
RTUTF16 *RTUtf16Clone(const RTUTF16 *wstr, const char *tag = RT_SRC_TAG);
size_t RTUtf16Length(const RTUTF16 *wstr);
int RTUtf16Resize(RTUTF16 **wstr, size_t size, const char *tag = RT_SRC_TAG);
void RTUtf16Free(RTUTF16 *wstr);
