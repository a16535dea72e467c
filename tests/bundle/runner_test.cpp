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
