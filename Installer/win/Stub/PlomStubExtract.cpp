// Writes each package from its resource into the extraction directory and proves that the
// file on disk holds exactly those bytes. The last handle of the proof stays open and
// denies writing to others, so the file that is later installed is the file verified.
#include "PlomStub.h"
#include "PlomStubResources.h"

#include <kelp/err.h>
#include <kelp/path.h>
#include <kelp/string.h>

namespace
{

const char UniqueNameTemplate[] = "XXXXXXXXXXXXXXXXXXXXXXXX";

enum : uint64_t
{
    // Create mode 0700 in the flag word (bits 20 to 28).
    OPEN_CREATE_MODE_0700 = (uint64_t)0700 << RTFILE_OPEN_CREATE_MODE_SHIFT,
    OPEN_UNIQUE_PACKAGE = RTFILE_OPEN_WRITE | RTFILE_OPEN_DENY_WRITE | RTFILE_OPEN_CREATE_NEW | OPEN_CREATE_MODE_0700,
    OPEN_NAMED_PACKAGE = RTFILE_OPEN_WRITE | RTFILE_OPEN_DENY_WRITE | RTFILE_OPEN_CREATE_REPLACE | OPEN_CREATE_MODE_0700,
    OPEN_FIRST_REOPEN = RTFILE_OPEN_READ | RTFILE_OPEN_DENY_NONE | RTFILE_OPEN_EXISTING | OPEN_CREATE_MODE_0700,
    OPEN_SECOND_REOPEN = RTFILE_OPEN_READ | RTFILE_OPEN_DENY_WRITE | RTFILE_OPEN_EXISTING,
};
static_assert(OPEN_UNIQUE_PACKAGE == 0x1C000222, "open flags of a unique package file");
static_assert(OPEN_NAMED_PACKAGE == 0x1C000322, "open flags of a named package file");
static_assert(OPEN_FIRST_REOPEN == 0x1C000781, "open flags of the first re-opening");
static_assert(OPEN_SECOND_REOPEN == 0x721, "open flags of the second re-opening");

enum : uint32_t { VERIFY_BLOCK_SIZE = 65536 };

// The read-back buffer is too large for the stack of a program without stack probes to spare.
uint8_t verifyBuffer[VERIFY_BLOCK_SIZE];

} // namespace

int ExtractPackage(const char *resourceName, const char *filePath, RTFILE file, uint32_t packageIndex)
{
    int rc;
    if (file == RTFILE_NIL)
    {
        rc = RTFileOpen(&file, filePath, OPEN_NAMED_PACKAGE);
        if (rc < 0)
            return PrintErrorRc(rc, "#%u: Failed to create/replace '%s' for writing: %Rrc", packageIndex, filePath, rc);
    }

    CleanupRecord *record = AddCleanupRecord(filePath, true /*isFile*/);
    if (!record)
    {
        RTFileClose(file);
        return ERR_NO_MEMORY;
    }
    record->packageIndex = (int32_t)packageIndex;
    record->handle.file = file;

    const void *data = nullptr;
    uint32_t size = 0;
    rc = FindRcDataResource(resourceName, &data, &size);
    if (rc < 0)
        return PrintErrorRc(rc, "#%u: Failed to locate resource '%s': %Rrc", packageIndex, resourceName, rc);

    rc = RTFileWrite(file, data, size, nullptr);
    if (rc < 0)
        return PrintErrorRc(rc, "#%u: RTFileWrite('%s',, %#x,) failed: %Rrc", packageIndex, filePath, size, rc);

    RTOBJINFO info;
    rc = RTFileQueryInfo(file, &info, RTOBJINFO_ADD_UNIX);
    if (rc < 0)
        return PrintErrorRc(rc, "#%u: RTFileQueryInfo failed on '%s': %Rrc", packageIndex, filePath, rc);
    uint64_t const writtenFileId = info.add.unixAttr.fileId;

    // From here on some handle on the file is open at every moment, under share modes that
    // allow neither deleting nor renaming it.
    RTFILE first = RTFILE_NIL;
    rc = RTFileOpen(&first, filePath, OPEN_FIRST_REOPEN);
    if (rc < 0)
        return PrintErrorRc(rc, "#%u: First re-opening of '%s' failed: %Rrc", packageIndex, filePath, rc);

    rc = RTFileClose(file);
    if (rc < 0)
    {
        RTFileClose(first);
        return PrintErrorRc(rc, "#%u: RTFileClose('%s') failed: %Rrc", packageIndex, filePath, rc);
    }
    record->handle.file = first;

    RTFILE second = RTFILE_NIL;
    rc = RTFileOpen(&second, filePath, OPEN_SECOND_REOPEN);
    if (rc < 0)
        return PrintErrorRc(rc, "#%u: Second re-opening of '%s' failed: %Rrc", packageIndex, filePath, rc);
    record->handle.file = second;

    rc = RTFileClose(first);
    if (rc < 0)
        PrintError("#%u: Failed to close 2nd handle to '%s': %Rrc", packageIndex, filePath, rc);

    rc = RTFileQueryInfo(second, &info, RTOBJINFO_ADD_UNIX);
    if (rc < 0)
        return PrintErrorRc(rc, "#%u: RTFileQueryInfo failed on '%s': %Rrc", packageIndex, filePath, rc);

    if (info.size != size)
        return PrintErrorRc(ERR_MISMATCH, "#%u: File size of '%s' changed: %'RU64, expected %'RU32",
                            packageIndex, filePath, info.size, size);

    if (info.add.unixAttr.fileId != writtenFileId)
        return PrintErrorRc(ERR_MISMATCH, "#%u: File ID of '%s' changed: %#RX64, expected %#RX64",
                            packageIndex, filePath, info.add.unixAttr.fileId, writtenFileId);

    const uint8_t *bytes = (const uint8_t *)data;
    for (uint32_t offset = 0; offset < size;)
    {
        uint32_t const block = size - offset < VERIFY_BLOCK_SIZE ? size - offset : VERIFY_BLOCK_SIZE;
        rc = RTFileRead(second, verifyBuffer, block, nullptr);
        if (rc < 0)
            return PrintErrorRc(rc, "#%u: RTFileRead failed on '%s' at offset %#RX32: %Rrc", packageIndex, filePath, offset, rc);
        if (__builtin_memcmp(verifyBuffer, bytes + offset, block) != 0)
            return PrintErrorRc(ERR_MISMATCH, "#%u: File '%s' has change (mismatch in %#zx byte block at %#RX32)",
                                packageIndex, filePath, (size_t)block, offset);
        offset += block;
    }
    return 0;
}

