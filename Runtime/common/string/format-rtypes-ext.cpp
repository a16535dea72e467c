// %R families not yet rendered: they print nothing and take no argument.
#include "format-rtypes.h"

size_t rtFmtMasked(FormatOutputFn output, void *outputArg, unsigned flags)
{
    return (flags & FMT_SPECIAL) ? output(outputArg, "0xXXXXXXXX", 10)
                                 : output(outputArg, "XXXXXXXX", 8);
}

size_t rtFmtRTypeExt(FormatOutputFn, void *, const FormatTypeEntry &, va_list *, int, int, unsigned)
{
    return 0;
}

#define RTFMT_STUB(name) \
    size_t name(FormatOutputFn, void *, const char **, va_list *, int, int, unsigned, char) { return 0; }
RTFMT_STUB(rtFmtRHex)
RTFMT_STUB(rtFmtRBaseName)
RTFMT_STUB(rtFmtRFuncName)
RTFMT_STUB(rtFmtREscape)
RTFMT_STUB(rtFmtRTime)
RTFMT_STUB(rtFmtRArch)
RTFMT_STUB(rtFmtRCustom)
