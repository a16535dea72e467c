// Starts argvprint.exe (built like the product) with real command lines and checks what its
// start-up code made of them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

struct RunResult
{
    DWORD       exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

std::wstring SiblingPath(const wchar_t *name)
{
    wchar_t self[MAX_PATH];
    DWORD len = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, len);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

HANDLE MakeCaptureFile(const wchar_t *tag)
{
    wchar_t dir[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, tag, 0, file);
    SECURITY_ATTRIBUTES sa = { sizeof(sa), nullptr, TRUE };
    return CreateFileW(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::string ReadAll(HANDLE file)
{
    std::string text;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buf[4096];
    DWORD got;
    while (ReadFile(file, buf, sizeof(buf), &got, nullptr) && got)
        text.append(buf, got);
    return text;
}

// Runs argvprint.exe with exactly `cmdLine` as its command line.
RunResult RunArgvPrint(const std::wstring &cmdLine)
{
    RunResult result;
    std::wstring const app = SiblingPath(L"argvprint.exe");
    HANDLE out = MakeCaptureFile(L"out");
    HANDLE err = MakeCaptureFile(L"err");
    EXPECT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_NE(err, INVALID_HANDLE_VALUE);

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> buffer(cmdLine.begin(), cmdLine.end());
    buffer.push_back(L'\0');
    BOOL ok = CreateProcessW(app.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             nullptr, &si, &pi);
    EXPECT_TRUE(ok) << "CreateProcessW failed: " << GetLastError();
    if (ok)
    {
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &result.exitCode);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    result.out = ReadAll(out);
    result.err = ReadAll(err);
    CloseHandle(out);
    CloseHandle(err);
    return result;
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
        EXPECT_EQ(r.exitCode, 42u);
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
    EXPECT_EQ(r.exitCode, 42u);
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
    EXPECT_EQ(r.exitCode, 42u);
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
        SetEnvironmentVariableW(L"ARGVPRINT_FAIL", std::to_wstring(v).c_str());
        RunResult const r = RunArgvPrint(L"prog a b");
        SetEnvironmentVariableW(L"ARGVPRINT_FAIL", nullptr);
        EXPECT_EQ(r.exitCode, v);
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
    EXPECT_EQ(r.exitCode, 3u);
    EXPECT_EQ(r.err.rfind("Failed to convert command line to UTF-8: -", 0), 0u) << r.err;
    EXPECT_EQ(r.out.find("argc="), std::string::npos) << r.out;
}

} // namespace
