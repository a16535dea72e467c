// Full installations through the stub: real packages against the system's installer
// service, certificate stores and shell, each run in its own directory with its own
// temporary directory.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "install_fixture.h"
#include "plom_test_packages.h"
#include "support/wine_only.h"

using namespace plomtest;

namespace {

const std::wstring FilesProduct = PLOM_TEST_MSI_FILES_PRODUCT_CODE;
const std::wstring InstallDirProduct = PLOM_TEST_MSI_INSTALLDIR_PRODUCT_CODE;
const std::wstring SecondProduct = PLOM_TEST_MSI_SECOND_PRODUCT_CODE;
const std::wstring RebootProduct = PLOM_TEST_MSI_REBOOT_PRODUCT_CODE;
const std::wstring FailProduct = PLOM_TEST_MSI_FAIL_PRODUCT_CODE;

struct Certificate
{
    const wchar_t *store;
    const wchar_t *sha1;
};
const Certificate TimestampCa = { L"Root", PLOM_CERT_TIMESTAMP_CA_SHA1 };
const Certificate Publishers[] = { { L"TrustedPublisher", PLOM_CERT_PUBLISHER1_SHA1 },
                                   { L"TrustedPublisher", PLOM_CERT_PUBLISHER2_SHA1 } };

std::string Text(const ProcessResult &r)
{
    return "exit " + std::to_string(r.exitCode) + "\nstdout:\n" + r.out + "\nstderr:\n" + r.err;
}

bool Exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ExpectFilesIn(const std::wstring &dir)
{
    std::string readme;
    EXPECT_TRUE(ReadWholeFile(dir + L"\\" PLOM_TEST_PACKAGE_FILE1, readme)) << WideToUtf8(dir);
    EXPECT_EQ(0u, readme.find("Frostgrain test package")) << readme;
    EXPECT_TRUE(PathExists(dir + L"\\" PLOM_TEST_PACKAGE_FILE2)) << WideToUtf8(dir);
}

void RemoveAllCertificates()
{
    for (const Certificate &c : Publishers)
        ASSERT_TRUE(DeleteCertificates(c.store, c.sha1));
    ASSERT_TRUE(DeleteCertificates(TimestampCa.store, TimestampCa.sha1));
}

// Every test starts and ends without the test products and certificates, whatever an
// earlier, interrupted run left.
class InstallTest : public ::testing::Test
{
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        for (const std::wstring *p : { &FilesProduct, &InstallDirProduct, &SecondProduct, &RebootProduct,
                                       &FailProduct })
            ASSERT_TRUE(RemoveProduct(*p)) << WideToUtf8(*p);
        RemoveAllCertificates();
    }
};

class InstallAcceptance : public InstallTest {};
class CertificateTest : public InstallTest {};
class CustomFilesTest : public InstallTest {};

// The case of the release: a silent run of a bundle carrying one package.
TEST_F(InstallAcceptance, SilentRunInstallsThePackageAndTrustsThePublishers)
{
    BundleRun run;
    ASSERT_TRUE(run.Prepare(BuiltBundle(L"files"), L"files-setup.exe"));
    ProcessResult r = run.Run({ L"--silent" });
    ASSERT_TRUE(r.started);
    EXPECT_EQ(0u, r.exitCode) << Text(r);
    EXPECT_EQ(std::string::npos, r.err.find("error:")) << Text(r);

    EXPECT_TRUE(IsProductInstalled(FilesProduct));
    ExpectFilesIn(ProgramFilesX86() + L"\\" PLOM_TEST_MSI_FILES_DIR);
    for (const Certificate &c : Publishers)
        EXPECT_EQ(1, CountCertificates(c.store, c.sha1)) << WideToUtf8(c.sha1);
    EXPECT_TRUE(run.Leftovers().empty()) << "the extraction directory stays";
}

