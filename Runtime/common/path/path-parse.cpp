// Path text: roots, final components, extensions, measuring, splitting into components and
// putting them back together.
#include "kelp/path.h"
#include "kelp/err.h"
#include "kelp/string.h"

#include "path-internal.h"

using namespace kelp_path;

size_t RTPathRootLength(const char *path)
{
    const char *p = path;
    size_t i = 0;
    if (isLetter(p[0]) && p[1] == ':')
        i = 2;
    else if (isDosSep(p[0]) && isDosSep(p[1]) && p[2] && !isDosSep(p[2]))
    {
        i = 2;
        while (p[i] && !isDosSep(p[i]))
            i++;
        if (isDosSep(p[i]))
        {
            i++;
            while (p[i] && !isDosSep(p[i]))
                i++;
        }
    }
    while (isDosSep(p[i]))
        i++;
    return i;
}

bool RTPathStartsWithRoot(const char *path)
{
    return RTPathRootLength(path) != 0;
}

const char *RTPathFinalComponent(const char *path)
{
    const char *name = path;
    for (const char *p = path; *p; p++)
        if (*p == '/' || *p == '\\' || *p == ':')
            name = p + 1;
    return *name ? name : nullptr;
}

const char *RTPathExtension(const char *path)
{
    const char *dot = nullptr;
    const char *p = path;
    for (; *p; p++)
    {
        if (*p == '/' || *p == '\\' || *p == ':')
            dot = nullptr;
        else if (*p == '.')
            dot = p;
    }
    if (!dot || dot == path || dot + 1 == p)
        return nullptr;
    return dot;
}

bool RTPathHasExtension(const char *path)
{
    return RTPathExtension(path) != nullptr;
}

bool RTPathHasDirPart(const char *text)
{
    for (; *text; text++)
        if (*text == '/' || *text == '\\' || *text == ':')
            return true;
    return false;
}

char *RTPathToBackslashes(char *path)
{
    for (char *p = path; *p; p++)
        if (*p == '/')
            *p = '\\';
    return path;
}

void RTPathUpperDrive(char *path)
{
    if (isLetter(path[0]) && path[1] == ':')
        path[0] = upper(path[0]);
}

size_t RTPathAddTrailingSeparator(char *buffer, size_t size)
{
    size_t const len = RTStrNLen(buffer, size);
    if (len >= size)
        return 0;
    if (len == 0)
    {
        if (size <= 2)
            return 0;
        buffer[0] = '.';
        buffer[1] = '\\';
        buffer[2] = '\0';
        return 2;
    }
    char const last = buffer[len - 1];
    if (last == '/' || last == '\\' || last == ':')
        return len;
    if (len + 2 > size)
        return 0;
    buffer[len] = '\\';
    buffer[len + 1] = '\0';
    return len + 1;
}

size_t RTPathMeasure(const char *path, size_t *dirLength, size_t *fileNameOffset,
                     size_t *suffixOffset)
{
    size_t root = 0;
    if (isLetter(path[0]) && path[1] == ':')
        root = 2;
    else if (isDosSep(path[0]) && isDosSep(path[1]) && path[2] && !isDosSep(path[2]))
    {
        root = 2;
        while (path[root] && !isDosSep(path[root]))
            root++;
    }
    while (isDosSep(path[root]))
        root++;

    size_t nameStart = root;
    size_t len = root;
    for (; path[len]; len++)
        if (isDosSep(path[len]))
            nameStart = len + 1;

    size_t nameOff = RTPATH_NO_OFFSET;
    size_t sufOff = RTPATH_NO_OFFSET;
    size_t dirLen;
    if (nameStart < len)
    {
        nameOff = nameStart;
        for (size_t i = len; i-- > nameStart;)
            if (path[i] == '.')
            {
                if (i != nameStart && i != len - 1)
                    sufOff = i;
                break;
            }
        dirLen = nameStart >= root + 1 ? nameStart - 1 : root;
    }
    else
        dirLen = len;
    if (dirLen < root)
        dirLen = root;
    while (dirLen > root && isDosSep(path[dirLen - 1]))
        dirLen--;

    if (dirLength)
        *dirLength = dirLen;
    if (fileNameOffset)
        *fileNameOffset = nameOff;
    if (suffixOffset)
        *suffixOffset = sufOff;
    return len;
}

