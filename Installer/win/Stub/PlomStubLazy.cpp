// The system libraries that the installer binds on first use instead of importing them.
#include <winsock2.h>
#include <windows.h>
#include <msi.h>
#include <wincrypt.h>
#include <shellapi.h>

#include "PlomStubLazy.h"

#include <kelp/err.h>
#include <kelp/ldr.h>

namespace
{

[[noreturn]] void LazyFatal(void)
{
    // Without a debugger the breakpoint is an unhandled exception that ends the process.
    for (;;)
        __asm__ __volatile__("int3");
}

} // namespace

RTLDRMOD LazyGetModule(LazyLibrary *library)
{
    RTLDRMOD module = __atomic_load_n(&library->module, __ATOMIC_ACQUIRE);
    if (module)
        return module;
    int rc = RTLdrLoadSystemEx(library->name, true /*noUnload*/, &module);
    if (rc < 0)
    {
        RTAssertMsg2("Lazy loader failed to load \"%s\": %Rrc\n", library->name, rc);
        LazyFatal();
    }
    // A thread that loses a race only loses its own handle; the library stays loaded.
    __atomic_store_n(&library->module, module, __ATOMIC_RELEASE);
    return module;
}

void LazyResolveSymbol(LazyLibrary *library, const char *symbol, void **slot)
{
    RTLDRMOD module = LazyGetModule(library);
    void *address = nullptr;
    int rc = RTLdrGetSymbol(module, symbol, &address);
    if (rc < 0)
    {
        RTAssertMsg2("Lazy loader failed to resolve symbol \"%s\" in \"%s\": %Rrc\n", symbol, library->name, rc);
        LazyFatal();
    }
    __atomic_store_n(slot, address, __ATOMIC_RELEASE);
}

namespace
{
LazyLibrary LazyMsi      = { "MSI.DLL", nullptr };
LazyLibrary LazyCrypt32  = { "CRYPT32.DLL", nullptr };
LazyLibrary LazyWs2_32   = { "WS2_32.DLL", nullptr };
LazyLibrary LazyUser32   = { "USER32.DLL", nullptr };
LazyLibrary LazyShell32  = { "SHELL32.DLL", nullptr };
} // namespace

LAZY_FUNCTION(LazyMsi, UINT, MsiInstallProductW, 8, (LPCWSTR a, LPCWSTR b), (a, b))
LAZY_FUNCTION(LazyMsi, UINT, MsiEnableLogW, 12, (DWORD a, LPCWSTR b, DWORD c), (a, b, c))
LAZY_FUNCTION(LazyMsi, INSTALLUILEVEL, MsiSetInternalUI, 8, (INSTALLUILEVEL a, HWND *b), (a, b))

LAZY_FUNCTION(LazyCrypt32, PCCERT_CONTEXT, CertCreateCertificateContext, 12,
              (DWORD a, const BYTE *b, DWORD c), (a, b, c))
LAZY_FUNCTION(LazyCrypt32, HCERTSTORE, CertOpenStore, 20,
              (LPCSTR a, DWORD b, HCRYPTPROV_LEGACY c, DWORD d, const void *e), (a, b, c, d, e))
LAZY_FUNCTION(LazyCrypt32, BOOL, CertFreeCertificateContext, 4, (PCCERT_CONTEXT a), (a))
LAZY_FUNCTION(LazyCrypt32, BOOL, CertAddCertificateContextToStore, 16,
              (HCERTSTORE a, PCCERT_CONTEXT b, DWORD c, PCCERT_CONTEXT *d), (a, b, c, d))
LAZY_FUNCTION(LazyCrypt32, BOOL, CertCloseStore, 8, (HCERTSTORE a, DWORD b), (a, b))

LAZY_FUNCTION(LazyWs2_32, void, WSASetLastError, 4, (int a), (a))
LAZY_FUNCTION(LazyWs2_32, int, WSAGetLastError, 0, (void), ())

LAZY_FUNCTION(LazyUser32, int, MessageBoxW, 16, (HWND a, LPCWSTR b, LPCWSTR c, UINT d), (a, b, c, d))
LAZY_FUNCTION(LazyUser32, int, MessageBoxA, 16, (HWND a, LPCSTR b, LPCSTR c, UINT d), (a, b, c, d))
LAZY_FUNCTION(LazyUser32, HWND, GetDesktopWindow, 0, (void), ())

LAZY_FUNCTION(LazyShell32, LPWSTR *, CommandLineToArgvW, 8, (LPCWSTR a, int *b), (a, b))
LAZY_FUNCTION(LazyShell32, int, SHFileOperationW, 4, (LPSHFILEOPSTRUCTW a), (a))
