// Runtime initialisation and the process-wide start-up record.
#pragma once

#include "kelp/types.h"

// Written by the entry point and by the first RTR3Init, read by anyone afterwards.
struct RTPROCESSINFO
{
    char     execPath[RTPATH_MAX];  // full path of the running executable, UTF-8
    uint32_t pathLength;            // bytes in execPath
    uint32_t dirLength;             // bytes of its directory part
    uint32_t fileNameOffset;        // offset of the file name in execPath
    int32_t  argc;                  // recorded by RTR3Init; -1 before
    char   **argv;                  // recorded by RTR3Init (not replaced)
    uint32_t processId;
    uint64_t startTimeNs;
    int32_t  initCount;             // successful RTR3Init calls
    uint32_t initFlags;             // flags of the first RTR3Init, later ones merged in
};

extern RTPROCESSINFO ProcessInfo;
