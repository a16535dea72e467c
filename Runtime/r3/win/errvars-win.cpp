// Keeping the thread's Windows and Winsock last-error values across diagnostic code.
#include "kelp/err.h"

#include "r3/win/internal-win.h"

namespace {

// What WSAGetLastError would say before the sockets library is initialised.
const uint32_t kWsaNotInitialised = 10093;

} // namespace

void RTErrSaveLastErrors(RTERRVARS *vars)
{
    vars->marker = RTERRVARS_MARKER;
    vars->winError = GetLastError();
    vars->wsaError = g_pfnWSAGetLastError ? (uint32_t)g_pfnWSAGetLastError() : kWsaNotInitialised;
}

void RTErrRestoreLastErrors(const RTERRVARS *vars)
{
    if (vars->marker != RTERRVARS_MARKER)
        return;
    if (vars->wsaError != kWsaNotInitialised && g_pfnWSASetLastError)
        g_pfnWSASetLastError((int)vars->wsaError);
    SetLastError(vars->winError);
}