// The directory has spaces in its name: --msi-prop quotes it, --msiparams passes what it
// is given.
TEST_F(InstallTest, PropertiesAndParametersReachTheInstaller)
{
    for (bool viaMsiProp : { true, false })
    {
        SCOPED_TRACE(viaMsiProp ? "--msi-prop" : "--msiparams");
        BundleRun run;
        ASSERT_TRUE(run.Prepare(BuiltBundle(L"installdir"), L"installdir-setup.exe"));
        std::wstring const target = run.dir.file(L"Target Dir With Spaces");
        std::wstring const props = L"INSTALLDIR=\"" + target + L"\"";
        std::wstring const log = run.dir.file(L"my log.txt");
        std::vector<std::wstring> args = { L"--silent", L"--no-silent-cert", L"--no-install-timestamp-ca",
                                           L"--msi-log-file", log };
        if (viaMsiProp)
            args.insert(args.end(), { L"--msi-prop", L"INSTALLDIR", target });
        else
            args.insert(args.end(), { L"--msiparams", props });
        ProcessResult r = run.Run(args);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(0u, r.exitCode) << Text(r);

        ExpectFilesIn(target);
        EXPECT_FALSE(PathExists(ProgramFilesX86() + L"\\" PLOM_TEST_MSI_INSTALLDIR_DIR));

        std::string logText;
        EXPECT_TRUE(ReadWholeFile(log, logText)) << "no verbose log";
        EXPECT_NE(std::string::npos, logText.find("PlomStub Test Package installdir")) << logText.substr(0, 2000);
        EXPECT_NE(std::string::npos, logText.find("Target Dir With Spaces")) << logText.substr(0, 2000);
        // The log lives elsewhere: the extraction directory itself is removed.
        EXPECT_TRUE(run.Leftovers().empty());
        EXPECT_TRUE(RemoveProduct(InstallDirProduct, props));
    }
}

struct RebootCase
{
    const char *name;
    std::vector<std::wstring> args;
    unsigned long exitCode;
    bool infoLine;      // "Reboot required (by ...)" on standard output
    bool logKept;       // the extraction directory stays with PlomInstallLog.txt in it
};

class RebootTest : public InstallTest, public ::testing::WithParamInterface<RebootCase> {};

TEST_P(RebootTest, ExitCodeAndReport)
{
    const RebootCase &c = GetParam();
    BundleRun run;
    ASSERT_TRUE(run.Prepare(BuiltBundle(L"reboot"), L"reboot-setup.exe"));
    std::vector<std::wstring> args = { L"--silent", L"--no-silent-cert", L"--no-install-timestamp-ca" };
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProcessResult r = run.Run(args);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(c.exitCode, r.exitCode) << Text(r);
    EXPECT_TRUE(IsProductInstalled(RebootProduct));

    std::regex const info("reboot-setup\\.exe: info: Reboot required \\(by .*\\\\plomtest-reboot\\.msi\\)\\r?\\n");
    EXPECT_EQ(c.infoLine, std::regex_search(r.out, info)) << Text(r);
    EXPECT_EQ(std::string::npos, r.err.find("error:")) << Text(r);

    std::vector<std::wstring> left = run.Leftovers();
    if (c.logKept)
    {
        ASSERT_EQ(1u, left.size());
        std::vector<std::wstring> inside;
        ASSERT_TRUE(ListDirectory(run.temp + L"\\" + left[0], inside));
        EXPECT_EQ(std::vector<std::wstring>{ L"PlomInstallLog.txt" }, inside) << "only the log stays";
        std::string logText;
        ASSERT_TRUE(ReadWholeFile(run.temp + L"\\" + left[0] + L"\\PlomInstallLog.txt", logText));
        EXPECT_NE(std::string::npos, logText.find("PlomStub Test Package reboot")) << logText.substr(0, 2000);
    }
    else
        EXPECT_TRUE(left.empty());
}

INSTANTIATE_TEST_SUITE_P(Reboot, RebootTest, ::testing::Values(
    RebootCase{ "Reported", {}, 3010, true, false },
    RebootCase{ "IgnoredWithLog", { L"--ignore-reboot", L"--logging" }, 0, true, true }),
    [](const ::testing::TestParamInfo<RebootCase> &info) { return std::string(info.param.name); });

