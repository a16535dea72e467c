// Paths that ask Windows: current directory and drive, changing directory, moving, the
// executable's directory and the temporary directory.
#include "kelp/path.h"
#include "kelp/env.h"
#include "kelp/err.h"
#include "kelp/file.h"
#include "kelp/init.h"
#include "kelp/mem.h"
#include "kelp/nativepath.h"
#include "kelp/string.h"

#include <windows.h>

namespace {

enum : size_t { CWD_TEMP_SIZE = 64 * 1024 };

inline bool isSep(RTUTF16 c) { return c == '\\' || c == '/'; }

int lastErrorStatus()
{
    return RTErrConvertFromWinError(GetLastError());
}

// Full form of 'in' (the current directory, or 'X:' for a drive's) as UTF-8 in the buffer.
int fullPathToUtf8(const WCHAR *in, char *buffer, size_t size)
{
    WCHAR full[RTPATH_MAX];
    DWORD n = GetFullPathNameW(in, RT_ELEMENTS(full), full, nullptr);
    if (!n)
        return lastErrorStatus();
    if (n >= RT_ELEMENTS(full))
        return ERR_FILENAME_TOO_LONG;
    // Wine answers 'X:' with a separator after the directory, Windows without one.
    if (n > 3 && isSep(full[n - 1]) && full[n - 2] != ':')
        full[--n] = 0;
    if (full[0] >= 'a' && full[0] <= 'z' && full[1] == ':')
        full[0] = (WCHAR)(full[0] - 'a' + 'A');
    char *out = buffer;
    int rc = RTUtf16ToUtf8Ex((const RTUTF16 *)full, RTSTR_MAX, &out, size, nullptr);
    if (RT_FAILURE(rc))
        buffer[0] = '\0';
    return rc;
}

} // namespace

int RTPathCurrentDir(char *buffer, size_t size)
{
    if (!size)
        return ERR_BUFFER_OVERFLOW;
    WCHAR cwd[RTPATH_MAX];
    DWORD const n = GetCurrentDirectoryW(RT_ELEMENTS(cwd), cwd);
    if (!n)
        return lastErrorStatus();
    if (n >= RT_ELEMENTS(cwd))
        return ERR_FILENAME_TOO_LONG;
    return fullPathToUtf8(cwd, buffer, size);
}

int RTPathCurrentDirOnDrive(char driveLetter, char *buffer, size_t size)
{
    if (!((driveLetter >= 'A' && driveLetter <= 'Z') || (driveLetter >= 'a' && driveLetter <= 'z')))
        return ERR_BAD_ARGUMENT;
    if (!size)
        return ERR_BUFFER_OVERFLOW;
    WCHAR const drive[3] = { (WCHAR)driveLetter, ':', 0 };
    return fullPathToUtf8(drive, buffer, size);
}

int RTPathGetCurrentDrive(char *buffer, size_t size)
{
    if (!size)
        return ERR_BUFFER_OVERFLOW;
    char *cwd = buffer;
    char *temp = nullptr;
    int rc = RTPathCurrentDir(buffer, size);
    if (rc == ERR_BUFFER_OVERFLOW)
    {
        temp = (char *)RTMemAlloc(CWD_TEMP_SIZE);
        if (!temp)
            return ERR_NO_TEMP_MEMORY;
        cwd = temp;
        rc = RTPathCurrentDir(temp, CWD_TEMP_SIZE);
    }
    if (RT_SUCCESS(rc))
    {
        size_t cut = 0;
        if (((cwd[0] >= 'A' && cwd[0] <= 'Z') || (cwd[0] >= 'a' && cwd[0] <= 'z')) && cwd[1] == ':')
            cut = 2;
        else if (isSep(cwd[0]) && isSep(cwd[1]) && cwd[2] && !isSep(cwd[2]))
        {
            size_t i = 2;
            while (cwd[i] && !isSep(cwd[i]))
                i++;
            if (isSep(cwd[i]) && cwd[i + 1] && !isSep(cwd[i + 1]))
            {
                i++;
                while (cwd[i] && !isSep(cwd[i]))
                    i++;
            }
            cut = i;
        }
        if (!cut)
            rc = ERR_INTERNAL_4;
        else
        {
            cwd[cut] = '\0';
            if (temp)
                rc = RTStrCopyTo(buffer, size, temp);
        }
    }
    if (RT_FAILURE(rc))
        buffer[0] = '\0';
    RTMemFree(temp);
    return rc;
}

