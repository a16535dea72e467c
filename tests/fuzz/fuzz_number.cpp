// Number and address parsing: the integer conversions against a reference that computes
// the exact value in 128 bits, the whole and narrow variants against the prefix ones,
// formatted values back through the parsers, and the address parsers' outputs reparsed.
#include "fuzz-support.h"

#include <kelp/err.h>
#include <kelp/number.h>

namespace
{

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

bool isHex(char c)
{
    return digitValue(c) < 16;
}

struct RefNumber
{
    int rc;
    uint64_t value;     // low 64 bits, after the sign
    unsigned __int128 exact; // saturated magnitude
    bool negative;
    bool digits;
    size_t end;
    size_t remaining;
    bool limited;
};

// The conversion as documented, step by step, without the runtime's shortcuts.
RefNumber refScan(const char *text, uint32_t baseAndLimit)
{
    RefNumber r = {};
    uint32_t base = baseAndLimit & 0xFF;
    uint32_t const limit = baseAndLimit >> 8;
    if (base >= 36)
        base = 0;
    size_t remaining = limit ? limit : (size_t)-1;
    r.limited = limit != 0;
    size_t i = 0;
    while (remaining && (text[i] == '+' || text[i] == '-'))
    {
        r.negative = text[i] == '-' ? !r.negative : false;
        i++, remaining--;
    }
    bool const prefix = text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')
                     && isHex(text[i + 2]);
    if (base == 0)
    {
        if (prefix && remaining >= 2)
            base = 16, i += 2, remaining -= 2;
        else if (text[i] == '0' && digitValue(text[i + 1]) < 8)
            base = 8;
        else
            base = 10;
    }
    else if (base == 16 && prefix && remaining >= 2)
        i += 2, remaining -= 2;
    unsigned __int128 const cap = (unsigned __int128)1 << 100;
    while (remaining && text[i] && digitValue(text[i]) < (int)base)
    {
        r.exact = r.exact * base + (unsigned)digitValue(text[i]);
        if (r.exact > cap)
            r.exact = cap;
        r.value = r.value * base + (unsigned)digitValue(text[i]);
        r.digits = true;
        i++, remaining--;
    }
    r.end = i;
    r.remaining = remaining;
    return r;
}

int refTrailing(int rc, const char *text, const RefNumber &r)
{
    if (rc != 0 || r.remaining == 0 || text[r.end] == 0)
        return rc;
    size_t i = r.end, remaining = r.remaining;
    while (remaining && (text[i] == ' ' || text[i] == '\t'))
        i++, remaining--;
    return text[i] == 0 || remaining == 0 ? WRN_TRAILING_BLANKS : WRN_TRAILING_TEXT;
}

int refWhole(int rc, const char *text, const RefNumber &r)
{
    if (rc < 0 || text[r.end] == 0)
        return rc;
    if (rc == WRN_TRAILING_TEXT)
        return ERR_TRAILING_TEXT;
    if (rc == WRN_TRAILING_BLANKS)
        return ERR_TRAILING_BLANKS;
    if (rc == 0)
        return 0;
    if (r.limited && r.remaining == 0)
        return rc;
    size_t i = r.end, remaining = r.remaining;
    while (remaining && (text[i] == ' ' || text[i] == '\t'))
        i++, remaining--;
    return text[i] == 0 || remaining == 0 ? ERR_TRAILING_BLANKS : ERR_TRAILING_TEXT;
}

void checkIntegers(const char *text, uint32_t baseAndLimit)
{
    RefNumber const r = refScan(text, baseAndLimit);
    bool const overflow64 = r.exact > UINT64_MAX;

    // Unsigned.
    int urc = overflow64 ? WRN_NUMBER_OVERFLOW : 0;
    uint64_t uval = r.negative ? 0 - r.value : r.value;
    if (r.negative && urc == 0)
        urc = WRN_NUMBER_NEGATIVE;
    if (!r.digits)
        urc = ERR_NUMBER_NO_DIGITS, uval = 0;
    int const uPrefixRc = refTrailing(urc, text, r);

    uint64_t u = 1;
    const char *end = nullptr;
    int rc = RTStrToU64Prefix(text, &end, baseAndLimit, &u);
    FUZZ_CHECK_MSG(rc == uPrefixRc, "'%s' %#x: %d, expected %d", text, baseAndLimit, rc, uPrefixRc);
    FUZZ_CHECK(u == uval);
    FUZZ_CHECK(end == text + r.end);
    FUZZ_CHECK(RTStrToU64Prefix(text, nullptr, baseAndLimit, nullptr) == rc);

    int const uWholeRc = refWhole(uPrefixRc, text, r);
    u = 1;
    FUZZ_CHECK(RTStrToU64Whole(text, baseAndLimit, &u) == uWholeRc);
    FUZZ_CHECK(u == uval);

    // Narrow unsigned variants: a value that does not fit replaces any non-negative status.
    {
        uint32_t u32 = 0;
        int rc32 = RTStrToU32Whole(text, baseAndLimit, &u32);
        int const want = uWholeRc >= 0 && (uval >> 32) ? WRN_NUMBER_OVERFLOW : uWholeRc;
        FUZZ_CHECK(rc32 == want && u32 == (uint32_t)uval);
        uint16_t u16 = 0;
        int rc16 = RTStrToU16Whole(text, baseAndLimit, &u16);
        FUZZ_CHECK(rc16 == (uWholeRc >= 0 && (uval >> 16) ? WRN_NUMBER_OVERFLOW : uWholeRc));
        FUZZ_CHECK(u16 == (uint16_t)uval);
        uint8_t u8 = 0;
        int rc8 = RTStrToU8Whole(text, baseAndLimit, &u8);
        FUZZ_CHECK(rc8 == (uWholeRc >= 0 && (uval >> 8) ? WRN_NUMBER_OVERFLOW : uWholeRc));
        FUZZ_CHECK(u8 == (uint8_t)uval);
        uint8_t p8 = 0;
        const char *end8 = nullptr;
        int prc8 = RTStrToU8Prefix(text, &end8, baseAndLimit, &p8);
        FUZZ_CHECK(prc8 == (uPrefixRc >= 0 && (uval >> 8) ? WRN_NUMBER_OVERFLOW : uPrefixRc));
        FUZZ_CHECK(p8 == (uint8_t)uval && end8 == end);
        uint32_t p32 = 0;
        int prc32 = RTStrToU32Prefix(text, nullptr, baseAndLimit, &p32);
        FUZZ_CHECK(prc32 == (uPrefixRc >= 0 && (uval >> 32) ? WRN_NUMBER_OVERFLOW : uPrefixRc));
        FUZZ_CHECK(p32 == (uint32_t)uval);
    }

    // Signed.
    int src = 0;
    uint64_t sbits = r.value;
    if (r.exact >= ((unsigned __int128)1 << 63))
    {
        if (!(r.negative && r.exact == ((unsigned __int128)1 << 63)))
            src = WRN_NUMBER_OVERFLOW;
        if (r.negative)
            sbits = 0 - sbits;
    }
    else
    {
        if (r.negative)
            sbits = 0 - sbits;
        if (!r.digits)
            src = ERR_NUMBER_NO_DIGITS;
    }
    int const sPrefixRc = refTrailing(src, text, r);
    int64_t s = 1;
    end = nullptr;
    FUZZ_CHECK(RTStrToI64Prefix(text, &end, baseAndLimit, &s) == sPrefixRc);
    FUZZ_CHECK((uint64_t)s == sbits && end == text + r.end);
    int const sWholeRc = refWhole(sPrefixRc, text, r);
    s = 1;
    FUZZ_CHECK(RTStrToI64Whole(text, baseAndLimit, &s) == sWholeRc);
    FUZZ_CHECK((uint64_t)s == sbits);
    {
        int64_t const v = (int64_t)sbits;
        int32_t i32 = 0;
        FUZZ_CHECK(RTStrToI32Whole(text, baseAndLimit, &i32)
                   == (sWholeRc >= 0 && (int64_t)(int32_t)v != v ? WRN_NUMBER_OVERFLOW : sWholeRc));
        FUZZ_CHECK(i32 == (int32_t)v);
        int16_t i16 = 0;
        FUZZ_CHECK(RTStrToI16Whole(text, baseAndLimit, &i16)
                   == (sWholeRc >= 0 && (int64_t)(int16_t)v != v ? WRN_NUMBER_OVERFLOW : sWholeRc));
        FUZZ_CHECK(i16 == (int16_t)v);
        int8_t i8 = 0;
        FUZZ_CHECK(RTStrToI8Whole(text, baseAndLimit, &i8)
                   == (sWholeRc >= 0 && (int64_t)(int8_t)v != v ? WRN_NUMBER_OVERFLOW : sWholeRc));
        FUZZ_CHECK(i8 == (int8_t)v);
    }
    if ((baseAndLimit & 0xFF) == 0 && (baseAndLimit >> 8) == 0)
        FUZZ_CHECK(RTStrToI64Lenient(text) == (sPrefixRc < 0 ? 0 : (int32_t)(uint32_t)sbits));
}

// A value written in each base and read back whole.
void checkRoundTrip(uint64_t value, bool negative)
{
    static const struct { unsigned base; const char *prefix; uint32_t arg; } kForms[] = {
        { 10, "", 10 }, { 16, "0x", 16 }, { 16, "0X", 0 }, { 8, "0", 0 }, { 2, "", 2 },
        { 35, "", 35 }, { 10, "", 0 },
    };
    for (const auto &f : kForms)
    {
        unsigned const base = f.base;
        char digits[80];
        size_t n = 0;
        uint64_t v = value;
        do
        {
            unsigned d = (unsigned)(v % base);
            digits[n++] = (char)(d < 10 ? '0' + d : 'a' + d - 10);
            v /= base;
        } while (v);
        char text[100];
        size_t k = 0;
        if (negative)
            text[k++] = '-';
        for (const char *p = f.prefix; *p; p++)
            text[k++] = *p;
        while (n)
            text[k++] = digits[--n];
        text[k] = 0;
        uint64_t u = 0;
        int rc = RTStrToU64Whole(text, f.arg, &u);
        FUZZ_CHECK_MSG(rc == (negative ? WRN_NUMBER_NEGATIVE : 0), "'%s' base %u: %d", text, f.arg, rc);
        FUZZ_CHECK(u == (negative ? 0 - value : value));
        if (!negative && value <= INT64_MAX)
        {
            int64_t s = 0;
            FUZZ_CHECK(RTStrToI64Whole(text, f.arg, &s) == 0 && (uint64_t)s == value);
        }
    }
}

void checkAddresses(const char *text)
{
    RTNETADDRIPV4 a = {};
    int rc = RTNetParseIPv4(text, &a);
    FUZZ_CHECK(rc == 0 || rc == ERR_BAD_ARGUMENT);
    RTNETADDRIPV4 scanned = {};
    const char *end = nullptr;
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    int src = RTNetScanIPv4(p, &scanned, &end);
    FUZZ_CHECK(src == 0 || src == WRN_TRAILING_TEXT || src == WRN_TRAILING_BLANKS
               || src == ERR_BAD_ARGUMENT);
    FUZZ_CHECK((rc == 0) == (src == 0 || src == WRN_TRAILING_BLANKS));
    if (rc == 0)
    {
        FUZZ_CHECK(memcmp(&a, &scanned, sizeof(a)) == 0);
        char again[32];
        snprintf(again, sizeof(again), "%u.%u.%u.%u", a.bytes[0], a.bytes[1], a.bytes[2], a.bytes[3]);
        RTNETADDRIPV4 b = {};
        FUZZ_CHECK(RTNetParseIPv4(again, &b) == 0 && memcmp(&a, &b, sizeof(a)) == 0);
    }
    if (src >= 0)
        FUZZ_CHECK(end > p && end <= p + strlen(p));

    uint32_t addr = 0x12345678, mask = 0x9abcdef0;
    rc = RTNetParseIPv4Cidr(text, &addr, &mask);
    FUZZ_CHECK(rc == 0 || rc == ERR_BAD_ARGUMENT);
    if (rc == 0)
    {
        // The mask is a prefix mask and the address has no host bits.
        uint64_t const hostBits = (uint32_t)~mask;
        FUZZ_CHECK(((hostBits + 1) & hostBits) == 0);
        FUZZ_CHECK((addr & ~mask) == 0);
        unsigned len = 0;
        while (len < 32 && (mask & (0x80000000u >> len)))
            len++;
        char again[40];
        snprintf(again, sizeof(again), "%u.%u.%u.%u/%u", addr >> 24, (addr >> 16) & 255,
                 (addr >> 8) & 255, addr & 255, len);
        uint32_t a2 = 0, m2 = 0;
        FUZZ_CHECK(RTNetParseIPv4Cidr(again, &a2, &m2) == 0 && a2 == addr && m2 == mask);
    }
    else
        FUZZ_CHECK(addr == 0x12345678 && mask == 0x9abcdef0);

    RTMAC mac;
    memset(&mac, 0xA5, sizeof(mac));
    rc = RTNetParseMac(text, &mac);
    if (rc == 0)
    {
        char again[40];
        snprintf(again, sizeof(again), "%02x:%02x:%02x:%02x:%02x:%02x", mac.bytes[0], mac.bytes[1],
                 mac.bytes[2], mac.bytes[3], mac.bytes[4], mac.bytes[5]);
        RTMAC m2;
        FUZZ_CHECK(RTNetParseMac(again, &m2) == 0 && memcmp(&m2, &mac, sizeof(mac)) == 0);
        snprintf(again, sizeof(again), "%02X%02X%02X%02X%02X%02X", mac.bytes[0], mac.bytes[1],
                 mac.bytes[2], mac.bytes[3], mac.bytes[4], mac.bytes[5]);
        FUZZ_CHECK(RTNetParseMac(again, &m2) == 0 && memcmp(&m2, &mac, sizeof(mac)) == 0);
    }
    else
        FUZZ_CHECK(rc < 0);

    RTUUID uuid;
    rc = RTUuidParse(&uuid, text);
    FUZZ_CHECK(rc == 0 || rc == ERR_UUID_FORMAT);
    if (rc == 0)
    {
        const uint8_t *b = uuid.bytes;
        char again[40];
        snprintf(again, sizeof(again),
                 "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                 b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12],
                 b[13], b[14], b[15]);
        const char *bare = text[0] == '{' ? text + 1 : text;
        FUZZ_CHECK(strncasecmp(again, bare, 36) == 0);
    }
}

void checkHexBytes(const char *text, size_t count, uint32_t flags)
{
    uint8_t *out = (uint8_t *)malloc(count ? count : 1);
    memset(out, 0xEE, count);
    int rc = RTStrHexToBytes(text, count ? out : nullptr, count, flags);
    if (flags > 1)
        FUZZ_CHECK(rc == ERR_INVALID_FLAGS);
    else if (rc >= 0 && flags == 0)
    {
        // Exactly `count` pairs, then the end of text or something else.
        for (size_t i = 0; i < count; i++)
            FUZZ_CHECK(out[i] == (digitValue(text[2 * i]) << 4 | digitValue(text[2 * i + 1])));
        FUZZ_CHECK(!isHex(text[2 * count]));
        FUZZ_CHECK((rc == 0) == (text[2 * count] == 0));
    }
    else if (rc >= 0)
    {
        // Groups of one or two digits: each byte is its group's value.
        const char *p = text;
        for (size_t i = 0; i < count; i++)
        {
            unsigned v = 0;
            int n = 0;
            while (n < 2 && isHex(*p))
                v = v << 4 | digitValue(*p++), n++;
            FUZZ_CHECK(out[i] == v);
            if (i + 1 < count)
                FUZZ_CHECK(*p++ == ':');
        }
    }
    free(out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    FuzzReader in = { data, size };
    uint8_t const mode = in.byte();
    switch (mode % 4)
    {
        case 0:
        case 1:
        {
            uint32_t const base = in.byte();
            uint32_t const limit = in.byte() % 24;
            char *text = FuzzTerminatedCopy(in.data, in.size);
            checkIntegers(text, RTStrBaseAndLimit(base, limit));
            free(text);
            break;
        }
        case 2:
        {
            uint64_t const value = in.u64();
            checkRoundTrip(value, (mode & 0x80) != 0);
            char *text = FuzzTerminatedCopy(in.data, in.size);
            checkAddresses(text);
            free(text);
            break;
        }
        default:
        {
            size_t const count = in.byte() % 20;
            uint32_t const flags = in.byte() % 3;
            char *text = FuzzTerminatedCopy(in.data, in.size);
            checkHexBytes(text, count, flags);
            free(text);
            break;
        }
    }
    return 0;
}
