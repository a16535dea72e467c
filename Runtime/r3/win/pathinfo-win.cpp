// The information record of any path: a quick attribute query, then opening the object,
// then asking its parent directory, and for names that are not files at all the NT
// object namespace.
#include "kelp/dir.h"
#include "kelp/err.h"
#include "kelp/nativepath.h"
#include "r3/win/fs-win.h"
#include "r3/nt/ntapi.h"

#include <windows.h>
#include <winternl.h>

namespace
{

enum : uint32_t
{
    kDirEntryBufferSize = 8312,
    kFileOpenForBackupIntent = 0x4000,
    kFileOpenReparsePoint = 0x200000,
};

// Whether FILE_OPEN_REPARSE_POINT works: -1 untested, 0 it does not. Written at most once.
volatile int g_reparseOpenState = -1;

struct QueryContext
{
    const char *path;
    size_t cchPath;
    RTOBJINFO *info;
    uint32_t addKind;
    uint32_t fQuery;
    OBJECT_ATTRIBUTES oa;
    uint8_t *buffer;        // kDirEntryBufferSize bytes
};

size_t Utf16Length(const UNICODE_STRING *s)
{
    return s->Length / sizeof(WCHAR);
}

// Splits an NT name into its parent (up to and including the last separator) and the final
// component. A single backslash at the very end stays part of the final component.
void SplitNtName(const UNICODE_STRING *name, size_t *pcwcParent)
{
    size_t cwc = Utf16Length(name);
    const WCHAR *s = name->Buffer;
    size_t searchEnd = cwc;
    if (searchEnd && s[searchEnd - 1] == L'\\')
        searchEnd--;
    size_t i = searchEnd;
    while (i > 0 && s[i - 1] != L'\\' && s[i - 1] != L'/')
        i--;
    *pcwcParent = i;
}

void FillPseudo(RTOBJINFO *info, uint32_t addKind, RTFMODE mode)
{
    int64_t const epoch = rtFsNtTimeToUnixNs(0);
    info->size = 0;
    info->allocated = 0;
    info->accessTime = info->modificationTime = info->changeTime = info->birthTime = epoch;
    info->mode = mode;
    info->addKind = addKind;
    if (addKind == RTOBJINFO_ADD_UNIX)
    {
        RTOBJINFOUNIX *u = &info->add.unixAttr;
        u->uid = u->gid = RTOBJINFO_NO_ID;
        u->hardLinks = 1;
        u->idDevice = 0;
        u->fileId = 0;
        u->flags = u->generation = u->device = 0;
    }
    rtFsObjInfoCompleteAdd(info, addKind);
}

bool UnicodeEqualsAscii(const UNICODE_STRING *s, const char *ascii)
{
    size_t const cwc = Utf16Length(s);
    size_t i = 0;
    for (; i < cwc && ascii[i]; i++)
        if (s->Buffer[i] != (WCHAR)(unsigned char)ascii[i])
            return false;
    return i == cwc && !ascii[i];
}

// Describes a name of the NT object namespace (devices, object directories, links).
int QueryObjectNamespace(QueryContext *ctx, NTSTATUS statusHere)
{
    const UNICODE_STRING *name = ctx->oa.ObjectName;
    if (!ctx->oa.RootDirectory && name->Length == sizeof(WCHAR) && name->Buffer[0] == L'\\')
    {
        FillPseudo(ctx->info, ctx->addKind, 0x001041FF);
        return 0;
    }

    size_t cwcParent;
    SplitNtName(name, &cwcParent);
    size_t cwcFinal = Utf16Length(name) - cwcParent;
    const WCHAR *final = name->Buffer + cwcParent;
    while (cwcFinal && final[cwcFinal - 1] == L'\\')
        cwcFinal--;
    size_t cwcParentKept = cwcParent;
    while (cwcParentKept > 1 && name->Buffer[cwcParentKept - 1] == L'\\')
        cwcParentKept--;

    UNICODE_STRING parentName;
    static WCHAR dot[] = L".";
    if (cwcParentKept)
    {
        parentName.Buffer = name->Buffer;
        parentName.Length = (USHORT)(cwcParentKept * sizeof(WCHAR));
    }
    else
    {
        parentName.Buffer = dot;
        parentName.Length = sizeof(WCHAR);
    }
    parentName.MaximumLength = parentName.Length;
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &parentName, ctx->oa.Attributes, ctx->oa.RootDirectory, nullptr);

    HANDLE hDir = nullptr;
    NTSTATUS status = NtOpenDirectoryObject(&hDir, DIRECTORY_QUERY | DIRECTORY_TRAVERSE, &oa);
    if (!NT_SUCCESS(status))
        return RTErrConvertFromNtStatus(statusHere);

