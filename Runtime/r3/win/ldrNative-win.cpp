// Loading DLLs with LoadLibraryExW, and the system-directory-only load.
#include "kelp/ldr.h"
#include "kelp/file.h"
#include "kelp/err.h"
#include "kelp/mem.h"
#include "kelp/path.h"
#include "kelp/string.h"

#include "common/ldr/ldr-internal.h"
#include "r3/win/internal-win.h"

#include <winternl.h>

namespace {

typedef NTSTATUS (NTAPI *PFNRTLDOSAPPLYFILEISOLATIONREDIRECTION_USTR)(
    ULONG flags, PUNICODE_STRING originalName, PUNICODE_STRING extension,
    PUNICODE_STRING staticString, PUNICODE_STRING dynamicString, PUNICODE_STRING *newName,
    PULONG newFlags, PSIZE_T fileNameSize, PSIZE_T requiredLength);
typedef VOID (NTAPI *PFNRTLFREEUNICODESTRING)(PUNICODE_STRING string);

bool g_fRedirectionLookedUp;
PFNRTLDOSAPPLYFILEISOLATIONREDIRECTION_USTR g_pfnRtlDosApplyFileIsolationRedirection_Ustr;

// 0 untested, 1 the LOAD_LIBRARY_SEARCH flags work, -1 this Windows refuses them.
int g_iSafeSearch;

const DWORD kSafeSearchFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
                             | LOAD_LIBRARY_SEARCH_APPLICATION_DIR
                             | LOAD_LIBRARY_SEARCH_SYSTEM32;

[[noreturn]] void notConfigured(const char *function, const char *signature, unsigned line,
                                const char *format, const char *name)
{
    RTAssertMsg1("g_hModKernel32", line, "Runtime/r3/win/ldrNative-win", signature);
    RTAssertMsg2(format, name);
    for (;;)
        __asm__ __volatile__("int3");
}

int nativeClose(RTLDRMODINTERNAL *mod)
{
    int rc = 0;
    if (!(mod->loadFlags & RTLDRLOAD_NO_UNLOAD) && mod->hNative != NIL_RTLDRMOD_NATIVE)
        if (!FreeLibrary((HMODULE)mod->hNative))
            rc = RTErrConvertFromWinError(GetLastError());
    mod->hNative = NIL_RTLDRMOD_NATIVE;
    return rc;
}

int nativeGetSymbol(RTLDRMODINTERNAL *mod, const char *symbol, void **value)
{
    FARPROC pfn = GetProcAddress((HMODULE)mod->hNative, symbol);
    if (pfn)
    {
        *value = (void *)pfn;
        return 0;
    }
    *value = nullptr;
    return RTErrConvertFromWinError(GetLastError());
}

int nativeDone(RTLDRMODINTERNAL *)
{
    return 0;
}

int nativeEnumSymbols(RTLDRMODINTERNAL *, uint32_t, void *, void *)
{
    return ERR_NOT_SUPPORTED;
}

bool isSep(WCHAR wc)
{
    return wc == '\\' || wc == '/';
}

WCHAR asciiLower(WCHAR wc)
{
    return wc >= 'A' && wc <= 'Z' ? (WCHAR)(wc + ('a' - 'A')) : wc;
}

// Where the side-by-side store sends this name, when it sends it under the same drive and
// first directory as the system directory.
bool tryRedirection(const char *name, const WCHAR *sysDir, char *path, size_t cbPath)
{
    if (!g_pfnRtlDosApplyFileIsolationRedirection_Ustr)
        return false;

    RTUTF16 wszName[260];
    RTUTF16 *pwszName = wszName;
    size_t cwcName = 0;
    if (RT_FAILURE(RTStrToUtf16Ex(name, RTSTR_MAX, &pwszName, RT_ELEMENTS(wszName), &cwcName)))
        return false;

    static WCHAR s_wszDefaultExt[] = L".dll";
    static WCHAR s_wszStatic[259];
    UNICODE_STRING original = { (USHORT)(cwcName * sizeof(WCHAR)), (USHORT)(cwcName * sizeof(WCHAR)),
                                (PWSTR)wszName };
    UNICODE_STRING extension = { sizeof(s_wszDefaultExt) - sizeof(WCHAR), sizeof(s_wszDefaultExt),
                                 s_wszDefaultExt };
    UNICODE_STRING staticString = { 0, sizeof(s_wszStatic), s_wszStatic };
    UNICODE_STRING dynamicString = { 0, 0, nullptr };
    PUNICODE_STRING result = nullptr;

    bool used = false;
    NTSTATUS status = g_pfnRtlDosApplyFileIsolationRedirection_Ustr(
        1, &original, &extension, &staticString, &dynamicString, &result, nullptr, nullptr,
        nullptr);
    if (status >= 0 && result && result->Buffer)
    {
        size_t const cwc = result->Length / sizeof(WCHAR);
        if (rtldrCountMatchingSeparators(result->Buffer, cwc, sysDir) >= 2)
        {
            char *pszPath = path;
            used = RT_SUCCESS(RTUtf16ToUtf8Ex((const RTUTF16 *)result->Buffer, cwc, &pszPath,
                                              cbPath, nullptr));
        }
    }
    if (dynamicString.Buffer)
    {
        PFNRTLFREEUNICODESTRING pfnFree = (PFNRTLFREEUNICODESTRING)(void *)
            GetProcAddress(g_hModNtDll, "RtlFreeUnicodeString");
        if (pfnFree)
            pfnFree(&dynamicString);
    }
    return used;
}

} // namespace