int RTPathSplitComponents(const char *path, ParsedPath *parsed, size_t cbParsed, uint32_t flags)
{
    if (cbParsed < sizeof(ParsedPath))
        return ERR_BAD_ARGUMENT;
    if (!RTIsValidPtr(path) || !RTIsValidPtr(parsed))
        return ERR_INVALID_POINTER;
    if (!*path)
        return ERR_PATH_EMPTY;
    if ((flags & ~(uint32_t)(PATH_STYLE_MASK | PATH_PARSE_NO_ROOT | PATH_PARSE_NO_END))
        || (flags & PATH_STYLE_MASK) == PATH_STYLE_MASK)
        return ERR_INVALID_FLAGS;
    bool const dos = (flags & PATH_STYLE_MASK) != PATH_STYLE_UNIX;

    size_t capacity = (cbParsed - sizeof(ParsedPath)) / sizeof(ParsedPathComp);
    if (capacity > 65520)
        capacity = 65520;

    const char *p = path;
    uint32_t props;
    size_t off = 0;
    size_t count = 0;
    size_t rootLen = 0;

    if (flags & PATH_PARSE_NO_ROOT)
    {
        props = PATH_RELATIVE;
        if (isSep(p[0], dos))
        {
            props |= PATH_EXTRA_SLASHES;
            while (isSep(p[off], dos))
                off++;
            if (!p[off])
                return ERR_PATH_EMPTY;
        }
    }
    else
    {
        if (!dos)
        {
            if (p[0] == '/')
            {
                props = PATH_ROOT_SLASH | PATH_ABSOLUTE;
                rootLen = 1;
            }
            else
                props = PATH_RELATIVE;
        }
        else if (isLetter(p[0]) && p[1] == ':')
        {
            if (isDosSep(p[2]))
            {
                props = PATH_VOLUME | PATH_ROOT_SLASH | PATH_ABSOLUTE;
                rootLen = 3;
            }
            else
            {
                props = PATH_VOLUME | PATH_RELATIVE;
                rootLen = 2;
            }
        }
        else if (isDosSep(p[0]) && isDosSep(p[1]) && p[2] && !isDosSep(p[2]))
        {
            props = PATH_UNC | PATH_ABSOLUTE;
            size_t i = 2;
            while (p[i] && !isDosSep(p[i]))
                i++;
            if (i == 3 && (p[2] == '.' || p[2] == '?'))
                props |= PATH_SPECIAL_UNC;
            if (isDosSep(p[i]))
            {
                props |= PATH_ROOT_SLASH;
                i++;
            }
            rootLen = i;
        }
        else if (isDosSep(p[0]))
        {
            props = PATH_ROOT_SLASH | PATH_RELATIVE;
            rootLen = 1;
        }
        else
            props = PATH_RELATIVE;

        if (rootLen)
        {
            if (rootLen > 0xFFFF)
                return ERR_FILENAME_TOO_LONG;
            if (capacity)
            {
                parsed->comps[0].offset = 0;
                parsed->comps[0].length = (uint16_t)rootLen;
            }
            count = 1;
            off = rootLen;
            if (isSep(p[off], dos))
            {
                props |= PATH_EXTRA_SLASHES;
                while (isSep(p[off], dos))
                    off++;
            }
        }
    }

    size_t const firstComp = count;
    size_t compChars = 0;
    size_t lastStart = off;
    size_t lastLen = 0;
    while (p[off])
    {
        size_t const start = off;
        while (p[off] && !isSep(p[off], dos))
            off++;
        size_t const len = off - start;
        if (start + len > 0xFFFF)
            return ERR_FILENAME_TOO_LONG;
        if (count < capacity)
        {
            parsed->comps[count].offset = (uint16_t)start;
            parsed->comps[count].length = (uint16_t)len;
        }
        count++;
        compChars += len;
        lastStart = start;
        lastLen = len;
        if (len == 1 && p[start] == '.')
            props |= PATH_DOT_REFS;
        else if (len == 2 && p[start] == '.' && p[start + 1] == '.')
        {
            props |= PATH_DOTDOT_REFS | PATH_RELATIVE;
            props &= ~(uint32_t)PATH_ABSOLUTE;
        }
        if (isSep(p[off], dos))
        {
            size_t const runStart = off;
            while (isSep(p[off], dos))
                off++;
            if (off - runStart > 1)
                props |= PATH_EXTRA_SLASHES;
        }
    }
    size_t const pathLen = off;
    size_t const comps = count - firstComp;
    bool const endsWithSep = isSep(p[pathLen - 1], dos);

    uint16_t sufOff = (uint16_t)(pathLen > 0xFFFF ? 0xFFFF : pathLen);
    uint16_t sufLen = 0;
    if (flags & PATH_PARSE_NO_END)
    {
        if (endsWithSep)
            props |= PATH_EXTRA_SLASHES;
    }
    else if (endsWithSep)
        props |= PATH_DIR_SLASH;
    else
    {
        props |= PATH_HAS_FILENAME;
        if (comps)
            for (size_t i = lastStart + lastLen; i-- > lastStart;)
                if (p[i] == '.')
                {
                    if (i != lastStart && i != lastStart + lastLen - 1)
                    {
                        props |= PATH_HAS_SUFFIX;
                        sufOff = (uint16_t)i;
                        sufLen = (uint16_t)(lastStart + lastLen - i);
                    }
                    break;
                }
    }

    size_t norm = rootLen + compChars;
    if (comps)
        norm += comps - 1 + ((props & PATH_DIR_SLASH) ? 1 : 0);
    if (norm > 0xFFFF)
        return ERR_FILENAME_TOO_LONG;

    parsed->count = (uint16_t)count;
    parsed->props = (uint16_t)props;
    parsed->normLength = (uint16_t)norm;
    parsed->reserved = 0;
    parsed->suffixOffset = sufOff;
    parsed->suffixLength = sufLen;
    return count > capacity ? ERR_BUFFER_OVERFLOW : 0;
}

