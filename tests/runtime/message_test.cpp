#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include "kelp/err.h"
#include "kelp/format.h"
#include "kelp/init.h"
#include "kelp/message.h"
#include "kelp/stream.h"
#include "support/probes.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "support/wine_only.h"

namespace {

// What the start-up would have recorded for this program; returns its file name.
std::string recordedProgramName()
{
    if (ProcessInfo.fileNameOffset == 0 || !ProcessInfo.execPath[0])
    {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::string const path = plomtest::WideToUtf8(self);
        size_t const n = path.size() < sizeof(ProcessInfo.execPath) ? path.size() : sizeof(ProcessInfo.execPath) - 1;
        memcpy(ProcessInfo.execPath, path.c_str(), n);
        ProcessInfo.execPath[n] = 0;
        ProcessInfo.pathLength = (uint32_t)n;
        ProcessInfo.fileNameOffset = (uint32_t)(path.find_last_of("\\/") + 1);
        ProcessInfo.dirLength = ProcessInfo.fileNameOffset - 1;
    }
    return &ProcessInfo.execPath[ProcessInfo.fileNameOffset];
}

int writeLines(Stream *stream, const char *prefix, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int const rc = RTMsgWriteLines(stream, prefix, format, args);
    va_end(args);
    return rc;
}

class Messages : public ::testing::Test
{
protected:
    plomtest::TempDir dir{L"messages"};
    std::string name = recordedProgramName();

    Stream *open(const wchar_t *file)
    {
        Stream *s = nullptr;
        EXPECT_EQ(RTStreamOpen(plomtest::WideToUtf8(dir.file(file)).c_str(), "w", &s), 0);
        return s;
    }
    std::string closeAndRead(Stream *s, const wchar_t *file)
    {
        EXPECT_EQ(RTStreamClose(s), 0);
        std::string data;
        EXPECT_TRUE(plomtest::ReadWholeFile(dir.file(file), data));
        return plomtest::NormalizeNewlines(data);
    }
};

struct LinesCase
{
    const char *format;
    const char *arg;
    const char *expected;   // "N" stands for the program name and its ": "
};

std::string expand(const char *expected, const std::string &name)
{
    std::string out;
    for (const char *p = expected; *p; p++)
        if (*p == 'N')
            out += name + ": ";
        else
            out += *p;
    return out;
}

TEST_F(Messages, LineSplitting)
{
    static const LinesCase cases[] = {
        { "Unknown option: '%s'", "--x", "Nerror: Unknown option: '--x'\n" },
        { "a\n\nb", nullptr, "Nerror: a\n\nNerror: b\n" },
        { "ends in a line feed\n", nullptr, "Nerror: ends in a line feed\n" },
        { "two\nlines", nullptr, "Nerror: two\nNerror: lines\n" },
        { "\n", nullptr, "\n" },
        { "", nullptr, "\n" },
        { "%s", "", "Nerror: \n" },
        { "%s", "from\nthe argument\n", "Nerror: from\nNerror: the argument\n" },
        { "\nleading", nullptr, "\nNerror: leading\n" },
    };
    ASSERT_TRUE(dir.ok());
    for (const LinesCase &c : cases)
    {
        SCOPED_TRACE(c.format);
        Stream *s = open(L"lines.txt");
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(writeLines(s, "error: ", c.format, c.arg), 0);
        EXPECT_EQ(closeAndRead(s, L"lines.txt"), expand(c.expected, name));
    }
}

TEST_F(Messages, ErrorsGoToStandardErrorAndInfoToStandardOutput)
{
    ASSERT_TRUE(dir.ok());
    Stream *out = open(L"out.txt");
    Stream *err = open(L"err.txt");
    ASSERT_TRUE(out && err);
    Stream *const savedOut = StreamStdOut, *const savedErr = StreamStdErr;
    StreamStdOut = out;
    StreamStdErr = err;
    EXPECT_EQ(RTMsgReportError("failed: %d", 5), 0);
    EXPECT_EQ(RTMsgReportInfo("note %s", "this"), 0);
    EXPECT_EQ(RTMsgReportInitFailure(ERR_NO_MEMORY), 3);
    StreamStdOut = savedOut;
    StreamStdErr = savedErr;

    char status[256];
    RTFmtBuffer(status, sizeof(status), "%Rrc", ERR_NO_MEMORY);
    EXPECT_EQ(closeAndRead(out, L"out.txt"), name + ": info: note this\n");
    EXPECT_EQ(closeAndRead(err, L"err.txt"),
              name + ": error: failed: 5\n" + name + ": fatal error: RTR3Init: " + status + "\n");
}

TEST_F(Messages, InitFailureBeforeThePathIsKnown)
{
    ASSERT_TRUE(dir.ok());
    Stream *err = open(L"early.txt");
    ASSERT_NE(err, nullptr);
    Stream *const savedErr = StreamStdErr;
    StreamStdErr = err;
    uint32_t const savedOffset = ProcessInfo.fileNameOffset;
    char const savedFirst = ProcessInfo.execPath[0];
    static const struct { uint32_t offset; bool emptyPath; } cases[] = {
        { 0, false }, { RTPATH_MAX, false }, { savedOffset, true },
    };
    for (const auto &c : cases)
    {
        ProcessInfo.fileNameOffset = c.offset;
        if (c.emptyPath)
            ProcessInfo.execPath[0] = 0;
        EXPECT_EQ(RTMsgReportInitFailure(ERR_INTERNAL_3), 3);
        ProcessInfo.execPath[0] = savedFirst;
    }
    ProcessInfo.fileNameOffset = savedOffset;
    StreamStdErr = savedErr;

    char status[256];
    RTFmtBuffer(status, sizeof(status), "%Rrc", ERR_INTERNAL_3);
    std::string const line = std::string("fatal error: RTR3Init: ") + status + "\n";
    EXPECT_EQ(closeAndRead(err, L"early.txt"), line + line + line);
}

// In a program started like the installer, the program name comes from the start-up.
TEST(MessagesInAProgram, ProgramNameFromTheStartUp)
{
    if (plomtest::Wine32BitLoaderIsEmulated())
        GTEST_SKIP() << "each 32-bit child costs a minute under wine here; the 64-bit run covers it";
    plomtest::ProcessOptions options;
    options.env.push_back({ L"PLOM_STREAM_PROBE", L"message" });
    plomtest::ProcessResult const r =
        plomtest::RunProcessArgs(plomtest::ProbePath(L"stream_probe.exe"), {}, options);
    ASSERT_TRUE(r.started) << r.startError;
    EXPECT_EQ(r.exitCode, 3u);
    char status[256];
    RTFmtBuffer(status, sizeof(status), "%Rrc", ERR_NO_MEMORY);
    EXPECT_EQ(r.err, std::string("stream_probe.exe: error: Unknown option: '--x'\r\n"
                                 "stream_probe.exe: fatal error: RTR3Init: ") + status + "\r\n");
    EXPECT_EQ(r.out, "stream_probe.exe: info: two\r\nstream_probe.exe: info: lines\r\n");
}

} // namespace