// How many separator positions of the redirected path also lie in the system directory,
// walking both from the start; a separator at the very first character is not counted.
unsigned rtldrCountMatchingSeparators(const WCHAR *redirected, size_t length, const WCHAR *sysDir)
{
    unsigned matched = 0;
    size_t i = 0, j = 0;
    while (i < length)
    {
        WCHAR const wc1 = redirected[i];
        WCHAR const wc2 = sysDir[j];
        if (isSep(wc1))
        {
            if (!isSep(wc2))
                break;
            if (i != 0)
                matched++;
            while (i < length && isSep(redirected[i]))
                i++;
            while (isSep(sysDir[j]))
                j++;
            continue;
        }
        if (wc1 != wc2 && !(wc1 < 0x7F && wc2 < 0x7F && asciiLower(wc1) == asciiLower(wc2)))
            break;
        i++;
        j++;
    }
    return matched;
}

const RTLDROPS g_rtldrNativeOps = {
    "native",
    nativeClose,
    nativeGetSymbol,
    nativeDone,
    nativeEnumSymbols,
    {},
    RTLDROPS_END_MARKER,
};

int rtldrNativeLoad(const char *path, uintptr_t *hNative, uint32_t flags, RTERRINFO *errInfo)
{
    if (flags & RTLDRLOAD_GLOBAL)
        return ERR_INVALID_FLAGS;
    // The release logger would hear of this; the program has none.
    if (!RTPathStartsWithRoot(path))
        return ERR_INTERNAL_2;
    if (!g_hModKernel32)
        notConfigured("rtldrNativeLoad",
                      "int __cdecl rtldrNativeLoad(const char *,unsigned int *,unsigned int,struct RTERRINFO *)",
                      __LINE__,
                      "rtldrNativeLoad(%s,,) is called before KELP has configured the windows loader!\n",
                      path);

    RTUTF16 *wszPath = nullptr;
    int rc;
    if ((flags & RTLDRLOAD_NO_SUFFIX) || RTPathHasExtension(path))
        rc = RTStrToUtf16(path, &wszPath);
    else
    {
        size_t cwc = 0;
        rc = RTStrMeasureUtf16(path, RTSTR_MAX, &cwc);
        if (RT_SUCCESS(rc))
        {
            wszPath = (RTUTF16 *)RTMemAlloc((cwc + 5) * sizeof(RTUTF16));
            if (!wszPath)
                rc = ERR_NO_UTF16_MEMORY;
            else
            {
                RTUTF16 *pwsz = wszPath;
                rc = RTStrToUtf16Ex(path, RTSTR_MAX, &pwsz, cwc + 5, nullptr);
                if (RT_SUCCESS(rc))
                {
                    static const char s_szSuffix[] = ".DLL";
                    for (size_t i = 0; i < sizeof(s_szSuffix); i++)
                        wszPath[cwc + i] = (RTUTF16)s_szSuffix[i];
                }
            }
        }
    }
    if (RT_FAILURE(rc))
    {
        RTMemFree(wszPath);
        return rtErrInfoSet(errInfo, rc, "Error converting UTF-8 to UTF-16 string.");
    }
    for (RTUTF16 *pwc = wszPath; *pwc; pwc++)
        if (*pwc == '/')
            *pwc = '\\';

    HMODULE hMod;
    if ((flags & RTLDRLOAD_SAFE_SEARCH) && g_iSafeSearch >= 0)
    {
        hMod = LoadLibraryExW((LPCWSTR)wszPath, nullptr, kSafeSearchFlags);
        if (g_iSafeSearch == 0)
        {
            if (!hMod && GetLastError() == ERROR_INVALID_PARAMETER)
            {
                g_iSafeSearch = -1;
                hMod = LoadLibraryExW((LPCWSTR)wszPath, nullptr, 0);
            }
            else
                g_iSafeSearch = 1;
        }
    }
    else
        hMod = LoadLibraryExW((LPCWSTR)wszPath, nullptr, 0);

    if (hMod)
    {
        *hNative = (uintptr_t)hMod;
        RTMemFree(wszPath);
        return 0;
    }
    DWORD const dwErr = GetLastError();
    RTMemFree(wszPath);
    return rtErrInfoSet(errInfo, RTErrConvertFromWinError(dwErr), "GetLastError=%u", (unsigned)dwErr);
}

