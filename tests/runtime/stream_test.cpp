#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include "kelp/err.h"
#include "kelp/mem.h"
#include "kelp/stream.h"
#include "support/probes.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "support/wine_only.h"

namespace {

std::string readFile(const std::wstring &path)
{
    std::string data;
    if (!plomtest::ReadWholeFile(path, data))
        return "<unreadable>";
    return data;
}

class Streams : public ::testing::Test
{
protected:
    plomtest::TempDir dir{L"streams"};

    std::wstring path(const wchar_t *name) const { return dir.file(name); }
    std::string pathUtf8(const wchar_t *name) const { return plomtest::WideToUtf8(dir.file(name)); }

    Stream *open(const wchar_t *name, const char *mode)
    {
        Stream *s = nullptr;
        int const rc = RTStreamOpen(pathUtf8(name).c_str(), mode, &s);
        EXPECT_EQ(rc, 0) << mode;
        return s;
    }
};

struct OpenCase
{
    const char *mode;
    const char *existing;   // content before the open, null: no file
    int rc;
    const char *after;      // content after printing "x" and closing
};

TEST_F(Streams, OpenModes)
{
    static const OpenCase cases[] = {
        { "w", "old", 0, "x" },
        { "w", nullptr, 0, "x" },
        { "a", "old", 0, "oldx" },
        { "a", nullptr, 0, "x" },
        { "rw", "old", 0, "x" },         // the last access letter wins
        { "wx", nullptr, 0, "x" },
        { "wx", "old", ERR_ALREADY_EXISTS, "old" },
        { "xw", nullptr, 0, "x" },
        { "r+", "old", 0, "xld" },
        { "a+", "old", 0, "oldx" },
        { "wbt", "old", 0, "x" },
        { "r", nullptr, ERR_FILE_NOT_FOUND, nullptr },
        { "", "old", ERR_INVALID_FLAGS, "old" },
        { "rx", "old", ERR_INVALID_FLAGS, "old" },
        { "ax", "old", ERR_INVALID_FLAGS, "old" },
        { "b", "old", ERR_INVALID_FLAGS, "old" },
        { "q", "old", ERR_INVALID_FLAGS, "old" },
        { "wq", "old", ERR_INVALID_FLAGS, "old" },
        { "+", "old", ERR_INVALID_FLAGS, "old" },
    };
    ASSERT_TRUE(dir.ok());
    int n = 0;
    for (const OpenCase &c : cases)
    {
        SCOPED_TRACE(testing::Message() << "mode '" << c.mode << "'");
        std::wstring const file = path((L"open" + std::to_wstring(n++) + L".txt").c_str());
        if (c.existing)
            ASSERT_TRUE(plomtest::WriteWholeFile(file, c.existing));
        Stream *s = (Stream *)(uintptr_t)0x1234;
        int const rc = RTStreamOpen(plomtest::WideToUtf8(file).c_str(), c.mode, &s);
        EXPECT_EQ(rc, c.rc);
        if (rc == 0)
        {
            ASSERT_NE(s, nullptr);
            EXPECT_EQ(RTStreamPrintf(s, "x"), 1);
            EXPECT_EQ(RTStreamClose(s), 0);
        }
        else
            EXPECT_EQ(s, nullptr);
        if (c.after)
            EXPECT_EQ(readFile(file), c.after);
        else
            EXPECT_FALSE(plomtest::PathExists(file));
    }

    Stream *s = (Stream *)(uintptr_t)0x1234;
    EXPECT_EQ(RTStreamOpen(pathUtf8(L"null.txt").c_str(), nullptr, &s), ERR_INVALID_FLAGS);
    EXPECT_EQ(s, nullptr);
    s = (Stream *)(uintptr_t)0x1234;
    EXPECT_EQ(RTStreamOpen(nullptr, "w", &s), ERR_BAD_ARGUMENT);
    EXPECT_EQ(s, nullptr);
}

TEST_F(Streams, HandleInheritance)
{
    static const struct { const char *mode; bool inherited; } cases[] = {
        { "w", true }, { "wN", false }, { "we", false }, { "wNE", true }, { "wEN", false }, { "wEe", false },
    };
    ASSERT_TRUE(dir.ok());
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.mode);
        Stream *s = open(L"inherit.txt", c.mode);
        ASSERT_NE(s, nullptr);
        DWORD flags = 0;
        ASSERT_TRUE(GetHandleInformation((HANDLE)s->file, &flags));
        EXPECT_EQ((flags & HANDLE_FLAG_INHERIT) != 0, c.inherited);
        EXPECT_EQ(RTStreamClose(s), 0);
    }
}

