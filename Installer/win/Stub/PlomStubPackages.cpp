// The packages travel inside the executable as RCDATA resources; these are the lookups.
#include "PlomStub.h"
#include "PlomStubResources.h"

#include <windows.h>

#include <kelp/err.h>
#include <kelp/format.h>
#include <kelp/string.h>

namespace
{

int LockRcData(const char *name, const void **data, uint32_t *size)
{
    RTUTF16 *nameW = nullptr;
    int rc = RTStrToUtf16(name, &nameW);
    if (rc < 0)
        return rc;
    HRSRC resource = FindResourceExW(NULL, (LPCWSTR)RT_RCDATA, (LPCWSTR)nameW, 0);
    RTUtf16Free(nameW);
    if (!resource)
        return ERR_GENERAL_FAILURE;
    DWORD const cb = SizeofResource(NULL, resource);
    if (cb == 0)
        return ERR_NO_DATA;
    if (size)
        *size = cb;
    HGLOBAL loaded = LoadResource(NULL, resource);
    if (!loaded)
        return ERR_GENERAL_FAILURE;
    *data = LockResource(loaded);
    if (!*data)
        return ERR_GENERAL_FAILURE;
    return 0;
}

} // namespace

int FindRcDataResource(const char *name, const void **data, uint32_t *size)
{
    if (!name)
        return ERR_BAD_ARGUMENT;
    return LockRcData(name, data, size);
}

const StubPackageHeader *GetPackageHeader(uint32_t index)
{
    char name[32];
    RTFmtBuffer(name, sizeof(name), "HDR_%02d", index);
    const void *data = nullptr;
    int rc = LockRcData(name, &data, nullptr);
    if (rc < 0)
    {
        ShowError("Internal error: Could not find package header #%u: %Rrc", index, rc);
        return nullptr;
    }
    return (const StubPackageHeader *)data;
}

bool IsWow64(void)
{
#ifdef _WIN64
    // A 64-bit build only runs on 64-bit Windows.
    return true;
#else
    typedef BOOL (WINAPI *PFNISWOW64PROCESS)(HANDLE, PBOOL);
    BOOL answer = TRUE;
    PFNISWOW64PROCESS pfnIsWow64Process =
        (PFNISWOW64PROCESS)(void *)GetProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process");
    if (!pfnIsWow64Process)
        return true;
    if (!pfnIsWow64Process(GetCurrentProcess(), &answer))
        return false;
    return answer != FALSE;
#endif
}

bool PackageApplies(uint32_t arch)
{
    return arch == PKG_ARCH_ANY
        || (arch == PKG_ARCH_AMD64 && IsWow64())
        || (arch == PKG_ARCH_X86 && !IsWow64());
}
