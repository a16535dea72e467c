// Everything the installer puts on disk is recorded here the moment it exists, together
// with the handle that keeps it open, and removed again at the end, newest first.
#include "PlomStub.h"

#include <windows.h>

#include <kelp/err.h>
#include <kelp/mem.h>

CleanupListHead cleanupList = { nullptr, nullptr };

namespace
{

CleanupRecord *ListHeadAsRecord(void)
{
    // The head holds only the two links, which sit at the start of a record as well.
    return (CleanupRecord *)(void *)&cleanupList;
}

void RemoveRecord(CleanupRecord *record)
{
    record->prev->next = record->next;
    record->next->prev = record->prev;
    record->next = nullptr;
    record->prev = nullptr;
    RTMemFree(record);
}

bool IsGone(int rc)
{
    return rc >= 0 || rc == ERR_FILE_NOT_FOUND || rc == ERR_PATH_NOT_FOUND;
}

} // namespace

void InitCleanupList(void)
{
    cleanupList.next = ListHeadAsRecord();
    cleanupList.prev = ListHeadAsRecord();
}

bool IsCleanupListEmpty(void)
{
    return cleanupList.next == ListHeadAsRecord();
}

CleanupRecord *AddCleanupRecord(const char *path, bool isFile)
{
    size_t length = 0;
    while (path[length] != '\0')
        length++;
    CleanupRecord *record = (CleanupRecord *)RTMemAllocZ(sizeof(CleanupRecord) + length);
    if (!record)
    {
        ShowError("Out of memory!");
        return nullptr;
    }
    record->isFile = isFile;
    record->packageIndex = -1;
    if (isFile)
        record->handle.file = RTFILE_NIL;
    else
        record->handle.dir = nullptr;
    for (size_t i = 0; i <= length; i++)
        record->path[i] = path[i];

    record->prev = ListHeadAsRecord();
    record->next = cleanupList.next;
    cleanupList.next->prev = record;
    cleanupList.next = record;
    return record;
}

CleanupRecord *FindCleanupRecordForPackage(uint32_t packageIndex)
{
    for (CleanupRecord *record = cleanupList.next; record != ListHeadAsRecord(); record = record->next)
        if (record->packageIndex == (int32_t)packageIndex)
            return record;
    return nullptr;
}

void RunCleanup(const char *dirToRemove)
{
    for (unsigned pass = 0;; pass++)
    {
        bool const lastPass = pass == 4;
        CleanupRecord *next;
        for (CleanupRecord *record = cleanupList.next; record != ListHeadAsRecord(); record = next)
        {
            next = record->next;
            int rc;
            if (record->isFile)
            {
                if (record->handle.file != RTFILE_NIL)
                {
                    if (RTFileIsValid(record->handle.file))
                    {
                        int rcClose = RTFileClose(record->handle.file);
                        if (rcClose < 0)
                            PrintError("Cleanup file '%s' for #%u: RTFileClose(%p) failed: %Rrc",
                                       record->path, record->packageIndex, record->handle.file, rcClose);
                    }
                    record->handle.file = RTFILE_NIL;
                }
                if (record->keep)
                {
                    RemoveRecord(record);
                    continue;
                }
                rc = RTFileDelete(record->path);
            }
            else
            {
                if (record->handle.dir)
                {
                    if (RTDirIsValid(record->handle.dir))
                    {
                        int rcClose = RTDirClose(record->handle.dir);
                        if (rcClose < 0)
                            PrintError("Cleanup dir '%s' for #%u: RTDirClose(%p) failed: %Rrc",
                                       record->path, record->packageIndex, record->handle.dir, rcClose);
                    }
                    record->handle.dir = nullptr;
                }
                if (record->keep)
                {
                    RemoveRecord(record);
                    continue;
                }
                rc = RTDirRemove(record->path);
                if (rc == ERR_DIR_NOT_EMPTY)
                {
                    // Something else still lives in it (a log file, custom files, a file
                    // that could not be deleted): retry, and give up quietly at the end.
                    if (lastPass)
                        RemoveRecord(record);
                    continue;
                }
            }

            if (IsGone(rc))
                RemoveRecord(record);
            else if (lastPass)
                ShowError(record->isFile ? "Failed to delete temporary file '%s': %Rrc"
                                         : "Failed to delete temporary directory '%s': %Rrc",
                          record->path, rc);
        }

        if (IsCleanupListEmpty() || lastPass)
        {
            if (!dirToRemove)
                return;
            int rc = RTDirRemove(dirToRemove);
            if (IsGone(rc) || lastPass)
                return;
        }
        Sleep(pass == 0 ? 100 : 3000);
    }
}

void FreeCleanupRecords(void)
{
    while (!IsCleanupListEmpty())
        RemoveRecord(cleanupList.next);
}
