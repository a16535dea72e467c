// Reports the Windows version as RtlGetVersion gives it and as the runtime classified it.
#include "kelp/init.h"
#include "kelp/system.h"

#include "probe_out.h"

extern "C" int main(int, char **, char **)
{
    // As the installer starts: the version comes with the runtime initialisation.
    int const rc = RTR3Init(0, nullptr, RTR3INIT_FLAG_SYSTEM32_ONLY);

    typedef LONG (WINAPI *PFNRTLGETVERSION)(OSVERSIONINFOEXW *);
    PFNRTLGETVERSION pfn = (PFNRTLGETVERSION)(void *)GetProcAddress(GetModuleHandleW(L"ntdll.dll"),
                                                                    "RtlGetVersion");
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!pfn || pfn(&info) != 0)
        return 2;
    ProbePrint("raw %u %u %u %u\n", (unsigned)info.dwMajorVersion, (unsigned)info.dwMinorVersion,
               (unsigned)info.dwBuildNumber, (unsigned)info.wProductType);
    ProbePrint("ours %d %RX64 %u %u\n", rc, RTSystemGetWinVersion(),
               (unsigned)RTSystemGetWinProductType(), (unsigned)RTSystemGetWinOsType());
    return 0;
}
