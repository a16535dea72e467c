// A fixed current directory for the fuzz targets, so that every run of an input takes the
// same path through the code: drive C: and the directory "C:\Fuzz\Work".
#include <kelp/err.h>
#include <kelp/path.h>
#include <kelp/string.h>

int RTPathCurrentDir(char *buffer, size_t size)
{
    return RTStrCopyTo(buffer, size, "C:\\Fuzz\\Work");
}

int RTPathCurrentDirOnDrive(char driveLetter, char *buffer, size_t size)
{
    if (!((driveLetter >= 'A' && driveLetter <= 'Z') || (driveLetter >= 'a' && driveLetter <= 'z')))
        return ERR_BAD_ARGUMENT;
    char dir[] = "X:\\";
    dir[0] = driveLetter;
    return RTStrCopyTo(buffer, size, (driveLetter & ~0x20) == 'C' ? "C:\\Fuzz\\Work" : dir);
}

int RTPathGetCurrentDrive(char *buffer, size_t size)
{
    return RTStrCopyTo(buffer, size, "C:");
}
