// Starts argvprint.exe (built like the product) with real command lines and checks what its
// start-up code made of them.
#include <gtest/gtest.h>
#include <windows.h>

#include "support/process_runner.h"

#include <string>
#include <vector>

namespace {

typedef plomtest::ProcessResult RunResult;

std::wstring SiblingPath(const wchar_t *name)
{
    wchar_t self[MAX_PATH];
    DWORD len = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, len);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

// Runs argvprint.exe with exactly `cmdLine` as its command line.
RunResult RunArgvPrint(const std::wstring &cmdLine, const plomtest::ProcessOptions &options = {})
{
    RunResult r = plomtest::RunProcess(SiblingPath(L"argvprint.exe"), cmdLine, options);
    EXPECT_TRUE(r.started) << "CreateProcessW failed: " << r.startError;
    EXPECT_FALSE(r.timedOut);
    return r;
}

// Reads the "argc=N" and "LEN:TEXT" lines; false when the output does not have that shape.
bool ParseArgs(const std::string &out, std::vector<std::string> *args, size_t *rest)
{
    size_t pos = out.find("argc=");
    if (pos == std::string::npos)
        return false;
    pos += 5;
    size_t const count = std::stoul(out.substr(pos));
    pos = out.find('\n', pos) + 1;
    for (size_t i = 0; i < count; i++)
    {
        size_t const colon = out.find(':', pos);
        if (colon == std::string::npos)
            return false;
        size_t const len = std::stoul(out.substr(pos, colon - pos));
        args->push_back(out.substr(colon + 1, len));
        pos = colon + 1 + len;
        if (pos >= out.size() || out[pos] != '\n')
            return false;
        pos++;
    }
    *rest = pos;
    return true;
}

struct CommandLineCase
{
    const wchar_t           *cmdLine;
    std::vector<std::string> expected;
};

const CommandLineCase kCommandLines[] =
{
    { L"prog a\"b c\"d", { "prog", "ab cd" } },
    { L"prog \"a\"\"b\"", { "prog", "a\"b" } },
    { L"prog a\"\"b", { "prog", "ab" } },
    { L"prog \"\"", { "prog", "" } },
    { L"prog ab\"", { "prog", "ab" } },
    { L"prog a\\\\\\\"b", { "prog", "a\\\"b" } },
    { L"prog a\\\\\"b c\"", { "prog", "a\\b c" } },
    { L"prog a\\b", { "prog", "a\\b" } },
    { L"\"C:\\Program Files\\x.exe\" /path \"C:\\a b\\\" -x",
      { "C:\\Program Files\\x.exe", "/path", "C:\\a b\" -x" } },
    // The program's name follows the same rules as every other argument.
    { L"p\"ro g\" x", { "pro g", "x" } },
    { L"prog\ta\nb\rc  d", { "prog", "a", "b", "c", "d" } },
    { L"prog \"a\tb\nc\r d\"", { "prog", "a\tb\nc\r d" } },
    { L"prog \u00e9t\u00e9 \"\u4e2d \U0001F600\"", { "prog", "\xc3\xa9t\xc3\xa9", "\xe4\xb8\xad \xf0\x9f\x98\x80" } },
    { L"   ", {} },
    { L" \t\r\n", {} },
};

TEST(Startup, CommandLinesBecomeArgumentVectors)
{
    for (const CommandLineCase &c : kCommandLines)
    {
        SCOPED_TRACE(testing::Message() << "row " << (&c - kCommandLines));
        RunResult const r = RunArgvPrint(c.cmdLine);
        EXPECT_EQ(r.exitCode, 42ul);
        EXPECT_EQ(r.err, "");
        std::vector<std::string> args;
        size_t rest = 0;
        ASSERT_TRUE(ParseArgs(r.out, &args, &rest)) << r.out;
        EXPECT_EQ(args, c.expected);
        EXPECT_NE(r.out.find("main: vector ends with null\n", rest), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("main: no environment\n", rest), std::string::npos) << r.out;
    }
}

TEST(Startup, EmptyCommandLineStillCallsMain)
{
    // Wine hands a process started with an empty command line its program's path instead;
    // Windows leaves it empty. Either way main runs with a terminated vector. (The rows of
    // blanks above reach main with no arguments on both.)
    RunResult const r = RunArgvPrint(L"");
    EXPECT_EQ(r.exitCode, 42ul);
    std::vector<std::string> args;
    size_t rest = 0;
    ASSERT_TRUE(ParseArgs(r.out, &args, &rest)) << r.out;
    if (!args.empty())
    {
        ASSERT_EQ(args.size(), 1u);
        EXPECT_NE(args[0].find("argvprint.exe"), std::string::npos) << args[0];
    }
    EXPECT_NE(r.out.find("main: vector ends with null\n", rest), std::string::npos) << r.out;
}

TEST(Startup, InitialisersRunBeforeMainAndTerminationRunsCallbacks)
{
    RunResult const r = RunArgvPrint(L"prog");
    EXPECT_EQ(r.exitCode, 42ul);
    // Status-returning initialisers, then the others and the constructors, all before main;
    // at the end the exit callbacks newest first (the static destructor registered during
    // start-up), then the pre-terminators and terminators.
    std::string const expectedTail =
        "main: void initialiser ran\n"
        "main: constructor ran\n";
    EXPECT_NE(r.out.find("main: RTR3Init succeeded\n"
                         "main: repeated RTR3Init succeeded\n"
                         "main: RTR3Init with another vector refused\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("late status initialiser\nargc=1\n"), 0u) << r.out;
    EXPECT_NE(r.out.find(expectedTail), std::string::npos) << r.out;
    std::string const exitTrace =
        "exit callback registered last\n"
        "static destructor\n"
        "exit callback registered first\n"
        "pre-terminator\n"
        "terminator\n";
    ASSERT_GE(r.out.size(), exitTrace.size());
    EXPECT_EQ(r.out.substr(r.out.size() - exitTrace.size()), exitTrace) << r.out;
}

TEST(Startup, ExecutablePathIsRecorded)
{
    RunResult const r = RunArgvPrint(L"anything");
    std::wstring const app = SiblingPath(L"argvprint.exe");
    // The directory length is that of the directory without its trailing separator; the
    // entry point and RTR3Init must agree on it.
    std::string const dirLength = std::to_string(app.find_last_of(L"\\/"));
    std::string const pathLength = std::to_string(app.size());   // ASCII build directory
    for (const char *who : { "entry", "main" })
    {
        std::string const w = who;
        EXPECT_NE(r.out.find(w + ": program argvprint.exe\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(w + ": directory length " + dirLength + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(w + ": path length " + pathLength + "\n"), std::string::npos) << r.out;
    }
}

TEST(Startup, FailingStaticInitialiserEndsTheProcess)
{
    const DWORD values[] = { 5, 1234567 };
    for (DWORD v : values)
    {
        plomtest::ProcessOptions options;
        options.env.push_back({ L"ARGVPRINT_FAIL", std::to_wstring(v) });
        RunResult const r = RunArgvPrint(L"prog a b", options);
        EXPECT_EQ(r.exitCode, (unsigned long)v);
        char hex[16];
        snprintf(hex, sizeof(hex), "%lx", (unsigned long)v);
        EXPECT_EQ(r.err, "A C static initializor failed (" + std::to_string(v) + " (0x" + hex + ")\r\n");
        // Neither the later initialisers, nor main, nor any exit callback or terminator ran.
        EXPECT_EQ(r.out, "");
    }
}

TEST(Startup, CommandLineThatIsNotValidUtf16)
{
    RunResult const r = RunArgvPrint(std::wstring(L"prog ") + L'\xD800' + L"x");
    EXPECT_EQ(r.exitCode, 3ul);
    EXPECT_EQ(r.err.rfind("Failed to convert command line to UTF-8: -", 0), 0u) << r.err;
    EXPECT_EQ(r.out.find("argc="), std::string::npos) << r.out;
    // Unlike a failed static initialiser, this failure ends the process the regular way.
    EXPECT_EQ(r.out, "late status initialiser\n"
                     "static destructor\n"
                     "exit callback registered first\n"
                     "pre-terminator\n"
                     "terminator\n");
}

} // namespace
