// Paths: zero-terminated UTF-8 text. The text functions are portable; the current
// directory, moving and the temporary directory ask Windows or the environment.
//
// Buffer functions zero-terminate their result on success and return ERR_BUFFER_OVERFLOW
// when it does not fit; RTPathAbsEx then reports through its in/out size the number of
// bytes (with the terminator) that would have been needed.
#pragma once

#include "kelp/types.h"

// Styles (bits 0-1 of every flag word with a style), parse flags and RTPathAbsEx flags.
enum : uint32_t
{
    PATH_STYLE_HOST        = 0,     // DOS on this platform
    PATH_STYLE_DOS         = 1,     // '\' and '/' separate, drives and UNC, '\' written
    PATH_STYLE_UNIX        = 2,     // only '/'
    PATH_STYLE_MASK        = 3,

    PATH_PARSE_NO_ROOT     = 0x10,  // skip leading separators, parse as relative
    PATH_PARSE_NO_END      = 0x20,  // a middle piece: no file name, suffix or dir slash

    PATHABS_NO_CLIMB_BASE  = 0x10000,
    PATHABS_NO_CLIMB_CWD   = 0x20000,
    PATHABS_TRAILING_SLASH = 0x40000,
};

// Properties of a parsed path.
enum : uint16_t
{
    PATH_HAS_FILENAME   = 0x0001,
    PATH_DIR_SLASH      = 0x0002,
    PATH_HAS_SUFFIX     = 0x0004,
    PATH_UNC            = 0x0010,
    PATH_ROOT_SLASH     = 0x0020,
    PATH_VOLUME         = 0x0040,
    PATH_ABSOLUTE       = 0x0100,
    PATH_RELATIVE       = 0x0200,
    PATH_EXTRA_SLASHES  = 0x0400,
    PATH_DOT_REFS       = 0x0800,
    PATH_DOTDOT_REFS    = 0x1000,
    PATH_SPECIAL_UNC    = 0x2000,
};

struct ParsedPathComp
{
    uint16_t offset;
    uint16_t length;    // 0 drops the component when reassembling
};

// Filled by RTPathSplitComponents in a caller's buffer of 12 + 4 * n bytes (n entries).
struct ParsedPath
{
    uint16_t count;         // all components, also those that did not fit
    uint16_t props;
    uint16_t normLength;    // length of the reassembled path
    uint16_t reserved;
    uint16_t suffixOffset;
    uint16_t suffixLength;
    ParsedPathComp comps[];
};
#define RTPATH_PARSED_SIZE(n) (sizeof(ParsedPath) + (size_t)(n) * sizeof(ParsedPathComp))

// "No such offset" from RTPathMeasure.
#define RTPATH_NO_OFFSET (~(size_t)0)

size_t RTPathRootLength(const char *path);
bool RTPathStartsWithRoot(const char *path);
// After the last '/', '\' or ':'; null when nothing follows it.
const char *RTPathFinalComponent(const char *path);
inline char *RTPathFinalComponent(char *path)
{
    return const_cast<char *>(RTPathFinalComponent((const char *)path));
}
// The last '.' of the final component; none when it ends or starts the whole path.
const char *RTPathExtension(const char *path);
inline char *RTPathExtension(char *path)
{
    return const_cast<char *>(RTPathExtension((const char *)path));
}
bool RTPathHasExtension(const char *path);
bool RTPathHasDirPart(const char *text);
char *RTPathToBackslashes(char *path);
void RTPathUpperDrive(char *path);
// New length, or 0 when the separator does not fit.
size_t RTPathAddTrailingSeparator(char *buffer, size_t size);
// Returns the length; the offsets are RTPATH_NO_OFFSET when there is no such part.
size_t RTPathMeasure(const char *path, size_t *dirLength, size_t *fileNameOffset,
                     size_t *suffixOffset);

int RTPathSplitComponents(const char *path, ParsedPath *parsed, size_t cbParsed, uint32_t flags);
int RTPathReassemble(const char *path, ParsedPath *parsed, uint32_t style, char *buffer,
                     size_t size);

// maxCompLength limits how much of the component is used (all ones: no limit).
int RTPathAddComponentEx(char *buffer, size_t size, const char *component, size_t maxCompLength,
                         uint32_t style);
int RTPathAddComponent(char *buffer, size_t size, const char *component);
int RTPathJoinInto(char *buffer, size_t size, const char *first, const char *second);
// Free with RTStrDispose.
char *RTPathJoinA(const char *first, const char *second);

// *size: the buffer's size in, the result's length (or on overflow the needed size) out.
int RTPathAbsEx(const char *base, const char *path, uint32_t flags, char *buffer, size_t *size);
int RTPathAbsSimple(const char *path, char *buffer, size_t size);
// Free with RTStrDispose.
char *RTPathAbsExDup(const char *base, const char *path, uint32_t flags);

// Windows-bound.
int RTPathCurrentDir(char *buffer, size_t size);
int RTPathCurrentDirOnDrive(char driveLetter, char *buffer, size_t size);
int RTPathGetCurrentDrive(char *buffer, size_t size);
int RTPathChangeDir(const char *path);
// expectedType: 0, or a mode type (MODE_TYPE_DIRECTORY, or another for a non-directory).
int RTPathMove(const char *source, const char *target, uint32_t moveFlags, uint32_t expectedType);
int RTPathOfExecutableDir(char *buffer, size_t size);
int RTPathTempDir(char *buffer, size_t size);
