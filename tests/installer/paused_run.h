// Runs a program under the test as its debugger and stops it at the moment it first loads
// a given DLL, so that a test can look at the files it holds open at that point. The
// installer binds USER32.DLL only when it shows its first message box, which makes that
// load a reliable pause point in the middle of a run.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace plomtest {

struct PausedRunResult
{
    bool started = false;
    bool paused = false;            // the DLL was loaded and the callback ran
    bool timedOut = false;
    unsigned long exitCode = 0;
    std::string out;
    std::string err;
};

// env entries are added to (or replace) the test's environment; an empty value removes
// the variable. outputDir receives the child's captured output files.
PausedRunResult RunPausedAtDllLoad(const std::wstring &exe, const std::wstring &cmdLine,
                                   const std::vector<std::pair<std::wstring, std::wstring>> &env,
                                   const std::wstring &outputDir, const std::wstring &dllFileName,
                                   const std::function<void()> &atPause);

} // namespace plomtest
