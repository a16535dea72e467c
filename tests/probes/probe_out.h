// Output of the probes: formatted lines written straight to the standard output handle.
#pragma once

#include "kelp/format.h"

#include <windows.h>

inline void ProbePrint(const char *format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    size_t const length = RTFmtBufferV(line, sizeof(line), format, args);
    va_end(args);
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)length, &written, nullptr);
}
