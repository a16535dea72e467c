// UTF-8 and UTF-16 text: validation, measuring and both conversions must agree with each
// other and with an independent decoder, round-trip valid text, stay within the bytes
// they were given and terminate what they write.
#include "fuzz-support.h"

#include <kelp/err.h>
#include <kelp/mem.h>
#include <kelp/string.h>

namespace
{

struct RefDecoded
{
    int rc;
    RTUNICP cp;
    size_t length;
};

// The sequence forms by lead byte range, written out separately from the runtime's table.
RefDecoded refDecodeUtf8(const uint8_t *p, size_t avail, bool strict)
{
    uint8_t const lead = p[0];
    if (lead < 0x80)
        return { 0, lead, 1 };
    size_t len;
    RTUNICP min;
    RTUNICP value;
    if (lead >= 0xC0 && lead <= 0xDF)
        len = 2, min = 0x80, value = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
        len = 3, min = 0x800, value = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF7)
        len = 4, min = 0x10000, value = lead & 0x07;
    else if (lead >= 0xF8 && lead <= 0xFB)
        len = 5, min = 0x200000, value = lead & 0x03;
    else if (lead >= 0xFC && lead <= 0xFD)
        len = 6, min = 0x4000000, value = lead & 0x01;
    else
        return { ERR_INVALID_UTF8, RTUNICP_INVALID, 1 };
    for (size_t i = 1; i < len; i++)
    {
        if (i >= avail || p[i] < 0x80 || p[i] > 0xBF)
            return { ERR_INVALID_UTF8, RTUNICP_INVALID, 1 };
        value = value * 64 + (p[i] - 0x80);
    }
    if (value < min)
        return { ERR_INVALID_UTF8, RTUNICP_INVALID, 1 };
    if (len == 3 && value >= 0xD800 && value < 0xE000)
        return { ERR_CODE_POINT_SURROGATE, RTUNICP_INVALID, 1 };
    if (len == 3 && value >= 0xFFFE)
        return { ERR_CODE_POINT_BYTE_ORDER, RTUNICP_INVALID, 1 };
    if (strict && (len > 4 || value > 0x10FFFF))
        return { ERR_NOT_UTF16_REPRESENTABLE, RTUNICP_INVALID, 1 };
    return { 0, value, len };
}

struct RefWalk
{
    int rc;
    size_t bytes;   // up to the terminator / limit, when valid
    size_t cps;
    size_t units;   // UTF-16 units (strict walk)
};

RefWalk refWalkUtf8(const uint8_t *p, size_t max, bool strict)
{
    RefWalk w = { 0, 0, 0, 0 };
    while (w.bytes < max && p[w.bytes])
    {
        RefDecoded d = refDecodeUtf8(p + w.bytes, max - w.bytes, strict);
        if (d.rc)
        {
            w.rc = d.rc;
            return w;
        }
        w.bytes += d.length;
        w.cps++;
        w.units += d.cp >= 0x10000 ? 2 : 1;
    }
    return w;
}

