// UTF-8: decoding under the strict and the permissive rules, encoding, validation,
// measuring and the conversions towards UTF-16 and code point arrays.
#include "utf-internal.h"
#include "kelp/mem.h"

namespace
{

struct SequenceForm
{
    uint8_t leadMask;   // bits that identify the form
    uint8_t leadValue;
    uint8_t length;
    RTUNICP minimum;    // smaller values are overlong
};

constexpr SequenceForm kForms[] = {
    { 0xE0, 0xC0, 2, 0x80 },
    { 0xF0, 0xE0, 3, 0x800 },
    { 0xF8, 0xF0, 4, 0x10000 },
    { 0xFC, 0xF8, 5, 0x200000 },
    { 0xFE, 0xFC, 6, 0x4000000 },
};

// Walks the string under the given rules; calls sink(codePoint, sequenceLength) for every
// code point before the terminator or the byte limit.
template <typename Sink>
int rtUtf8Walk(const char *str, size_t maxBytes, bool strict, Sink sink)
{
    const unsigned char *p = (const unsigned char *)str;
    size_t pos = 0;
    while (pos < maxBytes && p[pos] != 0)
    {
        RTUNICP cp;
        size_t len;
        int rc = rtUtf8DecodeOne(p + pos, maxBytes - pos, strict, &cp, &len);
        if (rc != 0)
            return rc;
        sink(cp, len);
        pos += len;
    }
    return 0;
}

} // namespace

int rtUtf8DecodeOne(const unsigned char *p, size_t avail, bool strict, RTUNICP *codePoint,
                    size_t *length)
{
    *length = 1;
    *codePoint = RTUNICP_INVALID;
    unsigned char const lead = p[0];
    if (lead < 0x80)
    {
        *codePoint = lead;
        return 0;
    }
    const SequenceForm *form = nullptr;
    for (const SequenceForm &f : kForms)
        if ((lead & f.leadMask) == f.leadValue)
        {
            form = &f;
            break;
        }
    if (!form)
        return ERR_INVALID_UTF8;

    RTUNICP value = lead & (uint8_t)~form->leadMask;
    // Stops at the first non-continuation byte (the terminator included), so nothing
    // beyond the terminator is read.
    for (size_t i = 1; i < form->length; i++)
    {
        if (i >= avail || (p[i] & 0xC0) != 0x80)
            return ERR_INVALID_UTF8;
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < form->minimum)
        return ERR_INVALID_UTF8;
    if (form->length == 3)
    {
        if (value >= 0xD800 && value <= 0xDFFF)
            return ERR_CODE_POINT_SURROGATE;
        if (value == 0xFFFE || value == 0xFFFF)
            return ERR_CODE_POINT_BYTE_ORDER;
    }
    if (strict && (form->length > 4 || value > 0x10FFFF))
        return ERR_NOT_UTF16_REPRESENTABLE;
    *codePoint = value;
    *length = form->length;
    return 0;
}

int RTStrDecodeCp(const char **cursor, RTUNICP *codePoint)
{
    size_t len;
    int rc = rtUtf8DecodeOne((const unsigned char *)*cursor, RTSTR_MAX, false, codePoint, &len);
    *cursor += len;
    return rc;
}

int RTStrDecodeCpN(const char **cursor, size_t *remaining, RTUNICP *codePoint)
{
    if (*remaining == 0)
    {
        *codePoint = RTUNICP_INVALID;
        return ERR_END_OF_STRING;
    }
    size_t len;
    int rc = rtUtf8DecodeOne((const unsigned char *)*cursor, *remaining, false, codePoint, &len);
    *cursor += len;
    *remaining -= len;
    return rc;
}

