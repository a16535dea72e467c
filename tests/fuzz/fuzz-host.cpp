// What the fuzz targets need from the Windows half of the runtime, for the build host:
// a fixed current directory (drive C: and "C:\Fuzz\Work", so every run of an input takes
// the same path through the code), the start-up record with a program name, and standard
// streams whose output goes through the formatter and is then dropped.
#include <kelp/err.h>
#include <kelp/format.h>
#include <kelp/init.h>
#include <kelp/path.h>
#include <kelp/stream.h>
#include <kelp/string.h>

RTPROCESSINFO ProcessInfo = { "C:\\Fuzz\\fuzz.exe", 16, 7, 8, -1, nullptr, 0, 0, 0, 0 };

Stream StreamStdOutObj;
Stream StreamStdErrObj;
Stream *StreamStdOut = &StreamStdOutObj;
Stream *StreamStdErr = &StreamStdErrObj;

namespace
{

size_t dropOutput(void *, const char *chars, size_t count)
{
    // Touch every byte handed over, so that a chunk pointing at freed or foreign memory
    // is a finding.
    volatile char sink = 0;
    for (size_t i = 0; chars && i < count; i++)
        sink = (char)(sink ^ chars[i]);
    return count;
}

} // namespace

int RTStreamPrintfV(Stream *stream, const char *format, va_list args)
{
    if (stream != &StreamStdOutObj && stream != &StreamStdErrObj)
        return ERR_BAD_ARGUMENT;
    return (int)RTFmtEmitV(dropOutput, nullptr, nullptr, nullptr, format, args);
}

int RTStreamPrintf(Stream *stream, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int rc = RTStreamPrintfV(stream, format, args);
    va_end(args);
    return rc;
}

int RTPathCurrentDir(char *buffer, size_t size)
{
    return RTStrCopyTo(buffer, size, "C:\\Fuzz\\Work");
}

int RTPathCurrentDirOnDrive(char driveLetter, char *buffer, size_t size)
{
    if (!((driveLetter >= 'A' && driveLetter <= 'Z') || (driveLetter >= 'a' && driveLetter <= 'z')))
        return ERR_BAD_ARGUMENT;
    char dir[] = "X:\\";
    dir[0] = driveLetter;
    return RTStrCopyTo(buffer, size, (driveLetter & ~0x20) == 'C' ? "C:\\Fuzz\\Work" : dir);
}

int RTPathGetCurrentDrive(char *buffer, size_t size)
{
    return RTStrCopyTo(buffer, size, "C:");
}
