// Number parsing: one pass, one multiply-add per digit, no allocation.
#include "kelp/err.h"
#include "kelp/number.h"

namespace
{

enum : uint8_t
{
    kNotDigit = 0xFF,
};

struct CharTables
{
    uint8_t digit[256]; // digit value 0-35, or kNotDigit
    uint8_t hex[256];   // 0-15, or kNotDigit
};

constexpr CharTables makeTables()
{
    CharTables t{};
    for (int i = 0; i < 256; i++)
    {
        t.digit[i] = kNotDigit;
        t.hex[i] = kNotDigit;
    }
    for (int i = 0; i < 10; i++)
    {
        t.digit['0' + i] = (uint8_t)i;
        t.hex['0' + i] = (uint8_t)i;
    }
    for (int i = 0; i < 26; i++)
    {
        t.digit['A' + i] = (uint8_t)(10 + i);
        t.digit['a' + i] = (uint8_t)(10 + i);
    }
    for (int i = 0; i < 6; i++)
    {
        t.hex['A' + i] = (uint8_t)(10 + i);
        t.hex['a' + i] = (uint8_t)(10 + i);
    }
    return t;
}

constexpr CharTables g_tables = makeTables();

inline uint8_t digitOf(char c) { return g_tables.digit[(unsigned char)c]; }
inline uint8_t hexOf(char c) { return g_tables.hex[(unsigned char)c]; }
inline bool isBlank(char c) { return c == ' ' || c == '\t'; }
// Whitespace for the address parsers: space and tab through carriage return.
inline bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

const char *skipSpace(const char *p)
{
    while (isSpace(*p))
        p++;
    return p;
}

// What the 64-bit core reports besides the value.
struct Scan
{
    const char *end;
    size_t remaining; // characters still allowed by the limit (SIZE_MAX: no limit)
    bool limited;
};

// Steps common to both signednesses: signs, base detection, digits.
int scanDigits(const char *text, uint32_t baseAndLimit, uint64_t *value, bool *negative,
               bool *anyDigits, Scan *scan)
{
    uint32_t base = baseAndLimit & 0xFF;
    uint32_t const limit = baseAndLimit >> 8;
    if (base >= 36)
        base = 0;
    size_t remaining = limit ? limit : SIZE_MAX;
    const char *p = text;
    int rc = 0;

    bool neg = false;
    while (remaining && (*p == '+' || *p == '-'))
    {
        neg = *p == '-' ? !neg : false;
        p++;
        remaining--;
    }

    bool const hexPrefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hexOf(p[2]) != kNotDigit;
    if (base == 0)
    {
        if (hexPrefix && remaining >= 2)
        {
            base = 16;
            p += 2;
            remaining -= 2;
        }
        else if (p[0] == '0' && digitOf(p[1]) < 8)
            base = 8;
        else
            base = 10;
    }
    else if (base == 16 && hexPrefix && remaining >= 2)
    {
        p += 2;
        remaining -= 2;
    }

    uint64_t v = 0;
    bool digits = false;
    while (remaining && *p)
    {
        uint32_t const d = digitOf(*p);
        if (d >= base)
            break;
        // The value wraps modulo 2^64; the flags tell whether the exact value would not fit.
        bool const wrapped = __builtin_mul_overflow(v, (uint64_t)base, &v);
        if (__builtin_add_overflow(v, (uint64_t)d, &v) || wrapped)
            rc = WRN_NUMBER_OVERFLOW;
        digits = true;
        p++;
        remaining--;
    }

    *value = v;
    *negative = neg;
    *anyDigits = digits;
    scan->end = p;
    scan->remaining = remaining;
    scan->limited = limit != 0;
    return rc;
}

// Step 8: what follows a cleanly converted number.
int trailingStatus(int rc, const Scan &scan)
{
    if (rc != 0 || scan.remaining == 0 || *scan.end == 0)
        return rc;
    const char *p = scan.end;
    size_t remaining = scan.remaining;
    while (remaining && isBlank(*p))
    {
        p++;
        remaining--;
    }
    return (*p == 0 || remaining == 0) ? WRN_TRAILING_BLANKS : WRN_TRAILING_TEXT;
}

int u64Core(const char *text, uint32_t baseAndLimit, uint64_t *value, Scan *scan)
{
    uint64_t v;
    bool neg, digits;
    int rc = scanDigits(text, baseAndLimit, &v, &neg, &digits, scan);
    if (neg)
    {
        v = 0 - v;
        if (rc == 0)
            rc = WRN_NUMBER_NEGATIVE;
    }
    if (!digits)
    {
        rc = ERR_NUMBER_NO_DIGITS;
        v = 0;
    }
    *value = v;
    return trailingStatus(rc, *scan);
}

int i64Core(const char *text, uint32_t baseAndLimit, int64_t *value, Scan *scan)
{
    uint64_t v;
    bool neg, digits;
    int rc = scanDigits(text, baseAndLimit, &v, &neg, &digits, scan);
    if (v >= UINT64_C(0x8000000000000000))
    {
        if (!(neg && v == UINT64_C(0x8000000000000000)))
            rc = WRN_NUMBER_OVERFLOW;
        if (neg)
            v = 0 - v;
    }
    else
    {
        if (neg)
            v = 0 - v;
        if (!digits)
            rc = ERR_NUMBER_NO_DIGITS;
    }
    *value = (int64_t)v;
    return trailingStatus(rc, *scan);
}

// Turns a prefix result into a whole-text result.
int wholeStatus(int rc, const Scan &scan)
{
    if (rc < 0 || *scan.end == 0)
        return rc;
    if (rc == WRN_TRAILING_TEXT)
        return ERR_TRAILING_TEXT;
    if (rc == WRN_TRAILING_BLANKS)
        return ERR_TRAILING_BLANKS;
    if (rc == 0)
        return 0; // the limit cut the number off
    if (scan.limited && scan.remaining == 0)
        return rc;
    const char *p = scan.end;
    size_t remaining = scan.remaining;
    while (remaining && isBlank(*p))
    {
        p++;
        remaining--;
    }
    return (*p == 0 || remaining == 0) ? ERR_TRAILING_BLANKS : ERR_TRAILING_TEXT;
}

template <typename T>
int narrowUnsigned(int rc, uint64_t v, T *value)
{
    if (rc >= 0 && (v >> (sizeof(T) * 8 - 1) >> 1) != 0)
        rc = WRN_NUMBER_OVERFLOW;
    if (value)
        *value = (T)v;
    return rc;
}

template <typename T>
int narrowSigned(int rc, int64_t v, T *value)
{
    if (rc >= 0 && (int64_t)(T)v != v)
        rc = WRN_NUMBER_OVERFLOW;
    if (value)
        *value = (T)v;
    return rc;
}

} // namespace

