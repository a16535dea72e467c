// Windows version record, its classification, and the Windows half of the runtime
// initialisation.
#include "kelp/system.h"
#include "kelp/err.h"

#include "r3/win/internal-win.h"

HMODULE g_hModKernel32;
HMODULE g_hModNtDll;
RTWINOSTYPE g_enmWinVer = RTWINOSTYPE_UNKNOWN;
OSVERSIONINFOEXW g_WinOsInfoEx;

PFNNTQUERYFULLATTRIBUTESFILE g_pfnNtQueryFullAttributesFile;
FARPROC g_pfnGetSystemWindowsDirectoryW;

namespace {

typedef LONG (WINAPI *PFNRTLGETVERSION)(OSVERSIONINFOEXW *info);
typedef BOOL (WINAPI *PFNGETVERSIONEXW)(OSVERSIONINFOEXW *info);
typedef BOOLEAN (WINAPI *PFNRTLGETNTPRODUCTTYPE)(DWORD *productType);

// Kept for the runtime parts outside the installer's needs that use them when present.
const char * const g_apszOptionalKernel32[] = {
    "SystemTimeToTzSpecificLocalTime", "CreateWaitableTimerExW", "GetHandleInformation",
    "SetHandleInformation", "IsDebuggerPresent", "GetSystemTimeAsFileTime",
    "GetProcessAffinityMask", "SetThreadAffinityMask", "CreateIoCompletionPort",
    "GetQueuedCompletionStatus", "PostQueuedCompletionStatus", "IsProcessorFeaturePresent",
};
const char * const g_apszOptionalNtDll[] = { "NtDuplicateToken", "NtAlertThread" };
FARPROC g_apfnOptionalKernel32[RT_ELEMENTS(g_apszOptionalKernel32)];
FARPROC g_apfnOptionalNtDll[RT_ELEMENTS(g_apszOptionalNtDll)];

void resetRecord(DWORD size)
{
    for (size_t i = 0; i < sizeof(g_WinOsInfoEx); i++)
        ((volatile unsigned char *)&g_WinOsInfoEx)[i] = 0;
    g_WinOsInfoEx.dwOSVersionInfoSize = size;
}

void fillVersionRecord()
{
    PFNRTLGETVERSION pfnRtlGetVersion =
        (PFNRTLGETVERSION)(void *)GetProcAddress(g_hModNtDll, "RtlGetVersion");
    if (pfnRtlGetVersion)
    {
        resetRecord(sizeof(OSVERSIONINFOEXW));
        if (pfnRtlGetVersion(&g_WinOsInfoEx) == 0)
            return;
    }

    PFNGETVERSIONEXW pfnGetVersionExW =
        (PFNGETVERSIONEXW)(void *)GetProcAddress(g_hModKernel32, "GetVersionExW");
    bool haveBasic = false;
    if (pfnGetVersionExW)
    {
        resetRecord(sizeof(OSVERSIONINFOEXW));
        if (pfnGetVersionExW(&g_WinOsInfoEx))
            return;
        resetRecord(sizeof(OSVERSIONINFOW));
        haveBasic = pfnGetVersionExW(&g_WinOsInfoEx) != FALSE;
    }
    if (!haveBasic)
    {
        resetRecord(sizeof(OSVERSIONINFOEXW));
        RTWINVERSIONFIELDS const fields = RTSystemDecodeGetVersion(GetVersion());
        g_WinOsInfoEx.dwMajorVersion = fields.major;
        g_WinOsInfoEx.dwMinorVersion = fields.minor;
        g_WinOsInfoEx.dwBuildNumber  = fields.build;
        g_WinOsInfoEx.dwPlatformId   = VER_PLATFORM_WIN32_NT;
    }

    // The short sources know nothing of the product type.
    g_WinOsInfoEx.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    g_WinOsInfoEx.wProductType = VER_NT_WORKSTATION;
    PFNRTLGETNTPRODUCTTYPE pfnRtlGetNtProductType =
        (PFNRTLGETNTPRODUCTTYPE)(void *)GetProcAddress(g_hModNtDll, "RtlGetNtProductType");
    DWORD productType = 0;
    if (pfnRtlGetNtProductType && pfnRtlGetNtProductType(&productType))
        g_WinOsInfoEx.wProductType = (BYTE)productType;
}

} // namespace

RTWINVERSIONFIELDS RTSystemDecodeGetVersion(uint32_t value)
{
    RTWINVERSIONFIELDS fields;
    fields.major = value & 0xFF;
    fields.minor = (value >> 8) & 0xFF;
    fields.build = (value & 0x80000000u) ? 511 : value >> 16;
    return fields;
}

