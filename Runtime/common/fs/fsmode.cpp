// The mode word, the open flag word's validation and file-system type facts: all of it is
// plain arithmetic, so it lives on the portable side.
#include "kelp/file.h"
#include "kelp/err.h"

namespace
{

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c + ('a' - 'A')) : c;
}

size_t MeasureName(const char *name, size_t cchName)
{
    if (cchName || !name)
        return cchName;
    size_t n = 0;
    while (name[n])
        n++;
    return n;
}

bool HasExecutableSuffix(const char *name, size_t cchName)
{
    if (cchName < 4 || name[cchName - 4] != '.')
        return false;
    static const char suffixes[][4] = { "exe", "bat", "com", "cmd", "btm" };
    char const a = AsciiLower(name[cchName - 3]);
    char const b = AsciiLower(name[cchName - 2]);
    char const c = AsciiLower(name[cchName - 1]);
    for (const char *s : suffixes)
        if (s[0] == a && s[1] == b && s[2] == c)
            return true;
    return false;
}

// A final component starting with a dot, other than "." and "..".
bool IsDotName(const char *name, size_t cchName)
{
    size_t start = 0;
    for (size_t i = 0; i < cchName; i++)
        if (name[i] == '/' || name[i] == '\\' || name[i] == ':')
            start = i + 1;
    size_t const len = cchName - start;
    if (len < 1 || name[start] != '.')
        return false;
    if (len == 1 || (len == 2 && name[start + 1] == '.'))
        return false;
    return true;
}

} // namespace

RTFMODE RTFsModeFromAttributes(RTFMODE mode, const char *name, size_t cchName,
                               uint32_t reparseTag, RTFMODE typeHint)
{
    mode &= 0xFFFF0000u;
    if (typeHint == MODE_TYPE_DIRECTORY)
        mode |= MODE_WIN_DIRECTORY;

    if (mode & MODE_WIN_DIRECTORY)
        mode |= MODE_TYPE_DIRECTORY | 0555;
    else
    {
        mode |= MODE_TYPE_FILE | 0444;
        if (name && HasExecutableSuffix(name, MeasureName(name, cchName)))
            mode |= MODE_EXEC_BITS;
    }

    if ((mode & MODE_WIN_REPARSE_POINT) && reparseTag == RTFS_REPARSE_TAG_SYMLINK)
        mode = (mode & ~(RTFMODE)0x5000) | MODE_TYPE_SYMLINK;

    if ((mode & (MODE_WIN_READONLY | MODE_WIN_DIRECTORY)) != MODE_WIN_READONLY)
        mode |= MODE_WRITE_BITS;
    return mode;
}

RTFMODE RTFsModeNormalize(RTFMODE mode, const char *name, size_t cchName, RTFMODE typeHint)
{
    if (!(mode & MODE_UNIX_MASK))
        return RTFsModeFromAttributes(mode, name, cchName, RTFS_REPARSE_TAG_SYMLINK, typeHint);

    if (mode & MODE_WIN_MASK)
    {
        if (mode & MODE_TYPE_MASK)
        {
            if ((mode & MODE_TYPE_MASK) == MODE_TYPE_DIRECTORY)
                mode |= MODE_WIN_DIRECTORY;
        }
        else
            mode |= (mode & MODE_WIN_DIRECTORY) ? MODE_TYPE_DIRECTORY : MODE_TYPE_FILE;
        return mode;
    }

    mode &= MODE_UNIX_MASK;
    if (typeHint && !(typeHint & MODE_TYPE_MASK))
        mode |= typeHint;
    if (!(mode & MODE_WRITE_BITS))
        mode |= MODE_WIN_READONLY;
    if ((mode & MODE_TYPE_MASK) == MODE_TYPE_DIRECTORY)
        mode |= MODE_WIN_DIRECTORY;
    if (!(mode & MODE_WIN_MASK))
        mode |= MODE_WIN_NORMAL;
    if (!(mode & MODE_WIN_HIDDEN) && name && IsDotName(name, MeasureName(name, cchName)))
        mode |= MODE_WIN_HIDDEN;
    return mode;
}

bool RTFsModeIsValid(RTFMODE mode)
{
    bool const isDirType = (mode & MODE_TYPE_MASK) == MODE_TYPE_DIRECTORY;
    bool const hasDirAttr = (mode & MODE_WIN_DIRECTORY) != 0;
    return isDirType == hasDirAttr;
}

int RTFileValidateOpenFlags(uint64_t *pfOpen)
{
    uint64_t f = *pfOpen;
    if (!(f & (RTFILE_OPEN_ACCESS_MASK | RTFILE_OPEN_ATTR_MASK)))
        return ERR_BAD_ARGUMENT;
    if (f & RTFILE_OPEN_RESERVED_MASK)
        return ERR_BAD_ARGUMENT;
    if ((f & (RTFILE_OPEN_TRUNCATE | RTFILE_OPEN_WRITE)) == RTFILE_OPEN_TRUNCATE)
        return ERR_BAD_ARGUMENT;

    switch (f & RTFILE_OPEN_ACTION_MASK)
    {
        case 0:
            f |= RTFILE_OPEN_EXISTING;
            break;
        case RTFILE_OPEN_OPEN_OR_CREATE:
        case RTFILE_OPEN_CREATE_NEW:
        case RTFILE_OPEN_CREATE_REPLACE:
            break;
        case RTFILE_OPEN_EXISTING:
            // Nothing is created, so asking for the created file's attribute is a mistake.
            if (f & RTFILE_OPEN_NOT_CONTENT_INDEXED)
                return ERR_BAD_ARGUMENT;
            break;
        default:
            return ERR_BAD_ARGUMENT;
    }

    uint64_t const sharing = f & RTFILE_OPEN_SHARING_MASK;
    if (!sharing)
        f |= RTFILE_OPEN_DENY_NONE;
    else if (sharing > RTFILE_OPEN_DENY_NONE)
        return ERR_BAD_ARGUMENT;

    *pfOpen = f & 0xFFFFFFFFu;
    return 0;
}

uint64_t RTFsTypeMaxFileSize(RTFSTYPE type)
{
    switch (type)
    {
        case RTFSTYPE_ISO9660: return (uint64_t)1 << 43;
        case RTFSTYPE_FAT:     return (uint64_t)1 << 32;
        case RTFSTYPE_HPFS:    return (uint64_t)1 << 31;
        default:               return 0;
    }
}

RTFSTYPE RTFsTypeFromName(const uint16_t *name, size_t cwcName)
{
    static const struct { const char *name; RTFSTYPE type; } names[] =
    {
        { "NTFS", RTFSTYPE_NTFS },
        { "FAT", RTFSTYPE_FAT },
        { "FAT32", RTFSTYPE_FAT },
        { "exFAT", RTFSTYPE_EXFAT },
        { "UDF", RTFSTYPE_UDF },
        { "CDFS", RTFSTYPE_ISO9660 },
        { "HPFS", RTFSTYPE_HPFS },
        { "ReFS", RTFSTYPE_REFS },
        { "PlomSharedFolderFS", RTFSTYPE_SHARED_FOLDER },
    };
    for (const auto &entry : names)
    {
        size_t i = 0;
        while (i < cwcName && entry.name[i] && name[i] == (uint16_t)(unsigned char)entry.name[i])
            i++;
        if (i == cwcName && !entry.name[i])
            return entry.type;
    }
    return RTFSTYPE_UNKNOWN;
}