int RTPathChangeDir(const char *path)
{
    if (!RTIsValidPtr(path))
        return ERR_INVALID_POINTER;
    if (!*path)
        return ERR_BAD_ARGUMENT;
    RTUTF16 *wide;
    int rc = RTPathToNativeWin32(&wide, path);
    if (RT_FAILURE(rc))
        return rc;
    size_t const len = RTUtf16Length(wide);
    if (len > 1 && isSep(wide[len - 1]) && wide[len - 2] != ':')
        wide[len - 1] = 0;
    if (!SetCurrentDirectoryW((LPCWSTR)wide))
        rc = lastErrorStatus();
    RTPathFreeNativeWin32(wide);
    return rc;
}

int RTPathMove(const char *source, const char *target, uint32_t moveFlags, uint32_t expectedType)
{
    RTUTF16 *wideSource;
    int rc = RTPathToNativeWin32(&wideSource, source);
    if (RT_FAILURE(rc))
        return rc;
    RTUTF16 *wideTarget;
    rc = RTPathToNativeWin32(&wideTarget, target);
    if (RT_FAILURE(rc))
    {
        RTPathFreeNativeWin32(wideSource);
        return rc;
    }
    if (expectedType)
    {
        DWORD const attrs = GetFileAttributesW((LPCWSTR)wideSource);
        if (attrs == INVALID_FILE_ATTRIBUTES)
            rc = lastErrorStatus();
        else if (expectedType == MODE_TYPE_DIRECTORY)
        {
            if (!(attrs & FILE_ATTRIBUTE_DIRECTORY))
                rc = ERR_NOT_A_DIRECTORY;
        }
        else if (attrs & FILE_ATTRIBUTE_DIRECTORY)
            rc = ERR_IS_A_DIRECTORY;
    }
    if (RT_SUCCESS(rc) && !MoveFileExW((LPCWSTR)wideSource, (LPCWSTR)wideTarget, moveFlags))
        rc = lastErrorStatus();
    RTPathFreeNativeWin32(wideTarget);
    RTPathFreeNativeWin32(wideSource);
    return rc;
}

int RTPathOfExecutableDir(char *buffer, size_t size)
{
    if (!ProcessInfo.pathLength || !ProcessInfo.execPath[0])
        return ERR_BAD_SEQUENCE;
    size_t const dirLength = ProcessInfo.dirLength;
    if (dirLength >= size || dirLength >= sizeof(ProcessInfo.execPath))
        return ERR_BUFFER_OVERFLOW;
    for (size_t i = 0; i < dirLength; i++)
        buffer[i] = ProcessInfo.execPath[i];
    buffer[dirLength] = '\0';
    return 0;
}

int RTPathTempDir(char *buffer, size_t size)
{
    static const char *const s_names[] = { "KELP_TMPDIR", "TMP", "TEMP", "USERPROFILE" };
    for (const char *name : s_names)
    {
        int rc = RTEnvQueryValue(RTENV_DEFAULT, name, buffer, size, nullptr);
        if (rc != ERR_ENV_VAR_NOT_FOUND)
            return rc;
    }
    if (size < 5)
    {
        if (size)
            buffer[0] = '\0';
        return ERR_BUFFER_OVERFLOW;
    }
    return RTStrCopyTo(buffer, size, "/tmp");
}
