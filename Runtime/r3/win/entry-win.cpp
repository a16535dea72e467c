// Process entry point of freestanding programs: what runs between Windows entering the
// executable and main, and the termination after main returns.
#include "kelp/err.h"
#include "kelp/getopt.h"
#include "kelp/init.h"
#include "kelp/string.h"

#include <windows.h>
#include <winternl.h>

extern "C" int main(int argc, char **argv, char **envp);

// Table bounds from the linker script (the same symbol names on both architectures).
extern "C" PFNRTSTATICINITRC g_rtEntryXiStart[] __asm__("___crt_xi_start__");
extern "C" PFNRTSTATICINITRC g_rtEntryXiEnd[] __asm__("___crt_xi_end__");
extern "C" PFNRTSTATICFN g_rtEntryXcStart[] __asm__("___crt_xc_start__");
extern "C" PFNRTSTATICFN g_rtEntryXcEnd[] __asm__("___crt_xc_end__");
// A null entry in each table keeps the linker's .CRT section, and with it the bounds
// above, in a program without initialisers of its own (the loops skip null entries).
__attribute__((section(".CRT$XIA"), used)) PFNRTSTATICINITRC g_rtEntryXiNone = nullptr;
__attribute__((section(".CRT$XCA"), used)) PFNRTSTATICFN g_rtEntryXcNone = nullptr;
// The compiler's constructor list: a -1 marker, the constructors, a null terminator.
extern "C" PFNRTSTATICFN g_rtEntryCtorList[] __asm__("___CTOR_LIST__");
extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" {
// Read by code built with -fstack-protector.
uintptr_t __stack_chk_guard = (uintptr_t)0x2F8A5C16E1B3D947ull;
}

namespace {

void rtEntryWrite(const char *text)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, (DWORD)RTStrLen(text), &written, nullptr);
}

// Digits of `value` in `base` (10 or 16), written backwards from `end`.
char *rtEntryFormatU32(char *end, uint32_t value, uint32_t base)
{
    *--end = '\0';
    do
    {
        uint32_t const digit = value % base;
        *--end = (char)(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value /= base;
    } while (value);
    return end;
}

void rtEntryWriteStatus(int rc)
{
    char buf[16];
    char *p = rtEntryFormatU32(buf + sizeof(buf), rc < 0 ? 0u - (uint32_t)rc : (uint32_t)rc, 10);
    if (rc < 0)
        *--p = '-';
    rtEntryWrite(p);
}

// "v (0xhex)"
void rtEntryWriteValue(uint32_t value)
{
    char buf[16];
    rtEntryWrite(rtEntryFormatU32(buf + sizeof(buf), value, 10));
    rtEntryWrite(" (0x");
    rtEntryWrite(rtEntryFormatU32(buf + sizeof(buf), value, 16));
    rtEntryWrite(")");
}

// NT 3.1 and 3.10 do not clear the part of a section beyond its raw data.
void rtEntryZeroUninitializedData(void)
{
    DWORD const version = GetVersion();
    if ((version & 0xFF) != 3 || ((version >> 8) & 0xFF) >= 50)
        return;

    typedef LONG (NTAPI *PFNNTPROTECT)(HANDLE, PVOID *, SIZE_T *, ULONG, PULONG);
    PFNNTPROTECT const pfnProtect =
        (PFNNTPROTECT)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtProtectVirtualMemory");
    uint8_t *const base = (uint8_t *)&__ImageBase;
    IMAGE_NT_HEADERS *const nt = (IMAGE_NT_HEADERS *)(base + __ImageBase.e_lfanew);
    IMAGE_SECTION_HEADER *sections = IMAGE_FIRST_SECTION(nt);
    for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; i++)
    {
        IMAGE_SECTION_HEADER const &s = sections[i];
        if (s.Misc.VirtualSize <= s.SizeOfRawData)
            continue;
        uint8_t *const start = base + s.VirtualAddress + s.SizeOfRawData;
        SIZE_T const size = s.Misc.VirtualSize - s.SizeOfRawData;
        bool const writable = (s.Characteristics & IMAGE_SCN_MEM_WRITE) != 0;
        ULONG oldProtect = 0;
        if (!writable)
        {
            PVOID addr = start;
            SIZE_T len = size;
            ULONG const prot = (s.Characteristics & IMAGE_SCN_MEM_EXECUTE) ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE;
            if (!pfnProtect || pfnProtect(GetCurrentProcess(), &addr, &len, prot, &oldProtect) < 0)
                __builtin_trap();
        }
        for (SIZE_T j = 0; j < size; j++)
            ((volatile uint8_t *)start)[j] = 0;
        if (!writable)
        {
            PVOID addr = start;
            SIZE_T len = size;
            ULONG ignored;
            if (pfnProtect(GetCurrentProcess(), &addr, &len, oldProtect, &ignored) < 0)
                __builtin_trap();
        }
    }
}

