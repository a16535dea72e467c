// The formatter: formats built from the fuzzer's bytes out of the directives the runtime
// knows (with flags, widths, precisions and size prefixes) and arguments that match them.
// Checked: the front ends agree with each other and respect their buffer sizes; the whole
// format gives the concatenation of its directives formatted one at a time (so every
// directive takes exactly its own arguments); %N and %M reproduce the plain output; and
// numbers, strings, characters, doubles, booleans and status codes match references
// written from the documented rules.
//
// The arguments are passed as 24 integer slots and 8 doubles to one variadic call. On the
// x86-64 System V ABI (the fuzz build's only target) integer and floating-point
// arguments are fetched from separate sequences, so each directive finds its values in
// order whatever its type; an int is read from the low half of its slot.
#include "fuzz-support.h"

#include <kelp/err.h>
#include <kelp/format.h>
#include <kelp/string.h>

#include <string>
#include <vector>

#if !defined(__x86_64__) || defined(_WIN32)
#error "the argument passing of this target assumes the x86-64 System V ABI"
#endif

namespace
{

enum : size_t { GP_SLOTS = 24, FP_SLOTS = 8 };

struct ArgList
{
    uint64_t gp[GP_SLOTS] = {};
    double fp[FP_SLOTS] = {};
    size_t ngp = 0, nfp = 0;
};

int allocWith(char **out, const char *format, const ArgList &a)
{
    const uint64_t *g = a.gp;
    const double *d = a.fp;
    return RTFmtAlloc(out, format, g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7], g[8], g[9],
                      g[10], g[11], g[12], g[13], g[14], g[15], g[16], g[17], g[18], g[19], g[20],
                      g[21], g[22], g[23], d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
}

#define FMT_ARGS(a)                                                                           \
    a.gp[0], a.gp[1], a.gp[2], a.gp[3], a.gp[4], a.gp[5], a.gp[6], a.gp[7], a.gp[8], a.gp[9], \
        a.gp[10], a.gp[11], a.gp[12], a.gp[13], a.gp[14], a.gp[15], a.gp[16], a.gp[17],       \
        a.gp[18], a.gp[19], a.gp[20], a.gp[21], a.gp[22], a.gp[23], a.fp[0], a.fp[1], a.fp[2], \
        a.fp[3], a.fp[4], a.fp[5], a.fp[6], a.fp[7]

int nestedAlloc(char **out, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = RTFmtAlloc(out, "<%N>", format, &ap);
    va_end(ap);
    return n;
}

// Output callback that records every chunk and checks the end marks.
struct Collector
{
    std::string text;
    size_t endCalls = 0;
    bool lastWasEnd = false;
};

size_t collect(void *arg, const char *chars, size_t count)
{
    Collector *c = (Collector *)arg;
    if (!chars)
    {
        FUZZ_CHECK(count == 0);
        c->endCalls++;
        c->lastWasEnd = true;
        return 0;
    }
    c->text.append(chars, count);
    c->lastWasEnd = false;
    return count;
}

// ---- references -------------------------------------------------------------------------

std::string refNumber(uint64_t value, unsigned base, int width, int precision, unsigned flags)
{
    const char *digits = (flags & FMT_CAPITALS) ? "0123456789ABCDEF" : "0123456789abcdef";
    if (flags & FMT_LEFT)
        flags &= ~FMT_ZEROPAD;
    if (base != 10 || (flags & FMT_ZEROPAD))
        flags &= ~FMT_THOUSANDS;
    bool const wide = (flags & FMT_64BIT) || (value >> 32);
    bool negative = false;
    uint64_t mag = wide ? value : (uint32_t)value;
    if (flags & FMT_SIGNED)
    {
        negative = wide ? (value >> 63) != 0 : (value & 0x80000000u) != 0;
        if (negative)
            mag = wide ? 0 - value : (uint32_t)(0 - (uint32_t)value);
    }
    std::string body;
    for (uint64_t t = mag;; t /= base)
    {
        body.insert(body.begin(), digits[t % base]);
        if (t < base)
            break;
    }
    if ((flags & FMT_THOUSANDS) && body.size() > 3)
        for (size_t i = body.size(); i > 3; i -= 3)
            body.insert(i - 3, " ");
    int const count = (int)body.size();
    std::string prefix;
    if ((flags & FMT_SIGNED) && (negative || (flags & (FMT_PLUS | FMT_BLANK))))
        prefix += negative ? '-' : (flags & FMT_PLUS) ? '+' : ' ';
    if ((flags & FMT_SPECIAL) && (base == 8 || base == 16))
        prefix += (flags & FMT_CAPITALS) && base == 16 ? "0X" : base == 16 ? "0x" : "0";
    int const plen = (int)prefix.size();
    int pad = width - (count + plen);
    int const limit = 63 - plen - count;
    std::string out;
    if (flags & FMT_ZEROPAD)
    {
        out = prefix;
        while (pad > 0 && (int)out.size() < limit)
            out += '0', pad--, precision--;
    }
    else
    {
        if (!(flags & FMT_LEFT) && pad > 0)
        {
            out.assign(pad > limit - 1 ? limit - 1 : pad, ' ');
            pad = 0;
        }
        out += prefix;
    }
    while (precision > count && (int)out.size() < limit)
        out += '0', precision--;
    out += body;
    if ((flags & FMT_LEFT) && pad > 0)
    {
        if (pad > limit - 1)
            pad = limit - 1;
        while (pad-- > 0 && out.size() < 63)
            out += ' ';
    }
    FUZZ_CHECK(out.size() <= 63);
    return out;
}

std::string padded(const std::string &text, size_t visible, int width, unsigned flags)
{
    if (width <= (int)visible)
        return text;
    std::string blanks((size_t)width - visible, ' ');
    return (flags & FMT_LEFT) ? text + blanks : blanks + text;
}

std::string badPointerText(const void *p, const char *marker)
{
    if (!p)
        return "<NULL>";
    char buf[64];
    snprintf(buf, sizeof(buf), "<%016llx%s>", (unsigned long long)(uintptr_t)p, marker);
    return buf;
}

void refEncode(std::string &out, uint32_t cp)
{
    if (cp < 0x80)
        out += (char)cp;
    else if (cp >= 0x80000000u)
        out += (char)0x7F;
    else
    {
        int n = cp < 0x800 ? 2 : cp < 0x10000 ? 3 : cp < 0x200000 ? 4 : cp < 0x4000000 ? 5 : 6;
        static const uint8_t lead[7] = { 0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC };
        char b[6];
        for (int i = n - 1; i > 0; i--, cp >>= 6)
            b[i] = (char)(0x80 | (cp & 0x3F));
        b[0] = (char)(lead[n] | cp);
        out.append(b, (size_t)n);
    }
}

std::string refDouble(double d)
{
    uint64_t bits;
    memcpy(&bits, &d, 8);
    std::string s = (bits >> 63) ? "-" : "+";
    unsigned const e = (unsigned)(bits >> 52) & 0x7FF;
    uint64_t const f = bits & ((UINT64_C(1) << 52) - 1);
    char buf[64];
    if (e == 0 && f == 0)
        return s + "0";
    if (e == 0x7FF)
        return s + (f == 0 ? "Inf" : (f >> 51) ? "QNan" : "SNan");
    if (e == 0)
        snprintf(buf, sizeof(buf), "0m0x%013llx", (unsigned long long)f);
    else
        snprintf(buf, sizeof(buf), "1m0x%013llx^%d", (unsigned long long)f, (int)e - 1023);
    return s + buf;
}

struct StatusRow
{
    int value;
    const char *name;
    const char *message;
};
const StatusRow kStatuses[] = {
#define KELP_STATUS(value, name, message) { value, #name, message },
#include <kelp/errcodes.def>
#undef KELP_STATUS
};

const StatusRow *findStatus(int v)
{
    for (const StatusRow &r : kStatuses)
        if (r.value == v)
            return &r;
    return nullptr;
}

// %R type table rows with a number rendering (kind number or hex-fixed).
struct NumberRow
{
    const char *name;
    uint8_t size;
    uint8_t base;
    bool hexFixed;
    unsigned flags;
};
const NumberRow kNumberRows[] = {
    { "U8", 1, 10, false, 0 },        { "U16", 2, 10, false, 0 },
    { "U32", 4, 10, false, 0 },       { "U64", 8, 10, false, 0 },
    { "I8", 1, 10, false, FMT_SIGNED }, { "I16", 2, 10, false, FMT_SIGNED },
    { "I32", 4, 10, false, FMT_SIGNED }, { "I64", 8, 10, false, FMT_SIGNED },
    { "X8", 1, 16, false, 0 },        { "X16", 2, 16, false, 0 },
    { "X32", 4, 16, false, 0 },       { "X64", 8, 16, false, 0 },
    { "Ci", 4, 10, false, FMT_SIGNED }, { "Cu", 4, 10, false, 0 },
    { "Cx", 4, 16, false, 0 },        { "Cp", 8, 16, true, 0 },
    { "Cr", 4, 16, true, 0 },         { "Gi", 8, 10, false, FMT_SIGNED },
    { "Gv", 8, 16, true, 0 },         { "Hx", 4, 16, false, 0 },
    { "Rv", 4, 16, true, 0 },         { "Tfmode", 4, 16, true, 0 },
    { "Tfoff", 8, 10, false, FMT_SIGNED }, { "Tino", 8, 16, true, 0 },
    { "Tiop", 2, 16, true, 0 },       { "Tsel", 2, 16, true, 0 },
    { "Tuint", 4, 10, false, 0 },     { "Tint", 4, 10, false, FMT_SIGNED },
    { "Tunicp", 4, 16, true, FMT_ZEROPAD }, { "Tutf16", 2, 16, true, FMT_ZEROPAD },
    { "Tptr", 8, 16, true, 0 },       { "Tsock", 8, 10, false, 0 },
};

// ---- generation ---------------------------------------------------------------------------

struct Arena
{
    std::vector<void *> blocks;
    void *alloc(size_t n)
    {
        void *p = malloc(n ? n : 1);
        blocks.push_back(p);
        return p;
    }
    ~Arena()
    {
        for (void *p : blocks)
            free(p);
    }
};

struct Directive
{
    std::string text;       // the directive itself, with its literal text before it
    ArgList args;           // what it takes, alone
    bool hasExpected = false;
    std::string expected;
};

struct Generator
{
    FuzzReader in;
    Arena &arena;

