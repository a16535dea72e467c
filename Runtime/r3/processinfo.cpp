// The start-up record's storage, shared by the start-up code and its readers.
#include "kelp/init.h"

// Zero-initialised, so that the record (most of it the 4100-byte path) lies in .bss and
// takes no room in the file; the one field that does not start at zero is set by a static
// initialiser, which runs before main and before anything can call RTR3Init.
RTPROCESSINFO ProcessInfo;

namespace {

struct RtProcessInfoStart
{
    RtProcessInfoStart() { ProcessInfo.argc = -1; }
};

RtProcessInfoStart const g_processInfoStart;

} // namespace
