#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>
#include "kelp/err.h"
#include "kelp/mem.h"
#include "kelp/string.h"

namespace
{

std::u16string U16(const RTUTF16 *w)
{
    std::u16string s;
    for (; *w; w++)
        s.push_back((char16_t)*w);
    return s;
}

TEST(StrConvert, Utf8ToUtf16AndBack)
{
    struct Case
    {
        const char *utf8;
        std::u16string utf16;
    } const cases[] = {
        { "", u"" },
        { "abc", u"abc" },
        { "\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9" },
        { "\xE2\x82\xAC", u"\u20AC" },
        { "\xEF\xBF\xBD", u"\uFFFD" },
        { "\xF0\x9F\x98\x80", u"\xD83D\xDE00" },
        { "a\xF4\x8F\xBF\xBFz", u"a\xDBFF\xDFFFz" },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.utf8);
        RTUTF16 *w = nullptr;
        size_t units = 12345;
        ASSERT_EQ(RTStrToUtf16Ex(c.utf8, RTSTR_MAX, &w, 0, &units, RT_SRC_TAG), 0);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(units, c.utf16.size());
        EXPECT_EQ(U16(w), c.utf16);
        EXPECT_EQ(RTUtf16Length(w), c.utf16.size());

        char *back = nullptr;
        size_t bytes = 12345;
        ASSERT_EQ(RTUtf16ToUtf8Ex(w, RTSTR_MAX, &back, 0, &bytes, RT_SRC_TAG), 0);
        ASSERT_NE(back, nullptr);
        EXPECT_STREQ(back, c.utf8);
        EXPECT_EQ(bytes, strlen(c.utf8));
        RTStrDispose(back);
        RTUtf16Free(w);

        ASSERT_EQ(RTStrToUtf16(c.utf8, &w), 0);
        EXPECT_EQ(U16(w), c.utf16);
        RTUtf16Free(w);
    }
}

TEST(StrHeap, CloneCopyAppend)
{
    char *s = RTStrClone("hello");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "hello");
    RTStrDispose(s);

    s = RTStrCloneN("hello", 3);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "hel");
    RTStrDispose(s);

    s = RTStrNew(0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[0], 0);
    RTStrDispose(s);
    RTStrDispose(nullptr);

    char buf[8];
    memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(RTStrCopyTo(buf, 3, "abc"), ERR_BUFFER_OVERFLOW);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(RTStrCopyTo(buf, 4, "abc"), 0);
    EXPECT_STREQ(buf, "abc");

    strcpy(buf, "ab");
    EXPECT_EQ(RTStrAppendTo(buf, 4, "cd"), ERR_BUFFER_OVERFLOW);
    EXPECT_STREQ(buf, "abc");
    strcpy(buf, "ab");
    EXPECT_EQ(RTStrAppendTo(buf, 5, "cd"), 0);
    EXPECT_STREQ(buf, "abcd");
}