    // A bad or null pointer now and then, else a valid one.
    const void *maybeBad(const void *good)
    {
        switch (in.byte() % 16)
        {
            case 0: return nullptr;
            case 1: return (const void *)(uintptr_t)0x10;
            case 2: return (const void *)(UINTPTR_MAX - 0x20);
            default: return good;
        }
    }
    const char *text()
    {
        const uint8_t *p;
        size_t n = in.piece(0xFF, &p);
        if (n > 200)
            n = 200;
        return (const char *)arenaKeep(FuzzTerminatedCopy(p, n));
    }
    void *arenaKeep(void *p)
    {
        arena.blocks.push_back(p);
        return p;
    }
    const RTUTF16 *utf16()
    {
        size_t n = in.byte() % 24;
        RTUTF16 *w = (RTUTF16 *)arena.alloc((n + 1) * sizeof(RTUTF16));
        for (size_t i = 0; i < n; i++)
        {
            uint8_t const k = in.byte();
            // Mostly ASCII and BMP text, some surrogates and byte-order marks.
            w[i] = k < 128 ? (RTUTF16)(k ? k : 'a')
                 : k < 200 ? (RTUTF16)(0x100 + k * 97)
                 : k < 220 ? (RTUTF16)(0xD800 + (k & 7))
                 : k < 240 ? (RTUTF16)(0xDC00 + (k & 7))
                 : (RTUTF16)(0xFFF0 + (k & 15));
        }
        w[n] = 0;
        return w;
    }
    const RTUNICP *codePoints()
    {
        size_t n = in.byte() % 12;
        RTUNICP *c = (RTUNICP *)arena.alloc((n + 1) * sizeof(RTUNICP));
        for (size_t i = 0; i < n; i++)
        {
            c[i] = in.u32();
            if (!c[i])
                c[i] = 'z';
        }
        c[n] = 0;
        return c;
    }