void rtEntrySeedStackGuard(void)
{
    __stack_chk_guard ^= (uintptr_t)__builtin_ia32_rdtsc();
}

void rtEntryInitProcExecPath(void)
{
    static WCHAR s_path[RTPATH_MAX];
    DWORD const len = GetModuleFileNameW(nullptr, s_path, RTPATH_MAX);
    if (len == 0)
    {
        rtEntryWrite("initProcExecPath: GetModuleFileNameW failed: ");
        rtEntryWriteValue(GetLastError());
        rtEntryWrite("\r\n");
        return;
    }
    char *dst = ProcessInfo.execPath;
    size_t bytes = 0;
    int rc = RTUtf16ToUtf8Ex((const RTUTF16 *)s_path, len, &dst, RTPATH_MAX, &bytes);
    if (RT_FAILURE(rc))
    {
        rtEntryWrite("initProcExecPath: RTUtf16ToUtf8Ex failed: ");
        rtEntryWriteStatus(rc);
        rtEntryWrite("\r\n");
        return;
    }
    ProcessInfo.pathLength = (uint32_t)bytes;

    const char *const path = ProcessInfo.execPath;
    uint32_t offset = (uint32_t)bytes;
    while (offset > 0 && path[offset - 1] != '\\' && path[offset - 1] != '/' && path[offset - 1] != ':')
        offset--;
    ProcessInfo.fileNameOffset = offset;
    // Drop the separators before the file name, but not the one right after a drive colon.
    uint32_t dir = offset;
    while (dir >= 2 && (path[dir - 1] == '\\' || path[dir - 1] == '/') && path[dir - 2] != ':')
        dir--;
    ProcessInfo.dirLength = dir;
}

PEB *rtEntryPeb(void)
{
    PEB *peb;
#ifdef __x86_64__
    __asm__("movq %%gs:0x60, %0" : "=r"(peb));
#else
    __asm__("movl %%fs:0x30, %0" : "=r"(peb));
#endif
    return peb;
}

[[noreturn]] void rtEntryFail(const char *text, int rc)
{
    rtEntryWrite(text);
    rtEntryWriteStatus(rc);
    rtEntryWrite("\r\n");
    RTProcTerminate(3, true);
}

} // namespace

// GCC calls __main at the top of main to run the constructors; the entry point has run
// them already.
extern "C" void __main(void)
{
}

// Static destructors register themselves through atexit.
extern "C" int atexit(void (*callback)(void))
{
    return RTProcAtExit(callback) == 0 ? 0 : -1;
}

extern "C" void __stack_chk_fail(void)
{
    rtEntryWrite("stack overflow detected\r\n");
    __builtin_trap();
}

extern "C" __attribute__((force_align_arg_pointer)) void __stdcall Entry(void)
{
    rtEntryZeroUninitializedData();
    rtEntrySeedStackGuard();
    rtEntryInitProcExecPath();

    for (PFNRTSTATICINITRC *p = g_rtEntryXiStart; p < g_rtEntryXiEnd; p++)
        if (*p)
        {
            int const rc = (*p)();
            if (rc != 0)
            {
                rtEntryWrite("A C static initializor failed (");
                rtEntryWriteValue((uint32_t)rc);
                rtEntryWrite("\r\n");
                RTProcTerminate(rc, false);
            }
        }
    for (PFNRTSTATICFN *p = g_rtEntryXcStart; p < g_rtEntryXcEnd; p++)
        if (*p)
            (*p)();
    // The compiler's constructors run from the end of the list, as its own start-up code does.
    size_t count = 0;
    while (g_rtEntryCtorList[count + 1])
        count++;
    for (size_t i = count; i >= 1; i--)
        g_rtEntryCtorList[i]();

    PEB *const peb = rtEntryPeb();
    RTL_USER_PROCESS_PARAMETERS *const params = peb ? peb->ProcessParameters : nullptr;
    if (!params)
    {
        rtEntryWrite("No command line\r\n");
        RTProcTerminate(3, true);
    }

    static char s_emptyCmdLine[1];
    char *cmdLine = s_emptyCmdLine;
    UNICODE_STRING const &cl = params->CommandLine;
    if (cl.Length && cl.Buffer)
    {
        cmdLine = nullptr;
        int rc = RTUtf16ToUtf8Ex((const RTUTF16 *)cl.Buffer, cl.Length / sizeof(WCHAR), &cmdLine, 0, nullptr);
        if (RT_FAILURE(rc))
            rtEntryFail("Failed to convert command line to UTF-8: ", rc);
    }

    char **argv = nullptr;
    int argc = 0;
    int rc = RTGetOptArgvSplit(&argv, &argc, cmdLine, ARGV_IN_PLACE | ARGV_STYLE_MS_CRT, nullptr);
    if (RT_FAILURE(rc))
        rtEntryFail("Error parsing command line: ", rc);

    RTProcTerminate(main(argc, argv, nullptr), true);
}
