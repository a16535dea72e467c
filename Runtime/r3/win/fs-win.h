// Pieces shared by the Windows file, information and directory code.
#pragma once

#include "kelp/file.h"

#include <windows.h>
#include <winternl.h>

// What CreateFileW gets for a validated open flag word.
struct RTFILEWINOPEN
{
    uint32_t access;
    uint32_t share;
    uint32_t disposition;
    uint32_t flagsAndAttributes;
    bool     inherit;
};
void rtFileWinOpenParams(uint64_t fOpen, RTFILEWINOPEN *params);

// 100 ns units since 1601 to nanoseconds since 1970 (wrapping, like the NT values).
inline int64_t rtFsNtTimeToUnixNs(int64_t ntTime)
{
    return (int64_t)((uint64_t)ntTime * 100u - UINT64_C(11644473600000000000));
}

// Fills everything but the Unix part's volume serial number from FileAllInformation.
void rtFsObjInfoFromAll(RTOBJINFO *info, const FILE_ALL_INFORMATION *all, const char *name,
                        size_t cchName, uint32_t reparseTag, uint32_t addKind);
// Completes the additional part for kinds that carry no data on this platform.
void rtFsObjInfoCompleteAdd(RTOBJINFO *info, uint32_t addKind);
// The volume serial number of the volume holding the handle's object, or 0.
uint32_t rtFsQueryVolumeSerial(HANDLE handle, void *scratch, uint32_t cbScratch);
