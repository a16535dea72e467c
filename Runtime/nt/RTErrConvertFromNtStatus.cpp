// NT status value -> status code.
#include "kelp/err.h"

namespace {

struct NtStatusMapping
{
    uint32_t first;
    uint32_t last;
    int status;
};

constexpr NtStatusMapping g_ntStatuses[] = {
#include "ntstatus-table.inc"
};

} // namespace

int RTErrConvertFromNtStatus(int32_t ntStatus)
{
    if (ntStatus == 0)
        return INF_SUCCESS;
    uint32_t const value = (uint32_t)ntStatus;
    for (const NtStatusMapping &m : g_ntStatuses)
        if (value >= m.first && value <= m.last)
            return m.status;
    // The process writes no release log, so an unknown value is reported only through
    // the status it turns into.
    return ERR_UNMAPPED_OS_ERROR;
}
