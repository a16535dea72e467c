#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "kelp/err.h"
#include "kelp/getopt.h"
#include "kelp/init.h"
#include "kelp/stream.h"

namespace {

// The installer's option table.
const OptionDef kInstallerOptions[] =
{
    { "--extract",                    'x',  0 },
    { "-extract",                     'x',  0 },
    { "/extract",                     'x',  0 },
    { "--silent",                     's',  0 },
    { "-silent",                      's',  0 },
    { "/silent",                      's',  0 },
    { "--no-silent-cert",             'c',  0 },
    { "-no-silent-cert",              'c',  0 },
    { "/no-silent-cert",              'c',  0 },
    { "--no-install-timestamp-ca",    't',  0 },
    { "--force-install-timestamp-ca", 'T',  0 },
    { "--logging",                    'l',  0 },
    { "-logging",                     'l',  0 },
    { "--msi-log-file",               1000, OPT_TYPE_STRING },
    { "-msilogfile",                  1000, OPT_TYPE_STRING },
    { "/logging",                     'l',  0 },
    { "--path",                       'p',  OPT_TYPE_STRING },
    { "-path",                        'p',  OPT_TYPE_STRING },
    { "/path",                        'p',  OPT_TYPE_STRING },
    { "--msiparams",                  'm',  OPT_TYPE_STRING },
    { "-msiparams",                   'm',  OPT_TYPE_STRING },
    { "--msi-prop",                   'P',  OPT_TYPE_STRING },
    { "--reinstall",                  'f',  0 },
    { "-reinstall",                   'f',  0 },
    { "/reinstall",                   'f',  0 },
    { "--ignore-reboot",              'r',  0 },
    { "--verbose",                    'v',  0 },
    { "-verbose",                     'v',  0 },
    { "/verbose",                     'v',  0 },
    { "--version",                    'V',  0 },
    { "-version",                     'V',  0 },
    { "/version",                     'V',  0 },
    { "--help",                       'h',  0 },
    { "-help",                        'h',  0 },
    { "/help",                        'h',  0 },
    { "/?",                           'h',  0 },
};
static_assert(RT_ELEMENTS(kInstallerOptions) == 36, "the installer's table has 36 entries");

typedef std::vector<std::string> Strings;

// A writable argument vector (OPT_INIT_MIXED reorders it) with the program name in front.
struct ArgVector
{
    explicit ArgVector(const Strings &args)
    {
        storage.push_back("prog");
        storage.insert(storage.end(), args.begin(), args.end());
        for (std::string &s : storage)
            argv.push_back(&s[0]);
        argv.push_back(nullptr);
    }
    int argc() const { return (int)storage.size(); }
    Strings current() const
    {
        Strings out;
        for (int i = 1; i < argc(); i++)
            out.push_back(argv[i]);
        return out;
    }
    std::vector<std::string> storage;
    std::vector<char *> argv;
};

std::string IdText(int id)
{
    if (id >= 33 && id <= 126)
        return std::string(1, (char)id);
    return std::to_string(id);
}

// One result of RTGetOptNext in a compact form: "s" for an option without a value,
// "p=text" for a text value, "plain:text", "rc=-825:text" for an unknown option, "rc=-826"
// and so on for other statuses, "end" for 0.
std::string Describe(int rc, const OptionValue &v, const OptionDef *def)
{
    if (rc == 0)
        return "end";
    if (rc == INF_OPT_PLAIN_ARGUMENT)
        return std::string("plain:") + v.str;
    if (rc == ERR_OPT_UNKNOWN)
        return "rc=-825:" + std::string(v.str);
    if (rc < 0)
        return "rc=" + std::to_string(rc);
    if (def && (def->flags & OPT_TYPE_MASK) == OPT_TYPE_STRING)
        return IdText(rc) + "=" + v.str;
    return IdText(rc);
}

// Runs the parser until 0 or an error and describes every step.
Strings Parse(const OptionDef *table, uint32_t count, ArgVector &args, uint32_t flags = 0)
{
    OptionParserState state;
    EXPECT_EQ(RTGetOptInit(&state, args.argc(), args.argv.data(), table, count, 1, flags), 0);
    Strings trace;
    for (int guard = 0; guard < 50; guard++)
    {
        OptionValue v;
        memset(&v, 0xCC, sizeof(v));
        int const rc = RTGetOptNext(&state, &v);
        trace.push_back(Describe(rc, v, state.currentDef));
        if (rc == 0 || rc < 0)
            break;
        if (rc != INF_OPT_PLAIN_ARGUMENT)
        {
            EXPECT_NE(state.currentDef, nullptr);
            if (state.currentDef)
                EXPECT_EQ(state.currentDef->id, rc);
        }
    }
    return trace;
}

struct ParseCase
{
    Strings args;
    Strings expected;
};

const ParseCase kInstallerCases[] =
{
    { {}, { "end" } },
    { { "-?" }, { "h", "end" } },
    { { "/?" }, { "h", "end" } },
    { { "-h" }, { "h", "end" } },
    { { "--help", "-help", "/help" }, { "h", "h", "h", "end" } },
    { { "--version", "-version", "/version", "-V" }, { "V", "V", "V", "V", "end" } },
    { { "--extract", "-extract", "/extract", "-x" }, { "x", "x", "x", "x", "end" } },
    { { "--path", "--silent" }, { "p=--silent", "end" } },
    { { "--path" }, { "rc=-826" } },
    { { "-p" }, { "rc=-826" } },
    { { "--path=" }, { "p=", "end" } },
    { { "--path:C:\\x" }, { "p=C:\\x", "end" } },
    { { "/path=C:\\x" }, { "p=C:\\x", "end" } },
    { { "/path:C:\\x" }, { "p=C:\\x", "end" } },
    { { "-pC:\\x" }, { "p=C:\\x", "end" } },
    { { "-p:C:\\x" }, { "p=C:\\x", "end" } },
    { { "-p=x" }, { "p=x", "end" } },
    { { "-p", "-x" }, { "p=-x", "end" } },
    { { "-patha" }, { "p=atha", "end" } },
    { { "--pathx" }, { "rc=-825:--pathx" } },
    { { "--msi-log-file", "a.log", "-msilogfile=b.log" }, { "1000=a.log", "1000=b.log", "end" } },
    { { "--msi-prop=A", "--msiparams:X=1" }, { "P=A", "m=X=1", "end" } },
    { { "-vs" }, { "v", "s", "end" } },
    { { "-vq" }, { "v", "rc=-825:q" } },
    { { "-vsx", "-c" }, { "v", "s", "x", "c", "end" } },
    { { "-vpfoo", "-s" }, { "v", "p=foo", "s", "end" } },
    { { "-vp", "dir", "-s" }, { "v", "p=dir", "s", "end" } },
    { { "-vp:dir" }, { "v", "p=dir", "end" } },
    { { "-vp" }, { "v", "rc=-826" } },
    { { "--silent=yes" }, { "rc=-825:--silent=yes" } },
    { { "--SILENT" }, { "rc=-825:--SILENT" } },
    { { "-" }, { "rc=-825:-" } },
    { { "-1000" }, { "rc=-825:-1000" } },
    { { "--", "--help", "-x", "--" }, { "plain:--help", "plain:-x", "plain:--", "end" } },
    { { "-s", "--" }, { "s", "end" } },
    { { "a", "--silent", "b" }, { "plain:a", "s", "plain:b", "end" } },
    { { "--no-install-timestamp-ca", "--force-install-timestamp-ca", "--ignore-reboot" }, { "t", "T", "r", "end" } },
    { { "/silent", "-silent", "/no-silent-cert", "/logging", "/reinstall", "/verbose" }, { "s", "s", "c", "l", "f", "v", "end" } },
};

TEST(GetOptInstallerTable, Sequences)
{
    for (const ParseCase &c : kInstallerCases)
    {
        ArgVector args(c.args);
        EXPECT_EQ(Parse(kInstallerOptions, 36, args), c.expected) << "args: " << testing::PrintToString(c.args);
        EXPECT_EQ(args.current(), c.args) << "the vector is not reordered without OPT_INIT_MIXED";
    }
}

TEST(GetOptInstallerTable, WhichEntryMatched)
{
    struct Which
    {
        const char      *arg;
        const OptionDef *def;
    };
    const Which cases[] =
    {
        { "-h", &kInstallerOptions[32] },   // the first table entry with id 'h'
        { "/?", &kInstallerOptions[35] },
        { "-help", &kInstallerOptions[33] },
        { "-p=x", &kInstallerOptions[16] },
        { "-msilogfile=y", &kInstallerOptions[14] },
    };
    for (const Which &c : cases)
    {
        ArgVector args({ c.arg });
        OptionParserState state;
        ASSERT_EQ(RTGetOptInit(&state, args.argc(), args.argv.data(), kInstallerOptions, 36, 1, 0), 0);
        OptionValue v;
        EXPECT_GT(RTGetOptNext(&state, &v), 0) << c.arg;
        EXPECT_EQ(state.currentDef, c.def) << c.arg;
        EXPECT_EQ(state.currentIndex, OPT_INDEX_NONE);
    }

    // "-?" maps to the built-in "--help", which is not part of the caller's table.
    ArgVector args({ "-?" });
    OptionParserState state;
    ASSERT_EQ(RTGetOptInit(&state, args.argc(), args.argv.data(), kInstallerOptions, 36, 1, 0), 0);
    OptionValue v;
    ASSERT_EQ(RTGetOptNext(&state, &v), 'h');
    ASSERT_NE(state.currentDef, nullptr);
    EXPECT_STREQ(state.currentDef->longName, "--help");
    EXPECT_EQ(v.def, state.currentDef);
    EXPECT_TRUE(state.currentDef < kInstallerOptions || state.currentDef >= kInstallerOptions + 36);
}

TEST(GetOptInstallerTable, ValuesPointIntoTheVector)
{
    ArgVector args({ "--path=C:\\x", "-p", "D:\\y", "plain" });
    OptionParserState state;
    ASSERT_EQ(RTGetOptInit(&state, args.argc(), args.argv.data(), kInstallerOptions, 36, 1, 0), 0);
    OptionValue v;
    ASSERT_EQ(RTGetOptNext(&state, &v), 'p');
    EXPECT_EQ(v.str, args.argv[1] + 7);
    ASSERT_EQ(RTGetOptNext(&state, &v), 'p');
    EXPECT_EQ(v.str, args.argv[3]);
    ASSERT_EQ(RTGetOptNext(&state, &v), INF_OPT_PLAIN_ARGUMENT);
    EXPECT_EQ(v.str, args.argv[4]);
    EXPECT_EQ(state.currentDef, nullptr) << "a plain argument has no definition";
    // Once at the end, the parser stays there.
    EXPECT_EQ(RTGetOptNext(&state, &v), 0);
    EXPECT_EQ(RTGetOptNext(&state, &v), 0);
}

TEST(GetOptInstallerTable, BuiltinsCanBeSwitchedOff)
{
    const OptionDef table[] = { { "--x", 'x', 0 } };
    struct Case
    {
        const char *arg;
        uint32_t    flags;
        Strings     expected;
    };
    const Case cases[] =
    {
        { "--help", 0, { "h", "end" } },
        { "-version", 0, { "V", "end" } },
        { "-?", 0, { "h", "end" } },
        { "-V", 0, { "V", "end" } },
        { "--help", OPT_INIT_NO_BUILTINS, { "rc=-825:--help" } },
        { "-?", OPT_INIT_NO_BUILTINS, { "rc=-825:-?" } },
        { "-h", OPT_INIT_NO_BUILTINS, { "rc=-825:-h" } },
    };
    for (const Case &c : cases)
    {
        ArgVector args({ c.arg });
        EXPECT_EQ(Parse(table, 1, args, c.flags), c.expected) << c.arg;
    }
}

TEST(GetOptMixed, OptionsMoveInFrontOfPlainArguments)
{
    struct MixedCase
    {
        Strings args;
        Strings expected;
        Strings reordered;
    };
    const MixedCase cases[] =
    {
        { { "a", "--silent", "b" }, { "s", "plain:a", "plain:b", "end" }, { "--silent", "a", "b" } },
        { { "a", "b" }, { "plain:a", "plain:b", "end" }, { "a", "b" } },
        { { "a", "--path", "x", "b", "-v" }, { "p=x", "v", "plain:a", "plain:b", "end" }, { "--path", "x", "-v", "a", "b" } },
        { { "a", "-pv", "b" }, { "p=v", "plain:a", "plain:b", "end" }, { "-pv", "a", "b" } },
        { { "a", "-vp", "x" }, { "v", "p=x", "plain:a", "end" }, { "-vp", "x", "a" } },
        { { "a", "b", "--", "-s", "c" }, { "plain:a", "plain:b", "plain:-s", "plain:c", "end" }, { "--", "a", "b", "-s", "c" } },
        { { "a", "-s", "--", "-x" }, { "s", "plain:a", "plain:-x", "end" }, { "-s", "--", "a", "-x" } },
        // A value option at the very end after plain arguments: the value is missing.
        { { "a", "--path" }, { "rc=-826" }, { "--path", "a" } },
        { { "a", "b", "-p" }, { "rc=-826" }, { "-p", "a", "b" } },
        { { "a", "--bogus" }, { "rc=-825:--bogus" }, { "a", "--bogus" } },
    };
    for (const MixedCase &c : cases)
    {
        ArgVector args(c.args);
        EXPECT_EQ(Parse(kInstallerOptions, 36, args, OPT_INIT_MIXED), c.expected) << testing::PrintToString(c.args);
        EXPECT_EQ(args.current(), c.reordered) << testing::PrintToString(c.args);
    }
}

TEST(GetOptInit, StateAndFlags)
{
    char arg0[] = "prog";
    char *argv[] = { arg0, nullptr };
    OptionParserState state;
    memset(&state, 0x5A, sizeof(state));
    OptionParserState const before = state;
    EXPECT_EQ(RTGetOptInit(&state, 1, argv, kInstallerOptions, 36, 1, 4), ERR_BAD_ARGUMENT);
    EXPECT_EQ(memcmp(&state, &before, sizeof(state)), 0) << "a refused init leaves the state alone";

    ASSERT_EQ(RTGetOptInit(&state, 1, argv, kInstallerOptions, 36, 1, OPT_INIT_MIXED | OPT_INIT_NO_BUILTINS), 0);
    EXPECT_EQ(state.nextIndex, 1);
    EXPECT_EQ(state.nextShort, nullptr);
    EXPECT_EQ(state.currentDef, nullptr);
    EXPECT_EQ(state.currentIndex, OPT_INDEX_NONE);
    EXPECT_EQ(state.skipped, 0);
    OptionValue v;
    EXPECT_EQ(RTGetOptNext(&state, &v), 0) << "first index equal to the count: nothing to parse";
}

TEST(GetOptTakeValue, SecondValueOfAnOption)
{
    {
        ArgVector args({ "--msi-prop", "A", "1", "x" });
        OptionParserState state;
        ASSERT_EQ(RTGetOptInit(&state, args.argc(), args.argv.data(), kInstallerOptions, 36, 1, 0), 0);
        OptionValue v;
        ASSERT_EQ(RTGetOptNext(&state, &v), 'P');
        EXPECT_STREQ(v.str, "A");
        ASSERT_EQ(RTGetOptTakeValue(&state, &v, OPT_TYPE_STRING), 0);
        EXPECT_STREQ(v.str, "1");
        ASSERT_EQ(RTGetOptNext(&state, &v), INF_OPT_PLAIN_ARGUMENT);
        EXPECT_STREQ(v.str, "x");
        EXPECT_EQ(RTGetOptTakeValue(&state, &v, OPT_TYPE_STRING), ERR_OPT_VALUE_MISSING);
    }
    {
        // Mixed mode: the taken value moves in front of the skipped plain argument.
        ArgVector args({ "x", "--msi-prop", "A", "1" });
        OptionParserState state;
        ASSERT_EQ(RTGetOptInit(&state, args.argc(), args.argv.data(), kInstallerOptions, 36, 1, OPT_INIT_MIXED), 0);
        OptionValue v;
        ASSERT_EQ(RTGetOptNext(&state, &v), 'P');
        ASSERT_EQ(RTGetOptTakeValue(&state, &v, OPT_TYPE_UINT8), 0);
        EXPECT_EQ(v.u8, 1);
        EXPECT_EQ(args.current(), Strings({ "--msi-prop", "A", "1", "x" }));
        ASSERT_EQ(RTGetOptNext(&state, &v), INF_OPT_PLAIN_ARGUMENT);
        EXPECT_STREQ(v.str, "x");
    }
    {
        ArgVector args({ "--msi-prop", "A", "zz" });
        OptionParserState state;
        ASSERT_EQ(RTGetOptInit(&state, args.argc(), args.argv.data(), kInstallerOptions, 36, 1, 0), 0);
        OptionValue v;
        ASSERT_EQ(RTGetOptNext(&state, &v), 'P');
        const OptionDef *const def = state.currentDef;
        // Refused type flags clear the record and take nothing.
        const uint32_t badFlags[] = { OPT_TYPE_NONE, OPT_TYPE_STRING | 0x20, OPT_TYPE_STRING | 0x1000000 };
        for (uint32_t flags : badFlags)
        {
            memset(&v, 0xCC, sizeof(v));
            EXPECT_EQ(RTGetOptTakeValue(&state, &v, flags), ERR_BAD_ARGUMENT) << flags;
            EXPECT_EQ(v.u64, 0u);
        }
        EXPECT_EQ(RTGetOptTakeValue(&state, &v, OPT_TYPE_UINT32), ERR_OPT_VALUE_FORMAT);
        EXPECT_EQ(v.def, def) << "the record names the option whose value was refused";
    }
}

// Value types: one option per type.
enum
{
    kStr = 1000, kI8, kU8, kI16, kU16, kI32, kU32, kI64, kU64, kIPv4, kCidr, kMac, kUuid,
    kOnOff, kBool, kPair32, kPair64, kPair32Opt, kPair64Opt, kHex, kOct, kDec, kOctPair,
    kHexPair, kType12, kType13, kType22, kStrHex, kHexOct,
};

const OptionDef kTypedOptions[] =
{
    { "--str",     kStr,       OPT_TYPE_STRING },
    { "--i8",      kI8,        OPT_TYPE_INT8 },
    { "--u8",      kU8,        OPT_TYPE_UINT8 },
    { "--i16",     kI16,       OPT_TYPE_INT16 },
    { "--u16",     kU16,       OPT_TYPE_UINT16 },
    { "--i32",     kI32,       OPT_TYPE_INT32 },
    { "--u32",     kU32,       OPT_TYPE_UINT32 },
    { "--i64",     kI64,       OPT_TYPE_INT64 },
    { "--u64",     kU64,       OPT_TYPE_UINT64 },
    { "--ipv4",    kIPv4,      OPT_TYPE_IPV4 },
    { "--cidr",    kCidr,      OPT_TYPE_IPV4_CIDR },
    { "--mac",     kMac,       OPT_TYPE_MAC },
    { "--uuid",    kUuid,      OPT_TYPE_UUID },
    { "--onoff",   kOnOff,     OPT_TYPE_ON_OFF },
    { "--bool",    kBool,      OPT_TYPE_BOOL },
    { "--pair32",  kPair32,    OPT_TYPE_UINT32_PAIR },
    { "--pair64",  kPair64,    OPT_TYPE_UINT64_PAIR },
    { "--pair32o", kPair32Opt, OPT_TYPE_UINT32_PAIR_OPT },
    { "--pair64o", kPair64Opt, OPT_TYPE_UINT64_PAIR_OPT },
    { "--hex",     kHex,       OPT_TYPE_UINT32 | OPT_FLAG_HEX },
    { "--oct",     kOct,       OPT_TYPE_UINT32 | OPT_FLAG_OCT },
    { "--dec",     kDec,       OPT_TYPE_INT32 | OPT_FLAG_DEC },
    { "--octpair", kOctPair,   OPT_TYPE_UINT32_PAIR | OPT_FLAG_OCT },
    { "--hexpair", kHexPair,   OPT_TYPE_UINT32_PAIR | OPT_FLAG_HEX },
    { "--type12",  kType12,    12 },
    { "--type13",  kType13,    13 },
    { "--type22",  kType22,    22 },
    { "--strhex",  kStrHex,    OPT_TYPE_STRING | OPT_FLAG_HEX },
    { "--hexoct",  kHexOct,    OPT_TYPE_UINT32 | OPT_FLAG_HEX | OPT_FLAG_OCT },
};

std::string Hex(const uint8_t *bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++)
        s += std::string(1, digits[bytes[i] >> 4]) + digits[bytes[i] & 15];
    return s;
}