    void literal(std::string &out)
    {
        size_t n = in.byte() % 6;
        for (size_t i = 0; i < n; i++)
        {
            char c = (char)in.byte();
            out += c == '%' || c == 0 ? '.' : c;
        }
    }

    // Flags, width, precision; the '*' values go into the argument list first.
    struct Fields
    {
        unsigned flags = 0;
        int width = -1;
        int precision = -1;
    };
    Fields fields(std::string &fmt, ArgList &a, bool allowPrecision, int maxWidth)
    {
        Fields f;
        uint8_t const fl = in.byte();
        static const struct { char c; unsigned flag; } kFlags[] = {
            { '-', FMT_LEFT }, { '+', FMT_PLUS }, { ' ', FMT_BLANK }, { '#', FMT_SPECIAL },
            { '0', FMT_ZEROPAD }, { '\'', FMT_THOUSANDS },
        };
        for (unsigned i = 0; i < RT_ELEMENTS(kFlags); i++)
            if (fl & (1u << i))
                fmt += kFlags[i].c, f.flags |= kFlags[i].flag;
        uint8_t const w = in.byte();
        if (w % 4 == 1)
        {
            // Never 0: a leading '0' is the zero-padding flag.
            f.width = 1 + in.byte() % maxWidth;
            fmt += std::to_string(f.width);
            f.flags |= FMT_WIDTH;
        }
        else if (w % 4 == 2)
        {
            int v = (int)(in.byte() % (2 * maxWidth + 1)) - maxWidth;
            fmt += '*';
            a.gp[a.ngp++] = (uint64_t)(int64_t)v;
            if (v < 0)
                f.flags |= FMT_LEFT, v = -v;
            f.width = v;
            f.flags |= FMT_WIDTH;
        }
        if (allowPrecision)
        {
            uint8_t const p = in.byte();
            if (p % 4 == 1)
            {
                f.precision = in.byte() % 90;
                fmt += '.' + std::to_string(f.precision);
                f.flags |= FMT_PRECISION;
            }
            else if (p % 4 == 2)
            {
                int v = (int)(in.byte() % 96) - 6;
                fmt += ".*";
                a.gp[a.ngp++] = (uint64_t)(int64_t)v;
                f.precision = v < 0 ? 0 : v;
                f.flags |= FMT_PRECISION;
            }
            else if (p % 4 == 3)
            {
                fmt += '.';
                f.precision = 0;
                f.flags |= FMT_PRECISION;
            }
        }
        return f;
    }

