// Stands in for a system DLL in the places a hijacker would put it; loading it leaves a
// marker in the process environment.
#include <windows.h>

extern "C" __declspec(dllexport) int PlomFakeProbe(void)
{
    return 42;
}

extern "C" BOOL WINAPI FakeDllEntry(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        SetEnvironmentVariableW(L"PLOM_FAKE_DLL_MARKER", L"loaded");
    return TRUE;
}