TEST_F(InstallTest, LaterSuccessKeepsAnEarlierRebootRequest)
{
    BundleRun run;
    ASSERT_TRUE(run.Prepare(BuiltBundle(L"reboot-second"), L"two-setup.exe"));
    ProcessResult r = run.Run({ L"--silent", L"--no-silent-cert", L"--no-install-timestamp-ca" });
    ASSERT_TRUE(r.started);
    EXPECT_EQ(3010u, r.exitCode) << Text(r);
    EXPECT_TRUE(IsProductInstalled(RebootProduct));
    EXPECT_TRUE(IsProductInstalled(SecondProduct)) << "the second package was not installed";
    EXPECT_TRUE(run.Leftovers().empty());
}

TEST_F(InstallTest, FailedPackageStopsTheRunAndIsCleanedUp)
{
    BundleRun run;
    ASSERT_TRUE(run.Prepare(BuiltBundle(L"fail-second"), L"fail-setup.exe"));
    ProcessResult r = run.Run({ L"--silent", L"--no-silent-cert", L"--no-install-timestamp-ca" });
    ASSERT_TRUE(r.started);
    EXPECT_EQ(1u, r.exitCode) << Text(r);

    std::string const text = SystemErrorText(ERROR_INSTALL_FAILURE);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(std::string::npos, r.err.find("fail-setup.exe: error: Installation failed! Error: " + text)) << Text(r);
    EXPECT_EQ(1u, CountOccurrences(r.err, "Installation failed!")) << Text(r);
    EXPECT_FALSE(IsProductInstalled(FailProduct));
    EXPECT_FALSE(IsProductInstalled(SecondProduct)) << "a package after the failed one was installed";
    EXPECT_TRUE(run.Leftovers().empty()) << "extracted files were left behind";
}

TEST_F(InstallTest, CorruptPackageIsReportedWithTheInstallersText)
{
    BundleRun run;
    ASSERT_TRUE(run.Prepare(BuiltBundle(L"corrupt"), L"corrupt-setup.exe"));
    ProcessResult r = run.Run({ L"--silent", L"--no-silent-cert", L"--no-install-timestamp-ca" });
    ASSERT_TRUE(r.started);
    EXPECT_EQ(1u, r.exitCode) << Text(r);

    // What the service answers for a file that is no database differs between
    // implementations; it is one of these, described in the system's words.
    bool found = false;
    for (unsigned long code : { ERROR_INSTALL_PACKAGE_INVALID, ERROR_INSTALL_PACKAGE_OPEN_FAILED,
                                ERROR_FUNCTION_FAILED, ERROR_INSTALL_FAILURE })
    {
        std::string const text = SystemErrorText(code);
        found |= !text.empty() && r.err.find("error: Installation failed! Error: " + text) != std::string::npos;
    }
    EXPECT_TRUE(found) << Text(r);
    EXPECT_TRUE(run.Leftovers().empty());
}

// Certificates: a bundle of one cabinet runs every step but the installer service.
struct CertCase
{
    const char *name;
    const wchar_t *windows;     // what wine reports to the stub ("win10": a workstation)
    std::vector<std::wstring> args;
    bool timestampCa;
    bool publishers;
};

class CertificateRuleTest : public InstallTest, public ::testing::WithParamInterface<CertCase> {};

