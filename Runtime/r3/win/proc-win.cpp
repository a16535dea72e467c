// Exit callbacks and process termination.
#include "kelp/init.h"
#include "kelp/err.h"

#include <windows.h>

namespace {

PFNRTEXITCALLBACK g_rtExitCallbacks[RTPROC_MAX_EXIT_CALLBACKS];
volatile LONG g_rtExitCallbackCount;

} // namespace

int RTProcAtExit(PFNRTEXITCALLBACK callback)
{
    LONG const slot = InterlockedIncrement(&g_rtExitCallbackCount) - 1;
    if (slot >= (LONG)RTPROC_MAX_EXIT_CALLBACKS)
    {
        InterlockedDecrement(&g_rtExitCallbackCount);
        return ERR_NO_MEMORY;
    }
    g_rtExitCallbacks[slot] = callback;
    return 0;
}

// Table bounds from the linker script (the same symbol names on both architectures).
extern "C" PFNRTSTATICFN g_rtXpStart[] __asm__("___crt_xp_start__");
extern "C" PFNRTSTATICFN g_rtXpEnd[] __asm__("___crt_xp_end__");
extern "C" PFNRTSTATICFN g_rtXtStart[] __asm__("___crt_xt_start__");
extern "C" PFNRTSTATICFN g_rtXtEnd[] __asm__("___crt_xt_end__");
// Null entries keep the .CRT section (and the bounds) when a program has no terminators.
__attribute__((section(".CRT$XPA"), used)) PFNRTSTATICFN g_rtXpNone = nullptr;
__attribute__((section(".CRT$XTA"), used)) PFNRTSTATICFN g_rtXtNone = nullptr;

namespace {

void rtProcRunTable(PFNRTSTATICFN *start, PFNRTSTATICFN *end)
{
    for (PFNRTSTATICFN *p = start; p < end; p++)
        if (*p)
            (*p)();
}

} // namespace

void RTProcTerminate(int exitCode, bool runExitCallbacks)
{
    if (runExitCallbacks)
    {
        for (LONG i = g_rtExitCallbackCount; i-- > 0;)
        {
            PFNRTEXITCALLBACK const callback = g_rtExitCallbacks[i];
            g_rtExitCallbacks[i] = nullptr;
            if (callback)
                callback();
        }
        rtProcRunTable(g_rtXpStart, g_rtXpEnd);
        rtProcRunTable(g_rtXtStart, g_rtXtEnd);
    }
    for (;;)
        TerminateProcess(GetCurrentProcess(), (UINT)exitCode);
}
