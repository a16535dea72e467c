// The installer's option pass, driven directly: what each command line leaves in the
// settings and the MSI parameter string, and which command lines end the program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <kelp/init.h>

#include "PlomStub.h"

namespace {

class StubOptionsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { ASSERT_EQ(RTR3Init(0, nullptr, 4), 0); }

    void SetUp() override
    {
        silent = false;
        verbosity = 0;
        InitStubOptions(&options);
    }

    // Runs the pass over "PlomStub.exe" plus args; returns true when the run would go on.
    bool Parse(const std::vector<std::string> &args)
    {
        storage.assign(1, "PlomStub.exe");
        storage.insert(storage.end(), args.begin(), args.end());
        argv.clear();
        for (std::string &s : storage)
            argv.push_back(&s[0]);
        argv.push_back(nullptr);
        exitCode = -1;
        return ParseStubOptions((int)storage.size(), argv.data(), &options, &exitCode);
    }

    StubOptions options;
    int exitCode = -1;
    std::vector<std::string> storage;
    std::vector<char *> argv;
};

TEST_F(StubOptionsTest, NoArgumentsKeepTheDefaults)
{
    ASSERT_TRUE(Parse({}));
    EXPECT_FALSE(options.extractOnly);
    EXPECT_FALSE(silent);
    EXPECT_TRUE(options.installCertificates);
    EXPECT_TRUE(options.installTimestampCa);
    EXPECT_FALSE(options.forceTimestampCa);
    EXPECT_FALSE(options.enableLogging);
    EXPECT_FALSE(options.ignoreReboot);
    EXPECT_EQ(verbosity, 0u);
    EXPECT_STREQ(options.extractionPath, "");
    EXPECT_STREQ(options.msiLogFile, "");
    EXPECT_STREQ(options.msiParameters, "");
}

struct FlagCase
{
    std::vector<std::string> args;
    bool extractOnly, silent, installCertificates, installTimestampCa, forceTimestampCa, enableLogging, ignoreReboot;
    uint32_t verbosity;
};

TEST_F(StubOptionsTest, EveryOptionSpellingSetsItsField)
{
    //                                                              x      s      cert   tsCa   force  log    reboot v
    const FlagCase cases[] = {
        { { "--extract" },                                          true,  false, true,  true,  false, false, false, 0 },
        { { "-extract" },                                           true,  false, true,  true,  false, false, false, 0 },
        { { "/extract" },                                           true,  false, true,  true,  false, false, false, 0 },
        { { "-x" },                                                 true,  false, true,  true,  false, false, false, 0 },
        { { "--silent" },                                           false, true,  true,  true,  false, false, false, 0 },
        { { "-silent" },                                            false, true,  true,  true,  false, false, false, 0 },
        { { "/silent" },                                            false, true,  true,  true,  false, false, false, 0 },
        { { "-s" },                                                 false, true,  true,  true,  false, false, false, 0 },
        { { "--no-silent-cert" },                                   false, false, false, true,  false, false, false, 0 },
        { { "-no-silent-cert" },                                    false, false, false, true,  false, false, false, 0 },
        { { "/no-silent-cert" },                                    false, false, false, true,  false, false, false, 0 },
        { { "--no-install-timestamp-ca" },                          false, false, true,  false, false, false, false, 0 },
        { { "--force-install-timestamp-ca" },                       false, false, true,  true,  true,  false, false, 0 },
        { { "--no-install-timestamp-ca", "--force-install-timestamp-ca" },
                                                                    false, false, true,  true,  true,  false, false, 0 },
        { { "--force-install-timestamp-ca", "--no-install-timestamp-ca" },
                                                                    false, false, true,  false, true,  false, false, 0 },
        { { "--logging" },                                          false, false, true,  true,  false, true,  false, 0 },
        { { "-logging" },                                           false, false, true,  true,  false, true,  false, 0 },
        { { "/logging" },                                           false, false, true,  true,  false, true,  false, 0 },
        { { "--ignore-reboot" },                                    false, false, true,  true,  false, false, true,  0 },
        { { "-r" },                                                 false, false, true,  true,  false, false, true,  0 },
        { { "--verbose" },                                          false, false, true,  true,  false, false, false, 1 },
        { { "-verbose", "/verbose", "-v" },                         false, false, true,  true,  false, false, false, 3 },
        { { "-vs" },                                                false, true,  true,  true,  false, false, false, 1 },
    };
    for (const FlagCase &c : cases)
    {
        SetUp();
        std::string const label = ::testing::PrintToString(c.args);
        ASSERT_TRUE(Parse(c.args)) << label;
        EXPECT_EQ(options.extractOnly, c.extractOnly) << label;
        EXPECT_EQ(silent, c.silent) << label;
        EXPECT_EQ(options.installCertificates, c.installCertificates) << label;
        EXPECT_EQ(options.installTimestampCa, c.installTimestampCa) << label;
        EXPECT_EQ(options.forceTimestampCa, c.forceTimestampCa) << label;
        EXPECT_EQ(options.enableLogging, c.enableLogging) << label;
        EXPECT_EQ(options.ignoreReboot, c.ignoreReboot) << label;
        EXPECT_EQ(verbosity, c.verbosity) << label;
    }
}

struct ParamCase
{
    std::vector<std::string> args;
    const char *expected;
};

