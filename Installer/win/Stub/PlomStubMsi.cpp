// Hands one extracted package to the Windows Installer and turns its result into the
// installer's own: 0, 3010 (reboot required) or 1 after telling the user.
#include "PlomStub.h"

#include <windows.h>
#include <commctrl.h>
#include <msi.h>

#include <kelp/err.h>
#include <kelp/message.h>
#include <kelp/string.h>

namespace
{

enum : UINT
{
    MSI_REBOOT_REQUIRED        = 3010,  // ERROR_SUCCESS_REBOOT_REQUIRED
    MSI_USER_EXIT              = 1602,  // ERROR_INSTALL_USEREXIT
    MSI_PACKAGE_VERSION        = 1613,  // ERROR_INSTALL_PACKAGE_VERSION
    MSI_PLATFORM_UNSUPPORTED   = 1633,  // ERROR_INSTALL_PLATFORM_UNSUPPORTED
    NETWORK_ERROR_FIRST        = 2100,  // the network messages live in netmsg.dll
    NETWORK_ERROR_LAST         = 2999,
};

// The classes the installer's dialogs may use: the Windows 95 set, the extended combo box,
// the pager, the standard controls and the link control.
enum : DWORD
{
    COMMON_CONTROL_CLASSES = ICC_WIN95_CLASSES | ICC_USEREX_CLASSES | ICC_PAGESCROLLER_CLASS
                           | ICC_STANDARD_CLASSES | ICC_LINK_CLASS,
};
static_assert(COMMON_CONTROL_CLASSES == 0xD2FF, "class mask of the installer's dialogs");

// Describes an installer result that has no case of its own, from the system's message
// tables (the network table for network error numbers), and returns the failure result.
int ShowInstallFailure(UINT result)
{
    HMODULE netmsg = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    if (result >= NETWORK_ERROR_FIRST && result <= NETWORK_ERROR_LAST)
    {
        netmsg = LoadLibraryExW(L"netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (netmsg)
            flags |= FORMAT_MESSAGE_FROM_HMODULE;
    }

    WCHAR *text = nullptr;
    DWORD const length = FormatMessageW(flags, netmsg, result, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        (LPWSTR)&text, 0, nullptr);
    int rc;
    if (length != 0 && text)
    {
        rc = ShowError("Installation failed! Error: %ls", text);
        LocalFree(text);
    }
    else
        rc = ShowError("Installation failed! Error: %u", result);

    if (netmsg)
        FreeLibrary(netmsg);
    return rc;
}

} // namespace

int InstallMsiPackage(const char *packagePath, const char *msiParameters, const char *logFile)
{
    if (MsiSetInternalUI(silent ? INSTALLUILEVEL_NONE : INSTALLUILEVEL_FULL, nullptr) == INSTALLUILEVEL_NOCHANGE)
        return ShowError("Internal error: MsiSetInternalUI failed.");

    if (logFile)
    {
        RTUTF16 *logFileW = nullptr;
        int rc = RTStrToUtf16(logFile, &logFileW);
        if (rc < 0)
            return ShowError("RTStrToUtf16 failed on '%s': %Rrc", logFile, rc);
        // No append attribute: every run starts the log afresh.
        UINT const logResult = MsiEnableLogW(INSTALLLOGMODE_VERBOSE, (LPCWSTR)logFileW,
                                             INSTALLLOGATTRIBUTES_FLUSHEACHLINE);
        RTUtf16Free(logFileW);
        if (logResult != ERROR_SUCCESS)
            return ShowError("MsiEnableLogW failed");
    }

    // The installer's own dialogs need the common controls registered in this process.
    INITCOMMONCONTROLSEX controls = { sizeof(controls), COMMON_CONTROL_CLASSES };
    InitCommonControlsEx(&controls);

    RTUTF16 *packagePathW = nullptr;
    int rc = RTStrToUtf16(packagePath, &packagePathW);
    if (rc < 0)
        return ShowError("RTStrToUtf16 failed on '%s': %Rrc", packagePath, rc);
    // Never a null pointer for the parameters: an empty string is passed as one.
    RTUTF16 *msiParametersW = nullptr;
    rc = RTStrToUtf16(msiParameters, &msiParametersW);
    if (rc < 0)
    {
        RTUtf16Free(packagePathW);
        return ShowError("RTStrToUtf16 failed on '%s': %Rrc", msiParameters, rc);
    }

    // The installer service cannot open a package beyond the classic path limit (wine's
    // crashes): such a path goes in its short form, where the volume has short names.
    LPCWSTR packageForMsi = (LPCWSTR)packagePathW;
    WCHAR shortPath[MAX_PATH];
    if (RTUtf16Length(packagePathW) >= MAX_PATH)
    {
        DWORD const length = GetShortPathNameW((LPCWSTR)packagePathW, shortPath, MAX_PATH);
        if (length > 0 && length < MAX_PATH)
            packageForMsi = shortPath;
    }

    UINT const result = MsiInstallProductW(packageForMsi, (LPCWSTR)msiParametersW);
    RTUtf16Free(packagePathW);
    RTUtf16Free(msiParametersW);

    switch (result)
    {
        case ERROR_SUCCESS:
            return 0;
        case MSI_REBOOT_REQUIRED:
            if (silent)
                RTMsgReportInfo("Reboot required (by %s)\n", packagePath);
            return EXIT_REBOOT_CODE;
        case MSI_USER_EXIT:
            return EXIT_FAILURE_CODE;   // the user chose this; nothing to tell
        case MSI_PACKAGE_VERSION:
            return ShowError("This installation package cannot be installed by the Windows Installer service.\n"
                             "You must install a Windows service pack that contains a newer version of the "
                             "Windows Installer service.");
        case MSI_PLATFORM_UNSUPPORTED:
            return ShowError("This installation package is not supported on this platform.");
        default:
            return ShowInstallFailure(result);
    }
}
