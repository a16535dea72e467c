// A program built like the installer that binds a library which is not there, or a
// function a library does not have, through the installer's lazy binding.
//   lazy_fatal module   - first call into a library missing from the system directory
//   lazy_fatal symbol   - first call of a function that KERNEL32.DLL does not export
//   lazy_fatal ok       - a call that binds fine
#include <windows.h>

#include <kelp/init.h>
#include <kelp/string.h>

#include "PlomStubLazy.h"

extern "C" __declspec(dllimport) int WINAPI PlomLazyMissingLibraryFunction(int value);
extern "C" __declspec(dllimport) int WINAPI PlomLazyMissingSymbol(int value);

namespace
{
LazyLibrary LazyMissing = { "NOSUCHLIB.DLL", nullptr };
LazyLibrary LazyKernel32 = { "KERNEL32.DLL", nullptr };
}

LAZY_FUNCTION(LazyMissing, int, PlomLazyMissingLibraryFunction, 4, (int a), (a))
LAZY_FUNCTION(LazyKernel32, int, PlomLazyMissingSymbol, 4, (int a), (a))

extern "C" int main(int argc, char **argv, char **envp)
{
    if (RTR3Init(argc, &argv, 4) < 0 || argc != 2)
        return 2;
    if (RTStrCmp(argv[1], "module") == 0)
        return PlomLazyMissingLibraryFunction(1);
    if (RTStrCmp(argv[1], "symbol") == 0)
        return PlomLazyMissingSymbol(1);
    if (RTStrCmp(argv[1], "ok") == 0)
        return GetDesktopWindow() != nullptr ? 0 : 1;
    return 2;
}
