// Path text: splitting and reassembling (consistent records, the size protocol, a fixed
// point after one round), RTPathAbsEx with a base (a clean absolute result that maps to
// itself, the needed size on overflow that then fits, the same as RTPathAbsExDup) and the
// small helpers (pointers inside the path, buffers left alone on overflow). The current
// directory is the fixed "C:\Fuzz\Work" of fuzz-host.cpp.
#include "fuzz-support.h"

#include <kelp/err.h>
#include <kelp/path.h>
#include <kelp/string.h>

#include <string>
#include <vector>

namespace
{

bool isSep(char c, bool dos)
{
    return c == '/' || (dos && c == '\\');
}

struct Split
{
    int rc;
    std::vector<uint8_t> raw;
    ParsedPath *p() { return (ParsedPath *)raw.data(); }
};

// Splits with a record of `entries` entries, then with the size the protocol asks for.
Split splitPath(const char *path, uint32_t flags, size_t entries)
{
    Split s;
    s.raw.assign(RTPATH_PARSED_SIZE(entries), 0xEE);
    s.rc = RTPathSplitComponents(path, s.p(), s.raw.size(), flags);
    if (s.rc == ERR_BUFFER_OVERFLOW)
    {
        size_t const count = s.p()->count;
        FUZZ_CHECK(count > entries);
        s.raw.assign(4 * count + 20, 0xEE);
        s.rc = RTPathSplitComponents(path, s.p(), s.raw.size(), flags);
        FUZZ_CHECK(s.rc != ERR_BUFFER_OVERFLOW && s.p()->count == count);
    }
    return s;
}

std::string reassemble(const char *path, ParsedPath *p, uint32_t style)
{
    size_t const norm = p->normLength;
    std::vector<char> buf(norm + 1, 'q');
    FUZZ_CHECK(RTPathReassemble(path, p, style, buf.data(), buf.size()) == 0);
    FUZZ_CHECK(buf[norm] == 0 && strlen(buf.data()) == norm);
    if (norm)
    {
        // One byte too small: an empty string and an overflow.
        std::vector<char> small(norm, 'q');
        FUZZ_CHECK(RTPathReassemble(path, p, style, small.data(), small.size())
                   == ERR_BUFFER_OVERFLOW);
        FUZZ_CHECK(small[0] == 0);
    }
    return std::string(buf.data(), norm);
}

void checkSplit(const char *path, uint32_t flags, size_t entries)
{
    bool const dos = (flags & PATH_STYLE_MASK) != PATH_STYLE_UNIX;
    size_t const len = strlen(path);
    Split s = splitPath(path, flags, entries);
    if (s.rc < 0)
    {
        FUZZ_CHECK(s.rc == ERR_PATH_EMPTY || s.rc == ERR_INVALID_FLAGS
                   || s.rc == ERR_FILENAME_TOO_LONG);
        if (s.rc == ERR_PATH_EMPTY)
            FUZZ_CHECK(len == 0 || (flags & PATH_PARSE_NO_ROOT));
        return;
    }
    ParsedPath *p = s.p();
    FUZZ_CHECK(p->count >= 1);
    bool const hasRoot = (p->props & (PATH_UNC | PATH_ROOT_SLASH | PATH_VOLUME)) != 0;
    size_t prevEnd = 0;
    size_t norm = 0;
    for (size_t i = 0; i < p->count; i++)
    {
        ParsedPathComp const &c = p->comps[i];
        FUZZ_CHECK(c.offset + (size_t)c.length <= len);
        FUZZ_CHECK(i == 0 || c.offset >= prevEnd);
        FUZZ_CHECK(c.length > 0 || (i == 0 && !hasRoot));
        bool const rootEntry = i == 0 && hasRoot;
        if (!rootEntry)
            for (size_t k = 0; k < c.length; k++)
                FUZZ_CHECK_MSG(!isSep(path[c.offset + k], dos), "entry %zu of '%s'", i, path);
        if (rootEntry)
            FUZZ_CHECK(c.offset == 0);
        norm += c.length + (i > (hasRoot ? 1u : 0u) ? 1 : 0);
        prevEnd = c.offset + c.length;
    }
    bool const dirSlash = (p->props & PATH_DIR_SLASH) != 0;
    FUZZ_CHECK(dirSlash != ((p->props & PATH_HAS_FILENAME) != 0) || (flags & PATH_PARSE_NO_END));
    if (dirSlash && p->count > (hasRoot ? 1u : 0u))
        norm++;
    FUZZ_CHECK_MSG(p->normLength == norm, "'%s': normalised length %u, entries say %zu", path,
                   p->normLength, norm);
    FUZZ_CHECK(((p->props & PATH_ABSOLUTE) != 0) != ((p->props & PATH_RELATIVE) != 0));
    if (p->props & PATH_DOTDOT_REFS)
        FUZZ_CHECK(!(p->props & PATH_ABSOLUTE));
    if (p->props & PATH_HAS_SUFFIX)
    {
        FUZZ_CHECK(p->suffixOffset < len && path[p->suffixOffset] == '.');
        FUZZ_CHECK(p->suffixOffset + (size_t)p->suffixLength == len);
    }

    // Reassembled, split and reassembled again: the same text.
    uint32_t const style = dos ? PATH_STYLE_DOS : PATH_STYLE_UNIX;
    std::string const once = reassemble(path, p, style);
    Split again = splitPath(once.c_str(), style, 8);
    FUZZ_CHECK_MSG(again.rc >= 0, "'%s' reassembled to '%s': %d", path, once.c_str(), again.rc);
    std::string const twice = reassemble(once.c_str(), again.p(), style);
    FUZZ_CHECK_MSG(once == twice, "'%s' gave '%s', then '%s'", path, once.c_str(), twice.c_str());
}

std::string absEx(const char *base, const char *path, uint32_t flags, int *rc)
{
    size_t size = 8192;
    std::vector<char> buf(size);
    *rc = RTPathAbsEx(base, path, flags, buf.data(), &size);
    if (*rc != 0)
        return std::string();
    FUZZ_CHECK(size < buf.size() && buf[size] == 0 && strlen(buf.data()) == size);
    return std::string(buf.data(), size);
}

void checkAbs(const char *base, const char *path, uint32_t flags, size_t trySize)
{
    int rc;
    std::string const result = absEx(base, path, flags, &rc);
    uint32_t const style = flags & PATH_STYLE_MASK;
    bool const dos = style != PATH_STYLE_UNIX;

    // The same through the allocating form.
    char *dup = RTPathAbsExDup(base, path, flags);
    if (rc == 0)
        FUZZ_CHECK_MSG(dup && result == dup, "'%s' + '%s': '%s' and '%s'", base ? base : "(null)",
                       path, result.c_str(), dup ? dup : "(null)");
    else
        FUZZ_CHECK(dup == nullptr);
    RTStrDispose(dup);
    if (rc != 0)
    {
        FUZZ_CHECK(rc == ERR_PATH_EMPTY || rc == ERR_INVALID_FLAGS || rc == ERR_PATH_BAD_BASE
                   || rc == ERR_FILENAME_TOO_LONG);
        return;
    }

    // A buffer of exactly `trySize` bytes: fits, or overflows with the needed size, which
    // then fits.
    std::vector<char> exact(trySize ? trySize : 1, 'q');
    size_t size = trySize;
    int rc2 = RTPathAbsEx(base, path, flags, exact.data(), &size);
    // A relative base is first made absolute in the caller's buffer, so a buffer that
    // would hold the result may still be reported as too small (with a size that works).
    bool const viaBuffer = base && rc2 == ERR_BUFFER_OVERFLOW;
    if (trySize > result.size() && !viaBuffer)
        FUZZ_CHECK_MSG(rc2 == 0 && size == result.size() && result == exact.data(),
                       "'%s' + '%s' with %zu bytes: %d, size %zu, '%s' (expected '%s')",
                       base ? base : "(null)", path, trySize, rc2, size,
                       rc2 == 0 ? exact.data() : "", result.c_str());
    else
    {
        FUZZ_CHECK_MSG(rc2 == ERR_BUFFER_OVERFLOW, "%d with %zu bytes for '%s'", rc2, trySize,
                       result.c_str());
        if (trySize)
            FUZZ_CHECK(exact[0] == 0);
        FUZZ_CHECK(size > trySize);
        std::vector<char> enough(size);
        size_t n = size;
        FUZZ_CHECK(RTPathAbsEx(base, path, flags, enough.data(), &n) == 0);
        FUZZ_CHECK(result == enough.data());
    }

    // The result is clean and absolute, and maps to itself with or without a base.
    // Room for every component the result can have (a fixed count missed the "." share of
    // long results and then expected them to map to themselves).
    std::vector<uint8_t> raw(RTPATH_PARSED_SIZE(result.size() + 1));
    ParsedPath *p = (ParsedPath *)raw.data();
    int const src = RTPathSplitComponents(result.c_str(), p, raw.size(), style ? style : PATH_STYLE_DOS);
    // A UNC share entry is kept as it is, also when it reads "." or "..".
    bool const dotShare = src == 0 && (p->props & PATH_UNC) && p->count >= 2
                       && p->comps[1].length <= 2
                       && strspn(result.c_str() + p->comps[1].offset, ".") >= p->comps[1].length;
    if (src == 0 && !dotShare)
    {
        FUZZ_CHECK_MSG(p->props & PATH_ABSOLUTE, "'%s' + '%s' gave '%s' (props %#x)",
                       base ? base : "(null)", path, result.c_str(), p->props);
        FUZZ_CHECK(!(p->props & (PATH_DOT_REFS | PATH_DOTDOT_REFS)));
        if (!(p->props & PATH_SPECIAL_UNC))
            FUZZ_CHECK_MSG(!(p->props & PATH_EXTRA_SLASHES), "'%s' + '%s' gave '%s'",
                           base ? base : "(null)", path, result.c_str());
        if (flags & PATHABS_TRAILING_SLASH)
            FUZZ_CHECK(p->count == 1 || isSep(result.back(), dos));
    }
    if (dotShare)
        return;
    int rcSelf;
    std::string const self = absEx(nullptr, result.c_str(), flags, &rcSelf);
    // The rooted branch keeps the case of a drive letter the path brings; the absolute one
    // upper-cases it.
    std::string upperResult = result;
    if (dos && upperResult.size() >= 2 && upperResult[1] == ':' && upperResult[0] >= 'a'
        && upperResult[0] <= 'z')
        upperResult[0] = (char)(upperResult[0] - 'a' + 'A');
    FUZZ_CHECK_MSG(rcSelf == 0 && self == upperResult, "'%s' + '%s' gave '%s', which gave '%s' (%d)",
                   base ? base : "(null)", path, result.c_str(), self.c_str(), rcSelf);
    std::string const viaBase = absEx(base, result.c_str(), flags, &rcSelf);
    FUZZ_CHECK(rcSelf == 0 && viaBase == upperResult);
}

void checkHelpers(const char *path, const char *comp, size_t size, uint32_t style)
{
    size_t const len = strlen(path);
    const char *final = RTPathFinalComponent(path);
    if (final)
    {
        FUZZ_CHECK(final >= path && final < path + len && !strpbrk(final, "/\\:"));
        FUZZ_CHECK(final == path || strchr("/\\:", final[-1]));
    }
    else
        FUZZ_CHECK(len == 0 || strchr("/\\:", path[len - 1]));
    const char *ext = RTPathExtension(path);
    if (ext)
    {
        FUZZ_CHECK(ext > path && ext < path + len - 1 && *ext == '.');
        FUZZ_CHECK(!strpbrk(ext, "/\\:") && !strchr(ext + 1, '.'));
    }
    FUZZ_CHECK(RTPathHasExtension(path) == (ext != nullptr));
    FUZZ_CHECK(RTPathRootLength(path) <= len);
    size_t dirLen = 0, nameOff = 0, sufOff = 0;
    FUZZ_CHECK(RTPathMeasure(path, &dirLen, &nameOff, &sufOff) == len);
    FUZZ_CHECK(dirLen <= len);
    if (nameOff != RTPATH_NO_OFFSET)
        FUZZ_CHECK(nameOff < len);
    if (sufOff != RTPATH_NO_OFFSET)
        FUZZ_CHECK(nameOff != RTPATH_NO_OFFSET && sufOff > nameOff && sufOff < len
                   && path[sufOff] == '.');

    // Adding a component into a buffer of exactly `size` bytes: a terminated result that
    // starts like the path, or the old content untouched.
    if (size > len)
    {
        char *buf = (char *)malloc(size);
        memcpy(buf, path, len + 1);
        int rc = RTPathAddComponentEx(buf, size, comp, RTSTR_MAX, style);
        if (rc == 0)
            FUZZ_CHECK(strnlen(buf, size) < size);
        else
        {
            FUZZ_CHECK(rc == ERR_BUFFER_OVERFLOW || rc == ERR_INVALID_FLAGS);
            FUZZ_CHECK(memcmp(buf, path, len + 1) == 0);
        }
        free(buf);

        char *join = (char *)malloc(size);
        int jrc = RTPathJoinInto(join, size, path, comp);
        if (jrc == 0)
        {
            char *a = RTPathJoinA(path, comp);
            FUZZ_CHECK(a && strcmp(a, join) == 0);
            RTStrDispose(a);
        }
        free(join);

        char *trail = (char *)malloc(size);
        memcpy(trail, path, len + 1);
        size_t const t = RTPathAddTrailingSeparator(trail, size);
        if (t)
            FUZZ_CHECK(t < size && strlen(trail) == t && strchr("/\\:", trail[t - 1]));
        else
            FUZZ_CHECK(memcmp(trail, path, len + 1) == 0);
        free(trail);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzReader in = { data, size };
    uint8_t const mode = in.byte();
    uint8_t const f = in.byte();
    size_t const trySize = in.byte();
    const uint8_t *p;
    size_t n = in.piece(0, &p);
    char *base = FuzzTerminatedCopy(p, n);
    n = in.piece(0, &p);
    char *path = FuzzTerminatedCopy(p, n);

    static const uint32_t kStyles[] = { PATH_STYLE_HOST, PATH_STYLE_DOS, PATH_STYLE_UNIX };
    uint32_t const style = kStyles[mode % 3];
    uint32_t const parseFlags = (f & 1 ? PATH_PARSE_NO_ROOT : 0) | (f & 2 ? PATH_PARSE_NO_END : 0);
    checkSplit(path, style | parseFlags, (f >> 5) & 3);
    checkSplit(base, style, 8);

    // Unix style has no drive: keep the fixed DOS current directory out of it by giving a
    // rooted base.
    std::string unixBase = std::string("/") + base;
    uint32_t absFlags = style | (f & 4 ? PATHABS_NO_CLIMB_BASE : 0)
                      | (f & 8 ? PATHABS_NO_CLIMB_CWD : 0) | (f & 16 ? PATHABS_TRAILING_SLASH : 0);
    if (style == PATH_STYLE_UNIX)
        checkAbs(unixBase.c_str(), path, absFlags, trySize);
    else
        checkAbs((mode & 0x80) ? nullptr : base, path, absFlags, trySize);
    checkHelpers(path, base, trySize, style);
    free(base);
    free(path);
    return 0;
}
