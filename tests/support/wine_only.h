// Things that only work under wine. Tests that need them skip elsewhere.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace plomtest {

// True when the process runs under wine (ntdll exports wine_get_version).
bool IsWine();

// Sets what wine reports as the Windows version ("win10", "win7", ...) to programs named
// exeName (HKCU\Software\Wine\AppDefaults\<exeName>\Version), from their next start on.
// An empty version removes the setting. Returns false when the registry refused.
bool WineSetAppVersion(const std::wstring &exeName, const std::wstring &version);

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