int RTStrToU64Prefix(const char *text, const char **end, uint32_t baseAndLimit, uint64_t *value)
{
    Scan scan;
    uint64_t v;
    int rc = u64Core(text, baseAndLimit, &v, &scan);
    if (value)
        *value = v;
    if (end)
        *end = scan.end;
    return rc;
}

int RTStrToI64Prefix(const char *text, const char **end, uint32_t baseAndLimit, int64_t *value)
{
    Scan scan;
    int64_t v;
    int rc = i64Core(text, baseAndLimit, &v, &scan);
    if (value)
        *value = v;
    if (end)
        *end = scan.end;
    return rc;
}

int RTStrToU32Prefix(const char *text, const char **end, uint32_t baseAndLimit, uint32_t *value)
{
    uint64_t v;
    int rc = RTStrToU64Prefix(text, end, baseAndLimit, &v);
    return narrowUnsigned(rc, v, value);
}

int RTStrToU8Prefix(const char *text, const char **end, uint32_t baseAndLimit, uint8_t *value)
{
    uint64_t v;
    int rc = RTStrToU64Prefix(text, end, baseAndLimit, &v);
    return narrowUnsigned(rc, v, value);
}

int RTStrToU64Whole(const char *text, uint32_t baseAndLimit, uint64_t *value)
{
    Scan scan;
    uint64_t v;
    int rc = u64Core(text, baseAndLimit, &v, &scan);
    if (value)
        *value = v;
    return wholeStatus(rc, scan);
}

int RTStrToI64Whole(const char *text, uint32_t baseAndLimit, int64_t *value)
{
    Scan scan;
    int64_t v;
    int rc = i64Core(text, baseAndLimit, &v, &scan);
    if (value)
        *value = v;
    return wholeStatus(rc, scan);
}

int RTStrToU32Whole(const char *text, uint32_t baseAndLimit, uint32_t *value)
{
    uint64_t v;
    int rc = RTStrToU64Whole(text, baseAndLimit, &v);
    return narrowUnsigned(rc, v, value);
}

int RTStrToU16Whole(const char *text, uint32_t baseAndLimit, uint16_t *value)
{
    uint64_t v;
    int rc = RTStrToU64Whole(text, baseAndLimit, &v);
    return narrowUnsigned(rc, v, value);
}