struct TranslationCase
{
    const char *mode;
    const char *text;
    const char *expected;
};

TEST_F(Streams, NewlineTranslation)
{
    static const TranslationCase cases[] = {
        { "w", "a\nb", "a\r\nb" },
        { "w", "a\r\nb", "a\r\r\nb" },     // a carriage return already there stays
        { "w", "\n\n", "\r\n\r\n" },
        { "w", "no newline", "no newline" },
        { "wb", "a\nb", "a\nb" },
        { "wbt", "a\n", "a\r\n" },
        { "wtb", "a\n", "a\n" },
    };
    ASSERT_TRUE(dir.ok());
    for (const TranslationCase &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.mode << " '" << c.text << "'");
        Stream *s = open(L"translate.txt", c.mode);
        ASSERT_NE(s, nullptr);
        // The result counts what the format produced, before translation.
        EXPECT_EQ(RTStreamPrintf(s, "%s", c.text), (int)strlen(c.text));
        EXPECT_EQ(RTStreamClose(s), 0);
        EXPECT_EQ(readFile(path(L"translate.txt")), c.expected);
    }
}

// Text much larger than the buffer, with line feeds falling on every position relative to
// the buffer's end, comes out whole in every buffering mode.
TEST_F(Streams, LargeTextAcrossBufferBoundaries)
{
    std::string text, expected;
    uint32_t seed = 12345;
    while (text.size() < 300000)
    {
        seed = seed * 1103515245 + 12345;
        unsigned const run = (seed >> 16) % 7;
        text.append(run, 'x');
        expected.append(run, 'x');
        text += '\n';
        expected += "\r\n";
    }
    ASSERT_TRUE(dir.ok());
    for (uint32_t mode : { STREAM_BUF_FULL, STREAM_BUF_LINE, STREAM_BUF_NONE })
    {
        SCOPED_TRACE(mode);
        Stream *s = open(L"large.txt", "w");
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(RTStreamSetBuffering(s, mode), 0);
        EXPECT_EQ(RTStreamPrintf(s, "%s", text.c_str()), (int)text.size());
        EXPECT_EQ(RTStreamPrintf(s, "%s", text.c_str() + 1000), (int)text.size() - 1000);
        EXPECT_EQ(RTStreamClose(s), 0);
        std::string const got = readFile(path(L"large.txt"));
        // The second print starts 1000 bytes into the text.
        std::string tail;
        for (size_t i = 1000; i < text.size(); i++)
            tail += text[i] == '\n' ? std::string("\r\n") : std::string(1, text[i]);
        EXPECT_TRUE(got == expected + tail) << "sizes " << got.size() << " vs " << (expected + tail).size();
    }
}

TEST_F(Streams, BufferingModes)
{
    ASSERT_TRUE(dir.ok());
    std::wstring const file = path(L"buffering.txt");

    // Full (the default of opened streams): nothing reaches the file before the close.
    Stream *s = open(L"buffering.txt", "w");
    ASSERT_NE(s, nullptr);
    RTStreamPrintf(s, "abc\n");
    EXPECT_EQ(readFile(file), "");
    EXPECT_EQ(RTStreamClose(s), 0);
    EXPECT_EQ(readFile(file), "abc\r\n");

    // Line: up to the last line feed.
    s = open(L"buffering.txt", "w");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(RTStreamSetBuffering(s, STREAM_BUF_LINE), 0);
    RTStreamPrintf(s, "a\nb");
    EXPECT_EQ(readFile(file), "a\r\n");
    RTStreamPrintf(s, "c\nd\ne");
    EXPECT_EQ(readFile(file), "a\r\nbc\r\nd\r\n");
    RTStreamPrintf(s, "f");
    EXPECT_EQ(readFile(file), "a\r\nbc\r\nd\r\n");

    // None, from the next write on: every chunk at once, what was pending with it.
    ASSERT_EQ(RTStreamSetBuffering(s, STREAM_BUF_NONE), 0);
    EXPECT_EQ(readFile(file), "a\r\nbc\r\nd\r\n");
    RTStreamPrintf(s, "g%sh", "-");
    EXPECT_EQ(readFile(file), "a\r\nbc\r\nd\r\nefg-h");
    EXPECT_EQ(RTStreamClose(s), 0);

    s = open(L"buffering.txt", "w");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(RTStreamSetBuffering(s, 0), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTStreamSetBuffering(s, 4), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTStreamSetBuffering(nullptr, STREAM_BUF_NONE), ERR_INVALID_HANDLE);
    Stream dead = {};
    dead.magic = STREAM_MAGIC_DEAD;
    EXPECT_EQ(RTStreamSetBuffering(&dead, STREAM_BUF_NONE), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTStreamPrintf(&dead, "x"), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTStreamPrintf(nullptr, "x"), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTStreamClose(s), 0);
}

