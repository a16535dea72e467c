#include <gtest/gtest.h>
#include <cstring>
#include "kelp/err.h"
#include "kelp/number.h"

namespace
{

constexpr uint32_t kDetect = 0;

TEST(NumU64Prefix, BasesSignsOverflowAndWhatFollows)
{
    struct Case
    {
        const char *text;
        uint32_t baseAndLimit;
        int rc;
        uint64_t value;
        size_t end; // offset of the end position
    } const cases[] = {
        { "0", kDetect, 0, 0, 1 },
        { "123", kDetect, 0, 123, 3 },
        { "0x1F", kDetect, 0, 31, 4 },
        { "0X1f", kDetect, 0, 31, 4 },
        { "0x", kDetect, WRN_TRAILING_TEXT, 0, 1 },  // 'x' not consumed
        { "0xg", kDetect, WRN_TRAILING_TEXT, 0, 1 },
        { "017", kDetect, 0, 15, 3 },
        { "019", kDetect, WRN_TRAILING_TEXT, 1, 2 }, // octal: stops at the 9
        { "09", kDetect, 0, 9, 2 },
        { "1f", 16, 0, 31, 2 },
        { "0x1f", 16, 0, 31, 4 },
        { "0x1f", 10, WRN_TRAILING_TEXT, 0, 1 },
        { "z", 36, ERR_NUMBER_NO_DIGITS, 0, 0 }, // 36 means detect: decimal
        { "zZ", 35, ERR_NUMBER_NO_DIGITS, 0, 0 },
        { "yY", 35, 0, 34 * 35 + 34, 2 },
        { "101", 2, 0, 5, 3 },
        { "102", 2, WRN_TRAILING_TEXT, 2, 2 },
        { "18446744073709551615", kDetect, 0, UINT64_MAX, 20 },
        { "18446744073709551616", kDetect, WRN_NUMBER_OVERFLOW, 0, 20 },
        { "21000000000000000000", kDetect, WRN_NUMBER_OVERFLOW, UINT64_C(2553255926290448384), 20 },
        { "0x10000000000000000", kDetect, WRN_NUMBER_OVERFLOW, 0, 19 },
        { "-1", kDetect, WRN_NUMBER_NEGATIVE, UINT64_MAX, 2 },
        { "-0", kDetect, WRN_NUMBER_NEGATIVE, 0, 2 },
        { "--5", kDetect, 0, 5, 3 },
        { "-+5", kDetect, 0, 5, 3 },
        { "+-5", kDetect, WRN_NUMBER_NEGATIVE, UINT64_MAX - 4, 3 },
        { "-5 ", kDetect, WRN_NUMBER_NEGATIVE, UINT64_MAX - 4, 2 }, // no trailing check after a warning
        { "+", kDetect, ERR_NUMBER_NO_DIGITS, 0, 1 },
        { "-", kDetect, ERR_NUMBER_NO_DIGITS, 0, 1 },
        { "", kDetect, ERR_NUMBER_NO_DIGITS, 0, 0 },
        { " 12", kDetect, ERR_NUMBER_NO_DIGITS, 0, 0 },
        { "12 ", kDetect, WRN_TRAILING_BLANKS, 12, 2 },
        { "12 \t ", kDetect, WRN_TRAILING_BLANKS, 12, 2 },
        { "12 x", kDetect, WRN_TRAILING_TEXT, 12, 2 },
        { "12x", kDetect, WRN_TRAILING_TEXT, 12, 2 },
        { "12\n", kDetect, WRN_TRAILING_TEXT, 12, 2 },
        { "\xC2\xB2", kDetect, ERR_NUMBER_NO_DIGITS, 0, 0 },
        // Limits: the number is cut off, what follows does not matter.
        { "1234", RTStrBaseAndLimit(10, 2), 0, 12, 2 },
        { "12x", RTStrBaseAndLimit(10, 2), 0, 12, 2 },
        { "12 x", RTStrBaseAndLimit(10, 3), WRN_TRAILING_BLANKS, 12, 2 },
        { "12 x", RTStrBaseAndLimit(10, 4), WRN_TRAILING_TEXT, 12, 2 },
        { "-12", RTStrBaseAndLimit(10, 1), ERR_NUMBER_NO_DIGITS, 0, 1 },
        { "0x1F", RTStrBaseAndLimit(0, 3), 0, 1, 3 },
        { "0x1F", RTStrBaseAndLimit(0, 1), 0, 0, 1 }, // prefix not within the limit
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << "'" << c.text << "' base/limit " << c.baseAndLimit);
        uint64_t v = 0xDEAD;
        const char *end = nullptr;
        EXPECT_EQ(RTStrToU64Prefix(c.text, &end, c.baseAndLimit, &v), c.rc);
        EXPECT_EQ(v, c.value);
        EXPECT_EQ(end, c.text + c.end);
        // Null outputs are allowed and do not change the status.
        EXPECT_EQ(RTStrToU64Prefix(c.text, nullptr, c.baseAndLimit, nullptr), c.rc);
    }
}

