// Black-box runs of the installer stub: command line, single instance, extraction,
// verification handles and cleanup, each with its own temporary directory.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "box_run.h"
#include "stub_fixture.h"

using namespace plomtest;

namespace {

const std::string Version = std::to_string(PLOM_VERSION_MAJOR) + "." + std::to_string(PLOM_VERSION_MINOR) + "."
                          + std::to_string(PLOM_VERSION_BUILD) + "r" + std::to_string(PLOM_VERSION_REVISION);

const char UsageTail[] =
    "\n"
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
    "Examples:\n";

std::string HelpText(const std::string &argv0)
{
    return "-- Frostgrain Installer v" + Version + " --" + UsageTail
         + "  " + argv0 + " --msiparams \"INSTALLDIR=\"\"C:\\Program Files\\Frostgrain\"\"\"\n"
         + "  " + argv0 + " --extract -path C:\\Plom";
}

const char SeeHelp[] = "\nPlease refer to the command line help by specifying \"-?\"\nto get more information.";

// Full runs pass these so that the steps that belong to later work stay out of the way.
const std::vector<std::wstring> NoCertificates = { L"--no-install-timestamp-ca", L"--no-silent-cert" };

std::vector<std::wstring> Args(std::initializer_list<std::wstring> first, const std::vector<std::wstring> &more = {})
{
    std::vector<std::wstring> args(first);
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::vector<std::wstring> Entries(const std::wstring &dir)
{
    std::vector<std::wstring> names;
    ListDirectory(dir, names);
    return names;
}

bool IsUniqueName(const std::wstring &name, const std::wstring &suffix)
{
    if (name.size() != 24 + suffix.size() || name.compare(24, suffix.size(), suffix) != 0)
        return false;
    return std::all_of(name.begin(), name.begin() + 24,
                       [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z'); });
}

std::string FileContents(const std::wstring &path)
{
    std::string data;
    ReadWholeFile(path, data);
    return data;
}

// How another program fares when it opens a file that the installer holds.
bool CanOpen(const std::wstring &path, DWORD access)
{
    HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

class StubTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.ok());
        ASSERT_TRUE(work.ok());
    }

    std::wstring Bundle(const std::wstring &name, const std::vector<TestPackage> &packages, int manifestCount = -1)
    {
        std::wstring const exe = work.file(name);
        std::string error;
        EXPECT_TRUE(MakeBundle(exe, packages, work.path(), &error, manifestCount)) << error;
        return exe;
    }

    // The error lines of a silent run, program name and prefix included.
    std::string ErrorLine(const std::wstring &exe, const std::string &text)
    {
        return ProgramName(exe) + ": error: " + text + "\n";
    }

    TempDir tmp{ L"stubtmp" };     // the run's TMP
    TempDir work{ L"stubwork" };   // bundles and anything else the test keeps
};

const std::vector<TestPackage> OneCab = { { 1, "data.cab", PackageBytes(1000, 1) } };

struct SilentErrorCase
{
    std::vector<std::wstring> args;
    int exitCode;
    std::string expected;   // text after "<program>: error: "
};

TEST_F(StubTest, SilentCommandLineErrorsGoToStandardError)
{
    std::wstring const exe = Bundle(L"cmdline.exe", OneCab);
    const SilentErrorCase cases[] = {
        { { L"--silent", L"--bogus" }, 2, "Unknown option: '--bogus'" },
        { { L"--silent", L"-" }, 2, "Unknown option: '-'" },
        { { L"--silent", L"-xq" }, 2, "Unknown option: 'q'" },
        { { L"--silent", L"foo" }, 2, "Invalid parameter: foo" },
        { { L"--silent", L"--path" }, 2, "--path: an option that needs a value has none (option parser)" },
        { { L"--silent", L"--msi-prop", L"A B", L"x" }, 2, "The first argument to --msi-prop must not contain spaces: A B" },
        { { L"--silent", L"--msi-prop", L"A" }, 2, "--msi-prop takes two arguments, the 2nd is missing" },
        { { L"--silent", L"--msi-prop", L"", L"" }, 2, "Out of space for MSI parameters and properties" },
        { { L"--silent", L"--msiparams", std::wstring(4096, L'a') }, 2, "Out of space for MSI parameters and properties" },
    };
    for (const SilentErrorCase &c : cases)
    {
        ProcessResult r = RunStub(exe, c.args, tmp.path());
        std::string const label = WideToUtf8(c.args[1]);
        ASSERT_TRUE(r.started) << label;
        EXPECT_EQ(r.exitCode, (unsigned long)c.exitCode) << label;
        EXPECT_EQ(NormalizeNewlines(r.err), ErrorLine(exe, c.expected)) << label;
        EXPECT_EQ(r.out, "") << label;
        EXPECT_TRUE(Entries(tmp.path()).empty()) << label;
    }
}

TEST_F(StubTest, OverlongPathsAreCommandLineErrors)
{
    std::wstring const exe = Bundle(L"longpath.exe", OneCab);
    const std::pair<const wchar_t *, std::string> cases[] = {
        { L"--path", "Extraction path is too long (" },
        { L"--msi-log-file", "MSI log file path is too long (" },
    };
    for (const auto &c : cases)
    {
        ProcessResult r = RunStub(exe, { L"--silent", c.first, L"C:\\" + std::wstring(4200, L'p') }, tmp.path());
        EXPECT_EQ(r.exitCode, 2u) << c.second;
        std::string const err = NormalizeNewlines(r.err);
        EXPECT_EQ(err.rfind(ErrorLine(exe, c.second).substr(0, ProgramName(exe).size() + 9 + c.second.size()), 0), 0u)
            << err;
        EXPECT_EQ(err.substr(err.size() - 2), ")\n") << err;
    }
}

TEST_F(StubTest, HelpAndVersionInSilentModeGoToStandardOutput)
{
    std::wstring const exe = Bundle(L"help.exe", OneCab);
    std::string const argv0 = WideToUtf8(exe);
    const std::vector<std::wstring> helpSpellings[] = {
        { L"--silent", L"-?" }, { L"--silent", L"/?" }, { L"--silent", L"-h" }, { L"--silent", L"--help" },
        { L"-s", L"-help" }, { L"/silent", L"/help", L"--bogus" },
    };
    for (const std::vector<std::wstring> &args : helpSpellings)
    {
        ProcessResult r = RunStub(exe, args, tmp.path());
        EXPECT_EQ(r.exitCode, 0u) << WideToUtf8(args[1]);
        EXPECT_EQ(NormalizeNewlines(r.out), HelpText(argv0) + "\n") << WideToUtf8(args[1]);
        EXPECT_EQ(r.err, "");
    }
    const std::vector<std::wstring> versionSpellings[] = {
        { L"--silent", L"--version" }, { L"--silent", L"-V" }, { L"--silent", L"/version", L"--bogus" },
        { L"--silent", L"-version" },
    };
    for (const std::vector<std::wstring> &args : versionSpellings)
    {
        ProcessResult r = RunStub(exe, args, tmp.path());
        EXPECT_EQ(r.exitCode, 0u) << WideToUtf8(args[1]);
        EXPECT_EQ(NormalizeNewlines(r.out), "Version: " + Version + "\n") << WideToUtf8(args[1]);
        EXPECT_EQ(r.err, "");
    }
}

struct BoxCase
{
    std::vector<std::wstring> args;
    int exitCode;
    std::string text;
    unsigned long style;
};

TEST_F(StubTest, InteractiveMessagesAreMessageBoxes)
{
    std::wstring const exe = Bundle(L"boxes.exe", OneCab);
    std::string const argv0 = WideToUtf8(exe);
    const BoxCase cases[] = {
        { { L"--bogus", L"--silent" }, 2, std::string("Unknown option \"--bogus\"") + SeeHelp, 0x10 },
        { { L"foo" }, 2, std::string("Parameter parsing error: INF_OPT_PLAIN_ARGUMENT") + SeeHelp, 0x10 },
        { { L"--path" }, 2, std::string("Parameter parsing error: ERR_OPT_VALUE_MISSING") + SeeHelp, 0x10 },
        { { L"--msi-prop", L"A" }, 2, "--msi-prop takes two arguments, the 2nd is missing", 0x10 },
        { { L"--version" }, 0, "Version: " + Version, 0x40 },
        { { L"/?" }, 0, HelpText(argv0), 0x40 },
    };
    for (const BoxCase &c : cases)
    {
        BoxRunResult r = RunCatchingMessageBoxes(exe, BuildCommandLine(exe, c.args), TempEnv(tmp.path()), work.path());
        std::string const label = WideToUtf8(c.args[0]);
        ASSERT_TRUE(r.started) << label;
        EXPECT_EQ(r.exitCode, (unsigned long)c.exitCode) << label;
        ASSERT_EQ(r.boxes.size(), 1u) << label;
        EXPECT_EQ(r.boxes[0].function, "MessageBoxW") << label;
        EXPECT_EQ(r.boxes[0].text, c.text) << label;
        EXPECT_EQ(r.boxes[0].title, "Frostgrain Installer") << label;
        EXPECT_EQ(r.boxes[0].style, c.style) << label;
        EXPECT_TRUE(r.boxes[0].desktopOwner) << label;
        EXPECT_EQ(r.out, "") << label;
        EXPECT_TRUE(Entries(tmp.path()).empty()) << label;
    }
}

TEST_F(StubTest, SilentRunsShowNoMessageBox)
{
    std::wstring const exe = Bundle(L"quiet.exe", { { 1, "odd.bin", PackageBytes(10, 30) } });
    const std::vector<std::wstring> runs[] = {
        { L"--silent", L"--bogus" }, { L"--silent", L"-?" }, Args({ L"--silent" }, NoCertificates),
    };
    for (const std::vector<std::wstring> &args : runs)
    {
        BoxRunResult r = RunCatchingMessageBoxes(exe, BuildCommandLine(exe, args), TempEnv(tmp.path()), work.path());
        ASSERT_TRUE(r.started);
        EXPECT_TRUE(r.boxes.empty()) << WideToUtf8(args[1]) << ": " << r.boxes[0].text;
        EXPECT_NE(r.out + r.err, "") << WideToUtf8(args[1]);
    }
}

TEST_F(StubTest, StubCarriesIconVersionAndManifest)
{
    std::wstring const exe = StubExe();
    HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14) /*RT_GROUP_ICON*/), nullptr);
    HRSRC manifest = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /*RT_MANIFEST*/);
    ASSERT_NE(manifest, nullptr);
    std::string const xml((const char *)LockResource(LoadResource(image, manifest)), SizeofResource(image, manifest));
    EXPECT_NE(xml.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("PerMonitorV2"), std::string::npos) << xml;
    // Packages are added to copies; the stub itself carries none.
    EXPECT_EQ(FindResourceW(image, L"MANIFEST", MAKEINTRESOURCEW(10)), nullptr);
    FreeLibrary(image);

    DWORD ignored = 0;
    DWORD const size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_NE(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", (void **)&fixed, &len));
    EXPECT_EQ(fixed->dwFileVersionMS, (DWORD)(PLOM_VERSION_MAJOR << 16 | PLOM_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, (DWORD)(PLOM_VERSION_BUILD << 16 | PLOM_VERSION_REVISION));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    const wchar_t *text = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\FileDescription", (void **)&text, &len));
    EXPECT_EQ(std::wstring(text), L"Frostgrain Installer");
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\ProductName", (void **)&text, &len));
    EXPECT_EQ(std::wstring(text), L"Frostgrain");
}

TEST_F(StubTest, VerboseRunsGoThrough)
{
    // The summary goes to a console of its own, which a test cannot read; the run itself
    // is unchanged, and its errors are still message boxes unless it is silent.
    std::wstring const exe = Bundle(L"verbose.exe", OneCab);
    BoxRunResult r = RunCatchingMessageBoxes(exe, BuildCommandLine(exe, Args({ L"--silent", L"-v", L"-v" }, NoCertificates)),
                                             TempEnv(tmp.path()), work.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_TRUE(Entries(tmp.path()).empty());

    std::wstring const odd = Bundle(L"verbose-odd.exe", { { 1, "odd.bin", PackageBytes(10, 31) } });
    r = RunCatchingMessageBoxes(odd, BuildCommandLine(odd, Args({ L"--verbose" }, NoCertificates)), TempEnv(tmp.path()),
                                work.path());
    EXPECT_EQ(r.exitCode, 1u) << r.err;
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text.rfind("Internal error: Do not know how to handle file 'odd.bin' (", 0), 0u) << r.boxes[0].text;
    EXPECT_TRUE(Entries(tmp.path()).empty());
}

TEST_F(StubTest, SecondInstallerIsRefused)
{
    std::wstring const exe = Bundle(L"second.exe", OneCab);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"PlomStubInstaller");
    ASSERT_NE(mutex, nullptr);
    ProcessResult r = RunStub(exe, Args({ L"--silent" }, NoCertificates), tmp.path());
    CloseHandle(mutex);
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(NormalizeNewlines(r.err), ErrorLine(exe, "Another installer is already running"));
    EXPECT_TRUE(Entries(tmp.path()).empty());

    // Once the mutex is gone the same run goes through.
    r = RunStub(exe, Args({ L"--silent" }, NoCertificates), tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
}

TEST_F(StubTest, FullRunLeavesNothingBehind)
{
    std::wstring const exe = Bundle(L"full.exe", { { 1, "one.cab", PackageBytes(5000, 2) },
                                                   { 3, "two.cab", PackageBytes(7000, 3) } });
    ProcessResult r = RunStub(exe, Args({ L"--silent" }, NoCertificates), tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Entries(tmp.path()).empty());
}

TEST_F(StubTest, ExtractWithoutPathWritesIntoTheTemporaryDirectory)
{
    const std::vector<TestPackage> packages = {
        { 1, "any.cab", PackageBytes(100, 4) }, { 2, "x86.cab", PackageBytes(200, 5) },
        { 3, "amd64.cab", PackageBytes(300, 6) }, { 4, "other.cab", PackageBytes(400, 7) },
    };
    std::wstring const exe = Bundle(L"extract.exe", packages);
    ProcessResult r = RunStub(exe, { L"--silent", L"--extract" }, tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(NormalizeNewlines(r.out), "Files were extracted to: " + tmp.pathUtf8() + "\n");
    // Every architecture, each under its own name.
    for (const TestPackage &p : packages)
        EXPECT_EQ(FileContents(tmp.file(Utf8ToWide(p.fileName))), p.data) << p.fileName;
    EXPECT_EQ(Entries(tmp.path()).size(), packages.size());
}

TEST_F(StubTest, ExtractIntoNamedDirectories)
{
    std::wstring const exe = Bundle(L"extractpath.exe", OneCab);

    // A directory that does not exist yet is created and stays.
    std::wstring const fresh = work.file(L"fresh");
    ProcessResult r = RunStub(exe, { L"--silent", L"-x", L"--path", fresh }, tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(NormalizeNewlines(r.out), "Files were extracted to: " + WideToUtf8(fresh) + "\n");
    EXPECT_EQ(FileContents(fresh + L"\\data.cab"), OneCab[0].data);

    // An existing one is used as it is; extracting again replaces the file.
    ASSERT_TRUE(WriteWholeFile(fresh + L"\\data.cab", "stale"));
    r = RunStub(exe, { L"--silent", L"--extract", L"/path:" + fresh }, tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(FileContents(fresh + L"\\data.cab"), OneCab[0].data);
    EXPECT_TRUE(Entries(tmp.path()).empty());

    // Forward slashes are turned into backslashes before anything is reported.
    std::wstring slashed = work.file(L"other");
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    r = RunStub(exe, { L"--silent", L"--extract", L"--path", slashed }, tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(NormalizeNewlines(r.out), "Files were extracted to: " + WideToUtf8(work.file(L"other")) + "\n");
}

TEST_F(StubTest, FullRunWithPath)
{
    std::wstring const exe = Bundle(L"fullpath.exe", OneCab);

    // A new directory is created for the run and removed again.
    std::wstring const fresh = work.file(L"new");
    ProcessResult r = RunStub(exe, Args({ L"--silent", L"--path", fresh }, NoCertificates), tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_FALSE(PathExists(fresh));

    // An existing directory is kept with whatever else is in it; only the package goes.
    std::wstring const existing = work.file(L"existing");
    ASSERT_TRUE(CreateDirectoryW(existing.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(existing + L"\\keep.txt", "mine"));
    r = RunStub(exe, Args({ L"--silent", L"--path", existing }, NoCertificates), tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(Entries(existing), std::vector<std::wstring>{ L"keep.txt" });
    EXPECT_EQ(FileContents(existing + L"\\keep.txt"), "mine");

    // A directory whose parent is missing cannot be created.
    std::wstring const orphan = work.file(L"missing\\child");
    r = RunStub(exe, Args({ L"--silent", L"--path", orphan }, NoCertificates), tmp.path());
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(NormalizeNewlines(r.err),
              ErrorLine(exe, "Failed to create extraction path '" + WideToUtf8(orphan) + "': ERR_PATH_NOT_FOUND"));
    EXPECT_FALSE(PathExists(work.file(L"missing")));
    EXPECT_TRUE(Entries(tmp.path()).empty());
}

TEST_F(StubTest, PackageSizesAroundTheVerificationBlock)
{
    for (size_t size : { (size_t)1, (size_t)65535, (size_t)65536, (size_t)65537, (size_t)3 * 65536 + 17 })
    {
        std::string const label = std::to_string(size);
        std::wstring const exe = Bundle(L"size" + Utf8ToWide(label) + L".exe", { { 1, "p.cab", PackageBytes(size, (unsigned)size) } });
        std::wstring const dir = work.file(L"out" + Utf8ToWide(label));
        ProcessResult r = RunStub(exe, { L"--silent", L"--extract", L"--path", dir }, tmp.path());
        EXPECT_EQ(r.exitCode, 0u) << label << r.err;
        EXPECT_EQ(FileContents(dir + L"\\p.cab"), PackageBytes(size, (unsigned)size)) << label;
        r = RunStub(exe, Args({ L"--silent" }, NoCertificates), tmp.path());
        EXPECT_EQ(r.exitCode, 0u) << label << r.err;
        EXPECT_TRUE(Entries(tmp.path()).empty()) << label;
    }
}

TEST_F(StubTest, ShippedSizePackageIsVerifiedWhole)
{
    // The size of the product's own package: 1,675 blocks of the read-back.
    size_t const size = 109760512;
    std::string const data = PackageBytes(size, 40);
    std::wstring const exe = Bundle(L"big.exe", { { 1, "big.msi", data } });
    std::wstring const dir = work.file(L"bigout");
    ProcessResult r = RunStub(exe, { L"--silent", L"--extract", L"--path", dir }, tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_TRUE(FileContents(dir + L"\\big.msi") == data);
}

TEST_F(StubTest, EmptyPayloadIsRefused)
{
    std::wstring const exe = Bundle(L"zero.exe", { { 1, "zero.cab", "" } });
    ProcessResult r = RunStub(exe, Args({ L"--silent" }, NoCertificates), tmp.path());
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(NormalizeNewlines(r.err), "error: #0: Failed to locate resource 'BIN_00': ERR_NO_DATA\n"
                                        + ErrorLine(exe, "Error extracting package #0 (zero.cab): ERR_NO_DATA"));
    EXPECT_TRUE(Entries(tmp.path()).empty());
}

TEST_F(StubTest, BrokenPackageResources)
{
    // The payload of package 0 is gone: the created file is removed again by the cleanup
    // of a full run, and stays empty after --extract.
    std::wstring const noPayload = Bundle(L"nopayload.exe", { { 1, "data.cab", "x", true } });
    ProcessResult r = RunStub(noPayload, Args({ L"--silent" }, NoCertificates), tmp.path());
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(NormalizeNewlines(r.err),
              "error: #0: Failed to locate resource 'BIN_00': ERR_GENERAL_FAILURE\n"
              + ErrorLine(noPayload, "Error extracting package #0 (data.cab): ERR_GENERAL_FAILURE"));
    EXPECT_TRUE(Entries(tmp.path()).empty());

    r = RunStub(noPayload, { L"--silent", L"--extract" }, tmp.path());
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(Entries(tmp.path()), std::vector<std::wstring>{ L"data.cab" });
    EXPECT_EQ(FileContents(tmp.file(L"data.cab")), "");
    DeleteFileW(tmp.file(L"data.cab").c_str());

    // The manifest counts a package that has no header.
    std::wstring const shortOfHeaders = Bundle(L"noheader.exe", OneCab, 2);
    r = RunStub(shortOfHeaders, Args({ L"--silent" }, NoCertificates), tmp.path());
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(NormalizeNewlines(r.err),
              ErrorLine(shortOfHeaders, "Internal error: Could not find package header #1: ERR_GENERAL_FAILURE"));
    EXPECT_TRUE(Entries(tmp.path()).empty());

    // No manifest at all: the plain stub.
    std::wstring const plain = work.file(L"plain.exe");
    ASSERT_TRUE(CopyFileW(StubExe().c_str(), plain.c_str(), FALSE));
    r = RunStub(plain, Args({ L"--silent" }, NoCertificates), tmp.path());
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(NormalizeNewlines(r.err), ErrorLine(plain, "Internal package error: Manifest not found (ERR_GENERAL_FAILURE)"));
    r = RunStub(plain, { L"--silent", L"--extract" }, tmp.path());
    EXPECT_EQ(r.exitCode, 1u);
}

TEST_F(StubTest, EmptyManifestIsASuccessfulRun)
{
    std::wstring const exe = Bundle(L"empty.exe", {});
    ProcessResult r = RunStub(exe, Args({ L"--silent" }, NoCertificates), tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_TRUE(Entries(tmp.path()).empty());
}

TEST_F(StubTest, PackagesThatDoNotApplyAreNeitherExtractedNorInstalled)
{
    // This machine is 64-bit Windows: x86 and unknown architectures do not apply.
    std::wstring const exe = Bundle(L"arch.exe", { { 2, "x86.msi", PackageBytes(10, 8) },
                                                   { 4, "other.msi", PackageBytes(10, 9) } });
    ProcessResult r = RunStub(exe, Args({ L"--silent" }, NoCertificates), tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(Entries(tmp.path()).empty());
}

// A package the installer does not know how to handle makes it show an error after the
// extraction: the run is caught inside that first message box with every package
// extracted, verified and held.
const std::vector<TestPackage> HeldPackages = {
    { 1, "named.cab", PackageBytes(70000, 10) },
    { 3, "unique.cab", PackageBytes(1234, 11) },
    { 2, "x86only.cab", PackageBytes(10, 12) },
    { 1, "odd.bin", PackageBytes(50, 13) },
};

TEST_F(StubTest, ExtractedFilesAreHeldUntilTheCleanup)
{
    std::wstring const exe = Bundle(L"held.exe", HeldPackages);
    std::wstring extractionDir;
    std::vector<std::wstring> names;
    bool readable = true, writable = false, deletable = false;
    BoxRunResult r = RunCatchingMessageBoxes(
        exe, BuildCommandLine(exe, NoCertificates), TempEnv(tmp.path()), work.path(), [&](size_t index, const MessageBoxCall &) {
            if (index != 0)
                return;
            std::vector<std::wstring> dirs = Entries(tmp.path());
            ASSERT_EQ(dirs.size(), 1u);
            EXPECT_TRUE(IsUniqueName(dirs[0], L"")) << WideToUtf8(dirs[0]);
            extractionDir = tmp.file(dirs[0]);
            names = Entries(extractionDir);
            for (const std::wstring &name : names)
            {
                std::wstring const path = extractionDir + L"\\" + name;
                readable = readable && CanOpen(path, GENERIC_READ);
                writable = writable || CanOpen(path, GENERIC_WRITE);
                deletable = deletable || CanOpen(path, DELETE);
            }
            EXPECT_EQ(FileContents(extractionDir + L"\\named.cab"), HeldPackages[0].data);
            EXPECT_EQ(FileContents(extractionDir + L"\\odd.bin"), HeldPackages[3].data);
        });
    ASSERT_TRUE(r.started);
    ASSERT_EQ(r.boxes.size(), 1u) << r.err;
    EXPECT_EQ(r.boxes[0].text, "Internal error: Do not know how to handle file 'odd.bin' ("
                                   + WideToUtf8(extractionDir) + "\\odd.bin).");
    EXPECT_EQ(r.exitCode, 1u) << r.err;

    // The x86 package does not apply; the amd64 one got a unique name.
    ASSERT_EQ(names.size(), 3u);
    EXPECT_TRUE(std::count(names.begin(), names.end(), L"named.cab"));
    EXPECT_TRUE(std::count(names.begin(), names.end(), L"odd.bin"));
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::wstring &n) { return IsUniqueName(n, L".cab"); }));
    EXPECT_TRUE(readable);
    EXPECT_FALSE(writable);
    EXPECT_FALSE(deletable);

    EXPECT_TRUE(Entries(tmp.path()).empty());
}

TEST_F(StubTest, CleanupRetriesAFileThatIsInUseAndReportsItOnce)
{
    std::wstring const exe = Bundle(L"inuse.exe", HeldPackages);
    HANDLE held = INVALID_HANDLE_VALUE;
    std::wstring heldPath, extractionDir;
    BoxRunResult r = RunCatchingMessageBoxes(
        exe, BuildCommandLine(exe, NoCertificates), TempEnv(tmp.path()), work.path(), [&](size_t index, const MessageBoxCall &) {
            if (index != 0)
                return;
            std::vector<std::wstring> dirs = Entries(tmp.path());
            ASSERT_EQ(dirs.size(), 1u);
            extractionDir = tmp.file(dirs[0]);
            heldPath = extractionDir + L"\\named.cab";
            // Reading is allowed; not sharing delete access keeps the installer from deleting it.
            held = CreateFileW(heldPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        });
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(r.exitCode, 1u);

    ASSERT_EQ(r.boxes.size(), 2u) << r.err;
    EXPECT_EQ(r.boxes[1].text, "Failed to delete temporary file '" + WideToUtf8(heldPath) + "': ERR_SHARING_VIOLATION");
    EXPECT_EQ(r.boxes[1].style, 0x10u);

    // Everything else is gone; the held file and its directory stay.
    EXPECT_EQ(Entries(extractionDir), std::vector<std::wstring>{ L"named.cab" });
    CloseHandle(held);
    EXPECT_TRUE(RemoveTree(extractionDir));
}

} // namespace

namespace {

// The small set that the 32-bit build runs as well (each process start is costly there).
class StubAcceptance : public StubTest
{
};

TEST_F(StubAcceptance, FullCabinetRun)
{
    std::wstring const exe = Bundle(L"accept.exe", { { 1, "any.cab", PackageBytes(70000, 20) },
                                                     { 2, "x86.cab", PackageBytes(100, 21) } });
    ProcessResult r = RunStub(exe, Args({ L"--silent" }, NoCertificates), tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(Entries(tmp.path()).empty());
}

TEST_F(StubAcceptance, ExtractRun)
{
    const std::vector<TestPackage> packages = { { 1, "any.cab", PackageBytes(70000, 22) },
                                                { 3, "amd64.cab", PackageBytes(100, 23) } };
    std::wstring const exe = Bundle(L"acceptx.exe", packages);
    std::wstring const dir = work.file(L"x");
    ProcessResult r = RunStub(exe, { L"--silent", L"--extract", L"--path", dir }, tmp.path());
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(NormalizeNewlines(r.out), "Files were extracted to: " + WideToUtf8(dir) + "\n");
    for (const TestPackage &p : packages)
        EXPECT_EQ(FileContents(dir + L"\\" + Utf8ToWide(p.fileName)), p.data) << p.fileName;
}

} // namespace

namespace {

TEST(LazyBinding, UnbindableCallsEndTheProcessWithADiagnostic)
{
    std::wstring const exe = TestProgramDir() + L"\\lazy_fatal.exe";
    ProcessResult ok = RunProcessArgs(exe, { L"ok" });
    ASSERT_TRUE(ok.started);
    EXPECT_EQ(ok.exitCode, 0u) << ok.err;

    const std::pair<const wchar_t *, std::string> cases[] = {
        { L"module", "Lazy loader failed to load \"NOSUCHLIB.DLL\": ERR_MODULE_NOT_FOUND\n" },
        { L"symbol", "Lazy loader failed to resolve symbol \"PlomLazyMissingSymbol\" in \"KERNEL32.DLL\": ERR_SYMBOL_NOT_FOUND\n" },
    };
    for (const auto &c : cases)
    {
        ProcessResult r = RunProcessArgs(exe, { c.first });
        ASSERT_TRUE(r.started);
        // The breakpoint that follows the diagnostic is an unhandled exception.
        EXPECT_EQ(r.exitCode, (unsigned long)EXCEPTION_BREAKPOINT) << WideToUtf8(c.first) << "\n" << r.err;
        EXPECT_NE(NormalizeNewlines(r.err).find(c.second), std::string::npos) << r.err;
    }
}

} // namespace
