#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

#include "kelp/err.h"
#include "kelp/getopt.h"

namespace {

typedef std::vector<std::string> Args;

struct SplitCase
{
    uint32_t    style;
    const char *text;
    Args        expected;
};

// Splits `text` both into a copy and in place and checks that both agree with `expected`.
void ExpectSplit(uint32_t style, const char *text, const char *separators, const Args &expected)
{
    SCOPED_TRACE(std::string("text: ") + text);
    char **argv = nullptr;
    int argc = -1;
    ASSERT_EQ(RTGetOptArgvSplit(&argv, &argc, text, style, separators), 0);
    ASSERT_EQ(argc, (int)expected.size());
    for (int i = 0; i < argc; i++)
        EXPECT_EQ(argv[i], expected[i]) << "argument " << i;
    EXPECT_EQ(argv[argc], nullptr);
    RTGetOptArgvFree(argv);

    std::vector<char> buffer(text, text + strlen(text) + 1);
    ASSERT_EQ(RTGetOptArgvSplit(&argv, &argc, buffer.data(), style | ARGV_IN_PLACE, separators), 0);
    ASSERT_EQ(argc, (int)expected.size());
    for (int i = 0; i < argc; i++)
    {
        EXPECT_EQ(argv[i], expected[i]) << "in place, argument " << i;
        EXPECT_GE(argv[i], buffer.data());
        EXPECT_LT(argv[i], buffer.data() + buffer.size());
    }
    EXPECT_EQ(argv[argc], nullptr);
    RTGetOptArgvFreeEx(argv, ARGV_IN_PLACE);
}

const SplitCase kSplitCases[] =
{
    // The documented examples.
    { ARGV_STYLE_MS_CRT, "a\"b c\"d", { "ab cd" } },
    { ARGV_STYLE_MS_CRT, "\"a\"\"b\"", { "a\"b" } },
    { ARGV_STYLE_MS_CRT, "a\"\"b", { "ab" } },
    { ARGV_STYLE_MS_CRT, "\"\"", { "" } },
    { ARGV_STYLE_MS_CRT, "ab\"", { "ab" } },
    { ARGV_STYLE_MS_CRT, "a\\\\\\\"b", { "a\\\"b" } },
    { ARGV_STYLE_MS_CRT, "a\\\\\"b c\"", { "a\\b c" } },
    { ARGV_STYLE_MS_CRT, "a\\b", { "a\\b" } },
    { ARGV_STYLE_MS_CRT, "\"C:\\Program Files\\x.exe\" /path \"C:\\a b\\\" -x",
      { "C:\\Program Files\\x.exe", "/path", "C:\\a b\" -x" } },
    { ARGV_STYLE_BOURNE, "'a b'\"c d\"e", { "a bc de" } },
    { ARGV_STYLE_BOURNE, "\"a\\xb\"", { "a\\xb" } },

    // Microsoft style beyond the examples.
    { ARGV_STYLE_MS_CRT, "a\\\\b", { "a\\\\b" } },             // backslashes not before a quote stay
    { ARGV_STYLE_MS_CRT, "a\\\\\\\\\"b c\"", { "a\\\\b c" } },  // four before a quote: two, quote opens
    { ARGV_STYLE_MS_CRT, "\"a\\\"b\"", { "a\"b" } },
    { ARGV_STYLE_MS_CRT, "x\\", { "x\\" } },
    { ARGV_STYLE_MS_CRT, "\"\" \"\" x", { "", "", "x" } },
    { ARGV_STYLE_MS_CRT, "a\tb\nc\rd", { "a", "b", "c", "d" } },
    { ARGV_STYLE_MS_CRT, "\"a\tb\nc\r d\"", { "a\tb\nc\r d" } },
    { ARGV_STYLE_MS_CRT, "  lead   and trail  ", { "lead", "and", "trail" } },
    { ARGV_STYLE_MS_CRT, "a ", { "a" } },
    { ARGV_STYLE_MS_CRT, "'a b'", { "'a", "b'" } },             // apostrophes do not quote
    { ARGV_STYLE_MS_CRT, "\xc3\xa9t\xc3\xa9 \"\xe4\xb8\xad \xf0\x9f\x98\x80\"", { "\xc3\xa9t\xc3\xa9", "\xe4\xb8\xad \xf0\x9f\x98\x80" } },

    // Bourne shell style beyond the examples.
    { ARGV_STYLE_BOURNE, "a\\ b c", { "a b", "c" } },
    { ARGV_STYLE_BOURNE, "'a\\\"b'", { "a\\\"b" } },
    { ARGV_STYLE_BOURNE, "\"\\\"\\\\\\`\\$\\\n\"", { "\"\\`$\n" } },
    { ARGV_STYLE_BOURNE, "\"a b", { "a b" } },                  // unterminated quote ends at the end
    { ARGV_STYLE_BOURNE, "ab\\", { "ab" } },
    { ARGV_STYLE_BOURNE, "'' x", { "", "x" } },
    { ARGV_STYLE_BOURNE, "a\"\"b", { "ab" } },
    { ARGV_STYLE_BOURNE, "\"a\"\"b\"", { "ab" } },
    { ARGV_STYLE_BOURNE, "a\tb\nc", { "a", "b", "c" } },

    // Nothing to split.
    { ARGV_STYLE_MS_CRT, "", {} },
    { ARGV_STYLE_MS_CRT, " \t\r\n ", {} },
    { ARGV_STYLE_BOURNE, "", {} },
};

TEST(ArgvSplit, QuotingRules)
{
    for (const SplitCase &c : kSplitCases)
        ExpectSplit(c.style, c.text, nullptr, c.expected);
}

TEST(ArgvSplit, CustomSeparators)
{
    ExpectSplit(ARGV_STYLE_MS_CRT, "a,b c,,\"d,e\"", ",", { "a", "b c", "d,e" });
    // A separator above ASCII is compared as a whole character.
    ExpectSplit(ARGV_STYLE_MS_CRT, "a\xc2\xa7" "b\xc2\xa8" "c", "\xc2\xa7", { "a", "b\xc2\xa8" "c" });
    ExpectSplit(ARGV_STYLE_BOURNE, "x;y", ";", { "x", "y" });
}

TEST(ArgvSplit, ManyArgumentsGrowTheVector)
{
    std::string text;
    Args expected;
    for (int i = 0; i < 100; i++)
    {
        expected.push_back("arg" + std::to_string(i));
        text += expected.back() + " ";
    }
    ExpectSplit(ARGV_STYLE_MS_CRT, text.c_str(), nullptr, expected);
}

TEST(ArgvSplit, RefusedInput)
{
    struct Bad
    {
        const char *text;
        uint32_t    flags;
        const char *separators;
        int         rc;
    };
    const Bad cases[] =
    {
        { "a", 2, nullptr, ERR_INVALID_FLAGS },
        { "a", 3 | ARGV_IN_PLACE, nullptr, ERR_INVALID_FLAGS },
        { "a", 0, "", ERR_BAD_ARGUMENT },
        { "ok \xff", ARGV_STYLE_MS_CRT, nullptr, ERR_INVALID_UTF8 },
        { "\xc3 x", ARGV_STYLE_BOURNE, nullptr, ERR_INVALID_UTF8 },
        { "\"a \x80\"", ARGV_STYLE_MS_CRT, nullptr, ERR_INVALID_UTF8 },
    };
    for (const Bad &c : cases)
    {
        char **argv = (char **)0x1234;
        int argc = 77;
        std::vector<char> buffer(c.text, c.text + strlen(c.text) + 1);
        EXPECT_EQ(RTGetOptArgvSplit(&argv, &argc, buffer.data(), c.flags, c.separators), c.rc) << c.text;
        EXPECT_EQ(argv, (char **)0x1234) << "nothing is returned on failure";
        EXPECT_EQ(argc, 77);
    }
}

} // namespace
