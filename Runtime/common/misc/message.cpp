// Message output: every line of a diagnostic carries the program name and a category.
#include "kelp/message.h"
#include "kelp/format.h"
#include "kelp/init.h"
#include "kelp/stream.h"
#include "kelp/string.h"

namespace {

// Set on the first message, kept for the life of the process.
const char *g_pszProgName;

const char *programName()
{
    const char *name = g_pszProgName;
    if (!name)
    {
        uint32_t const offset = ProcessInfo.fileNameOffset;
        name = offset < RTPATH_MAX ? &ProcessInfo.execPath[offset] : "";
        // Not kept before the start-up has recorded the path, so later lines get it.
        if (*name)
            g_pszProgName = name;
    }
    return name;
}

bool hasLineFeed(const char *text)
{
    for (; *text; text++)
        if (*text == '\n')
            return true;
    return false;
}

} // namespace

int RTMsgWriteLines(Stream *stream, const char *prefix, const char *format, va_list args)
{
    if (!format || !*format || (format[0] == '\n' && format[1] == '\0'))
    {
        RTStreamPrintf(stream, "\n");
        return 0;
    }

    const char *name = programName();
    char *text = nullptr;
    va_list copy;
    va_copy(copy, args);
    int const length = RTFmtAllocV(&text, format, copy);
    va_end(copy);
    if (length < 0 || !text)
    {
        RTStreamPrintf(stream, "%s: %s", name, prefix);
        RTStreamPrintfV(stream, format, args);
        if (!hasLineFeed(format))
            RTStreamPrintf(stream, "\n");
        return 0;
    }

    const char *rest = text;
    for (;;)
    {
        const char *lf = rest;
        while (*lf && *lf != '\n')
            lf++;
        if (!*lf)
        {
            RTStreamPrintf(stream, "%s: %s%s\n", name, prefix, rest);
            break;
        }
        if (lf == rest)
            RTStreamPrintf(stream, "\n");
        else
            RTStreamPrintf(stream, "%s: %s%.*s\n", name, prefix, (int)(lf - rest), rest);
        rest = lf + 1;
        if (!*rest)
            break;
    }
    RTStrDispose(text);
    return 0;
}

int RTMsgReportErrorV(const char *format, va_list args)
{
    return RTMsgWriteLines(StreamStdErr, "error: ", format, args);
}

int RTMsgReportError(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    RTMsgReportErrorV(format, args);
    va_end(args);
    return 0;
}

int RTMsgReportInfoV(const char *format, va_list args)
{
    return RTMsgWriteLines(StreamStdOut, "info: ", format, args);
}

int RTMsgReportInfo(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    RTMsgReportInfoV(format, args);
    va_end(args);
    return 0;
}

int RTMsgReportInitFailure(int rc)
{
    uint32_t const offset = ProcessInfo.fileNameOffset;
    if (offset != 0 && offset < RTPATH_MAX && ProcessInfo.execPath[0] && ProcessInfo.execPath[offset])
        RTStreamPrintf(StreamStdErr, "%s: fatal error: RTR3Init: %Rrc\n", &ProcessInfo.execPath[offset], rc);
    else
        RTStreamPrintf(StreamStdErr, "fatal error: RTR3Init: %Rrc\n", rc);
    return 3;
}
