// The command line: one pass over the arguments that fills StubOptions and builds the MSI
// parameter string, or ends the program with help, version or a command-line error.
#include "PlomStub.h"
#include "PlomStubVersion.h"

#include <kelp/err.h>
#include <kelp/format.h>
#include <kelp/getopt.h>
#include <kelp/path.h>
#include <kelp/string.h>

namespace
{

enum : int
{
    OPTID_MSI_LOG_FILE = 1000,
};

// Every spelling is its own entry; the parser adds the short forms and its built-in names.
const OptionDef StubOptionTable[] =
{
    { "--extract",                    'x', 0 },
    { "-extract",                     'x', 0 },
    { "/extract",                     'x', 0 },
    { "--silent",                     's', 0 },
    { "-silent",                      's', 0 },
    { "/silent",                      's', 0 },
    { "--no-silent-cert",             'c', 0 },
    { "-no-silent-cert",              'c', 0 },
    { "/no-silent-cert",              'c', 0 },
    { "--no-install-timestamp-ca",    't', 0 },
    { "--force-install-timestamp-ca", 'T', 0 },
    { "--logging",                    'l', 0 },
    { "-logging",                     'l', 0 },
    { "--msi-log-file",               OPTID_MSI_LOG_FILE, OPT_TYPE_STRING },
    { "-msilogfile",                  OPTID_MSI_LOG_FILE, OPT_TYPE_STRING },
    { "/logging",                     'l', 0 },
    { "--path",                       'p', OPT_TYPE_STRING },
    { "-path",                        'p', OPT_TYPE_STRING },
    { "/path",                        'p', OPT_TYPE_STRING },
    { "--msiparams",                  'm', OPT_TYPE_STRING },
    { "-msiparams",                   'm', OPT_TYPE_STRING },
    { "--msi-prop",                   'P', OPT_TYPE_STRING },
    { "--reinstall",                  'f', 0 },
    { "-reinstall",                   'f', 0 },
    { "/reinstall",                   'f', 0 },
    { "--ignore-reboot",              'r', 0 },
    { "--verbose",                    'v', 0 },
    { "-verbose",                     'v', 0 },
    { "/verbose",                     'v', 0 },
    { "--version",                    'V', 0 },
    { "-version",                     'V', 0 },
    { "/version",                     'V', 0 },
    { "--help",                       'h', 0 },
    { "-help",                        'h', 0 },
    { "/help",                        'h', 0 },
    { "/?",                           'h', 0 },
};
static_assert(RT_ELEMENTS(StubOptionTable) == 36, "the option table has 36 entries");

const char HelpFormat[] =
    "-- %s v%u.%u.%ur%u --\n"
    "\n"
    "Command Line Parameters:\n"
    "\n"
    "--extract\n"
    "    Extract file contents to temporary directory\n"
    "--logging\n"
    "    Enables MSI installer logging (to extract path)\n"
    "--msi-log-file <path/to/file>\n"
    "    Sets MSI logging to <file>\n"
    "--msiparams <parameters>\n"
    "    Specifies extra parameters for the MSI installers\n"
    "    double quoted arguments must be doubled and put\n"
    "    in quotes: --msiparams \"PROP=\"\"a b c\"\"\"\n"
    "--msi-prop <prop> <value>\n"
    "    Adds <prop>=<value> to the MSI parameters,\n"
    "    quoting the property value if necessary\n"
    "--no-silent-cert\n"
    "    Do not install Frostgrain Certificate automatically\n"
    "    when --silent option is specified\n"
    "--force-install-timestamp-ca\n"
    "    Install the timestamp CA needed for supporting\n"
    "    legacy Windows versions regardless of the version or\n"
    "    type of Windows Frostgrain is being installed on.\n"
    "    Default: All except Windows 10 & 11 desktop\n"
    "--no-install-timestamp-ca\n"
    "    Do not install the above mentioned timestamp CA.\n"
    "--path\n"
    "    Sets the path of the extraction directory\n"
    "--reinstall\n"
    "    Forces Frostgrain to get re-installed\n"
    "--ignore-reboot\n"
    "   Do not set exit code to 3010 if a reboot is required\n"
    "--silent\n"
    "   Enables silent mode installation\n"
    "--version\n"
    "   Displays version number and exit\n"
    "-?, -h, --help\n"
    "   Displays this help text and exit\n"
    "\n"
    "Examples:\n"
    "  %s --msiparams \"INSTALLDIR=\"\"C:\\Program Files\\Frostgrain\"\"\"\n"
    "  %s --extract -path C:\\Plom";

const char WhiteSpace[] = " \t\n\r";
const char OutOfParamSpace[] = "Out of space for MSI parameters and properties";

// Appends one parameter, separated from what is there by a single space.
bool AppendMsiParameter(char *params, const char *text)
{
    if (params[0] != '\0' && RTStrAppendTo(params, STUB_MSI_PARAMS_SIZE, " ") < 0)
        return false;
    return RTStrAppendTo(params, STUB_MSI_PARAMS_SIZE, text) >= 0;
}

size_t TextLength(const char *text)
{
    size_t n = 0;
    while (text[n] != '\0')
        n++;
    return n;
}

// An empty value restores the default; otherwise the value is made absolute against the
// current directory.
int SetPathOption(char *buffer, const char *value)
{
    if (value[0] == '\0')
    {
        buffer[0] = '\0';
        return 0;
    }
    return RTPathAbsSimple(value, buffer, STUB_PATH_SIZE);
}

} // namespace