void checkUtf8(const uint8_t *data, size_t size)
{
    // Unterminated: every bounded function must stop at `size`.
    char *exact = FuzzExactCopy(data, size);
    RefWalk const perm = refWalkUtf8(data, size, false);
    RefWalk const strict = refWalkUtf8(data, size, true);

    FUZZ_CHECK(RTStrCheckEncoding(exact, size, 0) == perm.rc);
    if (perm.rc == 0)
    {
        // The terminator lies within `size` only when a zero byte was seen.
        bool const terminated = perm.bytes < size;
        FUZZ_CHECK(RTStrCheckEncoding(exact, size, RTSTR_CHECK_TERMINATOR)
                   == (terminated ? 0 : ERR_BUFFER_OVERFLOW));
        FUZZ_CHECK(RTStrCheckEncoding(exact, size, RTSTR_CHECK_EXACT_LENGTH)
                   == (perm.bytes == size ? 0 : ERR_HEX_TOO_SHORT));
        if (size)
            FUZZ_CHECK(RTStrCheckEncoding(exact, size,
                                          RTSTR_CHECK_EXACT_LENGTH | RTSTR_CHECK_TERMINATOR)
                       == (perm.bytes + 1 == size ? 0 : perm.bytes + 1 < size ? ERR_HEX_TOO_SHORT
                                                                              : ERR_BUFFER_OVERFLOW));
    }
    FUZZ_CHECK(RTStrCheckEncoding(exact, size, 4) == ERR_BAD_ARGUMENT);

    size_t units = 12345;
    FUZZ_CHECK(RTStrMeasureUtf16(exact, size, &units) == strict.rc);
    FUZZ_CHECK(units == (strict.rc ? RTSTR_MAX : strict.units));
    // Everything the strict rules accept the permissive ones accept too.
    FUZZ_CHECK(strict.rc != 0 || perm.rc == 0);

    // Decoding code point by code point with a byte budget walks the same sequences.
    {
        const char *cursor = exact;
        size_t remaining = size;
        size_t pos = 0;
        while (remaining)
        {
            RTUNICP cp = 0;
            RefDecoded const ref = refDecodeUtf8(data + pos, size - pos, false);
            int rc = RTStrDecodeCpN(&cursor, &remaining, &cp);
            FUZZ_CHECK(rc == ref.rc);
            FUZZ_CHECK(cp == ref.cp);
            pos += ref.length;
            FUZZ_CHECK(cursor == exact + pos);
            FUZZ_CHECK(remaining == size - pos);
            if (rc == 0)
            {
                // The encoder gives back the very bytes.
                char enc[8];
                char *end = RTStrEncodeCp(enc, cp);
                FUZZ_CHECK((size_t)(end - enc) == ref.length);
                FUZZ_CHECK(memcmp(enc, data + pos - ref.length, ref.length) == 0);
            }
        }
        RTUNICP cp = 0;
        FUZZ_CHECK(RTStrDecodeCpN(&cursor, &remaining, &cp) == ERR_END_OF_STRING);
        FUZZ_CHECK(cp == RTUNICP_INVALID && cursor == exact + size);
    }

    // Conversion to UTF-16, allocating: same verdict and count as the measuring, a
    // terminated result, and back to the same bytes.
    {
        RTUTF16 *w = (RTUTF16 *)1;
        size_t n = 777;
        int rc = RTStrToUtf16Ex(exact, size, &w, 0, &n);
        FUZZ_CHECK(rc == strict.rc);
        if (rc == 0)
        {
            FUZZ_CHECK(n == strict.units);
            FUZZ_CHECK(w != nullptr && w[n] == 0);
            FUZZ_CHECK(RTUtf16Length(w) == n);
            size_t bytes = 0;
            FUZZ_CHECK(RTUtf16MeasureUtf8(w, RTSTR_MAX, &bytes) == 0);
            FUZZ_CHECK(bytes == strict.bytes);
            char *back = nullptr;
            size_t backLen = 0;
            FUZZ_CHECK(RTUtf16ToUtf8Ex(w, n, &back, 0, &backLen) == 0);
            FUZZ_CHECK(backLen == strict.bytes && back[backLen] == 0);
            FUZZ_CHECK(memcmp(back, data, backLen) == 0);
            RTStrDispose(back);

            // A caller buffer of exactly count + 1 units works; one unit less is refused
            // without writing anything.
            RTUTF16 *buf = (RTUTF16 *)malloc((n + 1) * sizeof(RTUTF16));
            for (size_t i = 0; i <= n; i++)
                buf[i] = 0xAAAA;
            RTUTF16 *out = buf;
            if (n)
            {
                FUZZ_CHECK(RTStrToUtf16Ex(exact, size, &out, n, nullptr) == ERR_BUFFER_OVERFLOW);
                FUZZ_CHECK(out == buf);
                for (size_t i = 0; i <= n; i++)
                    FUZZ_CHECK(buf[i] == 0xAAAA);
            }
            FUZZ_CHECK(RTStrToUtf16Ex(exact, size, &out, n + 1, nullptr) == 0);
            FUZZ_CHECK(out == buf && memcmp(buf, w, (n + 1) * sizeof(RTUTF16)) == 0);
            free(buf);
            RTUtf16Free(w);
        }
        else
            FUZZ_CHECK(w == nullptr);
    }

    // Code points, allocating, against the permissive walk.
    {
        RTUNICP *cps = (RTUNICP *)1;
        size_t count = 0;
        int rc = RTStrToCodePointsEx(exact, size, &cps, 0, &count);
        FUZZ_CHECK(rc == perm.rc);
        if (rc == 0)
        {
            FUZZ_CHECK(count == perm.cps && cps[count] == 0);
            size_t pos = 0;
            for (size_t i = 0; i < count; i++)
            {
                RefDecoded d = refDecodeUtf8(data + pos, size - pos, false);
                FUZZ_CHECK(d.rc == 0 && d.cp == cps[i]);
                pos += d.length;
            }
            RTMemFree(cps);
        }
        else
            FUZZ_CHECK(cps == nullptr && count == RTSTR_MAX);
    }
    free(exact);

    // Terminated forms: counting, cloning, stepping back over the same boundaries.
    char *str = FuzzTerminatedCopy(data, size);
    size_t const len = RTStrLen(str);
    RefWalk const whole = refWalkUtf8(data, len, false);
    FUZZ_CHECK(RTStrCountCps(str) == (whole.rc ? 0 : whole.cps));
    if (whole.rc == 0)
    {
        const char *pos = str + len;
        size_t steps = 0;
        while (pos > str)
        {
            const char *prev = RTStrStepBack(str, pos);
            FUZZ_CHECK(prev < pos);
            const char *cursor = prev;
            RTUNICP cp;
            FUZZ_CHECK(RTStrDecodeCp(&cursor, &cp) == 0);
            FUZZ_CHECK(cursor == pos);
            pos = prev;
            steps++;
        }
        FUZZ_CHECK(steps == whole.cps);
    }
    char *clone = RTStrCloneN(str, size / 2);
    FUZZ_CHECK(clone && RTStrLen(clone) == RTStrNLen(str, size / 2));
    FUZZ_CHECK(memcmp(clone, str, RTStrLen(clone)) == 0);
    RTStrDispose(clone);
    free(str);
}

