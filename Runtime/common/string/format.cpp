// The formatter's engine: the scan, the directive grammar, the standard conversions and
// the number conversion. It never allocates and keeps no state between calls.
#include "kelp/format.h"
#include "kelp/string.h"
#include "format-internal.h"

namespace {

const char kLowerDigits[] = "0123456789abcdef";
const char kUpperDigits[] = "0123456789ABCDEF";

// Largest width or precision taken from the format text; keeps the arithmetic in range.
const int kMaxFieldValue = 0x7fffff;

int rtFmtClampField(long long v)
{
    if (v > kMaxFieldValue)
        return kMaxFieldValue;
    return (int)v;
}

// Integer argument of d, i (isSigned) and u, o, x, X by the size character.
uint64_t rtFmtFetchInteger(va_list *args, char size, bool isSigned, unsigned *flags)
{
    switch (size)
    {
        case 'L':
        case 'j':
            *flags |= FMT_64BIT;
            return va_arg(*args, uint64_t);
        case 'H':
        case 'h':
        {
            // The int argument is not narrowed: a value beyond 8 or 16 bits prints in full.
            *flags |= size == 'H' ? FMT_8BIT : FMT_16BIT;
            int v = va_arg(*args, int);
            return isSigned ? (uint64_t)(int64_t)v : (uint64_t)(uint32_t)v;
        }
        case 'l':
        {
            *flags |= sizeof(long) == 8 ? FMT_64BIT : FMT_32BIT;
            if (isSigned)
                return (uint64_t)(int64_t)va_arg(*args, long);
            return (uint64_t)va_arg(*args, unsigned long);
        }
        case 'z':
            *flags |= sizeof(size_t) == 8 ? FMT_64BIT : FMT_32BIT;
            return (uint64_t)va_arg(*args, size_t);
        case 't':
        {
            *flags |= sizeof(ptrdiff_t) == 8 ? FMT_64BIT : FMT_32BIT;
            ptrdiff_t v = va_arg(*args, ptrdiff_t);
            return isSigned ? (uint64_t)(int64_t)v : (uint64_t)(size_t)v;
        }
        default:
        {
            *flags |= FMT_32BIT;
            if (isSigned)
                return (uint64_t)(int64_t)va_arg(*args, int);
            return (uint64_t)va_arg(*args, unsigned);
        }
    }
}

// The IEEE 754 binary64 fields of a double: "+1m0x<fraction>^<exponent>" and friends.
int rtFmtDouble(char *buffer, double value)
{
    uint64_t bits;
    __builtin_memcpy(&bits, &value, sizeof(bits));
    bool const negative = (bits >> 63) != 0;
    unsigned const exponent = (unsigned)(bits >> 52) & 0x7ff;
    uint64_t const fraction = bits & ((UINT64_C(1) << 52) - 1);

    RTFMTTEXT t;
    rtFmtTextInit(&t, buffer, RTFMT_NUMBER_BUFFER);
    rtFmtTextAddStr(&t, negative ? "-" : "+");
    char num[RTFMT_NUMBER_BUFFER];
    if (exponent == 0 && fraction == 0)
        rtFmtTextAddStr(&t, "0");
    else if (exponent == 0x7ff)
    {
        if (fraction == 0)
            rtFmtTextAddStr(&t, "Inf");
        else
            rtFmtTextAddStr(&t, (fraction >> 51) & 1 ? "QNan" : "SNan");
    }
    else
    {
        rtFmtTextAddStr(&t, exponent ? "1m0x" : "0m0x");
        RTFmtNumber(num, fraction, 16, 13, -1, FMT_ZEROPAD | FMT_64BIT);
        rtFmtTextAddStr(&t, num);
        if (exponent)
        {
            rtFmtTextAddStr(&t, "^");
            RTFmtNumber(num, (uint64_t)(int64_t)((int)exponent - 1023), 10, -1, -1,
                        FMT_SIGNED | FMT_64BIT);
            rtFmtTextAddStr(&t, num);
        }
    }
    return (int)t.len;
}

size_t rtFmtUtf8String(FormatOutputFn output, void *outputArg, const char *str, int width,
                       int precision, unsigned flags)
{
    if (!RTIsValidPtr(str))
        return rtFmtBadPointer(output, outputArg, str, "!BadStr", width, flags);
    size_t const length = precision >= 0 ? rtFmtStrNLen(str, (size_t)precision) : rtFmtStrLen(str);
    return rtFmtPadded(output, outputArg, str, length, width, flags);
}

size_t rtFmtUtf16String(FormatOutputFn output, void *outputArg, const RTUTF16 *wstr, int width,
                        int precision, unsigned flags)
{
    if (!RTIsValidPtr(wstr))
        return rtFmtBadPointer(output, outputArg, wstr, "!BadStrW", width, flags);

    // Count what decodes, up to the terminator, the precision (in code points) or the
    // first unit that does not decode.
    size_t count = 0;
    const RTUTF16 *cursor = wstr;
    while (precision < 0 || count < (size_t)precision)
    {
        RTUNICP cp;
        if (RTUtf16DecodeCp(&cursor, &cp) < 0 || cp == 0)
            break;
        count++;
    }

    size_t total = 0;
    int const pad = width - (int)(count > (size_t)kMaxFieldValue ? kMaxFieldValue : count);
    if (!(flags & FMT_LEFT))
        total += rtFmtBlanks(output, outputArg, pad);
    cursor = wstr;
    for (size_t i = 0; i < count; i++)
    {
        RTUNICP cp;
        RTUtf16DecodeCp(&cursor, &cp);
        char utf8[8];
        char *end = RTStrEncodeCp(utf8, cp);
        total += output(outputArg, utf8, (size_t)(end - utf8));
    }
    if (flags & FMT_LEFT)
        total += rtFmtBlanks(output, outputArg, pad);
    return total;
}

size_t rtFmtCodePointString(FormatOutputFn output, void *outputArg, const RTUNICP *cps,
                            int width, int precision, unsigned flags)
{
    if (!RTIsValidPtr(cps))
        return rtFmtBadPointer(output, outputArg, cps, "!BadStrU", width, flags);
    size_t count = 0;
    while ((precision < 0 || count < (size_t)precision) && cps[count] != 0)
        count++;

    size_t total = 0;
    int const pad = width - (int)(count > (size_t)kMaxFieldValue ? kMaxFieldValue : count);
    if (!(flags & FMT_LEFT))
        total += rtFmtBlanks(output, outputArg, pad);
    for (size_t i = 0; i < count; i++)
    {
        char utf8[8];
        char *end = RTStrEncodeCp(utf8, cps[i]);
        total += output(outputArg, utf8, (size_t)(end - utf8));
    }
    if (flags & FMT_LEFT)
        total += rtFmtBlanks(output, outputArg, pad);
    return total;
}

size_t rtFmtRun(FormatOutputFn output, void *outputArg, FormatExtensionFn extension,
                void *extensionArg, const char *format, va_list *args)
{
    size_t total = 0;
    const char *run = format;
    const char *p = format;
    for (;;)
    {
        if (*p == '\0')
            break;
        if (*p != '%')
        {
            p++;
            continue;
        }
        if (p > run)
            total += output(outputArg, run, (size_t)(p - run));
        p++;
        if (*p == '%')
        {
            // The second '%' starts the next literal run.
            run = p;
            p++;
            continue;
        }

        unsigned flags = 0;
        for (;;)
        {
            unsigned f;
            switch (*p)
            {
                case '-':  f = FMT_LEFT; break;
                case '+':  f = FMT_PLUS; break;
                case ' ':  f = FMT_BLANK; break;
                case '#':  f = FMT_SPECIAL; break;
                case '0':  f = FMT_ZEROPAD; break;
                case '\'': f = FMT_THOUSANDS; break;
                default:   f = 0; break;
            }
            if (!f)
                break;
            flags |= f;
            p++;
        }

        int width = -1;
        if (*p >= '0' && *p <= '9')
        {
            long long w = 0;
            while (*p >= '0' && *p <= '9')
            {
                if (w <= kMaxFieldValue)
                    w = w * 10 + (*p - '0');
                p++;
            }
            width = rtFmtClampField(w);
            flags |= FMT_WIDTH;
        }
        else if (*p == '*')
        {
            p++;
            long long w = va_arg(*args, int);
            if (w < 0)
            {
                flags |= FMT_LEFT;
                w = -w;
            }
            width = rtFmtClampField(w);
            flags |= FMT_WIDTH;
        }

        int precision = -1;
        if (*p == '.')
        {
            p++;
            long long v = 0;
            if (*p >= '0' && *p <= '9')
            {
                while (*p >= '0' && *p <= '9')
                {
                    if (v <= kMaxFieldValue)
                        v = v * 10 + (*p - '0');
                    p++;
                }
            }
            else if (*p == '*')
            {
                p++;
                v = va_arg(*args, int);
            }
            precision = v < 0 ? 0 : rtFmtClampField(v);
            flags |= FMT_PRECISION;
        }

        char size = 0;
        switch (*p)
        {
            case 'h':
                p++;
                if (*p == 'h')
                {
                    p++;
                    size = 'H';
                }
                else
                    size = 'h';
                break;
            case 'l':
                p++;
                if (*p == 'l')
                {
                    p++;
                    size = 'L';
                }
                else
                    size = 'l';
                break;
            case 'L':
            case 'q':
                p++;
                size = 'L';
                break;
            case 'j':
                p++;
                size = 'j';
                break;
            case 'z':
                p++;
                size = 'z';
                break;
            case 't':
                p++;
                size = 't';
                break;
            case 'I':
                p++;
                if (p[0] == '6' && p[1] == '4')
                {
                    p += 2;
                    size = 'L';
                }
                else if (p[0] == '3' && p[1] == '2')
                    p += 2;
                else
                    size = 'j';
                break;
            default:
                break;
        }

        switch (size)
        {
            case 'H': flags |= FMT_8BIT; break;
            case 'h': flags |= FMT_16BIT; break;
            case 'L':
            case 'j': flags |= FMT_64BIT; break;
            case 'z':
            case 't': flags |= sizeof(size_t) == 8 ? FMT_64BIT : FMT_32BIT; break;
            default: flags |= FMT_32BIT; break;
        }

        char const conv = *p;
        if (conv == '\0')
        {
            // A format that ends inside a directive: drop it, read no further.
            run = p;
            break;
        }
        p++;

        char num[RTFMT_NUMBER_BUFFER];
        switch (conv)
        {
            case 'd':
            case 'i':
            {
                flags |= FMT_SIGNED;
                uint64_t v = rtFmtFetchInteger(args, size, true, &flags);
                total += rtFmtEmitNumber(output, outputArg, v, 10, width, precision, flags);
                break;
            }
            case 'u':
            case 'o':
            case 'x':
            case 'X':
            {
                unsigned const base = conv == 'u' ? 10 : conv == 'o' ? 8 : 16;
                if (conv == 'X')
                    flags |= FMT_CAPITALS;
                uint64_t v = rtFmtFetchInteger(args, size, false, &flags);
                total += rtFmtEmitNumber(output, outputArg, v, base, width, precision, flags);
                break;
            }
            case 'p':
            {
                uint64_t v = (uint64_t)(uintptr_t)va_arg(*args, void *);
                flags &= ~(FMT_8BIT | FMT_16BIT | FMT_32BIT | FMT_64BIT);
                flags |= FMT_ZEROPAD;
                if (!(flags & FMT_WIDTH))
                    width = (int)(2 * sizeof(void *));
                total += rtFmtEmitNumber(output, outputArg, v, 16, width, precision, flags);
                break;
            }
            case 'c':
            {
                char ch = (char)(unsigned char)va_arg(*args, int);
                total += rtFmtPadded(output, outputArg, &ch, 1, width, flags);
                break;
            }
            case 's':
            case 'S':
                if (size == 'l')
                    total += rtFmtUtf16String(output, outputArg, va_arg(*args, const RTUTF16 *),
                                              width, precision, flags);
                else if (size == 'L')
                    total += rtFmtCodePointString(output, outputArg,
                                                  va_arg(*args, const RTUNICP *), width,
                                                  precision, flags);
                else
                    total += rtFmtUtf8String(output, outputArg, va_arg(*args, const char *),
                                             width, precision, flags);
                break;
            case 'a': case 'A': case 'e': case 'E': case 'f': case 'F': case 'g': case 'G':
            {
                int len = rtFmtDouble(num, va_arg(*args, double));
                total += output(outputArg, num, (size_t)len);
                break;
            }
            case 'N':
            {
                const char *nestedFormat = va_arg(*args, const char *);
                va_list *nestedArgs = va_arg(*args, va_list *);
                if (!RTIsValidPtr(nestedArgs))
                    break;
                va_list copy;
                va_copy(copy, *nestedArgs);
                total += RTFmtEmitV(output, outputArg, extension, extensionArg, nestedFormat, copy);
                va_end(copy);
                break;
            }
            case 'M':
                // The scan goes on in the new format; the rest of this one is never read.
                p = va_arg(*args, const char *);
                if (!RTIsValidPtr(p))
                    p = "";
                break;
            case 'R':
                total += rtFmtR(output, outputArg, &p, args, width, precision, flags, size);
                break;
            default:
                if (extension)
                {
                    const char *position = p - 1;
                    total += extension(extensionArg, output, outputArg, &position, args, width,
                                       precision, flags, size);
                    if (position >= p - 1)
                        p = position;
                }
                break;
        }
        run = p;
    }
    if (p > run)
        total += output(outputArg, run, (size_t)(p - run));
    return total;
}

} // namespace

