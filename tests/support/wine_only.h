// Test helpers that work only under wine: observing calls through wine's relay and loader
// traces, and changing the Windows version wine reports to one program. Tests that use
// them should skip themselves (GTEST_SKIP) when RunningUnderWine() is false, so the rest
// of the suite still runs unchanged on Windows.
#pragma once

#include <string>
#include <vector>

#include "support/process_runner.h"

namespace plomtest {

// True when the process runs under wine (ntdll exports wine_get_version).
bool IsWine();

// True for a 32-bit program under wine whose 32-bit loader runs emulated (qemu's user
// emulation, where the host kernel cannot run 32-bit programs): every child process costs
// about a minute there, and some programs fail inside the emulator, so a few tests skip
// themselves or run only a representative few children.
bool Wine32BitLoaderIsEmulated();

namespace wine {

bool RunningUnderWine(); // the same as IsWine()

// The Windows version wine reports (RtlGetVersion, GetVersionEx) to programs whose file
// name is exeName ("PlomStub.exe"), from their next start on, through
// HKCU\Software\Wine\AppDefaults\<exeName>\Version. version is a wine name such as
// "win10", "win81", "win7", "win2008r2". The previous state is restored on destruction.
class AppVersionOverride {
public:
    AppVersionOverride(const std::wstring &exeName, const std::wstring &version);
    ~AppVersionOverride();
    AppVersionOverride(const AppVersionOverride &) = delete;
    AppVersionOverride &operator=(const AppVersionOverride &) = delete;
    bool ok() const { return ok_; }

private:
    std::wstring key_;
    bool ok_ = false;
    bool hadValue_ = false;
    std::wstring oldValue_;
};

// Runs a program like RunProcess and also collects wine's debug output for it: wine
// writes its traces to the Unix standard error that a process inherits, not to the
// Windows standard error handle, so the program is started from a launcher whose Unix
// standard error is a file. channels is a WINEDEBUG value such as L"+relay" or
// L"+loaddll"; the child and its own children get it. result.out and result.err hold what
// the program wrote itself; trace receives wine's lines (and wine's own diagnostics).
ProcessResult RunTraced(const std::wstring &exe, const std::wstring &cmdLine,
                        const std::wstring &channels, const ProcessOptions &options,
                        std::string &trace);

// Limits relay tracing (channels L"+relay") to the named functions, for example
// L"user32.MessageBoxW", through HKCU\Software\Wine\Debug\RelayInclude. The prefix is
// shared, so the names are added to what is there and the old value comes back on
// destruction.
class RelayInclude {
public:
    explicit RelayInclude(const std::wstring &functions);
    ~RelayInclude();
    RelayInclude(const RelayInclude &) = delete;
    RelayInclude &operator=(const RelayInclude &) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
    bool hadValue_ = false;
    std::wstring oldValue_;
};

struct MessageBoxCall {
    std::wstring text;
    std::wstring title;
    unsigned long style = 0;
    bool truncated = false; // wine shortens long strings in its traces ("...")
};

// Makes wine prefer a DLL file that the search order finds over its own built-in library of
// that name, for the named modules ("msi", ...) in programs named exeName, through
// HKCU\Software\Wine\AppDefaults\<exeName>\DllOverrides; restored on destruction. Real
// Windows loads what the search finds by itself, so a test that plants DLLs needs this only
// under wine. (WINEDLLOVERRIDES in a child's environment block does not reach wine's
// loader: it reads the Unix environment.)
class PreferFoundDlls {
public:
    PreferFoundDlls(const std::wstring &exeName, const std::vector<std::wstring> &names);
    ~PreferFoundDlls();
    PreferFoundDlls(const PreferFoundDlls &) = delete;
    PreferFoundDlls &operator=(const PreferFoundDlls &) = delete;
    bool ok() const { return ok_; }

private:
    std::wstring key_;
    bool ok_ = true;
    std::vector<std::wstring> names_;
    std::vector<bool> hadValue_;
    std::vector<std::wstring> oldValue_;
};

// The MessageBoxW calls in a relay trace, in order.
std::vector<MessageBoxCall> ParseMessageBoxCalls(const std::string &trace);
// Full Windows paths of the modules in a +loaddll trace, in load order.
std::vector<std::wstring> ParseLoadedModules(const std::string &trace);
// The text without wine's trace and diagnostic lines ("0024:trace:...", "0024:Call ...",
// "0024:fixme:...", and so on).
std::string StripTraceLines(const std::string &text);

} // namespace wine
} // namespace plomtest
