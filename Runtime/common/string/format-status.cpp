// Status rendering: %Rrc, %Rrs, %Rrf, %Rra for status codes and %Rwc, %Rwf, %Rwa (and the
// %Rhr forms) for Windows errors and HRESULTs.
#include "kelp/format.h"
#include "kelp/err.h"
#include "format-internal.h"

namespace {

struct RTSTATUSSOURCE
{
    int32_t value;
    const char *name;
    const char *message;
};

constexpr RTSTATUSSOURCE g_aStatusSource[] = {
#define KELP_STATUS(value, name, message) { value, #name, message },
#include "kelp/errcodes.def"
#undef KELP_STATUS
};

constexpr size_t kStatusCount = RT_ELEMENTS(g_aStatusSource);

// Every name starts with its class and an underscore; the class lives in the row's two
// top bits and the pool keeps the rest of the name.
constexpr char g_aszStatusClass[][5] = { "ERR_", "WRN_", "INF_" };
constexpr size_t kClassLength = 4;
constexpr unsigned kClassShift = 14;
constexpr uint16_t kOffsetMask = (1u << kClassShift) - 1;

constexpr size_t rtErrLength(const char *s)
{
    size_t n = 0;
    while (s[n])
        n++;
    return n;
}

constexpr int rtErrClassOf(const char *name)
{
    for (int c = 0; c < (int)RT_ELEMENTS(g_aszStatusClass); c++)
    {
        size_t i = 0;
        while (i < kClassLength && name[i] == g_aszStatusClass[c][i])
            i++;
        if (i == kClassLength)
            return c;
    }
    return -1;
}

constexpr size_t rtErrPoolSize()
{
    size_t n = 0;
    for (const RTSTATUSSOURCE &src : g_aStatusSource)
        n += rtErrLength(src.name) - kClassLength + 1 + rtErrLength(src.message) + 1;
    return n;
}

constexpr size_t rtErrLongestName()
{
    size_t longest = 0;
    for (const RTSTATUSSOURCE &src : g_aStatusSource)
        longest = rtErrLength(src.name) > longest ? rtErrLength(src.name) : longest;
    return longest;
}

constexpr size_t kPoolSize = rtErrPoolSize();
constexpr size_t kLongestName = rtErrLongestName();
static_assert(kPoolSize <= kOffsetMask, "the pool outgrew the rows' offsets");

// One row per status: 6 bytes and no pointers (so nothing for the loader to relocate);
// the texts are offsets into one pool of NUL-terminated strings.
struct RTSTATUSROW
{
    int16_t value;
    uint16_t name;    // class << kClassShift | pool offset of the name after its class
    uint16_t message; // pool offset
};

struct RTSTATUSCATALOGUE
{
    RTSTATUSROW rows[kStatusCount];
    char pool[kPoolSize];
    bool usable; // values unique and 16-bit, every name with a class
};

// The catalogue is kept in the order its authors find readable; the lookup wants the rows
// sorted by value.
constexpr RTSTATUSCATALOGUE rtErrBuildCatalogue()
{
    RTSTATUSCATALOGUE t{};
    t.usable = true;
    size_t order[kStatusCount] = {};
    for (size_t i = 0; i < kStatusCount; i++)
    {
        size_t j = i;
        while (j > 0 && g_aStatusSource[order[j - 1]].value > g_aStatusSource[i].value)
        {
            order[j] = order[j - 1];
            j--;
        }
        order[j] = i;
    }
    size_t used = 0;
    for (size_t i = 0; i < kStatusCount; i++)
    {
        const RTSTATUSSOURCE &src = g_aStatusSource[order[i]];
        int const cls = rtErrClassOf(src.name);
        if (src.value < -32768 || src.value > 32767 || cls < 0
            || (i && g_aStatusSource[order[i - 1]].value == src.value))
            t.usable = false;
        t.rows[i].value = (int16_t)src.value;
        t.rows[i].name = (uint16_t)((unsigned)cls << kClassShift | used);
        for (const char *p = src.name + kClassLength; *p; p++)
            t.pool[used++] = *p;
        t.pool[used++] = '\0';
        t.rows[i].message = (uint16_t)used;
        for (const char *p = src.message; *p; p++)
            t.pool[used++] = *p;
        t.pool[used++] = '\0';
    }
    return t;
}

constexpr RTSTATUSCATALOGUE g_StatusCatalogue = rtErrBuildCatalogue();
static_assert(g_StatusCatalogue.usable, "status values must be unique and fit 16 bits, names need a class");

const RTSTATUSROW *rtErrFindStatus(int status)
{
    if (status < -32768 || status > 32767)
        return nullptr;
    size_t low = 0;
    size_t high = kStatusCount;
    while (low < high)
    {
        size_t const mid = low + (high - low) / 2;
        int const v = g_StatusCatalogue.rows[mid].value;
        if (v == status)
            return &g_StatusCatalogue.rows[mid];
        if (status < v)
            high = mid;
        else
            low = mid + 1;
    }
    return nullptr;
}

// The name goes out whole, in one call, like every other piece of text.
size_t rtFmtStatusName(FormatOutputFn output, void *outputArg, const RTSTATUSROW *row)
{
    char name[kLongestName];
    size_t n = 0;
    for (const char *p = g_aszStatusClass[row->name >> kClassShift]; *p; p++)
        name[n++] = *p;
    for (const char *p = &g_StatusCatalogue.pool[row->name & kOffsetMask]; *p; p++)
        name[n++] = *p;
    return output(outputArg, name, n);
}

const char *rtErrStatusMessage(const RTSTATUSROW *row)
{
    return &g_StatusCatalogue.pool[row->message];
}

struct RTWINERRTEXT
{
    int32_t value;
    const char *name;
};

const RTWINERRTEXT g_aWinErrors[] = {
    { 0, "ERROR_SUCCESS" },
};

const RTWINERRTEXT *rtErrFindWinError(uint32_t value)
{
    int32_t const v = (int32_t)value;
    if (v < -32768 || v > 32767)
        return nullptr;
    size_t low = 0;
    size_t high = RT_ELEMENTS(g_aWinErrors);
    while (low < high)
    {
        size_t const mid = low + (high - low) / 2;
        if (g_aWinErrors[mid].value == v)
            return &g_aWinErrors[mid];
        if (v < g_aWinErrors[mid].value)
            high = mid;
        else
            low = mid + 1;
    }
    return nullptr;
}

size_t rtFmtSignedDecimal(FormatOutputFn output, void *outputArg, int value)
{
    return rtFmtEmitNumber(output, outputArg, (uint32_t)value, 10, -1, -1,
                           FMT_SIGNED | FMT_32BIT);
}

size_t rtFmtHex32(FormatOutputFn output, void *outputArg, uint32_t value)
{
    return rtFmtEmitNumber(output, outputArg, value, 16, -1, -1, FMT_SPECIAL | FMT_32BIT);
}

size_t rtFmtStatus(FormatOutputFn output, void *outputArg, char letter, int status)
{
    const RTSTATUSROW *row = rtErrFindStatus(status);
    size_t total = 0;
    switch (letter)
    {
        case 'c':
            if (row)
                return rtFmtStatusName(output, outputArg, row);
            return rtFmtSignedDecimal(output, outputArg, status);
        case 's':
        case 'f':
            return rtFmtStatusMessage(output, outputArg, status);
        case 'a':
            if (!row)
                return rtFmtStatusMessage(output, outputArg, status);
            total += rtFmtStatusName(output, outputArg, row);
            total += rtFmtText(output, outputArg, " (");
            total += rtFmtSignedDecimal(output, outputArg, status);
            total += rtFmtText(output, outputArg, ") - ");
            total += rtFmtText(output, outputArg, rtErrStatusMessage(row));
            return total;
        default:
            return 0;
    }
}

size_t rtFmtWinError(FormatOutputFn output, void *outputArg, char letter, uint32_t value)
{
    bool const longForm = letter == 'a';
    if (!longForm && letter != 'c' && letter != 'f')
        return 0;
    const RTWINERRTEXT *row = rtErrFindWinError(value);
    bool direct = row != nullptr;
    if (!row && (value & 0x1FFF0000) == 0x70000)
        row = rtErrFindWinError(value & 0xFFFF);

    size_t total = 0;
    if (longForm)
    {
        if (row)
        {
            total += rtFmtText(output, outputArg, row->name);
            total += rtFmtText(output, outputArg, " (");
            total += rtFmtHex32(output, outputArg, value);
            total += rtFmtText(output, outputArg, ")");
        }
        else
        {
            total += rtFmtText(output, outputArg, "Unknown Status ");
            total += rtFmtHex32(output, outputArg, value);
        }
        return total;
    }
    if (direct)
        return rtFmtText(output, outputArg, row->name);
    if (row)
    {
        total += rtFmtText(output, outputArg, row->name);
        total += rtFmtText(output, outputArg, "/");
    }
    total += rtFmtHex32(output, outputArg, value);
    return total;
}

} // namespace

