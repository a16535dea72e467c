// %R type table kinds beyond numbers and booleans: masked values, far pointers, network
// addresses, UUIDs and error information.
#include "kelp/format.h"
#include "format-rtypes.h"

namespace {

// The error information record the runtime's loader fills.
struct RTFMTERRINFO
{
    uint32_t flags;
    int32_t status;
    uint32_t messageSize;
    const char *message;
};

const uint32_t kErrInfoMask = 0xFFFF0004;
const uint32_t kErrInfoValid = 0xBABE0004;

void rtFmtAddDottedQuad(RTFMTTEXT *t, const uint8_t *b)
{
    for (int i = 0; i < 4; i++)
    {
        if (i)
            rtFmtTextAddStr(t, ".");
        rtFmtTextAddNumber(t, b[i], 10, -1, 0);
    }
}

void rtFmtAddIPv6(RTFMTTEXT *t, const uint8_t *b)
{
    unsigned groups[8];
    for (int i = 0; i < 8; i++)
        groups[i] = (unsigned)b[2 * i] << 8 | b[2 * i + 1];

    bool firstEightZero = true;
    for (int i = 0; i < 8; i++)
        firstEightZero = firstEightZero && b[i] == 0;
    bool embedded = false;
    if (firstEightZero)
    {
        bool const mapped = b[8] == 0 && b[9] == 0 && b[10] == 0xff && b[11] == 0xff;
        bool const translated = b[8] == 0xff && b[9] == 0xff && b[10] == 0 && b[11] == 0;
        bool const compatible = b[8] == 0 && b[9] == 0 && b[10] == 0 && b[11] == 0
                             && !(b[12] == 0 && b[13] == 0 && b[14] == 0 && b[15] == 0)
                             && !(b[12] == 0 && b[13] == 0 && b[14] == 0 && b[15] == 1);
        embedded = mapped || translated || compatible;
    }
    int const n = embedded ? 6 : 8;

    // The longest run of at least two zero groups; the first of equal runs wins.
    int runStart = -1, runLength = 0;
    for (int i = 0; i < n;)
    {
        if (groups[i])
        {
            i++;
            continue;
        }
        int j = i;
        while (j < n && !groups[j])
            j++;
        if (j - i >= 2 && j - i > runLength)
        {
            runStart = i;
            runLength = j - i;
        }
        i = j;
    }

    if (runStart < 0)
    {
        for (int i = 0; i < n; i++)
        {
            if (i)
                rtFmtTextAddStr(t, ":");
            rtFmtTextAddNumber(t, groups[i], 16, -1, 0);
        }
        if (embedded)
        {
            rtFmtTextAddStr(t, ":");
            rtFmtAddDottedQuad(t, b + 12);
        }
        return;
    }

    int const runEnd = runStart + runLength;
    if (runStart == 0)
        rtFmtTextAddStr(t, ":");
    for (int i = 0; i < runStart; i++)
    {
        rtFmtTextAddNumber(t, groups[i], 16, -1, 0);
        rtFmtTextAddStr(t, ":");
    }
    if (runEnd == n)
    {
        rtFmtTextAddStr(t, ":");
        if (embedded)
            rtFmtAddDottedQuad(t, b + 12);
        return;
    }
    for (int i = runEnd; i < n; i++)
    {
        rtFmtTextAddStr(t, ":");
        rtFmtTextAddNumber(t, groups[i], 16, -1, 0);
    }
    if (embedded)
    {
        rtFmtTextAddStr(t, ":");
        rtFmtAddDottedQuad(t, b + 12);
    }
}

void rtFmtAddMac(RTFMTTEXT *t, const uint8_t *b)
{
    for (int i = 0; i < 6; i++)
    {
        if (i)
            rtFmtTextAddStr(t, ":");
        rtFmtTextAddNumber(t, b[i], 16, 2, FMT_ZEROPAD);
    }
}

void rtFmtAddNetAddr(RTFMTTEXT *t, const RTNETADDR *a)
{
    bool const hasPort = a->port != RTNETADDR_PORT_NONE;
    switch (a->type)
    {
        case RTNETADDRTYPE_IPV4:
            rtFmtAddDottedQuad(t, a->address);
            break;
        case RTNETADDRTYPE_IPV6:
            if (hasPort)
                rtFmtTextAddStr(t, "[");
            rtFmtAddIPv6(t, a->address);
            if (hasPort)
                rtFmtTextAddStr(t, "]");
            break;
        case RTNETADDRTYPE_MAC:
            rtFmtAddMac(t, a->address);
            return;
        default:
            rtFmtTextAddStr(t, "unsupported-netaddr-type=");
            rtFmtTextAddNumber(t, a->type, 10, -1, 0);
            return;
    }
    if (hasPort)
    {
        rtFmtTextAddStr(t, ":");
        rtFmtTextAddNumber(t, a->port, 10, -1, 0);
    }
}

void rtFmtAddUuid(RTFMTTEXT *t, const uint8_t *b)
{
    uint32_t first;
    uint16_t second, third;
    __builtin_memcpy(&first, b, 4);
    __builtin_memcpy(&second, b + 4, 2);
    __builtin_memcpy(&third, b + 6, 2);
    rtFmtTextAddNumber(t, first, 16, 8, FMT_ZEROPAD);
    rtFmtTextAddStr(t, "-");
    rtFmtTextAddNumber(t, second, 16, 4, FMT_ZEROPAD);
    rtFmtTextAddStr(t, "-");
    rtFmtTextAddNumber(t, third, 16, 4, FMT_ZEROPAD);
    for (int i = 8; i < 16; i++)
    {
        if (i == 10 || i == 8)
            rtFmtTextAddStr(t, "-");
        rtFmtTextAddNumber(t, b[i], 16, 2, FMT_ZEROPAD);
    }
}

size_t rtFmtErrInfo(FormatOutputFn output, void *outputArg, const void *pointer, bool complete,
                    unsigned flags)
{
    if (!RTIsValidPtr(pointer))
        return 0;
    const RTFMTERRINFO *info = (const RTFMTERRINFO *)pointer;
    if ((info->flags & kErrInfoMask) != kErrInfoValid)
        return 0;
    size_t total = 0;
    if (complete)
        total += rtFmtStatusMessage(output, outputArg, info->status);
    if (info->messageSize)
    {
        total += rtFmtText(output, outputArg, (flags & FMT_SPECIAL) ? " - " : ": ");
        if (RTIsValidPtr(info->message))
            total += output(outputArg, info->message,
                            rtFmtStrNLen(info->message, info->messageSize));
        else
            total += rtFmtBadPointer(output, outputArg, info->message, "!BadStr", -1, 0);
    }
    return total;
}

} // namespace

