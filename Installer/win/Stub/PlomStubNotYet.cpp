// Custom files, certificates and the Windows Installer are not part of this build yet.
// These stand-ins say so and fail; they never pretend that anything was done.
#include "PlomStub.h"

#include <kelp/dir.h>
#include <kelp/message.h>
#include <kelp/path.h>

const StubCertificate TimestampCaCertificate = { nullptr, 0 };
const StubCertificate PublisherCertificates[2] = { { nullptr, 0 }, { nullptr, 0 } };

int CopyCustomDirectory(const char *extractionDir)
{
    RT_NOREF(extractionDir);
    char source[STUB_PATH_SIZE];
    int rc = RTPathOfExecutableDir(source, sizeof(source));
    if (rc >= 0)
        rc = RTPathAddComponent(source, sizeof(source), ".custom");
    if (rc < 0)
        return ShowError("Failed to construct '.custom' dir path: %Rrc", rc);
    if (!RTDirExists(source))
        return 0;   // nothing to copy
    return ShowError("Copying the '.custom' dir is not supported by this build.");
}

bool AddCertificateToStore(uint32_t storeFlags, const char *storeName, const uint8_t *data, uint32_t size)
{
    RT_NOREF(storeFlags); RT_NOREF(data); RT_NOREF(size);
    RTMsgReportError("Adding certificates to the '%s' store is not supported by this build.", storeName);
    return false;
}

int InstallMsiPackage(const char *packagePath, const char *msiParameters, const char *logFile)
{
    RT_NOREF(msiParameters); RT_NOREF(logFile);
    return ShowError("Installing '%s' is not supported by this build: no Windows Installer support.", packagePath);
}