    void integer(Directive &d)
    {
        static const struct { const char *text; char size; } kSizes[] = {
            { "", 0 }, { "hh", 'H' }, { "h", 'h' }, { "l", 'l' }, { "ll", 'L' }, { "L", 'L' },
            { "q", 'L' }, { "j", 'j' }, { "z", 'z' }, { "t", 't' }, { "I64", 'L' },
            { "I32", 0 }, { "I", 'j' },
        };
        static const char kConv[] = "diuoxX";
        std::string fmt = "%";
        Fields f = fields(fmt, d.args, true, 100);
        auto const &sz = kSizes[in.byte() % RT_ELEMENTS(kSizes)];
        char const conv = kConv[in.byte() % 6];
        fmt += sz.text;
        fmt += conv;
        uint64_t const raw = in.u64();
        d.args.gp[d.args.ngp++] = raw;
        d.text += fmt;

        bool const isSigned = conv == 'd' || conv == 'i';
        unsigned flags = f.flags | (isSigned ? FMT_SIGNED : 0) | (conv == 'X' ? FMT_CAPITALS : 0);
        uint64_t v;
        switch (sz.size)
        {
            case 'L': case 'j': case 'l': case 'z': case 't':
                v = raw;
                flags |= FMT_64BIT;
                break;
            default:
                v = isSigned ? (uint64_t)(int64_t)(int32_t)raw : (uint64_t)(uint32_t)raw;
                break;
        }
        unsigned const base = conv == 'o' ? 8 : conv == 'x' || conv == 'X' ? 16 : 10;
        d.expected = refNumber(v, base, f.width, f.precision, flags);
        d.hasExpected = true;
    }

