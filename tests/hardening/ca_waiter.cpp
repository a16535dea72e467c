// Run by a test package's custom action: tells the test that the installation has reached
// it and waits until the test has done what it wanted to do meanwhile. Arguments: the name
// of the event to set, then the name of the event to wait for.
#include <windows.h>

namespace {

const int NameChars = 256;

bool ToWide(const char *text, wchar_t *out)
{
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out, NameChars) > 0;
}

} // namespace

extern "C" int main(int argc, char **argv, char **)
{
    wchar_t readyName[NameChars], goName[NameChars];
    if (argc != 3 || !ToWide(argv[1], readyName) || !ToWide(argv[2], goName))
        return 2;
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, readyName);
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, goName);
    if (!ready || !go)
        return 3;
    SetEvent(ready);
    // A test that never answers must not keep the installation alive for ever.
    DWORD const waited = WaitForSingleObject(go, 10 * 60 * 1000);
    CloseHandle(ready);
    CloseHandle(go);
    return waited == WAIT_OBJECT_0 ? 0 : 4;
}
