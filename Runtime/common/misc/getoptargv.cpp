// Splitting a command line into an argument vector, with Windows or Bourne shell quoting.
#include "kelp/getopt.h"
#include "kelp/err.h"
#include "kelp/mem.h"
#include "kelp/string.h"

namespace {

struct SplitCursor
{
    const char *in;         // next input character
    char       *out;        // next output byte (never ahead of `in`)
    const char *separators;
};

bool rtArgvIsSeparator(RTUNICP cp, const char *separators)
{
    if (cp < 0x80)
    {
        for (const char *s = separators; *s; s++)
            if ((unsigned char)*s == cp)
                return true;
        return false;
    }
    const char *s = separators;
    while (*s)
    {
        RTUNICP sep;
        if (RTStrDecodeCp(&s, &sep) == 0 && sep == cp)
            return true;
    }
    return false;
}

// Reads the next code point without consuming it.
int rtArgvPeek(const SplitCursor &c, RTUNICP *cp, const char **after)
{
    const char *p = c.in;
    int rc = RTStrDecodeCp(&p, cp);
    *after = p;
    return rc;
}

void rtArgvPut(SplitCursor &c, RTUNICP cp)
{
    c.out = RTStrEncodeCp(c.out, cp);
}

// One argument in Microsoft style. *atEnd tells whether it ended at the end of the text.
int rtArgvUnquoteMs(SplitCursor &c, bool *atEnd)
{
    bool inQuotes = false;
    for (;;)
    {
        RTUNICP cp;
        const char *after;
        int rc = rtArgvPeek(c, &cp, &after);
        if (RT_FAILURE(rc))
            return rc;
        if (cp == 0)
        {
            *atEnd = true;
            return 0;
        }
        if (cp == '"')
        {
            c.in = after;
            if (!inQuotes)
                inQuotes = true;
            else if (*c.in == '"')
            {
                rtArgvPut(c, '"');
                c.in++;
            }
            else
                inQuotes = false;
        }
        else if (!inQuotes && rtArgvIsSeparator(cp, c.separators))
        {
            c.in = after;
            *atEnd = false;
            return 0;
        }
        else if (cp == '\\')
        {
            size_t n = 0;
            while (c.in[n] == '\\')
                n++;
            c.in += n;
            if (*c.in == '"')
            {
                for (size_t i = 0; i < n / 2; i++)
                    rtArgvPut(c, '\\');
                if (n & 1)
                {
                    rtArgvPut(c, '"');
                    c.in++;
                }
            }
            else
                for (size_t i = 0; i < n; i++)
                    rtArgvPut(c, '\\');
        }
        else
        {
            c.in = after;
            rtArgvPut(c, cp);
        }
    }
}

// One argument in Bourne shell style.
int rtArgvUnquoteBourne(SplitCursor &c, bool *atEnd)
{
    RTUNICP quote = 0;
    for (;;)
    {
        RTUNICP cp;
        const char *after;
        int rc = rtArgvPeek(c, &cp, &after);
        if (RT_FAILURE(rc))
            return rc;
        if (cp == 0)
        {
            *atEnd = true;
            return 0;
        }
        c.in = after;
        if (quote == 0)
        {
            if (cp == '"' || cp == '\'')
                quote = cp;
            else if (rtArgvIsSeparator(cp, c.separators))
            {
                *atEnd = false;
                return 0;
            }
            else if (cp == '\\')
            {
                rc = rtArgvPeek(c, &cp, &after);
                if (RT_FAILURE(rc))
                    return rc;
                if (cp == 0)
                {
                    *atEnd = true;
                    return 0;
                }
                c.in = after;
                rtArgvPut(c, cp);
            }
            else
                rtArgvPut(c, cp);
        }
        else if (quote == '\'')
        {
            if (cp == '\'')
                quote = 0;
            else
                rtArgvPut(c, cp);
        }
        else
        {
            if (cp == '"')
                quote = 0;
            else if (cp == '\\')
            {
                char const next = *c.in;
                if (next == '"' || next == '\\' || next == '`' || next == '$' || next == '\n')
                {
                    rtArgvPut(c, (unsigned char)next);
                    c.in++;
                }
                else
                    rtArgvPut(c, '\\');
            }
            else
                rtArgvPut(c, cp);
        }
    }
}

} // namespace

int RTGetOptArgvSplit(char ***argvOut, int *argcOut, const char *cmdLine, uint32_t flags,
                      const char *separators)
{
    uint32_t const style = flags & ARGV_STYLE_MASK;
    if (style > ARGV_STYLE_BOURNE)
        return ERR_INVALID_FLAGS;
    if (!separators)
        separators = " \t\n\r";
    else if (!*separators)
        return ERR_BAD_ARGUMENT;

    char *copy = nullptr;
    SplitCursor c;
    c.in = cmdLine;
    c.separators = separators;
    if (flags & ARGV_IN_PLACE)
        c.out = const_cast<char *>(cmdLine);
    else
    {
        size_t const len = RTStrLen(cmdLine);
        copy = (char *)RTMemAlloc(len + 1);
        if (!copy)
            return ERR_NO_STRING_MEMORY;
        c.out = copy;
    }

    char **argv = nullptr;
    int argc = 0;
    int rc = 0;
    for (;;)
    {
        RTUNICP cp;
        const char *after;
        for (;;)
        {
            rc = rtArgvPeek(c, &cp, &after);
            if (RT_FAILURE(rc) || cp == 0 || !rtArgvIsSeparator(cp, separators))
                break;
            c.in = after;
        }
        if (RT_FAILURE(rc))
            break;
        if (cp == 0)
            break;

        if (argc % 32 == 0)
        {
            char **grown = (char **)RTMemRealloc(argv, (size_t)(argc + 33) * sizeof(char *));
            if (!grown)
            {
                rc = ERR_NO_MEMORY;
                break;
            }
            argv = grown;
        }
        argv[argc++] = c.out;
        bool atEnd = false;
        rc = style == ARGV_STYLE_BOURNE ? rtArgvUnquoteBourne(c, &atEnd) : rtArgvUnquoteMs(c, &atEnd);
        if (RT_FAILURE(rc))
            break;
        *c.out++ = '\0';
        if (atEnd || *c.in == '\0')
            break;
    }

    if (RT_FAILURE(rc))
    {
        RTMemFree(argv);
        RTMemFree(copy);
        return rc;
    }
    if (argc == 0)
    {
        RTMemFree(copy);
        argv = (char **)RTMemAlloc(sizeof(char *));
        if (!argv)
            return ERR_NO_MEMORY;
    }
    argv[argc] = nullptr;
    *argvOut = argv;
    *argcOut = argc;
    return 0;
}

void RTGetOptArgvFreeEx(char **argv, uint32_t flags)
{
    if (!argv)
        return;
    // Without ARGV_IN_PLACE the strings share one block, which starts with the first one.
    if (!(flags & ARGV_IN_PLACE) && argv[0])
        RTMemFree(argv[0]);
    RTMemFree(argv);
}

void RTGetOptArgvFree(char **argv)
{
    RTGetOptArgvFreeEx(argv, 0);
}
