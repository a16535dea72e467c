// Process-wide Windows state shared by the runtime's Windows-bound sources.
#pragma once

#include <windows.h>

#include "kelp/system.h"

// Set by RTWinInitNative; a set kernel32 handle also means the loader is configured.
extern HMODULE g_hModKernel32;
extern HMODULE g_hModNtDll;
extern RTWINOSTYPE g_enmWinVer;
extern OSVERSIONINFOEXW g_WinOsInfoEx;

// Optional entry points, null when this Windows lacks them.
typedef LONG (WINAPI *PFNNTQUERYFULLATTRIBUTESFILE)(void *objectAttributes, void *info);
extern PFNNTQUERYFULLATTRIBUTESFILE g_pfnNtQueryFullAttributesFile;
extern FARPROC g_pfnGetSystemWindowsDirectoryW;

// Winsock, bound by the sockets pre-load; null when neither library could be loaded.
typedef int  (WINAPI *PFNWSAGETLASTERROR)(void);
typedef void (WINAPI *PFNWSASETLASTERROR)(int);
extern PFNWSAGETLASTERROR g_pfnWSAGetLastError;
extern PFNWSASETLASTERROR g_pfnWSASetLastError;
extern bool g_fOldWinSock;

// How far a side-by-side redirected DLL path runs along the system directory: the number
// of separator positions both share from the start (one at the very first character not
// counted). The system load uses a redirection only when this is at least 2.
unsigned rtldrCountMatchingSeparators(const WCHAR *redirected, size_t length, const WCHAR *sysDir);

// Sockets pre-load, run from RTWinInitNative.
void rtR3WinPreloadSockets(void);