    void string(Directive &d)
    {
        std::string fmt = "%";
        Fields f = fields(fmt, d.args, true, 40);
        uint8_t const kind = in.byte() % 3;
        fmt += kind == 0 ? "s" : kind == 1 ? "ls" : "Ls";
        d.text += fmt;
        std::string body;
        size_t visible = 0;
        if (kind == 0)
        {
            const char *s = text();
            const char *p = (const char *)maybeBad(s);
            d.args.gp[d.args.ngp++] = (uint64_t)(uintptr_t)p;
            if (!RTIsValidPtr(p))
                body = badPointerText(p, "!BadStr");
            else
                body.assign(p, f.precision >= 0 ? strnlen(p, (size_t)f.precision) : strlen(p));
            visible = body.size();
        }
        else if (kind == 1)
        {
            const RTUTF16 *w = utf16();
            const RTUTF16 *p = (const RTUTF16 *)maybeBad(w);
            d.args.gp[d.args.ngp++] = (uint64_t)(uintptr_t)p;
            if (!RTIsValidPtr(p))
                visible = (body = badPointerText(p, "!BadStrW")).size();
            else
                for (size_t i = 0; p[i] && (f.precision < 0 || visible < (size_t)f.precision);)
                {
                    uint16_t u = p[i];
                    uint32_t cp;
                    if (u >= 0xD800 && u <= 0xDBFF && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF)
                        cp = 0x10000 + ((u & 0x3FFu) << 10 | (p[i + 1] & 0x3FFu)), i += 2;
                    else if ((u >= 0xD800 && u <= 0xDFFF) || u >= 0xFFFE)
                        break;
                    else
                        cp = u, i++;
                    refEncode(body, cp);
                    visible++;
                }
        }
        else
        {
            const RTUNICP *c = codePoints();
            const RTUNICP *p = (const RTUNICP *)maybeBad(c);
            d.args.gp[d.args.ngp++] = (uint64_t)(uintptr_t)p;
            if (!RTIsValidPtr(p))
                visible = (body = badPointerText(p, "!BadStrU")).size();
            else
                for (size_t i = 0; p[i] && (f.precision < 0 || i < (size_t)f.precision); i++)
                    refEncode(body, p[i]), visible++;
        }
        d.expected = padded(body, visible, f.width, f.flags);
        d.hasExpected = true;
    }

    void character(Directive &d)
    {
        std::string fmt = "%";
        Fields f = fields(fmt, d.args, false, 40);
        fmt += 'c';
        d.text += fmt;
        uint64_t const raw = in.u64();
        d.args.gp[d.args.ngp++] = raw;
        d.expected = padded(std::string(1, (char)(uint8_t)raw), 1, f.width, f.flags);
        d.hasExpected = true;
    }

    void floating(Directive &d)
    {
        std::string fmt = "%";
        fields(fmt, d.args, true, 40);
        static const char kConv[] = "aAeEfFgG";
        fmt += in.byte() % 2 ? "l" : "";
        fmt += kConv[in.byte() % 8];
        d.text += fmt;
        uint64_t bits = in.u64();
        double v;
        memcpy(&v, &bits, 8);
        d.args.fp[d.args.nfp++] = v;
        d.expected = refDouble(v);
        d.hasExpected = true;
    }

    void typeRow(Directive &d)
    {
        std::string fmt = "%";
        Fields f = fields(fmt, d.args, true, 100);
        uint8_t const pick = in.byte();
        uint64_t const raw = in.u64();
        d.args.gp[d.args.ngp++] = raw;
        if (pick < 200)
        {
            const NumberRow &row = kNumberRows[pick % RT_ELEMENTS(kNumberRows)];
            fmt += 'R';
            fmt += row.name;
            d.text += fmt;
            unsigned flags = f.flags | row.flags;
            uint64_t v;
            if (row.flags & FMT_SIGNED)
                v = row.size == 8 ? raw : (uint64_t)(int64_t)(int32_t)raw;
            else
                v = row.size == 1 ? (uint8_t)raw : row.size == 2 ? (uint16_t)raw
                  : row.size == 4 ? (uint32_t)raw : raw;
            if (row.size == 8)
                flags |= FMT_64BIT;
            int width = f.width;
            if (row.hexFixed)
            {
                if (!(flags & FMT_WIDTH))
                    width = 2 * row.size + ((flags & FMT_SPECIAL) ? 2 : 0);
                flags |= FMT_ZEROPAD;
            }
            d.expected = refNumber(v, row.base, width, f.precision, flags);
        }
        else if (pick < 230)
        {
            fmt += "RTbool";
            d.text += fmt;
            uint8_t const b = (uint8_t)(pick & 1 ? raw & 1 : raw);
            d.args.gp[d.args.ngp - 1] = b;
            d.expected = b == 1 ? ((f.flags & FMT_SPECIAL) ? "true " : "true")
                       : b == 0 ? "false" : "!" + std::to_string(b) + "!";
        }
        else
        {
            fmt += "RKv";
            d.text += fmt;
            d.expected = (f.flags & FMT_SPECIAL) ? "0xXXXXXXXX" : "XXXXXXXX";
        }
        d.hasExpected = true;
    }