std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes)
    {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

// One row per byte sequence: the permissive result (validation, counting, decoding) and
// the strict result (everything that leads to UTF-16).
TEST(StrValidate, PermissiveAndStrictRules)
{
    struct Case
    {
        const char *bytes;
        int permissive;
        int strict;
        size_t cps;   // code points (0 when invalid)
        size_t units; // UTF-16 units when strictly valid
    } const cases[] = {
        { "", 0, 0, 0, 0 },
        { "plain", 0, 0, 5, 5 },
        { "\xC2\x80\xDF\xBF", 0, 0, 2, 2 },
        { "\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD", 0, 0, 4, 4 },
        { "\xF0\x9F\x98\x80", 0, 0, 1, 2 },
        { "x\xF4\x8F\xBF\xBF", 0, 0, 2, 3 },
        { "\xC0\x80", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },          // overlong zero
        { "\xC1\xBF", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },
        { "\xE0\x9F\xBF", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },
        { "\xF0\x8F\xBF\xBF", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },
        { "\xF8\x87\xBF\xBF\xBF", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },
        { "\xFC\x83\xBF\xBF\xBF\xBF", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },
        { "\xED\xA0\x80", ERR_CODE_POINT_SURROGATE, ERR_CODE_POINT_SURROGATE },
        { "\xED\xBF\xBF", ERR_CODE_POINT_SURROGATE, ERR_CODE_POINT_SURROGATE },
        { "\xEF\xBF\xBE", ERR_CODE_POINT_BYTE_ORDER, ERR_CODE_POINT_BYTE_ORDER },
        { "\xEF\xBF\xBF", ERR_CODE_POINT_BYTE_ORDER, ERR_CODE_POINT_BYTE_ORDER },
        { "\xF4\x90\x80\x80", 0, ERR_NOT_UTF16_REPRESENTABLE, 1 },   // U+110000
        { "\xF7\xBF\xBF\xBF", 0, ERR_NOT_UTF16_REPRESENTABLE, 1 },
        { "\xF8\x88\x80\x80\x80", 0, ERR_NOT_UTF16_REPRESENTABLE, 1 }, // five bytes
        { "\xFD\xBF\xBF\xBF\xBF\xBF", 0, ERR_NOT_UTF16_REPRESENTABLE, 1 },
        { "\x80", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },
        { "a\xBF", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },
        { "\xFE", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },
        { "\xFF", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },
        { "\xC3", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },               // lead, then terminator
        { "\xE2\x82", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },
        { "\xE2\x82x", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },
        { "\xF0\x9F\x98 ", ERR_INVALID_UTF8, ERR_INVALID_UTF8 },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(Hex(c.bytes));
        EXPECT_EQ(RTStrCheckEncoding(c.bytes, RTSTR_MAX, 0), c.permissive);
        EXPECT_EQ(RTStrCountCps(c.bytes), c.permissive == 0 ? c.cps : 0);

        size_t units = 12345;
        EXPECT_EQ(RTStrMeasureUtf16(c.bytes, RTSTR_MAX, &units), c.strict);
        EXPECT_EQ(units, c.strict == 0 ? c.units : RTSTR_MAX);

        RTUTF16 *w = (RTUTF16 *)&units; // must be replaced by null on failure
        EXPECT_EQ(RTStrToUtf16(c.bytes, &w), c.strict);
        if (c.strict == 0)
        {
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(RTUtf16Length(w), c.units);
            RTUtf16Free(w);
        }
        else
            EXPECT_EQ(w, nullptr);

        w = (RTUTF16 *)&units;
        EXPECT_EQ(RTStrToUtf16Ex(c.bytes, RTSTR_MAX, &w, 0, nullptr, RT_SRC_TAG), c.strict);
        if (c.strict == 0)
            RTUtf16Free(w);
        else
            EXPECT_EQ(w, nullptr);

        size_t count = 12345;
        RTUNICP *cps = (RTUNICP *)&count; // replaced by null on failure
        EXPECT_EQ(RTStrToCodePointsEx(c.bytes, RTSTR_MAX, &cps, 0, &count), c.permissive);
        if (c.permissive == 0)
        {
            ASSERT_NE(cps, nullptr);
            EXPECT_EQ(count, c.cps);
            EXPECT_EQ(cps[c.cps], 0u);
            RTMemFree(cps);
        }
        else
            EXPECT_EQ(cps, nullptr);
    }
}

// A sequence cut short by its terminator must not make the decoder look past it: the
// string ends right before an inaccessible page.
TEST(StrValidate, NothingReadBeyondTheTerminator)
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    char *base = (char *)VirtualAlloc(nullptr, si.dwPageSize * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(base, nullptr);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(base + si.dwPageSize, si.dwPageSize, PAGE_NOACCESS, &old));
    const char *const leads[] = { "\xC3", "\xE2", "\xF0", "\xF8", "\xFC", "\xF0\x9F" };
    for (const char *lead : leads)
    {
        SCOPED_TRACE(Hex(lead));
        size_t const len = strlen(lead);
        char *s = base + si.dwPageSize - len - 1;
        memcpy(s, lead, len + 1);
        EXPECT_EQ(RTStrCheckEncoding(s, RTSTR_MAX, 0), ERR_INVALID_UTF8);
        EXPECT_EQ(RTStrMeasureUtf16(s, RTSTR_MAX, nullptr), ERR_INVALID_UTF8);
        const char *cursor = s;
        RTUNICP cp = 0;
        EXPECT_EQ(RTStrDecodeCp(&cursor, &cp), ERR_INVALID_UTF8);
        EXPECT_EQ(cursor, s + 1);
        EXPECT_EQ(cp, RTUNICP_INVALID);
        EXPECT_EQ(RTStrCompareAsciiNoCase(s, "x"), RTStrCmp(s, "x"));
    }
    VirtualFree(base, 0, MEM_RELEASE);
}