// The member a type writes, as text.
std::string ValueText(uint32_t type, const OptionValue &v)
{
    switch (type)
    {
        case OPT_TYPE_STRING:   return v.str;
        case OPT_TYPE_INT8:     return std::to_string(v.i8);
        case OPT_TYPE_UINT8:    return std::to_string(v.u8);
        case OPT_TYPE_INT16:    return std::to_string(v.i16);
        case OPT_TYPE_UINT16:   return std::to_string(v.u16);
        case OPT_TYPE_INT32:    return std::to_string(v.i32);
        case OPT_TYPE_UINT32:   return std::to_string(v.u32);
        case OPT_TYPE_INT64:    return std::to_string(v.i64);
        case OPT_TYPE_UINT64:   return std::to_string(v.u64);
        case OPT_TYPE_IPV4:     return Hex(v.ipv4.bytes, 4);
        case OPT_TYPE_IPV4_CIDR:
        {
            char buf[32];
            snprintf(buf, sizeof(buf), "%08x/%08x", v.cidr.addr, v.cidr.mask);
            return buf;
        }
        case OPT_TYPE_MAC:      return Hex(v.mac.bytes, 6);
        case OPT_TYPE_UUID:     return Hex(v.uuid.bytes, 16);
        case OPT_TYPE_ON_OFF:
        case OPT_TYPE_BOOL:     return std::to_string(v.f);
        case OPT_TYPE_UINT32_PAIR:
        case OPT_TYPE_UINT32_PAIR_OPT:
            return std::to_string(v.pairU32.first) + "," + std::to_string(v.pairU32.second);
        default:
            return std::to_string(v.pairU64.first) + "," + std::to_string(v.pairU64.second);
    }
}

