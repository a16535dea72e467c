// %Rh directives: hex dumps of memory (%Rhxs, %Rhxd, %RhxD and the %RhX forms with an
// address of their own) and human-readable sizes (%Rhcb, %Rhub, %Rhci, ...).
#include "kelp/format.h"
#include "format-rtypes.h"

namespace {

size_t rtFmtHexByte(FormatOutputFn output, void *outputArg, const char *lead, uint8_t b)
{
    char text[8];
    RTFMTTEXT t;
    rtFmtTextInit(&t, text, sizeof(text));
    rtFmtTextAddStr(&t, lead);
    rtFmtTextAddNumber(&t, b, 16, 2, FMT_ZEROPAD);
    return output(outputArg, t.buf, t.len);
}

size_t rtFmtHexAddress(FormatOutputFn output, void *outputArg, const char *lead,
                       uint64_t address, int digits, const char *tail)
{
    char text[48];
    RTFMTTEXT t;
    rtFmtTextInit(&t, text, sizeof(text));
    rtFmtTextAddStr(&t, lead);
    rtFmtTextAddNumber(&t, address, 16, digits, FMT_ZEROPAD | FMT_64BIT);
    rtFmtTextAddStr(&t, tail);
    return output(outputArg, t.buf, t.len);
}

size_t rtFmtHexLine(FormatOutputFn output, void *outputArg, const uint8_t *data, size_t count,
                    size_t offset, size_t perLine, uint64_t address, int digits)
{
    size_t total = 0;
    char text[48];
    RTFMTTEXT t;
    rtFmtTextInit(&t, text, sizeof(text));
    if (offset)
        rtFmtTextAddStr(&t, "\n");
    rtFmtTextAddNumber(&t, address + offset, 16, digits, FMT_ZEROPAD | FMT_64BIT);
    rtFmtTextAddStr(&t, "/");
    rtFmtTextAddNumber(&t, offset, 16, 4, FMT_ZEROPAD | FMT_64BIT);
    rtFmtTextAddStr(&t, ":");
    total += output(outputArg, t.buf, t.len);

    size_t const inLine = count - offset < perLine ? count - offset : perLine;
    for (size_t i = 0; i < perLine; i++)
    {
        if (i < inLine)
            total += rtFmtHexByte(output, outputArg, i && i % 8 == 0 ? "-" : " ",
                                  data[offset + i]);
        else
            total += output(outputArg, "   ", 3);
    }
    total += output(outputArg, " ", 1);

    char chars[64];
    size_t n = 0;
    for (size_t i = 0; i < inLine; i++)
    {
        uint8_t const b = data[offset + i];
        chars[n++] = b >= 0x20 && b <= 0x7e ? (char)b : '.';
        if (n == sizeof(chars) || i + 1 == inLine)
        {
            total += output(outputArg, chars, n);
            n = 0;
        }
    }
    return total;
}

bool rtFmtSameLine(const uint8_t *a, const uint8_t *b, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (a[i] != b[i])
            return false;
    return true;
}

size_t rtFmtHexDump(FormatOutputFn output, void *outputArg, char style, const uint8_t *data,
                    uint64_t address, bool ownAddress, int width, int precision, unsigned flags)
{
    size_t const count = precision >= 0 ? (size_t)precision : 16;
    if (!count)
        return 0;
    if (!RTIsValidPtr(data))
        return output(outputArg, "<null>", 6);
    int const digits = address + count > UINT64_C(0xffffffff) ? 16 : 8;

    size_t total = 0;
    if (style == 's')
    {
        if (ownAddress)
            total += rtFmtHexAddress(output, outputArg, "", address, digits, ": ");
        total += rtFmtHexByte(output, outputArg, "", data[0]);
        const char *lead = (flags & FMT_SPECIAL) ? "" : (flags & FMT_THOUSANDS) ? ":" : " ";
        for (size_t i = 1; i < count; i++)
            total += rtFmtHexByte(output, outputArg, lead, data[i]);
        return total;
    }

    size_t const perLine = (flags & FMT_WIDTH) && width > 0 ? (size_t)width : 16;
    size_t const lastFull = count > perLine ? count - perLine : 0; // lines from here on always print
    bool folding = false;
    unsigned folded = 0;
    for (size_t offset = 0; offset < count; offset += perLine)
    {
        if (style == 'D' && offset > 0 && offset < lastFull
            && rtFmtSameLine(data + offset, data + offset - perLine, perLine))
        {
            if (folding
                || (offset + perLine < lastFull
                    && rtFmtSameLine(data + offset + perLine, data + offset, perLine)))
            {
                folding = true;
                folded++;
                continue;
            }
        }
        if (folding)
        {
            static const char stars[] = "****************";
            char text[64];
            RTFMTTEXT t;
            rtFmtTextInit(&t, text, sizeof(text));
            rtFmtTextAddStr(&t, "\n");
            rtFmtTextAdd(&t, stars, (size_t)digits);
            rtFmtTextAddStr(&t, " ****  <ditto x ");
            rtFmtTextAddNumber(&t, folded, 10, -1, 0);
            rtFmtTextAddStr(&t, ">");
            total += output(outputArg, t.buf, t.len);
            folding = false;
            folded = 0;
        }
        total += rtFmtHexLine(output, outputArg, data, count, offset, perLine, address, digits);
    }
    return total;
}

struct RTFMTUNIT
{
    const char *binary; // "Ki": the 'i' is dropped for the B forms
    unsigned shift;
    const char *decimal;
    uint64_t divisor;
};

const RTFMTUNIT g_aUnits[] = {
    { "Ei", 60, "E", UINT64_C(1000000000000000000) },
    { "Pi", 50, "P", UINT64_C(1000000000000000) },
    { "Ti", 40, "T", UINT64_C(1000000000000) },
    { "Gi", 30, "G", UINT64_C(1000000000) },
    { "Mi", 20, "M", UINT64_C(1000000) },
    { "Ki", 10, "k", UINT64_C(1000) },
};

const uint64_t g_aPow10[] = { 1, 10, 100, 1000 };

// (remainder * multiplier) >> shift without losing the high bits of the product
// (remainder < 2^shift, multiplier <= 1000).
uint64_t rtFmtScaledFraction(uint64_t remainder, uint32_t multiplier, unsigned shift)
{
    uint64_t const lowPart = (remainder & 0xffffffff) * multiplier;
    uint64_t const highPart = (remainder >> 32) * multiplier;
    uint64_t const lo = (highPart << 32) + lowPart;
    uint64_t const hi = (highPart >> 32) + (lo < lowPart ? 1 : 0);
    return (hi << (64 - shift)) | (lo >> shift);
}

size_t rtFmtSize(FormatOutputFn output, void *outputArg, char form, char unitLetter,
                 uint64_t value, int width, int precision, unsigned flags)
{
    unsigned const digits = precision < 0 ? 1 : precision > 3 ? 3 : (unsigned)precision;
    bool const binary = unitLetter != 'i';

    const RTFMTUNIT *unit = nullptr;
    for (const RTFMTUNIT &u : g_aUnits)
    {
        uint64_t const size = binary ? UINT64_C(1) << u.shift : u.divisor;
        uint64_t const from = binary ? size * 2 : size + size / 100;
        if (value >= size && (digits > 0 || value >= from))
        {
            unit = &u;
            break;
        }
    }

    char text[64];
    RTFMTTEXT t;
    rtFmtTextInit(&t, text, sizeof(text));
    if (!unit)
        rtFmtTextAddNumber(&t, value, 10, -1, 0);
    else
    {
        uint64_t integer, fraction;
        if (binary)
        {
            integer = value >> unit->shift;
            fraction = rtFmtScaledFraction(value & ((UINT64_C(1) << unit->shift) - 1),
                                           (uint32_t)g_aPow10[digits], unit->shift);
        }
        else
        {
            // ((value mod divisor) * 10^digits + divisor / 2) / divisor, without the
            // product overflowing: the divisor is 10^digits * step.
            integer = value / unit->divisor;
            uint64_t const step = unit->divisor / g_aPow10[digits];
            fraction = (value % unit->divisor + step / 2) / step;
            if (fraction >= g_aPow10[digits])
            {
                integer++;
                fraction = 0;
            }
        }
        rtFmtTextAddNumber(&t, integer, 10, -1, 0);
        if (digits)
        {
            rtFmtTextAddStr(&t, ".");
            rtFmtTextAddNumber(&t, fraction, 10, (int)digits, FMT_ZEROPAD);
        }
    }
    if (flags & FMT_BLANK)
        rtFmtTextAddStr(&t, " ");
    if (unit)
    {
        if (!binary)
            rtFmtTextAddStr(&t, unit->decimal);
        else if (unitLetter == 'B')
            rtFmtTextAdd(&t, unit->binary, 1);
        else
            rtFmtTextAddStr(&t, unit->binary);
    }
    if (form == 'c')
        rtFmtTextAddStr(&t, "B");

    size_t total = 0;
    if ((flags & FMT_WIDTH) && !(flags & FMT_LEFT))
    {
        const char *pad = (flags & FMT_ZEROPAD) ? "0" : " ";
        for (int i = (int)t.len; i < width; i++)
            total += output(outputArg, pad, 1);
    }
    return total + output(outputArg, t.buf, t.len);
}

} // namespace

size_t rtFmtRHex(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
                 int width, int precision, unsigned flags, char size)
{
    const char *p = *format; // at the 'h'
    if (p[1] == 'x' || p[1] == 'X')
    {
        // The arguments are taken before the style letter is looked at.
        bool const ownAddress = p[1] == 'X';
        const uint8_t *data = va_arg(*args, const uint8_t *);
        uint64_t const address = ownAddress ? va_arg(*args, uint64_t) : (uint64_t)(uintptr_t)data;
        char const style = p[2];
        *format = style ? p + 3 : p + 2;
        if (style != 's' && style != 'd' && style != 'D')
            return 0;
        return rtFmtHexDump(output, outputArg, style, data, address, ownAddress, width,
                            precision, flags);
    }
    if ((p[1] == 'c' || p[1] == 'u') && (p[2] == 'b' || p[2] == 'B' || p[2] == 'i'))
    {
        *format = p + 3;
        uint64_t const value = va_arg(*args, uint64_t);
        return rtFmtSize(output, outputArg, p[1], p[2], value, width, precision, flags);
    }
    return 0;
}
