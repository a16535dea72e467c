// The table-driven option parser: one call per option, no allocation, no copies.
#include "kelp/getopt.h"
#include "kelp/err.h"
#include "kelp/message.h"
#include "kelp/number.h"
#include "kelp/string.h"

namespace {

const OptionDef g_builtinOptions[] =
{
    { "--help",    'h', 0 },
    { "-help",     'h', 0 },
    { "--version", 'V', 0 },
    { "-version",  'V', 0 },
};

inline bool rtOptIsDigit(char ch) { return ch >= '0' && ch <= '9'; }

inline bool rtOptIsHexDigit(char ch)
{
    return rtOptIsDigit(ch) || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

inline unsigned char rtOptFold(unsigned char ch)
{
    return ch >= 'A' && ch <= 'Z' ? (unsigned char)(ch + 0x20) : ch;
}

inline bool rtOptHasHexPrefix(const char *text)
{
    return text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && rtOptIsHexDigit(text[2]);
}

size_t rtOptLen(const char *s)
{
    size_t n = 0;
    while (s[n])
        n++;
    return n;
}

// Case-insensitive over the name's bytes: only ASCII letters fold, and an argument byte of
// 128 or more (part of a code point above ASCII) never equals a name byte.
bool rtOptPrefixEqualsNoCase(const char *arg, const char *name, size_t len)
{
    for (size_t i = 0; i < len; i++)
    {
        unsigned char const a = (unsigned char)arg[i];
        if (a == 0 || a >= 0x80)
            return false;
        if (rtOptFold(a) != rtOptFold((unsigned char)name[i]))
            return false;
    }
    return true;
}

bool rtOptPrefixMatches(const char *arg, const OptionDef &def, size_t len)
{
    for (size_t i = 0; i < len; i++)
        if (arg[i] != def.longName[i])
            return (def.flags & OPT_FLAG_ICASE) && rtOptPrefixEqualsNoCase(arg, def.longName, len);
    return true;
}

// Where an argument matches an entry, returns the position after the long name (and, for
// index options, after the index): null when it does not match.
const char *rtOptMatchLong(const char *arg, const OptionDef &def)
{
    if (!def.longName)
        return nullptr;
    size_t const len = rtOptLen(def.longName);
    bool const hasValue = (def.flags & OPT_TYPE_MASK) != OPT_TYPE_NONE;
    if (hasValue || (def.flags & OPT_FLAG_INDEX))
    {
        if (!rtOptPrefixMatches(arg, def, len))
            return nullptr;
        const char *p = arg + len;
        if ((def.flags & OPT_FLAG_INDEX_DASH) && p[0] == '-' && rtOptIsDigit(p[1]))
            p++;
        if (def.flags & OPT_FLAG_INDEX)
            while (rtOptIsDigit(*p))
                p++;
        if (*p == '\0')
            return p;
        if (hasValue && (*p == ':' || *p == '='))
            return p;
        return nullptr;
    }
    if (rtOptLen(arg) != len)
        return nullptr;
    if (!rtOptPrefixMatches(arg, def, len))
        return nullptr;
    return arg + len;
}

const OptionDef *rtOptLookupLong(const OptionParserState *s, const char *arg, const char **end)
{
    for (uint32_t i = 0; i < s->optionCount; i++)
        if ((*end = rtOptMatchLong(arg, s->options[i])) != nullptr)
            return &s->options[i];
    if (!(s->initFlags & OPT_INIT_NO_BUILTINS))
        for (const OptionDef &def : g_builtinOptions)
        {
            const char *name = def.longName;
            const char *a = arg;
            while (*name && *a == *name)
                name++, a++;
            if (*name == '\0' && *a == '\0')
            {
                *end = a;
                return &def;
            }
        }
    return nullptr;
}

const OptionDef *rtOptLookupShort(const OptionParserState *s, char letter)
{
    int32_t const c = (signed char)letter;
    for (uint32_t i = 0; i < s->optionCount; i++)
        if (s->options[i].id == c)
            return &s->options[i];
    if (!(s->initFlags & OPT_INIT_NO_BUILTINS))
    {
        for (const OptionDef &def : g_builtinOptions)
            if (def.id == c)
                return &def;
        if (c == '?')
            return &g_builtinOptions[0];
    }
    return nullptr;
}

// Moves the argument at `from` to `to` (to <= from), shifting those in between up by one.
void rtOptMoveArg(OptionParserState *s, int32_t to, int32_t from)
{
    char *moved = s->argv[from];
    for (int32_t i = from; i > to; i--)
        s->argv[i] = s->argv[i - 1];
    s->argv[to] = moved;
}

inline int32_t rtOptSkipped(const OptionParserState *s)
{
    return s->skipped == OPT_SKIPPED_ALL_PLAIN ? 0 : s->skipped;
}

bool rtOptWordIs(const char *text, const char *word)
{
    return RTStrCompareAsciiNoCase(text, word) == 0;
}

int rtOptConvertBool(const char *text, uint32_t type, OptionValue *value)
{
    static const char *const s_true[] = { "true", "t", "yes", "y", "enabled", "enable", "en", "e", "on" };
    static const char *const s_false[] = { "false", "f", "no", "n", "disabled", "disable", "dis", "d", "off" };
    if (type == OPT_TYPE_ON_OFF)
    {
        if (rtOptWordIs(text, "on"))
            return value->f = 1, 0;
        if (rtOptWordIs(text, "off"))
            return value->f = 0, 0;
    }
    else
    {
        for (const char *w : s_true)
            if (rtOptWordIs(text, w))
                return value->f = 1, 0;
        if (text[0] == '1' && text[1] == '\0')
            return value->f = 1, 0;
        for (const char *w : s_false)
            if (rtOptWordIs(text, w))
                return value->f = 0, 0;
        if (text[0] == '0' && text[1] == '\0')
            return value->f = 0, 0;
    }
    value->str = text;
    return ERR_OPT_UNKNOWN;
}

// Whole-text integer conversion of the type's width and signedness into a 64-bit slot.
int rtOptToInt(const char *text, uint32_t type, uint32_t base, uint64_t *out)
{
    int rc;
    switch (type)
    {
        case OPT_TYPE_INT8:   { int8_t v = 0;   rc = RTStrToI8Whole(text, base, &v);  *out = (uint64_t)(int64_t)v; break; }
        case OPT_TYPE_UINT8:  { uint8_t v = 0;  rc = RTStrToU8Whole(text, base, &v);  *out = v; break; }
        case OPT_TYPE_INT16:  { int16_t v = 0;  rc = RTStrToI16Whole(text, base, &v); *out = (uint64_t)(int64_t)v; break; }
        case OPT_TYPE_UINT16: { uint16_t v = 0; rc = RTStrToU16Whole(text, base, &v); *out = v; break; }
        case OPT_TYPE_INT32:  { int32_t v = 0;  rc = RTStrToI32Whole(text, base, &v); *out = (uint64_t)(int64_t)v; break; }
        case OPT_TYPE_UINT32: { uint32_t v = 0; rc = RTStrToU32Whole(text, base, &v); *out = v; break; }
        case OPT_TYPE_INT64:  { int64_t v = 0;  rc = RTStrToI64Whole(text, base, &v); *out = (uint64_t)v; break; }
        default:              { uint64_t v = 0; rc = RTStrToU64Whole(text, base, &v); *out = v; break; }
    }
    return rc;
}

void rtOptStoreInt(uint32_t type, uint64_t v, OptionValue *value)
{
    switch (type)
    {
        case OPT_TYPE_INT8:   value->i8 = (int8_t)v; break;
        case OPT_TYPE_UINT8:  value->u8 = (uint8_t)v; break;
        case OPT_TYPE_INT16:  value->i16 = (int16_t)v; break;
        case OPT_TYPE_UINT16: value->u16 = (uint16_t)v; break;
        case OPT_TYPE_INT32:  value->i32 = (int32_t)v; break;
        case OPT_TYPE_UINT32: value->u32 = (uint32_t)v; break;
        case OPT_TYPE_INT64:  value->i64 = (int64_t)v; break;
        default:              value->u64 = v; break;
    }
}

uint32_t rtOptPairBase(const char *text, uint32_t baseFlag)
{
    if (baseFlag == OPT_FLAG_HEX || rtOptHasHexPrefix(text))
        return 16;
    return baseFlag == OPT_FLAG_OCT ? 8 : 10;
}

int rtOptPrefixNumber(const char *text, bool wide, uint32_t base, const char **end, uint64_t *out)
{
    if (wide)
        return RTStrToU64Prefix(text, end, base, out);
    uint32_t v = 0;
    int rc = RTStrToU32Prefix(text, end, base, &v);
    *out = v;
    return rc;
}

int rtOptConvertPair(const char *text, uint32_t type, uint32_t baseFlag, OptionValue *value)
{
    bool const wide = type == OPT_TYPE_UINT64_PAIR || type == OPT_TYPE_UINT64_PAIR_OPT;
    bool const optional = type == OPT_TYPE_UINT32_PAIR_OPT || type == OPT_TYPE_UINT64_PAIR_OPT;
    uint64_t first = 0, second = 0;
    const char *end = nullptr;
    int rc = rtOptPrefixNumber(text, wide, rtOptPairBase(text, baseFlag), &end, &first);
    if (rc != 0 && rc != WRN_TRAILING_TEXT && rc != WRN_TRAILING_BLANKS)
        return ERR_OPT_VALUE_FORMAT;

    const char *p = end;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p == ':' || *p == '/' || *p == '|')
        p++;
    while (*p == ' ' || *p == '\t')
        p++;
    if (p == end)
    {
        if (!optional)
            return ERR_OPT_VALUE_FORMAT;
        second = wide ? UINT64_MAX : UINT32_MAX;
    }
    else
    {
        rc = rtOptPrefixNumber(p, wide, rtOptPairBase(p, baseFlag), &end, &second);
        if (rc != 0 || *end != '\0')
            return ERR_OPT_VALUE_FORMAT;
    }
    if (wide)
    {
        value->pairU64.first = first;
        value->pairU64.second = second;
    }
    else
    {
        value->pairU32.first = (uint32_t)first;
        value->pairU32.second = (uint32_t)second;
    }
    return 0;
}

int rtOptConvertValue(const char *text, uint32_t flags, OptionValue *value)
{
    uint32_t const type = flags & OPT_TYPE_MASK;
    uint32_t const baseFlag = flags & OPT_FLAG_BASE_MASK;
    bool const isInt = type >= OPT_TYPE_INT8 && type <= OPT_TYPE_UINT64;
    bool const isPair = type >= OPT_TYPE_UINT32_PAIR && type <= OPT_TYPE_UINT64_PAIR_OPT;
    if (baseFlag && ((baseFlag & (baseFlag - 1)) || (!isInt && !isPair)))
        return ERR_INTERNAL;

    if (isInt)
    {
        uint64_t v = 0;
        int rc;
        if (baseFlag)
            rc = rtOptToInt(text, type, baseFlag == OPT_FLAG_HEX ? 16 : baseFlag == OPT_FLAG_OCT ? 8 : 10, &v);
        else
        {
            rc = rtOptToInt(text, type, 10, &v);
            if (rc != 0 && rtOptHasHexPrefix(text))
                rc = rtOptToInt(text, type, 16, &v);
        }
        if (rc != 0)
            return ERR_OPT_VALUE_FORMAT;
        rtOptStoreInt(type, v, value);
        return 0;
    }
    if (isPair)
        return rtOptConvertPair(text, type, baseFlag, value);

    switch (type)
    {
        case OPT_TYPE_STRING:
            value->str = text;
            return 0;
        case OPT_TYPE_IPV4:
        {
            RTNETADDRIPV4 addr;
            if (RT_FAILURE(RTNetParseIPv4(text, &addr)))
                return ERR_OPT_VALUE_FORMAT;
            value->ipv4 = addr;
            return 0;
        }
        case OPT_TYPE_IPV4_CIDR:
        {
            uint32_t addr = 0, mask = 0;
            if (RT_FAILURE(RTNetParseIPv4Cidr(text, &addr, &mask)))
                return ERR_OPT_VALUE_FORMAT;
            value->cidr.addr = addr;
            value->cidr.mask = mask;
            return 0;
        }
        case OPT_TYPE_MAC:
        {
            RTMAC mac;
            if (RT_FAILURE(RTNetParseMac(text, &mac)))
                return ERR_OPT_VALUE_FORMAT;
            value->mac = mac;
            return 0;
        }
        case OPT_TYPE_UUID:
        {
            RTUUID uuid;
            if (RTUuidParse(&uuid, text) != 0)
                return ERR_OPT_VALUE_FORMAT;
            value->uuid = uuid;
            return 0;
        }
        case OPT_TYPE_ON_OFF:
        case OPT_TYPE_BOOL:
            return rtOptConvertBool(text, type, value);
        default:
            return ERR_INTERNAL;
    }
}

// The option's value is the argument after the option's own one (at `ownIndex`).
int rtOptValueFromNextArg(OptionParserState *s, int32_t ownIndex, const char **text)
{
    int32_t const skipped = rtOptSkipped(s);
    if (ownIndex + skipped + 1 >= s->argc)
        return ERR_OPT_VALUE_MISSING;
    if ((s->initFlags & OPT_INIT_MIXED) && skipped)
        rtOptMoveArg(s, ownIndex + 1, ownIndex + skipped + 1);
    *text = s->argv[ownIndex + 1];
    s->nextIndex++;
    return 0;
}

uint32_t rtOptIndexDefault(const OptionDef *def)
{
    return (def->flags & OPT_FLAG_INDEX_DEFAULT_MASK) >> 20;
}

// Index suffix of a long option that also takes a value; `p` follows the long name.
int rtOptIndexWithValue(OptionParserState *s, const OptionDef *def, const char *p,
                        int32_t ownIndex, const char **text)
{
    uint32_t const dflt = rtOptIndexDefault(def);
    if (*p == '\0' && dflt == 0)
        return ERR_OPT_INDEX_MISSING;
    if ((def->flags & OPT_FLAG_INDEX_DASH) && *p == '-')
        p++;
    uint32_t index = 0;
    const char *end = nullptr;
    int rc = RTStrToU32Prefix(p, &end, 10, &index);
    if (rc == ERR_NUMBER_NO_DIGITS)
    {
        if (dflt == 0)
            return ERR_OPT_VALUE_FORMAT;
        index = dflt - 1;
        end = p;
        rc = *end ? WRN_TRAILING_TEXT : 0;
    }
    if (rc == WRN_TRAILING_TEXT && (*end == ':' || *end == '='))
        *text = end + 1;
    else if (rc == 0 && *end == '\0')
    {
        rc = rtOptValueFromNextArg(s, ownIndex, text);
        if (RT_FAILURE(rc))
            return rc;
    }
    else
        return ERR_OPT_VALUE_FORMAT;
    s->currentIndex = index;
    return 0;
}

// Index suffix of a long option without a value.
int rtOptIndexWithoutValue(OptionParserState *s, const OptionDef *def, const char *p)
{
    if (*p == '\0')
        return rtOptIndexDefault(def) == 0 ? ERR_OPT_INDEX_MISSING : 0;
    if ((def->flags & OPT_FLAG_INDEX_DASH) && *p == '-')
        p++;
    uint32_t index = 0;
    if (RTStrToU32Whole(p, 10, &index) != 0)
        return ERR_OPT_VALUE_FORMAT;
    s->currentIndex = index;
    return 0;
}

} // namespace

