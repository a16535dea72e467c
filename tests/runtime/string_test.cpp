#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "kelp/err.h"
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

} // namespace