TEST(NumI64Prefix, SignedLimits)
{
    struct Case
    {
        const char *text;
        int rc;
        int64_t value;
    } const cases[] = {
        { "-9223372036854775808", 0, INT64_MIN },
        { "9223372036854775807", 0, INT64_MAX },
        { "9223372036854775808", WRN_NUMBER_OVERFLOW, INT64_MIN },
        { "-9223372036854775809", WRN_NUMBER_OVERFLOW, INT64_MAX },
        { "18446744073709551615", WRN_NUMBER_OVERFLOW, -1 },
        { "-18446744073709551615", WRN_NUMBER_OVERFLOW, 1 },
        { "-0x10", 0, -16 },
        { "-0", 0, 0 },          // no negative warning for signed conversion
        { "-12 ", WRN_TRAILING_BLANKS, -12 },
        { "-12;", WRN_TRAILING_TEXT, -12 },
        { "-", ERR_NUMBER_NO_DIGITS, 0 },
        { "-9223372036854775808 ", WRN_TRAILING_BLANKS, INT64_MIN },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.text);
        int64_t v = 0x5A5A;
        EXPECT_EQ(RTStrToI64Prefix(c.text, nullptr, kDetect, &v), c.rc);
        EXPECT_EQ(v, c.value);
    }
}

TEST(NumWhole, TrailingCharactersBecomeErrors)
{
    struct Case
    {
        const char *text;
        uint32_t baseAndLimit;
        int rcUnsigned;
        int rcSigned;
        int64_t value;
    } const cases[] = {
        { "12", kDetect, 0, 0, 12 },
        { "12 ", kDetect, ERR_TRAILING_BLANKS, ERR_TRAILING_BLANKS, 12 },
        { "12x", kDetect, ERR_TRAILING_TEXT, ERR_TRAILING_TEXT, 12 },
        { "019", kDetect, ERR_TRAILING_TEXT, ERR_TRAILING_TEXT, 1 },
        { " 12", kDetect, ERR_NUMBER_NO_DIGITS, ERR_NUMBER_NO_DIGITS, 0 },
        { "-1", kDetect, WRN_NUMBER_NEGATIVE, 0, -1 },
        { "18446744073709551616", kDetect, WRN_NUMBER_OVERFLOW, WRN_NUMBER_OVERFLOW, 0 },
        // A warning with characters after the number.
        { "-1 ", kDetect, ERR_TRAILING_BLANKS, ERR_TRAILING_BLANKS, -1 },
        { "-1x", kDetect, ERR_TRAILING_TEXT, ERR_TRAILING_TEXT, -1 },
        { "99999999999999999999 ", kDetect, ERR_TRAILING_BLANKS, ERR_TRAILING_BLANKS, 0x6BC75E2D630FFFFF },
        { "99999999999999999999 z", kDetect, ERR_TRAILING_TEXT, ERR_TRAILING_TEXT, 0x6BC75E2D630FFFFF },
        // With a limit.
        { "1234", RTStrBaseAndLimit(10, 2), 0, 0, 12 },
        { "-1x", RTStrBaseAndLimit(10, 2), WRN_NUMBER_NEGATIVE, 0, -1 },
        { "-1 x", RTStrBaseAndLimit(10, 3), ERR_TRAILING_BLANKS, ERR_TRAILING_BLANKS, -1 },
        { "-1 x", RTStrBaseAndLimit(10, 4), ERR_TRAILING_TEXT, ERR_TRAILING_TEXT, -1 },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << "'" << c.text << "' base/limit " << c.baseAndLimit);
        uint64_t u = 0xDEAD;
        EXPECT_EQ(RTStrToU64Whole(c.text, c.baseAndLimit, &u), c.rcUnsigned);
        EXPECT_EQ(u, (uint64_t)c.value);
        int64_t s = 0xDEAD;
        EXPECT_EQ(RTStrToI64Whole(c.text, c.baseAndLimit, &s), c.rcSigned);
        EXPECT_EQ(s, c.value);
    }
}

