// Starts a program for a black-box test and collects what it wrote and how it ended.
// Windows API and the C++ standard library only, so the tests run unchanged on Windows.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace plomtest {

struct ProcessOptions {
    // Empty: the test's own current directory.
    std::wstring workDir;
    // Added to (or replacing, names compared case-insensitively) the test's environment.
    // An empty value removes the variable.
    std::vector<std::pair<std::wstring, std::wstring>> env;
    // Bytes fed to the child's standard input; otherwise it reads from NUL.
    std::string stdinData;
    // The child is killed when it runs longer; generous because wine can be slow to start.
    unsigned long timeoutMs = 10 * 60 * 1000;
};

struct ProcessResult {
    bool started = false;        // CreateProcessW succeeded
    unsigned long startError = 0; // GetLastError() when it did not
    bool timedOut = false;       // killed after timeoutMs
    unsigned long exitCode = 0;
    std::string out;             // raw bytes of standard output
    std::string err;             // raw bytes of standard error
};

// cmdLine is the whole command line as the child sees it, normally starting with the
// program's (quoted) name; see QuoteArg and BuildCommandLine.
ProcessResult RunProcess(const std::wstring &exe, const std::wstring &cmdLine,
                         const ProcessOptions &options = ProcessOptions());
ProcessResult RunProcess(const std::string &exeUtf8, const std::string &cmdLineUtf8,
                         const ProcessOptions &options = ProcessOptions());
// Quotes each argument by the Windows rules and puts the quoted exe first.
ProcessResult RunProcessArgs(const std::wstring &exe, const std::vector<std::wstring> &args,
                             const ProcessOptions &options = ProcessOptions());

// One argument quoted so that CommandLineToArgvW gives it back unchanged.
std::wstring QuoteArg(const std::wstring &arg);
std::wstring BuildCommandLine(const std::wstring &exe, const std::vector<std::wstring> &args);

std::wstring Utf8ToWide(const std::string &s);
std::string WideToUtf8(const std::wstring &s);

// Text output with CR LF pairs turned into LF, for comparing with expected texts.
std::string NormalizeNewlines(const std::string &s);

} // namespace plomtest
