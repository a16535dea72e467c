// UTF-16: decoding, measuring, conversion to UTF-8 and the UTF-16 heap strings.
#include "utf-internal.h"
#include "kelp/mem.h"

namespace
{

inline uint16_t rtSwap16(uint16_t u) { return (uint16_t)((u >> 8) | (u << 8)); }

template <bool BigEndian>
int rtUtf16DecodeAt(const RTUTF16 **cursor, RTUNICP *codePoint)
{
    const RTUTF16 *p = *cursor;
    uint16_t u = (uint16_t)p[0];
    if (BigEndian)
        u = rtSwap16(u);
    if (u < 0xD800 || (u >= 0xE000 && u <= 0xFFFD))
    {
        *codePoint = u;
        *cursor = p + 1;
        return 0;
    }
    *cursor = p + 1;
    *codePoint = RTUNICP_INVALID;
    if (u >= 0xFFFE)
        return ERR_CODE_POINT_BYTE_ORDER;
    if (rtIsHighSurrogate(u))
    {
        uint16_t low = (uint16_t)p[1];
        if (BigEndian)
            low = rtSwap16(low);
        if (rtIsLowSurrogate(low))
        {
            *codePoint = 0x10000 + (((RTUNICP)(u & 0x3FF) << 10) | (low & 0x3FF));
            *cursor = p + 2;
            return 0;
        }
    }
    return ERR_INVALID_UTF16;
}

// Walks up to the terminator or maxUnits units; calls sink(codePoint) for each character.
// A high surrogate whose partner would lie beyond maxUnits is malformed.
template <typename Sink>
int rtUtf16Walk(const RTUTF16 *wstr, size_t maxUnits, Sink sink)
{
    size_t pos = 0;
    while (pos < maxUnits && wstr[pos] != 0)
    {
        uint16_t const u = (uint16_t)wstr[pos];
        RTUNICP cp;
        if (u < 0xD800 || (u >= 0xE000 && u <= 0xFFFD))
        {
            cp = u;
            pos++;
        }
        else if (u >= 0xFFFE)
            return ERR_CODE_POINT_BYTE_ORDER;
        else if (rtIsHighSurrogate(u) && pos + 1 < maxUnits && rtIsLowSurrogate((uint16_t)wstr[pos + 1]))
        {
            cp = 0x10000 + (((RTUNICP)(u & 0x3FF) << 10) | ((uint16_t)wstr[pos + 1] & 0x3FF));
            pos += 2;
        }
        else
            return ERR_INVALID_UTF16;
        if (!sink(cp))
            return ERR_BUFFER_OVERFLOW;
    }
    return 0;
}

inline size_t rtUtf8Length(RTUNICP cp)
{
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

} // namespace

int RTUtf16DecodeCp(const RTUTF16 **cursor, RTUNICP *codePoint)
{
    return rtUtf16DecodeAt<false>(cursor, codePoint);
}

int RTUtf16BeDecodeCp(const RTUTF16 **cursor, RTUNICP *codePoint)
{
    return rtUtf16DecodeAt<true>(cursor, codePoint);
}

int RTUtf16MeasureUtf8(const RTUTF16 *wstr, size_t maxUnits, size_t *bytes)
{
    size_t count = 0;
    int rc = rtUtf16Walk(wstr, maxUnits, [&](RTUNICP cp) {
        count += rtUtf8Length(cp);
        return true;
    });
    if (bytes)
        *bytes = rc == 0 ? count : RTSTR_MAX;
    return rc;
}

int RTUtf16ToUtf8Ex(const RTUTF16 *wstr, size_t maxUnits, char **result, size_t capacity,
                    size_t *bytes, const char *tag)
{
    // A result that was to be allocated is null on every failure.
    bool const callerBuffer = capacity != 0 && *result;
    if (!callerBuffer)
        *result = nullptr;
    size_t length;
    int rc = RTUtf16MeasureUtf8(wstr, maxUnits, &length);
    if (bytes)
        *bytes = length;
    if (rc != 0)
        return rc;

    char *out;
    bool allocated = false;
    if (callerBuffer)
    {
        if (capacity <= length)
            return ERR_BUFFER_OVERFLOW;
        out = *result;
    }
    else
    {
        *result = nullptr;
        if (capacity < length + 1)
            capacity = length + 1;
        out = RTStrNew(capacity, tag);
        if (!out)
            return ERR_NO_STRING_MEMORY;
        allocated = true;
    }

    // Room is checked before each character; the output is terminated also on error.
    char *p = out;
    char *const last = out + capacity - 1;
    rc = rtUtf16Walk(wstr, maxUnits, [&](RTUNICP cp) {
        if ((size_t)(last - p) < rtUtf8Length(cp))
            return false;
        p = RTStrEncodeCp(p, cp);
        return true;
    });
    *p = 0;
    if (bytes)
        *bytes = (size_t)(p - out);
    if (rc != 0)
    {
        if (allocated)
            RTStrDispose(out);
        return rc;
    }
    *result = out;
    return 0;
}

int RTUtf16ToUtf8(const RTUTF16 *wstr, char **result, const char *tag)
{
    *result = nullptr;
    return RTUtf16ToUtf8Ex(wstr, RTSTR_MAX, result, 0, nullptr, tag);
}

RTUTF16 *RTUtf16New(size_t size, const char *tag)
{
    if (size == RTSTR_MAX) // rounding up would wrap to a tiny block
        return nullptr;
    size = (size + 1) & ~(size_t)1;
    if (size < 2)
        size = 2;
    RTUTF16 *w = (RTUTF16 *)RTMemAllocTag(size, tag);
    if (w)
        w[0] = 0;
    return w;
}

size_t RTUtf16Length(const RTUTF16 *wstr)
{
    if (!wstr)
        return 0;
    size_t n = 0;
    while (wstr[n])
        n++;
    return n;
}

RTUTF16 *RTUtf16Clone(const RTUTF16 *wstr, const char *tag)
{
    if (!wstr)
        return nullptr;
    size_t const units = RTUtf16Length(wstr) + 1;
    RTUTF16 *w = (RTUTF16 *)RTMemAllocTag(units * sizeof(RTUTF16), tag);
    if (w)
        for (size_t i = 0; i < units; i++)
            w[i] = wstr[i];
    return w;
}

int RTUtf16Resize(RTUTF16 **wstr, size_t size, const char *tag)
{
    if (size == RTSTR_MAX) // rounding up would wrap to 0 and free the string
        return *wstr ? ERR_NO_STRING_MEMORY : ERR_NO_UTF16_MEMORY;
    size = (size + 1) & ~(size_t)1;
    if (size == 0)
    {
        RTMemFree(*wstr);
        *wstr = nullptr;
        return 0;
    }
    RTUTF16 *w;
    if (!*wstr)
    {
        w = (RTUTF16 *)RTMemAllocTag(size, tag);
        if (!w)
            return ERR_NO_UTF16_MEMORY;
        w[0] = 0;
    }
    else
    {
        w = (RTUTF16 *)RTMemReallocTag(*wstr, size, tag);
        if (!w)
            return ERR_NO_STRING_MEMORY;
    }
    w[size / 2 - 1] = 0;
    *wstr = w;
    return 0;
}

void RTUtf16Free(RTUTF16 *wstr)
{
    RTMemFree(wstr);
}
