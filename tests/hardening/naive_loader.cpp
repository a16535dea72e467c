// Loads each library named on its command line the way a program without any search-order
// hardening would: by plain name, through the default search. It shows that the DLLs a
// test plants are found where the test put them; the exit code counts the failed loads.
#include <windows.h>

extern "C" int main(int argc, char **argv, char **)
{
    int failed = 0;
    for (int i = 1; i < argc; i++)
        if (!LoadLibraryA(argv[i]))
            failed++;
    return failed;
}
