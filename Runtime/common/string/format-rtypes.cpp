// The %R directives: dispatch by the letter after "R", and the type table of the runtime's
// own types (sized integers, booleans, handles, addresses, ...).
#include "kelp/format.h"
#include "format-internal.h"
#include "format-rtypes.h"

namespace {

// Sorted by name in byte order; rows that hold handles or pointers into this process take
// a pointer-sized argument. Tptr is a 64-bit value in every build.
constexpr uint8_t kPtr = (uint8_t)sizeof(void *);
constexpr FormatTypeEntry g_aFormatTypes[] = {
    RTFMT_TYPE("Ci",      4,    10, FMT_KIND_NUMBER,        FMT_SIGNED),
    RTFMT_TYPE("Cp",      8,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Cr",      4,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Cu",      4,    10, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("Cv",      4,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Cx",      4,    16, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("Gi",      8,    10, FMT_KIND_NUMBER,        FMT_SIGNED),
    RTFMT_TYPE("Gp",      8,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Gr",      8,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Gu",      8,    10, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("Gv",      8,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Gx",      8,    16, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("Hi",      4,    10, FMT_KIND_NUMBER,        FMT_SIGNED),
    RTFMT_TYPE("Hp",      8,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Hr",      4,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Hu",      4,    10, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("Hv",      4,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Hx",      4,    16, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("I16",     2,    10, FMT_KIND_NUMBER,        FMT_SIGNED),
    RTFMT_TYPE("I32",     4,    10, FMT_KIND_NUMBER,        FMT_SIGNED),
    RTFMT_TYPE("I64",     8,    10, FMT_KIND_NUMBER,        FMT_SIGNED),
    RTFMT_TYPE("I8",      1,    10, FMT_KIND_NUMBER,        FMT_SIGNED),
    RTFMT_TYPE("Kv",      4,    16, FMT_KIND_NUMBER,        FMT_MASKED),
    RTFMT_TYPE("Rv",      4,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Tbool",   1,    10, FMT_KIND_BOOL,          0),
    RTFMT_TYPE("Teic",    kPtr, 16, FMT_KIND_ERRINFO,       0),
    RTFMT_TYPE("Teim",    kPtr, 16, FMT_KIND_ERRINFO_MSG,   0),
    RTFMT_TYPE("Tfile",   kPtr, 10, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("Tfmode",  4,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Tfoff",   8,    10, FMT_KIND_NUMBER,        FMT_SIGNED),
    RTFMT_TYPE("Tfp16",   4,    16, FMT_KIND_FAR16,         FMT_ZEROPAD),
    RTFMT_TYPE("Tfp32",   6,    16, FMT_KIND_FAR32,         FMT_ZEROPAD),
    RTFMT_TYPE("Tfp64",   10,   16, FMT_KIND_FAR64,         FMT_ZEROPAD),
    RTFMT_TYPE("Tgid",    4,    10, FMT_KIND_NUMBER,        FMT_SIGNED),
    RTFMT_TYPE("Tino",    8,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Tint",    4,    10, FMT_KIND_NUMBER,        FMT_SIGNED),
    RTFMT_TYPE("Tiop",    2,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Tldrm",   kPtr, 16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Tmac",    kPtr, 16, FMT_KIND_MAC,           0),
    RTFMT_TYPE("Tnaddr",  kPtr, 10, FMT_KIND_NETADDR,       0),
    RTFMT_TYPE("Tnaipv4", 4,    10, FMT_KIND_IPV4,          0),
    RTFMT_TYPE("Tnaipv6", kPtr, 16, FMT_KIND_IPV6,          0),
    RTFMT_TYPE("Tnthrd",  kPtr, 16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Tproc",   kPtr, 16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Tptr",    8,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Treg",    kPtr, 16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Tsel",    2,    16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Tsem",    kPtr, 16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Tsock",   kPtr, 10, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("Tthrd",   kPtr, 16, FMT_KIND_HEX_FIXED,     0),
    RTFMT_TYPE("Tuid",    4,    10, FMT_KIND_NUMBER,        FMT_SIGNED),
    RTFMT_TYPE("Tuint",   4,    10, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("Tunicp",  4,    16, FMT_KIND_HEX_FIXED,     FMT_ZEROPAD),
    RTFMT_TYPE("Tutf16",  2,    16, FMT_KIND_HEX_FIXED,     FMT_ZEROPAD),
    RTFMT_TYPE("Tuuid",   kPtr, 16, FMT_KIND_UUID,          0),
    RTFMT_TYPE("Txint",   4,    16, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("U16",     2,    10, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("U32",     4,    10, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("U64",     8,    10, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("U8",      1,    10, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("X16",     2,    16, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("X32",     4,    16, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("X64",     8,    16, FMT_KIND_NUMBER,        0),
    RTFMT_TYPE("X8",      1,    16, FMT_KIND_NUMBER,        0),
};
static_assert(RT_ELEMENTS(g_aFormatTypes) == 64, "one row per %R type");


constexpr int rtFmtCompareName(const char *text, const FormatTypeEntry &row)
{
    for (unsigned i = 0; i < row.nameLength; i++)
    {
        unsigned char const a = (unsigned char)text[i];
        unsigned char const b = (unsigned char)row.name[i];
        if (a != b)
            return a < b ? -1 : 1;
    }
    return 0;
}

constexpr bool rtFmtTableIsSorted()
{
    for (size_t i = 1; i < RT_ELEMENTS(g_aFormatTypes); i++)
    {
        const FormatTypeEntry &a = g_aFormatTypes[i - 1];
        const FormatTypeEntry &b = g_aFormatTypes[i];
        unsigned n = a.nameLength < b.nameLength ? a.nameLength : b.nameLength;
        int c = 0;
        for (unsigned j = 0; j < n && !c; j++)
            if (a.name[j] != b.name[j])
                c = (unsigned char)a.name[j] < (unsigned char)b.name[j] ? -1 : 1;
        // A name that is a prefix of another would make the search ambiguous.
        if (c >= 0)
            return false;
    }
    return true;
}
static_assert(rtFmtTableIsSorted(), "the %R type table must be sorted by name, prefix-free");

const FormatTypeEntry *rtFmtFindType(const char *text)
{
    int low = 0;
    int high = (int)RT_ELEMENTS(g_aFormatTypes) - 1;
    while (low <= high)
    {
        int const mid = low + (high - low) / 2;
        int const c = rtFmtCompareName(text, g_aFormatTypes[mid]);
        if (c == 0)
            return &g_aFormatTypes[mid];
        if (c < 0)
            high = mid - 1;
        else
            low = mid + 1;
    }
    return nullptr;
}

// Fetches the row's argument into a 64-bit value and sets the size flag.
uint64_t rtFmtFetchTyped(va_list *args, const FormatTypeEntry &row, unsigned *flags)
{
    *flags &= ~(FMT_8BIT | FMT_16BIT | FMT_32BIT | FMT_64BIT);
    if (row.flags & FMT_SIGNED)
    {
        switch (row.size)
        {
            case 1: *flags |= FMT_8BIT; return (uint64_t)(int64_t)va_arg(*args, int);
            case 2: *flags |= FMT_16BIT; return (uint64_t)(int64_t)va_arg(*args, int);
            case 4: *flags |= FMT_32BIT; return (uint64_t)(int64_t)va_arg(*args, int);
            default: *flags |= FMT_64BIT; return (uint64_t)va_arg(*args, int64_t);
        }
    }
    switch (row.size)
    {
        case 1: *flags |= FMT_8BIT; return (uint8_t)va_arg(*args, unsigned);
        case 2: *flags |= FMT_16BIT; return (uint16_t)va_arg(*args, unsigned);
        case 4: *flags |= FMT_32BIT; return va_arg(*args, uint32_t);
        default: *flags |= FMT_64BIT; return va_arg(*args, uint64_t);
    }
}

size_t rtFmtBool(FormatOutputFn output, void *outputArg, uint64_t value, unsigned flags)
{
    if (value == 1)
        return (flags & FMT_SPECIAL) ? output(outputArg, "true ", 5) : output(outputArg, "true", 4);
    if (value == 0)
        return output(outputArg, "false", 5);
    // The nested run's end call must not end the caller's output: count only the text.
    return RTFmtEmit(output, outputArg, nullptr, nullptr, "!%lld!", (long long)value);
}

} // namespace

size_t rtFmtRType(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
                  int width, int precision, unsigned flags, char size)
{
    const FormatTypeEntry *row = rtFmtFindType(*format);
    if (!row)
        return 0;
    *format += row->nameLength;
    flags |= row->flags;

    if (row->kind > FMT_KIND_BOOL)
        return rtFmtRTypeExt(output, outputArg, *row, args, width, precision, flags);

    uint64_t const value = rtFmtFetchTyped(args, *row, &flags);
    switch (row->kind)
    {
        case FMT_KIND_HEX_FIXED:
            if (!(flags & FMT_WIDTH))
            {
                width = 2 * row->size + ((flags & FMT_SPECIAL) ? 2 : 0);
                flags |= FMT_WIDTH;
            }
            flags |= FMT_ZEROPAD;
            if (flags & FMT_MASKED)
                return rtFmtMasked(output, outputArg, flags);
            return rtFmtEmitNumber(output, outputArg, value, row->base, width, precision, flags);
        case FMT_KIND_BOOL:
            return rtFmtBool(output, outputArg, value, flags);
        default:
            if (flags & FMT_MASKED)
                return rtFmtMasked(output, outputArg, flags);
            return rtFmtEmitNumber(output, outputArg, value, row->base, width, precision, flags);
    }
}

size_t rtFmtR(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
              int width, int precision, unsigned flags, char size)
{
    const char *const start = *format;
    size_t total = 0;
    switch (*start)
    {
        case 'C': case 'G': case 'H': case 'I': case 'K': case 'R': case 'T': case 'U': case 'X':
            total = rtFmtRType(output, outputArg, format, args, width, precision, flags, size);
            break;
        case 'r':
        case 'w':
            total = rtFmtRStatus(output, outputArg, format, args, width, precision, flags, size);
            break;
        case 'h':
            if (start[1] == 'r')
                total = rtFmtRStatus(output, outputArg, format, args, width, precision, flags, size);
            else
                total = rtFmtRHex(output, outputArg, format, args, width, precision, flags, size);
            break;
        case 'b':
            total = rtFmtRBaseName(output, outputArg, format, args, width, precision, flags, size);
            break;
        case 'f':
            total = rtFmtRFuncName(output, outputArg, format, args, width, precision, flags, size);
            break;
        case 'M':
            total = rtFmtREscape(output, outputArg, format, args, width, precision, flags, size);
            break;
        case 'D':
            total = rtFmtRTime(output, outputArg, format, args, width, precision, flags, size);
            break;
        case 'A':
            total = rtFmtRArch(output, outputArg, format, args, width, precision, flags, size);
            break;
        case '[':
            total = rtFmtRCustom(output, outputArg, format, args, width, precision, flags, size);
            break;
        case '\0':
            return 0;
        default:
            break;
    }
    // Unknown: the scan resumes right after the first letter.
    if (*format == start)
        *format = start + 1;
    return total;
}