size_t rtFmtStrLen(const char *text)
{
    size_t n = 0;
    while (text[n])
        n++;
    return n;
}

size_t rtFmtStrNLen(const char *text, size_t maxBytes)
{
    size_t n = 0;
    while (n < maxBytes && text[n])
        n++;
    return n;
}

size_t rtFmtBlanks(FormatOutputFn output, void *outputArg, int count)
{
    size_t total = 0;
    for (int i = 0; i < count; i++)
        total += output(outputArg, " ", 1);
    return total;
}

size_t rtFmtPadded(FormatOutputFn output, void *outputArg, const char *text, size_t length,
                   int width, unsigned flags)
{
    int const pad = length >= (size_t)kMaxFieldValue ? 0 : width - (int)length;
    size_t total = 0;
    if (!(flags & FMT_LEFT))
        total += rtFmtBlanks(output, outputArg, pad);
    total += output(outputArg, text, length);
    if (flags & FMT_LEFT)
        total += rtFmtBlanks(output, outputArg, pad);
    return total;
}

size_t rtFmtBadPointer(FormatOutputFn output, void *outputArg, const void *pointer,
                       const char *marker, int width, unsigned flags)
{
    if (!pointer)
        return rtFmtPadded(output, outputArg, "<NULL>", 6, width, flags);
    char text[RTFMT_NUMBER_BUFFER];
    RTFMTTEXT t;
    rtFmtTextInit(&t, text, sizeof(text));
    rtFmtTextAddStr(&t, "<");
    char num[RTFMT_NUMBER_BUFFER];
    RTFmtNumber(num, (uint64_t)(uintptr_t)pointer, 16, (int)(2 * sizeof(void *)), -1, FMT_ZEROPAD);
    rtFmtTextAddStr(&t, num);
    rtFmtTextAddStr(&t, marker);
    rtFmtTextAddStr(&t, ">");
    return rtFmtPadded(output, outputArg, text, (size_t)t.len, width, flags);
}

