// Runs a program under the test as its debugger and catches every MessageBoxW and
// MessageBoxA call it makes: the call's text, title and style are recorded, a callback
// runs while the program stands still inside the call, and the call then returns IDOK
// without showing anything. So interactive-mode runs can be checked exactly, never wait
// for a click, and can be paused at the first message at a known point of the run.
// The program starts without a console, as it would from the Windows shell.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace plomtest {

struct MessageBoxCall
{
    std::string   function;     // "MessageBoxW" or "MessageBoxA"
    std::string   text;         // UTF-8
    std::string   title;
    unsigned long style = 0;
    bool          desktopOwner = false;   // the owner window is the desktop window
};

struct BoxRunResult
{
    bool started = false;
    bool timedOut = false;
    unsigned long exitCode = 0;
    std::string out;
    std::string err;
    std::vector<MessageBoxCall> boxes;
    std::vector<std::wstring> loadedDlls;   // in load order, for diagnostics
};

// env entries are added to (or replace) the test's environment; an empty value removes
// the variable. outputDir receives the child's captured output files while it runs.
// onBox runs inside each caught call (the index counts from 0).
BoxRunResult RunCatchingMessageBoxes(const std::wstring &exe, const std::wstring &cmdLine,
                                     const std::vector<std::pair<std::wstring, std::wstring>> &env,
                                     const std::wstring &outputDir,
                                     const std::function<void(size_t, const MessageBoxCall &)> &onBox = {});

} // namespace plomtest
