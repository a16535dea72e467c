// Directories and files with unique random names made from a template.
#include "kelp/dir.h"
#include "kelp/err.h"

namespace
{

enum : uint32_t { kMaxAttempts = 10000 };

void FillRun(char *templ, size_t start, size_t cch)
{
    static const char alphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (size_t i = start + cch; i > start; i--)
        templ[i - 1] = alphabet[RTRandU32Range(0, 35)];
}

} // namespace

int RTDirCreateTemp(char *templ, RTFMODE mode)
{
    if (!RTIsValidPtr(templ))
        return ERR_INVALID_POINTER;
    size_t start, cch;
    int rc = RTPathTemplateFindRun(templ, &start, &cch);
    if (rc)
    {
        templ[0] = '\0';
        return rc;
    }
    for (uint32_t attempt = 1; ; attempt++)
    {
        FillRun(templ, start, cch);
        rc = RTDirCreate(templ, mode, 0);
        if (!rc)
            return 0;
        if (rc != ERR_ALREADY_EXISTS || attempt >= kMaxAttempts)
            break;
    }
    templ[0] = '\0';
    return rc;
}

int RTFileCreateTemp(RTFILE *phFile, char *templ, uint64_t fOpen)
{
    if (!RTIsValidPtr(phFile))
        return ERR_INVALID_POINTER;
    *phFile = RTFILE_NIL;
    if (!RTIsValidPtr(templ))
        return ERR_INVALID_POINTER;
    if ((fOpen & RTFILE_OPEN_ACTION_MASK) != RTFILE_OPEN_CREATE_NEW)
        return ERR_INVALID_FLAGS;
    size_t start, cch;
    int rc = RTPathTemplateFindRun(templ, &start, &cch);
    if (rc)
    {
        templ[0] = '\0';
        return rc;
    }
    for (uint32_t attempt = 1; ; attempt++)
    {
        FillRun(templ, start, cch);
        RTFILE hFile = RTFILE_NIL;
        rc = RTFileOpen(&hFile, templ, fOpen);
        if (!rc)
        {
            *phFile = hFile;
            return 0;
        }
        if (rc != ERR_ALREADY_EXISTS || attempt >= kMaxAttempts)
            break;
    }
    templ[0] = '\0';
    return rc;
}
