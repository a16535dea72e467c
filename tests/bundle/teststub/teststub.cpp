// A stand-in stub for the bundle builder's tests: no run-time library, only the kinds of
// resources the product carries, and an entry point that ends the process with 0, so a
// bundle made from it can also be started to prove that Windows loads it as a program.
#include <windows.h>

#ifdef TESTSTUB_WITH_RELOCATIONS
// An absolute address in data gives the image a base relocation section, which the
// linker puts after the resources.
void *volatile selfPointer = (void *)&selfPointer;
#endif

extern "C" void WINAPI TestStubEntry(void)
{
    ExitProcess(0);
}