TEST(NumNarrow, RangeChecksKeepLowBits)
{
    struct UCase
    {
        const char *text;
        int rc8, rc16, rc32;
        uint32_t value32; // low bits written in every case
    } const ucases[] = {
        { "255", 0, 0, 0, 255 },
        { "256", WRN_NUMBER_OVERFLOW, 0, 0, 256 },
        { "65536", WRN_NUMBER_OVERFLOW, WRN_NUMBER_OVERFLOW, 0, 65536 },
        { "4294967296", WRN_NUMBER_OVERFLOW, WRN_NUMBER_OVERFLOW, WRN_NUMBER_OVERFLOW, 0 },
        { "-1", WRN_NUMBER_OVERFLOW, WRN_NUMBER_OVERFLOW, WRN_NUMBER_OVERFLOW, 0xFFFFFFFF },
        { "-0", WRN_NUMBER_NEGATIVE, WRN_NUMBER_NEGATIVE, WRN_NUMBER_NEGATIVE, 0 },
        { "256 ", ERR_TRAILING_BLANKS, ERR_TRAILING_BLANKS, ERR_TRAILING_BLANKS, 256 },
        { "x", ERR_NUMBER_NO_DIGITS, ERR_NUMBER_NO_DIGITS, ERR_NUMBER_NO_DIGITS, 0 },
    };
    for (const UCase &c : ucases)
    {
        SCOPED_TRACE(c.text);
        uint8_t v8 = 0x5A;
        uint16_t v16 = 0x5A;
        uint32_t v32 = 0x5A;
        EXPECT_EQ(RTStrToU8Whole(c.text, 0, &v8), c.rc8);
        EXPECT_EQ(RTStrToU16Whole(c.text, 0, &v16), c.rc16);
        EXPECT_EQ(RTStrToU32Whole(c.text, 0, &v32), c.rc32);
        EXPECT_EQ(v8, (uint8_t)c.value32);
        EXPECT_EQ(v16, (uint16_t)c.value32);
        EXPECT_EQ(v32, c.value32);
    }

    struct SCase
    {
        const char *text;
        int rc8, rc16, rc32;
        int32_t value32;
    } const scases[] = {
        { "127", 0, 0, 0, 127 },
        { "-128", 0, 0, 0, -128 },
        { "128", WRN_NUMBER_OVERFLOW, 0, 0, 128 },
        { "-129", WRN_NUMBER_OVERFLOW, 0, 0, -129 },
        { "-32769", WRN_NUMBER_OVERFLOW, WRN_NUMBER_OVERFLOW, 0, -32769 },
        { "2147483648", WRN_NUMBER_OVERFLOW, WRN_NUMBER_OVERFLOW, WRN_NUMBER_OVERFLOW, INT32_MIN },
        { "-2147483648", WRN_NUMBER_OVERFLOW, WRN_NUMBER_OVERFLOW, 0, INT32_MIN },
    };
    for (const SCase &c : scases)
    {
        SCOPED_TRACE(c.text);
        int8_t v8 = 0x5A;
        int16_t v16 = 0x5A;
        int32_t v32 = 0x5A;
        EXPECT_EQ(RTStrToI8Whole(c.text, 0, &v8), c.rc8);
        EXPECT_EQ(RTStrToI16Whole(c.text, 0, &v16), c.rc16);
        EXPECT_EQ(RTStrToI32Whole(c.text, 0, &v32), c.rc32);
        EXPECT_EQ(v8, (int8_t)c.value32);
        EXPECT_EQ(v16, (int16_t)c.value32);
        EXPECT_EQ(v32, c.value32);
    }

    // Prefix variants: overflow replaces the trailing-text warning.
    uint8_t b = 0;
    const char *end = nullptr;
    const char *text = "300.1";
    EXPECT_EQ(RTStrToU8Prefix(text, &end, 10, &b), WRN_NUMBER_OVERFLOW);
    EXPECT_EQ(b, 300 & 0xFF);
    EXPECT_EQ(end, text + 3);
    uint32_t w = 0;
    EXPECT_EQ(RTStrToU32Prefix("0xFFFFFFFF:", &end, 0, &w), WRN_TRAILING_TEXT);
    EXPECT_EQ(w, 0xFFFFFFFFu);
    EXPECT_EQ(RTStrToU32Prefix("0x100000000", &end, 0, &w), WRN_NUMBER_OVERFLOW);
    EXPECT_EQ(w, 0u);
}

