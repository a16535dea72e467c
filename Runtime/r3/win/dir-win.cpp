// Directories on Windows: create, remove, exists, and holding a directory open.
#include "kelp/dir.h"
#include "kelp/err.h"
#include "kelp/mem.h"
#include "kelp/nativepath.h"
#include "kelp/path.h"
#include "kelp/string.h"
#include "r3/nt/ntapi.h"

#include <windows.h>
#include <winternl.h>

struct RTDIRINTERNAL
{
    uint32_t       magic;
    RTDIRINTERNAL *next;        // the list of open records
    char          *path;        // absolute, ends with a separator
    HANDLE         hDir;        // INVALID_HANDLE_VALUE when none
};

namespace
{

// Every open record is listed, so that a stale handle (a closed or never opened record)
// is recognised without reading memory that may already be freed.
RTDIRINTERNAL *g_openDirs;
volatile LONG g_openDirsLock;

void LockOpenDirs()
{
    while (InterlockedExchange(&g_openDirsLock, 1))
        YieldProcessor();
}

void UnlockOpenDirs()
{
    InterlockedExchange(&g_openDirsLock, 0);
}

bool IsListedLocked(RTDIRINTERNAL *dir)
{
    for (RTDIRINTERNAL *p = g_openDirs; p; p = p->next)
        if (p == dir)
            return true;
    return false;
}

} // namespace

int RTDirCreate(const char *path, RTFMODE mode, uint32_t fCreate)
{
    if (!RTIsValidPtr(path))
        return ERR_INVALID_POINTER;
    mode = RTFsModeNormalize(mode, path, 0, MODE_TYPE_DIRECTORY);
    if (!RTFsModeIsValid(mode))
        return ERR_INVALID_MODE;

    RTUTF16 *nativePath = nullptr;
    int rc = RTPathToNativeWin32(&nativePath, path);
    if (rc)
        return rc;
    if (!CreateDirectoryW(nativePath, nullptr))
        rc = RTErrConvertFromWinError(GetLastError());
    else if (!(fCreate & RTDIR_CREATE_KEEP_INDEXED)
             && !SetFileAttributesW(nativePath, FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
             && !(fCreate & RTDIR_CREATE_IGNORE_ATTR_ERROR))
        rc = RTErrConvertFromWinError(GetLastError());
    RTPathFreeNativeWin32(nativePath);
    return rc;
}

int RTDirRemove(const char *path)
{
    if (!RTIsValidPtr(path))
        return ERR_INVALID_POINTER;
    RTUTF16 *nativePath = nullptr;
    int rc = RTPathToNativeWin32(&nativePath, path);
    if (rc)
        return rc;
    if (!RemoveDirectoryW(nativePath))
        rc = RTErrConvertFromWinError(GetLastError());
    RTPathFreeNativeWin32(nativePath);
    return rc;
}

bool RTDirExists(const char *path)
{
    RTOBJINFO info;
    return RTPathQueryInfo(path, &info, RTOBJINFO_ADD_NOTHING, RTPATH_QUERY_FOLLOW_LINK) == 0
        && (info.mode & MODE_TYPE_MASK) == MODE_TYPE_DIRECTORY;
}

bool RTFileExists(const char *path)
{
    RTOBJINFO info;
    return RTPathQueryInfo(path, &info, RTOBJINFO_ADD_NOTHING, RTPATH_QUERY_FOLLOW_LINK) == 0
        && (info.mode & MODE_TYPE_MASK) == MODE_TYPE_FILE
        && !(info.mode & (MODE_WIN_DEVICE | MODE_WIN_REPARSE_POINT));
}

int RTDirOpen(RTDIR *phDir, const char *path)
{
    if (!RTIsValidPtr(phDir) || !RTIsValidPtr(path))
        return ERR_INVALID_POINTER;

    RTDIRINTERNAL *dir = (RTDIRINTERNAL *)RTMemAllocZ(sizeof(RTDIRINTERNAL));
    char *absPath = RTPathAbsExDup(nullptr, path, PATH_STYLE_DOS | PATHABS_TRAILING_SLASH);
    if (!dir || !absPath)
    {
        RTMemFree(dir);
        RTStrDispose(absPath);
        return ERR_NO_MEMORY;
    }
    dir->magic = RTDIR_MAGIC;
    dir->path = absPath;
    dir->hDir = INVALID_HANDLE_VALUE;

    // Delete access is deliberately not shared.
    ULONG const options = FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | 0x4000 /* backup intent */;
    int rc = RTPathOpenNt(absPath, SYNCHRONIZE | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, options, OBJ_CASE_INSENSITIVE,
                          &dir->hDir, nullptr);
    if (rc == ERR_ACCESS_DENIED)
        rc = RTPathOpenNt(absPath, SYNCHRONIZE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, options, OBJ_CASE_INSENSITIVE,
                          &dir->hDir, nullptr);
    if (rc)
    {
        RTStrDispose(absPath);
        RTMemFree(dir);
        return rc;
    }

    LockOpenDirs();
    dir->next = g_openDirs;
    g_openDirs = dir;
    UnlockOpenDirs();
    *phDir = dir;
    return 0;
}

bool RTDirIsValid(RTDIR hDir)
{
    if (!RTIsValidPtr(hDir))
        return false;
    LockOpenDirs();
    bool const valid = IsListedLocked(hDir) && hDir->magic == RTDIR_MAGIC;
    UnlockOpenDirs();
    return valid;
}

int RTDirClose(RTDIR hDir)
{
    if (!RTIsValidPtr(hDir))
        return ERR_BAD_ARGUMENT;
    LockOpenDirs();
    bool found = false;
    for (RTDIRINTERNAL **pp = &g_openDirs; *pp; pp = &(*pp)->next)
        if (*pp == hDir)
        {
            found = hDir->magic == RTDIR_MAGIC;
            if (found)
                *pp = hDir->next;
            break;
        }
    UnlockOpenDirs();
    if (!found)
        return ERR_BAD_ARGUMENT;

    hDir->magic = RTDIR_MAGIC_DEAD;
    if (hDir->hDir != INVALID_HANDLE_VALUE)
        NtClose(hDir->hDir);
    RTStrDispose(hDir->path);
    RTMemFree(hDir);
    return 0;
}
