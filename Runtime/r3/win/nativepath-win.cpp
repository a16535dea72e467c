// UTF-8 paths to Win32 and NT paths, and the NT open used by the directory functions.
#include "kelp/nativepath.h"
#include "kelp/err.h"
#include "kelp/mem.h"
#include "kelp/path.h"
#include "kelp/string.h"

#include "r3/nt/ntapi.h"

namespace {

inline bool isSep(char c) { return c == '\\' || c == '/'; }
inline bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool isPassThruPrefix(const char *p)
{
    return isSep(p[0]) && isSep(p[1]) && p[2] == ':' && p[3] == 'k' && p[4] == 'e' && p[5] == 'l'
        && p[6] == 'p' && p[7] == 'n' && p[8] == 't' && p[9] == ':' && isSep(p[10]);
}
enum : size_t { PASSTHRU_PREFIX_LEN = 10 };  // up to the separator after the second ':'

inline bool isLongPrefix(const char *p)
{
    return isSep(p[0]) && isSep(p[1]) && p[2] == '?' && isSep(p[3]);
}

inline bool isDevicePrefix(const char *p)
{
    return isSep(p[0]) && isSep(p[1]) && p[2] == '.' && isSep(p[3]);
}

// Windows NT 3.x spelled the DOS device directory out.
inline bool ntHasShortPrefix() { return rtNtPebOsMajorVersion() >= 4; }

int finishNtName(UNICODE_STRING *ntName, HANDLE *rootDir, const char *text)
{
    RTUTF16 *wide = nullptr;
    size_t units = 0;
    int rc = RTStrToUtf16Ex(text, RTSTR_MAX, &wide, 0, &units);
    if (RT_FAILURE(rc))
        return rc;
    if (units > RTPATH_NT_MAX)
    {
        RTUtf16Free(wide);
        return ERR_FILENAME_TOO_LONG;
    }
    ntName->Buffer = (PWSTR)wide;
    ntName->Length = (USHORT)(units * sizeof(RTUTF16));
    ntName->MaximumLength = (USHORT)(units * sizeof(RTUTF16) + sizeof(RTUTF16));
    *rootDir = nullptr;
    return 0;
}

// '\\?\...' goes to NT without normalisation: only its prefix changes.
int longPathToNt(UNICODE_STRING *ntName, HANDLE *rootDir, const char *path)
{
    RTUTF16 *wide = nullptr;
    size_t units = 0;
    int rc = RTStrToUtf16Ex(path, RTSTR_MAX, &wide, 0, &units);
    if (RT_FAILURE(rc))
        return rc;
    if (units >= 32767)
    {
        RTUtf16Free(wide);
        return ERR_FILENAME_TOO_LONG;
    }
    if (ntHasShortPrefix())
    {
        wide[0] = '\\';
        wide[1] = '?';
        wide[2] = '?';
        wide[3] = '\\';
    }
    else
    {
        static const char s_dosDevices[] = "\\DosDevices\\";
        size_t const extra = sizeof(s_dosDevices) - 1 - 4;
        if (units + extra > RTPATH_NT_MAX)
        {
            RTUtf16Free(wide);
            return ERR_FILENAME_TOO_LONG;
        }
        rc = RTUtf16Resize(&wide, (units + extra + 1) * sizeof(RTUTF16));
        if (RT_FAILURE(rc))
        {
            RTUtf16Free(wide);
            return ERR_FILENAME_TOO_LONG;
        }
        for (size_t i = units + 1; i-- > 4;)
            wide[i + extra] = wide[i];
        for (size_t i = 0; i < sizeof(s_dosDevices) - 1; i++)
            wide[i] = (RTUTF16)s_dosDevices[i];
        units += extra;
    }
    ntName->Buffer = (PWSTR)wide;
    ntName->Length = (USHORT)(units * sizeof(RTUTF16));
    ntName->MaximumLength = (USHORT)(units * sizeof(RTUTF16) + sizeof(RTUTF16));
    *rootDir = nullptr;
    return 0;
}

} // namespace