TEST(NumLenient, LowBitsOrZero)
{
    EXPECT_EQ(RTStrToI64Lenient("42"), 42);
    EXPECT_EQ(RTStrToI64Lenient("0x10 and more"), 16);
    EXPECT_EQ(RTStrToI64Lenient("-7"), -7);
    EXPECT_EQ(RTStrToI64Lenient("0x100000005"), 5);
    EXPECT_EQ(RTStrToI64Lenient("abc"), 0);
}

TEST(NumIPv4, ScanAndParse)
{
    struct Case
    {
        const char *text;
        int scanRc;
        int parseRc;
        uint8_t bytes[4];
    } const cases[] = {
        { "10.0.0.1", 0, 0, { 10, 0, 0, 1 } },
        { "192.168.1.255", 0, 0, { 192, 168, 1, 255 } },
        { "10.0.0.1 ", WRN_TRAILING_BLANKS, 0, { 10, 0, 0, 1 } },
        { "10.0.0.1x", WRN_TRAILING_TEXT, ERR_BAD_ARGUMENT, { 10, 0, 0, 1 } },
        { "10.0.0.1.5", WRN_TRAILING_TEXT, ERR_BAD_ARGUMENT, { 10, 0, 0, 1 } },
        { "10.0.0", ERR_BAD_ARGUMENT, ERR_BAD_ARGUMENT, {} },
        { "256.0.0.1", ERR_BAD_ARGUMENT, ERR_BAD_ARGUMENT, {} },
        { "1.2.3.256", ERR_BAD_ARGUMENT, ERR_BAD_ARGUMENT, {} },
        { "1..3.4", ERR_BAD_ARGUMENT, ERR_BAD_ARGUMENT, {} },
        { "1 .2.3.4", ERR_BAD_ARGUMENT, ERR_BAD_ARGUMENT, {} },
        { "", ERR_BAD_ARGUMENT, ERR_BAD_ARGUMENT, {} },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.text);
        RTNETADDRIPV4 a = { { 0xEE, 0xEE, 0xEE, 0xEE } };
        const char *end = nullptr;
        EXPECT_EQ(RTNetScanIPv4(c.text, &a, &end), c.scanRc);
        if (c.scanRc >= 0)
            EXPECT_EQ(memcmp(a.bytes, c.bytes, 4), 0);
        RTNETADDRIPV4 b = { { 0xEE, 0xEE, 0xEE, 0xEE } };
        EXPECT_EQ(RTNetParseIPv4(c.text, &b), c.parseRc);
        if (c.parseRc == 0)
            EXPECT_EQ(memcmp(b.bytes, c.bytes, 4), 0);
    }

    RTNETADDRIPV4 a;
    EXPECT_EQ(RTNetParseIPv4(" \t10.0.0.1 ", &a), 0);
    EXPECT_EQ(RTNetParseIPv4(nullptr, &a), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTNetParseIPv4("1.2.3.4", nullptr), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTNetScanIPv4(nullptr, &a, nullptr), ERR_BAD_ARGUMENT);
    const char *text = "1.2.3.4:80";
    const char *end = nullptr;
    EXPECT_EQ(RTNetScanIPv4(text, &a, &end), WRN_TRAILING_TEXT);
    EXPECT_EQ(end, text + 7);
}