    void status(Directive &d)
    {
        std::string fmt = "%";
        fields(fmt, d.args, true, 20);
        uint8_t const letter = in.byte() % 5;
        int value;
        if (in.byte() & 1)
            value = kStatuses[in.byte() % RT_ELEMENTS(kStatuses)].value;
        else
            value = (int)in.u32();
        d.args.gp[d.args.ngp++] = (uint64_t)(uint32_t)value;
        fmt += "Rr";
        fmt += "csfaq"[letter];
        d.text += fmt;
        const StatusRow *row = findStatus(value);
        char unknown[64];
        snprintf(unknown, sizeof(unknown), "Unknown Status %d (0x%x)", value, (unsigned)value);
        switch (letter)
        {
            case 0: d.expected = row ? row->name : std::to_string(value); break;
            case 1:
            case 2: d.expected = row ? row->message : unknown; break;
            case 3:
                d.expected = row ? std::string(row->name) + " (" + std::to_string(value) + ") - "
                                       + row->message
                                 : unknown;
                break;
            default: d.expected = ""; break;
        }
        d.hasExpected = true;
    }

    // The families without a reference here: only their argument use is checked.
    void other(Directive &d)
    {
        std::string fmt = "%";
        uint8_t const which = in.byte() % 24;
        ArgList &a = d.args;
        switch (which)
        {
            case 0: case 1: case 2: case 3: case 4: case 5:
            {
                // Hex dumps: the precision is the byte count, the buffer exactly that big.
                Fields f = fields(fmt, a, false, 40);
                RT_NOREF(f);
                int count = in.byte() % 70;
                bool const given = in.byte() & 1;
                if (given)
                    fmt += "." + std::to_string(count);
                else
                    count = 16;
                uint8_t *bytes = (uint8_t *)arena.alloc((size_t)count);
                for (int i = 0; i < count; i++)
                    bytes[i] = in.byte() & 1 ? 0 : in.byte();
                bool const own = which >= 3;
                fmt += own ? "RhX" : "Rhx";
                fmt += "sdD"[which % 3];
                // Hex dumps promise "<null>" for null, nothing for other bad pointers.
                a.gp[a.ngp++] = (uint64_t)(uintptr_t)(in.byte() % 16 ? bytes : nullptr);
                if (own)
                    a.gp[a.ngp++] = in.u64();
                break;
            }
            case 6:
            {
                fields(fmt, a, true, 30);
                static const char *kSizes[] = { "Rhcb", "RhcB", "Rhci", "Rhub", "RhuB", "Rhui" };
                fmt += kSizes[in.byte() % 6];
                a.gp[a.ngp++] = in.u64();
                break;
            }
            case 7: case 8: case 9: case 10:
            {
                static const char *kText[] = { "Rbn", "Rfn", "RMjs", "RMas" };
                fields(fmt, a, true, 30);
                fmt += kText[which - 7];
                a.gp[a.ngp++] = (uint64_t)(uintptr_t)maybeBad(text());
                break;
            }
            case 11: case 12:
            {
                static const char *kText[] = { "RMes", "RMp" };
                fields(fmt, a, true, 30);
                fmt += kText[which - 11];
                if (which == 12)
                    fmt += "pqafz"[in.byte() % 5];
                a.gp[a.ngp++] = (uint64_t)(uintptr_t)maybeBad(text());
                break;
            }
            case 13:
            {
                fields(fmt, a, true, 30);
                fmt += "lRbs";
                a.gp[a.ngp++] = (uint64_t)(uintptr_t)maybeBad(utf16());
                break;
            }
            case 14:
            {
                int64_t *span = (int64_t *)arena.alloc(sizeof(int64_t));
                *span = (int64_t)in.u64();
                fmt += "RDtimespec";
                a.gp[a.ngp++] = (uint64_t)(uintptr_t)maybeBad(span);
                break;
            }
            case 15:
                fmt += in.byte() & 1 ? "RAx86[cr0]" : "RAx86[cr4]";
                a.gp[a.ngp++] = in.u64();
                break;
            case 16:
                fmt += "R[";
                fmt += "fuzz";
                fmt += "]";
                a.gp[a.ngp++] = in.u64();
                break;
            case 17:
            {
                fields(fmt, a, true, 30);
                static const char *kWin[] = { "Rwc", "Rwf", "Rwa", "Rhrc", "Rhrf", "Rhra" };
                fmt += kWin[in.byte() % 6];
                a.gp[a.ngp++] = in.u32();
                break;
            }
            case 18:
            {
                fields(fmt, a, true, 30);
                uint8_t const k = in.byte() % 3;
                fmt += k == 0 ? "RTnaipv4" : k == 1 ? "RTfp16" : "RTfp32";
                // A far pointer 16:32 is an 8-byte record: one integer slot.
                a.gp[a.ngp++] = in.u64();
                break;
            }
            case 19: case 20: case 21: case 22:
            {
                fields(fmt, a, true, 30);
                static const char *kRec[] = { "RTnaipv6", "RTmac", "RTuuid", "RTnaddr" };
                fmt += kRec[which - 19];
                size_t const n = which == 20 ? 6 : which == 22 ? sizeof(RTNETADDR) : 16;
                uint8_t *rec = (uint8_t *)arena.alloc(n);
                for (size_t i = 0; i < n; i++)
                    rec[i] = in.byte();
                if (which == 22)
                {
                    RTNETADDR *na = (RTNETADDR *)rec;
                    uint8_t const t = in.byte();
                    na->type = t < 80 ? 1 : t < 160 ? 2 : t < 240 ? 4 : t;
                    na->port = in.byte() & 1 ? RTNETADDR_PORT_NONE : in.u32() & 0xFFFF;
                }
                a.gp[a.ngp++] = (uint64_t)(uintptr_t)maybeBad(rec);
                break;
            }
            default:
            {
                // Error information: the message is read at most messageSize bytes.
                fields(fmt, a, true, 30);
                fmt += in.byte() & 1 ? "RTeic" : "RTeim";
                struct Info { uint32_t flags; int32_t status; uint32_t size; const char *msg; };
                Info *info = (Info *)arena.alloc(sizeof(Info));
                info->flags = in.byte() & 1 ? 0xBABE0004 : in.u32();
                info->status = kStatuses[in.byte() % RT_ELEMENTS(kStatuses)].value;
                size_t const n = in.byte() % 20;
                char *msg = (char *)arena.alloc(n);
                for (size_t i = 0; i < n; i++)
                    msg[i] = (char)('a' + in.byte() % 26);
                info->size = (uint32_t)n;
                info->msg = msg;
                a.gp[a.ngp++] = (uint64_t)(uintptr_t)maybeBad(info);
                break;
            }
        }
        d.text += fmt;
    }

