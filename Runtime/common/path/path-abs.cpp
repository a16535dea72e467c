// Absolute paths: any path made absolute and clean against a base or the current directory.
#include "kelp/path.h"
#include "kelp/err.h"
#include "kelp/mem.h"
#include "kelp/string.h"

#include "path-internal.h"

using namespace kelp_path;

namespace {

enum : size_t
{
    PARSED_STACK_SIZE = 1024,       // 253 entries
    CWD_TEMP_MIN      = 64 * 1024,
    DRIVE_PREFIX_MAX  = RTPATH_MAX,
};

// A record on the stack that moves to the heap when the path has more components.
struct ParsedBuf
{
    alignas(ParsedPath) uint8_t stack[PARSED_STACK_SIZE];
    ParsedPath *p = (ParsedPath *)stack;

    ~ParsedBuf()
    {
        if (p != (ParsedPath *)stack)
            RTMemFree(p);
    }

    int split(const char *text, uint32_t flags)
    {
        if (p != (ParsedPath *)stack)
        {
            RTMemFree(p);
            p = (ParsedPath *)stack;
        }
        int rc = RTPathSplitComponents(text, p, sizeof(stack), flags);
        if (rc == ERR_BUFFER_OVERFLOW)
        {
            size_t const cb = 4 * (size_t)p->count + 20;
            ParsedPath *heap = (ParsedPath *)RTMemAlloc(cb);
            if (!heap)
                return ERR_NO_TEMP_MEMORY;
            p = heap;
            rc = RTPathSplitComponents(text, p, cb, flags);
        }
        return rc;
    }
};

// The first entry after the root that ".." may remove: a UNC share is kept like the root.
size_t firstRemovable(const ParsedPath *p)
{
    if (!hasRootEntry(p))
        return 0;
    if ((p->props & PATH_UNC) && (p->props & PATH_ROOT_SLASH) && p->count >= 2)
        return 2;
    return 1;
}

// Drops "." and resolves ".." within the record; returns the entries kept after the root.
size_t resolveDots(const char *text, ParsedPath *p)
{
    size_t const first = firstRemovable(p);
    for (size_t i = first; i < p->count; i++)
    {
        ParsedPathComp &c = p->comps[i];
        if (isDot(text, c))
            c.length = 0;
        else if (isDotDot(text, c))
        {
            c.length = 0;
            for (size_t j = i; j-- > first;)
                if (p->comps[j].length)
                {
                    p->comps[j].length = 0;
                    break;
                }
        }
    }
    size_t kept = 0;
    for (size_t i = hasRootEntry(p) ? 1 : 0; i < p->count; i++)
        if (p->comps[i].length)
            kept++;
    return kept;
}

void clearDotComps(const char *text, ParsedPath *p)
{
    for (size_t i = hasRootEntry(p) ? 1 : 0; i < p->count; i++)
        if (isDot(text, p->comps[i]))
            p->comps[i].length = 0;
}

// Length of the reassembled record (also what RTPathReassemble stores in normLength).
size_t normLength(const ParsedPath *p)
{
    size_t const first = hasRootEntry(p) ? 1 : 0;
    size_t norm = first ? p->comps[0].length : 0;
    size_t written = 0;
    for (size_t i = first; i < p->count; i++)
        if (p->comps[i].length)
        {
            norm += p->comps[i].length + (written ? 1 : 0);
            written++;
        }
    if (written && (p->props & PATH_DIR_SLASH))
        norm++;
    return norm;
}

int overflow(char *buffer, size_t *size, size_t needed)
{
    if (*size)
        buffer[0] = '\0';
    *size = needed;
    return ERR_BUFFER_OVERFLOW;
}

// The drive ('C:') or UNC share ('\\srv\share') that a rooted path without one goes on.
int drivePrefix(const char *base, char *prefix, size_t size)
{
    if (base && *base)
    {
        uint8_t raw[RTPATH_PARSED_SIZE(2)];
        ParsedPath *p = (ParsedPath *)raw;
        int rc = RTPathSplitComponents(base, p, sizeof(raw), PATH_STYLE_DOS);
        if (RT_SUCCESS(rc) || rc == ERR_BUFFER_OVERFLOW)
        {
            if (p->props & PATH_VOLUME)
            {
                prefix[0] = upper(base[0]);
                prefix[1] = ':';
                prefix[2] = '\0';
                return 0;
            }
            if (p->props & PATH_UNC)
            {
                // The root entry and the share entry, not the text between them: extra
                // separators there must not reach the result.
                size_t len = p->comps[0].length;
                bool const share = p->count >= 2 && (p->props & PATH_ROOT_SLASH)
                                && !(p->props & PATH_SPECIAL_UNC);
                if (!share && isDosSep(base[len - 1]))
                    len--;
                size_t const shareLen = share ? p->comps[1].length : 0;
                if (len + shareLen >= size)
                    return ERR_BUFFER_OVERFLOW;
                for (size_t i = 0; i < len; i++)
                    prefix[i] = isDosSep(base[i]) ? '\\' : base[i];
                for (size_t i = 0; i < shareLen; i++)
                    prefix[len + i] = base[p->comps[1].offset + i];
                prefix[len + shareLen] = '\0';
                return 0;
            }
        }
    }
    return RTPathGetCurrentDrive(prefix, size);
}

// Path with a root separator but ".." components or without a drive: '\dir', 'C:\a\..\b'.
int absRooted(const char *base, const char *path, ParsedPath *p, uint32_t flags, bool dos,
              char *buffer, size_t *size)
{
    size_t const kept = resolveDots(path, p);
    if ((flags & PATHABS_TRAILING_SLASH) && kept)
        p->props |= PATH_DIR_SLASH;
    size_t const norm = normLength(p);
    uint32_t const style = dos ? PATH_STYLE_DOS : PATH_STYLE_UNIX;

    size_t prefixLen = 0;
    char prefix[DRIVE_PREFIX_MAX];
    if (dos && !(p->props & (PATH_VOLUME | PATH_UNC)))
    {
        int rc = drivePrefix(base, prefix, sizeof(prefix));
        if (RT_FAILURE(rc))
            return rc;
        prefixLen = RTStrLen(prefix);
    }
    if (prefixLen + norm >= *size)
        return overflow(buffer, size, prefixLen + norm + 1);
    for (size_t i = 0; i < prefixLen; i++)
        buffer[i] = prefix[i];
    int rc = RTPathReassemble(path, p, style, buffer + prefixLen, *size - prefixLen);
    if (RT_FAILURE(rc))
        return rc == ERR_BUFFER_OVERFLOW ? overflow(buffer, size, prefixLen + norm + 1) : rc;
    *size = prefixLen + norm;
    return 0;
}

// Puts the base and what is left of the relative path together in the buffer. The base's
// text may lie in the buffer itself: it only moves towards the front.
int combine(const char *baseText, ParsedPath *b, const char *path, ParsedPath *p, bool noClimb,
            uint32_t flags, bool dos, char *buffer, size_t *size)
{
    resolveDots(baseText, b);

    size_t i = 0;
    if (hasRootEntry(p))
    {
        p->comps[0].length = 0;     // the drive of 'C:dir'
        i = 1;
    }
    size_t const baseFloor = firstRemovable(b);
    size_t left = 0;
    for (; i < p->count; i++)
    {
        ParsedPathComp &c = p->comps[i];
        if (isDot(path, c))
            c.length = 0;
        else if (isDotDot(path, c))
        {
            c.length = 0;
            bool removed = false;
            for (size_t j = i; j-- > 0 && !removed;)
                if (p->comps[j].length)
                {
                    p->comps[j].length = 0;
                    removed = true;
                    left--;
                }
            if (!removed && !noClimb)
                for (size_t j = b->count; j-- > baseFloor;)
                    if (b->comps[j].length)
                    {
                        b->comps[j].length = 0;
                        break;
                    }
        }
        else
            left++;
    }

    size_t baseKept = 0;
    for (size_t j = hasRootEntry(b) ? 1 : 0; j < b->count; j++)
        if (b->comps[j].length)
            baseKept++;
    if (baseKept || !hasRootEntry(b))
    {
        if (left || (p->props & PATH_DIR_SLASH) || (flags & PATHABS_TRAILING_SLASH))
            b->props |= PATH_DIR_SLASH;
        else
            b->props &= ~(uint16_t)PATH_DIR_SLASH;
    }
    else
    {
        char const last = baseText[b->comps[0].offset + b->comps[0].length - 1];
        if (!isSep(last, dos))
            return ERR_PATH_BAD_BASE;
    }
    if (left && (flags & PATHABS_TRAILING_SLASH))
        p->props |= PATH_DIR_SLASH;

    size_t const baseNorm = normLength(b);
    size_t const pathNorm = left ? normLength(p) : 0;
    if (baseNorm + pathNorm >= *size)
        return overflow(buffer, size, baseNorm + pathNorm + 1);
    uint32_t const style = dos ? PATH_STYLE_DOS : PATH_STYLE_UNIX;
    int rc = RTPathReassemble(baseText, b, style, buffer, *size);
    if (RT_SUCCESS(rc) && dos)
        RTPathUpperDrive(buffer);
    if (RT_SUCCESS(rc) && left)
        rc = RTPathReassemble(path, p, style, buffer + baseNorm, *size - baseNorm);
    if (RT_FAILURE(rc))
        return rc == ERR_BUFFER_OVERFLOW ? overflow(buffer, size, baseNorm + pathNorm + 1) : rc;
    *size = baseNorm + pathNorm;
    return 0;
}

bool sameDrive(const char *base, char letter)
{
    return isLetter(base[0]) && base[1] == ':' && upper(base[0]) == upper(letter);
}

} // namespace