int RTPathToNtPath(UNICODE_STRING *ntName, HANDLE *rootDir, const char *path)
{
    ntName->Buffer = nullptr;
    ntName->Length = ntName->MaximumLength = 0;
    *rootDir = nullptr;

    if (isPassThruPrefix(path))
        return finishNtName(ntName, rootDir, path + PASSTHRU_PREFIX_LEN);
    if (isLongPrefix(path))
        return longPathToNt(ntName, rootDir, path);

    bool const shortPrefix = ntHasShortPrefix();
    const char *prefix = shortPrefix ? "\\??\\" : "\\DosDevices\\";
    size_t replaced = 0;
    if (isDevicePrefix(path))
        replaced = 4;
    else if (isSep(path[0]) && isSep(path[1]) && path[2] && !isSep(path[2]))
    {
        prefix = shortPrefix ? "\\??\\UNC\\" : "\\DosDevices\\UNC\\";
        replaced = 2;
    }
    size_t const prefixLen = RTStrLen(prefix);
    // The prefix replaces the first characters of the absolute form, or goes in front.
    size_t const lead = prefixLen - replaced;

    char stackBuf[RTPATH_MAX];
    char *buf = stackBuf;
    size_t cbBuf = sizeof(stackBuf);
    size_t cbAbs = cbBuf - lead;
    int rc = RTPathAbsEx(nullptr, path, PATH_STYLE_DOS, buf + lead, &cbAbs);
    for (unsigned attempt = 1; rc == ERR_BUFFER_OVERFLOW; attempt++)
    {
        if (buf != stackBuf)
            RTMemFree(buf);
        buf = nullptr;
        if (attempt > 8)
            return ERR_FILENAME_TOO_LONG;
        size_t cbNew = ((cbAbs + lead + 95) / 64) * 64;
        if (cbNew < cbBuf + 256)
            cbNew = cbBuf + 256;
        if (attempt == 8 && cbNew < 131072)
            cbNew = 131072;
        cbBuf = cbNew;
        buf = (char *)RTMemAlloc(cbBuf);
        if (!buf)
            return ERR_NO_TEMP_MEMORY;
        cbAbs = cbBuf - lead;
        rc = RTPathAbsEx(nullptr, path, PATH_STYLE_DOS, buf + lead, &cbAbs);
    }
    if (RT_SUCCESS(rc) && !replaced && isSep(buf[lead]) && isSep(buf[lead + 1]) && buf[lead + 2]
        && !isSep(buf[lead + 2]))
    {
        // A relative or rooted path under a current directory on a share ('\\srv\share\x'):
        // its absolute form, not the input, says which prefix applies. That form is
        // classified above and never comes back here.
        rc = RTPathToNtPath(ntName, rootDir, buf + lead);
    }
    else if (RT_SUCCESS(rc))
    {
        for (size_t i = 0; i < prefixLen; i++)
            buf[i] = prefix[i];
        rc = finishNtName(ntName, rootDir, buf);
    }
    if (buf != stackBuf)
        RTMemFree(buf);
    return rc;
}

void RTPathFreeNtPath(UNICODE_STRING *ntName, HANDLE rootDir)
{
    RT_NOREF(rootDir);
    if (ntName)
    {
        RTUtf16Free((RTUTF16 *)ntName->Buffer);
        ntName->Buffer = nullptr;
        ntName->Length = ntName->MaximumLength = 0;
    }
}

