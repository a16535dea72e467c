// %R directives over text: the last component of a path (%Rbn), big-endian UTF-16
// (%lRbs), the name in a function signature (%Rfn) and escaping for JSON, XML and URLs
// (%RMjs, %RMas, %RMes, %RMp?).
#include "kelp/format.h"
#include "kelp/string.h"
#include "format-rtypes.h"

namespace {

bool rtFmtIsPathSeparator(char c)
{
    return c == '\\' || c == '/' || c == ':';
}

size_t rtFmtBaseName(FormatOutputFn output, void *outputArg, const char *path)
{
    if (!RTIsValidPtr(path))
        return rtFmtBadPointer(output, outputArg, path, "!BadBaseName", -1, 0);
    const char *start = path;
    const char *p = path;
    while (*p)
    {
        if (rtFmtIsPathSeparator(*p))
        {
            while (rtFmtIsPathSeparator(*p))
                p++;
            // Trailing separators keep the start found before them.
            if (*p)
                start = p;
            continue;
        }
        p++;
    }
    return output(outputArg, start, (size_t)(p - start));
}

size_t rtFmtUtf16Be(FormatOutputFn output, void *outputArg, const RTUTF16 *units, int width,
                    int precision, unsigned flags)
{
    if (!RTIsValidPtr(units))
        return rtFmtPadded(output, outputArg, "<NULL>", 6, width, flags);
    if (precision < 0)
        return 0;
    size_t count = 0;
    while (count < (size_t)precision && units[count] != 0)
        count++;

    size_t total = 0;
    int const pad = width - (int)count;
    if (!(flags & FMT_LEFT))
        total += rtFmtBlanks(output, outputArg, pad);
    const RTUTF16 *cursor = units;
    const RTUTF16 *const end = units + count;
    while (cursor < end)
    {
        // A high surrogate as the last counted unit must not pull in the unit after it.
        uint8_t const lead = (uint8_t)(*cursor & 0xff);
        if (end - cursor == 1 && lead >= 0xd8 && lead <= 0xdb)
            break;
        RTUNICP cp;
        RTUtf16BeDecodeCp(&cursor, &cp);
        char utf8[8];
        char *e = RTStrEncodeCp(utf8, cp);
        total += output(outputArg, utf8, (size_t)(e - utf8));
    }
    if (flags & FMT_LEFT)
        total += rtFmtBlanks(output, outputArg, pad);
    return total;
}

size_t rtFmtFunctionName(FormatOutputFn output, void *outputArg, const char *signature)
{
    if (!RTIsValidPtr(signature))
        return rtFmtBadPointer(output, outputArg, signature, "!BadFnNm", -1, 0);
    const char *start = signature;
    const char *p = signature;
    int depth = 0;
    while (*p)
    {
        char const c = *p;
        if (c == ' ' || c == '\t')
        {
            const char *q = p + 1;
            while (*q == ' ' || *q == '\t' || *q == '(')
                q++;
            if (*q && depth == 0)
                start = q;
            p = q;
            continue;
        }
        if (c == '(')
            break;
        if (c == '<')
            depth++;
        else if (c == '>')
            depth--;
        p++;
    }
    return output(outputArg, start, (size_t)(p - start));
}

enum RTFMTESCAPE
{
    RTFMTESCAPE_JSON,
    RTFMTESCAPE_XML_ATTR,
    RTFMTESCAPE_XML_ELEM,
};

// The replacement of one byte, or null when it passes unchanged.
const char *rtFmtEscapeOf(RTFMTESCAPE style, unsigned char c, char *scratch)
{
    if (style == RTFMTESCAPE_JSON)
    {
        switch (c)
        {
            case '"':  return "\\\"";
            case '\\': return "\\\\";
            case '\b': return "\\b";
            case '\f': return "\\f";
            case '\n': return "\\n";
            case '\t': return "\\t";
            default:
                if (c >= 0x20)
                    return nullptr;
                scratch[0] = '\\';
                scratch[1] = 'u';
                scratch[2] = '0';
                scratch[3] = '0';
                scratch[4] = "0123456789abcdef"[c >> 4];
                scratch[5] = "0123456789abcdef"[c & 15];
                scratch[6] = '\0';
                return scratch;
        }
    }
    switch (c)
    {
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '&': return "&amp;";
        case '"': return "&quot;";
        case '\'': return style == RTFMTESCAPE_XML_ELEM ? "&apos;" : nullptr;
        case '\n': return style == RTFMTESCAPE_XML_ATTR ? "&#xA;" : nullptr;
        case '\r': return style == RTFMTESCAPE_XML_ATTR ? "&#xD;" : nullptr;
        default: return nullptr;
    }
}

size_t rtFmtEscaped(FormatOutputFn output, void *outputArg, RTFMTESCAPE style, const char *text,
                    int width, int precision, unsigned flags)
{
    if (!RTIsValidPtr(text))
        text = "<NULL>";
    size_t const length = precision >= 0 ? rtFmtStrNLen(text, (size_t)precision) : rtFmtStrLen(text);
    bool const quoted = style != RTFMTESCAPE_XML_ELEM;
    int const pad = length >= 0x7fffff ? 0 : width - (int)length;

    size_t total = 0;
    if (quoted)
        total += output(outputArg, "\"", 1);
    if (!(flags & FMT_LEFT))
        total += rtFmtBlanks(output, outputArg, pad);
    size_t runStart = 0;
    for (size_t i = 0; i < length; i++)
    {
        char scratch[8];
        const char *replacement = rtFmtEscapeOf(style, (unsigned char)text[i], scratch);
        if (!replacement)
            continue;
        if (i > runStart)
            total += output(outputArg, text + runStart, i - runStart);
        total += rtFmtText(output, outputArg, replacement);
        runStart = i + 1;
    }
    if (length > runStart)
        total += output(outputArg, text + runStart, length - runStart);
    if (flags & FMT_LEFT)
        total += rtFmtBlanks(output, outputArg, pad);
    if (quoted)
        total += output(outputArg, "\"", 1);
    return total;
}

size_t rtFmtUrlEncoded(FormatOutputFn output, void *outputArg, char form, const char *text,
                       int width, int precision, unsigned flags)
{
    if (!RTIsValidPtr(text))
        text = "<NULL>";
    size_t const length = precision >= 0 ? rtFmtStrNLen(text, (size_t)precision) : rtFmtStrLen(text);
    int const pad = length >= 0x7fffff ? 0 : width - (int)length;

    size_t total = 0;
    if (!(flags & FMT_LEFT))
        for (int i = 0; i < pad; i++)
            total += output(outputArg, "%20", 3);
    size_t runStart = 0;
    for (size_t i = 0; i < length; i++)
    {
        unsigned char const c = (unsigned char)text[i];
        bool const passes = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
                         || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_'
                         || c == '~' || (c == '/' && form == 'p') || (c == '+' && form == 'q');
        if (passes)
            continue;
        if (i > runStart)
            total += output(outputArg, text + runStart, i - runStart);
        if (c == ' ' && form == 'f')
            total += output(outputArg, "+", 1);
        else
        {
            char hex[3] = { '%', "0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15] };
            total += output(outputArg, hex, 3);
        }
        runStart = i + 1;
    }
    if (length > runStart)
        total += output(outputArg, text + runStart, length - runStart);
    if (flags & FMT_LEFT)
        for (int i = 0; i < pad; i++)
            total += output(outputArg, "%20", 3);
    return total;
}

} // namespace

size_t rtFmtRBaseName(FormatOutputFn output, void *outputArg, const char **format,
                      va_list *args, int width, int precision, unsigned flags, char size)
{
    const char *p = *format; // at the 'b'
    if (p[1] == 'n')
    {
        *format = p + 2;
        return rtFmtBaseName(output, outputArg, va_arg(*args, const char *));
    }
    if (p[1] == 's' && size == 'l')
    {
        *format = p + 2;
        return rtFmtUtf16Be(output, outputArg, va_arg(*args, const RTUTF16 *), width, precision,
                            flags);
    }
    return 0;
}

size_t rtFmtRFuncName(FormatOutputFn output, void *outputArg, const char **format,
                      va_list *args, int width, int precision, unsigned flags, char size)
{
    const char *p = *format; // at the 'f'
    if (p[1] != 'n')
        return 0;
    *format = p + 2;
    return rtFmtFunctionName(output, outputArg, va_arg(*args, const char *));
}

size_t rtFmtREscape(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
                    int width, int precision, unsigned flags, char size)
{
    const char *p = *format; // at the 'M'
    if (p[1] == 'p')
    {
        // URL encoding takes its argument before it looks at the form letter.
        const char *text = va_arg(*args, const char *);
        char const form = p[2];
        *format = form ? p + 3 : p + 2;
        if (form != 'p' && form != 'q' && form != 'a' && form != 'f')
            return 0;
        return rtFmtUrlEncoded(output, outputArg, form, text, width, precision, flags);
    }
    RTFMTESCAPE style;
    if (p[1] == 'j' && p[2] == 's')
        style = RTFMTESCAPE_JSON;
    else if (p[1] == 'a' && p[2] == 's')
        style = RTFMTESCAPE_XML_ATTR;
    else if (p[1] == 'e' && p[2] == 's')
        style = RTFMTESCAPE_XML_ELEM;
    else
        return 0;
    *format = p + 3;
    return rtFmtEscaped(output, outputArg, style, va_arg(*args, const char *), width, precision,
                        flags);
}
