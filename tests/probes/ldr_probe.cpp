// Asks the loader for DLLs that exist beside this program and in its current directory,
// one of them under a system DLL's name, and reports what was loaded.
#include "kelp/init.h"
#include "kelp/ldr.h"
#include "kelp/system.h"

#include "probe_out.h"

namespace {

bool markerSet()
{
    WCHAR value[16];
    return GetEnvironmentVariableW(L"PLOM_FAKE_DLL_MARKER", value, 16) != 0;
}

bool inDir(const WCHAR *dir, UINT cwcDir, const WCHAR *file, DWORD cwcFile)
{
    if (!cwcDir || cwcDir >= MAX_PATH || cwcFile <= cwcDir || (file[cwcDir] != '\\' && file[cwcDir] != '/'))
        return false;
    return CompareStringOrdinal(dir, (int)cwcDir, file, (int)cwcDir, TRUE) == CSTR_EQUAL;
}

// A 32-bit program on 64-bit Windows may see its system DLLs under either directory.
bool inSystemDir(RTLDRMOD mod)
{
    WCHAR sysDir[MAX_PATH], wowDir[MAX_PATH], file[MAX_PATH];
    UINT const cwcSys = GetSystemDirectoryW(sysDir, MAX_PATH);
    UINT const cwcWow = GetSystemWow64DirectoryW(wowDir, MAX_PATH);
    DWORD const cwcFile = GetModuleFileNameW((HMODULE)RTLdrGetNativeHandle(mod), file, MAX_PATH);
    return inDir(sysDir, cwcSys, file, cwcFile) || inDir(wowDir, cwcWow, file, cwcFile);
}

} // namespace

extern "C" int main(int, char **, char **)
{
    // Loading before the runtime has configured the Windows loader is a programming error.
    WCHAR mode[16];
    if (GetEnvironmentVariableW(L"PLOM_LDR_PROBE", mode, 16) == 5 && mode[0] == 'e')
    {
        RTLDRMOD early = nullptr;
        RTLdrLoadSystem("msi", 0, &early);
        ProbePrint("survived\n");
        return 9;
    }
    // After the start-up, a crash goes through the runtime's exception filter.
    if (GetEnvironmentVariableW(L"PLOM_LDR_PROBE", mode, 16) == 5 && mode[0] == 'c')
    {
        RTR3Init(0, nullptr, RTR3INIT_FLAG_SYSTEM32_ONLY);
        __asm__ __volatile__("int3");
        ProbePrint("survived\n");
        return 9;
    }

    int rc = RTR3Init(0, nullptr, RTR3INIT_FLAG_SYSTEM32_ONLY);
    ProbePrint("init %d\n", rc);

    RTLDRMOD mod = nullptr;
    rc = RTLdrLoadSystem("plomfake.dll", RTLDRLOAD_NO_UNLOAD, &mod);
    ProbePrint("app-only %d\n", rc);
    rc = RTLdrLoadSystem("plomfake", RTLDRLOAD_NO_UNLOAD, &mod);
    ProbePrint("app-only-nosuffix %d\n", rc);

    rc = RTLdrLoadSystem("msimg32", RTLDRLOAD_NO_UNLOAD, &mod);
    ProbePrint("planted %d %d\n", rc, rc == 0 && inSystemDir(mod));
    RTLdrClose(mod);
    ProbePrint("marker %d\n", markerSet());

    // The start-up hardening restricts even plain loads by name to the system directory.
    HMODULE const plain = LoadLibraryW(L"plomfake.dll");
    ProbePrint("plain %d %d\n", plain != nullptr, markerSet());

    // The fake DLL does leave its marker when it really gets loaded.
    char path[MAX_PATH * 3];
    WCHAR wpath[MAX_PATH];
    DWORD cwc = GetModuleFileNameW(nullptr, wpath, MAX_PATH);
    while (cwc && wpath[cwc - 1] != '\\')
        cwc--;
    wpath[cwc] = 0;
    int const cb = WideCharToMultiByte(CP_UTF8, 0, wpath, -1, path, sizeof(path), nullptr, nullptr);
    RTFmtBuffer(path + (cb > 0 ? cb - 1 : 0), sizeof(path) - (cb > 0 ? cb - 1 : 0), "plomfake.dll");
    rc = RTLdrLoad(path, &mod, 0, nullptr);
    ProbePrint("control %d %d\n", rc, markerSet());
    RTLdrClose(mod);
    return 0;
}