TEST(NumIPv4Cidr, NetworksAndMasks)
{
    struct Case
    {
        const char *text;
        int rc;
        uint32_t address;
        uint32_t mask;
    } const cases[] = {
        { "10.1.0.0/16", 0, 0x0A010000, 0xFFFF0000 },
        { "10.1/16", 0, 0x0A010000, 0xFFFF0000 },
        { "10/8", 0, 0x0A000000, 0xFF000000 },
        { "192.168.1.0/24", 0, 0xC0A80100, 0xFFFFFF00 },
        { "1.2.3.4", 0, 0x01020304, 0xFFFFFFFF },
        { "1.2.3.4/32", 0, 0x01020304, 0xFFFFFFFF },
        { "0.0.0.0/0", 0, 0, 0 },
        { "0.0.0.0/8", 0, 0, 0xFF000000 },
        { "0.0.0.0", ERR_BAD_ARGUMENT },
        { "0.1.0.0/16", ERR_BAD_ARGUMENT },
        { "10/16", ERR_BAD_ARGUMENT },
        { "10.0.0.0/0", ERR_BAD_ARGUMENT },
        { "10.1.2.3/24", ERR_BAD_ARGUMENT },
        { "1.2.3.4/33", ERR_BAD_ARGUMENT },
        { "1.2.3.4/", ERR_BAD_ARGUMENT },
        { "1.2.3.4/24 ", ERR_BAD_ARGUMENT },
        { "1.2.3.0/24x", ERR_BAD_ARGUMENT },
        { "1.2.3.4.5", ERR_BAD_ARGUMENT },
        { "1.2.3.256", ERR_BAD_ARGUMENT },
        { "1.2.3.4 /32", ERR_BAD_ARGUMENT },
        { "", ERR_BAD_ARGUMENT },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.text);
        uint32_t address = 0xEEEEEEEE, mask = 0xEEEEEEEE;
        EXPECT_EQ(RTNetParseIPv4Cidr(c.text, &address, &mask), c.rc);
        if (c.rc == 0)
        {
            EXPECT_EQ(address, c.address);
            EXPECT_EQ(mask, c.mask);
        }
        else
        {
            // Outputs are written only on success.
            EXPECT_EQ(address, 0xEEEEEEEEu);
            EXPECT_EQ(mask, 0xEEEEEEEEu);
        }
    }
    uint32_t a, m;
    EXPECT_EQ(RTNetParseIPv4Cidr(nullptr, &a, &m), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTNetParseIPv4Cidr("10/8", nullptr, &m), ERR_BAD_ARGUMENT);
}

TEST(NumMac, ColonAndCompactForms)
{
    struct Case
    {
        const char *text;
        int rc;
        uint8_t bytes[6];
    } const cases[] = {
        { "00:1a:2B:3c:4d:5e", 0, { 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E } },
        { "0:1a:2b::4d:5e", 0, { 0x00, 0x1A, 0x2B, 0x00, 0x4D, 0x5E } },
        { "  0:1:2:3:4:5 \t", 0, { 0, 1, 2, 3, 4, 5 } },
        { "001A2B3C4D5E", 0, { 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E } },
        { "001A2B3C4D5E \n", 0, { 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E } },
        { "00-1a-2b-3c-4d-5e", ERR_BAD_ARGUMENT },
        { "aa:bb:cc:dd:ee:fff", ERR_BAD_ARGUMENT },
        { "aa:bb:cc:dd:ee:ffzz", ERR_BAD_ARGUMENT },
        { "aa:bb:cc:dd:ee", ERR_BAD_ARGUMENT },
        { "aa:bb:cc:dd:ee:", ERR_NUMBER_NO_DIGITS },
        { "aa:bb:cc:dd:ee:ff:00", ERR_BAD_ARGUMENT },
        { ":bb:cc:dd:ee:ff", ERR_BAD_ARGUMENT },
        { "aa:1bb:cc:dd:ee:ff", ERR_BAD_ARGUMENT },
        { "001A2B3C4D5", ERR_BAD_ARGUMENT },
        { "001A2B3C4D5E6", ERR_BAD_ARGUMENT },
        { "001A2B3C4D5Ex", ERR_BAD_ARGUMENT },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.text);
        RTMAC mac;
        memset(&mac, 0xEE, sizeof(mac));
        EXPECT_EQ(RTNetParseMac(c.text, &mac), c.rc);
        if (c.rc == 0)
            EXPECT_EQ(memcmp(mac.bytes, c.bytes, 6), 0);
    }
}

