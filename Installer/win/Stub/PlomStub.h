// The installer's own records and functions, shared by its source files.
#pragma once

#include <kelp/types.h>
#include <kelp/file.h>
#include <kelp/dir.h>

enum : int
{
    EXIT_SUCCESS_CODE = 0,
    EXIT_FAILURE_CODE = 1,
    EXIT_SYNTAX_CODE = 2,
    EXIT_INIT_CODE = 3,
    EXIT_REBOOT_CODE = 3010,
};

enum : size_t
{
    STUB_PATH_SIZE = 4100,
    STUB_MSI_PARAMS_SIZE = 4096,
};

// What the command line sets. silent and verbosity live outside, process-wide, because the
// message functions and the MSI installation read them.
struct StubOptions
{
    bool     extractOnly;
    bool     installCertificates;
    bool     installTimestampCa;
    bool     forceTimestampCa;
    bool     enableLogging;
    bool     ignoreReboot;
    char     extractionPath[STUB_PATH_SIZE];
    char     msiLogFile[STUB_PATH_SIZE];
    char     msiParameters[STUB_MSI_PARAMS_SIZE];
};

extern bool silent;
extern uint32_t verbosity;

extern const char ProductInstallerName[];   // "Frostgrain Installer", also the message box title

// Option pass. Returns true when the run should go on; otherwise *exitCode holds the code
// to exit with (help, version, command-line error).
void InitStubOptions(StubOptions *options);
bool ParseStubOptions(int argc, char **argv, StubOptions *options, int *exitCode);
// Position of the first byte of text that occurs in set, or null.
const char *FindAnyChar(const char *text, const char *set);

// User messages. The results are exit codes so that callers can return them directly.
int  ShowError(const char *format, ...);
void ShowInfo(const char *format, ...);
int  ShowSyntaxError(const char *format, ...);
void PrintError(const char *format, ...);
int  PrintErrorExit(const char *format, ...);
int  PrintErrorRc(int rc, const char *format, ...);

// Everything the run puts on disk, newest first.
struct CleanupRecord
{
    CleanupRecord *next;
    CleanupRecord *prev;
    int32_t        packageIndex;    // -1 for directories
    bool           isFile;
    bool           keep;            // existed before the run: close, never delete
    union
    {
        RTFILE file;                // RTFILE_NIL when none
        RTDIR  dir;                 // null when none
    } handle;
    char           path[1];         // inline, as long as needed
};

struct CleanupListHead
{
    CleanupRecord *next;
    CleanupRecord *prev;
};

extern CleanupListHead cleanupList;

void InitCleanupList(void);
CleanupRecord *AddCleanupRecord(const char *path, bool isFile);
void RunCleanup(const char *dirToRemove);
void FreeCleanupRecords(void);
CleanupRecord *FindCleanupRecordForPackage(uint32_t packageIndex);
bool IsCleanupListEmpty(void);

// Package resources.
int  FindRcDataResource(const char *name, const void **data, uint32_t *size);
const struct StubPackageHeader *GetPackageHeader(uint32_t index);
bool IsWow64(void);
bool PackageApplies(uint32_t arch);

// Extraction and verification.
int ExtractPackages(uint32_t packageCount, const char *extractionDir, bool extractOnly, CleanupRecord **dirRecord);
int ExtractPackage(const char *resourceName, const char *filePath, RTFILE file, uint32_t packageIndex);

// Custom files, certificates and the Windows Installer.
int  CopyCustomDirectory(const char *extractionDir);
bool AddCertificateToStore(uint32_t storeFlags, const char *storeName, const uint8_t *data, uint32_t size);
int  InstallMsiPackage(const char *packagePath, const char *msiParameters, const char *logFile);

struct StubCertificate
{
    const uint8_t *data;
    uint32_t       size;
};
extern const StubCertificate TimestampCaCertificate;
extern const StubCertificate PublisherCertificates[2];
