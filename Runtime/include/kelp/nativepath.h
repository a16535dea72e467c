// UTF-8 paths turned into what Windows wants at the moment of a call: a UTF-16 Win32 path
// (plain, or the "\\?\" long form when the plain form would be too long), or an NT path in
// a counted string. Windows-bound: include only from Runtime/r3, Runtime/nt and tests.
#pragma once

#include "kelp/types.h"
#include "kelp/string.h"

#include <windows.h>
#include <winternl.h>

// Lengths (UTF-16 units) up to which a path is handed to the Win32 functions as it is.
enum : size_t
{
    RTPATH_WIN32_PLAIN_MAX      = 243,  // drive paths, and the full form of 'C:rel'
    RTPATH_WIN32_PLAIN_MAX_UNC  = 240,  // '\\server\share...', '\\.\device'
    RTPATH_WIN32_PLAIN_MAX_ROOT = 241,  // '\dir', '\\\x', '\\'
    RTPATH_WIN32_PLAIN_MAX_REL  = 242,  // relative: current directory size + length
    RTPATH_NT_MAX               = 32766,
};

// A path starting with this prefix ("\\:kelpnt:\", any separator '\' or '/') is already an
// NT path; the part from the separator after the second ':' is used unchanged.
#define RTPATH_NT_PASSTHRU_PREFIX "\\\\:kelpnt:\\"

// *result receives a new UTF-16 string (free with RTPathFreeNativeWin32), null on failure.
int RTPathToNativeWin32(RTUTF16 **result, const char *path);
void RTPathFreeNativeWin32(RTUTF16 *path);

// *ntName receives a counted NT path whose buffer is allocated here; *rootDir is always
// set to null. Free with RTPathFreeNtPath, which also nulls the buffer pointer.
int RTPathToNtPath(UNICODE_STRING *ntName, HANDLE *rootDir, const char *path);
void RTPathFreeNtPath(UNICODE_STRING *ntName, HANDLE rootDir);

// NtCreateFile(FILE_OPEN) on the path. *isObjDir (may be null) is only used for paths with
// the NT prefix above: when the name is an object-manager directory, that is opened
// instead and *isObjDir becomes true. *handle is INVALID_HANDLE_VALUE on failure.
int RTPathOpenNt(const char *path, ACCESS_MASK access, ULONG shareAccess, ULONG createOptions,
                 ULONG objAttrFlags, HANDLE *handle, bool *isObjDir);
int RTPathOpenNtEx(HANDLE rootDir, const UNICODE_STRING *ntName, ACCESS_MASK access,
                   ULONG shareAccess, ULONG createOptions, ULONG objAttrFlags, HANDLE *handle,
                   bool *isObjDir);

int RTNtCloseHandle(HANDLE handle);