void checkUtf16(const uint8_t *data, size_t size)
{
    size_t const n = size / 2;
    RTUTF16 *exact = (RTUTF16 *)malloc((n ? n : 1) * sizeof(RTUTF16));
    for (size_t i = 0; i < n; i++)
        exact[i] = (RTUTF16)(data[2 * i] | (data[2 * i + 1] << 8));

    // Reference walk.
    int refRc = 0;
    size_t refUnits = 0, refBytes = 0;
    while (refUnits < n && exact[refUnits])
    {
        uint16_t const u = exact[refUnits];
        if (u >= 0xDC00 && u <= 0xDFFF)
        {
            refRc = ERR_INVALID_UTF16;
            break;
        }
        if (u >= 0xD800 && u <= 0xDBFF)
        {
            if (refUnits + 1 >= n || exact[refUnits + 1] < 0xDC00 || exact[refUnits + 1] > 0xDFFF)
            {
                refRc = ERR_INVALID_UTF16;
                break;
            }
            refBytes += 4;
            refUnits += 2;
            continue;
        }
        if (u >= 0xFFFE)
        {
            refRc = ERR_CODE_POINT_BYTE_ORDER;
            break;
        }
        refBytes += u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
        refUnits++;
    }

    size_t bytes = 4242;
    FUZZ_CHECK(RTUtf16MeasureUtf8(exact, n, &bytes) == refRc);
    FUZZ_CHECK(bytes == (refRc ? RTSTR_MAX : refBytes));

    char *s = (char *)1;
    size_t got = 0;
    int rc = RTUtf16ToUtf8Ex(exact, n, &s, 0, &got);
    FUZZ_CHECK(rc == refRc);
    if (rc == 0)
    {
        FUZZ_CHECK(got == refBytes && s[got] == 0 && RTStrLen(s) == got);
        FUZZ_CHECK(RTStrCheckEncoding(s, RTSTR_MAX, 0) == 0);
        RTUTF16 *w = nullptr;
        size_t units = 0;
        FUZZ_CHECK(RTStrToUtf16Ex(s, RTSTR_MAX, &w, 0, &units) == 0);
        FUZZ_CHECK(units == refUnits && memcmp(w, exact, units * sizeof(RTUTF16)) == 0);
        RTUtf16Free(w);

        // Caller buffers: length + 1 bytes fit, length bytes are refused untouched.
        char *buf = (char *)malloc(got + 1);
        memset(buf, 0x55, got + 1);
        char *out = buf;
        if (got)
        {
            FUZZ_CHECK(RTUtf16ToUtf8Ex(exact, n, &out, got, nullptr) == ERR_BUFFER_OVERFLOW);
            for (size_t i = 0; i <= got; i++)
                FUZZ_CHECK(buf[i] == 0x55);
        }
        size_t written = 0;
        FUZZ_CHECK(RTUtf16ToUtf8Ex(exact, n, &out, got + 1, &written) == 0);
        FUZZ_CHECK(out == buf && written == got && memcmp(buf, s, got + 1) == 0);
        free(buf);
        RTStrDispose(s);
    }
    else
        FUZZ_CHECK(s == nullptr);

    // The single-unit decoder over a terminated copy agrees with the walk.
    RTUTF16 *term = (RTUTF16 *)malloc((n + 1) * sizeof(RTUTF16));
    memcpy(term, exact, n * sizeof(RTUTF16));
    term[n] = 0;
    const RTUTF16 *cursor = term;
    size_t pos = 0;
    while (*cursor)
    {
        RTUNICP cp;
        const RTUTF16 *before = cursor;
        int drc = RTUtf16DecodeCp(&cursor, &cp);
        FUZZ_CHECK(cursor == before + 1 || (drc == 0 && cursor == before + 2));
        FUZZ_CHECK(drc == 0 ? cp != RTUNICP_INVALID : cp == RTUNICP_INVALID);
        if (drc != 0 && pos < refUnits)
            FUZZ_CHECK_MSG(false, "decoder failed at unit %zu inside valid text", pos);
        pos = (size_t)(cursor - term);
    }
    size_t firstZero = 0;
    while (firstZero < n && exact[firstZero])
        firstZero++;
    FUZZ_CHECK(RTUtf16Length(term) == firstZero);
    free(term);
    free(exact);
}

