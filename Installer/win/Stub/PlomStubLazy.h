// Lazy binding of system libraries. Each bound function gets
//   - a slot under the import-pointer name that the Windows headers' declarations call
//     through (__imp_Name, or __imp__Name@N for stdcall on i686), so callers simply use
//     the documented prototypes;
//   - a resolving stub with the function's own prototype and calling convention, which is
//     what the slot holds until the first call: it loads the library from the system
//     directory, stores the real address into the slot and passes the call on;
//   - a forwarding entry under the function's own name that jumps through the slot, for
//     callers that take the function's address.
// The compiler generates the stub per prototype, so the argument registers and stack of
// both builds' calling conventions reach the real function unchanged.
#pragma once

#include <kelp/ldr.h>

struct LazyLibrary
{
    const char      *name;      // as handed to the loader, ".DLL" included
    RTLDRMOD         module;    // null until loaded; never unloaded
};

// Returns the library's module, loading it on first use; never returns on failure.
RTLDRMOD LazyGetModule(LazyLibrary *library);
// Stores the address of symbol into *slot; never returns on failure.
void LazyResolveSymbol(LazyLibrary *library, const char *symbol, void **slot);

#ifdef _WIN64
# define LAZY_IMP_NAME(name, argBytes)  "__imp_" #name
# define LAZY_SYM_NAME(name, argBytes)  #name
# define LAZY_JUMP(impName)             "jmp *" impName "(%rip)"
#else
# define LAZY_IMP_NAME(name, argBytes)  "__imp__" #name "@" #argBytes
# define LAZY_SYM_NAME(name, argBytes)  "_" #name "@" #argBytes
# define LAZY_JUMP(impName)             "jmp *" impName
#endif

// argBytes: the stdcall argument size on i686 (the "@N" of the decorated name); a wrong
// value shows at link time as an unresolved import pointer.
#define LAZY_FUNCTION(library, ret, name, argBytes, params, args) \
    static ret WINAPI lazyResolve_##name params; \
    extern "C" { extern decltype(&::name) lazySlot_##name __asm__(LAZY_IMP_NAME(name, argBytes)); } \
    decltype(&::name) lazySlot_##name = lazyResolve_##name; \
    static ret WINAPI lazyResolve_##name params \
    { \
        LazyResolveSymbol(&library, #name, (void **)&lazySlot_##name); \
        return lazySlot_##name args; \
    } \
    __asm__(".section .text$lazy_" #name ",\"xr\"\n\t" \
            ".globl \"" LAZY_SYM_NAME(name, argBytes) "\"\n" \
            "\"" LAZY_SYM_NAME(name, argBytes) "\":\n\t" \
            LAZY_JUMP("\"" LAZY_IMP_NAME(name, argBytes) "\"") "\n\t" \
            ".text");