int RTStrToU8Whole(const char *text, uint32_t baseAndLimit, uint8_t *value)
{
    uint64_t v;
    int rc = RTStrToU64Whole(text, baseAndLimit, &v);
    return narrowUnsigned(rc, v, value);
}

int RTStrToI32Whole(const char *text, uint32_t baseAndLimit, int32_t *value)
{
    int64_t v;
    int rc = RTStrToI64Whole(text, baseAndLimit, &v);
    return narrowSigned(rc, v, value);
}

int RTStrToI16Whole(const char *text, uint32_t baseAndLimit, int16_t *value)
{
    int64_t v;
    int rc = RTStrToI64Whole(text, baseAndLimit, &v);
    return narrowSigned(rc, v, value);
}

int RTStrToI8Whole(const char *text, uint32_t baseAndLimit, int8_t *value)
{
    int64_t v;
    int rc = RTStrToI64Whole(text, baseAndLimit, &v);
    return narrowSigned(rc, v, value);
}

int32_t RTStrToI64Lenient(const char *text)
{
    int64_t v;
    int rc = RTStrToI64Prefix(text, nullptr, 0, &v);
    return rc < 0 ? 0 : (int32_t)(uint32_t)(uint64_t)v;
}

int RTNetScanIPv4(const char *text, RTNETADDRIPV4 *address, const char **end)
{
    if (!RTIsValidPtr(text) || !RTIsValidPtr(address))
        return ERR_BAD_ARGUMENT;
    RTNETADDRIPV4 a;
    const char *p = text;
    int rc = 0;
    for (int i = 0; i < 4; i++)
    {
        const char *next;
        rc = RTStrToU8Prefix(p, &next, 10, &a.bytes[i]);
        if (i < 3)
        {
            if ((rc != 0 && rc != WRN_TRAILING_TEXT) || *next != '.')
                return ERR_BAD_ARGUMENT;
            p = next + 1;
        }
        else
        {
            if (rc != 0 && rc != WRN_TRAILING_TEXT && rc != WRN_TRAILING_BLANKS)
                return ERR_BAD_ARGUMENT;
            p = next;
        }
    }
    *address = a;
    if (end)
        *end = p;
    return rc;
}

int RTNetParseIPv4(const char *text, RTNETADDRIPV4 *address)
{
    if (!RTIsValidPtr(text) || !RTIsValidPtr(address))
        return ERR_BAD_ARGUMENT;
    int rc = RTNetScanIPv4(skipSpace(text), address, nullptr);
    if (rc < 0 || rc == WRN_TRAILING_TEXT)
        return ERR_BAD_ARGUMENT;
    return 0;
}

int RTNetParseIPv4Cidr(const char *text, uint32_t *address, uint32_t *mask)
{
    if (!RTIsValidPtr(text) || !RTIsValidPtr(address) || !RTIsValidPtr(mask))
        return ERR_BAD_ARGUMENT;

    const char *slash = text;
    while (*slash && *slash != '/')
        slash++;
    uint8_t prefix = 32;
    if (*slash == '/')
    {
        if (RTStrToU8Prefix(slash + 1, nullptr, 10, &prefix) != 0 || prefix > 32)
            return ERR_BAD_ARGUMENT;
    }
    uint32_t const m = prefix == 0 ? 0 : UINT32_MAX << (32 - prefix);
    int const required = prefix <= 8 ? 1 : prefix <= 16 ? 2 : prefix <= 24 ? 3 : 4;

    uint8_t bytes[4] = { 0, 0, 0, 0 };
    const char *p = text;
    for (int parts = 0;;)
    {
        const char *next;
        int rc = RTStrToU8Prefix(p, &next, 10, &bytes[parts]);
        if (rc < 0 || rc == WRN_NUMBER_OVERFLOW)
            return ERR_BAD_ARGUMENT;
        parts++;
        if (*next == '.')
        {
            if (parts == 4)
                return ERR_BAD_ARGUMENT;
            p = next + 1;
            continue;
        }
        if (parts < required || (*next != 0 && *next != '/'))
            return ERR_BAD_ARGUMENT;
        break;
    }

    uint32_t const a = (uint32_t)bytes[0] << 24 | (uint32_t)bytes[1] << 16 | (uint32_t)bytes[2] << 8 | bytes[3];
    if (bytes[0] == 0 && (a != 0 || m == UINT32_MAX))
        return ERR_BAD_ARGUMENT;
    if (a & ~m)
        return ERR_BAD_ARGUMENT;
    *address = a;
    *mask = m;
    return 0;
}

