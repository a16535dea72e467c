// Files on Windows: open, close, delete, read, write, seek, size, flush, rename and the
// file-system type. An RTFILE is the Windows handle; no state is kept beside it.
#include "kelp/file.h"
#include "kelp/err.h"
#include "kelp/nativepath.h"
#include "kelp/path.h"
#include "r3/win/fs-win.h"
#include "r3/win/file-transfer.h"
#include "r3/nt/ntapi.h"

#include <windows.h>
#include <winternl.h>

namespace
{

int ConvertLastError()
{
    return RTErrConvertFromWinError(GetLastError());
}

} // namespace

void rtFileWinOpenParams(uint64_t fOpen, RTFILEWINOPEN *p)
{
    switch (fOpen & RTFILE_OPEN_ACTION_MASK)
    {
        case RTFILE_OPEN_OPEN_OR_CREATE: p->disposition = OPEN_ALWAYS; break;
        case RTFILE_OPEN_CREATE_NEW:     p->disposition = CREATE_NEW; break;
        case RTFILE_OPEN_CREATE_REPLACE: p->disposition = CREATE_ALWAYS; break;
        default:
            p->disposition = (fOpen & RTFILE_OPEN_TRUNCATE) ? TRUNCATE_EXISTING : OPEN_EXISTING;
            break;
    }

    bool const append = (fOpen & RTFILE_OPEN_APPEND) != 0;
    uint32_t access = 0;
    switch (fOpen & RTFILE_OPEN_ACCESS_MASK)
    {
        case RTFILE_OPEN_READ:      access = FILE_GENERIC_READ; break;
        case RTFILE_OPEN_WRITE:     access = append ? 0x120114 : FILE_GENERIC_WRITE; break;
        case RTFILE_OPEN_READWRITE: access = append ? 0x12019D : 0x12019F; break;
        default: break;
    }
    if (p->disposition == TRUNCATE_EXISTING)
        access |= GENERIC_WRITE;

    uint64_t attrBits = fOpen & RTFILE_OPEN_ATTR_MASK;
    if (!attrBits)
        attrBits = (fOpen & RTFILE_OPEN_ACCESS_MASK) << 16;
    if (attrBits & RTFILE_OPEN_ATTR_READ)
        access |= SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    if (attrBits & RTFILE_OPEN_ATTR_WRITE)
        access |= SYNCHRONIZE | FILE_WRITE_ATTRIBUTES;

    static const uint8_t shareBySharing[9] =
    {
        /* 0x00 */ FILE_SHARE_READ | FILE_SHARE_WRITE,
        /* 0x10 */ FILE_SHARE_WRITE,
        /* 0x20 */ FILE_SHARE_READ,
        /* 0x30 */ 0,
        /* 0x40 */ FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        /* 0x50 */ FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        /* 0x60 */ FILE_SHARE_READ | FILE_SHARE_DELETE,
        /* 0x70 */ FILE_SHARE_DELETE,
        /* 0x80 */ FILE_SHARE_READ | FILE_SHARE_WRITE,
    };
    uint32_t const sharing = (uint32_t)((fOpen & RTFILE_OPEN_SHARING_MASK) >> 4);
    p->share = sharing < RT_ELEMENTS(shareBySharing) ? shareBySharing[sharing] : 0;

    uint32_t flags = (fOpen & RTFILE_OPEN_TEMPORARY) ? FILE_ATTRIBUTE_TEMPORARY : FILE_ATTRIBUTE_NORMAL;
    if (fOpen & RTFILE_OPEN_WRITE_THROUGH)
        flags |= FILE_FLAG_WRITE_THROUGH;
    if (fOpen & RTFILE_OPEN_ASYNC_IO)
        flags |= FILE_FLAG_OVERLAPPED;
    if (fOpen & RTFILE_OPEN_NO_CACHE)
    {
        flags |= FILE_FLAG_NO_BUFFERING;
        access &= ~(uint32_t)FILE_APPEND_DATA;
    }

    p->access = access;
    p->flagsAndAttributes = flags;
    p->inherit = (fOpen & RTFILE_OPEN_INHERIT) != 0;
}

