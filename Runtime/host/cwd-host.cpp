// The current directory for programs built for the build host. Host paths have no drive
// letters, so only the plain query is answered.
#include "kelp/err.h"
#include "kelp/path.h"
#include "kelp/string.h"

#include <errno.h>
#include <unistd.h>

int RTPathCurrentDir(char *buffer, size_t size)
{
    if (!size)
        return ERR_BUFFER_OVERFLOW;
    if (getcwd(buffer, size))
        return 0;
    buffer[0] = '\0';
    return errno == ERANGE ? ERR_BUFFER_OVERFLOW : ERR_FILE_NOT_FOUND;
}

int RTPathCurrentDirOnDrive(char driveLetter, char *buffer, size_t size)
{
    RT_NOREF(driveLetter);
    if (size)
        buffer[0] = '\0';
    return ERR_NOT_SUPPORTED;
}

int RTPathGetCurrentDrive(char *buffer, size_t size)
{
    if (size)
        buffer[0] = '\0';
    return ERR_NOT_SUPPORTED;
}
