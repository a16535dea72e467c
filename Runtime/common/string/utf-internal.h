// Shared by the UTF-8 and UTF-16 halves of the text code.
#pragma once

#include "kelp/err.h"
#include "kelp/string.h"

// Decodes one UTF-8 sequence of at most `avail` bytes. Strict rules (UTF-16 bound) reject
// values above U+10FFFF and the five- and six-byte forms; permissive rules accept them.
// On success *length is the sequence's length; on error it is 1.
int rtUtf8DecodeOne(const unsigned char *p, size_t avail, bool strict, RTUNICP *codePoint,
                    size_t *length);

inline bool rtIsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool rtIsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