int rtldrNativeLoadSystem(const char *name, const char *suffix, uint32_t flags, RTLDRMOD *mod)
{
    if (!g_hModKernel32)
        notConfigured("rtldrNativeLoadSystem",
                      "int __cdecl rtldrNativeLoadSystem(const char *,const char *,unsigned int,struct RTLDRMODINTERNAL **)",
                      __LINE__,
                      "rtldrNativeLoadSystem(%s,,) is called before KELP has configured the windows loader!\n",
                      name);

    if (!g_fRedirectionLookedUp)
    {
        g_pfnRtlDosApplyFileIsolationRedirection_Ustr = (PFNRTLDOSAPPLYFILEISOLATIONREDIRECTION_USTR)(void *)
            GetProcAddress(g_hModNtDll, "RtlDosApplyFileIsolationRedirection_Ustr");
        g_fRedirectionLookedUp = true;
    }

    WCHAR wszSysDir[MAX_PATH];
    UINT const cwcSysDir = GetSystemDirectoryW(wszSysDir, MAX_PATH);
    if (cwcSysDir >= MAX_PATH)
        return ERR_FILENAME_TOO_LONG;
    if (cwcSysDir == 0)
        return RTErrConvertFromWinError(GetLastError());

    char szPath[RTPATH_MAX];
    if (!tryRedirection(name, wszSysDir, szPath, sizeof(szPath)))
    {
        char *pszPath = szPath;
        int rc = RTUtf16ToUtf8Ex((const RTUTF16 *)wszSysDir, RTSTR_MAX, &pszPath, sizeof(szPath), nullptr);
        if (RT_SUCCESS(rc))
            rc = RTPathAddComponent(szPath, sizeof(szPath), name);
        if (RT_SUCCESS(rc))
            rc = RTStrAppendTo(szPath, sizeof(szPath), suffix);
        if (RT_FAILURE(rc))
            return rc;
    }

    if (!RTFileExists(szPath))
        return ERR_MODULE_NOT_FOUND;
    return RTLdrLoad(szPath, mod, flags, nullptr);
}
