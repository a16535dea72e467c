#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "kelp/format.h"
#include "kelp/err.h"
#include "kelp/string.h"

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

std::string Hex(uint64_t v, int digits)
{
    char text[32];
    snprintf(text, sizeof(text), "%0*llx", digits, (unsigned long long)v);
    return text;
}

std::string BadPtrText(uintptr_t pointer, const char *marker)
{
    return "<" + Hex(pointer, (int)(2 * sizeof(void *))) + marker + ">";
}

size_t RecordOutput(void *arg, const char *chars, size_t count)
{
    std::vector<std::string> *chunks = (std::vector<std::string> *)arg;
    if (chars)
        chunks->push_back(std::string(chars, count));
    return count;
}

std::vector<std::string> Chunks(const char *format, ...)
{
    std::vector<std::string> chunks;
    va_list args;
    va_start(args, format);
    RTFmtEmitV(RecordOutput, &chunks, nullptr, nullptr, format, args);
    va_end(args);
    return chunks;
}

typedef std::vector<std::string> V;
int const kPtrDigits = (int)(2 * sizeof(void *));

TEST(FormatExtTypes, MaskedAndHexFixed)
{
    EXPECT_EQ(Fmt("%RKv|%d", 0x1234, 5), "XXXXXXXX|5");
    EXPECT_EQ(Fmt("%#RKv", 0x1234), "0xXXXXXXXX");
    EXPECT_EQ(Fmt("%RTnthrd", (void *)0x1234), Hex(0x1234, kPtrDigits));
    EXPECT_EQ(Fmt("%#RTnthrd", (void *)0x1234), "0x" + Hex(0x1234, kPtrDigits));

    struct Case
    {
        const char *format;
        uint32_t value;
        const char *expected;
    };
    static const Case cases[] = {
        { "%RTiop", 0x3f8, "03f8" },
        { "%RTsel", 0x1b, "001b" },
        { "%RTfmode", 0x81a4, "000081a4" },
        { "%#RTfmode", 0x81a4, "0x000081a4" },
        { "%4RTfmode", 0x81a4, "81a4" },      // a width replaces the default
        { "%6RTiop", 0x3f8, "0003f8" },
        { "%RTutf16", 0xe9, "00e9" },
        { "%RTunicp", 0x1f600, "0001f600" },
        { "%RCr", 0x11, "00000011" },
        { "%RHv", 0xabc, "00000abc" },
        { "%RRv", 0xfeed, "0000feed" },
        { "%RCi", (uint32_t)-5, "-5" },
        { "%RHi", (uint32_t)-6, "-6" },
        { "%RCu", 4294967295u, "4294967295" },
        { "%RCx", 0xab, "ab" },
        { "%RHx", 0xcd, "cd" },
        { "%RHu", 17, "17" },
        { "%RTint", (uint32_t)-7, "-7" },
        { "%RTuint", 4294967295u, "4294967295" },
        { "%RTxint", 0xbeef, "beef" },
        { "%RTgid", (uint32_t)-1, "-1" },
        { "%RTuid", 1000, "1000" },
        { "%RCv", 0x10, "00000010" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(Fmt(c.format, c.value), c.expected) << c.format;
}

TEST(FormatExtTypes, SixtyFourBitRows)
{
    struct Case
    {
        const char *format;
        uint64_t value;
        const char *expected;
    };
    static const Case cases[] = {
        { "%RCp", 0x1000, "0000000000001000" },
        { "%RGp", 0xfee00000ULL, "00000000fee00000" },
        { "%RGr", 1, "0000000000000001" },
        { "%RHp", 2, "0000000000000002" },
        { "%RGv", 0x123456789abcULL, "0000123456789abc" },
        { "%RTino", 0x42, "0000000000000042" },
        // Not pointer-sized: a 32-bit build takes eight bytes as well.
        { "%RTptr", 0xab, "00000000000000ab" },
        { "%RTptr", 0x123456789ULL, "0000000123456789" },
        { "%#RTptr", 0xab, "0x00000000000000ab" },
        { "%RGi", (uint64_t)-9, "-9" },
        { "%RGu", 18446744073709551615ULL, "18446744073709551615" },
        { "%RGx", 0x1ffffffffULL, "1ffffffff" },
        { "%RTfoff", (uint64_t)-1, "-1" },
        { "%'RTfoff", 1234567, "1 234 567" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(Fmt((std::string(c.format) + "|%d").c_str(), c.value, 5),
                  std::string(c.expected) + "|5")
            << c.format;
}

TEST(FormatExtTypes, FarPointers)
{
    RTFAR32 f32 = { 0xdeadbeef, 0x1b };
    RTFAR64 f64 = { 0x123456789abcdef0ULL, 0x33 };
    EXPECT_EQ(Fmt("%RTfp16|%d", 0x12345678u, 5), "1234:5678|5");
    EXPECT_EQ(Fmt("%RTfp16", 0x10002u), "0001:0002");
    EXPECT_EQ(Fmt("%RTfp32|%d", f32, 5), "001b:deadbeef|5");
    EXPECT_EQ(Fmt("%RTfp64|%d", f64, 5), "0033:123456789abcdef0|5");
    // Width, precision, thousands and '#' are dropped: always 9, 13 or 21 characters.
    EXPECT_EQ(Fmt("%#'30.2RTfp32", f32), "001b:deadbeef");
    EXPECT_EQ(Fmt("%-12RTfp16|", 0x1u), "0000:0001|");
}

struct Ipv6Case
{
    uint8_t bytes[16];
    const char *expected;
};

TEST(FormatExtTypes, Ipv6Text)
{
    static const Ipv6Case cases[] = {
        { {}, "::" },
        { { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 }, "::1" },
        { { 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 }, "2001:db8::1" },
        { { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 1 }, "::ffff:192.0.2.1" },
        { { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 192, 0, 2, 1 }, "::192.0.2.1" },
        { { 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 1, 2, 3, 4 }, "::ffff:0:1.2.3.4" },
        { { 0, 1, 0, 0, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7 }, "1:0:2:3:4:5:6:7" },
        // The longest run wins; of equal runs the first.
        { { 0xfe, 0x80, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1 }, "fe80:0:0:1::1" },
        { { 0, 1, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 3, 0, 4 }, "1::2:0:0:3:4" },
        { { 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 0, 0, 0 }, "1:2:3:4:5:6::" },
        { { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0 }, "::1:0:0" },
        { { 0xab, 0xcd, 0, 0x12, 0x0f, 0xff, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0 },
          "abcd:12:fff::1000" },
    };
    for (const Ipv6Case &c : cases)
        EXPECT_EQ(Fmt("%RTnaipv6", c.bytes), c.expected) << c.expected;
}

TEST(FormatExtTypes, Ipv4MacUuid)
{
    uint8_t const ip[4] = { 192, 0, 2, 1 };
    uint32_t ipValue;
    memcpy(&ipValue, ip, 4);
    EXPECT_EQ(Fmt("%RTnaipv4|%d", ipValue, 5), "192.0.2.1|5");

    uint8_t const mac[6] = { 0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e };
    EXPECT_EQ(Fmt("%RTmac", mac), "00:1a:2b:3c:4d:5e");

    uint8_t uuid[16];
    uint32_t const first = 0x12345678;
    uint16_t const second = 0x9abc, third = 0xdef0;
    memcpy(uuid, &first, 4);
    memcpy(uuid + 4, &second, 2);
    memcpy(uuid + 6, &third, 2);
    uint8_t const tail[8] = { 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef };
    memcpy(uuid + 8, tail, 8);
    EXPECT_EQ(Fmt("%RTuuid|%d", uuid, 5), "12345678-9abc-def0-0123-456789abcdef|5");
}

TEST(FormatExtTypes, NetworkAddresses)
{
    RTNETADDR v4 = {};
    v4.address[0] = 10;
    v4.address[3] = 1;
    v4.type = RTNETADDRTYPE_IPV4;
    v4.port = 8080;
    EXPECT_EQ(Fmt("%RTnaddr", &v4), "10.0.0.1:8080");
    v4.port = RTNETADDR_PORT_NONE;
    EXPECT_EQ(Fmt("%RTnaddr", &v4), "10.0.0.1");
    v4.port = 0;
    EXPECT_EQ(Fmt("%RTnaddr", &v4), "10.0.0.1:0");

    RTNETADDR v6 = {};
    v6.address[0] = 0x20;
    v6.address[1] = 0x01;
    v6.address[2] = 0x0d;
    v6.address[3] = 0xb8;
    v6.address[15] = 1;
    v6.type = RTNETADDRTYPE_IPV6;
    v6.port = 443;
    EXPECT_EQ(Fmt("%RTnaddr", &v6), "[2001:db8::1]:443");
    v6.port = RTNETADDR_PORT_NONE;
    EXPECT_EQ(Fmt("%RTnaddr", &v6), "2001:db8::1");

    RTNETADDR mac = {};
    uint8_t const m[6] = { 1, 2, 3, 4, 5, 0xff };
    memcpy(mac.address, m, 6);
    mac.type = RTNETADDRTYPE_MAC;
    mac.port = 99;
    EXPECT_EQ(Fmt("%RTnaddr", &mac), "01:02:03:04:05:ff");

    v4.type = 3;
    EXPECT_EQ(Fmt("%RTnaddr|%d", &v4, 5), "unsupported-netaddr-type=3|5");
}

TEST(FormatExtTypes, BadPointersOfAddressKinds)
{
    struct Case
    {
        const char *format;
        const char *marker;
    };
    static const Case cases[] = {
        { "%RTnaipv6", "!BadIPv6" },
        { "%RTmac", "!BadMac" },
        { "%RTnaddr", "!BadNetAddr" },
        { "%RTuuid", "!BadUuid" },
    };
    uintptr_t const high = UINTPTR_MAX - 0x20;
    for (const Case &c : cases)
    {
        std::string f = std::string(c.format) + "|%d";
        EXPECT_EQ(Fmt(f.c_str(), (void *)nullptr, 5), "<NULL>|5") << c.format;
        EXPECT_EQ(Fmt(f.c_str(), (void *)0x10, 5), BadPtrText(0x10, c.marker) + "|5");
        EXPECT_EQ(Fmt(f.c_str(), (void *)high, 5), BadPtrText(high, c.marker) + "|5");
        std::string padded = std::string("%8") + (c.format + 1);
        EXPECT_EQ(Fmt(padded.c_str(), (void *)nullptr), "  <NULL>") << padded;
    }
}

struct ErrInfo // the layout the loader fills
{
    uint32_t flags;
    int32_t status;
    uint32_t messageSize;
    const char *message;
};

TEST(FormatExtTypes, ErrorInfo)
{
    ErrInfo info = { 0xBABE0004, ERR_FILE_NOT_FOUND, 5, "boom" };
    EXPECT_EQ(Fmt("%RTeic|%d", &info, 5), "file not found: boom|5");
    EXPECT_EQ(Fmt("%#RTeic", &info), "file not found - boom");
    EXPECT_EQ(Fmt("%RTeim", &info), ": boom");
    info.messageSize = 2;
    EXPECT_EQ(Fmt("%RTeim", &info), ": bo");
    info.messageSize = 0;
    EXPECT_EQ(Fmt("%RTeic", &info), "file not found");
    EXPECT_EQ(Fmt("%RTeim|", &info), "|");
    info.status = -12345;
    EXPECT_EQ(Fmt("%RTeic", &info), "Unknown Status -12345 (0xffffcfc7)");
    info.flags = 0xBABE0000; // message flag clear
    EXPECT_EQ(Fmt("%RTeic|%d", &info, 5), "|5");
    info.flags = 0xBABF0004;
    EXPECT_EQ(Fmt("%RTeic|", &info), "|");
    EXPECT_EQ(Fmt("%RTeic|%d", (void *)nullptr, 5), "|5");
    EXPECT_EQ(Fmt("%RTeim|%d", (void *)0x20, 5), "|5");
}

TEST(FormatExtHexDump, SingleLine)
{
    uint8_t const bytes[20] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17 };
    EXPECT_EQ(Fmt("%.4Rhxs", bytes), "01 02 03 04");
    EXPECT_EQ(Fmt("%#.4Rhxs", bytes), "01020304");
    EXPECT_EQ(Fmt("%'.4Rhxs", bytes), "01:02:03:04");
    EXPECT_EQ(Fmt("%Rhxs", bytes), "01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10");
    EXPECT_EQ(Fmt("[%.0Rhxs]%d", bytes, 5), "[]5");
    EXPECT_EQ(Fmt("%.4Rhxs|%d", (void *)nullptr, 5), "<null>|5");
    EXPECT_EQ(Fmt("%.3RhXs|%d", bytes, 0x1000ULL, 5), "00001000: 01 02 03|5");
    EXPECT_EQ(Fmt("%.2RhXs", bytes, 0xfffffff0ULL), "fffffff0: 01 02");
    EXPECT_EQ(Fmt("%.16RhXs", bytes, 0xfffffff0ULL).substr(0, 18), "00000000fffffff0: ");
    EXPECT_EQ(Fmt("%.2RhXs", bytes, 0x123456789ULL), "0000000123456789: 01 02");
}

std::string Line(const std::string &address, const std::string &offset,
                 const std::vector<int> &bytes, size_t perLine)
{
    std::string s = address + "/" + offset + ":";
    for (size_t i = 0; i < perLine; i++)
    {
        if (i < bytes.size())
            s += (i && i % 8 == 0 ? "-" : " ") + Hex((uint64_t)bytes[i], 2);
        else
            s += "   ";
    }
    s += " ";
    for (int b : bytes)
        s += b >= 0x20 && b <= 0x7e ? (char)b : '.';
    return s;
}

TEST(FormatExtHexDump, Lines)
{
    const char abcd[] = "abcd";
    // Width 8, four bytes: four positions of three blanks, then one blank.
    EXPECT_EQ(Fmt("%8.4RhXd", abcd, 0x1000ULL),
              "00001000/0000: 61 62 63 64" + std::string(12, ' ') + " abcd");
    // The address shown with x is the pointer itself.
    uint64_t const a = (uint64_t)(uintptr_t)abcd;
    int const digits = a + 4 > 0xffffffffULL ? 16 : 8;
    EXPECT_EQ(Fmt("%8.4Rhxd", abcd), Hex(a, digits) + "/0000: 61 62 63 64" + std::string(12, ' ')
                                         + " abcd");

    uint8_t data[40];
    for (int i = 0; i < 40; i++)
        data[i] = (uint8_t)(0x3c + i);
    std::vector<int> l0(data, data + 16), l1(data + 16, data + 17);
    // Exactly one line at 16 bytes; the 17th byte starts a second line.
    EXPECT_EQ(Fmt("%.16RhXd", data, 0x2000ULL), Line("00002000", "0000", l0, 16));
    EXPECT_EQ(Fmt("%.17RhXd|%d", data, 0x2000ULL, 5),
              Line("00002000", "0000", l0, 16) + "\n" + Line("00002010", "0010", l1, 16) + "|5");
    // Bytes outside 0x20-0x7e show as '.'.
    uint8_t const odd[3] = { 0x1f, 0x7f, 0x20 };
    EXPECT_EQ(Fmt("%3.3RhXd", odd, 0ULL), "00000000/0000: 1f 7f 20 .. ");
}

TEST(FormatExtHexDump, FoldedRepeats)
{
    uint8_t zeros[80] = {};
    std::vector<int> z(16, 0);
    std::string const l00 = Line("00000000", "0000", z, 16);
    EXPECT_EQ(Fmt("%.64RhXD", zeros, 0ULL),
              l00 + "\n******** ****  <ditto x 2>\n" + Line("00000030", "0030", z, 16));
    // A single repeated line is printed normally.
    EXPECT_EQ(Fmt("%.48RhXD", zeros, 0ULL), l00 + "\n" + Line("00000010", "0010", z, 16) + "\n"
                                                + Line("00000020", "0020", z, 16));
    // 'd' never folds.
    EXPECT_EQ(Fmt("%.64RhXd", zeros, 0ULL).find("ditto"), std::string::npos);

    // A different line ends the fold; the stars follow the address width.
    uint8_t mixed[96] = {};
    mixed[64] = 1;
    std::vector<int> one(16, 0);
    one[0] = 1;
    EXPECT_EQ(Fmt("%.96RhXD", mixed, 0x100000000ULL),
              Line("0000000100000000", "0000", z, 16)
                  + "\n**************** ****  <ditto x 3>\n"
                  + Line("0000000100000040", "0040", one, 16) + "\n"
                  + Line("0000000100000050", "0050", z, 16));
}

TEST(FormatExtHexDump, ArgumentsTakenBeforeStyleLetter)
{
    uint8_t const bytes[4] = { 1, 2, 3, 4 };
    EXPECT_EQ(Fmt("[%.4Rhxq]%d", bytes, 5), "[]5");
    EXPECT_EQ(Fmt("[%.4RhXq]%d", bytes, 0x10ULL, 5), "[]5");
}

struct SizeCase
{
    const char *format;
    uint64_t value;
    const char *expected;
};

TEST(FormatExtSizes, Table)
{
    static const SizeCase cases[] = {
        { "%Rhcb", 1536, "1.5KiB" },
        { "% Rhcb", 1536, "1.5 KiB" },
        { "%Rhci", 1536, "1.5kB" },
        { "%RhcB", 1536, "1.5KB" },
        { "%.0Rhcb", 1536, "1536B" },
        { "%Rhui", 1999, "2.0k" },
        { "%Rhub", 1536, "1.5Ki" },
        { "%Rhcb", 0, "0B" },
        { "% Rhcb", 5, "5 B" },
        { "%Rhub", 1023, "1023" },
        { "%Rhcb", 1024, "1.0KiB" },     // with fraction digits a unit counts from its size
        { "%.0Rhcb", 2047, "2047B" },    // without, from twice its size
        { "%.0Rhcb", 2048, "2KiB" },
        { "%Rhci", 999, "999B" },
        { "%Rhci", 1000, "1.0kB" },
        { "%.0Rhci", 1009, "1009B" },    // decimal units from 1.01 times their size
        { "%.0Rhci", 1010, "1kB" },
        { "%.0Rhci", 1500, "2kB" },      // rounded half up
        { "%.0Rhci", 1499, "1kB" },
        { "%.3Rhci", 999999, "999.999kB" },
        { "%.2Rhci", 999999, "1000.00kB" },
        { "%.5Rhcb", 1536, "1.500KiB" }, // precision is cut to 3
        { "%.2Rhcb", 1048576 + 1048576 / 3, "1.33MiB" },
        { "%Rhcb", 18446744073709551615ULL, "15.9EiB" },
        { "%.3Rhcb", 18446744073709551615ULL, "15.999EiB" },
        { "%.3RhcB", 1152921504606846976ULL * 3 / 2, "1.500EB" },
        { "%Rhci", 18446744073709551615ULL, "18.4EB" },
        { "%.3Rhci", 18446744073709551615ULL, "18.447EB" },
        { "%Rhci", 1000000000000ULL, "1.0TB" },
        { "%Rhcb", 1099511627776ULL * 5, "5.0TiB" },
        { "%8Rhcb", 1536, "  1.5KiB" },
        { "%08Rhcb", 1536, "001.5KiB" },
        { "%-8Rhcb|", 1536, "1.5KiB|" },
    };
    for (const SizeCase &c : cases)
        EXPECT_EQ(Fmt(c.format, c.value), c.expected) << c.format << " " << c.value;
}

TEST(FormatExtSizes, UnknownFormTakesNoArgument)
{
    EXPECT_EQ(Fmt("[%Rhcz]%d", 5), "[cz]5");
    EXPECT_EQ(Fmt("[%Rhq]%d", 5), "[q]5");
}

TEST(FormatExtNames, BaseName)
{
    struct Case
    {
        const char *path;
        const char *expected;
    };
    static const Case cases[] = {
        { "C:\\dir\\file.txt", "file.txt" },
        { "a/b/", "b/" },
        { "a//b", "b" },
        { "C:", "C:" },
        { "C:x", "x" },
        { "/", "/" },
        { "file", "file" },
        { "", "" },
        { "dir\\/:name", "name" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(Fmt("%Rbn|%d", c.path, 5), std::string(c.expected) + "|5") << c.path;
    EXPECT_EQ(Fmt("%Rbn", (const char *)0x10), BadPtrText(0x10, "!BadBaseName"));
    EXPECT_EQ(Fmt("[%Rbq]%d", 5), "[q]5");
}

TEST(FormatExtNames, BigEndianUtf16)
{
    // "Hé" and U+1F600 stored big-endian.
    const uint8_t be[] = { 0, 'H', 0, 0xe9, 0xd8, 0x3d, 0xde, 0x00, 0, 0 };
    RTUTF16 units[5];
    memcpy(units, be, sizeof(be));
    EXPECT_EQ(Fmt("%.10lRbs", units), "H\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(Fmt("%.1lRbs|", units), "H|");
    EXPECT_EQ(Fmt("%5.2lRbs|", units), "   H\xc3\xa9|");
    EXPECT_EQ(Fmt("%-4.2lRbs|", units), "H\xc3\xa9  |");
    // A pair cut by the precision: the unit after it is not pulled in.
    EXPECT_EQ(Fmt("%.3lRbs|", units), "H\xc3\xa9|");
    // No precision: nothing, but the argument is taken.
    EXPECT_EQ(Fmt("[%lRbs]%d", units, 5), "[]5");
    EXPECT_EQ(Fmt("%.4lRbs", (RTUTF16 *)nullptr), "<NULL>");
    // Without the l prefix nothing is taken.
    EXPECT_EQ(Fmt("[%Rbs]%d", 5), "[s]5");
}

TEST(FormatExtNames, FunctionName)
{
    struct Case
    {
        const char *signature;
        const char *expected;
    };
    static const Case cases[] = {
        { "int Class<int, char>::method(void *pv)", "Class<int, char>::method" },
        { "void foo(void)", "foo" },
        { "main", "main" },
        { "  lead", "lead" },
        { "int __cdecl rtldrNativeLoad(const char *,unsigned int *)", "rtldrNativeLoad" },
        { "static int f", "f" },
        { "trailing ", "trailing " },
        { "std::map<int, std::pair<a, b> > make(x)", "make" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(Fmt("%Rfn|%d", c.signature, 5), std::string(c.expected) + "|5") << c.signature;
    EXPECT_EQ(Fmt("%Rfn", (const char *)0x30), BadPtrText(0x30, "!BadFnNm"));
    EXPECT_EQ(Fmt("[%Rfx]%d", 5), "[x]5");
}

TEST(FormatExtEscape, Json)
{
    EXPECT_EQ(Fmt("%RMjs", "a\"b\\c\b\f\n\t\r\x01\x1f\xc3\xa9/"),
              "\"a\\\"b\\\\c\\b\\f\\n\\t\\u000d\\u0001\\u001f\xc3\xa9/\"");
    EXPECT_EQ(Fmt("%6RMjs", "ab"), "\"    ab\"");
    EXPECT_EQ(Fmt("%-6RMjs", "ab"), "\"ab    \"");
    EXPECT_EQ(Fmt("%.2RMjs", "abc"), "\"ab\"");
    EXPECT_EQ(Fmt("%RMjs", (const char *)nullptr), "\"<NULL>\"");
    EXPECT_EQ(Chunks("%RMjs", "ab\ncd"), (V{ "\"", "ab", "\\n", "cd", "\"" }));
}

TEST(FormatExtEscape, Xml)
{
    EXPECT_EQ(Fmt("%RMas", "<>&\"'\n\rx"), "\"&lt;&gt;&amp;&quot;'&#xA;&#xD;x\"");
    EXPECT_EQ(Fmt("%RMes", "<>&\"'\n\rx"), "&lt;&gt;&amp;&quot;&apos;\n\rx");
    EXPECT_EQ(Fmt("%5RMas", "a"), "\"    a\"");
    EXPECT_EQ(Fmt("%-3RMes|", "a"), "a  |");
    EXPECT_EQ(Fmt("[%RMex]%d", 5), "[ex]5");
}

TEST(FormatExtEscape, Url)
{
    const char *text = "a b/c+d~-._!\xc3\xa9";
    EXPECT_EQ(Fmt("%RMpp", text), "a%20b/c%2Bd~-._%21%C3%A9");
    EXPECT_EQ(Fmt("%RMpq", text), "a%20b%2Fc+d~-._%21%C3%A9");
    EXPECT_EQ(Fmt("%RMpa", text), "a%20b%2Fc%2Bd~-._%21%C3%A9");
    EXPECT_EQ(Fmt("%RMpf", text), "a+b%2Fc%2Bd~-._%21%C3%A9");
    EXPECT_EQ(Fmt("%5RMpa", "ab"), "%20%20%20ab");
    EXPECT_EQ(Fmt("%-5RMpa", "ab"), "ab%20%20%20");
    EXPECT_EQ(Fmt("%RMpa", (const char *)nullptr), "%3CNULL%3E");
    // The argument is taken before the form letter is checked.
    EXPECT_EQ(Fmt("[%RMpz]%d", "x", 5), "[]5");
}

TEST(FormatExtMisc, TimeSpan)
{
    int64_t span = 1500000000;
    EXPECT_EQ(Fmt("%RDtimespec|%d", &span, 5), "1 500 000 000 ns|5");
    span = -1500;
    EXPECT_EQ(Fmt("%RDtimespec", &span), "-1 500 ns");
    EXPECT_EQ(Fmt("%RDtimespec", (int64_t *)0x10), BadPtrText(0x10, "!BadRD"));
    EXPECT_EQ(Fmt("[%RDtime]%d", 5), "[time]5");
}

TEST(FormatExtMisc, ControlRegisters)
{
    struct Case
    {
        const char *format;
        uint64_t value;
        const char *expected;
    };
    static const Case cases[] = {
        { "%RAx86[cr0]", 0x80050033, "80050033{PE,MP,ET,NE,WP,AM,PG}" },
        { "%RAx86[cr4]", 0x3406F8,
          "003406f8{DE,PSE,PAE,MCE,PGE,OSFXSR,OSXMMEEXCPT,OSXSAVE,SMEP,SMAP}" },
        { "%RAx86[cr0]", 0, "00000000" },
        { "%RAx86[cr0]", 0x8, "00000008{TS}" },
        { "%RAx86[cr0]", 0x40, "00000040{unkn=40}" },
        { "%RAx86[cr0]", 0x100000001ULL, "100000001{PE,unkn=100000000}" },
        { "%RAx86[cr4]", 0x2000, "00002000{VMXE}" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(Fmt((std::string(c.format) + "|%d").c_str(), c.value, 5),
                  std::string(c.expected) + "|5")
            << c.format << " " << c.value;
    EXPECT_EQ(Fmt("[%RAx64[cr0]]%d", 5), "[x64[cr0]]5");
    EXPECT_EQ(Fmt("[%RAx86[cr3]]%d", 5), "[x86[cr3]]5");
}

TEST(FormatExtMisc, CustomTypes)
{
    EXPECT_EQ(Fmt("%R[foo]%d", (void *)0x1, 5), "<missing:%R[foo]>5");
    EXPECT_EQ(Fmt("%R[]%d", (void *)0x1, 5), "<missing:%R[]>5");
    // A name cut by '%', '[' or the end: nothing printed, the scan goes on after "R[".
    EXPECT_EQ(Fmt("%R[fo%d", (void *)0x1, 5), "fo5");
    EXPECT_EQ(Fmt("%R[a[b]|%d", (void *)0x1, 5), "a[b]|5");
    EXPECT_EQ(Fmt("x%R[ab", (void *)0x1), "xab");
}

TEST(FormatExtMisc, KnownDirectivesAfterUnknownOnesStayAligned)
{
    uint8_t const bytes[2] = { 0xaa, 0xbb };
    int64_t span = 2000;
    EXPECT_EQ(Fmt("%RX33 %RU32 %Rhcz %.2Rhxq %RMpz %RDtimespec %R[x] %Rrz %RTnaipv4 %d", 7u,
                  bytes, "u", &span, (void *)0, -1, 0x0100007fu, 9),
              "33 7 cz   2 000 ns <missing:%R[x]>  127.0.0.1 9");
}

} // namespace
