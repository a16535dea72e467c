// The process runner and temporary directories that every black-box suite relies on.
// The program starts itself as the child: a static initialiser recognises the child's
// marker argument and acts before GoogleTest sees the command line.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "support/wine_only.h"

using namespace plomtest;

namespace {

const wchar_t kChildMarker[] = L"--runner-child";

void WriteAll(HANDLE h, const std::string &s)
{
    size_t done = 0;
    while (done < s.size()) {
        DWORD n = 0;
        if (!WriteFile(h, s.data() + done, (DWORD)(s.size() - done), &n, nullptr))
            return;
        done += n;
    }
}

std::string Fill(char c, size_t n)
{
    std::string s(n, c);
    for (size_t i = 0; i < n; i += 997)
        s[i] = (char)('A' + (i / 997) % 26);
    return s;
}

// Child modes: argv[2] names what to do.
int RunChild(int argc, wchar_t **argv)
{
    std::wstring mode = argv[2];
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE);
    if (mode == L"args") {
        // Each argument after the mode, one per line, as UTF-8.
        for (int i = 3; i < argc; i++)
            WriteAll(out, WideToUtf8(argv[i]) + "\n");
        return 0;
    }
    if (mode == L"flood") {
        // Much more than a pipe buffer on both streams, alternating, so a runner that
        // reads one stream to its end before the other deadlocks.
        for (int i = 0; i < 64; i++) {
            WriteAll(err, Fill('e', 16384));
            WriteAll(out, Fill('o', 16384));
        }
        return 7;
    }
    if (mode == L"env") {
        wchar_t buf[1024];
        DWORD n = GetEnvironmentVariableW(argv[3], buf, 1024);
        WriteAll(out, n ? WideToUtf8(buf) : std::string("<unset>"));
        wchar_t cwd[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, cwd);
        WriteAll(err, WideToUtf8(cwd));
        return 0;
    }
    if (mode == L"stdin") {
        std::string all;
        char buf[4096];
        DWORD n;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof(buf), &n, nullptr) && n)
            all.append(buf, n);
        WriteAll(out, std::to_string(all.size()) + ":" + all.substr(0, 16));
        return 0;
    }
    if (mode == L"msgbox") {
        WriteAll(err, "before the box\n");
        MessageBoxW(nullptr, L"Line one\n\"quoted\" C:\\dir \u00e9", L"Title, with comma", MB_OK | MB_ICONERROR);
        MessageBoxW(nullptr, L"second", nullptr, MB_ICONINFORMATION);
        WriteAll(err, "after the box\n");
        return 0;
    }
    if (mode == L"loadmsi") {
        return LoadLibraryW(L"msi.dll") ? 0 : 1;
    }
    if (mode == L"version") {
        OSVERSIONINFOW v{sizeof(v)};
        auto rtlGetVersion = (LONG(WINAPI *)(OSVERSIONINFOW *))GetProcAddress(
            GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
        rtlGetVersion(&v);
        WriteAll(out, std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion));
        return 0;
    }
    if (mode == L"hang") {
        Sleep(INFINITE);
    }
    return 99;
}

struct ChildHook {
    ChildHook()
    {
        int argc = 0;
        wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
        if (argv && argc >= 3 && std::wstring(argv[1]) == kChildMarker)
            ExitProcess((UINT)RunChild(argc, argv));
        LocalFree(argv);
    }
} childHook;

std::wstring SelfPath()
{
    wchar_t buf[MAX_PATH];
    GetModuleFileNameW(nullptr, buf, MAX_PATH);
    return buf;
}

ProcessResult RunChildMode(const std::vector<std::wstring> &args,
                           const ProcessOptions &opts = ProcessOptions())
{
    std::vector<std::wstring> all{kChildMarker};
    all.insert(all.end(), args.begin(), args.end());
    return RunProcessArgs(SelfPath(), all, opts);
}

TEST(ProcessRunner, ArgumentsSurviveQuoting)
{
    const std::vector<std::wstring> args = {
        L"plain", L"with space", L"", L"quote\"inside", L"trailing\\", L"back\\\\slashes\\\"q",
        L"tab\there", L"C:\\Program Files\\x\\", L"\u00e9t\u00e9 \u4e2d", L"\\\\server\\share",
    };
    std::vector<std::wstring> childArgs{L"args"};
    childArgs.insert(childArgs.end(), args.begin(), args.end());
    ProcessResult r = RunChildMode(childArgs);
    ASSERT_TRUE(r.started) << r.startError;
    EXPECT_EQ(r.exitCode, 0u);
    std::string expected;
    for (const auto &a : args)
        expected += WideToUtf8(a) + "\n";
    EXPECT_EQ(r.out, expected);
}