int RTPathAbsEx(const char *base, const char *path, uint32_t flags, char *buffer, size_t *size)
{
    if (!RTIsValidPtr(path) || !RTIsValidPtr(buffer) || !RTIsValidPtr(size)
        || (base && !RTIsValidPtr(base)))
        return ERR_INVALID_POINTER;
    if (!*path)
        return ERR_PATH_EMPTY;
    uint32_t const known = PATH_STYLE_MASK | PATHABS_NO_CLIMB_BASE | PATHABS_NO_CLIMB_CWD
                         | PATHABS_TRAILING_SLASH;
    if ((flags & ~known) || (flags & PATH_STYLE_MASK) == PATH_STYLE_MASK)
        return ERR_INVALID_FLAGS;
    uint32_t style = flags & PATH_STYLE_MASK;
    if (style == PATH_STYLE_HOST)
        style = PATH_STYLE_DOS;
    bool const dos = style == PATH_STYLE_DOS;

    ParsedBuf pathRec;
    int rc = pathRec.split(path, style);
    if (RT_FAILURE(rc))
        return rc;
    ParsedPath *p = pathRec.p;

    if (p->props & PATH_ABSOLUTE)
    {
        clearDotComps(path, p);
        if ((flags & PATHABS_TRAILING_SLASH) && p->count > 1)
            p->props |= PATH_DIR_SLASH;
        rc = RTPathReassemble(path, p, style, buffer, *size);
        if (rc == ERR_BUFFER_OVERFLOW)
            return overflow(buffer, size, (size_t)p->normLength + 1);
        if (RT_FAILURE(rc))
            return rc;
        if (dos)
            RTPathUpperDrive(buffer);
        *size = p->normLength;
        return 0;
    }

    if (p->props & PATH_ROOT_SLASH)
        return absRooted(base, path, p, flags, dos, buffer, size);

    bool const hasDrive = dos && (p->props & PATH_VOLUME);
    ParsedBuf baseRec;
    if (!base || (hasDrive && !sameDrive(base, path[0])))
    {
        // Against the current directory (of the path's drive for 'C:dir').
        bool const noClimb = (flags & PATHABS_NO_CLIMB_CWD) != 0;
        rc = hasDrive ? RTPathCurrentDirOnDrive(path[0], buffer, *size)
                      : RTPathCurrentDir(buffer, *size);
        const char *cwd = buffer;
        char *temp = nullptr;
        if (rc == ERR_BUFFER_OVERFLOW)
        {
            size_t cbTemp = *size * 4;
            if (cbTemp < CWD_TEMP_MIN)
                cbTemp = CWD_TEMP_MIN;
            temp = (char *)RTMemAlloc(cbTemp);
            if (!temp)
                return overflow(buffer, size, (size_t)p->normLength + cbTemp + 2);
            rc = hasDrive ? RTPathCurrentDirOnDrive(path[0], temp, cbTemp)
                          : RTPathCurrentDir(temp, cbTemp);
            if (rc == ERR_BUFFER_OVERFLOW)
                rc = ERR_FILENAME_TOO_LONG;
            cwd = temp;
        }
        if (RT_SUCCESS(rc))
            rc = baseRec.split(cwd, style);
        if (RT_SUCCESS(rc))
            rc = combine(cwd, baseRec.p, path, p, noClimb, flags, dos, buffer, size);
        RTMemFree(temp);
        return rc;
    }

    bool const noClimb = (flags & PATHABS_NO_CLIMB_BASE) != 0;
    rc = baseRec.split(base, style);
    if (RT_FAILURE(rc))
        return rc;
    const char *baseText = base;
    uint16_t const unclean = PATH_EXTRA_SLASHES | PATH_DOT_REFS;
    if (!(baseRec.p->props & PATH_ABSOLUTE) || (baseRec.p->props & unclean))
    {
        size_t cbBase = *size;
        rc = RTPathAbsEx(nullptr, base, flags, buffer, &cbBase);
        if (rc == ERR_BUFFER_OVERFLOW)
            return overflow(buffer, size, cbBase + p->normLength + 2);
        if (RT_FAILURE(rc))
            return rc;
        baseText = buffer;
        rc = baseRec.split(baseText, style);
        if (RT_FAILURE(rc))
            return rc;
    }
    return combine(baseText, baseRec.p, path, p, noClimb, flags, dos, buffer, size);
}

int RTPathAbsSimple(const char *path, char *buffer, size_t size)
{
    return RTPathAbsEx(nullptr, path, 0, buffer, &size);
}

char *RTPathAbsExDup(const char *base, const char *path, uint32_t flags)
{
    size_t cb = 2050;
    for (unsigned attempt = 0; attempt < 16; attempt++)
    {
        char *str = RTStrNew(cb);
        if (!str)
            return nullptr;
        size_t cbIo = cb;
        int rc = RTPathAbsEx(base, path, flags, str, &cbIo);
        if (RT_SUCCESS(rc))
        {
            if (cbIo < cb / 2)
                RTStrResize(&str, cbIo + 1);
            return str;
        }
        RTStrDispose(str);
        if (rc != ERR_BUFFER_OVERFLOW)
            return nullptr;
        size_t cbNew = ((cbIo + 79) / 64) * 64;
        if (cbNew < cb + 256)
            cbNew = cb + 256;
        cb = cbNew;
    }
    return nullptr;
}
