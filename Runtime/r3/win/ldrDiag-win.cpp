// Diagnostic output of the runtime's fatal paths: formatted without the heap, kept for a
// post-mortem look and written to the standard error handle when there is one.
#include "kelp/ldr.h"
#include "kelp/err.h"
#include "kelp/format.h"
#include "kelp/string.h"

#include <windows.h>

char g_szRTAssertMsg1[4096];
char g_szRTAssertMsg2[4096];

namespace {

void keepAndWrite(char *kept, const char *text, size_t length)
{
    RTStrCopyTo(kept, sizeof(g_szRTAssertMsg1), text);
    HANDLE hStdErr = GetStdHandle(STD_ERROR_HANDLE);
    if (hStdErr && hStdErr != INVALID_HANDLE_VALUE && length)
    {
        DWORD written = 0;
        WriteFile(hStdErr, text, (DWORD)length, &written, nullptr);
    }
}

} // namespace

void RTAssertMsg1(const char *expr, unsigned line, const char *file, const char *function)
{
    RTERRVARS saved;
    RTErrSaveLastErrors(&saved);
    char szMsg[sizeof(g_szRTAssertMsg1)];
    size_t const cch = RTFmtBuffer(szMsg, sizeof(szMsg),
                                   "\n!!Assertion Failed!!\nExpression: %s\nLocation  : %s(%d) %s\n",
                                   expr, file, (int)line, function);
    keepAndWrite(g_szRTAssertMsg1, szMsg, cch);
    RTErrRestoreLastErrors(&saved);
}

void RTAssertMsg2V(const char *format, va_list args)
{
    RTERRVARS saved;
    RTErrSaveLastErrors(&saved);
    char szMsg[sizeof(g_szRTAssertMsg1)];
    size_t const cch = RTFmtBufferV(szMsg, sizeof(szMsg), format, args);
    keepAndWrite(g_szRTAssertMsg2, szMsg, cch);
    RTErrRestoreLastErrors(&saved);
}

void RTAssertMsg2(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    RTAssertMsg2V(format, args);
    va_end(args);
}
