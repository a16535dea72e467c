// Module handles and the argument rules of the loader; the Windows half does the loading.
#include "kelp/ldr.h"
#include "kelp/err.h"
#include "kelp/format.h"
#include "kelp/mem.h"
#include "kelp/path.h"
#include "kelp/string.h"

#include "ldr-internal.h"

namespace {

bool isLiveModule(RTLDRMOD mod)
{
    return RTIsValidPtr(mod) && mod->magic == RTLDRMOD_MAGIC;
}

} // namespace

void rtErrInfoClear(RTERRINFO *errInfo)
{
    if (!RTIsValidPtr(errInfo))
        return;
    errInfo->flags &= ~RTERRINFO_F_SET;
    errInfo->rc = 0;
    if (errInfo->cbMsg && RTIsValidPtr(errInfo->msg))
        errInfo->msg[0] = '\0';
}

int rtErrInfoSet(RTERRINFO *errInfo, int rc, const char *format, ...)
{
    if (!RTIsValidPtr(errInfo))
        return rc;
    errInfo->rc = rc;
    errInfo->flags |= RTERRINFO_F_SET;
    if (errInfo->cbMsg && RTIsValidPtr(errInfo->msg))
    {
        va_list args;
        va_start(args, format);
        RTFmtBufferV(errInfo->msg, errInfo->cbMsg, format, args);
        va_end(args);
    }
    return rc;
}

int RTLdrLoad(const char *path, RTLDRMOD *mod, uint32_t flags, RTERRINFO *errInfo)
{
    rtErrInfoClear(errInfo);
    if (!RTIsValidPtr(path) || !RTIsValidPtr(mod))
        return ERR_INVALID_POINTER;
    *mod = nullptr;
    if (flags > RTLDRLOAD_VALID_MASK)
        return ERR_BAD_ARGUMENT;

    RTLDRMODINTERNAL *rec = (RTLDRMODINTERNAL *)RTMemAllocZ(sizeof(*rec));
    if (!rec)
        return rtErrInfoSet(errInfo, ERR_NO_MEMORY,
                            "Failed to allocate %zu bytes for the module handle", sizeof(*rec));
    rec->magic = RTLDRMOD_MAGIC;
    rec->state = RTLDRMODSTATE_LOADED;
    rec->ops = &g_rtldrNativeOps;
    rec->reader = nullptr;
    rec->words[0] = 1;  // native image
    rec->words[1] = 2;  // shared library
    rec->words[2] = 1;  // little endian
    rec->words[3] = sizeof(void *) == 8 ? 2 : 1;  // amd64 / x86
    rec->hNative = NIL_RTLDRMOD_NATIVE;
    rec->loadFlags = flags;

    int rc = rtldrNativeLoad(path, &rec->hNative, flags, errInfo);
    if (RT_FAILURE(rc))
    {
        rec->magic = RTLDRMOD_MAGIC_DEAD;
        RTMemFree(rec);
        return rc;
    }
    *mod = rec;
    return 0;
}

int RTLdrLoadSystem(const char *name, uint32_t flags, RTLDRMOD *mod)
{
    if (!RTIsValidPtr(mod))
        return ERR_BAD_ARGUMENT;
    *mod = nullptr;
    if (!RTIsValidPtr(name) || RTPathHasDirPart(name))
        return ERR_BAD_ARGUMENT;
    if (flags & 0xFF0)
        return ERR_INVALID_FLAGS;
    if (RTStrNLen(name, 3075) >= 3075)
        return ERR_BAD_ARGUMENT;
    const char *suffix = RTPathHasExtension(name) ? "" : ".DLL";
    return rtldrNativeLoadSystem(name, suffix, flags, mod);
}

int RTLdrLoadSystemEx(const char *name, bool noUnload, RTLDRMOD *mod)
{
    return RTLdrLoadSystem(name, noUnload ? (uint32_t)RTLDRLOAD_NO_UNLOAD : 0u, mod);
}

int RTLdrGetSymbol(RTLDRMOD mod, const char *symbol, void **value)
{
    if (!isLiveModule(mod))
        return ERR_INVALID_HANDLE;
    if (!symbol)
        return ERR_BAD_ARGUMENT;
    if (!RTIsValidPtr(value))
        return ERR_INVALID_POINTER;
    return mod->ops->getSymbol(mod, symbol, value);
}

void *RTLdrGetSystemSymbol(const char *dll, const char *symbol)
{
    RTLDRMOD mod;
    if (RT_FAILURE(RTLdrLoadSystem(dll, RTLDRLOAD_NO_UNLOAD, &mod)))
        return nullptr;
    void *value = nullptr;
    if (RT_FAILURE(RTLdrGetSymbol(mod, symbol, &value)))
        value = nullptr;
    RTLdrClose(mod);
    return value;
}

uintptr_t RTLdrGetNativeHandle(RTLDRMOD mod)
{
    if (!isLiveModule(mod) || mod->ops != &g_rtldrNativeOps)
        return NIL_RTLDRMOD_NATIVE;
    return mod->hNative;
}

int RTLdrClose(RTLDRMOD mod)
{
    if (!mod)
        return 0;
    if (!isLiveModule(mod))
        return ERR_INVALID_HANDLE;
    mod->ops->close(mod);
    mod->magic++;
    mod->state = RTLDRMODSTATE_CLOSED;
    RTMemFree(mod);
    return 0;
}
