// Environment variables of the process.
#include "kelp/env.h"
#include "kelp/err.h"
#include "kelp/mem.h"
#include "kelp/string.h"

#include "r3/nt/ntapi.h"

namespace {

enum : DWORD
{
    ENV_STACK_UNITS = 512,
    ENV_MAX_UNITS   = 32767,
};

} // namespace

int RTEnvQueryValue(RTENV env, const char *name, char *buffer, size_t size, size_t *length)
{
    if (!RTIsValidPtr(name))
        return ERR_INVALID_POINTER;
    if ((buffer && !RTIsValidPtr(buffer)) || (length && !RTIsValidPtr(length)))
        return ERR_INVALID_POINTER;
    if ((!buffer && size) || (!(buffer && size) && !length))
        return ERR_BAD_ARGUMENT;
    for (const char *p = name; *p; p++)
        if (*p == '=')
            return ERR_ENV_BAD_NAME;
    if (length)
        *length = 0;
    // Only the process environment exists in this program.
    if (env != RTENV_DEFAULT)
        return ERR_NOT_SUPPORTED;

    RTUTF16 *wideName;
    int rc = RTStrToUtf16(name, &wideName);
    if (RT_FAILURE(rc))
        return rc;

    WCHAR stackBuf[ENV_STACK_UNITS];
    WCHAR *value = stackBuf;
    DWORD capacity = ENV_STACK_UNITS;
    SetLastError(0);
    DWORD n = GetEnvironmentVariableW((LPCWSTR)wideName, value, capacity);
    DWORD err = GetLastError();
    // A value that does not fit reports the size it needs, terminator included; it may
    // change between the calls, so ask until it fits.
    for (DWORD retries = 0; n >= capacity; retries++)
    {
        if (n > ENV_MAX_UNITS)
        {
            rc = ERR_INTERNAL_3;
            break;
        }
        DWORD newCapacity = n + retries;
        if (newCapacity < capacity + ENV_STACK_UNITS)
            newCapacity = capacity + ENV_STACK_UNITS;
        if (value != stackBuf)
            RTMemFree(value);
        value = (WCHAR *)RTMemAlloc(newCapacity * sizeof(WCHAR));
        if (!value)
        {
            rc = ERR_NO_TEMP_MEMORY;
            break;
        }
        capacity = newCapacity;
        SetLastError(0);
        n = GetEnvironmentVariableW((LPCWSTR)wideName, value, capacity);
        err = GetLastError();
    }

    if (RT_SUCCESS(rc))
    {
        bool exists = n > 0 || err == 0;
        if (n == 0 && exists && rtNtPebOsMajorVersion() < 4)
        {
            // NT 3.x may leave the last error alone for a missing variable.
            SetLastError(0);
            exists = GetEnvironmentVariableW((LPCWSTR)wideName, nullptr, 0) != 0
                  || GetLastError() == 0;
            err = GetLastError();
        }
        if (!exists)
            rc = RTErrConvertFromWinError(err);
        else
        {
            if (n == 0)
                value[0] = 0;
            size_t bytes = 0;
            if (size)
            {
                char *out = buffer;
                rc = RTUtf16ToUtf8Ex((const RTUTF16 *)value, n, &out, size, &bytes);
                if (RT_FAILURE(rc))
                    buffer[0] = '\0';
            }
            else
                rc = RTUtf16MeasureUtf8((const RTUTF16 *)value, n, &bytes);
            if (length)
                *length = bytes;
        }
    }

    if (value != stackBuf)
        RTMemFree(value);
    RTUtf16Free(wideName);
    return rc;
}
