#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <string>
#include <vector>
#include "kelp/format.h"
#include "kelp/err.h"
#include "kelp/mem.h"
#include "kelp/string.h"
#include "common/string/format-internal.h"

namespace {

std::string Fmt(const char *format, ...)
{
    static char buffer[8192];
    va_list args;
    va_start(args, format);
    size_t n = RTFmtBufferV(buffer, sizeof(buffer), format, args);
    va_end(args);
    return std::string(buffer, n);
}

// Expected text of an unusable pointer: the pointer has two hex digits per byte.
std::string BadPtrText(uintptr_t pointer, const char *marker)
{
    char hex[32];
    snprintf(hex, sizeof(hex), "%0*llx", (int)(2 * sizeof(void *)), (unsigned long long)pointer);
    return std::string("<") + hex + marker + ">";
}

struct Recorder
{
    std::vector<std::string> chunks; // "<end>" marks an end call
};

size_t RecordOutput(void *arg, const char *chars, size_t count)
{
    Recorder *r = (Recorder *)arg;
    if (!chars)
    {
        EXPECT_EQ(count, 0u);
        r->chunks.push_back("<end>");
        return 1000; // must not be counted
    }
    r->chunks.push_back(std::string(chars, count));
    return count;
}

std::vector<std::string> Chunks(const char *format, ...)
{
    Recorder r;
    va_list args;
    va_start(args, format);
    RTFmtEmitV(RecordOutput, &r, nullptr, nullptr, format, args);
    va_end(args);
    return r.chunks;
}

typedef std::vector<std::string> V;

TEST(FormatScan, LiteralRunsPercentAndEndCall)
{
    EXPECT_EQ(Chunks("ab%%cd"), (V{ "ab", "%cd", "<end>" }));
    EXPECT_EQ(Chunks(""), (V{ "<end>" }));
    EXPECT_EQ(Chunks("x%dy", 5), (V{ "x", "5", "y", "<end>" }));
    EXPECT_EQ(Fmt("100%%"), "100%");
    // A directive with flags before '%' is an unknown conversion: dropped.
    EXPECT_EQ(Fmt("a%5%b"), "ab");
}

TEST(FormatScan, ResultIsSumOfCallbacksWithoutEndCall)
{
    Recorder r;
    size_t total = RTFmtEmit(RecordOutput, &r, nullptr, nullptr, "abc%sde", "XYZ");
    EXPECT_EQ(total, 8u);
}

TEST(FormatScan, UnknownConversionTakesNoArgument)
{
    // 'n', 'y' and 'k' are unknown: nothing printed, the 7 goes to the %d.
    EXPECT_EQ(Fmt("[%n][%y][%5k]%d", 7), "[][][]7");
}

// Bytes placed at the very end of a readable page, with no access after it: reading
// one byte too far faults.
struct PageEnd
{
    char *page = nullptr;
    const char *Place(const char *bytes, size_t count)
    {
        if (!page)
        {
            page = (char *)VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
            DWORD old;
            VirtualProtect(page + 4096, 4096, PAGE_NOACCESS, &old);
        }
        memcpy(page + 4096 - count, bytes, count);
        return page + 4096 - count;
    }
    ~PageEnd() { VirtualFree(page, 0, MEM_RELEASE); }
};

TEST(FormatScan, DirectiveCutByTerminatorReadsNothingMore)
{
    PageEnd guard;
    EXPECT_EQ(Fmt(guard.Place("a%-05", 6), 1), "a");
    EXPECT_EQ(Fmt(guard.Place("b%", 3)), "b");
    EXPECT_EQ(Fmt(guard.Place("c%ll", 5)), "c");
    EXPECT_EQ(Fmt(guard.Place("d%R", 4)), "d");
    EXPECT_EQ(Fmt(guard.Place("e%Rr", 5), 0), "e");
    EXPECT_EQ(Fmt(guard.Place("f%Rhr", 6), 0), "f");
    EXPECT_EQ(Fmt(guard.Place("g%I6", 5), 0), "g");
}

struct Int32Case
{
    const char *format;
    int32_t value;
    const char *expected;
};

TEST(FormatIntegers, Int32Table)
{
    static const Int32Case cases[] = {
        { "%d", -5, "-5" },
        { "%i", 123, "123" },
        { "%+d", 5, "+5" },
        { "% d", 5, " 5" },
        { "%+ d", 5, "+5" },
        { "%+d", -5, "-5" },
        { "%u", -1, "4294967295" },
        { "%x", -1, "ffffffff" },
        { "%X", 0xabcdef, "ABCDEF" },
        { "%o", 8, "10" },
        { "%#x", 0, "0x0" },
        { "%#o", 8, "010" },
        { "%#X", 255, "0XFF" },
        { "%05d", -42, "-0042" },
        { "%-5d|", 42, "42   |" },
        { "%5d", 42, "   42" },
        { "%.3d", 7, "007" },
        { "%5.3d", 7, "    007" },
        { "%05.3d", 7, "00007" },
        { "%03.5d", 7, "00007" },
        { "%-5.3d|", 7, "007    |" },
        { "%.0d", 0, "0" },
        { "%d", INT32_MIN, "-2147483648" },
        { "%u", INT32_MIN, "2147483648" },
        { "%#08x", 0x1f, "0x00001f" },
        { "%-06d|", 3, "3     |" }, // '-' wins over '0'
        { "%+u", 5, "5" },          // signs only for signed conversions
        { "% x", 5, "5" },
        { "%hd", 70000, "70000" },  // h does not narrow the value
        { "%hhd", 300, "300" },
        { "%hd", -1, "-1" },
        // Unsigned conversions never show more bits than the 32-bit argument has.
        { "%hx", -1, "ffffffff" },
        { "%hhu", -1, "4294967295" },
        { "%hu", 70000, "70000" },
        { "%ld", -7, "-7" },
        { "%lu", -1, "4294967295" },
        { "%I32d", -9, "-9" },
        { "%c", 'A' + 256, "A" },
        { "%3c|", 'z', "  z|" },
        { "%-3c|", 'z', "z  |" },
    };
    for (const Int32Case &c : cases)
        EXPECT_EQ(Fmt(c.format, c.value), c.expected) << c.format;
}

struct Int64Case
{
    const char *format;
    int64_t value;
    const char *expected;
};

TEST(FormatIntegers, Int64Table)
{
    static const Int64Case cases[] = {
        { "%lld", INT64_MIN, "-9223372036854775808" },
        { "%llu", -1, "18446744073709551615" },
        { "%llx", 0x123456789abcdefLL, "123456789abcdef" },
        { "%Ld", -3, "-3" },
        { "%qd", -4, "-4" },
        { "%jd", -5, "-5" },
        { "%I64d", -6, "-6" },
        { "%Id", -8, "-8" }, // bare I is 64-bit
        { "%lld", 0x100000000LL, "4294967296" },
        { "%#llo", 8, "010" },
        { "%'lld", 1234567, "1 234 567" },
        { "%'lld", -123456, "-123 456" },
        { "%'llu", -1, "18 446 744 073 709 551 615" },
        { "%'30llu|", 1234567, "                     1 234 567|" },
        { "%-'12lld|", 1234567, "1 234 567   |" },
    };
    for (const Int64Case &c : cases)
        EXPECT_EQ(Fmt(c.format, c.value), c.expected) << c.format;
}

TEST(FormatIntegers, PointerSizedArguments)
{
    char expected[64];
    snprintf(expected, sizeof(expected), "%llu", (unsigned long long)SIZE_MAX);
    EXPECT_EQ(Fmt("%zu|%d", SIZE_MAX, 3), std::string(expected) + "|3");
    EXPECT_EQ(Fmt("%td|%d", (ptrdiff_t)-2, 4), "-2|4");
    EXPECT_EQ(Fmt("%tx|%d", (ptrdiff_t)-1, 4), std::string(2 * sizeof(void *), 'f') + "|4");
    if (sizeof(void *) == 4)
    {
        EXPECT_EQ(Fmt("%p", (void *)0x12ab), "000012ab");
        EXPECT_EQ(Fmt("%p", (void *)0), "00000000");
    }
    else
    {
        EXPECT_EQ(Fmt("%p", (void *)0x12ab), "00000000000012ab");
        EXPECT_EQ(Fmt("%p", (void *)0), "0000000000000000");
        EXPECT_EQ(Fmt("%p", (void *)0x123456789abcULL), "0000123456789abc");
    }
    EXPECT_EQ(Fmt("%4p", (void *)0x12ab), "12ab");
    EXPECT_EQ(Fmt("%#6p", (void *)0xab), "0x00ab");
}

TEST(FormatIntegers, StarWidthAndPrecision)
{
    EXPECT_EQ(Fmt("%*d|", 4, 7), "   7|");
    EXPECT_EQ(Fmt("%*d|", -4, 7), "7   |");
    EXPECT_EQ(Fmt("%.*d|", 3, 7), "007|");
    EXPECT_EQ(Fmt("%.*d|", -3, 7), "7|");
    EXPECT_EQ(Fmt("%*.*d|%d", 5, 2, 7, 9), "    07|9");
}

TEST(FormatThousands, Table)
{
    static const Int32Case cases[] = {
        { "%'RU32", 999, "999" },
        { "%'RU32", 1000, "1 000" },
        { "%'RU32", 100000, "100 000" },
        { "%'RU32", -1, "4 294 967 295" },
        { "%'05d", 12345, "12345" }, // no separators with zero padding
        { "%'x", 0x12345, "12345" }, // separators only in base 10
        { "%'d", -1000, "-1 000" },
        { "%'8d|", 1000, "   1 000|" },
    };
    for (const Int32Case &c : cases)
        EXPECT_EQ(Fmt(c.format, c.value), c.expected) << c.format;
}

TEST(FormatNumber, DirectConversion)
{
    char buf[RTFMT_NUMBER_BUFFER];
    EXPECT_EQ(RTFmtNumber(buf, 0xffffffffu, 10, -1, -1, FMT_SIGNED), 2);
    EXPECT_STREQ(buf, "-1");
    // A set high half makes the value 64-bit without FMT_64BIT.
    EXPECT_EQ(RTFmtNumber(buf, 0x1ffffffffULL, 16, -1, -1, 0), 9);
    EXPECT_STREQ(buf, "1ffffffff");
    // The most negative value keeps its own bit pattern as magnitude.
    RTFmtNumber(buf, 0x80000000u, 10, -1, -1, FMT_SIGNED);
    EXPECT_STREQ(buf, "-2147483648");
    RTFmtNumber(buf, 0, 8, -1, -1, FMT_SPECIAL);
    EXPECT_STREQ(buf, "00");
    RTFmtNumber(buf, 255, 10 + 3, -1, -1, 0); // unknown bases count in decimal
    EXPECT_STREQ(buf, "255");
}

TEST(FormatNumber, NeverWritesPastSixtyFourBytes)
{
    struct Case
    {
        int width, precision;
        unsigned flags;
    };
    static const Case cases[] = {
        { 200, -1, 0 },
        { 200, -1, FMT_ZEROPAD },
        { 200, -1, FMT_LEFT },
        { 60, 60, FMT_LEFT },
        { 200, 200, FMT_LEFT | FMT_SIGNED | FMT_PLUS },
        { 200, 200, FMT_SPECIAL },
        { 70, 100, FMT_ZEROPAD | FMT_SPECIAL | FMT_CAPITALS },
    };
    for (const Case &c : cases)
    {
        char buf[RTFMT_NUMBER_BUFFER + 64];
        memset(buf, 0x55, sizeof(buf));
        int len = RTFmtNumber(buf, 7, 16, c.width, c.precision, c.flags);
        EXPECT_LE(len, 63) << c.width << "." << c.precision << " " << c.flags;
        EXPECT_EQ((int)strlen(buf), len);
        for (size_t i = RTFMT_NUMBER_BUFFER; i < sizeof(buf); i++)
            ASSERT_EQ((unsigned char)buf[i], 0x55) << "overrun at " << i;
    }
}

struct StrCase
{
    const char *format;
    const char *value;
    const char *expected;
};

TEST(FormatStrings, Utf8Table)
{
    static const StrCase cases[] = {
        { "%s", "abc", "abc" },
        { "%S", "abc", "abc" },
        { "%.2s", "abc", "ab" },
        { "%.10s", "abc", "abc" },
        { "%5s|", "abc", "  abc|" },
        { "%-5s|", "abc", "abc  |" },
        { "%2s", "abcd", "abcd" },
        { "%s", "", "" },
        { "%s", nullptr, "<NULL>" },
        { "%10s", nullptr, "    <NULL>" },
        { "%-8s|", nullptr, "<NULL>  |" },
        { "%.3s", "\xc3\xa9\xc3\xa9", "\xc3\xa9\xc3" }, // precision counts bytes
    };
    for (const StrCase &c : cases)
        EXPECT_EQ(Fmt(c.format, c.value), c.expected) << c.format;
    EXPECT_EQ(Fmt("%.*s|", -1, "abc"), "|");
}

TEST(FormatStrings, PrecisionBoundsTheRead)
{
    // No terminator within the precision: nothing past it may be read.
    PageEnd guard;
    EXPECT_EQ(Fmt("%.3s", guard.Place("xyz", 3)), "xyz");
    const RTUTF16 units[] = { 'u', 'v' };
    const RTUTF16 *w = (const RTUTF16 *)guard.Place((const char *)units, sizeof(units));
    EXPECT_EQ(Fmt("%.2ls", w), "uv");
    const RTUNICP cps[] = { 'p', 'q' };
    const RTUNICP *c = (const RTUNICP *)guard.Place((const char *)cps, sizeof(cps));
    EXPECT_EQ(Fmt("%.2Ls", c), "pq");
}

TEST(FormatStrings, BadPointersPerWidth)
{
    uintptr_t const low = 0x10;
    uintptr_t const high = UINTPTR_MAX - 0xf;
    EXPECT_EQ(Fmt("%s", (const char *)low), BadPtrText(low, "!BadStr"));
    EXPECT_EQ(Fmt("%s", (const char *)high), BadPtrText(high, "!BadStr"));
    EXPECT_EQ(Fmt("%ls", (const RTUTF16 *)low), BadPtrText(low, "!BadStrW"));
    EXPECT_EQ(Fmt("%Ls", (const RTUNICP *)0xfff), BadPtrText(0xfff, "!BadStrU"));
    EXPECT_EQ(Fmt("%ls", (const RTUTF16 *)nullptr), "<NULL>");
    EXPECT_EQ(Fmt("%Ls", (const RTUNICP *)nullptr), "<NULL>");
    std::string const text = BadPtrText(low, "!BadStr");
    EXPECT_EQ(Fmt("%*s|", (int)text.size() + 2, (const char *)low), "  " + text + "|");
    EXPECT_EQ(Fmt("%-*s|", (int)text.size() + 1, (const char *)low), text + " |");
    // The first usable address is read normally.
    EXPECT_EQ(Fmt("%.0s", (const char *)0x1000), "");
}

TEST(FormatStrings, Utf16)
{
    const RTUTF16 plain[] = { 'h', 0xe9, 0x20ac, 0 };                 // h é €
    const RTUTF16 pair[] = { 0xd83d, 0xde00, 'x', 0 };                // U+1F600 x
    const RTUTF16 broken[] = { 'a', 'b', 0xd800, 'c', 'd', 0 };       // lone high surrogate
    const RTUTF16 lowFirst[] = { 'a', 0xdc00, 'b', 0 };
    const RTUTF16 byteOrder[] = { 'a', 0xfffe, 'b', 0 };
    EXPECT_EQ(Fmt("%ls", plain), "h\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(Fmt("%ls", pair), "\xf0\x9f\x98\x80x");
    EXPECT_EQ(Fmt("%ls|", broken), "ab|");
    EXPECT_EQ(Fmt("%ls|", lowFirst), "a|");
    EXPECT_EQ(Fmt("%ls|", byteOrder), "a|");
    // Precision and width count code points, not units or bytes.
    EXPECT_EQ(Fmt("%.1ls|", pair), "\xf0\x9f\x98\x80|");
    EXPECT_EQ(Fmt("%4ls|", pair), "  \xf0\x9f\x98\x80x|");
    EXPECT_EQ(Fmt("%-4ls|", plain), "h\xc3\xa9\xe2\x82\xac |");
    // One call per code point, one per padding blank.
    EXPECT_EQ(Chunks("%3ls", pair), (V{ " ", "\xf0\x9f\x98\x80", "x", "<end>" }));
}

TEST(FormatStrings, CodePoints)
{
    const RTUNICP cps[] = { 'A', 0xe9, 0x1f600, 0 };
    EXPECT_EQ(Fmt("%Ls", cps), "A\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(Fmt("%.2Ls|", cps), "A\xc3\xa9|");
    EXPECT_EQ(Fmt("%5Ls|", cps), "  A\xc3\xa9\xf0\x9f\x98\x80|");
}

TEST(FormatStrings, PaddingGoesOutOneBlankPerCall)
{
    EXPECT_EQ(Chunks("%4s", "ab"), (V{ " ", " ", "ab", "<end>" }));
    EXPECT_EQ(Chunks("%-3c", 'q'), (V{ "q", " ", " ", "<end>" }));
    // An empty string is still handed over.
    EXPECT_EQ(Chunks("%s", ""), (V{ "", "<end>" }));
}

struct DoubleCase
{
    uint64_t bits;
    const char *expected;
};

TEST(FormatFloat, BinaryFields)
{
    static const DoubleCase cases[] = {
        { 0x3ff0000000000000ULL, "+1m0x0000000000000^0" },   // 1.0
        { 0x3fe0000000000000ULL, "+1m0x0000000000000^-1" },  // 0.5
        { 0xc008000000000000ULL, "-1m0x8000000000000^1" },   // -3.0
        { 0x0000000000000000ULL, "+0" },
        { 0x8000000000000000ULL, "-0" },
        { 0x7ff0000000000000ULL, "+Inf" },
        { 0xfff0000000000000ULL, "-Inf" },
        { 0x7ff8000000000000ULL, "+QNan" },
        { 0xfff0000000000001ULL, "-SNan" },
        { 0x0000000000000001ULL, "+0m0x0000000000001" },     // smallest subnormal
        { 0x7fefffffffffffffULL, "+1m0xfffffffffffff^1023" },
        { 0x0010000000000000ULL, "+1m0x0000000000000^-1022" },
    };
    for (const DoubleCase &c : cases)
    {
        // The bits also travel as a 64-bit integer, which both Windows calling conventions
        // put in the slot a double would take: on i686 the caller's x87 load of a double
        // argument quiets a signalling NaN before the formatter ever sees it.
        EXPECT_EQ(Fmt("%f", c.bits), c.expected) << std::hex << c.bits;
        bool const signalling = (c.bits & 0x7ff8000000000000ULL) == 0x7ff0000000000000ULL
                             && (c.bits & 0x000fffffffffffffULL) != 0;
        if (sizeof(void *) == 4 && signalling)
            continue;
        double d;
        memcpy(&d, &c.bits, sizeof(d));
        EXPECT_EQ(Fmt("%f", d), c.expected) << std::hex << c.bits;
    }
    // Every floating conversion renders the same way; width and precision are ignored.
    EXPECT_EQ(Fmt("%10.3e|%g|%A|%d", 1.0, 1.0, 1.0, 5),
              "+1m0x0000000000000^0|+1m0x0000000000000^0|+1m0x0000000000000^0|5");
}

std::string Nested(const char *outer, const char *inner, ...)
{
    va_list args;
    va_start(args, inner);
    std::string s = Fmt(outer, inner, &args, 42);
    va_end(args);
    return s;
}

std::string Twice(const char *inner, ...)
{
    va_list args;
    va_start(args, inner);
    std::string s = Fmt("%N%N|%d", inner, &args, inner, &args, 42);
    va_end(args);
    return s;
}

std::vector<std::string> NestedChunks(const char *inner, ...)
{
    va_list args;
    va_start(args, inner);
    std::vector<std::string> c = Chunks("[%N]", inner, &args);
    va_end(args);
    return c;
}

TEST(FormatNesting, NAndM)
{
    // The caller's list is not advanced by %N: 42 still reaches the outer %d.
    EXPECT_EQ(Nested("error: %N (%d)", "%s=%u", "x", 7u), "error: x=7 (42)");
    EXPECT_EQ(Twice("%s", "twice"), "twicetwice|42");
    // The nested run makes its own end call in the middle of the output.
    EXPECT_EQ(NestedChunks("%d", 3), (V{ "[", "3", "<end>", "]", "<end>" }));
    // %M continues in the new format; the rest of the first is never read.
    EXPECT_EQ(Fmt("a%M never", "b%d-%s", 5, "c"), "ab5-c");
    EXPECT_EQ(Fmt("%d%M", 1, "%d", 2), "12");
    // An unusable list pointer is never followed.
    EXPECT_EQ(Fmt("[%N]%d", "%d", (va_list *)nullptr, 5), "[]5");
}

int CheckedNested(char *buf, size_t size, const char *inner, ...)
{
    va_list args;
    va_start(args, inner);
    int rc = RTFmtBufferChecked(buf, size, "<%N>", inner, &args);
    va_end(args);
    return rc;
}

TEST(FormatNesting, FrontEndsAcceptOutputAfterNestedEnd)
{
    char buf[64];
    EXPECT_EQ(CheckedNested(buf, sizeof(buf), "%s", "inner"), 7);
    EXPECT_STREQ(buf, "<inner>");
    EXPECT_EQ(CheckedNested(buf, 5, "%s", "inner"), -8);
    EXPECT_STREQ(buf, "<inn");
}

struct ExtensionLog
{
    int calls;
    int width, precision;
    unsigned flags;
    char size;
    char letter;
};

size_t TestExtension(void *extensionArg, FormatOutputFn output, void *outputArg,
                     const char **format, va_list *args, int width, int precision,
                     unsigned flags, char size)
{
    ExtensionLog *log = (ExtensionLog *)extensionArg;
    log->calls++;
    log->width = width;
    log->precision = precision;
    log->flags = flags;
    log->size = size;
    log->letter = **format;
    if (**format != 'k')
        return 0; // leaves the letter: printed as literal text
    (*format)++;
    int v = va_arg(*args, int);
    char text[16];
    int n = snprintf(text, sizeof(text), "<k%d>", v);
    return output(outputArg, text, (size_t)n);
}

std::string WithExtension(ExtensionLog *log, const char *format, ...)
{
    std::string out;
    struct Sink
    {
        static size_t Out(void *arg, const char *chars, size_t count)
        {
            if (chars)
                ((std::string *)arg)->append(chars, count);
            return count;
        }
    };
    va_list args;
    va_start(args, format);
    RTFmtEmitV(Sink::Out, &out, TestExtension, log, format, args);
    va_end(args);
    return out;
}

std::string NestedWithExtension(ExtensionLog *log, const char *inner, ...)
{
    va_list args;
    va_start(args, inner);
    std::string s = WithExtension(log, "(%N)", inner, &args);
    va_end(args);
    return s;
}

TEST(FormatExtension, ReceivesDirectiveAndTakesArguments)
{
    ExtensionLog log = {};
    EXPECT_EQ(WithExtension(&log, "a%-7.3hhk%db", 9, 4), "a<k9>4b");
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.width, 7);
    EXPECT_EQ(log.precision, 3);
    EXPECT_EQ(log.flags, FMT_LEFT | FMT_WIDTH | FMT_PRECISION | FMT_8BIT);
    EXPECT_EQ(log.size, 'H');
    EXPECT_EQ(log.letter, 'k');

    log = {};
    EXPECT_EQ(WithExtension(&log, "%n%zk", 5), "n<k5>");
    EXPECT_EQ(log.calls, 2);
    EXPECT_EQ(log.width, -1);
    EXPECT_EQ(log.precision, -1);
    EXPECT_EQ(log.size, 'z');

    // Nested formats keep the extension.
    log = {};
    EXPECT_EQ(NestedWithExtension(&log, "%k", 8), "(<k8>)");
}

TEST(FormatExtension, SizeCharacters)
{
    struct Case
    {
        const char *format;
        char size;
    };
    static const Case cases[] = {
        { "%k", 0 }, { "%hk", 'h' }, { "%hhk", 'H' }, { "%lk", 'l' }, { "%llk", 'L' },
        { "%Lk", 'L' }, { "%qk", 'L' }, { "%I64k", 'L' }, { "%jk", 'j' }, { "%Ik", 'j' },
        { "%I32k", 0 }, { "%zk", 'z' }, { "%tk", 't' },
    };
    for (const Case &c : cases)
    {
        ExtensionLog log = {};
        EXPECT_EQ(WithExtension(&log, c.format, 1), "<k1>") << c.format;
        EXPECT_EQ(log.size, c.size) << c.format;
    }
}

TEST(FormatRTypes, SizedIntegersAndBool)
{
    EXPECT_EQ(Fmt("%RU8", 0x1ff), "255");
    EXPECT_EQ(Fmt("%RU16", 0x12345), "9029");
    EXPECT_EQ(Fmt("%RU32", 4294967295u), "4294967295");
    EXPECT_EQ(Fmt("%RU64", 18446744073709551615ULL), "18446744073709551615");
    EXPECT_EQ(Fmt("%RI8", -1), "-1");
    EXPECT_EQ(Fmt("%RI16", -300), "-300");
    EXPECT_EQ(Fmt("%RI32", INT32_MIN), "-2147483648");
    EXPECT_EQ(Fmt("%RI64", INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(Fmt("%RX8", 0xab), "ab");
    EXPECT_EQ(Fmt("%RX16", 0xbeef), "beef");
    EXPECT_EQ(Fmt("%RX32", 0xdeadbeef), "deadbeef"); // the X of the name is not capitals
    EXPECT_EQ(Fmt("%RX64", 0x123456789abcdef0ULL), "123456789abcdef0");
    EXPECT_EQ(Fmt("%'RU64", 1234567ULL), "1 234 567");
    EXPECT_EQ(Fmt("%#RX32", 4096), "0x1000");
    EXPECT_EQ(Fmt("%08RX32", 0xabcd), "0000abcd");
    EXPECT_EQ(Fmt("%#010RX32", 0xabcd), "0x0000abcd");
    EXPECT_EQ(Fmt("%RU64 %d", 5ULL, 6), "5 6");
    EXPECT_EQ(Fmt("%RTbool", 1), "true");
    EXPECT_EQ(Fmt("%RTbool", 0), "false");
    EXPECT_EQ(Fmt("%RTbool", 7), "!7!");
    EXPECT_EQ(Fmt("%#RTbool|", 1), "true |");
    EXPECT_EQ(Fmt("%10RTbool|", 0), "false|"); // width ignored
}

TEST(FormatRTypes, UnknownTypeTakesNoArgument)
{
    EXPECT_EQ(Fmt("%RX33|%d", 5), "33|5");
    EXPECT_EQ(Fmt("%RU|%d", 5), "|5");
    EXPECT_EQ(Fmt("%RQ9|%d", 5), "9|5");
    EXPECT_EQ(Fmt("%RTboo|%d", 5), "boo|5");
    EXPECT_EQ(Fmt("%R"), "");
}

TEST(FormatRTypes, BoolThroughNestedEmitKeepsBufferGoing)
{
    // The "!%lld!" text is built by a nested run whose end call must not end the output.
    char buf[32];
    EXPECT_EQ(RTFmtBufferChecked(buf, sizeof(buf), "%RTbool-%RTbool", 2, 1), 8);
    EXPECT_STREQ(buf, "!2!-true");
}

struct BufferCase
{
    size_t size;
    const char *text;
    const char *stored;
    size_t plainResult;
    int checkedResult;
};

TEST(FormatFrontEnds, BufferAndChecked)
{
    static const BufferCase cases[] = {
        { 4, "abcdef", "abc", 3, -7 },
        { 4, "abc", "abc", 3, 3 },
        { 4, "abcd", "abc", 3, -5 },
        { 1, "abc", "", 0, -4 },
        { 1, "", "", 0, 0 },
        { 7, "abcdef", "abcdef", 6, 6 },
    };
    for (const BufferCase &c : cases)
    {
        char buf[16];
        memset(buf, 'Q', sizeof(buf));
        EXPECT_EQ(RTFmtBuffer(buf, c.size, "%s", c.text), c.plainResult) << c.text << c.size;
        EXPECT_STREQ(buf, c.stored);
        EXPECT_EQ(buf[c.size], 'Q');
        memset(buf, 'Q', sizeof(buf));
        EXPECT_EQ(RTFmtBufferChecked(buf, c.size, "%s", c.text), c.checkedResult) << c.text << c.size;
        EXPECT_STREQ(buf, c.stored);
        EXPECT_EQ(buf[c.size], 'Q');
    }
}

TEST(FormatFrontEnds, SizeZeroWritesNothing)
{
    char buf[4] = { 'Q', 'Q', 'Q', 'Q' };
    EXPECT_EQ(RTFmtBuffer(buf, 0, "abc"), 0u);
    EXPECT_EQ(buf[0], 'Q');
    EXPECT_EQ(RTFmtBufferChecked(buf, 0, "abc"), -4);
    EXPECT_EQ(RTFmtBufferChecked(buf, 0, ""), -1);
    EXPECT_EQ(buf[0], 'Q');
}

TEST(FormatFrontEnds, TruncationAcrossManyChunks)
{
    char buf[8];
    EXPECT_EQ(RTFmtBuffer(buf, sizeof(buf), "%d-%d-%d-%d", 11, 22, 33, 44), 7u);
    EXPECT_STREQ(buf, "11-22-3");
    EXPECT_EQ(RTFmtBufferChecked(buf, sizeof(buf), "%d-%d-%d-%d", 11, 22, 33, 44), -12);
    EXPECT_STREQ(buf, "11-22-3");
}

TEST(FormatFrontEnds, AllocSizesAndContents)
{
    static const size_t lengths[] = { 0, 1, 2047, 2048, 5000, 3 * 1048576 + 17 };
    for (size_t len : lengths)
    {
        std::string text(len, 'x');
        char *result = (char *)1;
        int n = RTFmtAlloc(&result, "%s", text.c_str());
        ASSERT_EQ(n, (int)len);
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(std::string(result), text);
        // The block is shrunk to the text and its terminator.
        EXPECT_EQ(HeapSize(GetProcessHeap(), 0, result), len + 1) << len;
        RTMemFree(result);
    }
}

int AllocV(char **result, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = RTFmtAllocV(result, format, args);
    va_end(args);
    return n;
}

TEST(FormatFrontEnds, AllocManyChunksSurviveGrowth)
{
    std::string s[9];
    std::string expected;
    for (int i = 0; i < 9; i++)
    {
        s[i] = std::string(300, (char)('a' + i));
        expected += s[i] + "|";
    }
    char *result = nullptr;
    int n = AllocV(&result, "%s|%s|%s|%s|%s|%s|%s|%s|%s|", s[0].c_str(), s[1].c_str(),
                   s[2].c_str(), s[3].c_str(), s[4].c_str(), s[5].c_str(), s[6].c_str(),
                   s[7].c_str(), s[8].c_str());
    ASSERT_EQ(n, (int)expected.size());
    EXPECT_EQ(std::string(result), expected);
    RTMemFree(result);
}

TEST(FormatFrontEnds, AllocGrowthSteps)
{
    struct Case
    {
        size_t capacity, chunk, increment;
    };
    static const Case cases[] = {
        { 2048, 5000, 8192 },             // chunk longer than the capacity: rounded up
        { 2048, 2048, 4096 },             // as long as the step counts as longer
        { 2048, 100, 2048 },              // doubling
        { 10240, 3000, 10240 },
        { 4194304, 100, 1048576 },        // steps of at most 1 MiB
        { 4194304, 1048576, 1048576 },
        { 4194304, 1048577, 1052672 },
        { 2048, 1073741824, 1073741824 }, // 1 GiB is still allowed
        { 2048, 1073741825, 0 },          // above fails
    };
    for (const Case &c : cases)
        EXPECT_EQ(rtFmtAllocIncrement(c.capacity, c.chunk), c.increment)
            << c.capacity << " " << c.chunk;
}

TEST(FormatStatus, NamesAndMessages)
{
    EXPECT_EQ(Fmt("%Rrc", 0), "INF_SUCCESS");
    EXPECT_EQ(Fmt("%Rrc", ERR_FILE_NOT_FOUND), "ERR_FILE_NOT_FOUND");
    EXPECT_EQ(Fmt("%Rrc", -12345), "-12345");
    EXPECT_EQ(Fmt("%Rrc", 12345), "12345");
    EXPECT_EQ(Fmt("%Rrs", 12345), "Unknown Status 12345 (0x3039)");
    EXPECT_EQ(Fmt("%Rrs", -12345), "Unknown Status -12345 (0xffffcfc7)");
    EXPECT_EQ(Fmt("%Rrf", -12345), "Unknown Status -12345 (0xffffcfc7)");
    EXPECT_EQ(Fmt("%Rrs", ERR_FILE_NOT_FOUND), "file not found");
    EXPECT_EQ(Fmt("%Rra", ERR_FILE_NOT_FOUND), "ERR_FILE_NOT_FOUND (-102) - file not found");
    EXPECT_EQ(Fmt("%Rra", 12345), "Unknown Status 12345 (0x3039)");
    // Width and flags of the directive are not used.
    EXPECT_EQ(Fmt("%#20Rrc|", -12345), "-12345|");
    // A value outside 16 bits is never found, even when its low half is a known code.
    EXPECT_EQ(Fmt("%Rrc", 0x10000 + ERR_FILE_NOT_FOUND), "65434");
    EXPECT_EQ(Fmt("%Rrc", -0x10000), "-65536");
    EXPECT_EQ(Fmt("%Rrc", INT32_MIN), "-2147483648");
}

TEST(FormatStatus, EveryCatalogueEntryFound)
{
    struct Row
    {
        int value;
        const char *name;
        const char *message;
    };
    static const Row rows[] = {
#define KELP_STATUS(value, name, message) { value, #name, message },
#include "kelp/errcodes.def"
#undef KELP_STATUS
    };
    for (const Row &r : rows)
    {
        EXPECT_EQ(Fmt("%Rrc", r.value), r.name);
        EXPECT_EQ(Fmt("%Rrs", r.value), r.message) << r.name;
    }
}

TEST(FormatStatus, WindowsErrors)
{
    struct Case
    {
        const char *format;
        uint32_t value;
        const char *expected;
    };
    static const Case cases[] = {
        { "%Rwa", 0, "ERROR_SUCCESS (0x0)" },
        { "%Rwc", 0, "ERROR_SUCCESS" },
        { "%Rwf", 0, "ERROR_SUCCESS" },
        { "%Rwc", 0x80070000, "ERROR_SUCCESS/0x80070000" },
        { "%Rwa", 0x80070000, "ERROR_SUCCESS (0x80070000)" },
        { "%Rwc", 5, "0x5" },
        { "%Rwa", 5, "Unknown Status 0x5" },
        { "%Rwc", 0x80080000, "0x80080000" },   // not a wrapped Win32 error
        { "%Rwc", 0x00010000, "0x10000" },      // low half 0 but no HRESULT facility
        { "%Rhrc", 0x80070000, "ERROR_SUCCESS/0x80070000" },
        { "%Rhra", 0, "ERROR_SUCCESS (0x0)" },
        { "%Rhrf", 0x80004005, "0x80004005" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(Fmt(c.format, c.value), c.expected) << c.format << " " << c.value;
}

TEST(FormatStatus, UnknownLetterStillTakesArgument)
{
    EXPECT_EQ(Fmt("[%Rwz]%d", 5, 6), "[]6");
    EXPECT_EQ(Fmt("[%Rrz]%d", 5, 6), "[]6");
    EXPECT_EQ(Fmt("[%Rhrq]%d", 5, 6), "[]6");
    EXPECT_EQ(Fmt("%Rrc %Rwc %d", ERR_NO_MEMORY, 5u, 7), "ERR_NO_MEMORY 0x5 7");
}

TEST(FormatStatus, PartsGoOutSeparately)
{
    EXPECT_EQ(Chunks("%Rra", ERR_FILE_NOT_FOUND),
              (V{ "ERR_FILE_NOT_FOUND", " (", "-102", ") - ", "file not found", "<end>" }));
}

} // namespace