    void unknown(Directive &d)
    {
        // Dropped whole, taking no argument.
        // The scan resumes after the first letter of an unknown %R type name.
        static const struct { const char *text, *output; } kUnknown[] = {
            { "%y", "" }, { "%5k", "" }, { "%-#w", "" }, { "%n", "" }, { "%RZ", "" },
            { "%RTnope", "nope" }, { "%RX33", "33" }, { "%5%", "" },
        };
        auto const &u = kUnknown[in.byte() % RT_ELEMENTS(kUnknown)];
        d.text += u.text;
        d.expected = u.output;
        d.hasExpected = true;
    }

    bool next(Directive &d)
    {
        literal(d.text);
        std::string const lit = d.text;
        uint8_t const kind = in.byte() % 16;
        switch (kind)
        {
            case 0: case 1: case 2: case 3: integer(d); break;
            case 4: case 5: string(d); break;
            case 6: character(d); break;
            case 7: floating(d); break;
            case 8: case 9: typeRow(d); break;
            case 10: status(d); break;
            case 11: unknown(d); break;
            case 12: d.text += "%%"; d.expected = "%"; d.hasExpected = true; break;
            default: other(d); break;
        }
        if (d.hasExpected)
            d.expected = lit + d.expected;
        return true;
    }
};

std::string allocText(const char *format, const ArgList &a)
{
    char *out = (char *)1;
    int n = allocWith(&out, format, a);
    FUZZ_CHECK(n >= 0 && out != nullptr);
    FUZZ_CHECK(out[n] == 0);
    std::string s(out, (size_t)n);
    RTStrDispose(out);
    return s;
}

void checkFrontEnds(const char *format, const ArgList &a, const std::string &full, FuzzReader &in)
{
    size_t const len = full.size();

    // The engine with a recording callback: the same text, total and one final end mark.
    Collector c;
    size_t total = RTFmtEmit(collect, &c, nullptr, nullptr, format, FMT_ARGS(a));
    FUZZ_CHECK(total == len && c.text == full);
    FUZZ_CHECK(c.lastWasEnd && c.endCalls >= 1);

    // Buffers of several sizes, each exactly as big as it says.
    size_t const sizes[] = { 0, 1, len, len + 1, (size_t)in.byte() % (len + 2) };
    for (size_t size : sizes)
    {
        char *buf = (char *)malloc(size ? size : 1);
        memset(buf, 0x5A, size ? size : 1);
        size_t stored = RTFmtBuffer(buf, size, format, FMT_ARGS(a));
        if (size == 0)
            FUZZ_CHECK(stored == 0 && (uint8_t)buf[0] == 0x5A);
        else
        {
            FUZZ_CHECK(stored == (len < size ? len : size - 1));
            FUZZ_CHECK(buf[stored] == 0 && memcmp(buf, full.data(), stored) == 0);
        }
        memset(buf, 0x5A, size ? size : 1);
        int checked = RTFmtBufferChecked(buf, size, format, FMT_ARGS(a));
        if (len < size)
            FUZZ_CHECK(checked == (int)len && memcmp(buf, full.data(), len + 1) == 0);
        else
        {
            FUZZ_CHECK(checked == -(int)(len + 1));
            if (size)
                FUZZ_CHECK(buf[size - 1] == 0 && memcmp(buf, full.data(), size - 1) == 0);
            else
                FUZZ_CHECK((uint8_t)buf[0] == 0x5A);
        }
        free(buf);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Arena arena;
    Generator gen = { { data, size }, arena };
    std::vector<Directive> dirs;
    ArgList all;
    std::string format;
    size_t const wanted = 1 + gen.in.byte() % 8;
    while (dirs.size() < wanted && gen.in.size)
    {
        Directive d;
        gen.next(d);
        if (all.ngp + d.args.ngp > GP_SLOTS - 1 || all.nfp + d.args.nfp > FP_SLOTS)
            break;
        for (size_t i = 0; i < d.args.ngp; i++)
            all.gp[all.ngp++] = d.args.gp[i];
        for (size_t i = 0; i < d.args.nfp; i++)
            all.fp[all.nfp++] = d.args.fp[i];
        format += d.text;
        dirs.push_back(d);
    }
    std::string tail;
    gen.literal(tail);
    format += tail;

    // Each directive alone, then the whole: the concatenation.
    std::string pieces;
    for (const Directive &d : dirs)
    {
        std::string one = allocText(d.text.c_str(), d.args);
        if (d.hasExpected)
            FUZZ_CHECK_MSG(one == d.expected, "'%s' gave '%s', expected '%s'", d.text.c_str(),
                           one.c_str(), d.expected.c_str());
        pieces += one;
    }
    pieces += tail;
    std::string const full = allocText(format.c_str(), all);
    FUZZ_CHECK_MSG(full == pieces, "'%s' gave '%s', its pieces '%s'", format.c_str(),
                   full.c_str(), pieces.c_str());

    checkFrontEnds(format.c_str(), all, full, gen.in);

    // %N runs the same format on the caller's argument list.
    {
        char *out = nullptr;
        int n = nestedAlloc(&out, format.c_str(), FMT_ARGS(all));
        FUZZ_CHECK(n == (int)full.size() + 2 && out);
        FUZZ_CHECK(out[0] == '<' && memcmp(out + 1, full.data(), full.size()) == 0
                   && out[n - 1] == '>');
        RTStrDispose(out);
    }

    // %M between two directives continues in the rest of the format; what follows %M in
    // the first string is never looked at.
    if (!dirs.empty())
    {
        size_t const split = gen.in.byte() % (dirs.size() + 1);
        std::string first, rest;
        for (size_t i = 0; i < dirs.size(); i++)
            (i < split ? first : rest) += dirs[i].text;
        rest += tail;
        first += "%M%s%d%ls junk";
        // The arguments of the first part, the pointer to the rest, the rest's arguments.
        ArgList ordered;
        for (size_t i = 0; i < split; i++)
            for (size_t k = 0; k < dirs[i].args.ngp; k++)
                ordered.gp[ordered.ngp++] = dirs[i].args.gp[k];
        ordered.gp[ordered.ngp++] = (uint64_t)(uintptr_t)rest.c_str();
        for (size_t i = split; i < dirs.size(); i++)
            for (size_t k = 0; k < dirs[i].args.ngp; k++)
                ordered.gp[ordered.ngp++] = dirs[i].args.gp[k];
        memcpy(ordered.fp, all.fp, sizeof(all.fp));
        if (ordered.ngp <= GP_SLOTS)
            FUZZ_CHECK(allocText(first.c_str(), ordered) == full);
    }
    return 0;
}