TEST_F(StubOptionsTest, MsiParameterStringIsBuiltInCommandLineOrder)
{
    const ParamCase cases[] = {
        { { "--msiparams", "A=1", "B=2" },                      "A=1 B=2" },
        { { "-msiparams", "A=1", "-m", "B=2" },                 "A=1 B=2" },
        { { "--msiparams=PROP=\"a b\"" },                       "PROP=\"a b\"" },
        { { "--reinstall", "--msiparams", "X=1" },              "REINSTALLMODE=vomus REINSTALL=ALL X=1" },
        { { "--msiparams", "X=1", "--reinstall" },              "X=1 REINSTALLMODE=vomus REINSTALL=ALL" },
        { { "-reinstall" },                                     "REINSTALLMODE=vomus REINSTALL=ALL" },
        { { "/reinstall", "extra" },                            "REINSTALLMODE=vomus REINSTALL=ALL extra" },
        { { "--msi-prop", "INSTALLDIR", "C:\\a b" },            "INSTALLDIR=\"C:\\a b\"" },
        { { "--msi-prop", "INSTALLDIR", "C:\\a b", "--msi-prop", "A", "1" },
                                                                "INSTALLDIR=\"C:\\a b\" A=1" },
        { { "--msi-prop", "T", "a\tb" },                        "T=\"a\tb\"" },
        { { "--msi-prop", "Q", "say\"hi\"" },                   "Q=say\"hi\"" },
        { { "-P", "A", "" },                                    "A=" },
        { { "--msi-prop", "A", "--silent" },                    "A=--silent" },
    };
    for (const ParamCase &c : cases)
    {
        SetUp();
        std::string const label = ::testing::PrintToString(c.args);
        ASSERT_TRUE(Parse(c.args)) << label;
        EXPECT_STREQ(options.msiParameters, c.expected) << label;
    }
}

TEST_F(StubOptionsTest, ParameterStringHoldsExactly4095Characters)
{
    std::string const big(4092, 'a');
    ASSERT_TRUE(Parse({ "--msiparams", big, "bc" }));
    EXPECT_EQ(std::string(options.msiParameters), big + " bc");

    SetUp();
    EXPECT_FALSE(Parse({ "--silent", "--msiparams", big, "bcd" }));
    EXPECT_EQ(exitCode, 2);

    // The same limit through a property: 4095 fits, 4096 does not.
    SetUp();
    ASSERT_TRUE(Parse({ "--msi-prop", "P", std::string(4093, 'v') }));
    EXPECT_EQ(std::string(options.msiParameters).size(), 4095u);
    SetUp();
    EXPECT_FALSE(Parse({ "--silent", "--msi-prop", "P", std::string(4094, 'v') }));
    EXPECT_EQ(exitCode, 2);
}

TEST_F(StubOptionsTest, PathOptionsAreMadeAbsoluteOrReset)
{
    ASSERT_TRUE(Parse({ "--path", "sub\\dir", "--msi-log-file", "log.txt" }));
    std::string const path = options.extractionPath;
    std::string const log = options.msiLogFile;
    ASSERT_GE(path.size(), 3u);
    EXPECT_EQ(path[1], ':') << path;
    EXPECT_EQ(path.substr(path.size() - 8), "\\sub\\dir") << path;
    EXPECT_EQ(log.substr(log.size() - 8), "\\log.txt") << log;

    // An empty value brings the default back, also after an earlier value.
    SetUp();
    ASSERT_TRUE(Parse({ "-p", "C:\\x", "--path=", "-msilogfile", "C:\\l", "--msi-log-file=" }));
    EXPECT_STREQ(options.extractionPath, "");
    EXPECT_STREQ(options.msiLogFile, "");

    const std::vector<std::string> spellings[] = {
        { "--path=C:\\x" }, { "--path:C:\\x" }, { "/path=C:\\x" }, { "-pC:\\x" }, { "-p:C:\\x" }, { "-path", "C:\\x" },
    };
    for (const std::vector<std::string> &args : spellings)
    {
        SetUp();
        ASSERT_TRUE(Parse(args)) << args[0];
        EXPECT_STREQ(options.extractionPath, "C:\\x") << args[0];
    }
}

struct EarlyExitCase
{
    std::vector<std::string> args;
    int exitCode;
};

TEST_F(StubOptionsTest, HelpVersionAndErrorsEndThePass)
{
    const EarlyExitCase cases[] = {
        { { "--silent", "--version" },                       0 },
        { { "--silent", "-V" },                              0 },
        { { "--silent", "/version", "--bogus" },             0 },
        { { "--silent", "-?" },                              0 },
        { { "--silent", "/?" },                              0 },
        { { "--silent", "-h" },                              0 },
        { { "--silent", "/help", "--bogus" },                0 },
        { { "--silent", "--bogus" },                         2 },
        { { "--silent", "-" },                               2 },
        { { "--silent", "--silent=yes" },                    2 },
        { { "--silent", "foo" },                             2 },
        { { "--silent", "--path" },                          2 },
        { { "--silent", "--msi-prop", "A B", "x" },          2 },
        { { "--silent", "--msi-prop", "A\tB", "x" },         2 },
        { { "--silent", "--msi-prop", "A" },                 2 },
        { { "--silent", "--msi-prop", "", "" },              2 },
        { { "--silent", "--path", std::string(5000, 'p') },  2 },
        { { "--silent", "--msi-log-file", std::string(5000, 'l') }, 2 },
    };
    for (const EarlyExitCase &c : cases)
    {
        SetUp();
        std::string const label = ::testing::PrintToString(c.args);
        EXPECT_FALSE(Parse(c.args)) << label;
        EXPECT_EQ(exitCode, c.exitCode) << label;
    }
}

TEST_F(StubOptionsTest, FindAnyCharReportsTheFirstMatch)
{
    const char text[] = "ab c\td";
    EXPECT_EQ(FindAnyChar(text, " \t\n\r"), text + 2);
    EXPECT_EQ(FindAnyChar(text, "\td"), text + 4);
    EXPECT_EQ(FindAnyChar(text, "xyz"), nullptr);
    EXPECT_EQ(FindAnyChar("", " "), nullptr);
}

} // namespace