int RTFileOpen(RTFILE *phFile, const char *path, uint64_t fOpen)
{
    return RTFileOpenEx(path, fOpen, phFile, nullptr);
}

int RTFileOpenEx(const char *path, uint64_t fOpen, RTFILE *phFile, uint32_t *pAction)
{
    if (!phFile)
        return ERR_BAD_ARGUMENT;
    *phFile = RTFILE_NIL;
    if (pAction)
        *pAction = RTFILE_ACTION_INVALID;
    if (!path)
        return ERR_BAD_ARGUMENT;

    int rc = RTFileValidateOpenFlags(&fOpen);
    if (rc)
        return rc;

    RTFILEWINOPEN params;
    rtFileWinOpenParams(fOpen, &params);
    SECURITY_ATTRIBUTES sa = { sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE };

    RTUTF16 *nativePath = nullptr;
    rc = RTPathToNativeWin32(&nativePath, path);
    if (rc)
        return rc;

    HANDLE h = CreateFileW(nativePath, params.access, params.share,
                           params.inherit ? &sa : nullptr, params.disposition,
                           params.flagsAndAttributes, nullptr);
    DWORD const lastError = GetLastError();
    uint32_t action = RTFILE_ACTION_INVALID;
    if (h == INVALID_HANDLE_VALUE)
    {
        if (params.disposition == CREATE_NEW && lastError == ERROR_FILE_EXISTS)
            action = RTFILE_ACTION_ALREADY_EXISTS;
        rc = RTErrConvertFromWinError(lastError);
    }
    else
    {
        switch (params.disposition)
        {
            case CREATE_NEW:    action = RTFILE_ACTION_CREATED; break;
            case CREATE_ALWAYS: action = lastError == ERROR_ALREADY_EXISTS ? RTFILE_ACTION_REPLACED
                                                                           : RTFILE_ACTION_CREATED; break;
            case OPEN_ALWAYS:   action = lastError == ERROR_ALREADY_EXISTS ? RTFILE_ACTION_OPENED
                                                                           : RTFILE_ACTION_CREATED; break;
            case TRUNCATE_EXISTING: action = RTFILE_ACTION_TRUNCATED; break;
            default:            action = RTFILE_ACTION_OPENED; break;
        }

        bool stepFailed = false;
        if ((fOpen & RTFILE_OPEN_NOT_CONTENT_INDEXED)
            && (action == RTFILE_ACTION_CREATED || action == RTFILE_ACTION_REPLACED))
            stepFailed = !SetFileAttributesW(nativePath, FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        else if ((fOpen & (RTFILE_OPEN_TRUNCATE | RTFILE_OPEN_ACTION_MASK))
                     == (RTFILE_OPEN_TRUNCATE | RTFILE_OPEN_OPEN_OR_CREATE)
                 && action == RTFILE_ACTION_OPENED)
        {
            stepFailed = !SetEndOfFile(h);
            if (!stepFailed)
                action = RTFILE_ACTION_TRUNCATED;
        }
        if (stepFailed)
        {
            rc = ConvertLastError();
            CloseHandle(h);
            h = INVALID_HANDLE_VALUE;
        }
    }

    if (pAction)
        *pAction = action;
    RTPathFreeNativeWin32(nativePath);
    if (!rc)
        *phFile = (RTFILE)h;
    return rc;
}

int RTFileClose(RTFILE hFile)
{
    if (hFile == RTFILE_NIL)
        return 0;
    if (!CloseHandle((HANDLE)hFile))
        return ConvertLastError();
    return 0;
}

int RTFileFromNative(RTFILE *phFile, void *nativeHandle)
{
    *phFile = (RTFILE)nativeHandle;
    return nativeHandle == INVALID_HANDLE_VALUE ? ERR_INVALID_HANDLE : 0;
}

bool RTFileIsValid(RTFILE hFile)
{
    if (hFile == RTFILE_NIL)
        return false;
    SetLastError(0);
    switch (GetFileType((HANDLE)hFile))
    {
        case FILE_TYPE_DISK:
        case FILE_TYPE_CHAR:
        case FILE_TYPE_PIPE:
        case FILE_TYPE_REMOTE:
            return true;
        case FILE_TYPE_UNKNOWN:
            return GetLastError() == 0;
        default:
            return false;
    }
}

int RTFileDelete(const char *path)
{
    if (!RTIsValidPtr(path))
        return ERR_INVALID_POINTER;
    RTUTF16 *nativePath = nullptr;
    int rc = RTPathToNativeWin32(&nativePath, path);
    if (rc)
        return rc;
    if (!DeleteFileW(nativePath))
        rc = ConvertLastError();
    RTPathFreeNativeWin32(nativePath);
    return rc;
}

namespace
{

struct ReadIo
{
    static const bool kIsWrite = false;
    static const uint32_t kChunkCap = 0x4000;
    static const int kZeroStatus = ERR_EOF;
    HANDLE h;

    bool Transfer(uint8_t *pb, uint32_t cb, uint32_t *pcbDone)
    {
        DWORD got = 0;
        BOOL ok = ReadFile(h, pb, cb, &got, nullptr);
        *pcbDone = got;
        return ok != FALSE;
    }
    uint32_t LastError() { return GetLastError(); }
    int Fail(uint32_t winError, uint32_t) { return RTErrConvertFromWinError(winError); }
};

struct WriteIo
{
    static const bool kIsWrite = true;
    static const uint32_t kChunkCap = 0x8000;
    static const int kZeroStatus = ERR_WRITE_FAULT;
    HANDLE h;

    bool Transfer(uint8_t *pb, uint32_t cb, uint32_t *pcbDone)
    {
        DWORD got = 0;
        BOOL ok = WriteFile(h, pb, cb, &got, nullptr);
        *pcbDone = got;
        return ok != FALSE;
    }
    uint32_t LastError() { return GetLastError(); }
    int Fail(uint32_t winError, uint32_t cbPending)
    {
        int rc = RTErrConvertFromWinError(winError);
        if (rc == ERR_DISK_FULL)
            rc = RTFileCheckDiskFull((RTFILE)h, RTFileTell((RTFILE)h) + cbPending);
        return rc;
    }
};

} // namespace

int RTFileRead(RTFILE hFile, void *pvBuf, uint32_t cbToRead, uint32_t *pcbRead)
{
    ReadIo io = { (HANDLE)hFile };
    return rtFileTransfer(io, (uint8_t *)pvBuf, cbToRead, pcbRead);
}

int RTFileWrite(RTFILE hFile, const void *pvBuf, uint32_t cbToWrite, uint32_t *pcbWritten)
{
    WriteIo io = { (HANDLE)hFile };
    // WriteFile takes a const buffer; the shared loop only passes the pointer on.
    return rtFileTransfer(io, (uint8_t *)const_cast<void *>(pvBuf), cbToWrite, pcbWritten);
}

int RTFileSeek(RTFILE hFile, int64_t offset, uint32_t method, uint64_t *pNewPos)
{
    if (method > RTFILE_SEEK_END)
        return ERR_BAD_ARGUMENT;
    LONG high = (LONG)((uint64_t)offset >> 32);
    DWORD const low = (DWORD)(uint64_t)offset;
    // A new position whose low half is all ones comes back as INVALID_SET_FILE_POINTER
    // whatever was asked for, so that value is judged by the last error every time.
    SetLastError(0);
    DWORD const newLow = SetFilePointer((HANDLE)hFile, (LONG)low, &high, method);
    DWORD const lastError = newLow == INVALID_SET_FILE_POINTER ? GetLastError() : NO_ERROR;
    if (lastError != NO_ERROR)
        return RTErrConvertFromWinError(lastError);
    if (pNewPos)
        *pNewPos = ((uint64_t)(uint32_t)high << 32) | newLow;
    return 0;
}

uint64_t RTFileTell(RTFILE hFile)
{
    uint64_t pos = 0;
    if (RTFileSeek(hFile, 0, RTFILE_SEEK_CURRENT, &pos))
        return UINT64_MAX;
    return pos;
}

int RTFileFlush(RTFILE hFile)
{
    if (!FlushFileBuffers((HANDLE)hFile))
        return ConvertLastError();
    return 0;
}

int RTFileQuerySize(RTFILE hFile, uint64_t *pcbSize)
{
    DWORD high = 0;
    SetLastError(0);
    DWORD const low = GetFileSize((HANDLE)hFile, &high);
    DWORD const lastError = GetLastError();
    // A size whose low half is all ones comes back as INVALID_FILE_SIZE with no error.
    if (low != INVALID_FILE_SIZE || lastError == NO_ERROR)
    {
        *pcbSize = ((uint64_t)high << 32) | low;
        return 0;
    }

    // Perhaps a disk device: its size is its geometry, or better its length.
    int const rcKept = RTErrConvertFromWinError(lastError);
    DISK_GEOMETRY geometry;
    DWORD cbReturned = 0;
    if (!DeviceIoControl((HANDLE)hFile, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                         sizeof(geometry), &cbReturned, nullptr)
        || (geometry.MediaType != RemovableMedia && geometry.MediaType != FixedMedia))
        return rcKept;
    uint64_t size = (uint64_t)geometry.Cylinders.QuadPart * geometry.TracksPerCylinder
                  * geometry.SectorsPerTrack * geometry.BytesPerSector;
    GET_LENGTH_INFORMATION length;
    if (DeviceIoControl((HANDLE)hFile, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                        sizeof(length), &cbReturned, nullptr))
        size = (uint64_t)length.Length.QuadPart;
    *pcbSize = size;
    return 0;
}

int RTFileRename(const char *source, const char *target, uint32_t fRename)
{
    if (!RTIsValidPtr(source) || !RTIsValidPtr(target))
        return ERR_INVALID_POINTER;
    if (fRename & ~(uint32_t)RTFILEMOVE_FLAGS_REPLACE)
        return ERR_BAD_ARGUMENT;
    return RTPathMove(source, target,
                      (fRename & RTFILEMOVE_FLAGS_REPLACE) ? MOVEFILE_REPLACE_EXISTING : 0,
                      MODE_TYPE_FILE);
}

int RTFileQueryFsType(RTFILE hFile, RTFSTYPE *pType)
{
    *pType = RTFSTYPE_UNKNOWN;
    union
    {
        FILE_FS_ATTRIBUTE_INFORMATION info;
        uint8_t bytes[4112];
    } buf;
    IO_STATUS_BLOCK ios = {};
    NTSTATUS const status = NtQueryVolumeInformationFile((HANDLE)hFile, &ios, &buf, sizeof(buf),
                                                         FileFsAttributeInformation);
    if (!NT_SUCCESS(status))
        return RTErrConvertFromNtStatus(status);
    uint32_t cwc = buf.info.FileSystemNameLength / 2;
    uint32_t const cwcMax = (uint32_t)(sizeof(buf) - offsetof(FILE_FS_ATTRIBUTE_INFORMATION, FileSystemName)) / 2;
    if (cwc > cwcMax)
        cwc = cwcMax;
    *pType = RTFsTypeFromName((const uint16_t *)buf.info.FileSystemName, cwc);
    return 0;
}

int RTFileCheckDiskFull(RTFILE hFile, uint64_t cbDesired)
{
    if (cbDesired < 0x7FFFFFFF)
        return ERR_DISK_FULL;
    RTFSTYPE type = RTFSTYPE_UNKNOWN;
    if (RTFileQueryFsType(hFile, &type))
        return ERR_DISK_FULL;
    uint64_t const limit = RTFsTypeMaxFileSize(type);
    return limit && cbDesired >= limit ? ERR_FILE_TOO_BIG : ERR_DISK_FULL;
}
