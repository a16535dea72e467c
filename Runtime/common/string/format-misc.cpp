// %R directives for time spans (%RDtimespec), x86 control registers (%RAx86[cr0],
// %RAx86[cr4]) and the registry of custom types (%R[name]).
#include "kelp/format.h"
#include "format-rtypes.h"

namespace {

bool rtFmtStartsWith(const char *text, const char *prefix, size_t *length)
{
    size_t n = 0;
    while (prefix[n])
    {
        if (text[n] != prefix[n])
            return false;
        n++;
    }
    *length = n;
    return true;
}

struct RTFMTBITNAME
{
    uint8_t bit;
    const char *name;
};

const RTFMTBITNAME g_aCr0Bits[] = {
    { 0, "PE" }, { 1, "MP" }, { 2, "EM" }, { 3, "TS" }, { 4, "ET" }, { 5, "NE" },
    { 16, "WP" }, { 18, "AM" }, { 29, "NW" }, { 30, "CD" }, { 31, "PG" },
};

const RTFMTBITNAME g_aCr4Bits[] = {
    { 0, "VME" }, { 1, "PVI" }, { 2, "TSD" }, { 3, "DE" }, { 4, "PSE" }, { 5, "PAE" },
    { 6, "MCE" }, { 7, "PGE" }, { 8, "PCE" }, { 9, "OSFXSR" }, { 10, "OSXMMEEXCPT" },
    { 13, "VMXE" }, { 14, "SMXE" }, { 17, "PCIDE" }, { 18, "OSXSAVE" }, { 20, "SMEP" },
    { 21, "SMAP" },
};

struct RTFMTREGISTER
{
    const char *directive; // after "A"
    const RTFMTBITNAME *bits;
    size_t count;
};

const RTFMTREGISTER g_aRegisters[] = {
    { "x86[cr0]", g_aCr0Bits, RT_ELEMENTS(g_aCr0Bits) },
    { "x86[cr4]", g_aCr4Bits, RT_ELEMENTS(g_aCr4Bits) },
};

size_t rtFmtRegister(FormatOutputFn output, void *outputArg, const RTFMTREGISTER &reg,
                     uint64_t value)
{
    size_t total = rtFmtEmitNumber(output, outputArg, value, 16, 8, -1, FMT_ZEROPAD | FMT_64BIT);
    uint64_t rest = value;
    bool listed = false;
    for (size_t i = 0; i < reg.count; i++)
    {
        uint64_t const mask = UINT64_C(1) << reg.bits[i].bit;
        if (!(value & mask))
            continue;
        total += rtFmtText(output, outputArg, listed ? "," : "{");
        total += rtFmtText(output, outputArg, reg.bits[i].name);
        rest &= ~mask;
        listed = true;
    }
    if (rest)
    {
        total += rtFmtText(output, outputArg, listed ? ",unkn=" : "{unkn=");
        total += rtFmtEmitNumber(output, outputArg, rest, 16, -1, -1, FMT_64BIT);
        listed = true;
    }
    if (listed)
        total += rtFmtText(output, outputArg, "}");
    return total;
}

// The registry of custom types, sorted by name. This program registers none.
typedef size_t (*RTFMTCUSTOMFN)(FormatOutputFn output, void *outputArg, const char *name,
                                const void *value, int width, int precision, unsigned flags,
                                void *user);
struct RTFMTCUSTOMTYPE
{
    uint8_t nameLength;
    char name[47];
    RTFMTCUSTOMFN callback;
    void *user;
};
const RTFMTCUSTOMTYPE *const g_paCustomTypes = nullptr;
const size_t g_cCustomTypes = 0;

// Bytes over the shorter length, then the shorter name first.
int rtFmtCompareCustom(const char *name, size_t length, const RTFMTCUSTOMTYPE &entry)
{
    size_t const n = length < entry.nameLength ? length : entry.nameLength;
    for (size_t i = 0; i < n; i++)
        if (name[i] != entry.name[i])
            return (unsigned char)name[i] < (unsigned char)entry.name[i] ? -1 : 1;
    if (length == entry.nameLength)
        return 0;
    return length < entry.nameLength ? -1 : 1;
}

const RTFMTCUSTOMTYPE *rtFmtFindCustom(const char *name, size_t length)
{
    size_t low = 0, high = g_cCustomTypes;
    while (low < high)
    {
        size_t const mid = low + (high - low) / 2;
        int const c = rtFmtCompareCustom(name, length, g_paCustomTypes[mid]);
        if (c == 0)
            return &g_paCustomTypes[mid];
        if (c < 0)
            high = mid;
        else
            low = mid + 1;
    }
    return nullptr;
}

} // namespace

size_t rtFmtRTime(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
                  int width, int precision, unsigned flags, char size)
{
    size_t length;
    if (!rtFmtStartsWith(*format + 1, "timespec", &length))
        return 0;
    *format += 1 + length;
    const int64_t *span = va_arg(*args, const int64_t *);
    if (!RTIsValidPtr(span))
        return rtFmtBadPointer(output, outputArg, span, "!BadRD", width, flags);
    return rtFmtEmitNumber(output, outputArg, (uint64_t)*span, 10, -1, -1,
                           FMT_SIGNED | FMT_64BIT | FMT_THOUSANDS)
         + output(outputArg, " ns", 3);
}

size_t rtFmtRArch(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
                  int width, int precision, unsigned flags, char size)
{
    for (const RTFMTREGISTER &reg : g_aRegisters)
    {
        size_t length;
        if (rtFmtStartsWith(*format + 1, reg.directive, &length))
        {
            *format += 1 + length;
            return rtFmtRegister(output, outputArg, reg, va_arg(*args, uint64_t));
        }
    }
    return 0;
}

size_t rtFmtRCustom(FormatOutputFn output, void *outputArg, const char **format,
                    va_list *args, int width, int precision, unsigned flags, char size)
{
    // The argument is taken before the name is looked at.
    const void *value = va_arg(*args, const void *);
    const char *const name = *format + 1;
    const char *p = name;
    while (*p != ']')
    {
        if (*p == '\0' || *p == '%' || *p == '[')
        {
            *format = name;
            return 0;
        }
        p++;
    }
    size_t const length = (size_t)(p - name);
    *format = p + 1;
    const RTFMTCUSTOMTYPE *entry = rtFmtFindCustom(name, length);
    if (entry)
        return entry->callback(output, outputArg, name, value, width, precision, flags,
                               entry->user);
    size_t total = rtFmtText(output, outputArg, "<missing:%R[");
    total += output(outputArg, name, length);
    total += rtFmtText(output, outputArg, "]>");
    return total;
}
