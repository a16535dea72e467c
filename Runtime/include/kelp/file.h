// Files: opening with one portable flag word, reading, writing, seeking, information
// records, the mode word that describes file-system objects, and the file-system type.
#pragma once

#include "kelp/types.h"

// The Windows handle value itself; RTFILE_NIL is INVALID_HANDLE_VALUE.
typedef void *RTFILE;
#define RTFILE_NIL ((RTFILE)(intptr_t)-1)

// Open flag word (only the low 32 bits carry meaning).
enum : uint64_t
{
    RTFILE_OPEN_READ                = 0x1,
    RTFILE_OPEN_WRITE               = 0x2,
    RTFILE_OPEN_READWRITE           = 0x3,
    RTFILE_OPEN_ACCESS_MASK         = 0x3,
    RTFILE_OPEN_APPEND              = 0x4,

    RTFILE_OPEN_DENY_READ           = 0x10,
    RTFILE_OPEN_DENY_WRITE          = 0x20,
    RTFILE_OPEN_DENY_ALL            = 0x30,
    RTFILE_OPEN_SHARE_DELETE        = 0x40,
    RTFILE_OPEN_DENY_NONE           = 0x80,
    RTFILE_OPEN_SHARING_MASK        = 0xF0,

    RTFILE_OPEN_OPEN_OR_CREATE      = 0x100,
    RTFILE_OPEN_CREATE_NEW          = 0x200,
    RTFILE_OPEN_CREATE_REPLACE      = 0x300,
    RTFILE_OPEN_EXISTING            = 0x700,
    RTFILE_OPEN_ACTION_MASK         = 0x700,

    RTFILE_OPEN_NOT_CONTENT_INDEXED = 0x800,
    RTFILE_OPEN_TRUNCATE            = 0x1000,
    RTFILE_OPEN_INHERIT             = 0x2000,
    RTFILE_OPEN_WRITE_THROUGH       = 0x8000,
    RTFILE_OPEN_ATTR_READ           = 0x10000,
    RTFILE_OPEN_ATTR_WRITE          = 0x20000,
    RTFILE_OPEN_ATTR_MASK           = 0x30000,
    RTFILE_OPEN_ASYNC_IO            = 0x40000,
    RTFILE_OPEN_NO_CACHE            = 0x80000,
    RTFILE_OPEN_CREATE_MODE_SHIFT   = 20,
    RTFILE_OPEN_CREATE_MODE_MASK    = 0x1FF00000,
    RTFILE_OPEN_TEMPORARY           = 0x40000000,

    // Bits that must be clear.
    RTFILE_OPEN_RESERVED_MASK       = 0x80004008,
};

// What an open did (RTFileOpenEx).
enum : uint32_t
{
    RTFILE_ACTION_INVALID        = 0,
    RTFILE_ACTION_OPENED         = 1,
    RTFILE_ACTION_CREATED        = 2,
    RTFILE_ACTION_REPLACED       = 3,
    RTFILE_ACTION_TRUNCATED      = 4,
    RTFILE_ACTION_ALREADY_EXISTS = 5,
};

enum : uint32_t
{
    RTFILE_SEEK_BEGIN   = 0,
    RTFILE_SEEK_CURRENT = 1,
    RTFILE_SEEK_END     = 2,
};

// RTFileRename: replace an existing target.
enum : uint32_t { RTFILEMOVE_FLAGS_REPLACE = 0x1 };

// Mode word: Unix permissions (bits 0-8), the object type (bits 12-15) and the Windows
// attributes shifted left by MODE_WIN_SHIFT (bits 16-30).
typedef uint32_t RTFMODE;
enum : uint32_t
{
    MODE_UNIX_MASK          = 0xFFFF,
    MODE_PERM_MASK          = 0777,
    MODE_WRITE_BITS         = 0222,
    MODE_EXEC_BITS          = 0111,

    MODE_TYPE_MASK          = 0xF000,
    MODE_TYPE_CHAR_DEVICE   = 0x2000,
    MODE_TYPE_DIRECTORY     = 0x4000,
    MODE_TYPE_FILE          = 0x8000,
    MODE_TYPE_SYMLINK       = 0xA000,

    MODE_WIN_SHIFT          = 16,
    MODE_WIN_MASK           = 0x7FFF0000,
    MODE_WIN_READONLY       = 0x00010000,
    MODE_WIN_HIDDEN         = 0x00020000,
    MODE_WIN_SYSTEM         = 0x00040000,
    MODE_WIN_DIRECTORY      = 0x00100000,
    MODE_WIN_ARCHIVE        = 0x00200000,
    MODE_WIN_DEVICE         = 0x00400000,
    MODE_WIN_NORMAL         = 0x00800000,
    MODE_WIN_TEMPORARY      = 0x01000000,
    MODE_WIN_SPARSE_FILE    = 0x02000000,
    MODE_WIN_REPARSE_POINT  = 0x04000000,
    MODE_WIN_COMPRESSED     = 0x08000000,
    MODE_WIN_OFFLINE        = 0x10000000,
    MODE_WIN_NOT_INDEXED    = 0x20000000,
    MODE_WIN_ENCRYPTED      = 0x40000000,
};

