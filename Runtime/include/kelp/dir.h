// Directories and objects named by path: create, remove, exists, the information record
// of any path, holding a directory open, and unique names made from templates.
#pragma once

#include "kelp/types.h"
#include "kelp/file.h"

struct RTDIRINTERNAL;
typedef RTDIRINTERNAL *RTDIR;

enum : uint32_t
{
    RTDIR_MAGIC      = 0x19291112,
    RTDIR_MAGIC_DEAD = 0xE6D6EEED,
};

// RTDirCreate flags.
enum : uint32_t
{
    RTDIR_CREATE_KEEP_INDEXED       = 0x2,
    RTDIR_CREATE_IGNORE_ATTR_ERROR  = 0x4,
};

// RTPathQueryInfo flags: exactly one of ON_LINK and FOLLOW_LINK.
enum : uint32_t
{
    RTPATH_QUERY_ON_LINK     = 0x1,
    RTPATH_QUERY_FOLLOW_LINK = 0x2,
    RTPATH_QUERY_NO_SYMLINKS = 0x4,
};

int RTDirCreate(const char *path, RTFMODE mode, uint32_t fCreate);
int RTDirRemove(const char *path);
// True for an existing directory (links followed); never fails.
bool RTDirExists(const char *path);
int RTPathQueryInfo(const char *path, RTOBJINFO *pInfo, uint32_t addKind, uint32_t fQuery);

// The open handle does not share delete access: nobody can remove or rename the directory
// while it is held.
int RTDirOpen(RTDIR *phDir, const char *path);
// A handle that is not open (already closed, never opened) gives ERR_BAD_ARGUMENT.
int RTDirClose(RTDIR hDir);
bool RTDirIsValid(RTDIR hDir);

// The template's run of 'X' is replaced by random lower-case letters and digits; on
// failure the template is emptied.
int RTDirCreateTemp(char *templ, RTFMODE mode);
// fOpen must ask for create-new (ERR_INVALID_FLAGS otherwise, template untouched).
int RTFileCreateTemp(RTFILE *phFile, char *templ, uint64_t fOpen);

// Finds the run of 'X' that the template functions replace: *pStart and *pcch describe it.
int RTPathTemplateFindRun(const char *templ, size_t *pStart, size_t *pcch);

uint32_t RTRandU32Range(uint32_t min, uint32_t max);
// One step of the Park-Miller minimal-standard generator.
uint32_t RTRandParkMillerNext(uint32_t state);