    ULONG context = 0;
    for (;;)
    {
        ULONG cbReturned = 0;
        status = NtQueryDirectoryObject(hDir, ctx->buffer, kDirEntryBufferSize, FALSE, FALSE,
                                        &context, &cbReturned);
        if (!NT_SUCCESS(status))
            break;
        for (const KELP_OBJECT_DIRECTORY_INFORMATION *entry =
                 (const KELP_OBJECT_DIRECTORY_INFORMATION *)ctx->buffer;
             entry->Name.Length; entry++)
        {
            if (entry->Name.Length != cwcFinal * sizeof(WCHAR))
                continue;
            size_t i = 0;
            while (i < cwcFinal && entry->Name.Buffer[i] == final[i])
                i++;
            if (i != cwcFinal)
                continue;

            RTFMODE mode = 0x008081B6;
            if (UnicodeEqualsAscii(&entry->TypeName, "Directory"))
                mode = 0x001041FF;
            else if (UnicodeEqualsAscii(&entry->TypeName, "SymbolicLink"))
                mode = 0x0400A1FF;
            else if (UnicodeEqualsAscii(&entry->TypeName, "Device"))
                mode = 0x004021B6;
            NtClose(hDir);
            FillPseudo(ctx->info, ctx->addKind, mode);
            return 0;
        }
        if (status != 0 && status != KELP_STATUS_MORE_ENTRIES)
            break;
    }
    NtClose(hDir);
    if (status == 0 || status == KELP_STATUS_NO_MORE_FILES
        || status == KELP_STATUS_NO_MORE_ENTRIES || status == KELP_STATUS_NO_SUCH_FILE)
        return ERR_FILE_NOT_FOUND;
    return RTErrConvertFromNtStatus(status);
}

bool IsNotAFileStatus(NTSTATUS status)
{
    return status == STATUS_OBJECT_TYPE_MISMATCH || status == STATUS_OBJECT_NAME_INVALID;
}

bool IsCannotOpenStatus(NTSTATUS status)
{
    return status == KELP_STATUS_ACCESS_DENIED || status == KELP_STATUS_SHARING_VIOLATION;
}

enum StageResult { kStageDone, kStageNext };

