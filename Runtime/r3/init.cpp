// Runtime initialisation.
#include "kelp/init.h"
#include "kelp/err.h"
#include "kelp/path.h"
#include "kelp/string.h"
#include "kelp/system.h"

#include <windows.h>

namespace {

volatile LONG g_rtInitInProgress;
volatile LONG g_rtTerminating;

void rtR3ExitCallback(void)
{
    // Marks the shutdown; the runtime keeps no loggers to flush in this build.
    InterlockedExchange(&g_rtTerminating, 1);
}

uint64_t rtR3NanoTS(void)
{
    LARGE_INTEGER freq, count;
    if (!QueryPerformanceFrequency(&freq) || freq.QuadPart <= 0 || !QueryPerformanceCounter(&count))
        return (uint64_t)GetTickCount() * 1000000u;
    uint64_t const f = (uint64_t)freq.QuadPart;
    uint64_t const c = (uint64_t)count.QuadPart;
    return c / f * 1000000000u + c % f * 1000000000u / f;
}

int rtProcInitExePath(void)
{
    static WCHAR s_path[RTPATH_MAX];
    DWORD const len = GetModuleFileNameW(GetModuleHandleA(nullptr), s_path, RTPATH_MAX);
    if (len == 0 || len >= RTPATH_MAX)
        return len ? ERR_BUFFER_OVERFLOW : RTErrConvertFromWinError(GetLastError());
    char *dst = ProcessInfo.execPath;
    size_t bytes = 0;
    int rc = RTUtf16ToUtf8Ex((const RTUTF16 *)s_path, len, &dst, RTPATH_MAX - 32, &bytes);
    if (RT_FAILURE(rc))
        return rc;

    size_t dirLength = 0, fileNameOffset = 0;
    size_t const pathLength = RTPathMeasure(ProcessInfo.execPath, &dirLength, &fileNameOffset, nullptr);
    ProcessInfo.pathLength = (uint32_t)pathLength;
    if (fileNameOffset != RTPATH_NO_OFFSET)
        ProcessInfo.fileNameOffset = (uint32_t)fileNameOffset;
    if (dirLength != RTPATH_NO_OFFSET)
        ProcessInfo.dirLength = (uint32_t)dirLength;
    return 0;
}

int rtR3InitBody(uint32_t flags, int argc, char ***argv)
{
    // Version, loader hardening (unless deferred) and the optional entry points first.
    int rc = RTWinInitNative(flags);
    if (RT_FAILURE(rc))
        return rc;

    ProcessInfo.processId = GetCurrentProcessId();
    ProcessInfo.initFlags |= flags;

    rc = rtProcInitExePath();
    if (RT_FAILURE(rc))
        return rc;

    if (argc != 0)
    {
        if (ProcessInfo.argc < 0)
        {
            ProcessInfo.argc = argc;
            ProcessInfo.argv = argv ? *argv : nullptr;
        }
        else if (ProcessInfo.argc != argc || ProcessInfo.argv != (argv ? *argv : nullptr))
            return ERR_BAD_SEQUENCE;
    }

    ProcessInfo.startTimeNs = rtR3NanoTS();
    RTProcAtExit(rtR3ExitCallback);
    return 0;
}

} // namespace

int RTR3Init(int argc, char ***argv, uint32_t flags)
{
    LONG const count = InterlockedIncrement((volatile LONG *)&ProcessInfo.initCount);
    if (count > 1)
    {
        int hardeningRc = 0;
        ProcessInfo.initFlags |= RTR3INIT_FLAG_REPEATED;
        if ((ProcessInfo.initFlags & RTR3INIT_FLAG_NO_HARDENING) && !(flags & RTR3INIT_FLAG_NO_HARDENING))
        {
            ProcessInfo.initFlags &= ~(uint32_t)RTR3INIT_FLAG_NO_HARDENING;
            ProcessInfo.initFlags |= flags & RTR3INIT_FLAG_SYSTEM32_ONLY;
            // The hardening that the first call deferred; its failure is this call's result.
            hardeningRc = RTWinInitHardening(ProcessInfo.initFlags);
        }
        if (argc == 0)
            return hardeningRc;
        char **const vector = argv ? *argv : nullptr;
        if (ProcessInfo.argc < 0)
        {
            ProcessInfo.argc = argc;
            ProcessInfo.argv = vector;
            return hardeningRc;
        }
        if (ProcessInfo.argc != argc || ProcessInfo.argv != vector)
            return ERR_BAD_SEQUENCE;
        return hardeningRc;
    }

    InterlockedExchange(&g_rtInitInProgress, 1);
    int rc = rtR3InitBody(flags, argc, argv);
    InterlockedExchange(&g_rtInitInProgress, 0);
    if (RT_FAILURE(rc))
    {
        InterlockedDecrement((volatile LONG *)&ProcessInfo.initCount);
        return rc;
    }
    return 0;
}

bool RTR3IsTerminating(void)
{
    return g_rtTerminating != 0;
}

