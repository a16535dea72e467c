// Built like the product (own entry point, no run-time library): prints what the start-up
// code handed to main, and traces the static initialisers, exit callbacks and terminators.
//
// Output on standard output: "argc=N", then one "LEN:TEXT" line per argument (TEXT may
// hold line feeds; LEN says how many bytes it has), then "main" lines, then the exit trace.
// ARGVPRINT_FAIL=<n> makes a status-returning static initialiser return n.
#include "kelp/init.h"
#include "kelp/string.h"

#include <windows.h>

namespace {

bool g_xcRan;
bool g_ctorRan;

void Out(const char *text, size_t len)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)len, &written, nullptr);
}

void Out(const char *text)
{
    Out(text, RTStrLen(text));
}

void OutNumber(uint32_t value)
{
    char buf[12];
    char *p = buf + sizeof(buf);
    *--p = '\0';
    do
        *--p = (char)('0' + value % 10);
    while (value /= 10);
    Out(p);
}

void ExitCallbackEarly(void) { Out("exit callback registered first\n"); }
void ExitCallbackLate(void) { Out("exit callback registered last\n"); }
void PreTerminator(void) { Out("pre-terminator\n"); }
void Terminator(void) { Out("terminator\n"); }

int RegisterEarlyCallback(void)
{
    return RTProcAtExit(ExitCallbackEarly);
}

int MaybeFail(void)
{
    WCHAR value[16];
    DWORD const len = GetEnvironmentVariableW(L"ARGVPRINT_FAIL", value, 16);
    if (len == 0 || len >= 16)
        return 0;
    int n = 0;
    for (DWORD i = 0; i < len; i++)
        n = n * 10 + (value[i] - L'0');
    return n;
}

int LateInit(void)
{
    Out("late status initialiser\n");
    return 0;
}

void VoidInit(void)
{
    g_xcRan = true;
}

struct GlobalObject
{
    GlobalObject() { g_ctorRan = true; }
    ~GlobalObject() { Out("static destructor\n"); }
};
GlobalObject g_object;

} // namespace

RT_STATIC_INIT_RC(RegisterEarlyCallback, AA);
RT_STATIC_INIT_RC(MaybeFail, MM);
RT_STATIC_INIT_RC(LateInit, ZZ);
RT_STATIC_INIT(VoidInit, MM);
RT_STATIC_PRETERM(PreTerminator, MM);
RT_STATIC_TERM(Terminator, MM);

int main(int argc, char **argv, char **envp)
{
    // What the entry point recorded, before RTR3Init measures the path again.
    uint32_t const entryNameOffset = ProcessInfo.fileNameOffset;
    uint32_t const entryDirLength = ProcessInfo.dirLength;
    uint32_t const entryPathLength = ProcessInfo.pathLength;

    int const rcInit = RTR3Init(argc, &argv, RTR3INIT_FLAG_SYSTEM32_ONLY);
    char **otherVector = argv + 1;
    int const rcAgain = RTR3Init(argc, &argv, RTR3INIT_FLAG_SYSTEM32_ONLY);
    int const rcOther = argc ? RTR3Init(argc, &otherVector, RTR3INIT_FLAG_SYSTEM32_ONLY) : -22;

    Out("argc=");
    OutNumber((uint32_t)argc);
    Out("\n");
    for (int i = 0; i < argc; i++)
    {
        size_t const len = RTStrLen(argv[i]);
        OutNumber((uint32_t)len);
        Out(":");
        Out(argv[i], len);
        Out("\n");
    }
    Out(argv[argc] == nullptr ? "main: vector ends with null\n" : "main: vector not terminated\n");
    Out(envp == nullptr ? "main: no environment\n" : "main: environment given\n");
    Out(g_xcRan ? "main: void initialiser ran\n" : "main: void initialiser missing\n");
    Out(g_ctorRan ? "main: constructor ran\n" : "main: constructor missing\n");

    Out("entry: program ");
    Out(ProcessInfo.execPath + entryNameOffset);
    Out("\nentry: directory length ");
    OutNumber(entryDirLength);
    Out("\nentry: path length ");
    OutNumber(entryPathLength);
    Out("\nmain: program ");
    Out(ProcessInfo.execPath + ProcessInfo.fileNameOffset);
    Out("\nmain: directory length ");
    OutNumber(ProcessInfo.dirLength);
    Out("\nmain: path length ");
    OutNumber(ProcessInfo.pathLength);
    Out("\n");

    Out(rcInit == 0 ? "main: RTR3Init succeeded\n" : "main: RTR3Init failed\n");
    Out(rcAgain == 0 ? "main: repeated RTR3Init succeeded\n" : "main: repeated RTR3Init failed\n");
    Out(rcOther == -22 ? "main: RTR3Init with another vector refused\n" : "main: RTR3Init with another vector accepted\n");

    RTProcAtExit(ExitCallbackLate);
    return 42;
}