TEST(ProcessRunner, BothStreamsCapturedWithoutDeadlock)
{
    ProcessResult r = RunChildMode({L"flood"});
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 7u);
    std::string o, e;
    for (int i = 0; i < 64; i++) {
        e += Fill('e', 16384);
        o += Fill('o', 16384);
    }
    EXPECT_TRUE(r.out == o) << "stdout differs, " << r.out.size() << " bytes";
    EXPECT_TRUE(r.err == e) << "stderr differs, " << r.err.size() << " bytes";
}

TEST(ProcessRunner, EnvironmentAndWorkingDirectory)
{
    TempDir dir(L"runner");
    ASSERT_TRUE(dir.ok());
    struct Case {
        const wchar_t *name;
        std::vector<std::pair<std::wstring, std::wstring>> env;
        const char *expected;
    } cases[] = {
        {L"PLOMTEST_VAR", {{L"PLOMTEST_VAR", L"v a l"}}, "v a l"},
        // names are matched without regard to case, as Windows does
        {L"PLOMTEST_VAR", {{L"PLOMTEST_VAR", L"one"}, {L"plomtest_var", L"two"}}, "two"},
        {L"PLOMTEST_VAR", {{L"PLOMTEST_VAR", L"one"}, {L"PLOMTEST_VAR", L""}}, "<unset>"},
        // an inherited variable is replaced, not duplicated
        {L"PATH", {{L"Path", L"Z:\\nowhere"}}, "Z:\\nowhere"},
    };
    for (const auto &c : cases) {
        ProcessOptions opts;
        opts.env = c.env;
        opts.workDir = dir.path();
        ProcessResult r = RunChildMode({L"env", c.name}, opts);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(r.out, c.expected) << WideToUtf8(c.name);
        EXPECT_EQ(Utf8ToWide(r.err), dir.path());
    }
}

TEST(ProcessRunner, StandardInputFedAndClosed)
{
    ProcessOptions opts;
    opts.stdinData = Fill('i', 200000);
    ProcessResult r = RunChildMode({L"stdin"}, opts);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.out, "200000:" + opts.stdinData.substr(0, 16));
    // Without input the child reads end-of-file at once.
    r = RunChildMode({L"stdin"});
    EXPECT_EQ(r.out, "0:");
}

TEST(ProcessRunner, TimeoutKillsAndMissingProgramFailsToStart)
{
    ProcessOptions opts;
    opts.timeoutMs = 500;
    ProcessResult r = RunChildMode({L"hang"}, opts);
    ASSERT_TRUE(r.started);
    EXPECT_TRUE(r.timedOut);

    r = RunProcessArgs(L"Z:\\no\\such\\program.exe", {});
    EXPECT_FALSE(r.started);
    EXPECT_NE(r.startError, 0u);
}

ProcessResult RunChildTraced(const std::vector<std::wstring> &args, const std::wstring &channels,
                             std::string &trace, const ProcessOptions &opts = ProcessOptions())
{
    std::vector<std::wstring> all{kChildMarker};
    all.insert(all.end(), args.begin(), args.end());
    return wine::RunTraced(SelfPath(), BuildCommandLine(SelfPath(), all), channels, opts, trace);
}

TEST(WineOnly, MessageBoxCallsFromTheRelayTrace)
{
    if (!wine::RunningUnderWine())
        GTEST_SKIP() << "needs wine's relay trace";
    TempDir tmp(L"relay tmp");
    ProcessOptions opts;
    opts.env = {{L"TMP", tmp.path()}};
    std::string trace;
    ProcessResult r;
    {
        wine::RelayInclude relay(L"user32.MessageBoxW");
        ASSERT_TRUE(relay.ok());
        r = RunChildTraced({L"msgbox"}, L"+relay", trace, opts);
    }
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0u);
    // The program's own output stays apart from wine's.
    EXPECT_EQ(r.err, "before the box\nafter the box\n");
    std::vector<wine::MessageBoxCall> calls = wine::ParseMessageBoxCalls(trace);
    ASSERT_EQ(calls.size(), 2u) << trace.substr(0, 2000);
    EXPECT_EQ(calls[0].text, L"Line one\n\"quoted\" C:\\dir \u00e9");
    EXPECT_EQ(calls[0].title, L"Title, with comma");
    EXPECT_EQ(calls[0].style, (unsigned long)(MB_OK | MB_ICONERROR));
    EXPECT_FALSE(calls[0].truncated);
    EXPECT_EQ(calls[1].text, L"second");
    EXPECT_EQ(calls[1].title, L"");
    EXPECT_EQ(calls[1].style, (unsigned long)MB_ICONINFORMATION);
    EXPECT_EQ(wine::StripTraceLines(trace).find("Call user32"), std::string::npos);
}

