// Things that only work under wine, kept apart so that the rest of the tests stays plain
// Windows code. Tests that need them skip themselves elsewhere.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace plomtest {

bool RunningUnderWine();

// Message boxes cannot be read back from a headless run through the Windows API; wine's
// relay trace shows each MessageBox call with its text, title and style. This limits the
// trace to the message box functions (a prefix-wide registry setting) and returns the
// environment entry that switches the trace on for one child process.
std::pair<std::wstring, std::wstring> EnableMessageBoxTrace();

struct MessageBoxCall
{
    std::string function;   // "MessageBoxW" or "MessageBoxA"
    std::string text;       // as traced, escapes undone (UTF-8)
    std::string title;
    unsigned long style = 0;
};

// The calls found in a child's standard error while the trace was on.
std::vector<MessageBoxCall> ParseMessageBoxTrace(const std::string &err);

// Standard error without the trace lines and wine's own "no driver" complaints.
std::string StripWineNoise(const std::string &err);

} // namespace plomtest