TEST(StrValidate, CheckEncodingLimitsAndFlags)
{
    struct Case
    {
        const char *text;
        size_t maxBytes;
        uint32_t flags;
        int rc;
    } const cases[] = {
        { "abc", RTSTR_MAX, 0, 0 },
        { "abc", 2, 0, 0 },
        { "a\xC3\xA9", 2, 0, ERR_INVALID_UTF8 }, // sequence cut off by the limit
        { "a\xC3\xA9", 3, 0, 0 },
        { "abc", 4, RTSTR_CHECK_TERMINATOR, 0 },
        { "abc", 3, RTSTR_CHECK_TERMINATOR, ERR_BUFFER_OVERFLOW },
        { "abc", 3, RTSTR_CHECK_EXACT_LENGTH, 0 },
        { "abc", 4, RTSTR_CHECK_EXACT_LENGTH, ERR_HEX_TOO_SHORT },
        { "abc", 4, RTSTR_CHECK_EXACT_LENGTH | RTSTR_CHECK_TERMINATOR, 0 },
        { "abc", 5, RTSTR_CHECK_EXACT_LENGTH | RTSTR_CHECK_TERMINATOR, ERR_HEX_TOO_SHORT },
        { "abc", 3, RTSTR_CHECK_EXACT_LENGTH | RTSTR_CHECK_TERMINATOR, ERR_BUFFER_OVERFLOW },
        { "abc", RTSTR_MAX, RTSTR_CHECK_EXACT_LENGTH | RTSTR_CHECK_TERMINATOR, ERR_HEX_TOO_SHORT },
        { "\xC0\x80", 4, RTSTR_CHECK_TERMINATOR, ERR_INVALID_UTF8 },
        { "abc", 4, 4, ERR_BAD_ARGUMENT },
        { "abc", 4, 0x80000000, ERR_BAD_ARGUMENT },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << Hex(c.text) << " max " << c.maxBytes << " flags " << c.flags);
        EXPECT_EQ(RTStrCheckEncoding(c.text, c.maxBytes, c.flags), c.rc);
    }
}

TEST(StrCodePoint, DecodeTable)
{
    struct Case
    {
        const char *bytes;
        size_t length; // bytes in the array (a zero byte may be the subject)
        int rc;
        RTUNICP cp;
        size_t advance;
    } const cases[] = {
        { "A", 1, 0, 0x41, 1 },
        { "\0", 1, 0, 0, 1 },
        { "\xC3\xA9", 2, 0, 0xE9, 2 },
        { "\xE2\x82\xAC", 3, 0, 0x20AC, 3 },
        { "\xF0\x9F\x98\x80", 4, 0, 0x1F600, 4 },
        { "\xF4\x90\x80\x80", 4, 0, 0x110000, 4 },
        { "\xF8\x88\x80\x80\x80", 5, 0, 0x200000, 5 },
        { "\xFD\xBF\xBF\xBF\xBF\xBF", 6, 0, 0x7FFFFFFF, 6 },
        { "\xC0\x80", 2, ERR_INVALID_UTF8, RTUNICP_INVALID, 1 },
        { "\xED\xA0\x80", 3, ERR_CODE_POINT_SURROGATE, RTUNICP_INVALID, 1 },
        { "\xEF\xBF\xBE", 3, ERR_CODE_POINT_BYTE_ORDER, RTUNICP_INVALID, 1 },
        { "\xA9", 1, ERR_INVALID_UTF8, RTUNICP_INVALID, 1 },
        { "\xE2\x82", 2, ERR_INVALID_UTF8, RTUNICP_INVALID, 1 },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(Hex(std::string(c.bytes, c.length)));
        const char *cursor = c.bytes;
        RTUNICP cp = 0x12345;
        EXPECT_EQ(RTStrDecodeCp(&cursor, &cp), c.rc);
        EXPECT_EQ(cp, c.cp);
        EXPECT_EQ(cursor, c.bytes + c.advance);

        // With a budget of exactly the bytes given.
        cursor = c.bytes;
        size_t remaining = c.length;
        cp = 0x12345;
        EXPECT_EQ(RTStrDecodeCpN(&cursor, &remaining, &cp), c.rc);
        EXPECT_EQ(cp, c.cp);
        EXPECT_EQ(cursor, c.bytes + c.advance);
        EXPECT_EQ(remaining, c.length - c.advance);
    }

    const char *text = "\xC3\xA9";
    const char *cursor = text;
    size_t remaining = 0;
    RTUNICP cp = 0;
    EXPECT_EQ(RTStrDecodeCpN(&cursor, &remaining, &cp), ERR_END_OF_STRING);
    EXPECT_EQ(cp, RTUNICP_INVALID);
    EXPECT_EQ(cursor, text);
    remaining = 1; // the sequence is longer than the budget
    EXPECT_EQ(RTStrDecodeCpN(&cursor, &remaining, &cp), ERR_INVALID_UTF8);
    EXPECT_EQ(cursor, text + 1);
    EXPECT_EQ(remaining, 0u);

    // A loop over broken text ends and sees every byte.
    const char *broken = "\xFF\xC3\xED\xA0\x80z";
    size_t steps = 0;
    for (cursor = broken; *cursor; steps++)
        RTStrDecodeCp(&cursor, &cp);
    EXPECT_EQ(steps, 6u);
}