TEST_P(CertificateRuleTest, StoresAfterASilentRun)
{
    const CertCase &c = GetParam();
    if (!IsWine())
        GTEST_SKIP() << "needs a Windows version of the test's choosing";
    BundleRun run;
    std::wstring const exeName = L"plom-cert-" + Utf8ToWide(c.name) + L".exe";
    ASSERT_TRUE(run.Prepare(BuiltBundle(L"cab"), exeName));
    ProcessResult r;
    {
        wine::AppVersionOverride version(exeName, c.windows);
        ASSERT_TRUE(version.ok());
        std::vector<std::wstring> args = { L"--silent" };
        args.insert(args.end(), c.args.begin(), c.args.end());
        r = run.Run(args);
    }
    ASSERT_TRUE(r.started);
    EXPECT_EQ(0u, r.exitCode) << Text(r);

    EXPECT_EQ(c.timestampCa ? 1 : 0, CountCertificates(TimestampCa.store, TimestampCa.sha1)) << Text(r);
    for (const Certificate &p : Publishers)
    {
        EXPECT_EQ(c.publishers ? 1 : 0, CountCertificates(p.store, p.sha1)) << WideToUtf8(p.sha1);
        EXPECT_EQ(0, CountCertificates(L"Root", p.sha1)) << "a publisher went into Root";
    }
    EXPECT_EQ(0, CountCertificates(L"TrustedPublisher", TimestampCa.sha1)) << "the CA went into TrustedPublisher";
}

INSTANTIATE_TEST_SUITE_P(Rule, CertificateRuleTest, ::testing::Values(
    CertCase{ "win10", L"win10", {}, false, true },
    CertCase{ "win81", L"win81", {}, true, true },
    // wine's "win7" is a server product type of version 6.1
    CertCase{ "win7server", L"win7", {}, true, true },
    CertCase{ "win10forced", L"win10", { L"--force-install-timestamp-ca" }, true, true },
    CertCase{ "win81noca", L"win81", { L"--no-install-timestamp-ca" }, false, true },
    CertCase{ "win81nopub", L"win81", { L"--no-silent-cert" }, true, false },
    CertCase{ "win10none", L"win10", { L"--no-silent-cert", L"--force-install-timestamp-ca",
                                       L"--no-install-timestamp-ca" }, false, false }),
    [](const ::testing::TestParamInfo<CertCase> &info) { return std::string(info.param.name); });

TEST_F(CertificateTest, AddingTwiceLeavesOneCopy)
{
    BundleRun run;
    ASSERT_TRUE(run.Prepare(BuiltBundle(L"cab"), L"cert-twice.exe"));
    for (int i = 0; i < 2; i++)
    {
        ProcessResult r = run.Run({ L"--silent", L"--force-install-timestamp-ca" });
        ASSERT_TRUE(r.started);
        EXPECT_EQ(0u, r.exitCode) << Text(r);
    }
    EXPECT_EQ(1, CountCertificates(TimestampCa.store, TimestampCa.sha1));
    for (const Certificate &p : Publishers)
        EXPECT_EQ(1, CountCertificates(p.store, p.sha1)) << WideToUtf8(p.sha1);
}

TEST_F(CertificateTest, AdditionCreatesAMissingStoreAndRejectsWhatIsNoCertificate)
{
    std::wstring const tool = ProgramNextToTest(L"cert_add.exe");
    std::wstring const store = L"PlomTestStore" + std::to_wstring(GetCurrentProcessId()) + L"x"
                             + std::to_wstring(GetTickCount());
    ASSERT_FALSE(SystemStoreExists(store));
    for (int i = 0; i < 2; i++)
    {
        ProcessResult r = RunProcessArgs(tool, { store, L"publisher2" });
        ASSERT_TRUE(r.started);
        EXPECT_EQ(0u, r.exitCode) << Text(r);
        EXPECT_EQ("", r.err);
    }
    EXPECT_EQ(1, CountCertificates(store, Publishers[1].sha1));

    ProcessResult r = RunProcessArgs(tool, { store, L"garbage" });
    ASSERT_TRUE(r.started);
    EXPECT_EQ(1u, r.exitCode) << Text(r);
    EXPECT_TRUE(std::regex_match(r.err, std::regex("cert_add\\.exe: error: Unable to get certificate context: -?[0-9]+\\r?\\n")))
        << Text(r);
    EXPECT_TRUE(DeleteCertificates(store, Publishers[1].sha1));
    DeleteSystemStore(store);
}

