// Heap strings, fixed-size buffers and comparison.
#include "kelp/err.h"
#include "kelp/mem.h"
#include "kelp/string.h"

size_t RTStrLen(const char *str)
{
    size_t n = 0;
    while (str[n])
        n++;
    return n;
}

size_t RTStrNLen(const char *str, size_t maxBytes)
{
    size_t n = 0;
    while (n < maxBytes && str[n])
        n++;
    return n;
}

int RTStrCmp(const char *a, const char *b)
{
    if (a == b)
        return 0;
    if (!a)
        return -1;
    if (!b)
        return 1;
    const unsigned char *p = (const unsigned char *)a;
    const unsigned char *q = (const unsigned char *)b;
    while (*p && *p == *q)
        p++, q++;
    return (int)*p - (int)*q;
}

char *RTStrNew(size_t size, const char *tag)
{
    if (size < 1)
        size = 1;
    char *s = (char *)RTMemAllocTag(size, tag);
    if (s)
        s[0] = 0;
    return s;
}

int RTStrCloneNEx(char **result, const char *str, size_t maxBytes, const char *tag)
{
    size_t const len = maxBytes && str ? RTStrNLen(str, maxBytes) : 0;
    char *s = (char *)RTMemAllocTag(len + 1, tag);
    *result = s;
    if (!s)
        return ERR_NO_STRING_MEMORY;
    for (size_t i = 0; i < len; i++)
        s[i] = str[i];
    s[len] = 0;
    return 0;
}

char *RTStrCloneN(const char *str, size_t maxBytes, const char *tag)
{
    if (!str)
        return nullptr;
    char *s;
    RTStrCloneNEx(&s, str, maxBytes, tag);
    return s;
}

char *RTStrClone(const char *str, const char *tag)
{
    return RTStrCloneN(str, RTSTR_MAX, tag);
}

int RTStrResize(char **str, size_t size, const char *tag)
{
    if (size == 0)
    {
        RTMemFree(*str);
        *str = nullptr;
        return 0;
    }
    char *s;
    if (!*str)
    {
        s = (char *)RTMemAllocTag(size, tag);
        if (!s)
            return ERR_NO_STRING_MEMORY;
        s[0] = 0;
    }
    else
    {
        s = (char *)RTMemReallocTag(*str, size, tag);
        if (!s)
            return ERR_NO_STRING_MEMORY;
    }
    s[size - 1] = 0;
    *str = s;
    return 0;
}

void RTStrDispose(char *str)
{
    RTMemFree(str);
}

int RTStrCopyTo(char *buffer, size_t size, const char *source)
{
    size_t const len = RTStrNLen(source, size);
    if (len < size)
    {
        for (size_t i = 0; i <= len; i++)
            buffer[i] = source[i];
        return 0;
    }
    if (size != 0)
    {
        for (size_t i = 0; i + 1 < size; i++)
            buffer[i] = source[i];
        buffer[size - 1] = 0;
    }
    return ERR_BUFFER_OVERFLOW;
}

int RTStrAppendTo(char *buffer, size_t size, const char *source)
{
    size_t const end = RTStrNLen(buffer, size);
    if (end >= size)
        return ERR_BAD_ARGUMENT;
    return RTStrCopyTo(buffer + end, size - end, source);
}

namespace
{

inline uint32_t rtAsciiLower(uint32_t c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

} // namespace

int RTStrCompareAsciiNoCase(const char *str, const char *ascii)
{
    if (str == ascii)
        return 0;
    if (!str)
        return -1;
    if (!ascii)
        return 1;
    for (;;)
    {
        const char *const at = str;
        RTUNICP cp;
        if (RTStrDecodeCp(&str, &cp) != 0)
            return RTStrCmp(at, ascii);
        uint32_t const c = (unsigned char)*ascii++;
        if (cp != c)
        {
            if (cp >= 0x80)
                return 1;
            uint32_t const a = rtAsciiLower(cp);
            uint32_t const b = rtAsciiLower(c);
            if (a != b)
                return (int)a - (int)b;
        }
        else if (cp == 0)
            return 0;
    }
}