TEST(StrCodePoint, EncodeTableAndRoundTrip)
{
    struct Case
    {
        RTUNICP cp;
        const char *bytes;
    } const cases[] = {
        { 0x41, "\x41" },
        { 0x7F, "\x7F" },
        { 0x80, "\xC2\x80" },
        { 0x7FF, "\xDF\xBF" },
        { 0x800, "\xE0\xA0\x80" },
        { 0xFFFD, "\xEF\xBF\xBD" },
        { 0xFFFF, "\xEF\xBF\xBF" }, // no check for byte-order marks
        { 0xD800, "\xED\xA0\x80" }, // nor for surrogates
        { 0x10000, "\xF0\x90\x80\x80" },
        { 0x10FFFF, "\xF4\x8F\xBF\xBF" },
        { 0x1FFFFF, "\xF7\xBF\xBF\xBF" },
        { 0x200000, "\xF8\x88\x80\x80\x80" },
        { 0x3FFFFFF, "\xFB\xBF\xBF\xBF\xBF" },
        { 0x4000000, "\xFC\x84\x80\x80\x80\x80" },
        { 0x7FFFFFFF, "\xFD\xBF\xBF\xBF\xBF\xBF" },
        { 0x80000000, "\x7F" },
        { 0xFFFFFFFF, "\x7F" },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << std::hex << c.cp);
        char buf[8];
        memset(buf, 0xEE, sizeof(buf));
        char *end = RTStrEncodeCp(buf, c.cp);
        EXPECT_EQ(std::string(buf, end - buf), std::string(c.bytes));
        EXPECT_EQ((unsigned char)*end, 0xEE);
        if (c.cp >= 0x80 && c.cp < 0x80000000 && (c.cp < 0xD800 || c.cp > 0xDFFF) && c.cp != 0xFFFF)
        {
            const char *cursor = buf;
            RTUNICP back = 0;
            EXPECT_EQ(RTStrDecodeCp(&cursor, &back), 0);
            EXPECT_EQ(back, c.cp);
            EXPECT_EQ(cursor, end);
        }
    }
}

TEST(StrCodePoint, StepBack)
{
    struct Case
    {
        const char *bytes;
        size_t from;   // offset of the position
        size_t result; // offset of the answer
    } const cases[] = {
        { "a\xC3\xA9", 3, 1 },
        { "\xA9", 1, 0 },                 // lone continuation byte
        { "ab", 2, 1 },
        { "ab", 0, 0 },                   // position at the start
        { "a\xE2\x82\xAC", 4, 1 },
        { "a\xF0\x9F\x98\x80", 5, 1 },
        { "a\xFC\x84\x80\x80\x80\x80", 7, 1 },
        { "a\xC3", 2, 0 },                // a lead byte as the last byte
        { "a\xE2\xA9", 3, 0 },            // lead byte of the wrong form
        { "ax\xA9", 3, 0 },               // ASCII inside
        { "a\x80\x80\x80\x80\x80\x80", 7, 0 }, // six continuation bytes
        { "\xC3\xA9\xC3\xA9", 4, 2 },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << Hex(c.bytes) << " from " << c.from);
        EXPECT_EQ(RTStrStepBack(c.bytes, c.bytes + c.from), c.bytes + c.result);
    }
}