TEST_F(CertificateTest, FailedAdditionStopsTheRunBeforeAnyPackage)
{
    struct Case
    {
        const char *bundle;
        std::vector<std::wstring> args;
        const char *summary;
    } const cases[] = {
        { "badcert-cab", { L"--silent", L"--force-install-timestamp-ca" },
          "error: Failed add the legacy Windows timestamp CA to the root certificate store." },
        { "badcert-second", { L"--silent", L"--no-install-timestamp-ca" },
          "error: Failed to add our certificate(s) to trusted publisher store." },
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(c.bundle);
        BundleRun run;
        ASSERT_TRUE(run.Prepare(BuiltBundle(Utf8ToWide(c.bundle)), L"badcert.exe"));
        ProcessResult r = run.Run(c.args);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(1u, r.exitCode) << Text(r);
        // The first failure ends the certificate steps: one report, then the summary.
        EXPECT_EQ(1u, CountOccurrences(r.err, "error: Unable to get certificate context: ")) << Text(r);
        EXPECT_EQ(1u, CountOccurrences(r.err, c.summary)) << Text(r);
        EXPECT_FALSE(IsProductInstalled(SecondProduct));
        EXPECT_TRUE(run.Leftovers().empty());
    }
}

// A ".custom" beside the executable: a directory travels whole into the extraction
// directory, which then stays; anything else changes nothing.
TEST_F(CustomFilesTest, DirectoryIsCopiedWholeAndKept)
{
    BundleRun run;
    ASSERT_TRUE(run.Prepare(BuiltBundle(L"cab"), L"custom-setup.exe"));
    std::wstring const custom = run.dir.file(L".custom");
    ASSERT_TRUE(CreateDirectoryW(custom.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((custom + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((custom + L"\\sub\\deeper").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((custom + L"\\empty").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(custom + L"\\top.txt", "top"));
    ASSERT_TRUE(WriteWholeFile(custom + L"\\sub\\middle.txt", "middle"));
    ASSERT_TRUE(WriteWholeFile(custom + L"\\sub\\deeper\\bottom.txt", "bottom"));

    ProcessResult r = run.Run({ L"--silent", L"--no-silent-cert", L"--no-install-timestamp-ca" });
    ASSERT_TRUE(r.started);
    EXPECT_EQ(0u, r.exitCode) << Text(r);
    EXPECT_EQ(std::string::npos, r.err.find("error:")) << Text(r);

    std::vector<std::wstring> left = run.Leftovers();
    ASSERT_EQ(1u, left.size()) << "the extraction directory should stay";
    std::wstring const copied = run.temp + L"\\" + left[0] + L"\\.custom";
    std::vector<std::wstring> names;
    ASSERT_TRUE(ListDirectory(run.temp + L"\\" + left[0], names));
    EXPECT_EQ(std::vector<std::wstring>{ L".custom" }, names) << "the package was not removed";
    ASSERT_TRUE(ListDirectory(copied, names));
    EXPECT_EQ((std::vector<std::wstring>{ L"empty", L"sub", L"top.txt" }), names);
    ASSERT_TRUE(ListDirectory(copied + L"\\sub", names));
    EXPECT_EQ((std::vector<std::wstring>{ L"deeper", L"middle.txt" }), names);
    std::string data;
    EXPECT_TRUE(ReadWholeFile(copied + L"\\top.txt", data));
    EXPECT_EQ("top", data);
    EXPECT_TRUE(ReadWholeFile(copied + L"\\sub\\deeper\\bottom.txt", data));
    EXPECT_EQ("bottom", data);
    EXPECT_TRUE(IsDirectory(copied + L"\\empty"));
    // The source is untouched.
    EXPECT_TRUE(ReadWholeFile(custom + L"\\sub\\middle.txt", data));
    EXPECT_EQ("middle", data);
}

TEST_F(CustomFilesTest, NoDirectoryChangesNothing)
{
    for (bool asFile : { false, true })
    {
        SCOPED_TRACE(asFile ? "a file named .custom" : "no .custom");
        BundleRun run;
        ASSERT_TRUE(run.Prepare(BuiltBundle(L"cab"), L"custom-setup.exe"));
        if (asFile)
            ASSERT_TRUE(WriteWholeFile(run.dir.file(L".custom"), "not a directory"));
        ProcessResult r = run.Run({ L"--silent", L"--no-silent-cert", L"--no-install-timestamp-ca" });
        ASSERT_TRUE(r.started);
        EXPECT_EQ(0u, r.exitCode) << Text(r);
        EXPECT_EQ("", r.out);
        EXPECT_EQ(std::string::npos, r.err.find("error:")) << Text(r);
        EXPECT_TRUE(run.Leftovers().empty()) << "the extraction directory stays";
    }
}

} // namespace

namespace {

std::wstring Lower(std::wstring s)
{
    for (wchar_t &ch : s)
        ch = (wchar_t)towlower(ch);
    return s;
}

std::wstring FileName(const std::wstring &path)
{
    return Lower(path.substr(path.find_last_of(L'\\') + 1));
}

bool Loaded(const std::vector<std::wstring> &modules, const wchar_t *name)
{
    for (const std::wstring &m : modules)
        if (FileName(m) == name)
            return true;
    return false;
}

// Libraries that a run binds on first use are loaded only when the run needs them, and
// only from the system directory.
TEST_F(InstallTest, LibrariesAreLoadedOnlyWhenNeededFromTheSystemDirectory)
{
    if (!wine::RunningUnderWine())
        GTEST_SKIP() << "needs wine's loader trace";
    wchar_t sysDir[MAX_PATH];
    UINT n = GetSystemDirectoryW(sysDir, MAX_PATH);
    ASSERT_GT(n, 0u);
    std::wstring const systemDir = Lower(std::wstring(sysDir, n)) + L"\\";
    // The manifest's common controls come from the side-by-side store of the Windows
    // directory, as the activation context says.
    wchar_t winDir[MAX_PATH];
    n = GetWindowsDirectoryW(winDir, MAX_PATH);
    ASSERT_GT(n, 0u);
    std::wstring const sideBySide = Lower(std::wstring(winDir, n)) + L"\\winsxs\\";

    BundleRun run;
    ASSERT_TRUE(run.Prepare(BuiltBundle(L"files"), L"lazy-setup.exe"));
    ProcessOptions options;
    options.env = { { L"KELP_TMPDIR", L"" }, { L"TMP", run.temp }, { L"TEMP", run.temp } };
    options.workDir = run.dir.path();

    std::string trace;
    ProcessResult r = wine::RunTraced(run.exe, BuildCommandLine(run.exe, { L"--extract", L"--silent" }),
                                      L"+loaddll", options, trace);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(0u, r.exitCode) << Text(r);
    std::vector<std::wstring> modules = wine::ParseLoadedModules(trace);
    ASSERT_FALSE(modules.empty()) << trace;
    for (const wchar_t *name : { L"msi.dll", L"crypt32.dll", L"user32.dll", L"shell32.dll", L"comctl32.dll" })
        EXPECT_FALSE(Loaded(modules, name)) << WideToUtf8(name) << " in an extract-only run";

    r = wine::RunTraced(run.exe, BuildCommandLine(run.exe, { L"--silent" }), L"+loaddll", options, trace);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(0u, r.exitCode) << Text(r);
    EXPECT_TRUE(IsProductInstalled(FilesProduct));
    modules = wine::ParseLoadedModules(trace);
    for (const wchar_t *name : { L"msi.dll", L"crypt32.dll", L"comctl32.dll" })
        EXPECT_TRUE(Loaded(modules, name)) << WideToUtf8(name) << " not loaded by a full run";
    // user32 and shell32 are not checked here: wine's crypt32 and msi import them.
    for (const std::wstring &m : modules)
        if (Lower(m) != Lower(run.exe))
            EXPECT_TRUE(Lower(m).find(systemDir) == 0 || Lower(m).find(sideBySide) == 0) << WideToUtf8(m);
}

} // namespace