TEST_F(Streams, WriteErrorsStick)
{
    ASSERT_TRUE(dir.ok());
    std::wstring const file = path(L"readonly.txt");
    ASSERT_TRUE(plomtest::WriteWholeFile(file, "keep"));

    // Opened for reading only: every write fails.
    Stream *s = open(L"readonly.txt", "r");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(RTStreamSetBuffering(s, STREAM_BUF_NONE), 0);
    // The failure shows at the next call, not in the total of this one.
    EXPECT_EQ(RTStreamPrintf(s, "abc"), 3);
    EXPECT_LT(s->status, 0);
    EXPECT_EQ(RTStreamPrintf(s, "def"), -1);
    EXPECT_EQ(RTStreamPrintf(s, "%s", "ghi"), -1);
    EXPECT_LT(RTStreamClose(s), 0);
    EXPECT_EQ(readFile(file), "keep");

    // Buffered: the failure comes with the flush at close.
    s = open(L"readonly.txt", "r");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(RTStreamPrintf(s, "abc"), 3);
    EXPECT_LT(RTStreamClose(s), 0);
    EXPECT_EQ(readFile(file), "keep");
}

struct WriterArgs
{
    Stream *stream;
    char letter;
    HANDLE go;
};

DWORD WINAPI writerThread(void *arg)
{
    WriterArgs const *a = (WriterArgs const *)arg;
    std::string const half(20, a->letter);
    WaitForSingleObject(a->go, INFINITE);
    for (int i = 0; i < 300; i++)
        RTStreamPrintf(a->stream, "%s%c%s\n", half.c_str(), a->letter, half.c_str());
    return 0;
}

// One printf is one unit on its stream: lines of concurrent writers never mix, also when
// both race to create the stream's lock.
TEST_F(Streams, ConcurrentPrintfsDoNotInterleave)
{
    if (plomtest::Wine32BitLoaderIsEmulated())
        GTEST_SKIP() << "32-bit programs with several threads crash under wine's emulated loader here "
                        "(a plain three-thread WriteFile program fails the same way); the 64-bit run covers it";
    ASSERT_TRUE(dir.ok());
    Stream *s = open(L"threads.txt", "w");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->lock, nullptr);
    // Unbuffered, so that every chunk is a system call and the writers really overlap; set
    // in the record so that the lock is still to be made.
    s->buffering = STREAM_BUFFERING_NONE;
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WriterArgs args[] = { { s, 'a', go }, { s, 'b', go }, { s, 'c', go } };
    HANDLE threads[3];
    for (int i = 0; i < 3; i++)
        threads[i] = CreateThread(nullptr, 0, writerThread, &args[i], 0, nullptr);
    SetEvent(go);
    WaitForMultipleObjects(3, threads, TRUE, INFINITE);
    for (HANDLE h : threads)
        CloseHandle(h);
    CloseHandle(go);
    EXPECT_EQ(RTStreamClose(s), 0);

    std::string const data = readFile(path(L"threads.txt"));
    int counts[3] = {};
    size_t pos = 0, bad = 0;
    while (pos < data.size())
    {
        size_t const end = data.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        std::string const line = data.substr(pos, end - pos);
        char const first = line.empty() ? '?' : line[0];
        if (line.size() != 41 || line.find_first_not_of(first) != std::string::npos || first < 'a' || first > 'c')
            bad++;
        else
            counts[first - 'a']++;
        pos = end + 2;
    }
    EXPECT_EQ(bad, 0u);
    EXPECT_EQ(counts[0], 300);
    EXPECT_EQ(counts[1], 300);
    EXPECT_EQ(counts[2], 300);
}

