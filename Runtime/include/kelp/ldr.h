// Native module loader: DLLs named without a path come from the Windows system directory
// and from nowhere else. Also the diagnostic output of the runtime's fatal paths.
#pragma once

#include "kelp/types.h"

// Load flags.
enum : uint32_t
{
    RTLDRLOAD_GLOBAL        = 0x1,  // not available on Windows: refused
    RTLDRLOAD_NO_UNLOAD     = 0x2,  // closing the handle never unloads the DLL
    RTLDRLOAD_SAFE_SEARCH   = 0x4,  // dependents only from system, application and DLL dirs
    RTLDRLOAD_NO_SUFFIX     = 0x8,  // do not append ".DLL" to a name without a suffix
    RTLDRLOAD_VALID_MASK    = 0xF,
};

enum : uint32_t
{
    RTLDRMOD_MAGIC      = 0x19531118,
    RTLDRMOD_MAGIC_DEAD = RTLDRMOD_MAGIC + 1,
};

enum : uint32_t
{
    RTLDRMODSTATE_CLOSED = 0,
    RTLDRMODSTATE_LOADED = 3,
};

// Optional error details filled by RTLdrLoad on failure; the caller owns the buffer.
struct RTERRINFO
{
    uint32_t flags;     // RTERRINFO_F_SET once a message was stored
    int32_t  rc;
    size_t   cbMsg;
    char    *msg;
};
enum : uint32_t { RTERRINFO_F_SET = 0x4 };

struct RTLDRMODINTERNAL;

// Operations of one kind of module (only the native kind exists here).
struct RTLDROPS
{
    const char *name;
    int (*close)(RTLDRMODINTERNAL *mod);
    int (*getSymbol)(RTLDRMODINTERNAL *mod, const char *symbol, void **value);
    int (*done)(RTLDRMODINTERNAL *mod);
    int (*enumSymbols)(RTLDRMODINTERNAL *mod, uint32_t flags, void *callback, void *user);
    void *unused[8];        // further operations: absent for native modules
    uint32_t endMarker;     // RTLDROPS_END_MARKER
};
enum : uint32_t { RTLDROPS_END_MARKER = 42 };

struct RTLDRMODINTERNAL
{
    uint32_t        magic;
    uint32_t        state;
    const RTLDROPS *ops;
    void           *reader;     // always null for native modules
    uint32_t        words[4];   // descriptive: format, type, endianness, architecture
    uintptr_t       hNative;    // the HMODULE; all ones when none
    uint32_t        loadFlags;
};
typedef RTLDRMODINTERNAL *RTLDRMOD;

#define NIL_RTLDRMOD_NATIVE (~(uintptr_t)0)

int RTLdrLoad(const char *path, RTLDRMOD *mod, uint32_t flags, RTERRINFO *errInfo);
int RTLdrLoadSystem(const char *name, uint32_t flags, RTLDRMOD *mod);
int RTLdrLoadSystemEx(const char *name, bool noUnload, RTLDRMOD *mod);
int RTLdrGetSymbol(RTLDRMOD mod, const char *symbol, void **value);
// The address of an export of a system DLL (which stays loaded), or null.
void *RTLdrGetSystemSymbol(const char *dll, const char *symbol);
uintptr_t RTLdrGetNativeHandle(RTLDRMOD mod);
int RTLdrClose(RTLDRMOD mod);

// Diagnostic output of fatal paths: written to the standard error handle when there is one
// and kept in the buffers below for post-mortem inspection. Last-error values survive.
void RTAssertMsg1(const char *expr, unsigned line, const char *file, const char *function);
void RTAssertMsg2(const char *format, ...);
void RTAssertMsg2V(const char *format, va_list args);
extern char g_szRTAssertMsg1[4096];
extern char g_szRTAssertMsg2[4096];
