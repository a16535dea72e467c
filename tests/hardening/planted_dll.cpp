// Stands in for a library wherever a planted copy could be found before the system's own.
// Whoever loads it gets a marker file: "<directory name>-<file name>.loaded" in the
// directory named by PLOM_PLANTED_MARKERS, or "<its own path>.loaded" without it. The
// marker holds the path of the program that loaded it.
#include <windows.h>

namespace {

const DWORD PathChars = 2048;

bool Append(wchar_t *to, DWORD &used, const wchar_t *what, DWORD count)
{
    if (used + count + 1 > PathChars)
        return false;
    for (DWORD i = 0; i < count; i++)
        to[used++] = what[i];
    to[used] = 0;
    return true;
}

void LeaveMarker(HINSTANCE self)
{
    wchar_t own[PathChars];
    DWORD const ownLength = GetModuleFileNameW(self, own, PathChars);
    if (ownLength == 0 || ownLength >= PathChars)
        return;

    wchar_t marker[PathChars];
    DWORD used = GetEnvironmentVariableW(L"PLOM_PLANTED_MARKERS", marker, PathChars);
    if (used >= PathChars)
        return;
    if (used == 0)
    {
        if (!Append(marker, used, own, ownLength))
            return;
    }
    else
    {
        DWORD name = ownLength;
        while (name > 0 && own[name - 1] != L'\\' && own[name - 1] != L'/')
            name--;
        DWORD dir = name > 0 ? name - 1 : 0;
        while (dir > 0 && own[dir - 1] != L'\\' && own[dir - 1] != L'/')
            dir--;
        if (!Append(marker, used, L"\\", 1) || !Append(marker, used, own + dir, name - 1 - dir)
            || !Append(marker, used, L"-", 1) || !Append(marker, used, own + name, ownLength - name))
            return;
    }
    if (!Append(marker, used, L".loaded", 7))
        return;

    HANDLE file = CreateFileW(marker, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    wchar_t loader[PathChars];
    DWORD const loaderLength = GetModuleFileNameW(nullptr, loader, PathChars);
    DWORD written = 0;
    if (loaderLength < PathChars)
        WriteFile(file, loader, loaderLength * sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
}

} // namespace

extern "C" BOOL WINAPI PlantedDllEntry(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        LeaveMarker(self);
    return TRUE;
}