TEST(StrUtf16, DecodeLittleAndBigEndian)
{
    struct Case
    {
        std::vector<uint16_t> units;
        int rc;
        RTUNICP cp;
        size_t advance;
    } const cases[] = {
        { { 0x0041, 0 }, 0, 0x41, 1 },
        { { 0x0000 }, 0, 0, 1 },
        { { 0xD7FF, 0 }, 0, 0xD7FF, 1 },
        { { 0xE000, 0 }, 0, 0xE000, 1 },
        { { 0xFFFD, 0 }, 0, 0xFFFD, 1 },
        { { 0xD83D, 0xDE00, 0 }, 0, 0x1F600, 2 },
        { { 0xDBFF, 0xDFFF, 0 }, 0, 0x10FFFF, 2 },
        { { 0xDE00, 0 }, ERR_INVALID_UTF16, RTUNICP_INVALID, 1 },
        { { 0xD83D, 0x0041, 0 }, ERR_INVALID_UTF16, RTUNICP_INVALID, 1 },
        { { 0xD83D, 0 }, ERR_INVALID_UTF16, RTUNICP_INVALID, 1 },
        { { 0xD83D, 0xD83D, 0 }, ERR_INVALID_UTF16, RTUNICP_INVALID, 1 },
        { { 0xFFFE, 0 }, ERR_CODE_POINT_BYTE_ORDER, RTUNICP_INVALID, 1 },
        { { 0xFFFF, 0 }, ERR_CODE_POINT_BYTE_ORDER, RTUNICP_INVALID, 1 },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << std::hex << c.units[0]);
        std::vector<RTUTF16> le, be;
        for (uint16_t u : c.units)
        {
            le.push_back((RTUTF16)u);
            be.push_back((RTUTF16)(uint16_t)(u >> 8 | u << 8));
        }
        const RTUTF16 *cursor = le.data();
        RTUNICP cp = 0x12345;
        EXPECT_EQ(RTUtf16DecodeCp(&cursor, &cp), c.rc);
        EXPECT_EQ(cp, c.cp);
        EXPECT_EQ(cursor, le.data() + c.advance);

        cursor = be.data();
        cp = 0x12345;
        EXPECT_EQ(RTUtf16BeDecodeCp(&cursor, &cp), c.rc);
        EXPECT_EQ(cp, c.cp);
        EXPECT_EQ(cursor, be.data() + c.advance);
    }
}

TEST(StrUtf16, ToUtf8ErrorsAndLimits)
{
    struct Case
    {
        std::vector<uint16_t> units; // without the terminator
        size_t maxUnits;
        int rc;
        const char *utf8;
    } const cases[] = {
        { { 0x61, 0x7FF, 0x800, 0xFFFD }, RTSTR_MAX, 0, "a\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBD" },
        { { 0x61, 0x62, 0x63 }, 2, 0, "ab" },
        { { 0x61, 0x62 }, 0, 0, "" },
        { { 0xD83D, 0xDE00 }, RTSTR_MAX, 0, "\xF0\x9F\x98\x80" },
        { { 0x61, 0xD83D }, RTSTR_MAX, ERR_INVALID_UTF16 },        // lone high at the end
        { { 0x61, 0xD83D, 0xDE00 }, 2, ERR_INVALID_UTF16 },         // pair cut by maxUnits
        { { 0xDE00, 0x61 }, RTSTR_MAX, ERR_INVALID_UTF16 },
        { { 0x61, 0xFFFE }, RTSTR_MAX, ERR_CODE_POINT_BYTE_ORDER },
        { { 0xFFFF }, RTSTR_MAX, ERR_CODE_POINT_BYTE_ORDER },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << "first unit " << std::hex << c.units[0] << " max " << c.maxUnits);
        std::vector<RTUTF16> w(c.units.begin(), c.units.end());
        w.push_back(0);

        size_t bytes = 12345;
        EXPECT_EQ(RTUtf16MeasureUtf8(w.data(), c.maxUnits, &bytes), c.rc);
        EXPECT_EQ(bytes, c.rc == 0 ? strlen(c.utf8) : RTSTR_MAX);

        char *s = (char *)&bytes; // replaced by null on failure
        bytes = 12345;
        EXPECT_EQ(RTUtf16ToUtf8Ex(w.data(), c.maxUnits, &s, 0, &bytes, RT_SRC_TAG), c.rc);
        if (c.rc == 0)
        {
            ASSERT_NE(s, nullptr);
            EXPECT_STREQ(s, c.utf8);
            EXPECT_EQ(bytes, strlen(c.utf8));
            RTStrDispose(s);
        }
        else
            EXPECT_EQ(s, nullptr);
    }
}

