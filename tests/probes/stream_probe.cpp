// Writes through the streams and leaves the rest to process termination; what the test
// reads afterwards shows what was buffered and what the exit flushed.
//   PLOM_STREAM_PROBE=redirect  standard output and error, both redirected by the test
//   PLOM_STREAM_PROBE=exit      an opened file (PLOM_STREAM_FILE) that is never closed
//   PLOM_STREAM_PROBE=message   messages after the runtime initialisation
#include "kelp/err.h"
#include "kelp/init.h"
#include "kelp/message.h"
#include "kelp/stream.h"
#include "kelp/string.h"

#include <windows.h>

namespace {

void writeRaw(DWORD which, const char *text)
{
    DWORD written;
    WriteFile(GetStdHandle(which), text, RTStrLen(text), &written, nullptr);
}

bool envIs(const wchar_t *name, const wchar_t *value)
{
    WCHAR buffer[64];
    DWORD const cwc = GetEnvironmentVariableW(name, buffer, 64);
    return cwc && cwc < 64 && CompareStringOrdinal(buffer, -1, value, -1, FALSE) == CSTR_EQUAL;
}

} // namespace

extern "C" int main(int, char **, char **)
{
    if (envIs(L"PLOM_STREAM_PROBE", L"redirect"))
    {
        // The first flush finds no console and switches the stream to full buffering.
        RTStreamPrintf(StreamStdOut, "first\n");
        RTStreamPrintf(StreamStdOut, "second\n");
        writeRaw(STD_OUTPUT_HANDLE, "<mark>");
        RTStreamPrintf(StreamStdErr, "e1");
        RTStreamPrintf(StreamStdErr, "e2\n");
        writeRaw(STD_ERROR_HANDLE, "<mark>");
        return 7;
    }
    if (envIs(L"PLOM_STREAM_PROBE", L"exit"))
    {
        WCHAR wpath[MAX_PATH];
        char path[MAX_PATH * 3];
        if (!GetEnvironmentVariableW(L"PLOM_STREAM_FILE", wpath, MAX_PATH)
            || !WideCharToMultiByte(CP_UTF8, 0, wpath, -1, path, sizeof(path), nullptr, nullptr))
            return 2;
        Stream *stream;
        if (RTStreamOpen(path, "w", &stream) != 0)
            return 3;
        RTStreamPrintf(stream, "kept until exit\n");
        // As the installer does with the console.
        StreamStdOut = stream;
        RTStreamPrintfStdOut("through the standard output pointer\n");
        return 0;
    }
    if (envIs(L"PLOM_STREAM_PROBE", L"message"))
    {
        if (RTR3Init(0, nullptr, RTR3INIT_FLAG_SYSTEM32_ONLY) != 0)
            return 2;
        RTMsgReportError("Unknown option: '%s'", "--x");
        RTMsgReportInfo("two\nlines");
        return RTMsgReportInitFailure(ERR_NO_MEMORY);
    }
    return 1;
}