struct ValueCase
{
    const char *option;
    const char *value;
    int         rc;
    const char *expected;   // the converted value as ValueText gives it (rc > 0 only)
};

const ValueCase kValueCases[] =
{
    { "--str", "", kStr, "" },
    { "--str", "-x y", kStr, "-x y" },
    { "--u8", "255", kU8, "255" },
    { "--u8", "256", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--u8", "0xff", kU8, "255" },
    { "--u8", "0XFF", kU8, "255" },
    { "--u8", "0x", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--u8", "0x100", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--u8", "-1", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--u8", " 1", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--u8", "1 ", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--u8", "", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--i8", "-128", kI8, "-128" },
    { "--i8", "127", kI8, "127" },
    { "--i8", "128", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--i8", "-129", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--i16", "-32768", kI16, "-32768" },
    { "--u16", "65535", kU16, "65535" },
    { "--u16", "65536", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--i32", "0x7fffffff", kI32, "2147483647" },
    { "--i32", "-2147483648", kI32, "-2147483648" },
    { "--u32", "010", kU32, "10" },                        // decimal, not octal
    { "--u32", "4294967296", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--u32", "12abc", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--i64", "-9223372036854775808", kI64, "-9223372036854775808" },
    { "--u64", "18446744073709551615", kU64, "18446744073709551615" },
    { "--u64", "0xffffffffffffffff", kU64, "18446744073709551615" },
    { "--u64", "18446744073709551616", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--hex", "ff", kHex, "255" },
    { "--hex", "0x10", kHex, "16" },
    { "--hex", "fg", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--oct", "17", kOct, "15" },
    { "--oct", "8", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--dec", "-12", kDec, "-12" },
    { "--dec", "0x10", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--ipv4", "10.0.0.1", kIPv4, "0a000001" },
    { "--ipv4", "10.0.0", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--ipv4", "256.0.0.1", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--cidr", "10.1.0.0/16", kCidr, "0a010000/ffff0000" },
    { "--cidr", "10.1.2.3/24", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--mac", "00:1a:2B:3c:4d:5e", kMac, "001a2b3c4d5e" },
    { "--mac", "00-1a-2b-3c-4d-5e", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--uuid", "00112233-4455-6677-8899-aabbccddeeff", kUuid, "33221100554477668899aabbccddeeff" },
    { "--uuid", "{00112233-4455-6677-8899-AABBCCDDEEFF}", kUuid, "33221100554477668899aabbccddeeff" },
    { "--uuid", "{00112233-4455-6677-8899-aabbccddeeff", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--bool", "YES", kBool, "1" },
    { "--bool", "true", kBool, "1" },
    { "--bool", "e", kBool, "1" },
    { "--bool", "1", kBool, "1" },
    { "--bool", "On", kBool, "1" },
    { "--bool", "0", kBool, "0" },
    { "--bool", "Disabled", kBool, "0" },
    { "--bool", "dis", kBool, "0" },
    { "--bool", "OFF", kBool, "0" },
    { "--bool", "maybe", ERR_OPT_UNKNOWN, nullptr },
    { "--bool", "01", ERR_OPT_UNKNOWN, nullptr },
    { "--bool", "", ERR_OPT_UNKNOWN, nullptr },
    { "--onoff", "ON", kOnOff, "1" },
    { "--onoff", "off", kOnOff, "0" },
    { "--onoff", "yes", ERR_OPT_UNKNOWN, nullptr },
    { "--pair32", "5:7", kPair32, "5,7" },
    { "--pair32", "5 / 7", kPair32, "5,7" },
    { "--pair32", "0x10|0x20", kPair32, "16,32" },
    { "--pair32", "5 7", kPair32, "5,7" },
    { "--pair32", "5", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--pair32", "5:", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--pair32", "5:7x", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--pair32", "5:7 ", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--pair32", "4294967296:1", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--pair32o", "7", kPair32Opt, "7,4294967295" },
    { "--pair32o", "7:", ERR_OPT_VALUE_FORMAT, nullptr },
    { "--pair32o", "7:8", kPair32Opt, "7,8" },
    { "--pair64", "1:18446744073709551615", kPair64, "1,18446744073709551615" },
    { "--pair64o", "9", kPair64Opt, "9,18446744073709551615" },
    { "--octpair", "010:10", kOctPair, "8,8" },
    { "--octpair", "0x10:9", ERR_OPT_VALUE_FORMAT, nullptr },  // the hexadecimal prefix wins; 9 is no octal digit
    { "--hexpair", "10:ff", kHexPair, "16,255" },
    { "--type12", "1", ERR_INTERNAL, nullptr },
    { "--type13", "1", ERR_INTERNAL, nullptr },
    { "--type22", "1", ERR_INTERNAL, nullptr },
    { "--strhex", "1", ERR_INTERNAL, nullptr },
    { "--hexoct", "1", ERR_INTERNAL, nullptr },
};

TEST(GetOptValueTypes, Conversions)
{
    for (const ValueCase &c : kValueCases)
    {
        // Each value is given three ways: after '=', after ':' and as the next argument.
        const std::string joined[] = { std::string(c.option) + "=" + c.value, std::string(c.option) + ":" + c.value };
        const Strings forms[] = { { joined[0] }, { joined[1] }, { c.option, c.value } };
        for (const Strings &form : forms)
        {
            SCOPED_TRACE(testing::PrintToString(form));
            ArgVector args(form);
            OptionParserState state;
            ASSERT_EQ(RTGetOptInit(&state, args.argc(), args.argv.data(), kTypedOptions,
                                   RT_ELEMENTS(kTypedOptions), 1, 0), 0);
            OptionValue v;
            memset(&v, 0xCC, sizeof(v));
            int const rc = RTGetOptNext(&state, &v);
            ASSERT_EQ(rc, c.rc);
            if (rc > 0)
            {
                EXPECT_EQ(ValueText(state.currentDef->flags & OPT_TYPE_MASK, v), c.expected);
                EXPECT_EQ(RTGetOptNext(&state, &v), 0);
            }
            else
            {
                EXPECT_EQ(state.currentDef, nullptr);
                if (rc == ERR_OPT_UNKNOWN)
                    EXPECT_STREQ(v.str, c.value) << "an unaccepted word is handed back";
                else
                {
                    ASSERT_TRUE(v.def >= kTypedOptions && v.def < kTypedOptions + RT_ELEMENTS(kTypedOptions));
                    EXPECT_STREQ(v.def->longName, c.option) << "the record names the definition";
                }
            }
        }
    }
}

TEST(GetOptValueTypes, NumericShortOptionsAndBundles)
{
    const OptionDef table[] =
    {
        { nullptr, 'n', OPT_TYPE_UINT16 },   // reachable only as -n
        { "--all", 'a', 0 },
        { "--bool", 'b', OPT_TYPE_BOOL },
    };
    struct Case
    {
        Strings args;
        Strings expected;
    };
    const Case cases[] =
    {
        { { "-n7" }, { "n", "end" } },
        { { "-n", "0x10" }, { "n", "end" } },
        { { "-n=70000" }, { "rc=-827" } },
        { { "-an:9" }, { "a", "n", "end" } },
        { { "-ab", "nah" }, { "a", "rc=-825:nah" } },
        { { "-byes", "-a" }, { "b", "a", "end" } },
    };
    for (const Case &c : cases)
    {
        ArgVector args(c.args);
        EXPECT_EQ(Parse(table, RT_ELEMENTS(table), args), c.expected) << testing::PrintToString(c.args);
    }
    ArgVector args({ "-an", "513" });
    OptionParserState state;
    ASSERT_EQ(RTGetOptInit(&state, args.argc(), args.argv.data(), table, RT_ELEMENTS(table), 1, 0), 0);
    OptionValue v;
    ASSERT_EQ(RTGetOptNext(&state, &v), 'a');
    ASSERT_EQ(RTGetOptNext(&state, &v), 'n');
    EXPECT_EQ(v.u16, 513);
    EXPECT_EQ(RTGetOptNext(&state, &v), 0);
}

TEST(GetOptIndex, IndexSuffixes)
{
    const OptionDef table[] =
    {
        { "--disk",  10, OPT_TYPE_STRING | OPT_FLAG_INDEX },
        { "--dflt",  11, OPT_TYPE_STRING | OPT_FLAG_INDEX | OPT_FLAG_INDEX_DEFAULT_1 },
        { "--dash",  12, OPT_TYPE_STRING | OPT_FLAG_INDEX | OPT_FLAG_INDEX_DASH },
        { "--flag",  13, OPT_FLAG_INDEX },
        { "--flagd", 14, OPT_FLAG_INDEX | OPT_FLAG_INDEX_DEFAULT_3 },
        { "--nump",  15, OPT_TYPE_UINT8 | OPT_FLAG_INDEX | OPT_FLAG_INDEX_DEFAULT_3 },
    };
    struct Case
    {
        Strings     args;
        int         rc;
        uint32_t    index;
        const char *value;   // text, or the number for --nump
    };
    const Case cases[] =
    {
        { { "--disk2=x" }, 10, 2, "x" },
        { { "--disk2:x" }, 10, 2, "x" },
        { { "--disk17", "y" }, 10, 17, "y" },
        { { "--disk0=" }, 10, 0, "" },
        { { "--disk" }, ERR_OPT_INDEX_MISSING, OPT_INDEX_NONE, nullptr },
        { { "--disk", "x" }, ERR_OPT_INDEX_MISSING, OPT_INDEX_NONE, nullptr },
        { { "--disk=x" }, ERR_OPT_VALUE_FORMAT, OPT_INDEX_NONE, nullptr },
        { { "--disk2" }, ERR_OPT_VALUE_MISSING, OPT_INDEX_NONE, nullptr },
        { { "--disk99999999999=x" }, ERR_OPT_VALUE_FORMAT, OPT_INDEX_NONE, nullptr },
        { { "--disk2x" }, ERR_OPT_UNKNOWN, OPT_INDEX_NONE, nullptr },
        { { "--dflt=x" }, 11, 0, "x" },
        { { "--dflt", "z" }, 11, 0, "z" },
        { { "--dflt7:q" }, 11, 7, "q" },
        { { "--dash-3=x" }, 12, 3, "x" },
        { { "--dash3=x" }, 12, 3, "x" },
        { { "--dash-=x" }, ERR_OPT_UNKNOWN, OPT_INDEX_NONE, nullptr },
        { { "--flag5" }, 13, 5, nullptr },
        { { "--flag" }, ERR_OPT_INDEX_MISSING, OPT_INDEX_NONE, nullptr },
        { { "--flag5=1" }, ERR_OPT_UNKNOWN, OPT_INDEX_NONE, nullptr },
        { { "--flag99999999999" }, ERR_OPT_VALUE_FORMAT, OPT_INDEX_NONE, nullptr },
        { { "--flagd" }, 14, OPT_INDEX_NONE, nullptr },
        { { "--flagd4" }, 14, 4, nullptr },
        { { "--nump=9" }, 15, 2, "9" },
        { { "--nump3", "0x20" }, 15, 3, "32" },
        { { "--nump3=300" }, ERR_OPT_VALUE_FORMAT, OPT_INDEX_NONE, nullptr },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.args));
        ArgVector args(c.args);
        OptionParserState state;
        ASSERT_EQ(RTGetOptInit(&state, args.argc(), args.argv.data(), table, RT_ELEMENTS(table), 1, 0), 0);
        OptionValue v;
        int const rc = RTGetOptNext(&state, &v);
        ASSERT_EQ(rc, c.rc);
        EXPECT_EQ(state.currentIndex, c.index);
        if (rc == 15)
            EXPECT_EQ(std::to_string(v.u8), c.value);
        else if (rc > 0 && c.value)
            EXPECT_STREQ(v.str, c.value);
        if (rc == ERR_OPT_INDEX_MISSING || rc == ERR_OPT_VALUE_MISSING || rc == ERR_OPT_VALUE_FORMAT)
            EXPECT_TRUE(v.def >= table && v.def < table + RT_ELEMENTS(table));
    }
}

TEST(GetOptCase, IgnoreCaseEntries)
{
    const OptionDef table[] =
    {
        { "--Mode",  20, OPT_TYPE_STRING | OPT_FLAG_ICASE },
        { "--quiet", 21, OPT_FLAG_ICASE },
        { "--exact", 22, 0 },
    };
    struct Case
    {
        const char *arg;
        Strings     expected;
    };
    const Case cases[] =
    {
        { "--mode=a", { "20=a", "end" } },
        { "--MODE:b", { "20=b", "end" } },
        { "--QUIET", { "21", "end" } },
        { "--Quiet", { "21", "end" } },
        { "--qu\xc3\xad" "et", { "rc=-825:--qu\xc3\xad" "et" } },
        { "--quiet2", { "rc=-825:--quiet2" } },
        { "--EXACT", { "rc=-825:--EXACT" } },
    };
    for (const Case &c : cases)
    {
        ArgVector args({ c.arg });
        EXPECT_EQ(Parse(table, RT_ELEMENTS(table), args), c.expected) << c.arg;
    }
}

} // namespace

namespace {

// Reads back what RTGetOptReportError printed, with standard error pointed at a file.
struct ErrorCapture
{
    ErrorCapture()
    {
        EXPECT_EQ(RTR3Init(0, nullptr, RTR3INIT_FLAG_SYSTEM32_ONLY), 0);
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        path = std::string(dir) + "getopt_report_" + std::to_string(GetCurrentProcessId()) + ".txt";
        EXPECT_EQ(RTStreamOpen(path.c_str(), "w", &stream), 0);
        saved = StreamStdErr;
        StreamStdErr = stream;
    }
    std::string Finish()
    {
        StreamStdErr = saved;
        EXPECT_EQ(RTStreamClose(stream), 0);
        std::string text;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        char buf[4096];
        DWORD got = 0;
        while (h != INVALID_HANDLE_VALUE && ReadFile(h, buf, sizeof(buf), &got, nullptr) && got)
            text.append(buf, got);
        CloseHandle(h);
        DeleteFileA(path.c_str());
        return text;
    }
    std::string path;
    Stream *stream = nullptr;
    Stream *saved = nullptr;
};

TEST(GetOptReportError, OneLinePerResult)
{
    const OptionDef *const path = &kInstallerOptions[16];
    struct Case
    {
        int              rc;
        const char      *text;   // the record's text member, or null
        const OptionDef *def;    // the record's first member, when text is null
        const char      *line;
    };
    const Case cases[] =
    {
        { INF_OPT_PLAIN_ARGUMENT, "foo", nullptr, "Invalid parameter: foo" },
        { 'x', nullptr, path, "Unhandled option: -x" },
        { 1000, nullptr, path, "Unhandled option: 1000 (0x3e8)" },
        { 127, nullptr, path, "Unhandled option: 127 (0x7f)" },
        { ERR_OPT_UNKNOWN, "--bogus", nullptr, "Unknown option: '--bogus'" },
        { ERR_OPT_VALUE_MISSING, nullptr, nullptr, "an option that needs a value has none (option parser)" },
        { ERR_OPT_VALUE_FORMAT, nullptr, path, "The value given '--path' has an invalid format." },
        { ERR_OPT_VALUE_MISSING, nullptr, path, "--path: an option that needs a value has none (option parser)" },
    };
    ErrorCapture capture;
    for (const Case &c : cases)
    {
        OptionValue v;
        memset(&v, 0, sizeof(v));
        if (c.text)
            v.str = c.text;
        else
            v.def = c.def;
        EXPECT_EQ(RTGetOptReportError(c.rc, &v), 2) << c.rc;
    }
    std::string const out = capture.Finish();

    std::string const prefix = std::string(ProcessInfo.execPath + ProcessInfo.fileNameOffset) + ": error: ";
    std::string expected;
    for (const Case &c : cases)
        expected += prefix + c.line + "\r\n";
    EXPECT_EQ(out, expected);
}

} // namespace