// Caller buffers: capacity counts the terminator; a buffer one unit short is refused
// before anything is written, and the needed size is reported.
TEST(StrConvert, CallerBufferProtocol)
{
    const char *text = "a\xC3\xA9\xF0\x9F\x98\x80"; // 4 UTF-16 units
    RTUTF16 wbuf[8];
    for (RTUTF16 &u : wbuf)
        u = 0xEEEE;
    RTUTF16 *w = wbuf;
    size_t units = 0;
    EXPECT_EQ(RTStrToUtf16Ex(text, RTSTR_MAX, &w, 4, &units, RT_SRC_TAG), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(units, 4u);
    EXPECT_EQ(w, wbuf);
    for (RTUTF16 u : wbuf)
        EXPECT_EQ((uint16_t)u, 0xEEEE);
    EXPECT_EQ(RTStrToUtf16Ex(text, RTSTR_MAX, &w, 5, &units, RT_SRC_TAG), 0);
    EXPECT_EQ(w, wbuf);
    EXPECT_EQ(U16(wbuf), std::u16string(u"a\u00E9\xD83D\xDE00"));
    EXPECT_EQ((uint16_t)wbuf[5], 0xEEEE);

    // maxBytes stops early, or at a zero byte before it.
    w = wbuf;
    EXPECT_EQ(RTStrToUtf16Ex(text, 3, &w, 8, &units, RT_SRC_TAG), 0);
    EXPECT_EQ(units, 2u);
    EXPECT_EQ(U16(wbuf), std::u16string(u"a\u00E9"));
    w = wbuf;
    EXPECT_EQ(RTStrToUtf16Ex("ab", 100, &w, 8, &units, RT_SRC_TAG), 0);
    EXPECT_EQ(U16(wbuf), std::u16string(u"ab"));
    w = wbuf;
    EXPECT_EQ(RTStrToUtf16Ex(text, 2, &w, 8, &units, RT_SRC_TAG), ERR_INVALID_UTF8);

    // A capacity with a null pointer allocates at least that much.
    w = nullptr;
    EXPECT_EQ(RTStrToUtf16Ex("ab", RTSTR_MAX, &w, 64, &units, RT_SRC_TAG), 0);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(U16(w), std::u16string(u"ab"));
    w[63] = 0x41; // the block holds 64 units
    RTUtf16Free(w);

    // UTF-16 to UTF-8: the same protocol in bytes.
    const RTUTF16 wide[] = { 0x61, 0xE9, 0xD83D, 0xDE00, 0 }; // 7 bytes
    char buf[12];
    memset(buf, 'x', sizeof(buf));
    char *s = buf;
    size_t bytes = 0;
    EXPECT_EQ(RTUtf16ToUtf8Ex(wide, RTSTR_MAX, &s, 7, &bytes, RT_SRC_TAG), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(bytes, 7u);
    EXPECT_EQ(s, buf);
    EXPECT_EQ(std::string(buf, sizeof(buf)), std::string(sizeof(buf), 'x'));
    EXPECT_EQ(RTUtf16ToUtf8Ex(wide, RTSTR_MAX, &s, 8, &bytes, RT_SRC_TAG), 0);
    EXPECT_STREQ(buf, text);
    EXPECT_EQ(buf[8], 'x');

    // Code points.
    RTUNICP cps[4] = { 9, 9, 9, 9 };
    RTUNICP *p = cps;
    size_t count = 0;
    const char *wideText = "a\xC3\xA9\xF4\x90\x80\x80"; // beyond UTF-16, fine here
    EXPECT_EQ(RTStrToCodePointsEx(wideText, RTSTR_MAX, &p, 3, &count), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(cps[0], 9u);
    EXPECT_EQ(RTStrToCodePointsEx(wideText, RTSTR_MAX, &p, 4, &count), 0);
    EXPECT_EQ(cps[0], 0x61u);
    EXPECT_EQ(cps[1], 0xE9u);
    EXPECT_EQ(cps[2], 0x110000u);
    EXPECT_EQ(cps[3], 0u);
}

// Allocation failures leave the result null (or the string unchanged) and say which
// allocation failed; capacities whose byte size would wrap must fail too.
TEST(StrConvert, AllocationFailures)
{
    size_t const huge = RTSTR_MAX / 4;
    // Blocks no process of either pointer width can get (a quarter of a 32-bit address
    // space may well be free).
    size_t const tooManyBytes = RTSTR_MAX - 0xFFFF;
    size_t const tooManyUnits = tooManyBytes / sizeof(RTUTF16);
    RTUTF16 *w = (RTUTF16 *)&huge;
    EXPECT_EQ(RTStrToUtf16Ex("a", RTSTR_MAX, &w, 0, nullptr, RT_SRC_TAG), 0);
    RTUtf16Free(w);
    w = nullptr;
    EXPECT_EQ(RTStrToUtf16Ex("a", RTSTR_MAX, &w, tooManyUnits, nullptr, RT_SRC_TAG), ERR_NO_UTF16_MEMORY);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(RTStrToUtf16Ex("a", RTSTR_MAX, &w, RTSTR_MAX / 2 + 2, nullptr, RT_SRC_TAG), ERR_NO_UTF16_MEMORY);
    EXPECT_EQ(w, nullptr);

    char *s = nullptr;
    const RTUTF16 wide[] = { 0x61, 0 };
    EXPECT_EQ(RTUtf16ToUtf8Ex(wide, RTSTR_MAX, &s, tooManyBytes, nullptr, RT_SRC_TAG), ERR_NO_STRING_MEMORY);
    EXPECT_EQ(s, nullptr);

    RTUNICP *cps = nullptr;
    EXPECT_EQ(RTStrToCodePointsEx("a", RTSTR_MAX, &cps, RTSTR_MAX / 4 + 2, nullptr), ERR_NO_CODE_POINT_MEMORY);
    EXPECT_EQ(cps, nullptr);

    s = RTStrClone("hello");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(RTStrResize(&s, tooManyBytes), ERR_NO_STRING_MEMORY);
    EXPECT_STREQ(s, "hello");
    RTStrDispose(s);

    EXPECT_EQ(RTUtf16New(RTSTR_MAX), nullptr);
    w = RTUtf16Clone(wide);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(RTUtf16Resize(&w, RTSTR_MAX), ERR_NO_STRING_MEMORY);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(U16(w), std::u16string(u"a"));
    RTUtf16Free(w);
}

TEST(StrHeap, ResizeAndUtf16Strings)
{
    char *s = nullptr;
    EXPECT_EQ(RTStrResize(&s, 10), 0);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    strcpy(s, "hello");
    EXPECT_EQ(RTStrResize(&s, 100), 0);
    EXPECT_STREQ(s, "hello");
    EXPECT_EQ(s[99], 0);
    EXPECT_EQ(RTStrResize(&s, 3), 0);
    EXPECT_STREQ(s, "he");
    EXPECT_EQ(RTStrResize(&s, 0), 0);
    EXPECT_EQ(s, nullptr);

    EXPECT_EQ(RTStrCloneNEx(&s, "hello", 0), 0);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    RTStrDispose(s);
    EXPECT_EQ(RTStrCloneNEx(&s, "he\0llo", 5), 0);
    EXPECT_STREQ(s, "he");
    RTStrDispose(s);
    EXPECT_EQ(RTStrClone(nullptr), nullptr);

    RTUTF16 *w = RTUtf16New(1);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w[0], 0);
    RTUtf16Free(w);

    const RTUTF16 hello[] = { 'h', 'e', 'l', 'l', 'o', 0 };
    w = RTUtf16Clone(hello);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(U16(w), std::u16string(u"hello"));
    EXPECT_EQ(RTUtf16Length(w), 5u);
    EXPECT_EQ(RTUtf16Length(nullptr), 0u);
    EXPECT_EQ(RTUtf16Resize(&w, 5), 0); // rounded up to 6 bytes: three units
    EXPECT_EQ(U16(w), std::u16string(u"he"));
    EXPECT_EQ(RTUtf16Resize(&w, 0), 0);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(RTUtf16Resize(&w, 7), 0);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w[0], 0);
    EXPECT_EQ(w[3], 0);
    RTUtf16Free(w);
    RTUtf16Free(nullptr);
}

TEST(StrBuffer, CopyAndAppendTable)
{
    struct Case
    {
        const char *initial; // null: copy; otherwise append to this
        const char *source;
        size_t size;
        int rc;
        const char *result;
    } const cases[] = {
        { nullptr, "abc", 3, ERR_BUFFER_OVERFLOW, "ab" },
        { nullptr, "abc", 4, 0, "abc" },
        { nullptr, "abc", 1, ERR_BUFFER_OVERFLOW, "" },
        { nullptr, "", 1, 0, "" },
        { "ab", "cd", 4, ERR_BUFFER_OVERFLOW, "abc" },
        { "ab", "cd", 5, 0, "abcd" },
        { "ab", "", 3, 0, "ab" },
        { "abc", "d", 4, ERR_BUFFER_OVERFLOW, "abc" },
        { "", "xyz", 2, ERR_BUFFER_OVERFLOW, "x" },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << (c.initial ? c.initial : "(copy)") << " + " << c.source << " in " << c.size);
        char buf[16];
        memset(buf, '#', sizeof(buf));
        if (c.initial)
        {
            strcpy(buf, c.initial);
            EXPECT_EQ(RTStrAppendTo(buf, c.size, c.source), c.rc);
        }
        else
            EXPECT_EQ(RTStrCopyTo(buf, c.size, c.source), c.rc);
        EXPECT_STREQ(buf, c.result);
        EXPECT_EQ(buf[c.size], '#') << "wrote beyond the buffer";
    }

    char buf[6];
    memcpy(buf, "abcd##", 6);
    EXPECT_EQ(RTStrCopyTo(buf, 0, "x"), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(buf[0], 'a');
    EXPECT_EQ(RTStrAppendTo(buf, 4, "x"), ERR_BAD_ARGUMENT); // no terminator within 4 bytes
    EXPECT_EQ(std::string(buf, 6), "abcd##");
}

TEST(StrCompare, AsciiNoCase)
{
    struct Case
    {
        const char *str;
        const char *ascii;
        int result; // exact where the rule gives a difference
    } const cases[] = {
        { "SETUP.MSI", "setup.msi", 0 },
        { ".Msi", ".msi", 0 },
        { "", "", 0 },
        { "\xC3\xA9", "e", 1 },    // a code point of 128 or more
        { "e", "\xC3\xA9", 'e' - 0xC3 },
        { "abc", "abd", 'c' - 'd' },
        { "ABC", "abd", 'c' - 'd' },
        { "ab", "abc", -'c' },
        { "abc", "ab", 'c' },
        { "[", "a", '[' - 'a' },   // folding touches letters only
        { "a", "[", 'a' - '[' },
        { "A", "b", 'a' - 'b' },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.str << " vs " << c.ascii);
        EXPECT_EQ(RTStrCompareAsciiNoCase(c.str, c.ascii), c.result);
    }

    const char *same = "x";
    EXPECT_EQ(RTStrCompareAsciiNoCase(same, same), 0);
    EXPECT_EQ(RTStrCompareAsciiNoCase(nullptr, nullptr), 0);
    EXPECT_EQ(RTStrCompareAsciiNoCase(nullptr, "a"), -1);
    EXPECT_EQ(RTStrCompareAsciiNoCase("a", nullptr), 1);

    // A sequence that does not decode: the rest is compared byte for byte, case included.
    EXPECT_EQ(RTStrCompareAsciiNoCase("a\xFF", "A\xFF"), 0);
    EXPECT_GT(RTStrCompareAsciiNoCase("A\xFF" "b", "a\xFF" "B"), 0);
    EXPECT_GT(RTStrCompareAsciiNoCase("\xC3x", "abc"), 0);
    EXPECT_LT(RTStrCompareAsciiNoCase("\xC0\x80", "\xC1"), 0);
}

TEST(StrAnsi, CodePageConversion)
{
    char *s = (char *)&s;
    EXPECT_EQ(RTStrToAnsiCodePage(&s, ""), 0);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
    RTStrDispose(s);

    EXPECT_EQ(RTStrToAnsiCodePage(&s, "Setup 1.0"), 0);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "Setup 1.0");
    RTStrDispose(s);

    s = (char *)&s;
    EXPECT_EQ(RTStrToAnsiCodePage(&s, "bad \xC0\x80"), ERR_INVALID_UTF8);
    EXPECT_EQ(s, nullptr);

    // Non-ASCII text comes out as the system's own conversion makes it.
    const char *text = "caf\xC3\xA9 \xE2\x82\xAC";
    const wchar_t *wide = L"caf\u00E9 \u20AC";
    char expected[32];
    if (GetACP() == CP_UTF8)
        strcpy(expected, text);
    else
        ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, wide, -1, expected, sizeof(expected), nullptr, nullptr), 0);
    EXPECT_EQ(RTStrToAnsiCodePage(&s, text), 0);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, expected);
    RTStrDispose(s);
}

} // namespace
