// UTF-8 to the system's ANSI code page, for text that leaves through a standard stream.
#include "kelp/err.h"
#include "kelp/mem.h"
#include "kelp/string.h"

#include <windows.h>

// A failing call that left no last error must still report a failure.
static int rtAnsiLastError()
{
    int const rc = RTErrConvertFromWinError(GetLastError());
    return rc < 0 ? rc : ERR_NO_TRANSLATION;
}

int RTStrToAnsiCodePage(char **result, const char *str, const char *tag)
{
    *result = nullptr;
    if (!*str)
        return RTStrCloneNEx(result, str, 0, tag);

    if (GetACP() == CP_UTF8)
    {
        int rc = RTStrCheckEncoding(str, RTSTR_MAX, 0);
        if (rc != 0)
            return rc;
        return RTStrCloneNEx(result, str, RTSTR_MAX, tag);
    }

    RTUTF16 *wide = nullptr;
    int rc = RTStrToUtf16Ex(str, RTSTR_MAX, &wide, 0, nullptr, tag);
    if (rc != 0)
        return rc;

    // Characters the code page lacks become its default character, silently.
    int const size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
    {
        rc = rtAnsiLastError();
        RTUtf16Free(wide);
        return rc;
    }
    char *out = (char *)RTMemAllocTag((size_t)size, tag);
    if (!out)
    {
        RTUtf16Free(wide);
        return ERR_NO_TEMP_MEMORY;
    }
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, out, size, nullptr, nullptr) > 0)
    {
        RTUtf16Free(wide);
        *result = out;
        return 0;
    }
    rc = rtAnsiLastError();
    RTMemFree(out);
    RTUtf16Free(wide);
    return rc;
}
