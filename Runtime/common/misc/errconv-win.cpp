// Windows error value -> status code. Pure table lookup, so it lives in the portable half
// (the host build and the fuzzers use it too).
#include "kelp/err.h"

namespace {

struct WinErrMapping
{
    uint32_t winError;
    int status;
};

constexpr WinErrMapping g_winErrors[] = {
#include "winerr-table.inc"
};

constexpr bool isSorted()
{
    for (size_t i = 1; i < RT_ELEMENTS(g_winErrors); i++)
        if (g_winErrors[i - 1].winError >= g_winErrors[i].winError)
            return false;
    return true;
}
static_assert(isSorted(), "the Windows error table must be sorted and free of duplicates");

} // namespace

int RTErrConvertFromWinError(uint32_t winError)
{
    if (winError == 0)
        return INF_SUCCESS;
    size_t lo = 0, hi = RT_ELEMENTS(g_winErrors);
    while (lo < hi)
    {
        size_t const mid = lo + (hi - lo) / 2;
        if (g_winErrors[mid].winError == winError)
            return g_winErrors[mid].status;
        if (g_winErrors[mid].winError < winError)
            lo = mid + 1;
        else
            hi = mid;
    }
    return ERR_UNMAPPED_OS_ERROR;
}
