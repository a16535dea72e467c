// The installer's entry: runtime start, command line, then one straight run from the
// single-instance check to the cleanup. The result is the process exit code.
#include "PlomStub.h"
#include "PlomStubCertUtil.h"
#include "PlomStubResources.h"

#include <windows.h>

#include <kelp/err.h>
#include <kelp/init.h>
#include <kelp/message.h>
#include <kelp/path.h>
#include <kelp/stream.h>
#include <kelp/string.h>

namespace
{

const char UniqueDirTemplate[] = "XXXXXXXXXXXXXXXXXXXXXXXX";
const char MsiLogFileName[] = "PlomInstallLog.txt";

StubOptions options;

void ToBackslashes(char *path)
{
    for (; *path != '\0'; path++)
        if (*path == '/')
            *path = '\\';
}

bool IsSuffix(const char *suffix, const char *expected)
{
    return suffix && RTStrCompareAsciiNoCase(suffix, expected) == 0;
}

// Steps that follow a successful extraction in a full run: custom files, certificates,
// then every package that applies. Returns the run's result.
int InstallExtractedPackages(uint32_t packageCount)
{
    int result = CopyCustomDirectory(options.extractionPath);
    if (result != 0)
        return result;

    result = AddProductCertificates(&options);
    if (result != 0)
        return result;

    for (uint32_t i = 0; i < packageCount && (result == 0 || result == EXIT_REBOOT_CODE); i++)
    {
        const StubPackageHeader *header = GetPackageHeader(i);
        if (!header)
            return EXIT_FAILURE_CODE;
        if (!PackageApplies(header->arch))
            continue;

        CleanupRecord *record = FindCleanupRecordForPackage(i);
        if (!record)
            return PrintErrorExit("Package #%u not found in cleanup records", i);

        ToBackslashes(record->path);
        const char *suffix = RTPathExtension(record->path);
        int r;
        if (IsSuffix(suffix, ".msi"))
            r = InstallMsiPackage(record->path, options.msiParameters,
                                  options.msiLogFile[0] != '\0' ? options.msiLogFile : nullptr);
        else if (IsSuffix(suffix, ".cab"))
            r = 0;  // cabinets only need to be on disk
        else
            r = ShowError("Internal error: Do not know how to handle file '%s' (%s).", header->fileName, record->path);
        // A later success must not hide an earlier reboot request.
        if (r != 0)
            result = r;
    }
    return result;
}

} // namespace

extern "C" int main(int argc, char **argv, char **envp)
{
    RT_NOREF(envp);
    int rc = RTR3Init(argc, &argv, 4);
    if (rc < 0)
        return RTMsgReportInitFailure(rc);

    InitStubOptions(&options);
    int exitCode = 0;
    if (!ParseStubOptions(argc, argv, &options, &exitCode))
        return exitCode;

    // One installer at a time. The mutex is only tested for existence, never waited on.
    SetLastError(0);
    HANDLE mutex = CreateMutexW(NULL, FALSE, L"PlomStubInstaller");
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS)
    {
        CloseHandle(mutex);
        return ShowError("Another installer is already running");
    }

    InitCleanupList();
    CleanupRecord *dirRecord = nullptr;

    if (options.extractionPath[0] == '\0')
    {
        rc = RTPathTempDir(options.extractionPath, sizeof(options.extractionPath));
        if (rc < 0)
        {
            if (mutex)
                CloseHandle(mutex);
            return ShowError("Failed to find temporary directory: %Rrc", rc);
        }
        if (!options.extractOnly)
        {
            rc = RTPathAddComponent(options.extractionPath, sizeof(options.extractionPath), UniqueDirTemplate);
            if (rc >= 0)
                rc = RTDirCreateTemp(options.extractionPath, 0700);
            if (rc < 0)
            {
                if (mutex)
                    CloseHandle(mutex);
                return ShowError("Failed to create extraction path: %Rrc", rc);
            }
            // Without a record (out of memory, already told) the run goes on and the
            // extraction treats the directory as one that existed before.
            dirRecord = AddCleanupRecord(options.extractionPath, false /*isFile*/);
        }
    }
    ToBackslashes(options.extractionPath);

    if (verbosity != 0)
    {
        if (!AllocConsole())
            return ShowError("Unable to allocate console: LastError=%u\n", GetLastError());
        Stream *console = nullptr;
        if (RTStreamOpen("CONOUT$", "a", &console) >= 0)
        {
            RTStreamSetBuffering(console, STREAM_BUF_NONE);
            StreamStdOut = console;
            StreamStdErr = console;
        }
    }

    if (!options.enableLogging && options.msiLogFile[0] != '\0')
        options.enableLogging = true;
    if (options.enableLogging && options.msiLogFile[0] == '\0')
    {
        rc = RTStrCopyTo(options.msiLogFile, sizeof(options.msiLogFile), options.extractionPath);
        if (rc >= 0)
            rc = RTPathAddComponent(options.msiLogFile, sizeof(options.msiLogFile), MsiLogFileName);
        if (rc < 0)
            return ShowError("Error creating MSI log file name, rc=%Rrc", rc);
    }

    if (verbosity != 0)
    {
        RTStreamPrintfStdOut("Extraction path          : %s\n", options.extractionPath);
        RTStreamPrintfStdOut("Silent installation      : %RTbool\n", silent);
        RTStreamPrintfStdOut("Certificate installation : %RTbool\n", options.installCertificates);
        RTStreamPrintfStdOut("Additional MSI parameters: %s\n",
                             options.msiParameters[0] != '\0' ? options.msiParameters : "<None>");
        RTStreamPrintfStdOut("Logging to file          : %s\n",
                             options.msiLogFile[0] != '\0' ? options.msiLogFile : "<None>");
    }

    int result = 0;
    const void *manifestData = nullptr;
    if (!options.extractOnly && !silent && !IsWow64())
        result = ShowError("32-bit Windows hosts are not supported by this Frostgrain release.");
    else if ((rc = FindRcDataResource("MANIFEST", &manifestData, nullptr)) < 0)
        result = ShowError("Internal package error: Manifest not found (%Rrc)", rc);
    else
    {
        uint32_t const packageCount = ((const StubManifest *)manifestData)->packageCount;
        result = ExtractPackages(packageCount, options.extractionPath, options.extractOnly, &dirRecord);
        if (options.extractOnly)
        {
            if (result == 0)
                ShowInfo("Files were extracted to: %s", options.extractionPath);
            // The extracted files and their directory stay for the user.
        }
        else
        {
            if (result == 0)
                result = InstallExtractedPackages(packageCount);

            RTPathChangeDir("..");
            bool const removeDir = !options.enableLogging && dirRecord && !dirRecord->keep;
            RunCleanup(removeDir ? options.extractionPath : nullptr);
        }
        FreeCleanupRecords();
    }

    if (verbosity != 0)
        FreeConsole();
    if (mutex)
        CloseHandle(mutex);

    if (result == EXIT_REBOOT_CODE && options.ignoreReboot)
        result = 0;
    return result;
}
