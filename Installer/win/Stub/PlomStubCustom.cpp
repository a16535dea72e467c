// A ".custom" directory beside the executable travels with the packages: it is copied
// whole into the extraction directory before anything is installed.
#include "PlomStub.h"

#include <windows.h>
#include <shellapi.h>

#include <kelp/dir.h>
#include <kelp/err.h>
#include <kelp/path.h>
#include <kelp/string.h>

namespace
{

const char CustomDirName[] = ".custom";

// Room for the path, its terminator and the second zero that ends the shell's name list.
enum : size_t { PATH_LIST_UNITS = STUB_PATH_SIZE + 2 };

// path as a shell name list of one entry: UTF-16, ending in two zeros.
int ToShellPathList(const char *path, RTUTF16 *list)
{
    RTUTF16 *out = list;
    size_t units = 0;
    int rc = RTStrToUtf16Ex(path, RTSTR_MAX, &out, STUB_PATH_SIZE, &units);
    if (rc < 0)
        return ShowError("RTStrToUtf16Ex failed on '%s': %Rrc", path, rc);
    list[units + 1] = 0;
    return 0;
}

} // namespace

int CopyCustomDirectory(const char *extractionDir)
{
    char source[STUB_PATH_SIZE];
    int rc = RTPathOfExecutableDir(source, sizeof(source));
    if (rc >= 0)
        rc = RTPathAddComponent(source, sizeof(source), CustomDirName);
    if (rc < 0)
        return ShowError("Failed to construct '.custom' dir path: %Rrc", rc);

    // A file of that name, or a failing test, counts as nothing to copy.
    if (!RTDirExists(source))
        return 0;

    RTUTF16 from[PATH_LIST_UNITS];
    RTUTF16 to[PATH_LIST_UNITS];
    int result = ToShellPathList(source, from);
    if (result != 0)
        return result;
    result = ToShellPathList(extractionDir, to);
    if (result != 0)
        return result;

    SHFILEOPSTRUCTW operation = {};
    operation.hwnd = nullptr;
    operation.wFunc = FO_COPY;
    operation.pFrom = (LPCWSTR)from;
    operation.pTo = (LPCWSTR)to;
    // No progress window, no confirmation, no error dialog.
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    int const shellResult = SHFileOperationW(&operation);
    if (shellResult != 0)
        return ShowError("Copying the '.custom' dir failed: %#x", shellResult);

    char *copied = RTPathJoinA(extractionDir, CustomDirName);
    if (!copied)
        return ShowError("Out of memory!");
    CleanupRecord *record = AddCleanupRecord(copied, false /*isFile*/);
    if (!record)
    {
        RTStrDispose(copied);
        return EXIT_FAILURE_CODE;   // already told
    }

    // Held open until the cleanup, which closes it before removing the directory.
    RTDIR dir = nullptr;
    rc = RTDirOpen(&dir, copied);
    if (rc < 0)
    {
        RTStrDispose(copied);
        return ShowError("Unable to open the destination .custom directory: %Rrc", rc);
    }
    record->handle.dir = dir;
    RTStrDispose(copied);
    return 0;
}
