// Formatter micro-benchmark: RTFmtBuffer against the C run-time's snprintf on the kinds of
// formats the installer's messages use, in one process. Prints nanoseconds per call for
// each format and both formatters, and the ratio. The run-time's snprintf cannot render a
// status code by name, so its side of a %Rrc format prints the number with %d.
#include <kelp/err.h>
#include <kelp/format.h>

#include <windows.h>

#include <algorithm>
#include <stdio.h>
#include <vector>

namespace {

enum Args { NUMBERS, PACKAGE, PATH, STATUS, PATH_OFFSET_STATUS, VERSION, PROPERTY };

struct Case
{
    const char *label;
    const char *kelp;
    const char *crt;
    Args args;
};

const Case kCases[] = {
    { "package number",  "Package #%u extracted", "Package #%u extracted", PACKAGE },
    { "integers, flags", "%08x %-6d|%+5d %#x", "%08x %-6d|%+5d %#x", NUMBERS },
    { "path in quotes",  "Failed to open '%s' for writing", "Failed to open '%s' for writing", PATH },
    { "status",          "Extraction path is too long (%Rrc)", "Extraction path is too long (%d)",
      STATUS },
    { "offset, status",  "RTFileRead failed on '%s' at offset %#RX32: %Rrc",
                         "RTFileRead failed on '%s' at offset %#x: %d", PATH_OFFSET_STATUS },
    { "version",         "Version: %u.%u.%ur%u", "Version: %u.%u.%ur%u", VERSION },
    { "property",        "%s%s=\"%s\"", "%s%s=\"%s\"", PROPERTY },
};

double Now()
{
    static LARGE_INTEGER freq;
    if (!freq.QuadPart)
        QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)freq.QuadPart;
}

volatile size_t g_sink;

// Both formatters have the shape (buffer, size, format, ...): the same calls for both.
template <typename R>
double Measure(R (*fn)(char *, size_t, const char *, ...), const char *format, Args args,
               unsigned n)
{
    const char *path = "C:\\Users\\someone\\AppData\\Local\\Temp\\Frostgrain-Setup.msi";
    char buf[256];
    double const start = Now();
    for (unsigned i = 0; i < n; i++)
    {
        switch (args)
        {
            case NUMBERS: g_sink = (size_t)fn(buf, sizeof(buf), format, i, (int)i - 500, (int)i, i); break;
            case PACKAGE: g_sink = (size_t)fn(buf, sizeof(buf), format, i & 7); break;
            case PATH: g_sink = (size_t)fn(buf, sizeof(buf), format, path); break;
            case STATUS: g_sink = (size_t)fn(buf, sizeof(buf), format, ERR_BUFFER_OVERFLOW); break;
            case PATH_OFFSET_STATUS:
                g_sink = (size_t)fn(buf, sizeof(buf), format, path, i * 65536u, ERR_FILE_NOT_FOUND);
                break;
            case VERSION: g_sink = (size_t)fn(buf, sizeof(buf), format, 1u, 0u, i & 0xFF, 7u); break;
            case PROPERTY:
                g_sink = (size_t)fn(buf, sizeof(buf), format, " ", "INSTALLDIR",
                                    "C:\\Program Files\\Frostgrain");
                break;
        }
    }
    return (Now() - start) * 1e9 / n;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    unsigned const calls = argc > 1 ? (unsigned)atoi(argv[1]) : 200000;
    unsigned const rounds = 7;
#if defined(__USE_MINGW_ANSI_STDIO) && __USE_MINGW_ANSI_STDIO
    printf("snprintf: the mingw-w64 run-time's own (ANSI stdio); %u calls x %u rounds\n", calls, rounds);
#else
    printf("snprintf: msvcrt's; %u calls x %u rounds\n", calls, rounds);
#endif
    printf("%-18s %14s %14s %8s\n", "format", "RTFmtBuffer ns", "snprintf ns", "ratio");
    double kelpAll = 0, crtAll = 0;
    for (const Case &c : kCases)
    {
        std::vector<double> k, s;
        // Alternating rounds; the median of each side.
        for (unsigned r = 0; r < rounds; r++)
        {
            k.push_back(Measure(RTFmtBuffer, c.kelp, c.args, calls));
            s.push_back(Measure(snprintf, c.crt, c.args, calls));
        }
        double const km = Median(k), sm = Median(s);
        kelpAll += km;
        crtAll += sm;
        printf("%-18s %14.1f %14.1f %8.2f\n", c.label, km, sm, km / sm);
    }
    size_t const n = sizeof(kCases) / sizeof(kCases[0]);
    printf("%-18s %14.1f %14.1f %8.2f\n", "mean of the mix", kelpAll / n, crtAll / n,
           kelpAll / crtAll);
    return 0;
}
