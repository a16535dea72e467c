// Appending a component to a path and joining two paths.
#include "kelp/path.h"
#include "kelp/err.h"
#include "kelp/mem.h"
#include "kelp/string.h"

#include "path-internal.h"

using namespace kelp_path;

namespace {

// The part of a path that ends with a separator which trailing-separator trimming keeps.
size_t dosKeepLength(const char *path, size_t len)
{
    if (isLetter(path[0]) && path[1] == ':')
        return len >= 3 && isDosSep(path[2]) ? 3 : 2;
    if (len >= 3 && isDosSep(path[0]) && isDosSep(path[1]) && !isDosSep(path[2]))
    {
        size_t i = 2;
        while (i < len && !isDosSep(path[i]))
            i++;
        if (i >= len)
            return len;
        size_t const shareStart = ++i;
        while (i < len && !isDosSep(path[i]))
            i++;
        if (i == shareStart)
            return 1;
        return i < len ? i + 1 : len;
    }
    return 1;
}

} // namespace

int RTPathAddComponentEx(char *buffer, size_t size, const char *component, size_t maxCompLength,
                         uint32_t style)
{
    size_t const len = RTStrNLen(buffer, size);
    if (len >= size)
        return ERR_BAD_ARGUMENT;
    if ((style & ~(uint32_t)PATH_STYLE_MASK) || style == PATH_STYLE_MASK)
        return ERR_INVALID_FLAGS;
    if (!component)
        return 0;
    size_t compLen = RTStrNLen(component, maxCompLength);
    if (!compLen)
        return 0;
    bool const dos = style != PATH_STYLE_UNIX;

    if (!len)
    {
        if (compLen >= size)
            return ERR_BUFFER_OVERFLOW;
        for (size_t i = 0; i < compLen; i++)
            buffer[i] = component[i];
        buffer[compLen] = '\0';
        return 0;
    }

    size_t keep = len;          // bytes of the path kept
    bool insertSep = false;
    if (isSep(buffer[len - 1], dos))
    {
        while (compLen && isSep(*component, dos))
        {
            component++;
            compLen--;
        }
        size_t const floor = dos ? dosKeepLength(buffer, len) : 1;
        while (keep > floor && keep >= 2 && isSep(buffer[keep - 2], dos))
            keep--;
    }
    else if (isSep(*component, dos))
    {
        while (compLen >= 2 && isSep(component[1], dos))
        {
            component++;
            compLen--;
        }
    }
    else if (!(dos && len == 2 && isLetter(buffer[0]) && buffer[1] == ':'))
        insertSep = true;

    size_t const total = keep + (insertSep ? 1 : 0) + compLen;
    if (total >= size)
        return ERR_BUFFER_OVERFLOW;
    size_t out = keep;
    if (insertSep)
        buffer[out++] = dos ? '\\' : '/';
    for (size_t i = 0; i < compLen; i++)
        buffer[out++] = component[i];
    buffer[out] = '\0';
    return 0;
}

int RTPathAddComponent(char *buffer, size_t size, const char *component)
{
    return RTPathAddComponentEx(buffer, size, component, RTSTR_MAX, PATH_STYLE_HOST);
}

int RTPathJoinInto(char *buffer, size_t size, const char *first, const char *second)
{
    int rc = RTStrCopyTo(buffer, size, first);
    if (RT_FAILURE(rc))
    {
        if (size)
            buffer[0] = '\0';
        return rc;
    }
    return RTPathAddComponent(buffer, size, second);
}

char *RTPathJoinA(const char *first, const char *second)
{
    size_t size = RTStrLen(first) + RTStrLen(second) + 4;
    char *str = RTStrNew(size);
    if (!str)
        return nullptr;
    RTStrCopyTo(str, size, first);
    int rc = RTPathAddComponent(str, size, second);
    if (rc == ERR_BUFFER_OVERFLOW)
    {
        size *= 2;
        if (RT_FAILURE(RTStrResize(&str, size)))
        {
            RTStrDispose(str);
            return nullptr;
        }
        rc = RTPathAddComponent(str, size, second);
    }
    if (RT_FAILURE(rc))
    {
        RTStrDispose(str);
        return nullptr;
    }
    return str;
}