// Fixed-size buffers: copy and append always terminate within size and report overflow.
void checkBuffers(const uint8_t *data, size_t size)
{
    if (size < 2)
        return;
    size_t const cb = data[0] % 40;
    size_t const split = data[1] % 40;
    char *src = FuzzTerminatedCopy(data + 2, size - 2);
    size_t const srcLen = RTStrLen(src);

    char *buf = (char *)malloc(cb ? cb : 1);
    int rc = RTStrCopyTo(buf, cb, src);
    if (srcLen < cb)
        FUZZ_CHECK(rc == 0 && memcmp(buf, src, srcLen + 1) == 0);
    else
    {
        FUZZ_CHECK(rc == ERR_BUFFER_OVERFLOW);
        if (cb)
            FUZZ_CHECK(buf[cb - 1] == 0 && memcmp(buf, src, cb - 1) == 0);
    }

    // Append the second half of the source to the first.
    if (cb)
    {
        size_t const head = split < srcLen ? split : srcLen;
        size_t const headKept = head < cb ? head : cb - 1;
        memcpy(buf, src, headKept);
        buf[headKept] = 0;
        const char *tail = src + head;
        size_t const tailLen = srcLen - head;
        rc = RTStrAppendTo(buf, cb, tail);
        size_t const room = cb - headKept;
        if (tailLen < room)
            FUZZ_CHECK(rc == 0 && RTStrLen(buf) == headKept + tailLen);
        else
            FUZZ_CHECK(rc == ERR_BUFFER_OVERFLOW && buf[cb - 1] == 0
                       && RTStrLen(buf) == cb - 1);
        FUZZ_CHECK(memcmp(buf + headKept, tail, RTStrLen(buf) - headKept) == 0);
        // No terminator within size: refused, nothing written.
        memset(buf, 'x', cb);
        FUZZ_CHECK(RTStrAppendTo(buf, cb, tail) == ERR_BAD_ARGUMENT);
        for (size_t i = 0; i < cb; i++)
            FUZZ_CHECK(buf[i] == 'x');
    }
    free(buf);
    free(src);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkUtf8(data, size);
    checkUtf16(data, size);
    checkBuffers(data, size);
    return 0;
}