int RTGetOptInit(OptionParserState *state, int argc, char **argv, const OptionDef *options,
                 uint32_t optionCount, int firstIndex, uint32_t initFlags)
{
    if (initFlags > (OPT_INIT_MIXED | OPT_INIT_NO_BUILTINS))
        return ERR_BAD_ARGUMENT;
    state->nextIndex = firstIndex;
    state->argv = argv;
    state->argc = argc;
    state->options = options;
    state->optionCount = optionCount;
    state->nextShort = nullptr;
    state->currentDef = nullptr;
    state->currentIndex = OPT_INDEX_NONE;
    state->initFlags = initFlags;
    state->skipped = 0;
    return 0;
}

int RTGetOptNext(OptionParserState *s, OptionValue *value)
{
    s->currentDef = nullptr;
    s->currentIndex = OPT_INDEX_NONE;
    value->u64 = 0;

    const OptionDef *def = nullptr;
    const char *afterName = nullptr;   // long option: position after the name
    const char *afterLetter = nullptr; // short option: position after the letter
    bool const inBundle = s->nextShort != nullptr;
    int32_t ownIndex;

    if (inBundle)
    {
        def = rtOptLookupShort(s, *s->nextShort);
        if (!def)
        {
            value->str = s->nextShort;
            return ERR_OPT_UNKNOWN;
        }
        afterLetter = ++s->nextShort;
        ownIndex = s->nextIndex;
    }
    else
    {
        for (;;)
        {
            if (s->nextIndex >= s->argc)
                return 0;
            if (s->skipped == OPT_SKIPPED_ALL_PLAIN)
            {
                value->str = s->argv[s->nextIndex++];
                return INF_OPT_PLAIN_ARGUMENT;
            }
            if (s->skipped && s->nextIndex + s->skipped >= s->argc)
            {
                s->skipped = OPT_SKIPPED_ALL_PLAIN;
                continue;
            }

            int32_t const i = s->nextIndex++;
            const char *arg = s->argv[i + s->skipped];
            def = rtOptLookupLong(s, arg, &afterName);
            if (!def && arg[0] == '-' && arg[1] != '-' && arg[1] != '\0')
            {
                def = rtOptLookupShort(s, arg[1]);
                if (def)
                {
                    afterName = nullptr;
                    afterLetter = arg + 2;
                }
            }
            if (!def)
            {
                if (arg[0] == '-' && arg[1] == '-' && arg[2] == '\0')
                {
                    rtOptMoveArg(s, i, i + s->skipped);
                    s->skipped = OPT_SKIPPED_ALL_PLAIN;
                    continue;
                }
                if (arg[0] == '-' || !(s->initFlags & OPT_INIT_MIXED))
                {
                    value->str = arg;
                    return arg[0] == '-' ? ERR_OPT_UNKNOWN : INF_OPT_PLAIN_ARGUMENT;
                }
                s->nextIndex = i;
                s->skipped++;
                if (s->nextIndex + s->skipped >= s->argc)
                    s->skipped = OPT_SKIPPED_ALL_PLAIN;
                continue;
            }
            if ((s->initFlags & OPT_INIT_MIXED) && s->skipped)
                rtOptMoveArg(s, i, i + s->skipped);
            ownIndex = i;
            break;
        }
    }

    value->def = def;
    bool const hasValue = (def->flags & OPT_TYPE_MASK) != OPT_TYPE_NONE;
    if (hasValue)
    {
        const char *text = nullptr;
        int rc = 0;
        if (afterLetter)
        {
            if (inBundle)
            {
                s->nextIndex++;
                s->nextShort = nullptr;
            }
            if (*afterLetter == '\0')
                rc = rtOptValueFromNextArg(s, ownIndex, &text);
            else if (*afterLetter == ':' || *afterLetter == '=')
                text = afterLetter + 1;
            else
                text = afterLetter;
        }
        else if (def->flags & OPT_FLAG_INDEX)
            rc = rtOptIndexWithValue(s, def, s->argv[ownIndex] + rtOptLen(def->longName), ownIndex, &text);
        else if (*afterName)
            text = afterName + 1;
        else
            rc = rtOptValueFromNextArg(s, ownIndex, &text);
        if (RT_FAILURE(rc))
            return rc;
        rc = rtOptConvertValue(text, def->flags, value);
        if (RT_FAILURE(rc))
        {
            s->currentIndex = OPT_INDEX_NONE;
            return rc;
        }
    }
    else if (afterLetter)
    {
        if (*afterLetter != '\0')
        {
            if (!inBundle)
                s->nextIndex--;
            s->nextShort = afterLetter;
        }
        else if (inBundle)
        {
            s->nextIndex++;
            s->nextShort = nullptr;
        }
    }
    else if (def->flags & OPT_FLAG_INDEX)
    {
        int rc = rtOptIndexWithoutValue(s, def, s->argv[ownIndex] + rtOptLen(def->longName));
        if (RT_FAILURE(rc))
            return rc;
    }

    s->currentDef = def;
    return def->id;
}

