// Status codes: 0 is success, negative values are errors, positive values are
// successes with a warning or information.
#pragma once

#include "kelp/types.h"

enum : int
{
#define KELP_STATUS(value, name, message) name = value,
#include "kelp/errcodes.def"
#undef KELP_STATUS
};

inline bool RT_SUCCESS(int rc) { return rc >= 0; }
inline bool RT_FAILURE(int rc) { return rc < 0; }

// Converts a Windows error value (GetLastError, Winsock) to a status code.
int RTErrConvertFromWinError(uint32_t winError);
// Converts an NT status value to a status code.
int RTErrConvertFromNtStatus(int32_t ntStatus);

// The thread's Windows and Winsock last-error values, kept across diagnostic code.
struct RTERRVARS
{
    uint32_t marker;
    uint32_t winError;
    uint32_t wsaError;
};
enum : uint32_t { RTERRVARS_MARKER = 0x19520117 };

void RTErrSaveLastErrors(RTERRVARS *vars);
void RTErrRestoreLastErrors(const RTERRVARS *vars);
