// Status rendering: %Rrc, %Rrs, %Rrf, %Rra for status codes and %Rwc, %Rwf, %Rwa (and the
// %Rhr forms) for Windows errors and HRESULTs.
#include "kelp/format.h"
#include "kelp/err.h"
#include "format-internal.h"

namespace {

struct RTSTATUSTEXT
{
    int32_t value;
    const char *name;
    const char *message;
};

constexpr RTSTATUSTEXT g_aStatusUnsorted[] = {
#define KELP_STATUS(value, name, message) { value, #name, message },
#include "kelp/errcodes.def"
#undef KELP_STATUS
};

constexpr size_t kStatusCount = RT_ELEMENTS(g_aStatusUnsorted);

struct RTSTATUSTABLE
{
    RTSTATUSTEXT rows[kStatusCount];
};

// The catalogue is kept in the order its authors find readable; the lookup wants it
// sorted by value.
constexpr RTSTATUSTABLE rtErrSortCatalogue()
{
    RTSTATUSTABLE t{};
    for (size_t i = 0; i < kStatusCount; i++)
    {
        RTSTATUSTEXT const row = g_aStatusUnsorted[i];
        size_t j = i;
        while (j > 0 && t.rows[j - 1].value > row.value)
        {
            t.rows[j] = t.rows[j - 1];
            j--;
        }
        t.rows[j] = row;
    }
    return t;
}

constexpr RTSTATUSTABLE g_StatusTable = rtErrSortCatalogue();

constexpr bool rtErrCatalogueIsUsable()
{
    for (size_t i = 0; i < kStatusCount; i++)
    {
        if (g_StatusTable.rows[i].value < -32768 || g_StatusTable.rows[i].value > 32767)
            return false;
        if (i && g_StatusTable.rows[i - 1].value == g_StatusTable.rows[i].value)
            return false;
    }
    return true;
}
static_assert(rtErrCatalogueIsUsable(), "status values must be unique and fit 16 bits");

const RTSTATUSTEXT *rtErrFindStatus(int status)
{
    if (status < -32768 || status > 32767)
        return nullptr;
    size_t low = 0;
    size_t high = kStatusCount;
    while (low < high)
    {
        size_t const mid = low + (high - low) / 2;
        int const v = g_StatusTable.rows[mid].value;
        if (v == status)
            return &g_StatusTable.rows[mid];
        if (status < v)
            high = mid;
        else
            low = mid + 1;
    }
    return nullptr;
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
    const RTSTATUSTEXT *row = rtErrFindStatus(status);
    size_t total = 0;
    switch (letter)
    {
        case 'c':
            if (row)
                return rtFmtText(output, outputArg, row->name);
            return rtFmtSignedDecimal(output, outputArg, status);
        case 's':
        case 'f':
            return rtFmtStatusMessage(output, outputArg, status);
        case 'a':
            if (!row)
                return rtFmtStatusMessage(output, outputArg, status);
            total += rtFmtText(output, outputArg, row->name);
            total += rtFmtText(output, outputArg, " (");
            total += rtFmtSignedDecimal(output, outputArg, status);
            total += rtFmtText(output, outputArg, ") - ");
            total += rtFmtText(output, outputArg, row->message);
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
    const RTSTATUSTEXT *row = rtErrFindStatus(status);
    if (row)
        return rtFmtText(output, outputArg, row->message);
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