int RTGetOptTakeValue(OptionParserState *s, OptionValue *value, uint32_t typeFlags)
{
    value->u64 = 0;
    if ((typeFlags & OPT_TYPE_MASK) == OPT_TYPE_NONE || (typeFlags & ~(OPT_TYPE_MASK | 0x00FF0000u)))
        return ERR_BAD_ARGUMENT;
    int32_t const skipped = rtOptSkipped(s);
    if (s->nextIndex + skipped >= s->argc)
        return ERR_OPT_VALUE_MISSING;
    int32_t const at = s->nextIndex++;
    const char *text = s->argv[at + skipped];
    value->def = s->currentDef;
    if ((s->initFlags & OPT_INIT_MIXED) && skipped)
        rtOptMoveArg(s, at, at + skipped);
    return rtOptConvertValue(text, typeFlags, value);
}

int RTGetOptReportError(int rc, const OptionValue *value)
{
    if (rc == INF_OPT_PLAIN_ARGUMENT)
        RTMsgReportError("Invalid parameter: %s", value->str);
    else if (rc >= 33 && rc <= 126)
        RTMsgReportError("Unhandled option: -%c", rc);
    else if (rc > 0)
        RTMsgReportError("Unhandled option: %i (%#x)", rc, rc);
    else if (rc == ERR_OPT_UNKNOWN)
        RTMsgReportError("Unknown option: '%s'", value->str);
    else if (!value->def)
        RTMsgReportError("%Rrs\n", rc);
    else if (rc == ERR_OPT_VALUE_FORMAT)
        RTMsgReportError("The value given '%s' has an invalid format.", value->def->longName);
    else
        RTMsgReportError("%s: %Rrs\n", value->def->longName, rc);
    return 2;
}
