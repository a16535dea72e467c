// Talking to the user: message boxes by default, the standard streams with --silent.
#include "PlomStub.h"

#include <windows.h>

#include <kelp/format.h>
#include <kelp/mem.h>
#include <kelp/message.h>
#include <kelp/stream.h>
#include <kelp/string.h>

const char ProductInstallerName[] = "Frostgrain Installer";

namespace
{

const wchar_t ProductInstallerNameW[] = L"Frostgrain Installer";

// USER32 is bound lazily; the calls below go through its table.
void ShowMessageBox(const char *text, UINT style)
{
    RTUTF16 *textW = nullptr;
    if (RTStrToUtf16(text, &textW) >= 0)
    {
        MessageBoxW(GetDesktopWindow(), (LPCWSTR)textW, ProductInstallerNameW, style);
        RTUtf16Free(textW);
    }
    else
        MessageBoxA(GetDesktopWindow(), text, ProductInstallerName, style);
}

int ShowErrorV(const char *format, va_list args)
{
    char *text = nullptr;
    if (RTFmtAllocV(&text, format, args, RT_SRC_TAG) < 0 || !text)
        return EXIT_FAILURE_CODE;
    if (text[0] != '\0')
    {
        if (silent)
            RTMsgReportError("%s", text);
        else
            ShowMessageBox(text, MB_OK | MB_ICONERROR);
    }
    RTStrDispose(text);
    return EXIT_FAILURE_CODE;
}

void PrintErrorV(const char *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    RTStreamPrintf(StreamStdErr, "error: %N\n", format, &copy);
    va_end(copy);
}

} // namespace

int ShowError(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int rc = ShowErrorV(format, args);
    va_end(args);
    return rc;
}

int ShowSyntaxError(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    ShowError("%N", format, &args);
    va_end(args);
    return EXIT_SYNTAX_CODE;
}

void ShowInfo(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = nullptr;
    int rc = RTFmtAllocV(&text, format, args, RT_SRC_TAG);
    va_end(args);
    if (rc < 0 || !text)
        return;
    if (silent)
        RTStreamPrintf(StreamStdOut, "%s\n", text);
    else
        ShowMessageBox(text, MB_OK | MB_ICONINFORMATION);
    RTStrDispose(text);
}

void PrintError(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    PrintErrorV(format, args);
    va_end(args);
}

int PrintErrorExit(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    PrintErrorV(format, args);
    va_end(args);
    return EXIT_FAILURE_CODE;
}

int PrintErrorRc(int rc, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    PrintErrorV(format, args);
    va_end(args);
    return rc;
}
