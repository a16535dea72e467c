// The linker's delay-import helper for the program's one delay-loaded library (the common
// controls). The first call through a delay-import thunk lands here: the library is loaded
// from the system directory only, like every other library the installer binds, and the
// thunk's slot gets the real address.
#include <windows.h>
#include <delayimp.h>

#include <kelp/ldr.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace
{

[[noreturn]] void DelayLoadFatal(void)
{
    // Without a debugger the breakpoint is an unhandled exception that ends the process.
    for (;;)
        __asm__ __volatile__("int3");
}

template <typename T>
T *FromRva(RVA rva)
{
    return (T *)((uint8_t *)&__ImageBase + rva);
}

} // namespace

extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC *slot)
{
    // The linker writes relative addresses only; the old absolute form is never produced.
    if (!(descriptor->grAttrs & dlattrRva))
    {
        RTAssertMsg2("Delay-import descriptor without relative addresses\n");
        DelayLoadFatal();
    }
    const char *dllName = FromRva<const char>(descriptor->rvaDLLName);
    HMODULE *moduleSlot = FromRva<HMODULE>(descriptor->rvaHmod);

    HMODULE module = __atomic_load_n(moduleSlot, __ATOMIC_ACQUIRE);
    if (!module)
    {
        RTLDRMOD ldrMod = nullptr;
        int rc = RTLdrLoadSystemEx(dllName, true /*noUnload*/, &ldrMod);
        if (rc < 0)
        {
            RTAssertMsg2("Delay loader failed to load \"%s\": %Rrc\n", dllName, rc);
            DelayLoadFatal();
        }
        module = (HMODULE)RTLdrGetNativeHandle(ldrMod);
        __atomic_store_n(moduleSlot, module, __ATOMIC_RELEASE);
    }

    // The slot's place in the address table is the entry's place in the name table.
    FARPROC *table = FromRva<FARPROC>(descriptor->rvaIAT);
    IMAGE_THUNK_DATA *names = FromRva<IMAGE_THUNK_DATA>(descriptor->rvaINT);
    IMAGE_THUNK_DATA const *name = &names[slot - table];
    LPCSTR symbol;
    if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal))
        symbol = (LPCSTR)(uintptr_t)IMAGE_ORDINAL(name->u1.Ordinal);
    else
        symbol = (LPCSTR)FromRva<IMAGE_IMPORT_BY_NAME>((RVA)name->u1.AddressOfData)->Name;

    FARPROC address = GetProcAddress(module, symbol);
    if (!address)
    {
        if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal))
            RTAssertMsg2("Delay loader failed to resolve ordinal %u in \"%s\"\n",
                         (unsigned)IMAGE_ORDINAL(name->u1.Ordinal), dllName);
        else
            RTAssertMsg2("Delay loader failed to resolve symbol \"%s\" in \"%s\"\n", symbol, dllName);
        DelayLoadFatal();
    }
    __atomic_store_n(slot, address, __ATOMIC_RELEASE);
    return address;
}