// The reparse tag of a symbolic link.
enum : uint32_t { RTFS_REPARSE_TAG_SYMLINK = 0xA000000C };

// Which variant of the additional part an RTOBJINFO carries.
enum : uint32_t
{
    RTOBJINFO_ADD_NOTHING    = 1,
    RTOBJINFO_ADD_UNIX       = 2,
    RTOBJINFO_ADD_UNIX_OWNER = 3,
    RTOBJINFO_ADD_UNIX_GROUP = 4,
    RTOBJINFO_ADD_EASIZE     = 5,
};

enum : uint32_t { RTOBJINFO_NO_ID = 0xFFFFFFFF };
enum : size_t { RTOBJINFO_NAME_MAX = 64 };

struct RTOBJINFOUNIX
{
    uint32_t uid;
    uint32_t gid;
    uint32_t hardLinks;
    uint32_t idDevice;      // volume serial number of the file ID
    uint64_t fileId;
    uint32_t flags;
    uint32_t generation;
    uint32_t device;
};

struct RTOBJINFOOWNER
{
    uint32_t id;
    char     name[RTOBJINFO_NAME_MAX];
};

// Times are nanoseconds since 1970-01-01 00:00 UTC.
struct RTOBJINFO
{
    uint64_t size;
    uint64_t allocated;
    int64_t  accessTime;
    int64_t  modificationTime;
    int64_t  changeTime;
    int64_t  birthTime;
    RTFMODE  mode;
    uint32_t addKind;
    union
    {
        RTOBJINFOUNIX  unixAttr;
        RTOBJINFOOWNER owner;
        RTOBJINFOOWNER group;
        uint64_t       eaSize;
    } add;
};

typedef uint32_t RTFSTYPE;
enum : uint32_t
{
    RTFSTYPE_UNKNOWN       = 0,
    RTFSTYPE_UDF           = 1,
    RTFSTYPE_ISO9660       = 2,
    RTFSTYPE_SHARED_FOLDER = 4,
    RTFSTYPE_NTFS          = 17,
    RTFSTYPE_FAT           = 18,
    RTFSTYPE_EXFAT         = 19,
    RTFSTYPE_REFS          = 20,
    RTFSTYPE_HPFS          = 28,
};

int RTFileOpen(RTFILE *phFile, const char *path, uint64_t fOpen);
// pAction may be null; it is set even when the open fails (ALREADY_EXISTS for create-new).
int RTFileOpenEx(const char *path, uint64_t fOpen, RTFILE *phFile, uint32_t *pAction);
int RTFileClose(RTFILE hFile);
int RTFileFromNative(RTFILE *phFile, void *nativeHandle);
bool RTFileIsValid(RTFILE hFile);
int RTFileDelete(const char *path);
// Without pcbRead the whole count must be read (ERR_EOF otherwise).
int RTFileRead(RTFILE hFile, void *pvBuf, uint32_t cbToRead, uint32_t *pcbRead);
// Without pcbWritten the whole count must be written (ERR_WRITE_FAULT otherwise).
int RTFileWrite(RTFILE hFile, const void *pvBuf, uint32_t cbToWrite, uint32_t *pcbWritten);
int RTFileSeek(RTFILE hFile, int64_t offset, uint32_t method, uint64_t *pNewPos);
// All bits set on failure.
uint64_t RTFileTell(RTFILE hFile);
int RTFileFlush(RTFILE hFile);
int RTFileQuerySize(RTFILE hFile, uint64_t *pcbSize);
int RTFileQueryInfo(RTFILE hFile, RTOBJINFO *pInfo, uint32_t addKind);
int RTFileRename(const char *source, const char *target, uint32_t fRename);
int RTFileQueryFsType(RTFILE hFile, RTFSTYPE *pType);
// Tells a full disk (ERR_DISK_FULL) from a file that would outgrow its file system
// (ERR_FILE_TOO_BIG) after a write failed with ERR_DISK_FULL.
int RTFileCheckDiskFull(RTFILE hFile, uint64_t cbDesired);
// True for an existing regular file (not a device, not a reparse point); never fails.
bool RTFileExists(const char *path);

// The file-size limit that RTFileCheckDiskFull applies for a file-system type, 0 for none.
uint64_t RTFsTypeMaxFileSize(RTFSTYPE type);
// Maps a file-system name (UTF-16 units, length in units) to its type.
RTFSTYPE RTFsTypeFromName(const uint16_t *name, size_t cwcName);

RTFMODE RTFsModeFromAttributes(RTFMODE mode, const char *name, size_t cchName,
                               uint32_t reparseTag, RTFMODE typeHint);
RTFMODE RTFsModeNormalize(RTFMODE mode, const char *name, size_t cchName, RTFMODE typeHint);
bool RTFsModeIsValid(RTFMODE mode);

// Checks and completes an open flag word in place (ERR_BAD_ARGUMENT when it is refused).
int RTFileValidateOpenFlags(uint64_t *pfOpen);