bool silent = false;
uint32_t verbosity = 0;

const char *FindAnyChar(const char *text, const char *set)
{
    for (; *text != '\0'; text++)
        for (const char *s = set; *s != '\0'; s++)
            if (*s == *text)
                return text;
    return nullptr;
}

void InitStubOptions(StubOptions *options)
{
    char *bytes = (char *)options;
    for (size_t i = 0; i < sizeof(*options); i++)
        bytes[i] = 0;
    options->installCertificates = true;
    options->installTimestampCa = true;
}

bool ParseStubOptions(int argc, char **argv, StubOptions *options, int *exitCode)
{
    OptionParserState state;
    int rc = RTGetOptInit(&state, argc, argv, StubOptionTable, RT_ELEMENTS(StubOptionTable), 1, 0);
    if (rc < 0)
    {
        *exitCode = ShowError("RTGetOptInit failed: %Rrc", rc);
        return false;
    }

    OptionValue value;
    while ((rc = RTGetOptNext(&state, &value)) != 0)
    {
        switch (rc)
        {
            case 'x': options->extractOnly = true; break;
            case 's': silent = true; break;
            case 'c': options->installCertificates = false; break;
            case 't': options->installTimestampCa = false; break;
            case 'T':
                options->installTimestampCa = true;
                options->forceTimestampCa = true;
                break;
            case 'l': options->enableLogging = true; break;
            case 'r': options->ignoreReboot = true; break;
            case 'v': verbosity++; break;

            case 'p':
            {
                int rc2 = SetPathOption(options->extractionPath, value.str);
                if (rc2 < 0)
                {
                    *exitCode = ShowSyntaxError("Extraction path is too long (%Rrc)", rc2);
                    return false;
                }
                break;
            }

            case OPTID_MSI_LOG_FILE:
            {
                int rc2 = SetPathOption(options->msiLogFile, value.str);
                if (rc2 < 0)
                {
                    *exitCode = ShowSyntaxError("MSI log file path is too long (%Rrc)", rc2);
                    return false;
                }
                break;
            }

            case 'm':
                if (!AppendMsiParameter(options->msiParameters, value.str))
                {
                    *exitCode = ShowSyntaxError(OutOfParamSpace);
                    return false;
                }
                break;

            case 'f':
                if (!AppendMsiParameter(options->msiParameters, "REINSTALLMODE=vomus REINSTALL=ALL"))
                {
                    *exitCode = ShowSyntaxError(OutOfParamSpace);
                    return false;
                }
                break;

            case 'P':
            {
                const char *prop = value.str;
                if (FindAnyChar(prop, WhiteSpace))
                {
                    *exitCode = ShowSyntaxError("The first argument to --msi-prop must not contain spaces: %s", prop);
                    return false;
                }
                int rc2 = RTGetOptTakeValue(&state, &value, OPT_TYPE_STRING);
                if (rc2 == ERR_OPT_VALUE_MISSING)
                {
                    *exitCode = ShowSyntaxError("--msi-prop takes two arguments, the 2nd is missing");
                    return false;
                }
                if (rc2 < 0)
                {
                    *exitCode = ShowSyntaxError("Failed to get 2nd --msi-prop argument: %Rrc", rc2);
                    return false;
                }
                const char *propValue = value.str;
                char *params = options->msiParameters;
                size_t const used = TextLength(params);
                int const written = RTFmtBufferChecked(&params[used], STUB_MSI_PARAMS_SIZE - used,
                                                       FindAnyChar(propValue, WhiteSpace) ? "%s%s=\"%s\"" : "%s%s=%s",
                                                       used ? " " : "", prop, propValue);
                if (written < 2)
                {
                    params[used] = '\0';    // drop a truncated tail
                    *exitCode = ShowSyntaxError(OutOfParamSpace);
                    return false;
                }
                break;
            }

            case 'V':
                ShowInfo("Version: %u.%u.%ur%u", PLOM_VERSION_MAJOR, PLOM_VERSION_MINOR,
                         PLOM_VERSION_BUILD, PLOM_VERSION_REVISION);
                *exitCode = EXIT_SUCCESS_CODE;
                return false;

            case 'h':
                ShowInfo(HelpFormat, ProductInstallerName, PLOM_VERSION_MAJOR, PLOM_VERSION_MINOR,
                         PLOM_VERSION_BUILD, PLOM_VERSION_REVISION, argv[0], argv[0]);
                *exitCode = EXIT_SUCCESS_CODE;
                return false;

            case INF_OPT_PLAIN_ARGUMENT:
                if (options->msiParameters[0] != '\0')
                {
                    if (!AppendMsiParameter(options->msiParameters, value.str))
                    {
                        *exitCode = ShowSyntaxError(OutOfParamSpace);
                        return false;
                    }
                    break;
                }
                [[fallthrough]];
            default:
                if (silent)
                    *exitCode = RTGetOptReportError(rc, &value);
                else if (rc == ERR_OPT_UNKNOWN)
                    *exitCode = ShowSyntaxError("Unknown option \"%s\"\n"
                                                "Please refer to the command line help by specifying \"-?\"\n"
                                                "to get more information.", value.str);
                else
                    *exitCode = ShowSyntaxError("Parameter parsing error: %Rrc\n"
                                                "Please refer to the command line help by specifying \"-?\"\n"
                                                "to get more information.", rc);
                return false;
        }
    }
    return true;
}