int RTPathToNativeWin32(RTUTF16 **result, const char *path)
{
    *result = nullptr;
    RTUTF16 *wide = nullptr;
    size_t units = 0;
    int rc = RTStrToUtf16Ex(path, RTSTR_MAX, &wide, 0, &units);
    if (RT_FAILURE(rc))
        return rc;

    if (units <= RTPATH_WIN32_PLAIN_MAX)
    {
        bool plain;
        if (isLetter(path[0]) && path[1] == ':')
        {
            if (isSep(path[2]))
                plain = true;
            else
            {
                // 'C:rel' depends on the drive's current directory, which the long form
                // cannot express; its full form is used when that is short enough.
                WCHAR full[261];
                DWORD const n = GetFullPathNameW((LPCWSTR)wide, RT_ELEMENTS(full), full, nullptr);
                plain = false;
                if (n > 0 && n <= RTPATH_WIN32_PLAIN_MAX)
                {
                    RTUTF16 *copy = RTUtf16Clone((const RTUTF16 *)full);
                    if (!copy)
                    {
                        RTUtf16Free(wide);
                        return ERR_NO_UTF16_MEMORY;
                    }
                    RTUtf16Free(wide);
                    wide = copy;
                    plain = true;
                }
            }
        }
        else if (isLongPrefix(path))
            plain = true;
        else if (isSep(path[0]) && isSep(path[1]) && path[2] && !isSep(path[2]))
            plain = units <= RTPATH_WIN32_PLAIN_MAX_UNC;
        else if (isSep(path[0]))
            plain = units <= RTPATH_WIN32_PLAIN_MAX_ROOT;
        else
            plain = GetCurrentDirectoryW(0, nullptr) + units <= RTPATH_WIN32_PLAIN_MAX_REL;
        if (plain)
        {
            *result = wide;
            return 0;
        }
    }
    RTUtf16Free(wide);

    UNICODE_STRING ntName;
    HANDLE rootDir;
    rc = RTPathToNtPath(&ntName, &rootDir, path);
    if (RT_FAILURE(rc))
        return rc;
    RTUTF16 *nt = (RTUTF16 *)ntName.Buffer;
    if (ntName.Length >= 4 * sizeof(RTUTF16) && nt[0] == '\\' && nt[1] == '?' && nt[2] == '?'
        && nt[3] == '\\')
    {
        nt[1] = '\\';
        *result = nt;
        return 0;
    }
    // An NT 3.x prefix or a native NT name: no Win32 spelling exists for it.
    RTPathFreeNtPath(&ntName, rootDir);
    return ERR_FILENAME_TOO_LONG;
}

void RTPathFreeNativeWin32(RTUTF16 *path)
{
    RTUtf16Free(path);
}

namespace {

NTSTATUS createFile(HANDLE rootDir, const UNICODE_STRING *ntName, ACCESS_MASK access,
                    ULONG shareAccess, ULONG createOptions, ULONG objAttrFlags, HANDLE *handle)
{
    OBJECT_ATTRIBUTES attrs = {};
    attrs.Length = sizeof(attrs);
    attrs.RootDirectory = rootDir;
    attrs.ObjectName = const_cast<UNICODE_STRING *>(ntName);
    attrs.Attributes = objAttrFlags;
    attrs.SecurityDescriptor = nullptr;
    attrs.SecurityQualityOfService = nullptr;
    IO_STATUS_BLOCK ios;
    ios.Status = 0;
    ios.Information = 0;
    HANDLE h = INVALID_HANDLE_VALUE;
    NTSTATUS const status = NtCreateFile(&h, access, &attrs, &ios, nullptr, FILE_ATTRIBUTE_NORMAL,
                                         shareAccess, FILE_OPEN, createOptions, nullptr, 0);
    if (NT_SUCCESS(status))
        *handle = h;
    return status;
}

ACCESS_MASK objDirAccess(ACCESS_MASK access)
{
    if ((access & STANDARD_RIGHTS_ALL) == STANDARD_RIGHTS_ALL || (access & GENERIC_ALL))
        return DIRECTORY_ALL_ACCESS;
    bool const wantsWrite = (access & (GENERIC_WRITE | READ_CONTROL | FILE_WRITE_DATA)) != 0;
    bool const wantsRead = (access & (GENERIC_READ | READ_CONTROL | FILE_READ_DATA)) != 0;
    ACCESS_MASK dirAccess = 0;
    if (wantsWrite)
        dirAccess |= DIRECTORY_CREATE_OBJECT | DIRECTORY_CREATE_SUBDIRECTORY;
    if (wantsRead || !wantsWrite)
        dirAccess |= DIRECTORY_QUERY;
    if (access & FILE_TRAVERSE)
        dirAccess |= DIRECTORY_TRAVERSE;
    return dirAccess;
}

} // namespace

