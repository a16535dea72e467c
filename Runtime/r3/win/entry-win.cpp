// Process entry point for freestanding programs (provisional: calls main with no arguments).
#include <windows.h>

extern "C" int main(int argc, char **argv, char **envp);

extern "C" void __stdcall Entry(void)
{
    static char *argv[] = { nullptr };
    ExitProcess((UINT)main(0, argv, nullptr));
}