size_t rtFmtMasked(FormatOutputFn output, void *outputArg, unsigned flags)
{
    return (flags & FMT_SPECIAL) ? output(outputArg, "0xXXXXXXXX", 10)
                                 : output(outputArg, "XXXXXXXX", 8);
}

size_t rtFmtRTypeExt(FormatOutputFn output, void *outputArg, const FormatTypeEntry &row,
                     va_list *args, int width, int precision, unsigned flags)
{
    char text[128];
    RTFMTTEXT t;
    rtFmtTextInit(&t, text, sizeof(text));
    switch (row.kind)
    {
        case FMT_KIND_FAR16:
        {
            uint32_t const v = va_arg(*args, uint32_t);
            rtFmtTextAddNumber(&t, v >> 16, 16, 4, FMT_ZEROPAD);
            rtFmtTextAddStr(&t, ":");
            rtFmtTextAddNumber(&t, v & 0xffff, 16, 4, FMT_ZEROPAD);
            break;
        }
        case FMT_KIND_FAR32:
        {
            RTFAR32 const v = va_arg(*args, RTFAR32);
            rtFmtTextAddNumber(&t, v.sel, 16, 4, FMT_ZEROPAD);
            rtFmtTextAddStr(&t, ":");
            rtFmtTextAddNumber(&t, v.off, 16, 8, FMT_ZEROPAD);
            break;
        }
        case FMT_KIND_FAR64:
        {
            RTFAR64 const v = va_arg(*args, RTFAR64);
            rtFmtTextAddNumber(&t, v.sel, 16, 4, FMT_ZEROPAD);
            rtFmtTextAddStr(&t, ":");
            rtFmtTextAddNumber(&t, v.off, 16, 16, FMT_ZEROPAD | FMT_64BIT);
            break;
        }
        case FMT_KIND_IPV4:
        {
            uint32_t const v = va_arg(*args, uint32_t);
            uint8_t b[4];
            __builtin_memcpy(b, &v, 4);
            rtFmtAddDottedQuad(&t, b);
            break;
        }
        case FMT_KIND_IPV6:
        case FMT_KIND_MAC:
        case FMT_KIND_NETADDR:
        case FMT_KIND_UUID:
        {
            const void *p = va_arg(*args, const void *);
            if (!RTIsValidPtr(p))
            {
                static const char *const markers[] = { "!BadIPv6", "!BadMac", "!BadNetAddr",
                                                       "!BadUuid" };
                return rtFmtBadPointer(output, outputArg, p, markers[row.kind - FMT_KIND_IPV6],
                                       width, flags);
            }
            if (row.kind == FMT_KIND_IPV6)
                rtFmtAddIPv6(&t, (const uint8_t *)p);
            else if (row.kind == FMT_KIND_MAC)
                rtFmtAddMac(&t, (const uint8_t *)p);
            else if (row.kind == FMT_KIND_NETADDR)
                rtFmtAddNetAddr(&t, (const RTNETADDR *)p);
            else
                rtFmtAddUuid(&t, (const uint8_t *)p);
            break;
        }
        case FMT_KIND_ERRINFO:
        case FMT_KIND_ERRINFO_MSG:
            return rtFmtErrInfo(output, outputArg, va_arg(*args, const void *),
                                row.kind == FMT_KIND_ERRINFO, flags);
        default:
            return 0;
    }
    return output(outputArg, t.buf, t.len);
}