int RTPathOpenNtEx(HANDLE rootDir, const UNICODE_STRING *ntName, ACCESS_MASK access,
                   ULONG shareAccess, ULONG createOptions, ULONG objAttrFlags, HANDLE *handle,
                   bool *isObjDir)
{
    *handle = INVALID_HANDLE_VALUE;
    NTSTATUS status = createFile(rootDir, ntName, access, shareAccess, createOptions,
                                 objAttrFlags, handle);
    size_t const cwc = ntName->Length / sizeof(RTUTF16);
    if (status == KELP_STATUS_INVALID_PARAMETER && ntName->Length < 65532
        && (cwc == 0 || ntName->Buffer[cwc - 1] != '\\'))
    {
        // '\??\C:' names the volume, not its root directory.
        RTUTF16 *copy = (RTUTF16 *)RTMemAlloc((cwc + 2) * sizeof(RTUTF16));
        if (!copy)
            return ERR_NO_TEMP_MEMORY;
        for (size_t i = 0; i < cwc; i++)
            copy[i] = ntName->Buffer[i];
        copy[cwc] = '\\';
        copy[cwc + 1] = 0;
        UNICODE_STRING withSlash;
        withSlash.Buffer = (PWSTR)copy;
        withSlash.Length = (USHORT)((cwc + 1) * sizeof(RTUTF16));
        withSlash.MaximumLength = (USHORT)((cwc + 2) * sizeof(RTUTF16));
        status = createFile(rootDir, &withSlash, access, shareAccess, createOptions, objAttrFlags,
                            handle);
        RTMemFree(copy);
    }
    if (NT_SUCCESS(status))
    {
        if (isObjDir)
            *isObjDir = false;
        return 0;
    }

    if (isObjDir && (status == STATUS_OBJECT_NAME_INVALID || status == STATUS_OBJECT_TYPE_MISMATCH))
    {
        UNICODE_STRING dirName = *ntName;
        if (cwc > 1 && dirName.Buffer[cwc - 1] == '\\')
            dirName.Length -= sizeof(RTUTF16);
        OBJECT_ATTRIBUTES attrs = {};
        attrs.Length = sizeof(attrs);
        attrs.RootDirectory = rootDir;
        attrs.ObjectName = &dirName;
        attrs.Attributes = objAttrFlags;
        attrs.SecurityDescriptor = nullptr;
        attrs.SecurityQualityOfService = nullptr;
        HANDLE h = INVALID_HANDLE_VALUE;
        NTSTATUS const dirStatus = NtOpenDirectoryObject(&h, objDirAccess(access), &attrs);
        if (NT_SUCCESS(dirStatus))
        {
            *handle = h;
            *isObjDir = true;
            return 0;
        }
    }
    return RTErrConvertFromNtStatus(status);
}

int RTPathOpenNt(const char *path, ACCESS_MASK access, ULONG shareAccess, ULONG createOptions,
                 ULONG objAttrFlags, HANDLE *handle, bool *isObjDir)
{
    *handle = INVALID_HANDLE_VALUE;
    UNICODE_STRING ntName;
    HANDLE rootDir;
    int rc = RTPathToNtPath(&ntName, &rootDir, path);
    if (RT_FAILURE(rc))
        return rc;
    if (isObjDir)
    {
        *isObjDir = false;
        if (!isPassThruPrefix(path))
            isObjDir = nullptr;
    }
    rc = RTPathOpenNtEx(rootDir, &ntName, access, shareAccess, createOptions, objAttrFlags,
                        handle, isObjDir);
    RTPathFreeNtPath(&ntName, rootDir);
    return rc;
}

int RTNtCloseHandle(HANDLE handle)
{
    NTSTATUS const status = NtClose(handle);
    return NT_SUCCESS(status) ? 0 : RTErrConvertFromNtStatus(status);
}