char *RTStrEncodeCp(char *buffer, RTUNICP cp)
{
    unsigned char *p = (unsigned char *)buffer;
    if (cp < 0x80)
        *p++ = (unsigned char)cp;
    else if (cp < 0x800)
    {
        *p++ = (unsigned char)(0xC0 | (cp >> 6));
        *p++ = (unsigned char)(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x10000)
    {
        *p++ = (unsigned char)(0xE0 | (cp >> 12));
        *p++ = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
        *p++ = (unsigned char)(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x200000)
    {
        *p++ = (unsigned char)(0xF0 | (cp >> 18));
        *p++ = (unsigned char)(0x80 | ((cp >> 12) & 0x3F));
        *p++ = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
        *p++ = (unsigned char)(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x4000000)
    {
        *p++ = (unsigned char)(0xF8 | (cp >> 24));
        *p++ = (unsigned char)(0x80 | ((cp >> 18) & 0x3F));
        *p++ = (unsigned char)(0x80 | ((cp >> 12) & 0x3F));
        *p++ = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
        *p++ = (unsigned char)(0x80 | (cp & 0x3F));
    }
    else if (cp <= 0x7FFFFFFF)
    {
        *p++ = (unsigned char)(0xFC | (cp >> 30));
        *p++ = (unsigned char)(0x80 | ((cp >> 24) & 0x3F));
        *p++ = (unsigned char)(0x80 | ((cp >> 18) & 0x3F));
        *p++ = (unsigned char)(0x80 | ((cp >> 12) & 0x3F));
        *p++ = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
        *p++ = (unsigned char)(0x80 | (cp & 0x3F));
    }
    else
        *p++ = 0x7F;
    return (char *)p;
}

const char *RTStrStepBack(const char *start, const char *position)
{
    if (position <= start)
        return start;
    const unsigned char *p = (const unsigned char *)position - 1;
    if (*p < 0x80)
        return (const char *)p;
    if ((*p & 0xC0) != 0x80)
        return start;
    // Index = number of bytes of the sequence including its lead byte.
    static constexpr uint8_t kLeadMask[7] = { 0, 0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE };
    static constexpr uint8_t kLeadValue[7] = { 0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC };
    for (size_t walked = 2; walked <= 6; walked++)
    {
        if (p <= (const unsigned char *)start)
            return start;
        --p;
        if ((*p & 0xC0) == 0x80)
            continue;
        return (*p & kLeadMask[walked]) == kLeadValue[walked] ? (const char *)p : start;
    }
    return start;
}

int RTStrCheckEncoding(const char *str, size_t maxBytes, uint32_t flags)
{
    if (flags & ~(uint32_t)(RTSTR_CHECK_TERMINATOR | RTSTR_CHECK_EXACT_LENGTH))
        return ERR_BAD_ARGUMENT;
    size_t length = 0;
    int rc = rtUtf8Walk(str, maxBytes, false, [&](RTUNICP, size_t len) { length += len; });
    if (rc != 0)
        return rc;
    if (flags & RTSTR_CHECK_EXACT_LENGTH)
    {
        // length <= maxBytes, so the sum cannot overflow unless maxBytes is RTSTR_MAX.
        size_t const wanted = length + ((flags & RTSTR_CHECK_TERMINATOR) ? 1 : 0);
        if (wanted < maxBytes)
            return ERR_HEX_TOO_SHORT;
        if (wanted > maxBytes || wanted < length)
            return ERR_BUFFER_OVERFLOW;
        return 0;
    }
    if ((flags & RTSTR_CHECK_TERMINATOR) && length >= maxBytes)
        return ERR_BUFFER_OVERFLOW;
    return 0;
}

size_t RTStrCountCps(const char *str)
{
    size_t count = 0;
    if (rtUtf8Walk(str, RTSTR_MAX, false, [&](RTUNICP, size_t) { count++; }) != 0)
        return 0;
    return count;
}

int RTStrMeasureUtf16(const char *str, size_t maxBytes, size_t *units)
{
    size_t count = 0;
    int rc = rtUtf8Walk(str, maxBytes, true, [&](RTUNICP, size_t len) { count += len == 4 ? 2 : 1; });
    if (units)
        *units = rc == 0 ? count : RTSTR_MAX;
    return rc;
}

namespace
{

// Converts text already measured with the strict rules into a buffer of `capacity` units.
int rtUtf8ToUtf16Fill(const char *str, size_t maxBytes, RTUTF16 *out, size_t capacity)
{
    size_t used = 0;
    bool overflow = false;
    int rc = rtUtf8Walk(str, maxBytes, true, [&](RTUNICP cp, size_t) {
        size_t const need = cp >= 0x10000 ? 2 : 1;
        if (overflow || used + need > capacity - 1)
        {
            overflow = true;
            return;
        }
        if (need == 2)
        {
            cp -= 0x10000;
            out[used++] = (RTUTF16)(0xD800 | (cp >> 10));
            out[used++] = (RTUTF16)(0xDC00 | (cp & 0x3FF));
        }
        else
            out[used++] = (RTUTF16)cp;
    });
    out[used] = 0;
    if (rc != 0)
        return rc;
    return overflow ? ERR_BUFFER_OVERFLOW : 0;
}

} // namespace

int RTStrToUtf16Ex(const char *str, size_t maxBytes, RTUTF16 **result, size_t capacity,
                   size_t *units, const char *tag)
{
    // A result that was to be allocated is null on every failure.
    bool const callerBuffer = capacity != 0 && *result;
    if (!callerBuffer)
        *result = nullptr;
    size_t count;
    int rc = RTStrMeasureUtf16(str, maxBytes, &count);
    if (units)
        *units = count;
    if (rc != 0)
        return rc;

    RTUTF16 *out;
    bool allocated = false;
    if (callerBuffer)
    {
        if (capacity <= count)
            return ERR_BUFFER_OVERFLOW;
        out = *result;
    }
    else
    {
        *result = nullptr;
        if (capacity < count + 1)
            capacity = count + 1;
        // A capacity whose byte size wraps around must not yield a small block.
        out = capacity <= RTSTR_MAX / sizeof(RTUTF16)
            ? (RTUTF16 *)RTMemAllocTag(capacity * sizeof(RTUTF16), tag) : nullptr;
        if (!out)
            return ERR_NO_UTF16_MEMORY;
        allocated = true;
    }
    rc = rtUtf8ToUtf16Fill(str, maxBytes, out, capacity);
    if (rc != 0)
    {
        if (allocated)
            RTMemFree(out);
        return rc;
    }
    *result = out;
    return 0;
}

int RTStrToUtf16(const char *str, RTUTF16 **result, const char *tag)
{
    *result = nullptr;
    return RTStrToUtf16Ex(str, RTSTR_MAX, result, 0, nullptr, tag);
}

int RTStrToCodePointsEx(const char *str, size_t maxBytes, RTUNICP **result, size_t capacity,
                        size_t *count)
{
    // A result that was to be allocated is null on every failure.
    bool const callerBuffer = capacity != 0 && *result;
    if (!callerBuffer)
        *result = nullptr;
    size_t n = 0;
    int rc = rtUtf8Walk(str, maxBytes, false, [&](RTUNICP, size_t) { n++; });
    if (count)
        *count = rc == 0 ? n : RTSTR_MAX;
    if (rc != 0)
        return rc;

    RTUNICP *out;
    bool allocated = false;
    if (callerBuffer)
    {
        if (capacity <= n)
            return ERR_BUFFER_OVERFLOW;
        out = *result;
    }
    else
    {
        *result = nullptr;
        if (capacity < n + 1)
            capacity = n + 1;
        out = capacity <= RTSTR_MAX / sizeof(RTUNICP)
            ? (RTUNICP *)RTMemAlloc(capacity * sizeof(RTUNICP)) : nullptr;
        if (!out)
            return ERR_NO_CODE_POINT_MEMORY;
        allocated = true;
    }
    size_t used = 0;
    rc = rtUtf8Walk(str, maxBytes, false, [&](RTUNICP cp, size_t) { out[used++] = cp; });
    out[used] = 0;
    if (rc != 0)
    {
        if (allocated)
            RTMemFree(out);
        return rc;
    }
    *result = out;
    return 0;
}
