// The information record of an open file, from one NT query (two for the Unix part).
#include "kelp/file.h"
#include "kelp/err.h"
#include "kelp/mem.h"
#include "r3/win/fs-win.h"
#include "r3/nt/ntapi.h"

#include <windows.h>
#include <winternl.h>

namespace
{

typedef BOOL (WINAPI *PFNVERIFYCONSOLEIOHANDLE)(HANDLE);

// Looked up once; a race only repeats the lookup, which finds the same entry point.
PFNVERIFYCONSOLEIOHANDLE g_pfnVerifyConsoleIoHandle;
volatile LONG g_verifyConsoleLookedUp;

PFNVERIFYCONSOLEIOHANDLE VerifyConsoleIoHandleFn()
{
    if (!g_verifyConsoleLookedUp)
    {
        // kernel32 is loaded in every process, so no search path is involved here.
        HMODULE const kernel32 = GetModuleHandleW(L"kernel32.dll");
        if (kernel32)
            g_pfnVerifyConsoleIoHandle = (PFNVERIFYCONSOLEIOHANDLE)(void *)GetProcAddress(kernel32, "VerifyConsoleIoHandle");
        InterlockedExchange(&g_verifyConsoleLookedUp, 1);
    }
    return g_pfnVerifyConsoleIoHandle;
}

union AllInfoBuffer
{
    FILE_ALL_INFORMATION all;
    uint8_t bytes[104];
};

} // namespace

void rtFsObjInfoCompleteAdd(RTOBJINFO *info, uint32_t addKind)
{
    switch (addKind)
    {
        case RTOBJINFO_ADD_UNIX_OWNER:
            info->add.owner.id = RTOBJINFO_NO_ID;
            info->add.owner.name[0] = '\0';
            break;
        case RTOBJINFO_ADD_UNIX_GROUP:
            info->add.group.id = RTOBJINFO_NO_ID;
            info->add.group.name[0] = '\0';
            break;
        case RTOBJINFO_ADD_EASIZE:
            info->add.eaSize = 0;
            break;
        default:
            break;
    }
}

void rtFsObjInfoFromAll(RTOBJINFO *info, const FILE_ALL_INFORMATION *all, const char *name,
                        size_t cchName, uint32_t reparseTag, uint32_t addKind)
{
    info->size = (uint64_t)all->StandardInformation.EndOfFile.QuadPart;
    info->allocated = (uint64_t)all->StandardInformation.AllocationSize.QuadPart;
    info->accessTime = rtFsNtTimeToUnixNs(all->BasicInformation.LastAccessTime.QuadPart);
    info->modificationTime = rtFsNtTimeToUnixNs(all->BasicInformation.LastWriteTime.QuadPart);
    info->changeTime = rtFsNtTimeToUnixNs(all->BasicInformation.ChangeTime.QuadPart);
    info->birthTime = rtFsNtTimeToUnixNs(all->BasicInformation.CreationTime.QuadPart);
    info->mode = RTFsModeFromAttributes((all->BasicInformation.FileAttributes & 0x7FFF) << MODE_WIN_SHIFT,
                                        name, cchName, reparseTag, 0);
    info->addKind = addKind;
    if (addKind == RTOBJINFO_ADD_UNIX)
    {
        RTOBJINFOUNIX *u = &info->add.unixAttr;
        u->uid = RTOBJINFO_NO_ID;
        u->gid = RTOBJINFO_NO_ID;
        u->hardLinks = all->StandardInformation.NumberOfLinks ? all->StandardInformation.NumberOfLinks : 1;
        u->idDevice = 0;
        u->fileId = (uint64_t)all->InternalInformation.IndexNumber.QuadPart;
        u->flags = 0;
        u->generation = 0;
        u->device = 0;
    }
}

uint32_t rtFsQueryVolumeSerial(HANDLE handle, void *scratch, uint32_t cbScratch)
{
    if (cbScratch > 2048)
        cbScratch = 2048;
    IO_STATUS_BLOCK ios = {};
    NTSTATUS const status = NtQueryVolumeInformationFile(handle, &ios, scratch, cbScratch,
                                                         FileFsVolumeInformation);
    if (NT_SUCCESS(status) || status == KELP_STATUS_BUFFER_OVERFLOW)
        return ((const FILE_FS_VOLUME_INFORMATION *)scratch)->VolumeSerialNumber;
    return 0;
}

int RTFileQueryInfo(RTFILE hFile, RTOBJINFO *pInfo, uint32_t addKind)
{
    if (hFile == RTFILE_NIL || !pInfo || addKind < RTOBJINFO_ADD_NOTHING || addKind > RTOBJINFO_ADD_EASIZE)
        return ERR_BAD_ARGUMENT;

    AllInfoBuffer buf;
    IO_STATUS_BLOCK ios = {};
    NTSTATUS const status = NtQueryInformationFile((HANDLE)hFile, &ios, &buf, sizeof(buf),
                                                   FileAllInformation);
    if (NT_SUCCESS(status) || status == KELP_STATUS_BUFFER_OVERFLOW)
    {
        rtFsObjInfoFromAll(pInfo, &buf.all, nullptr, 0, 0, addKind);
        if (addKind == RTOBJINFO_ADD_UNIX)
            pInfo->add.unixAttr.idDevice = rtFsQueryVolumeSerial((HANDLE)hFile, &buf, sizeof(buf));
        rtFsObjInfoCompleteAdd(pInfo, addKind);
        return 0;
    }

    int const rc = RTErrConvertFromNtStatus(status);
    if (rc == ERR_INVALID_HANDLE || rc == ERR_ACCESS_DENIED || rc == ERR_OBJECT_TYPE_MISMATCH)
    {
        // Perhaps a console handle, which the NT query does not understand.
        PFNVERIFYCONSOLEIOHANDLE const pfnVerify = VerifyConsoleIoHandleFn();
        if (pfnVerify)
        {
            if (!pfnVerify((HANDLE)hFile))
                return ERR_INVALID_HANDLE;
        }
        else
        {
            SetLastError(0);
            if (GetFileType((HANDLE)hFile) == FILE_TYPE_UNKNOWN && GetLastError() != 0)
                return ERR_INVALID_HANDLE;
        }
    }
    else if (rc != ERR_INVALID_FUNCTION && rc != ERR_BAD_DEVICE_REQUEST)
        return rc;

    uint8_t *p = (uint8_t *)pInfo;
    for (size_t i = 0; i < sizeof(*pInfo); i++)
        p[i] = 0;
    pInfo->addKind = addKind;
    pInfo->mode = RTFsModeFromAttributes(MODE_WIN_DEVICE, "", 0, 0, 0);
    rtFsObjInfoCompleteAdd(pInfo, addKind);
    return 0;
}