size_t rtFmtEmitNumber(FormatOutputFn output, void *outputArg, uint64_t value, unsigned base,
                       int width, int precision, unsigned flags)
{
    char num[RTFMT_NUMBER_BUFFER];
    int len = RTFmtNumber(num, value, base, width, precision, flags);
    return output(outputArg, num, (size_t)len);
}

size_t rtFmtText(FormatOutputFn output, void *outputArg, const char *text)
{
    return output(outputArg, text, rtFmtStrLen(text));
}

int RTFmtNumber(char *buffer, uint64_t value, unsigned base, int width, int precision,
                unsigned flags)
{
    const char *digits = (flags & FMT_CAPITALS) ? kUpperDigits : kLowerDigits;
    if (base != 8 && base != 16)
        base = 10;
    if (flags & FMT_LEFT)
        flags &= ~FMT_ZEROPAD;
    if ((flags & FMT_THOUSANDS) && (base != 10 || (flags & FMT_ZEROPAD)))
        flags &= ~FMT_THOUSANDS;

    bool const wide = (flags & FMT_64BIT) || (value >> 32) != 0;
    bool negative = false;
    uint64_t magnitude = value;
    if (flags & FMT_SIGNED)
    {
        if (wide)
        {
            if (value >> 63)
            {
                negative = true;
                magnitude = ~value + 1;
            }
        }
        else if (value & 0x80000000u)
        {
            negative = true;
            magnitude = (uint32_t)(~(uint32_t)value + 1);
        }
    }

    int count = 0;
    for (uint64_t t = magnitude;;)
    {
        count++;
        t /= base;
        if (!t)
            break;
    }
    if (flags & FMT_THOUSANDS)
    {
        if (count > 3)
            count += count / 3 - (count % 3 == 0 ? 1 : 0);
        else
            flags &= ~FMT_THOUSANDS;
    }

    char prefix[3];
    int prefixLength = 0;
    if ((flags & FMT_SIGNED) && (negative || (flags & (FMT_PLUS | FMT_BLANK))))
        prefix[prefixLength++] = negative ? '-' : (flags & FMT_PLUS) ? '+' : ' ';
    if ((flags & FMT_SPECIAL) && (base == 8 || base == 16))
    {
        prefix[prefixLength++] = '0';
        if (base == 16)
            prefix[prefixLength++] = (flags & FMT_CAPITALS) ? 'X' : 'x';
    }

    int pad = width - (count + prefixLength);
    int const limit = 63 - prefixLength - count;
    int pos = 0;
    if (flags & FMT_ZEROPAD)
    {
        for (int i = 0; i < prefixLength; i++)
            buffer[pos++] = prefix[i];
        while (pad > 0 && pos < limit)
        {
            buffer[pos++] = '0';
            pad--;
            precision--;
        }
    }
    else
    {
        if (!(flags & FMT_LEFT) && pad > 0)
        {
            if (pad > limit - 1)
                pad = limit - 1;
            while (pos < pad)
                buffer[pos++] = ' ';
            pad = 0;
        }
        for (int i = 0; i < prefixLength; i++)
            buffer[pos++] = prefix[i];
    }

    while (precision > count && pos < limit)
    {
        buffer[pos++] = '0';
        precision--;
    }

    char *q = buffer + pos + count;
    int n = 0;
    uint64_t t = magnitude;
    do
    {
        if ((flags & FMT_THOUSANDS) && n && n % 3 == 0)
            *--q = ' ';
        *--q = digits[t % base];
        t /= base;
        n++;
    } while (t);
    pos += count;

    if ((flags & FMT_LEFT) && pad > 0)
    {
        if (pad > limit - 1)
            pad = limit - 1;
        // Precision zeros may already use some of the room: never go past 63 characters.
        if (pad > 63 - pos)
            pad = 63 - pos;
        while (pad-- > 0)
            buffer[pos++] = ' ';
    }
    buffer[pos] = '\0';
    return pos;
}

size_t RTFmtEmitV(FormatOutputFn output, void *outputArg, FormatExtensionFn extension,
                  void *extensionArg, const char *format, va_list args)
{
    va_list ap;
    va_copy(ap, args);
    size_t total = rtFmtRun(output, outputArg, extension, extensionArg,
                            RTIsValidPtr(format) ? format : "", &ap);
    va_end(ap);
    output(outputArg, nullptr, 0);
    return total;
}

size_t RTFmtEmit(FormatOutputFn output, void *outputArg, FormatExtensionFn extension,
                 void *extensionArg, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    size_t total = RTFmtEmitV(output, outputArg, extension, extensionArg, format, args);
    va_end(args);
    return total;
}
