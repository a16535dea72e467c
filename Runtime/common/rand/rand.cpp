// The process-wide random source for unique names: a Park-Miller minimal-standard
// generator seeded from the time-stamp counter. Names only need to differ, not to be
// unpredictable.
#include "kelp/dir.h"

namespace
{

uint32_t g_state;
int g_initState;    // 0 untouched, 1 being seeded, 2 ready

uint32_t ReadTimeStampCounter()
{
#if defined(__i386__) || defined(__x86_64__)
    return (uint32_t)(__builtin_ia32_rdtsc() >> 8);
#else
    return (uint32_t)(uintptr_t)&g_state;
#endif
}

void EnsureSeeded()
{
    if (__atomic_load_n(&g_initState, __ATOMIC_ACQUIRE) == 2)
        return;
    int expected = 0;
    if (__atomic_compare_exchange_n(&g_initState, &expected, 1, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE))
    {
        g_state = ReadTimeStampCounter();
        __atomic_store_n(&g_initState, 2, __ATOMIC_RELEASE);
        return;
    }
    while (__atomic_load_n(&g_initState, __ATOMIC_ACQUIRE) != 2)
    {
    }
}

uint32_t Draw()
{
    g_state = RTRandParkMillerNext(g_state);
    return g_state;
}

} // namespace

uint32_t RTRandParkMillerNext(uint32_t state)
{
    uint64_t const product = (uint64_t)(state ? state : 20080806u) * 16807u;
    return (uint32_t)(product % 2147483647u);
}

uint32_t RTRandU32Range(uint32_t min, uint32_t max)
{
    EnsureSeeded();
    uint32_t const width = max - min;
    if (width < 0x7FFFFFF)
        return min + ((Draw() >> 1) % (width + 1));
    uint64_t const combined = ((uint64_t)(Draw() >> 1) << 30) ^ Draw();
    return min + (uint32_t)(combined % ((uint64_t)width + 1));
}
