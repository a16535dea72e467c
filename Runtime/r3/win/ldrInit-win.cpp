// Process-wide loader set-up at start-up: error mode, DLL search order, the
// unhandled-exception filter, and the sockets library.
#include "kelp/ldr.h"
#include "kelp/err.h"
#include "kelp/system.h"

#include "r3/win/internal-win.h"

PFNWSAGETLASTERROR g_pfnWSAGetLastError;
PFNWSASETLASTERROR g_pfnWSASetLastError;
bool g_fOldWinSock;

namespace {

typedef BOOL (WINAPI *PFNSETDLLDIRECTORYW)(LPCWSTR path);
typedef BOOL (WINAPI *PFNSETDEFAULTDLLDIRECTORIES)(DWORD flags);
typedef LPTOP_LEVEL_EXCEPTION_FILTER (WINAPI *PFNSETUNHANDLEDEXCEPTIONFILTER)(LPTOP_LEVEL_EXCEPTION_FILTER);

FARPROC g_pfnGetCurrentThreadStackLimits;
PFNSETUNHANDLEDEXCEPTIONFILTER g_pfnSetUnhandledExceptionFilter;
FARPROC g_pfnUnhandledExceptionFilter;
LPTOP_LEVEL_EXCEPTION_FILTER g_pfnPrevUnhandledXcptFilter;
bool g_fXcptFilterInstalled;

// For the runtime's socket layer; the installer makes no socket calls.
const char * const g_apszSocketFunctions[] = {
    "WSAStartup", "WSACleanup", "WSAGetLastError", "WSASetLastError", "WSACreateEvent",
    "WSACloseEvent", "WSASetEvent", "WSAEventSelect", "WSAEnumNetworkEvents", "WSASocketW",
    "WSASend", "socket", "closesocket", "recv", "send", "recvfrom", "sendto", "bind",
    "listen", "accept", "connect", "shutdown", "getsockopt", "setsockopt", "ioctlsocket",
    "getpeername", "getsockname", "__WSAFDIsSet", "select", "gethostbyname",
};
FARPROC g_apfnSocketFunctions[RT_ELEMENTS(g_apszSocketFunctions)];

} // namespace

// Reports the crash and leaves the decision to whoever was installed before.
LONG WINAPI rtR3WinUnhandledXcptFilter(EXCEPTION_POINTERS *info)
{
    EXCEPTION_RECORD const *rec = info ? info->ExceptionRecord : nullptr;
    if (rec)
        RTAssertMsg2("\n!!!!!!! Unhandled exception %#x at %p (thread %u) !!!!!!!\n",
                     (unsigned)rec->ExceptionCode, rec->ExceptionAddress,
                     (unsigned)GetCurrentThreadId());
    if (g_pfnPrevUnhandledXcptFilter)
        return g_pfnPrevUnhandledXcptFilter(info);
    return EXCEPTION_CONTINUE_SEARCH;
}

int RTWinInitHardening(uint32_t flags)
{
    int rc = 0;
    UINT const fMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
    SetErrorMode(SetErrorMode(fMode) | fMode);

    // An empty string takes the current directory out of the DLL search path.
    PFNSETDLLDIRECTORYW pfnSetDllDirectoryW = (PFNSETDLLDIRECTORYW)(void *)
        GetProcAddress(g_hModKernel32, "SetDllDirectoryW");
    if (pfnSetDllDirectoryW && !pfnSetDllDirectoryW(L""))
        rc = ERR_INTERNAL_3;

    if (g_enmWinVer > RTWINOSTYPE_VISTA || (flags & RTWININIT_SYSTEM32_ONLY))
    {
        PFNSETDEFAULTDLLDIRECTORIES pfnSetDefaultDllDirectories = (PFNSETDEFAULTDLLDIRECTORIES)(void *)
            GetProcAddress(g_hModKernel32, "SetDefaultDllDirectories");
        if (pfnSetDefaultDllDirectories)
        {
            DWORD const fDirs = (flags & RTWININIT_SYSTEM32_ONLY)
                              ? LOAD_LIBRARY_SEARCH_SYSTEM32
                              : LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR;
            if (!pfnSetDefaultDllDirectories(fDirs) && rc == 0)
                rc = ERR_INTERNAL_4;
        }
    }

    g_pfnGetCurrentThreadStackLimits = GetProcAddress(g_hModKernel32, "GetCurrentThreadStackLimits");
    g_pfnSetUnhandledExceptionFilter = (PFNSETUNHANDLEDEXCEPTIONFILTER)(void *)
        GetProcAddress(g_hModKernel32, "SetUnhandledExceptionFilter");
    g_pfnUnhandledExceptionFilter = GetProcAddress(g_hModKernel32, "UnhandledExceptionFilter");
    if (g_pfnSetUnhandledExceptionFilter && !g_fXcptFilterInstalled)
    {
        LPTOP_LEVEL_EXCEPTION_FILTER prev = g_pfnSetUnhandledExceptionFilter(rtR3WinUnhandledXcptFilter);
        g_pfnPrevUnhandledXcptFilter = prev == rtR3WinUnhandledXcptFilter ? nullptr : prev;
        g_fXcptFilterInstalled = true;
    }
    return rc;
}

void rtR3WinPreloadSockets(void)
{
    HMODULE hMod = GetModuleHandleW(L"ws2_32.dll");
    if (!hMod)
    {
        RTLDRMOD mod;
        int rc = RTLdrLoadSystemEx("ws2_32.dll", true, &mod);
        if (RT_FAILURE(rc))
        {
            rc = RTLdrLoadSystemEx("wsock32.dll", true, &mod);
            if (RT_FAILURE(rc))
                return;
            g_fOldWinSock = true;
        }
        hMod = (HMODULE)RTLdrGetNativeHandle(mod);
        RTLdrClose(mod);
    }
    for (size_t i = 0; i < RT_ELEMENTS(g_apszSocketFunctions); i++)
        g_apfnSocketFunctions[i] = GetProcAddress(hMod, g_apszSocketFunctions[i]);
    g_pfnWSAGetLastError = (PFNWSAGETLASTERROR)(void *)g_apfnSocketFunctions[2];
    g_pfnWSASetLastError = (PFNWSASETLASTERROR)(void *)g_apfnSocketFunctions[3];
}