TEST(WineOnly, ParsersOnFixedTraces)
{
    std::string trace =
        "0024:Call user32.MessageBoxW(00000000,0012f2a0 L\"a \\\"b\\\" \\\\ \\00e9\\n\",00000000,00000030) ret=00401000\n"
        "0024:Ret  user32.MessageBoxW() retval=ffffffff ret=00401000\n"
        "0024:Call user32.MessageBoxW(00000000,0012f2a0 L\"long\"...,0012f3a0 L\"T\",00000010) ret=00401000\n"
        "0024:trace:loaddll:build_module Loaded L\"C:\\\\windows\\\\system32\\\\msi.dll\" at 7B000000: builtin\n"
        "program text\n";
    auto calls = wine::ParseMessageBoxCalls(trace);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].text, L"a \"b\" \\ \u00e9\n");
    EXPECT_EQ(calls[0].title, L"");
    EXPECT_EQ(calls[0].style, 0x30u);
    EXPECT_TRUE(calls[1].truncated);
    EXPECT_EQ(calls[1].title, L"T");
    EXPECT_EQ(wine::ParseLoadedModules(trace), std::vector<std::wstring>{L"C:\\windows\\system32\\msi.dll"});
    EXPECT_EQ(wine::StripTraceLines(trace), "program text\n");
}

TEST(WineOnly, LoadedModulesFromTheLoaderTrace)
{
    if (!wine::RunningUnderWine())
        GTEST_SKIP() << "needs wine's loader trace";
    std::string trace;
    ProcessResult r = RunChildTraced({L"loadmsi"}, L"+loaddll", trace);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0u);
    wchar_t sys[MAX_PATH];
    GetSystemDirectoryW(sys, MAX_PATH);
    bool found = false;
    for (const std::wstring &m : wine::ParseLoadedModules(trace))
        found |= _wcsicmp(m.c_str(), (std::wstring(sys) + L"\\msi.dll").c_str()) == 0;
    EXPECT_TRUE(found) << trace.substr(0, 3000);

    // A program that loads nothing more is not reported as loading it; and the options
    // reach it, even TMP, which wine would take from the registry for a program started
    // from the Unix side.
    TempDir tmp(L"traced tmp");
    ProcessOptions opts;
    opts.env = {{L"TMP", tmp.path()}};
    opts.workDir = tmp.path();
    r = RunChildTraced({L"env", L"TMP"}, L"+loaddll", trace, opts);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(Utf8ToWide(r.out), tmp.path());
    EXPECT_EQ(Utf8ToWide(r.err), tmp.path());
    auto modules = wine::ParseLoadedModules(trace);
    EXPECT_FALSE(modules.empty());
    for (const std::wstring &m : modules)
        EXPECT_EQ(m.find(L"msi.dll"), std::wstring::npos);
}

TEST(WineOnly, VersionOverrideForOneProgram)
{
    if (!wine::RunningUnderWine())
        GTEST_SKIP() << "needs wine's AppDefaults";
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exeName = wcsrchr(self, L'\\') + 1;
    std::string before = RunChildMode({L"version"}).out;
    {
        wine::AppVersionOverride v(exeName, L"win81");
        ASSERT_TRUE(v.ok());
        EXPECT_EQ(RunChildMode({L"version"}).out, "6.3");
        // Another program's name changes nothing for this one.
        wine::AppVersionOverride other(L"someone-else.exe", L"win10");
        EXPECT_EQ(RunChildMode({L"version"}).out, "6.3");
    }
    EXPECT_EQ(RunChildMode({L"version"}).out, before);
}

TEST(TempDirs, UniqueAndRemovedWithContents)
{
    std::wstring kept;
    {
        TempDir a(L"tdtest"), b(L"tdtest");
        ASSERT_TRUE(a.ok());
        ASSERT_TRUE(b.ok());
        EXPECT_NE(a.path(), b.path());
        EXPECT_TRUE(IsDirectory(a.path()));
        ASSERT_TRUE(CreateDirectoryW(a.file(L"sub").c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(a.file(L"sub\\f.bin"), "data"));
        ASSERT_TRUE(WriteWholeFile(a.file(L"ro.txt"), "x"));
        SetFileAttributesW(a.file(L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        std::vector<std::wstring> names;
        ASSERT_TRUE(ListDirectory(a.path(), names));
        EXPECT_EQ(names, (std::vector<std::wstring>{L"ro.txt", L"sub"}));
        std::string data;
        ASSERT_TRUE(ReadWholeFile(a.file(L"sub\\f.bin"), data));
        EXPECT_EQ(data, "data");
        kept = a.path();
    }
    EXPECT_FALSE(PathExists(kept));
}

TEST(TextHelpers, NewlinesAndConversions)
{
    EXPECT_EQ(NormalizeNewlines("a\r\nb\rc\n\r\n"), "a\nb\rc\n\n");
    EXPECT_EQ(WideToUtf8(L"\u00e9\U0001F600"), "\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(Utf8ToWide("\xc3\xa9\xf0\x9f\x98\x80"), L"\u00e9\U0001F600");
}

} // namespace
