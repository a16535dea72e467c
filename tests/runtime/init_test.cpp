#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "kelp/err.h"
#include "kelp/init.h"

namespace {

std::string OwnPathUtf8()
{
    wchar_t path[MAX_PATH];
    DWORD const len = GetModuleFileNameW(nullptr, path, MAX_PATH);
    char utf8[MAX_PATH * 3];
    int const n = WideCharToMultiByte(CP_UTF8, 0, path, (int)len, utf8, sizeof(utf8), nullptr, nullptr);
    return std::string(utf8, n);
}

TEST(RuntimeInit, RecordsExecutablePath)
{
    ASSERT_EQ(RTR3Init(0, nullptr, RTR3INIT_FLAG_SYSTEM32_ONLY), 0);
    EXPECT_GE(ProcessInfo.initCount, 1);
    EXPECT_EQ(ProcessInfo.processId, GetCurrentProcessId());

    std::string const own = OwnPathUtf8();
    EXPECT_EQ(std::string(ProcessInfo.execPath), own);
    EXPECT_EQ(ProcessInfo.pathLength, own.size());
    size_t const slash = own.find_last_of("\\/");
    EXPECT_EQ(ProcessInfo.fileNameOffset, slash + 1);
    EXPECT_EQ(ProcessInfo.dirLength, slash);
}

TEST(RuntimeInit, RepeatedCallsMustAgreeOnTheArguments)
{
    static char arg0[] = "prog", arg1[] = "x";
    static char *vectorA[] = { arg0, arg1, nullptr };
    static char *vectorB[] = { arg0, arg1, nullptr };

    ASSERT_EQ(RTR3Init(0, nullptr, 0), 0);
    // Whoever records first (possibly another test in the same program) fixes the pair.
    int argc = 2;
    char **argv = vectorA;
    if (ProcessInfo.argc < 0)
        ASSERT_EQ(RTR3Init(argc, &argv, 0), 0);
    else
    {
        argc = ProcessInfo.argc;
        argv = ProcessInfo.argv;
    }
    EXPECT_EQ(ProcessInfo.argc, argc);
    EXPECT_EQ(ProcessInfo.argv, argv);

    EXPECT_EQ(RTR3Init(argc, &argv, 0), 0);
    char **other = argv == vectorB ? vectorA : vectorB;
    EXPECT_EQ(RTR3Init(argc, &other, 0), ERR_BAD_SEQUENCE);
    EXPECT_EQ(RTR3Init(argc + 1, &argv, 0), ERR_BAD_SEQUENCE);
    // A count of 0 does not check anything.
    EXPECT_EQ(RTR3Init(0, &other, 0), 0);
    EXPECT_EQ(ProcessInfo.argv, argv) << "the recorded vector is never replaced";
    EXPECT_TRUE(ProcessInfo.initFlags & RTR3INIT_FLAG_REPEATED);
}

} // namespace