StageResult QuickQuery(QueryContext *ctx, int *prc)
{
    FILE_NETWORK_OPEN_INFORMATION noi;
    NTSTATUS const status = NtQueryFullAttributesFile(&ctx->oa, &noi);
    if (NT_SUCCESS(status) && !(noi.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    {
        RTOBJINFO *info = ctx->info;
        info->size = (uint64_t)noi.EndOfFile.QuadPart;
        info->allocated = (uint64_t)noi.AllocationSize.QuadPart;
        info->accessTime = rtFsNtTimeToUnixNs(noi.LastAccessTime.QuadPart);
        info->modificationTime = rtFsNtTimeToUnixNs(noi.LastWriteTime.QuadPart);
        info->changeTime = rtFsNtTimeToUnixNs(noi.ChangeTime.QuadPart);
        info->birthTime = rtFsNtTimeToUnixNs(noi.CreationTime.QuadPart);
        info->mode = RTFsModeFromAttributes((noi.FileAttributes & 0x7FFF) << MODE_WIN_SHIFT,
                                            ctx->path, ctx->cchPath, 0, 0);
        info->addKind = ctx->addKind;
        rtFsObjInfoCompleteAdd(info, ctx->addKind);
        *prc = 0;
        return kStageDone;
    }
    if (NT_SUCCESS(status) || IsCannotOpenStatus(status))
        return kStageNext;
    if (IsNotAFileStatus(status) || status == KELP_STATUS_INVALID_PARAMETER)
        *prc = QueryObjectNamespace(ctx, status);
    else
        *prc = RTErrConvertFromNtStatus(status);
    return kStageDone;
}

NTSTATUS OpenForAttributes(QueryContext *ctx, ULONG options, HANDLE *ph)
{
    IO_STATUS_BLOCK ios = {};
    *ph = INVALID_HANDLE_VALUE;
    return NtCreateFile(ph, SYNCHRONIZE | FILE_READ_ATTRIBUTES, &ctx->oa, &ios, nullptr,
                        FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        FILE_OPEN, options, nullptr, 0);
}

StageResult OpenAndQuery(QueryContext *ctx, int *prc)
{
    ULONG const baseOptions = FILE_SYNCHRONOUS_IO_NONALERT | kFileOpenForBackupIntent;
    bool const onLink = !(ctx->fQuery & RTPATH_QUERY_FOLLOW_LINK);
    bool const useReparse = g_reparseOpenState != 0 && onLink;

    HANDLE h;
    NTSTATUS status = OpenForAttributes(ctx, baseOptions | (useReparse ? (ULONG)kFileOpenReparsePoint : 0u), &h);
    if (useReparse && g_reparseOpenState == -1
        && (status == KELP_STATUS_INVALID_PARAMETER || status == KELP_STATUS_INVALID_OPTION))
    {
        status = OpenForAttributes(ctx, baseOptions, &h);
        if (status != KELP_STATUS_INVALID_PARAMETER)
            g_reparseOpenState = 0;
    }
    if (!NT_SUCCESS(status))
    {
        if (IsNotAFileStatus(status))
        {
            *prc = QueryObjectNamespace(ctx, status);
            return kStageDone;
        }
        if (IsCannotOpenStatus(status))
            return kStageNext;
        *prc = RTErrConvertFromNtStatus(status);
        return kStageDone;
    }

    IO_STATUS_BLOCK ios = {};
    FILE_ATTRIBUTE_TAG_INFORMATION tagInfo = {};
    if (!NT_SUCCESS(NtQueryInformationFile(h, &ios, &tagInfo, sizeof(tagInfo),
                                           FileAttributeTagInformation)))
        tagInfo.FileAttributes = tagInfo.ReparseTag = 0;
    if ((tagInfo.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        && tagInfo.ReparseTag != RTFS_REPARSE_TAG_SYMLINK && onLink)
    {
        // Mount points and junctions are described by their target.
        HANDLE hTarget;
        if (NT_SUCCESS(OpenForAttributes(ctx, baseOptions, &hTarget)))
        {
            NtClose(h);
            h = hTarget;
            tagInfo.ReparseTag = 0;
        }
    }

    union
    {
        FILE_ALL_INFORMATION all;
        uint8_t bytes[104];
    } allBuf;
    status = NtQueryInformationFile(h, &ios, &allBuf, sizeof(allBuf), FileAllInformation);
    if (NT_SUCCESS(status) || status == KELP_STATUS_BUFFER_OVERFLOW)
    {
        rtFsObjInfoFromAll(ctx->info, &allBuf.all, ctx->path, ctx->cchPath, tagInfo.ReparseTag,
                           ctx->addKind);
        if (ctx->addKind == RTOBJINFO_ADD_UNIX)
            ctx->info->add.unixAttr.idDevice = rtFsQueryVolumeSerial(h, ctx->buffer, 2048);
        rtFsObjInfoCompleteAdd(ctx->info, ctx->addKind);
        NtClose(h);
        *prc = 0;
        return kStageDone;
    }
    NtClose(h);
    return kStageNext;
}

bool WindowsBelowXp()
{
    ULONG const major = rtNtPebOsMajorVersion();
    return major < 5 || (major == 5 && rtNtPebOsMinorVersion() < 1);
}

int AskParentDirectory(QueryContext *ctx)
{
    const UNICODE_STRING *name = ctx->oa.ObjectName;
    size_t cwcParent;
    SplitNtName(name, &cwcParent);

    static WCHAR dot[] = L".";
    UNICODE_STRING parentName;
    if (cwcParent)
    {
        parentName.Buffer = name->Buffer;
        parentName.Length = (USHORT)(cwcParent * sizeof(WCHAR));
    }
    else
    {
        parentName.Buffer = dot;
        parentName.Length = sizeof(WCHAR);
    }
    parentName.MaximumLength = parentName.Length;
    UNICODE_STRING finalName;
    finalName.Buffer = name->Buffer + cwcParent;
    finalName.Length = (USHORT)(name->Length - cwcParent * sizeof(WCHAR));
    finalName.MaximumLength = finalName.Length;

    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &parentName, ctx->oa.Attributes, ctx->oa.RootDirectory, nullptr);
    HANDLE hParent = INVALID_HANDLE_VALUE;
    IO_STATUS_BLOCK ios = {};
    NTSTATUS status = NtCreateFile(&hParent, FILE_LIST_DIRECTORY | SYNCHRONIZE, &oa, &ios, nullptr,
                                   FILE_ATTRIBUTE_NORMAL,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                   FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT
                                       | kFileOpenForBackupIntent,
                                   nullptr, 0);
    if (!NT_SUCCESS(status))
    {
        if (IsNotAFileStatus(status))
        {
            int const rc = QueryObjectNamespace(ctx, status);
            if (RT_SUCCESS(rc))
                return rc;
        }
        return RTErrConvertFromNtStatus(status);
    }

    bool const withId = !WindowsBelowXp();
    status = NtQueryDirectoryFile(hParent, nullptr, nullptr, nullptr, &ios, ctx->buffer,
                                  kDirEntryBufferSize,
                                  withId ? FileIdBothDirectoryInformation
                                         : (FILE_INFORMATION_CLASS)3 /* FileBothDirectoryInformation */,
                                  TRUE, &finalName, FALSE);
    if (!NT_SUCCESS(status))
    {
        NtClose(hParent);
        return RTErrConvertFromNtStatus(status);
    }

    // Both entry layouts agree up to the short name; only the file ID is extra.
    const FILE_ID_BOTH_DIR_INFORMATION *entry = (const FILE_ID_BOTH_DIR_INFORMATION *)ctx->buffer;
    RTOBJINFO *info = ctx->info;
    info->size = (uint64_t)entry->EndOfFile.QuadPart;
    info->allocated = (uint64_t)entry->AllocationSize.QuadPart;
    info->accessTime = rtFsNtTimeToUnixNs(entry->LastAccessTime.QuadPart);
    info->modificationTime = rtFsNtTimeToUnixNs(entry->LastWriteTime.QuadPart);
    info->changeTime = rtFsNtTimeToUnixNs(entry->ChangeTime.QuadPart);
    info->birthTime = rtFsNtTimeToUnixNs(entry->CreationTime.QuadPart);
    // For a reparse point the EA-size field of a directory entry holds the reparse tag.
    info->mode = RTFsModeFromAttributes((entry->FileAttributes & 0x7FFF) << MODE_WIN_SHIFT,
                                        ctx->path, ctx->cchPath, entry->EaSize, 0);
    info->addKind = ctx->addKind;
    if (ctx->addKind == RTOBJINFO_ADD_UNIX)
    {
        RTOBJINFOUNIX *u = &info->add.unixAttr;
        u->uid = u->gid = RTOBJINFO_NO_ID;
        u->hardLinks = 1;
        u->fileId = withId ? (uint64_t)entry->FileId.QuadPart : 0;
        u->flags = u->generation = u->device = 0;
        u->idDevice = 0;
        IO_STATUS_BLOCK iosVol = {};
        status = NtQueryVolumeInformationFile(hParent, &iosVol, ctx->buffer, 2048,
                                              FileFsVolumeInformation);
        if (NT_SUCCESS(status))
            u->idDevice = ((const FILE_FS_VOLUME_INFORMATION *)ctx->buffer)->VolumeSerialNumber;
    }
    rtFsObjInfoCompleteAdd(info, ctx->addKind);
    NtClose(hParent);
    return 0;
}

} // namespace

int RTPathQueryInfo(const char *path, RTOBJINFO *pInfo, uint32_t addKind, uint32_t fQuery)
{
    if (!RTIsValidPtr(path))
        return ERR_INVALID_POINTER;
    if (!*path)
        return ERR_BAD_ARGUMENT;
    if (!RTIsValidPtr(pInfo))
        return ERR_INVALID_POINTER;
    if (addKind < RTOBJINFO_ADD_NOTHING || addKind > RTOBJINFO_ADD_EASIZE)
        return ERR_BAD_ARGUMENT;
    uint32_t const linkMode = fQuery & ~(uint32_t)RTPATH_QUERY_NO_SYMLINKS;
    if (linkMode != RTPATH_QUERY_ON_LINK && linkMode != RTPATH_QUERY_FOLLOW_LINK)
        return ERR_BAD_ARGUMENT;

    UNICODE_STRING ntName = {};
    HANDLE rootDir = nullptr;
    int rc = RTPathToNtPath(&ntName, &rootDir, path);
    if (rc)
        return rc;

    uint8_t buffer[kDirEntryBufferSize] __attribute__((aligned(8)));
    QueryContext ctx;
    ctx.path = path;
    ctx.cchPath = 0;
    while (path[ctx.cchPath])
        ctx.cchPath++;
    ctx.info = pInfo;
    ctx.addKind = addKind;
    ctx.fQuery = fQuery;
    ctx.buffer = buffer;
    InitializeObjectAttributes(&ctx.oa, &ntName, OBJ_CASE_INSENSITIVE, rootDir, nullptr);

    StageResult stage = kStageNext;
    if (addKind != RTOBJINFO_ADD_UNIX)
        stage = QuickQuery(&ctx, &rc);
    if (stage == kStageNext)
        stage = OpenAndQuery(&ctx, &rc);
    if (stage == kStageNext)
        rc = AskParentDirectory(&ctx);

    RTPathFreeNtPath(&ntName, rootDir);
    return rc;
}