TEST(NumHexToBytes, PairsCountsAndFlags)
{
    struct Case
    {
        const char *text;
        size_t count;
        uint32_t flags;
        int rc;          // 1 stands for "some positive status"
        const char *bytes;
        size_t written;
    } const cases[] = {
        { "00ff7A", 3, 0, 0, "\x00\xFF\x7A", 3 },
        { "00ff7A", 2, 0, ERR_BUFFER_OVERFLOW, "\x00\xFF", 2 },
        { "00ff7A", 4, 0, ERR_HEX_TOO_SHORT, "\x00\xFF\x7A", 3 },
        { "00f", 2, 0, ERR_HEX_ODD_DIGITS, "\x00", 1 },
        { "00ff ", 2, 0, 1, "\x00\xFF", 2 },
        { "00 ff", 2, 0, ERR_HEX_TOO_SHORT, "\x00", 1 },
        { "", 1, 0, ERR_HEX_TOO_SHORT, "", 0 },
        { "", 0, 0, 0, "", 0 },
        { "a:bc::d", 4, RTSTRHEX_COLON_GROUPS, 0, "\x0A\xBC\x00\x0D", 4 },
        { "ab:", 2, RTSTRHEX_COLON_GROUPS, 0, "\xAB\x00", 2 },
        { "ab:cd", 1, RTSTRHEX_COLON_GROUPS, ERR_BUFFER_OVERFLOW, "\xAB", 1 },
        { "01", 1, 2, ERR_INVALID_FLAGS, "", 0 },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.text);
        uint8_t out[8];
        memset(out, 0xEE, sizeof(out));
        int const rc = RTStrHexToBytes(c.text, out, c.count, c.flags);
        if (c.rc == 1)
            EXPECT_GT(rc, 0);
        else
            EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(memcmp(out, c.bytes, c.written), 0);
        EXPECT_EQ(out[c.written], 0xEE) << "wrote beyond the expected bytes";
    }
    uint8_t out[2];
    EXPECT_EQ(RTStrHexToBytes(nullptr, out, 2, 0), ERR_INVALID_POINTER);
}

TEST(NumUuid, FormsAndByteOrder)
{
    static const uint8_t kExpected[16] = { 0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                           0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff };
    struct Case
    {
        const char *text;
        int rc;
    } const cases[] = {
        { "00112233-4455-6677-8899-aabbccddeeff", 0 },
        { "00112233-4455-6677-8899-AABBCCDDEEFF", 0 },
        { "{00112233-4455-6677-8899-aabbccddeeff}", 0 },
        { "{00112233-4455-6677-8899-AABBCCDDEEFF}", 0 },
        { "{00112233-4455-6677-8899-aabbccddeeff", ERR_UUID_FORMAT },
        { "00112233-4455-6677-8899-aabbccddeeff}", ERR_UUID_FORMAT },
        { "00112233-4455-6677-8899-aabbccddeef", ERR_UUID_FORMAT },
        { "00112233-4455-6677-8899-aabbccddeeff0", ERR_UUID_FORMAT },
        { "00112233-4455-6677-8899-aabbccddeeff ", ERR_UUID_FORMAT },
        { " 00112233-4455-6677-8899-aabbccddeeff", ERR_UUID_FORMAT },
        { "00112233-4455-6677-88990aabbccddeeff", ERR_UUID_FORMAT },
        { "0011223-44455-6677-8899-aabbccddeeff", ERR_UUID_FORMAT },
        { "00112233-4455-6677-8899-aabbccddeegf", ERR_UUID_FORMAT },
        { "", ERR_UUID_FORMAT },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.text);
        RTUUID u;
        memset(&u, 0xEE, sizeof(u));
        EXPECT_EQ(RTUuidParse(&u, c.text), c.rc);
        if (c.rc == 0)
            EXPECT_EQ(memcmp(u.bytes, kExpected, 16), 0);
    }
    RTUUID u;
    EXPECT_EQ(RTUuidParse(&u, nullptr), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTUuidParse(nullptr, "00112233-4455-6677-8899-aabbccddeeff"), ERR_BAD_ARGUMENT);
}

} // namespace