RTWINOSTYPE RTSystemClassifyWinVersion(uint32_t platform, uint32_t major, uint32_t minor,
                                       uint32_t build, uint8_t productType)
{
    bool const workstation = productType == VER_NT_WORKSTATION;
    if (platform == VER_PLATFORM_WIN32_WINDOWS && major == 4)
    {
        if (minor < 10)
        {
            if (build == 950)
                return RTWINOSTYPE_W95;
            if (build >= 951 && build <= 1080)
                return RTWINOSTYPE_W95SP1;
            if (build > 1080)
                return RTWINOSTYPE_W95OSR2;
        }
        else if (minor == 10)
        {
            if (build == 1998)
                return RTWINOSTYPE_W98;
            if (build >= 1999 && build <= 2182)
                return RTWINOSTYPE_W98SP1;
            if (build >= 2183)
                return RTWINOSTYPE_W98SE;
        }
        else if (minor == 90)
            return RTWINOSTYPE_ME;
        return RTWINOSTYPE_UNKNOWN;
    }
    if (platform != VER_PLATFORM_WIN32_NT)
        return RTWINOSTYPE_UNKNOWN;

    switch (major)
    {
        case 3:
            return minor < 50 ? RTWINOSTYPE_NT310 : minor == 50 ? RTWINOSTYPE_NT350 : RTWINOSTYPE_NT351;
        case 4:
            return RTWINOSTYPE_NT4;
        case 5:
            return minor == 0 ? RTWINOSTYPE_W2K : minor == 1 ? RTWINOSTYPE_XP : RTWINOSTYPE_2003;
        case 6:
            switch (minor)
            {
                case 0: return workstation ? RTWINOSTYPE_VISTA : RTWINOSTYPE_2008;
                case 1: return workstation ? RTWINOSTYPE_7 : RTWINOSTYPE_2008R2;
                case 2: return workstation ? RTWINOSTYPE_8 : RTWINOSTYPE_2012;
                case 3: return workstation ? RTWINOSTYPE_81 : RTWINOSTYPE_2012R2;
                case 4: return workstation ? RTWINOSTYPE_10 : RTWINOSTYPE_2016;
            }
            break;
        case 10:
            if (minor != 0)
                break;
            if (workstation)
                return build < 22000 ? RTWINOSTYPE_10 : RTWINOSTYPE_11;
            if (build < 17763)
                return RTWINOSTYPE_2016;
            return build < 20348 ? RTWINOSTYPE_2019 : RTWINOSTYPE_2022;
    }
    return RTWINOSTYPE_NT_UNKNOWN;
}

int RTWinInitNative(uint32_t flags)
{
    g_hModKernel32 = GetModuleHandleW(L"kernel32.dll");
    g_hModNtDll = GetModuleHandleW(L"ntdll.dll");
    if (!g_hModKernel32 || !g_hModNtDll)
        return ERR_INTERNAL_2;

    fillVersionRecord();
    g_enmWinVer = RTSystemClassifyWinVersion(g_WinOsInfoEx.dwPlatformId,
                                             g_WinOsInfoEx.dwMajorVersion,
                                             g_WinOsInfoEx.dwMinorVersion,
                                             g_WinOsInfoEx.dwBuildNumber,
                                             g_WinOsInfoEx.wProductType);

    int rc = 0;
    if (!(flags & RTWININIT_NO_HARDENING))
        rc = RTWinInitHardening(flags);

    g_pfnGetSystemWindowsDirectoryW = GetProcAddress(g_hModKernel32, "GetSystemWindowsDirectoryW");
    for (size_t i = 0; i < RT_ELEMENTS(g_apszOptionalKernel32); i++)
        g_apfnOptionalKernel32[i] = GetProcAddress(g_hModKernel32, g_apszOptionalKernel32[i]);
    g_pfnNtQueryFullAttributesFile = (PFNNTQUERYFULLATTRIBUTESFILE)(void *)
        GetProcAddress(g_hModNtDll, "NtQueryFullAttributesFile");
    for (size_t i = 0; i < RT_ELEMENTS(g_apszOptionalNtDll); i++)
        g_apfnOptionalNtDll[i] = GetProcAddress(g_hModNtDll, g_apszOptionalNtDll[i]);

    rtR3WinPreloadSockets();
    return rc;
}

uint64_t RTSystemGetWinVersion(void)
{
    return RTSystemMakeWinVersion(g_WinOsInfoEx.dwMajorVersion, g_WinOsInfoEx.dwMinorVersion,
                                  g_WinOsInfoEx.dwBuildNumber);
}

uint8_t RTSystemGetWinProductType(void)
{
    return g_WinOsInfoEx.wProductType;
}

RTWINOSTYPE RTSystemGetWinOsType(void)
{
    return g_enmWinVer;
}