int RTNetParseMac(const char *text, RTMAC *mac)
{
    int i = 0;
    while (i < 12 && hexOf(text[i]) != kNotDigit)
        i++;
    if (i == 12 && *skipSpace(text + 12) == 0)
    {
        int rc = RTStrHexToBytes(text, mac->bytes, 6, 0);
        return rc < 0 ? rc : 0;
    }

    RTMAC m;
    const char *p = skipSpace(text);
    for (int group = 0; group < 6; group++)
    {
        if (group > 0)
        {
            if (*p != ':')
                return ERR_BAD_ARGUMENT;
            p++;
            if (group < 5 && *p == ':')
            {
                m.bytes[group] = 0;
                continue;
            }
        }
        const char *next;
        int rc = RTStrToU8Prefix(p, &next, 16, &m.bytes[group]);
        if (group == 0)
        {
            if (rc != 0 && rc != WRN_TRAILING_TEXT)
                return ERR_BAD_ARGUMENT;
        }
        else if (group < 5 ? (rc != 0 && rc != WRN_TRAILING_TEXT) : (rc != 0 && rc != WRN_TRAILING_BLANKS))
            return rc < 0 ? rc : ERR_BAD_ARGUMENT;
        p = next;
    }
    if (*skipSpace(p) != 0)
        return ERR_BAD_ARGUMENT;
    *mac = m;
    return 0;
}

int RTStrHexToBytes(const char *text, void *out, size_t count, uint32_t flags)
{
    if (!RTIsValidPtr(text))
        return ERR_INVALID_POINTER;
    if (flags & ~(uint32_t)RTSTRHEX_COLON_GROUPS)
        return ERR_INVALID_FLAGS;
    uint8_t *dst = (uint8_t *)out;
    size_t written = 0;
    const char *p = text;

    if (flags & RTSTRHEX_COLON_GROUPS)
    {
        // A run of groups of 0-2 digits; it goes on while a ':' follows a group, so an
        // empty group counts only next to a separator.
        bool afterColon = false;
        for (;;)
        {
            unsigned value = 0;
            int digits = 0;
            while (digits < 2 && hexOf(*p) != kNotDigit)
                value = value << 4 | hexOf(*p++), digits++;
            if (digits == 0 && *p != ':' && !afterColon)
                break;
            if (written >= count)
                return ERR_BUFFER_OVERFLOW;
            dst[written++] = (uint8_t)value;
            if (*p != ':')
                break;
            p++;
            afterColon = true;
        }
    }
    else
    {
        while (hexOf(*p) != kNotDigit)
        {
            uint8_t const hi = hexOf(*p++);
            if (hexOf(*p) == kNotDigit)
                return ERR_HEX_ODD_DIGITS;
            uint8_t const lo = hexOf(*p++);
            if (written >= count)
                return ERR_BUFFER_OVERFLOW;
            dst[written++] = (uint8_t)(hi << 4 | lo);
        }
    }

    if (written < count)
        return ERR_HEX_TOO_SHORT;
    return *p == 0 ? 0 : WRN_TRAILING_TEXT;
}

int RTUuidParse(RTUUID *uuid, const char *text)
{
    if (!RTIsValidPtr(uuid) || !RTIsValidPtr(text))
        return ERR_BAD_ARGUMENT;
    const char *p = text;
    bool const braced = *p == '{';
    if (braced)
        p++;

    uint8_t raw[16];
    size_t n = 0;
    for (int i = 0; i < 36; i++)
    {
        if (i == 8 || i == 13 || i == 18 || i == 23)
        {
            if (p[i] != '-')
                return ERR_UUID_FORMAT;
            continue;
        }
        uint8_t const hi = hexOf(p[i]);
        if (hi == kNotDigit)
            return ERR_UUID_FORMAT;
        i++;
        uint8_t const lo = hexOf(p[i]);
        if (lo == kNotDigit)
            return ERR_UUID_FORMAT;
        raw[n++] = (uint8_t)(hi << 4 | lo);
    }
    p += 36;
    if (braced && *p++ != '}')
        return ERR_UUID_FORMAT;
    if (*p != 0)
        return ERR_UUID_FORMAT;

    // The first three groups are numbers stored little-endian; the rest bytes as written.
    static constexpr uint8_t kOrder[16] = { 3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15 };
    for (int i = 0; i < 16; i++)
        uuid->bytes[i] = raw[kOrder[i]];
    return 0;
}