// A stream shaped like the standard ones (attached on first flush, converting to ANSI),
// with its standard handle pointed at a file for the duration.
class StandardLike : public Streams
{
protected:
    Stream stream = {};
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE saved = INVALID_HANDLE_VALUE;
    DWORD which = STD_ERROR_HANDLE;

    void attachTo(int index, int32_t buffering)
    {
        which = index == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
        file = CreateFileW(path(L"std.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        saved = GetStdHandle(which);
        SetStdHandle(which, file);
        stream.magic = STREAM_MAGIC;
        stream.stdIndex = index;
        stream.file = RTFILE_NIL;
        stream.buffering = buffering;
        stream.convertToAnsi = true;
    }

    std::string content() { return readFile(path(L"std.txt")); }

    void TearDown() override
    {
        if (stream.magic == STREAM_MAGIC)
            RTStreamClose(&stream);
        RTMemFree(stream.buffer);
        if (saved != INVALID_HANDLE_VALUE)
            SetStdHandle(which, saved);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
};

TEST_F(StandardLike, RedirectedOutputSwitchesToFullBuffering)
{
    ASSERT_TRUE(dir.ok());
    attachTo(1, STREAM_BUFFERING_LINE);
    EXPECT_EQ(stream.file, RTFILE_NIL);
    RTStreamPrintf(&stream, "one\n");
    EXPECT_EQ(stream.file, (RTFILE)file);
    EXPECT_EQ(stream.buffering, STREAM_BUFFERING_FULL);
    EXPECT_EQ(content(), "one\r\n");
    RTStreamPrintf(&stream, "two\n");
    EXPECT_EQ(content(), "one\r\n");
    EXPECT_EQ(RTStreamClose(&stream), 0);
    EXPECT_EQ(content(), "one\r\ntwo\r\n");
}

TEST_F(StandardLike, AnsiConversionDropsOnlyBrokenChunks)
{
    ASSERT_TRUE(dir.ok());
    attachTo(2, STREAM_BUFFERING_NONE);
    char ansi[8] = {};
    int const cb = WideCharToMultiByte(CP_ACP, 0, L"\u00e9", 1, ansi, sizeof(ansi), nullptr, nullptr);
    ASSERT_GT(cb, 0);

    // Half of a two-byte character is not text: that chunk goes, the rest comes.
    RTStreamPrintf(&stream, "<%.1s>", "\xC3\xA9");
    // A surrogate encoded in UTF-8 is no text either; the stream must stay usable.
    RTStreamPrintf(&stream, "%s", "\xED\xA0\x80");
    EXPECT_EQ(stream.status, 0);
    RTStreamPrintf(&stream, "%s\n", "\xC3\xA9");
    EXPECT_EQ(RTStreamClose(&stream), 0);
    EXPECT_EQ(content(), "<>" + std::string(ansi, cb) + "\r\n");
}

// Through real process termination: redirected standard streams are fully buffered after
// their first flush, and everything pending reaches its file at exit.
TEST(StreamsAtExit, RedirectedStandardStreams)
{
    if (plomtest::Wine32BitLoaderIsEmulated())
        GTEST_SKIP() << "each 32-bit child costs a minute under wine here; the 64-bit run covers it";
    plomtest::ProcessOptions options;
    options.env.push_back({ L"PLOM_STREAM_PROBE", L"redirect" });
    plomtest::ProcessResult const r =
        plomtest::RunProcessArgs(plomtest::ProbePath(L"stream_probe.exe"), {}, options);
    ASSERT_TRUE(r.started) << r.startError;
    EXPECT_EQ(r.exitCode, 7u);
    EXPECT_EQ(r.out, "first\r\n<mark>second\r\n");
    EXPECT_EQ(r.err, "e1<mark>e2\r\n");
}

TEST(StreamsAtExit, OpenedStreamsAreFlushedAndClosed)
{
    plomtest::TempDir dir(L"streamexit");
    ASSERT_TRUE(dir.ok());
    std::wstring const file = dir.file(L"exit.txt");
    plomtest::ProcessOptions options;
    options.env.push_back({ L"PLOM_STREAM_PROBE", L"exit" });
    options.env.push_back({ L"PLOM_STREAM_FILE", file });
    plomtest::ProcessResult const r =
        plomtest::RunProcessArgs(plomtest::ProbePath(L"stream_probe.exe"), {}, options);
    ASSERT_TRUE(r.started) << r.startError;
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(readFile(file), "kept until exit\r\nthrough the standard output pointer\r\n");
}

} // namespace