size_t rtFmtStatusMessage(FormatOutputFn output, void *outputArg, int status)
{
    const RTSTATUSROW *row = rtErrFindStatus(status);
    if (row)
        return rtFmtText(output, outputArg, rtErrStatusMessage(row));
    size_t total = rtFmtText(output, outputArg, "Unknown Status ");
    total += rtFmtSignedDecimal(output, outputArg, status);
    total += rtFmtText(output, outputArg, " (");
    total += rtFmtHex32(output, outputArg, (uint32_t)status);
    total += rtFmtText(output, outputArg, ")");
    return total;
}

size_t rtFmtRStatus(FormatOutputFn output, void *outputArg, const char **format, va_list *args,
                    int width, int precision, unsigned flags, char size)
{
    const char *p = *format;
    // Both families take their argument before looking at the letter, so the arguments
    // that follow stay aligned whatever the letter is.
    if (p[0] == 'r')
    {
        int const status = va_arg(*args, int);
        char const letter = p[1];
        *format = letter ? p + 2 : p + 1;
        return rtFmtStatus(output, outputArg, letter, status);
    }
    size_t const familyLength = p[0] == 'w' ? 1 : 2; // "w" or "hr"
    uint32_t const value = va_arg(*args, uint32_t);
    char const letter = p[familyLength];
    *format = letter ? p + familyLength + 1 : p + familyLength;
    return rtFmtWinError(output, outputArg, letter, value);
}