int RTPathReassemble(const char *path, ParsedPath *parsed, uint32_t style, char *buffer,
                     size_t size)
{
    if (!parsed->count)
        return ERR_BAD_ARGUMENT;
    if ((style & ~(uint32_t)PATH_STYLE_MASK) || style == PATH_STYLE_MASK)
        return ERR_INVALID_FLAGS;
    bool const dos = style != PATH_STYLE_UNIX;
    char const sep = dos ? '\\' : '/';

    size_t const first = hasRootEntry(parsed) ? 1 : 0;
    size_t const rootLen = first ? parsed->comps[0].length : 0;
    size_t norm = rootLen;
    size_t written = 0;
    for (size_t i = first; i < parsed->count; i++)
        if (parsed->comps[i].length)
        {
            norm += parsed->comps[i].length + (written ? 1 : 0);
            written++;
        }
    if (written && (parsed->props & PATH_DIR_SLASH))
        norm++;
    parsed->normLength = (uint16_t)(norm > 0xFFFF ? 0xFFFF : norm);
    if (norm >= size)
    {
        if (size)
            buffer[0] = '\0';
        return ERR_BUFFER_OVERFLOW;
    }

    // Written front to back: every piece lands at or before its place in the text, so the
    // text may be the buffer itself.
    size_t out = 0;
    for (size_t j = 0; j < rootLen; j++)
    {
        char const c = path[parsed->comps[0].offset + j];
        buffer[out++] = isSep(c, dos) ? sep : c;
    }
    bool any = false;
    for (size_t i = first; i < parsed->count; i++)
    {
        ParsedPathComp const c = parsed->comps[i];
        if (!c.length)
            continue;
        if (any)
            buffer[out++] = sep;
        for (size_t j = 0; j < c.length; j++)
            buffer[out++] = path[c.offset + j];
        any = true;
    }
    if (any && (parsed->props & PATH_DIR_SLASH))
        buffer[out++] = sep;
    buffer[out] = '\0';
    return 0;
}