int ExtractPackages(uint32_t packageCount, const char *extractionDir, bool extractOnly, CleanupRecord **dirRecord)
{
    if (!RTDirExists(extractionDir))
    {
        if (*dirRecord)
            return ShowError("RTDirExists failed on '%s' which we just created!", extractionDir);
        int rc = RTDirCreate(extractionDir, 0700, 0);
        if (rc < 0)
            return ShowError("Failed to create extraction path '%s': %Rrc", extractionDir, rc);
        *dirRecord = AddCleanupRecord(extractionDir, false /*isFile*/);
        if (!*dirRecord)
            return PrintErrorExit("Failed to add cleanup record for dir '%s'", extractionDir);
    }
    else if (!*dirRecord)
    {
        *dirRecord = AddCleanupRecord(extractionDir, false /*isFile*/);
        if (!*dirRecord)
            return PrintErrorExit("Failed to add cleanup record for existing dir '%s'", extractionDir);
        (*dirRecord)->keep = true;
    }

    int rc = RTDirOpen(&(*dirRecord)->handle.dir, extractionDir);
    if (rc < 0)
        return ShowError("Failed to open extraction path '%s': %Rrc", extractionDir, rc);

    RTPathChangeDir(extractionDir);

    char path[STUB_PATH_SIZE];
    for (uint32_t i = 0; i < packageCount; i++)
    {
        const StubPackageHeader *header = GetPackageHeader(i);
        if (!header)
            return EXIT_FAILURE_CODE;
        if (!extractOnly && !PackageApplies(header->arch))
            continue;

        RTFILE file = RTFILE_NIL;
        if (extractOnly || header->arch == PKG_ARCH_ANY)
            rc = RTPathJoinInto(path, sizeof(path), extractionDir, header->fileName);
        else
        {
            rc = RTPathJoinInto(path, sizeof(path), extractionDir, UniqueNameTemplate);
            const char *suffix = RTPathExtension(header->fileName);
            if (rc >= 0 && suffix)
                rc = RTStrAppendTo(path, sizeof(path), suffix);
            if (rc >= 0)
            {
                rc = RTFileCreateTemp(&file, path, OPEN_UNIQUE_PACKAGE);
                if (rc < 0)
                    return ShowError("Failed to create unique filename for '%s' in '%s': %Rrc",
                                     header->fileName, extractionDir, rc);
            }
        }
        if (rc < 0)
            return ShowError("Internal error: Build extraction file name failed: %Rrc", rc);

        rc = ExtractPackage(header->resourceName, path, file, i);
        if (rc < 0)
            return ShowError("Error extracting package #%u (%s): %Rrc", i, header->fileName, rc);
    }
    return 0;
}
