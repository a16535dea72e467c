// Command-line splitting and the option parser. The splitter is checked against a
// byte-level reference of both quoting styles, for round trips of quoted vectors and for
// the same result in place and in a copy. The parser runs the installer's 36-entry table
// over vectors built from its own names and random text, against a reference of the
// documented steps (ids, values pointing into the vector, the state after each call); the
// value conversions go through RTGetOptTakeValue against the number parsers; and mixed
// mode must only reorder the vector.
#include "fuzz-support.h"

#include <kelp/err.h>
#include <kelp/getopt.h>
#include <kelp/number.h>
#include <kelp/string.h>

#include <algorithm>
#include <ctype.h>
#include <string>
#include <strings.h>
#include <vector>

namespace
{

// ---- splitting ----------------------------------------------------------------------------

struct SplitResult
{
    int rc;
    std::vector<std::string> args;
};

// Length of the separator at text[i], 0 if none (byte sequences of valid UTF-8 text).
size_t sepAt(const std::string &text, size_t i, const std::vector<std::string> &seps)
{
    for (const std::string &s : seps)
        if (text.compare(i, s.size(), s) == 0)
            return s.size();
    return 0;
}

SplitResult refSplit(const std::string &text, bool bourne, const std::vector<std::string> &seps)
{
    SplitResult r = { 0, {} };
    if (RTStrCheckEncoding(text.c_str(), RTSTR_MAX, 0) != 0)
    {
        r.rc = -1; // some decoding error
        return r;
    }
    size_t i = 0, n = text.size();
    for (;;)
    {
        while (i < n && sepAt(text, i, seps))
            i += sepAt(text, i, seps);
        if (i >= n)
            break;
        std::string arg;
        bool atEnd = false;
        if (!bourne)
        {
            bool inQuotes = false;
            for (;;)
            {
                if (i >= n)
                {
                    atEnd = true;
                    break;
                }
                char const c = text[i];
                if (c == '"')
                {
                    i++;
                    if (!inQuotes)
                        inQuotes = true;
                    else if (i < n && text[i] == '"')
                        arg += '"', i++;
                    else
                        inQuotes = false;
                }
                else if (!inQuotes && sepAt(text, i, seps))
                {
                    i += sepAt(text, i, seps);
                    break;
                }
                else if (c == '\\')
                {
                    size_t k = 0;
                    while (i + k < n && text[i + k] == '\\')
                        k++;
                    i += k;
                    if (i < n && text[i] == '"')
                    {
                        arg.append(k / 2, '\\');
                        if (k & 1)
                            arg += '"', i++;
                    }
                    else
                        arg.append(k, '\\');
                }
                else
                    arg += c, i++;
            }
        }
        else
        {
            char quote = 0;
            for (;;)
            {
                if (i >= n)
                {
                    atEnd = true;
                    break;
                }
                char const c = text[i];
                if (!quote)
                {
                    if (c == '"' || c == '\'')
                        quote = c, i++;
                    else if (size_t s = sepAt(text, i, seps))
                    {
                        i += s;
                        break;
                    }
                    else if (c == '\\')
                    {
                        i++;
                        if (i >= n)
                        {
                            atEnd = true;
                            break;
                        }
                        // The escaped character, whole.
                        size_t len = 1;
                        while (i + len < n && ((unsigned char)text[i + len] & 0xC0) == 0x80
                               && ((unsigned char)text[i] & 0x80))
                            len++;
                        arg.append(text, i, len);
                        i += len;
                    }
                    else
                        arg += c, i++;
                }
                else if (quote == '\'')
                {
                    if (c == '\'')
                        quote = 0;
                    else
                        arg += c;
                    i++;
                }
                else
                {
                    if (c == '"')
                        quote = 0, i++;
                    else if (c == '\\' && i + 1 < n
                             && strchr("\"\\`$\n", text[i + 1]) && text[i + 1])
                        arg += text[i + 1], i += 2;
                    else
                        arg += c, i++;
                }
            }
        }
        r.args.push_back(arg);
        if (atEnd || i >= n)
            break;
    }
    return r;
}

SplitResult runSplit(const std::string &text, uint32_t flags, const char *separators)
{
    SplitResult r = { 0, {} };
    char **argv = (char **)1;
    int argc = -1;
    // Exactly the text and its terminator, so a read past it is a finding.
    char *input = FuzzTerminatedCopy(text.data(), text.size());
    r.rc = RTGetOptArgvSplit(&argv, &argc, input, flags, separators);
    if (r.rc == 0)
    {
        FUZZ_CHECK(argc >= 0 && argv != nullptr && argv[argc] == nullptr);
        for (int i = 0; i < argc; i++)
        {
            FUZZ_CHECK(argv[i] != nullptr);
            r.args.push_back(argv[i]);
            if (flags & ARGV_IN_PLACE)
                FUZZ_CHECK(argv[i] >= input && argv[i] <= input + text.size());
        }
        RTGetOptArgvFreeEx(argv, flags);
    }
    free(input);
    return r;
}

std::string quoteMs(const std::string &arg)
{
    std::string q = "\"";
    for (size_t i = 0; i < arg.size();)
    {
        size_t k = 0;
        while (i + k < arg.size() && arg[i + k] == '\\')
            k++;
        if (i + k == arg.size())
        {
            q.append(2 * k, '\\');
            i += k;
        }
        else if (arg[i + k] == '"')
        {
            q.append(2 * k + 1, '\\');
            q += '"';
            i += k + 1;
        }
        else
        {
            q.append(k, '\\');
            q += arg[i + k];
            i += k + 1;
        }
    }
    return q + "\"";
}

std::string quoteBourne(const std::string &arg)
{
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void checkSplit(FuzzReader &in)
{
    static const char *kSeparators[] = { nullptr, " ", ",;", "\xC3\xA9 ", "\t\n" };
    uint8_t const mode = in.byte();
    bool const bourne = mode & 1;
    const char *sepText = kSeparators[(mode >> 1) % RT_ELEMENTS(kSeparators)];
    std::vector<std::string> seps;
    if (!sepText)
        seps = { " ", "\t", "\n", "\r" };
    else
        for (const char *p = sepText; *p;)
        {
            size_t len = ((unsigned char)*p >= 0xC0) ? 2 : 1;
            seps.emplace_back(p, len);
            p += len;
        }
    uint32_t const style = bourne ? ARGV_STYLE_BOURNE : ARGV_STYLE_MS_CRT;

    // A raw command line.
    const uint8_t *p;
    size_t n = in.piece(0, &p);
    std::string text((const char *)p, n);
    SplitResult const ref = refSplit(text, bourne, seps);
    SplitResult const copy = runSplit(text, style, sepText);
    SplitResult const inPlace = runSplit(text, style | ARGV_IN_PLACE, sepText);
    FUZZ_CHECK(copy.rc == inPlace.rc && copy.args == inPlace.args);
    if (ref.rc == 0)
    {
        FUZZ_CHECK_MSG(copy.rc == 0, "rc %d", copy.rc);
        FUZZ_CHECK(copy.args.size() == ref.args.size());
        for (size_t i = 0; i < ref.args.size(); i++)
            FUZZ_CHECK_MSG(copy.args[i] == ref.args[i], "'%s': argument %zu is '%s', expected '%s'",
                           text.c_str(), i, copy.args[i].c_str(), ref.args[i].c_str());
    }
    else
        FUZZ_CHECK(copy.rc < 0);

    // A vector of arbitrary valid arguments, quoted for the style and split again.
    std::vector<std::string> args;
    while (in.size && args.size() < 40)
    {
        n = in.piece(0, &p);
        std::string a((const char *)p, n > 60 ? 60 : n);
        if (RTStrCheckEncoding(a.c_str(), RTSTR_MAX, 0) == 0)
            args.push_back(a);
    }
    std::string line;
    for (const std::string &a : args)
        line += (line.empty() ? "" : " ") + (bourne ? quoteBourne(a) : quoteMs(a));
    SplitResult const back = runSplit(line, style, nullptr);
    FUZZ_CHECK(back.rc == 0);
    FUZZ_CHECK_MSG(back.args == args, "'%s' split into %zu arguments, not %zu", line.c_str(),
                   back.args.size(), args.size());

    char **argv;
    int argc;
    FUZZ_CHECK(RTGetOptArgvSplit(&argv, &argc, "x", 2, nullptr) == ERR_INVALID_FLAGS);
    FUZZ_CHECK(RTGetOptArgvSplit(&argv, &argc, "x", 0, "") == ERR_BAD_ARGUMENT);
}

// ---- the installer's option table -------------------------------------------------------

const OptionDef kStubOptions[] = {
    { "--extract", 'x', 0 },            { "-extract", 'x', 0 },
    { "/extract", 'x', 0 },             { "--silent", 's', 0 },
    { "-silent", 's', 0 },              { "/silent", 's', 0 },
    { "--no-silent-cert", 'c', 0 },     { "-no-silent-cert", 'c', 0 },
    { "/no-silent-cert", 'c', 0 },      { "--no-install-timestamp-ca", 't', 0 },
    { "--force-install-timestamp-ca", 'T', 0 },
    { "--logging", 'l', 0 },            { "-logging", 'l', 0 },
    { "--msi-log-file", 1000, OPT_TYPE_STRING },
    { "-msilogfile", 1000, OPT_TYPE_STRING },
    { "/logging", 'l', 0 },             { "--path", 'p', OPT_TYPE_STRING },
    { "-path", 'p', OPT_TYPE_STRING },  { "/path", 'p', OPT_TYPE_STRING },
    { "--msiparams", 'm', OPT_TYPE_STRING },
    { "-msiparams", 'm', OPT_TYPE_STRING },
    { "--msi-prop", 'P', OPT_TYPE_STRING },
    { "--reinstall", 'f', 0 },          { "-reinstall", 'f', 0 },
    { "/reinstall", 'f', 0 },           { "--ignore-reboot", 'r', 0 },
    { "--verbose", 'v', 0 },            { "-verbose", 'v', 0 },
    { "/verbose", 'v', 0 },             { "--version", 'V', 0 },
    { "-version", 'V', 0 },             { "/version", 'V', 0 },
    { "--help", 'h', 0 },               { "-help", 'h', 0 },
    { "/help", 'h', 0 },                { "/?", 'h', 0 },
};
static_assert(RT_ELEMENTS(kStubOptions) == 36, "the installer's table has 36 entries");

const char *const kBuiltinNames[] = { "--help", "-help", "--version", "-version" };
const int kBuiltinIds[] = { 'h', 'h', 'V', 'V' };

struct Event
{
    int rc;
    const OptionDef *def;       // for ids and -826 (null for built-ins)
    const char *builtin;        // built-in long name matched
    const char *str;            // text member for values, plain and unknown arguments
};

struct RefParser
{
    std::vector<char *> argv;
    bool noBuiltins;
    int next = 1;
    const char *bundle = nullptr;
    int bundleIndex = 0;
    bool allPlain = false;

    // Long lookup: value entries match a prefix followed by the end, ':' or '='.
    const OptionDef *longLookup(const char *arg, const char **after, const char **builtin)
    {
        *builtin = nullptr;
        for (const OptionDef &d : kStubOptions)
        {
            size_t const len = strlen(d.longName);
            if (d.flags & OPT_TYPE_MASK)
            {
                if (strncmp(arg, d.longName, len) == 0
                    && (arg[len] == 0 || arg[len] == ':' || arg[len] == '='))
                {
                    *after = arg + len;
                    return &d;
                }
            }
            else if (strcmp(arg, d.longName) == 0)
            {
                *after = arg + len;
                return &d;
            }
        }
        if (!noBuiltins)
            for (size_t i = 0; i < 4; i++)
                if (strcmp(arg, kBuiltinNames[i]) == 0)
                {
                    *builtin = kBuiltinNames[i];
                    return nullptr;
                }
        return nullptr;
    }

    // Short lookup by the letter as a signed 8-bit value.
    bool shortLookup(char c, const OptionDef **def, const char **builtin)
    {
        *def = nullptr;
        *builtin = nullptr;
        for (const OptionDef &d : kStubOptions)
            if (d.id == (int)(signed char)c)
            {
                *def = &d;
                return true;
            }
        if (noBuiltins)
            return false;
        for (size_t i = 0; i < 4; i++)
            if (kBuiltinIds[i] == (int)(signed char)c)
            {
                *builtin = kBuiltinNames[i];
                return true;
            }
        if (c == '?')
        {
            *builtin = kBuiltinNames[0];
            return true;
        }
        return false;
    }

    Event valueFromNext(const OptionDef *d, int ownIndex)
    {
        if (ownIndex + 1 >= (int)argv.size())
            return { ERR_OPT_VALUE_MISSING, d, nullptr, nullptr };
        next++;
        return { d->id, d, nullptr, argv[ownIndex + 1] };
    }

    // The option found: value or bundle handling.
    Event found(const OptionDef *d, const char *builtin, bool isShort, const char *after,
                int ownIndex, bool inBundle)
    {
        int const id = d ? d->id : (builtin[2] == 'h' || builtin[1] == 'h' ? 'h' : 'V');
        if (d && (d->flags & OPT_TYPE_MASK))
        {
            if (isShort)
            {
                if (inBundle)
                {
                    next++;
                    bundle = nullptr;
                }
                if (*after == 0)
                    return valueFromNext(d, ownIndex);
                if (*after == ':' || *after == '=')
                    return { id, d, nullptr, after + 1 };
                return { id, d, nullptr, after };
            }
            if (*after)
                return { id, d, nullptr, after + 1 };
            return valueFromNext(d, ownIndex);
        }
        if (isShort)
        {
            if (*after)
            {
                if (!inBundle)
                    next--;
                bundle = after;
                bundleIndex = ownIndex;
            }
            else if (inBundle)
            {
                next++;
                bundle = nullptr;
            }
        }
        return { id, d, builtin, nullptr };
    }

    Event step()
    {
        if (bundle)
        {
            const OptionDef *d;
            const char *builtin;
            if (!shortLookup(*bundle, &d, &builtin))
                return { ERR_OPT_UNKNOWN, nullptr, nullptr, bundle };
            const char *after = bundle + 1;
            return found(d, builtin, true, after, bundleIndex, true);
        }
        if (next >= (int)argv.size())
            return { 0, nullptr, nullptr, nullptr };
        int const i = next++;
        char *arg = argv[i];
        if (allPlain)
            return { INF_OPT_PLAIN_ARGUMENT, nullptr, nullptr, arg };
        const char *after = nullptr;
        const char *builtin = nullptr;
        const OptionDef *d = longLookup(arg, &after, &builtin);
        if (d || builtin)
            return found(d, builtin, false, builtin ? "" : after, i, false);
        if (arg[0] == '-' && arg[1] && arg[1] != '-' && shortLookup(arg[1], &d, &builtin))
            return found(d, builtin, true, arg + 2, i, false);
        if (strcmp(arg, "--") == 0)
        {
            allPlain = true;
            return step();
        }
        if (arg[0] == '-')
            return { ERR_OPT_UNKNOWN, nullptr, nullptr, arg };
        return { INF_OPT_PLAIN_ARGUMENT, nullptr, nullptr, arg };
    }

    Event takeValue()
    {
        if (next >= (int)argv.size())
            return { ERR_OPT_VALUE_MISSING, nullptr, nullptr, nullptr };
        return { 0, nullptr, nullptr, argv[next++] };
    }
};

const char *const kWords[] = {
    "-x", "-s", "-c", "-t", "-T", "-l", "-p", "-m", "-P", "-f", "-r", "-v", "-V", "-h", "-?",
    "--", "-", "-vs", "-vq", "-svx", "-vp", "-sP", "-patha", "-p=x", "-p:C:\\x", "-pC:\\x",
    "--path=", "--path:C:\\x", "/path=C:\\x", "--pathx", "--silent=yes", "--bogus", "foo",
    "A=1", "INSTALLDIR", "a b", "", "-\xC3\xA9", "\xC3\xA9", "--HELP", "-?x", "-h1",
};

void checkStubTable(FuzzReader &in)
{
    uint8_t const mode = in.byte();
    bool const noBuiltins = mode & 1;
    std::vector<std::string> texts = { "stub.exe" };
    while (in.size && texts.size() < 24)
    {
        uint8_t const k = in.byte();
        std::string a;
        if (k < 100)
            a = kStubOptions[k % 36].longName;
        else if (k < 110)
            a = kBuiltinNames[k % 4];
        else if (k < 200)
            a = kWords[k % RT_ELEMENTS(kWords)];
        else
        {
            const uint8_t *p;
            size_t n = in.piece(0, &p);
            a.assign((const char *)p, n > 30 ? 30 : n);
        }
        uint8_t const suffix = in.byte() % 8;
        if (suffix == 1)
            a += "=";
        else if (suffix == 2)
            a += ":v";
        else if (suffix == 3)
            a += "=C:\\dir";
        else if (suffix == 4)
            a += "s";
        texts.push_back(a);
    }

    // Each argument in its own block of exactly its size.
    std::vector<char *> argv;
    for (const std::string &t : texts)
        argv.push_back(FuzzTerminatedCopy(t.data(), t.size()));
    std::vector<char *> const original = argv;
    argv.push_back(nullptr);

    OptionParserState state;
    FUZZ_CHECK(RTGetOptInit(&state, (int)texts.size(), argv.data(), kStubOptions, 36, 1, 4)
               == ERR_BAD_ARGUMENT);
    FUZZ_CHECK(RTGetOptInit(&state, (int)texts.size(), argv.data(), kStubOptions, 36, 1,
                            noBuiltins ? OPT_INIT_NO_BUILTINS : 0) == 0);
    RefParser ref;
    ref.argv = original;
    ref.noBuiltins = noBuiltins;

    for (int calls = 0;; calls++)
    {
        FUZZ_CHECK(calls < 200);
        OptionValue v;
        memset(&v, 0xCC, sizeof(v));
        int rc = RTGetOptNext(&state, &v);
        Event const e = ref.step();
        FUZZ_CHECK_MSG(rc == e.rc, "call %d: %d, expected %d", calls, rc, e.rc);
        if (rc == 0)
        {
            // Once at the end, always at the end.
            FUZZ_CHECK(RTGetOptNext(&state, &v) == 0);
            break;
        }
        if (rc > 0 && rc != INF_OPT_PLAIN_ARGUMENT)
        {
            FUZZ_CHECK(state.currentDef != nullptr && state.currentDef->id == rc);
            if (e.def && (e.def->flags & OPT_TYPE_MASK))
                FUZZ_CHECK_MSG(v.str == e.str, "value of id %d", rc);
            else if (e.def)
                FUZZ_CHECK(v.def == e.def);
            else
                FUZZ_CHECK(v.def && strcmp(v.def->longName, e.builtin) == 0);
            FUZZ_CHECK(state.currentIndex == OPT_INDEX_NONE);
        }
        else if (rc == INF_OPT_PLAIN_ARGUMENT || rc == ERR_OPT_UNKNOWN)
            FUZZ_CHECK(v.str == e.str);
        else if (rc == ERR_OPT_VALUE_MISSING)
            FUZZ_CHECK(v.def == e.def);
        if (rc < 0)
            FUZZ_CHECK(state.currentDef == nullptr);
        // The installer reports what it does not handle; the line is built from the value
        // record, whatever the status.
        FUZZ_CHECK(RTGetOptReportError(rc, &v) == 2);
        // A bundle with an unknown letter would report it again; the installer stops.
        if (rc == ERR_OPT_UNKNOWN && ref.bundle)
            break;
        if (rc < 0 && rc != ERR_OPT_UNKNOWN)
            break;
        if (rc == 'P')
        {
            // The installer takes the property's value as the next argument.
            OptionValue second;
            int trc = RTGetOptTakeValue(&state, &second, OPT_TYPE_STRING);
            Event const t = ref.takeValue();
            FUZZ_CHECK(trc == t.rc);
            if (trc == 0)
                FUZZ_CHECK(second.str == t.str);
            else
                break;
        }
    }
    // Without mixed mode the vector is never touched.
    for (size_t i = 0; i < original.size(); i++)
        FUZZ_CHECK(argv[i] == original[i]);
    for (char *p : original)
        free(p);
}

// Mixed mode over the same table: the vector is only reordered, every text handed back
// lies in it, and the options come back in their order.
void checkMixed(FuzzReader &in)
{
    std::vector<std::string> texts = { "stub.exe" };
    while (in.size && texts.size() < 20)
    {
        uint8_t const k = in.byte();
        texts.push_back(k < 120 ? kStubOptions[k % 36].longName : kWords[k % RT_ELEMENTS(kWords)]);
    }
    std::vector<char *> argv;
    for (const std::string &t : texts)
        argv.push_back(FuzzTerminatedCopy(t.data(), t.size()));
    std::vector<char *> const original = argv;
    argv.push_back(nullptr);
    OptionParserState state;
    FUZZ_CHECK(RTGetOptInit(&state, (int)texts.size(), argv.data(), kStubOptions, 36, 1,
                            OPT_INIT_MIXED) == 0);
    auto inside = [&](const char *s) {
        for (char *a : original)
            if (s >= a && s <= a + strlen(a))
                return true;
        return false;
    };
    size_t plain = 0;
    for (int calls = 0;; calls++)
    {
        FUZZ_CHECK(calls < 200);
        OptionValue v;
        int rc = RTGetOptNext(&state, &v);
        if (rc == 0)
            break;
        if (rc == INF_OPT_PLAIN_ARGUMENT)
        {
            plain++;
            FUZZ_CHECK(inside(v.str));
        }
        else if (rc > 0 && state.currentDef && (state.currentDef->flags & OPT_TYPE_MASK))
            FUZZ_CHECK(inside(v.str));
        else if (rc < 0)
            break;
    }
    std::vector<char *> sortedNow(argv.begin(), argv.end() - 1), sortedOld = original;
    std::sort(sortedNow.begin(), sortedNow.end());
    std::sort(sortedOld.begin(), sortedOld.end());
    FUZZ_CHECK(sortedNow == sortedOld && argv[0] == original[0] && argv.back() == nullptr);
    FUZZ_CHECK(plain < texts.size());
    for (char *p : original)
        free(p);
}

// ---- value conversions -------------------------------------------------------------------

int refInt(const char *text, uint32_t type, uint32_t base, uint64_t *out)
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

bool hasHexPrefix(const char *t)
{
    return t[0] == '0' && (t[1] == 'x' || t[1] == 'X') && isxdigit((unsigned char)t[2]);
}

bool wordIs(const char *t, const char *w)
{
    return strcasecmp(t, w) == 0;
}

void checkConversion(FuzzReader &in)
{
    uint32_t const type = in.byte() % 24;
    static const uint32_t kBase[] = { 0, OPT_FLAG_HEX, OPT_FLAG_OCT, OPT_FLAG_DEC,
                                      OPT_FLAG_HEX | OPT_FLAG_OCT };
    uint32_t const baseFlag = kBase[in.byte() % 5];
    const uint8_t *p;
    size_t n = in.piece(0, &p);
    char *text = FuzzTerminatedCopy(p, n > 80 ? 80 : n);
    char *argv[] = { text, nullptr };
    OptionParserState state;
    FUZZ_CHECK(RTGetOptInit(&state, 1, argv, kStubOptions, 36, 0, 0) == 0);
    OptionValue v;
    memset(&v, 0xEE, sizeof(v));
    uint32_t const flags = type | baseFlag;
    int rc = RTGetOptTakeValue(&state, &v, flags);
    if (type == 0)
    {
        FUZZ_CHECK(rc == ERR_BAD_ARGUMENT);
        free(text);
        return;
    }
    FUZZ_CHECK(state.nextIndex == 1);
    bool const isInt = type >= OPT_TYPE_INT8 && type <= OPT_TYPE_UINT64;
    bool const isPair = type >= OPT_TYPE_UINT32_PAIR && type <= OPT_TYPE_UINT64_PAIR_OPT;
    if (baseFlag && ((baseFlag & (baseFlag - 1)) || (!isInt && !isPair)))
        FUZZ_CHECK(rc == ERR_INTERNAL);
    else if (isInt)
    {
        uint64_t want = 0;
        int wrc;
        if (baseFlag)
            wrc = refInt(text, type, baseFlag == OPT_FLAG_HEX ? 16 : baseFlag == OPT_FLAG_OCT ? 8 : 10,
                         &want);
        else
        {
            wrc = refInt(text, type, 10, &want);
            if (wrc != 0 && hasHexPrefix(text))
                wrc = refInt(text, type, 16, &want);
        }
        FUZZ_CHECK(rc == (wrc == 0 ? 0 : ERR_OPT_VALUE_FORMAT));
        if (rc == 0)
        {
            uint64_t got;
            switch (type)
            {
                case OPT_TYPE_INT8: got = (uint64_t)(int64_t)v.i8; break;
                case OPT_TYPE_UINT8: got = v.u8; break;
                case OPT_TYPE_INT16: got = (uint64_t)(int64_t)v.i16; break;
                case OPT_TYPE_UINT16: got = v.u16; break;
                case OPT_TYPE_INT32: got = (uint64_t)(int64_t)v.i32; break;
                case OPT_TYPE_UINT32: got = v.u32; break;
                default: got = v.u64; break;
            }
            FUZZ_CHECK(got == want);
        }
    }
    else if (type == OPT_TYPE_STRING)
        FUZZ_CHECK(rc == 0 && v.str == text);
    else if (type == OPT_TYPE_BOOL || type == OPT_TYPE_ON_OFF)
    {
        static const char *kTrue[] = { "true", "t", "yes", "y", "enabled", "enable", "en", "e", "on" };
        static const char *kFalse[] = { "false", "f", "no", "n", "disabled", "disable", "dis", "d", "off" };
        int want = -1;
        if (type == OPT_TYPE_ON_OFF)
            want = wordIs(text, "on") ? 1 : wordIs(text, "off") ? 0 : -1;
        else
        {
            for (const char *w : kTrue)
                if (want < 0 && wordIs(text, w))
                    want = 1;
            if (want < 0 && strcmp(text, "1") == 0)
                want = 1;
            for (const char *w : kFalse)
                if (want < 0 && wordIs(text, w))
                    want = 0;
            if (want < 0 && strcmp(text, "0") == 0)
                want = 0;
        }
        if (want < 0)
            FUZZ_CHECK(rc == ERR_OPT_UNKNOWN && v.str == text);
        else
            FUZZ_CHECK(rc == 0 && v.f == want);
    }
    else if (type == OPT_TYPE_IPV4)
    {
        RTNETADDRIPV4 a;
        bool const ok = RTNetParseIPv4(text, &a) >= 0;
        FUZZ_CHECK(rc == (ok ? 0 : ERR_OPT_VALUE_FORMAT));
        if (ok)
            FUZZ_CHECK(memcmp(&a, &v.ipv4, 4) == 0);
    }
    else if (type == OPT_TYPE_UUID)
    {
        RTUUID u;
        bool const ok = RTUuidParse(&u, text) == 0;
        FUZZ_CHECK(rc == (ok ? 0 : ERR_OPT_VALUE_FORMAT));
        if (ok)
            FUZZ_CHECK(memcmp(&u, &v.uuid, 16) == 0);
    }
    else if (isPair)
    {
        // Whatever the pair's outcome, it only succeeds or says the format is wrong.
        FUZZ_CHECK(rc == 0 || rc == ERR_OPT_VALUE_FORMAT);
        bool const wide = type == OPT_TYPE_UINT64_PAIR || type == OPT_TYPE_UINT64_PAIR_OPT;
        if (rc == 0 && !strpbrk(text, ":/| \t") && (type == OPT_TYPE_UINT32_PAIR_OPT
                                                   || type == OPT_TYPE_UINT64_PAIR_OPT))
            FUZZ_CHECK(wide ? v.pairU64.second == UINT64_MAX : v.pairU32.second == UINT32_MAX);
        if (type == OPT_TYPE_UINT32_PAIR || type == OPT_TYPE_UINT64_PAIR)
            if (rc == 0)
                FUZZ_CHECK(strpbrk(text, ":/| \t") != nullptr);
    }
    else if (type == 12 || type == 13 || type > 21)
        FUZZ_CHECK(rc == ERR_INTERNAL);
    else
        FUZZ_CHECK(rc == 0 || rc == ERR_OPT_VALUE_FORMAT);
    // Taking again: nothing is left.
    FUZZ_CHECK(RTGetOptTakeValue(&state, &v, OPT_TYPE_STRING) == ERR_OPT_VALUE_MISSING);
    free(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzReader in = { data, size };
    switch (in.byte() % 4)
    {
        case 0: checkSplit(in); break;
        case 1: checkStubTable(in); break;
        case 2: checkMixed(in); break;
        default: checkConversion(in); break;
    }
    return 0;
}
