// Where a name template's run of 'X' lies.
#include "kelp/dir.h"
#include "kelp/err.h"
#include "kelp/path.h"

int RTPathTemplateFindRun(const char *templ, size_t *pStart, size_t *pcch)
{
    size_t end = 0;
    while (templ[end])
        end++;
    if (!end)
        return ERR_BAD_ARGUMENT;

    size_t runEnd;
    if (templ[end - 1] == 'X')
        runEnd = end;
    else
    {
        const char *component = RTPathFinalComponent(templ);
        if (!component)
            return ERR_BAD_ARGUMENT;
        size_t const compStart = (size_t)(component - templ);
        if (end - compStart <= 3)
            return ERR_BAD_ARGUMENT;
        runEnd = 0;
        for (size_t pos = end - 1; pos >= compStart + 3; pos--)
            if (templ[pos - 1] == 'X' && templ[pos - 2] == 'X' && templ[pos - 3] == 'X')
            {
                runEnd = pos;
                break;
            }
        if (!runEnd)
            return ERR_BAD_ARGUMENT;
    }

    size_t start = runEnd;
    while (start > 0 && templ[start - 1] == 'X')
        start--;
    *pStart = start;
    *pcch = runEnd - start;
    return 0;
}
