#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kelp/env.h"
#include "kelp/err.h"
#include "kelp/file.h"
#include "kelp/init.h"
#include "kelp/path.h"
#include "kelp/string.h"

namespace {

std::string narrow(const std::wstring &w)
{
    char *utf8 = nullptr;
    if (RTUtf16ToUtf8((const RTUTF16 *)w.c_str(), &utf8) != 0)
        return std::string();
    std::string s(utf8);
    RTStrDispose(utf8);
    return s;
}

std::wstring widen(const std::string &s)
{
    RTUTF16 *w = nullptr;
    if (RTStrToUtf16(s.c_str(), &w) != 0)
        return std::wstring();
    std::wstring r((const wchar_t *)w);
    RTUtf16Free(w);
    return r;
}

// Replaces "{cwd}", "{parent}" and "{drive}" in an expected path.
std::string expand(std::string text, const std::string &cwd, const std::string &parent,
                   const std::string &drive)
{
    struct { const char *key; const std::string *value; } const keys[] = {
        { "{cwd}", &cwd }, { "{parent}", &parent }, { "{drive}", &drive } };
    for (auto const &k : keys)
        for (size_t pos; (pos = text.find(k.key)) != std::string::npos;)
            text.replace(pos, strlen(k.key), *k.value);
    return text;
}

// Runs in a fresh directory '<temp>\kelp-path-<pid>\work' as the current directory.
class PathCwd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t buf[MAX_PATH * 2];
        ASSERT_NE(GetCurrentDirectoryW(RT_ELEMENTS(buf), buf), 0u);
        savedCwd = buf;
        ASSERT_NE(GetTempPathW(RT_ELEMENTS(buf), buf), 0u);
        top = std::wstring(buf) + L"kelp-path-" + std::to_wstring(GetCurrentProcessId());
        work = top + L"\\work";
        ASSERT_TRUE(CreateDirectoryW(top.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_TRUE(SetCurrentDirectoryW(work.c_str()));
        ASSERT_NE(GetCurrentDirectoryW(RT_ELEMENTS(buf), buf), 0u);
        cwd = narrow(buf);
        if (cwd.size() > 1 && cwd[1] == ':' && cwd[0] >= 'a' && cwd[0] <= 'z')
            cwd[0] = (char)(cwd[0] - 'a' + 'A');
        ASSERT_GE(cwd.size(), 4u);
        ASSERT_EQ(cwd[1], ':') << "the test needs a drive-letter temporary directory";
        parent = cwd.substr(0, cwd.rfind('\\'));
        drive = cwd.substr(0, 2);
    }

    void TearDown() override
    {
        SetCurrentDirectoryW(savedCwd.c_str());
        RemoveDirectoryW(work.c_str());
        RemoveDirectoryW(top.c_str());
    }

    std::string expected(const char *text) const { return expand(text, cwd, parent, drive); }

    std::wstring savedCwd, top, work;
    std::string cwd, parent, drive;
};

struct AbsCase
{
    const char *base;
    const char *path;
    uint32_t flags;
    int rc;
    const char *result;     // with {cwd}, {parent}, {drive}
};

const AbsCase g_absCases[] = {
    // Against the current directory.
    { nullptr, "x",                 0, 0, "{cwd}\\x" },
    { nullptr, "..\\x",             0, 0, "{parent}\\x" },
    { nullptr, "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\x",
                                    0, 0, "{drive}\\x" },
    { nullptr, ".",                 0, 0, "{cwd}" },
    { nullptr, "./.",               0, 0, "{cwd}" },
    { nullptr, "sub\\",             0, 0, "{cwd}\\sub\\" },
    { nullptr, "sub//./f",          0, 0, "{cwd}\\sub\\f" },
    { nullptr, "a\\..\\b",          0, 0, "{cwd}\\b" },
    { nullptr, "x",                 PATHABS_TRAILING_SLASH, 0, "{cwd}\\x\\" },
    { nullptr, "..",                PATHABS_NO_CLIMB_CWD, 0, "{cwd}" },
    { nullptr, "..\\x",             PATHABS_NO_CLIMB_CWD, 0, "{cwd}\\x" },
    { nullptr, "..\\x",             PATHABS_NO_CLIMB_BASE, 0, "{parent}\\x" },
    { nullptr, "Q:f",               0, 0, "Q:\\f" },
    // Already absolute, or rooted.
    { nullptr, "c:/a//b/./c/",      0, 0, "C:\\a\\b\\c\\" },
    { nullptr, "C:\\\\\\a",         0, 0, "C:\\a" },
    { nullptr, "C:\\a\\..\\b",      0, 0, "C:\\b" },
    { nullptr, "c:\\a\\..\\b",      0, 0, "c:\\b" },
    { nullptr, "C:\\a\\..\\..\\b",  0, 0, "C:\\b" },
    { nullptr, "C:\\a\\b\\..\\",    0, 0, "C:\\a\\" },
    { nullptr, "\\x",               0, 0, "{drive}\\x" },
    { nullptr, "/x/../y",           0, 0, "{drive}\\y" },
    { nullptr, "\\\\srv\\share\\a\\..\\..\\b", 0, 0, "\\\\srv\\share\\b" },
    { nullptr, "//srv/share/x/",    0, 0, "\\\\srv\\share\\x\\" },
    { nullptr, "C:\\a",             PATHABS_TRAILING_SLASH, 0, "C:\\a\\" },
    { nullptr, "C:\\",              PATHABS_TRAILING_SLASH, 0, "C:\\" },
    { nullptr, "C:\\a\\..",         PATHABS_TRAILING_SLASH, 0, "C:\\" },
    { nullptr, "\\\\srv\\share",    PATHABS_TRAILING_SLASH, 0, "\\\\srv\\share\\" },
    // Against a base.
    { "D:\\base",       "f",            0, 0, "D:\\base\\f" },
    { "d:\\base\\",     ".",            0, 0, "D:\\base" },
    { "D:\\base",       "sub\\",        0, 0, "D:\\base\\sub\\" },
    { "D:\\base",       "f",            PATHABS_TRAILING_SLASH, 0, "D:\\base\\f\\" },
    { "D:\\base",       "\\x",          0, 0, "D:\\x" },
    { "D:\\base",       "d:f",          0, 0, "D:\\base\\f" },
    { "C:\\a\\b",       "..\\c",        0, 0, "C:\\a\\c" },
    { "C:\\a\\b",       "..\\c",        PATHABS_NO_CLIMB_BASE, 0, "C:\\a\\b\\c" },
    { "C:\\a\\b",       "..\\c",        PATHABS_NO_CLIMB_CWD, 0, "C:\\a\\c" },
    { "C:\\a\\b",       "x\\..\\..\\c", PATHABS_NO_CLIMB_BASE, 0, "C:\\a\\b\\c" },
    { "C:\\a\\b",       "..\\..\\..\\c", 0, 0, "C:\\c" },
    { "d:/a//b/./",     "f",            0, 0, "D:\\a\\b\\f" },
    { "D:\\a\\..\\b",   "f",            0, 0, "D:\\b\\f" },
    { "\\\\srv\\share\\dir", "..\\..\\x", 0, 0, "\\\\srv\\share\\x" },
    { "\\\\srv\\share\\dir", "\\x",     0, 0, "\\\\srv\\share\\x" },
    // Separators doubled in the base do not reach the drive prefix.
    { "\\\\srv\\\\share\\dir", "\\x",   0, 0, "\\\\srv\\share\\x" },
    { "\\\\srv\\share", "x",            0, 0, "\\\\srv\\share\\x" },
    { "\\\\server",     "x",            0, ERR_PATH_BAD_BASE, nullptr },
    { "rel",            "f",            0, 0, "{cwd}\\rel\\f" },
    // Errors.
    { nullptr, "",                  0, ERR_PATH_EMPTY, nullptr },
    { nullptr, "x",                 3, ERR_INVALID_FLAGS, nullptr },
    { nullptr, "x",                 0x80000, ERR_INVALID_FLAGS, nullptr },
};

TEST_F(PathCwd, AbsExTableAndSizeProtocol)
{
    for (auto const &c : g_absCases)
    {
        SCOPED_TRACE(std::string("base '") + (c.base ? c.base : "(none)") + "' path '" + c.path
                     + "' flags " + std::to_string(c.flags));
        char buf[RTPATH_MAX];
        memset(buf, 'z', sizeof(buf));
        size_t cb = sizeof(buf);
        int rc = RTPathAbsEx(c.base, c.path, c.flags, buf, &cb);
        ASSERT_EQ(rc, c.rc);
        if (!c.result)
            continue;
        std::string const want = expected(c.result);
        EXPECT_EQ(std::string(buf), want);
        EXPECT_EQ(cb, want.size());

        // One byte short: nothing but an empty string, and the size that is needed.
        std::vector<char> small(want.size(), 'z');
        cb = small.size();
        EXPECT_EQ(RTPathAbsEx(c.base, c.path, c.flags, small.data(), &cb), ERR_BUFFER_OVERFLOW);
        EXPECT_EQ(small[0], '\0');
        EXPECT_EQ(cb, want.size() + 1);

        std::vector<char> exact(cb, 'z');
        EXPECT_EQ(RTPathAbsEx(c.base, c.path, c.flags, exact.data(), &cb), 0);
        EXPECT_EQ(std::string(exact.data()), want);
        EXPECT_EQ(cb, want.size());
    }
}

TEST(PathAbsArgs, UnusablePointersAreRefused)
{
    char buf[16] = "keep";
    size_t cb = sizeof(buf);
    EXPECT_EQ(RTPathAbsEx(nullptr, nullptr, 0, buf, &cb), ERR_INVALID_POINTER);
    EXPECT_EQ(RTPathAbsEx((const char *)12, "x", 0, buf, &cb), ERR_INVALID_POINTER);
    EXPECT_EQ(RTPathAbsEx(nullptr, "C:\\x", 0, nullptr, &cb), ERR_INVALID_POINTER);
    EXPECT_EQ(RTPathAbsEx(nullptr, "C:\\x", 0, buf, nullptr), ERR_INVALID_POINTER);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(cb, sizeof(buf));
}

TEST_F(PathCwd, PathOnAnotherDriveUsesThatDrivesDirectory)
{
    // 'X:f' with a base on another drive is resolved against drive X's current directory,
    // which for the current directory's own drive is the current directory.
    std::string const path = std::string(1, (char)(cwd[0] - 'A' + 'a')) + ":f";
    char const *base = cwd[0] == 'D' ? "E:\\base" : "D:\\base";
    char buf[RTPATH_MAX];
    size_t cb = sizeof(buf);
    ASSERT_EQ(RTPathAbsEx(base, path.c_str(), 0, buf, &cb), 0);
    EXPECT_EQ(std::string(buf), cwd + "\\f");
}

TEST_F(PathCwd, AbsExDupGrowsPastItsFirstBuffer)
{
    std::string path;
    for (int i = 0; i < 400; i++)
        path += "dir" + std::to_string(i) + "\\";
    path += "..\\f";
    ASSERT_GT(path.size(), 2050u);
    char *abs = RTPathAbsExDup("C:\\", path.c_str(), 0);
    ASSERT_NE(abs, nullptr);
    std::string const want = "C:\\" + path.substr(0, path.size() - std::string("dir399\\..\\f").size()) + "f";
    EXPECT_EQ(std::string(abs), want);
    RTStrDispose(abs);

    EXPECT_EQ(RTPathAbsExDup(nullptr, "", 0), nullptr);
    char *rel = RTPathAbsExDup(nullptr, "x", 0);
    ASSERT_NE(rel, nullptr);
    EXPECT_EQ(std::string(rel), cwd + "\\x");
    RTStrDispose(rel);
}

TEST_F(PathCwd, AbsExWithManyComponentsUsesHeapRecord)
{
    // More components than the on-stack record holds.
    std::string path = "C:";
    for (int i = 0; i < 400; i++)
        path += "\\a";
    path += "\\.\\..\\b";
    char buf[RTPATH_MAX];
    size_t cb = sizeof(buf);
    ASSERT_EQ(RTPathAbsEx(nullptr, path.c_str(), 0, buf, &cb), 0);
    std::string want = "C:";
    for (int i = 0; i < 399; i++)
        want += "\\a";
    want += "\\b";
    EXPECT_EQ(std::string(buf), want);
}

TEST_F(PathCwd, CurrentDirectoryChangeDriveAndMove)
{
    char buf[RTPATH_MAX];
    ASSERT_EQ(RTPathCurrentDir(buf, sizeof(buf)), 0);
    EXPECT_EQ(std::string(buf), cwd);
    EXPECT_EQ(RTPathCurrentDir(buf, cwd.size()), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(RTPathCurrentDir(buf, 0), ERR_BUFFER_OVERFLOW);

    ASSERT_EQ(RTPathGetCurrentDrive(buf, sizeof(buf)), 0);
    EXPECT_EQ(std::string(buf), drive);
    // The current directory does not fit, its drive does.
    char small[4];
    ASSERT_EQ(RTPathGetCurrentDrive(small, sizeof(small)), 0);
    EXPECT_EQ(std::string(small), drive);
    EXPECT_EQ(RTPathGetCurrentDrive(small, 2), ERR_BUFFER_OVERFLOW);

    ASSERT_EQ(RTPathCurrentDirOnDrive(cwd[0], buf, sizeof(buf)), 0);
    EXPECT_EQ(std::string(buf), cwd);

    // A trailing separator is accepted; the drive's root keeps its own.
    ASSERT_TRUE(CreateDirectoryW((work + L"\\sub").c_str(), nullptr));
    EXPECT_EQ(RTPathChangeDir("sub\\"), 0);
    ASSERT_EQ(RTPathCurrentDir(buf, sizeof(buf)), 0);
    EXPECT_EQ(std::string(buf), cwd + "\\sub");
    EXPECT_EQ(RTPathChangeDir((drive + "\\").c_str()), 0);
    ASSERT_EQ(RTPathCurrentDir(buf, sizeof(buf)), 0);
    EXPECT_EQ(std::string(buf), drive + "\\");
    EXPECT_EQ(RTPathChangeDir((cwd + "/").c_str()), 0);
    ASSERT_EQ(RTPathCurrentDir(buf, sizeof(buf)), 0);
    EXPECT_EQ(std::string(buf), cwd);
    EXPECT_EQ(RTPathChangeDir("no-such-dir"), ERR_FILE_NOT_FOUND);
    EXPECT_EQ(RTPathChangeDir(""), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTPathChangeDir((const char *)1), ERR_INVALID_POINTER);

    // Moves, with and without the expected type.
    HANDLE h = CreateFileW(L"file", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(RTPathMove("file", "moved", 0, MODE_TYPE_DIRECTORY), ERR_NOT_A_DIRECTORY);
    EXPECT_EQ(RTPathMove("sub", "moved", 0, MODE_TYPE_FILE), ERR_IS_A_DIRECTORY);
    EXPECT_EQ(RTPathMove("missing", "moved", 0, MODE_TYPE_FILE), ERR_FILE_NOT_FOUND);
    EXPECT_EQ(RTPathMove("file", "moved", 0, MODE_TYPE_FILE), 0);
    EXPECT_EQ(GetFileAttributesW(L"file"), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(L"moved"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(RTPathMove("sub", "sub2", 0, MODE_TYPE_DIRECTORY), 0);
    EXPECT_NE(GetFileAttributesW(L"sub2"), INVALID_FILE_ATTRIBUTES);
    h = CreateFileW(L"other", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(RTPathMove("other", "moved", 0, 0), ERR_ALREADY_EXISTS);
    EXPECT_EQ(RTPathMove("other", "moved", MOVEFILE_REPLACE_EXISTING, 0), 0);
    EXPECT_TRUE(DeleteFileW(L"moved"));
    EXPECT_TRUE(RemoveDirectoryW(L"sub2"));
}

struct AddCase
{
    const char *path;
    const char *component;
    uint32_t style;
    const char *result;
};

TEST(PathText, AddComponent)
{
    static const AddCase cases[] = {
        { "C:\\",            "x",        PATH_STYLE_HOST, "C:\\x" },
        { "C:\\a\\\\\\",     "\\\\x",    PATH_STYLE_HOST, "C:\\a\\x" },
        { "C:\\\\\\",        "x",        PATH_STYLE_DOS,  "C:\\x" },
        { "C:",              "x",        PATH_STYLE_HOST, "C:x" },
        { "a",               "\\x",      PATH_STYLE_HOST, "a\\x" },
        { "a",               "\\\\\\x",  PATH_STYLE_HOST, "a\\x" },
        { "a",               "x",        PATH_STYLE_HOST, "a\\x" },
        { "",                "x",        PATH_STYLE_HOST, "x" },
        { "a",               "",         PATH_STYLE_HOST, "a" },
        { "\\\\srv\\share\\\\", "x",     PATH_STYLE_DOS,  "\\\\srv\\share\\x" },
        { "\\\\\\",          "x",        PATH_STYLE_DOS,  "\\x" },
        { "a/b///",          "//x",      PATH_STYLE_UNIX, "a/b/x" },
        { "a",               "x",        PATH_STYLE_UNIX, "a/x" },
        { "a\\",             "x",        PATH_STYLE_UNIX, "a\\/x" },
        { "///",             "x",        PATH_STYLE_UNIX, "/x" },
    };
    for (auto const &c : cases)
    {
        SCOPED_TRACE(std::string("'") + c.path + "' + '" + c.component + "'");
        char buf[64];
        strcpy(buf, c.path);
        ASSERT_EQ(RTPathAddComponentEx(buf, sizeof(buf), c.component, RTSTR_MAX, c.style), 0);
        EXPECT_EQ(std::string(buf), c.result);

        // Exactly big enough, then one byte short (the buffer keeps its content).
        size_t const need = strlen(c.result) + 1;
        std::vector<char> exact(need > strlen(c.path) + 1 ? need : strlen(c.path) + 1);
        strcpy(exact.data(), c.path);
        ASSERT_EQ(RTPathAddComponentEx(exact.data(), need < exact.size() ? exact.size() : need,
                                       c.component, RTSTR_MAX, c.style), 0);
        EXPECT_EQ(std::string(exact.data()), c.result);
        if (need - 1 > strlen(c.path))
        {
            std::vector<char> shortBuf(need - 1);
            strcpy(shortBuf.data(), c.path);
            EXPECT_EQ(RTPathAddComponentEx(shortBuf.data(), shortBuf.size(), c.component,
                                           RTSTR_MAX, c.style), ERR_BUFFER_OVERFLOW);
            EXPECT_EQ(std::string(shortBuf.data()), c.path);
        }
    }

    char buf[8] = "abc";
    EXPECT_EQ(RTPathAddComponentEx(buf, sizeof(buf), "xyz", 1, PATH_STYLE_DOS), 0);
    EXPECT_EQ(std::string(buf), "abc\\x");
    EXPECT_EQ(RTPathAddComponentEx(buf, sizeof(buf), "x", RTSTR_MAX, 3), ERR_INVALID_FLAGS);
    char full[3] = { 'a', 'b', 'c' };
    EXPECT_EQ(RTPathAddComponent(full, sizeof(full), "x"), ERR_BAD_ARGUMENT);
    EXPECT_EQ(full[2], 'c');
}

TEST(PathText, JoinIntoAndJoinA)
{
    char buf[16];
    EXPECT_EQ(RTPathJoinInto(buf, sizeof(buf), "C:\\dir\\", "\\f"), 0);
    EXPECT_EQ(std::string(buf), "C:\\dir\\f");
    EXPECT_EQ(RTPathJoinInto(buf, 4, "C:\\dir", "f"), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(RTPathJoinInto(buf, 8, "C:\\dir", "f"), ERR_BUFFER_OVERFLOW);
    char *joined = RTPathJoinA("a", "b");
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(std::string(joined), "a\\b");
    RTStrDispose(joined);
    joined = RTPathJoinA("", "b");
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(std::string(joined), "b");
    RTStrDispose(joined);
}

TEST(PathText, SmallHelpers)
{
    struct Case { const char *path; size_t root; const char *final; const char *ext; };
    static const Case cases[] = {
        { "setup.msi",          0,  "setup.msi", ".msi" },
        { "a.b\\c",             0,  "c",         nullptr },
        { "file.",              0,  "file.",     nullptr },
        { ".profile",           0,  ".profile",  nullptr },
        { "dir\\.profile",      0,  ".profile",  ".profile" },
        { "C:",                 2,  nullptr,     nullptr },
        { "C:\\\\",             4,  nullptr,     nullptr },
        { "C:f.txt",            2,  "f.txt",     ".txt" },
        { "C:\\d.x\\f",         3,  "f",         nullptr },
        { "\\\\srv\\share\\dir", 12, "dir",      nullptr },
        { "\\\\srv",            5,  "srv",       nullptr },
        { "\\\\\\x",            3,  "x",         nullptr },
        { "\\x.y",              1,  "x.y",       ".y" },
        { "a/b.c/",             0,  nullptr,     nullptr },
        { "",                   0,  nullptr,     nullptr },
    };
    for (auto const &c : cases)
    {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(RTPathRootLength(c.path), c.root);
        EXPECT_EQ(RTPathStartsWithRoot(c.path), c.root != 0);
        const char *final = RTPathFinalComponent(c.path);
        EXPECT_EQ(final ? std::string(final) : std::string("(null)"),
                  c.final ? std::string(c.final) : std::string("(null)"));
        const char *ext = RTPathExtension(c.path);
        EXPECT_EQ(ext ? std::string(ext) : std::string("(null)"),
                  c.ext ? std::string(c.ext) : std::string("(null)"));
        EXPECT_EQ(RTPathHasExtension(c.path), c.ext != nullptr);
        if (final)
            EXPECT_GE(final, c.path);
    }

    EXPECT_TRUE(RTPathHasDirPart("a:b"));
    EXPECT_TRUE(RTPathHasDirPart("a/b"));
    EXPECT_FALSE(RTPathHasDirPart("ab.c"));
    char mixed[] = "c:/a/b\\c";
    EXPECT_EQ(RTPathToBackslashes(mixed), mixed);
    EXPECT_STREQ(mixed, "c:\\a\\b\\c");
    RTPathUpperDrive(mixed);
    EXPECT_STREQ(mixed, "C:\\a\\b\\c");
    char notDrive[] = "1:x";
    RTPathUpperDrive(notDrive);
    EXPECT_STREQ(notDrive, "1:x");

    struct SepCase { const char *path; size_t size; size_t result; const char *after; };
    static const SepCase seps[] = {
        { "C:\\dir", 8, 7, "C:\\dir\\" },
        { "C:\\dir", 7, 0, "C:\\dir" },
        { "C:\\dir\\", 8, 7, "C:\\dir\\" },
        { "C:", 3, 2, "C:" },
        { "", 3, 2, ".\\" },
        { "", 2, 0, "" },
    };
    for (auto const &s : seps)
    {
        SCOPED_TRACE(s.path);
        char buf[16];
        strcpy(buf, s.path);
        EXPECT_EQ(RTPathAddTrailingSeparator(buf, s.size), s.result);
        EXPECT_STREQ(buf, s.after);
    }
}

TEST(PathText, Measure)
{
    struct Case { const char *path; size_t length, dir, name, suffix; };
    size_t const none = RTPATH_NO_OFFSET;
    const Case cases[] = {
        { "C:\\dir\\prog.exe",  15, 6, 7, 11 },
        { "C:\\prog.exe",       11, 3, 3, 7 },
        { "prog",               4,  0, 0, none },
        { "C:\\dir\\\\prog",    12, 6, 8, none },
        { "C:\\dir\\",          7,  6, none, none },
        { "C:\\",               3,  3, none, none },
        { "\\\\srv\\share\\f.x", 15, 11, 12, 13 },
        { "dir\\.hidden",       11, 3, 4, none },
        { "dir\\name.",         9,  3, 4, none },
    };
    for (auto const &c : cases)
    {
        SCOPED_TRACE(c.path);
        size_t dir = 99, name = 99, suffix = 99;
        EXPECT_EQ(RTPathMeasure(c.path, &dir, &name, &suffix), c.length);
        EXPECT_EQ(dir, c.dir);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(suffix, c.suffix);
    }
    EXPECT_EQ(RTPathMeasure("C:\\x", nullptr, nullptr, nullptr), 4u);
}

TEST(PathText, SplitAndReassemble)
{
    struct Case
    {
        const char *path;
        uint32_t flags;
        uint16_t props;
        std::vector<std::string> comps;
        const char *dos;        // reassembled in DOS style
    };
    const Case cases[] = {
        { "C:\\a\\b.txt", PATH_STYLE_DOS,
          PATH_VOLUME | PATH_ROOT_SLASH | PATH_ABSOLUTE | PATH_HAS_FILENAME | PATH_HAS_SUFFIX,
          { "C:\\", "a", "b.txt" }, "C:\\a\\b.txt" },
        { "c:a", PATH_STYLE_DOS, PATH_VOLUME | PATH_RELATIVE | PATH_HAS_FILENAME,
          { "c:", "a" }, "c:a" },
        { "//srv/share//x/", PATH_STYLE_DOS,
          PATH_UNC | PATH_ROOT_SLASH | PATH_ABSOLUTE | PATH_EXTRA_SLASHES | PATH_DIR_SLASH,
          { "//srv/", "share", "x" }, "\\\\srv\\share\\x\\" },
        { "\\\\?\\C:\\x", PATH_STYLE_DOS,
          PATH_UNC | PATH_SPECIAL_UNC | PATH_ROOT_SLASH | PATH_ABSOLUTE | PATH_HAS_FILENAME,
          { "\\\\?\\", "C:", "x" }, "\\\\?\\C:\\x" },
        { "\\a\\.\\..\\b", PATH_STYLE_DOS,
          PATH_ROOT_SLASH | PATH_RELATIVE | PATH_DOT_REFS | PATH_DOTDOT_REFS | PATH_HAS_FILENAME,
          { "\\", "a", ".", "..", "b" }, "\\a\\.\\..\\b" },
        { "C:\\..\\x", PATH_STYLE_DOS,
          PATH_VOLUME | PATH_ROOT_SLASH | PATH_RELATIVE | PATH_DOTDOT_REFS | PATH_HAS_FILENAME,
          { "C:\\", "..", "x" }, "C:\\..\\x" },
        { "a\\\\b\\", PATH_STYLE_DOS,
          PATH_RELATIVE | PATH_EXTRA_SLASHES | PATH_DIR_SLASH, { "a", "b" }, "a\\b\\" },
        { "a\\b", PATH_STYLE_UNIX, PATH_RELATIVE | PATH_HAS_FILENAME, { "a\\b" }, "a\\b" },
        { "//a/b", PATH_STYLE_UNIX,
          PATH_ROOT_SLASH | PATH_ABSOLUTE | PATH_EXTRA_SLASHES | PATH_HAS_FILENAME,
          { "/", "a", "b" }, "\\a\\b" },
        { "\\\\a\\b", PATH_STYLE_DOS | PATH_PARSE_NO_ROOT,
          PATH_RELATIVE | PATH_EXTRA_SLASHES | PATH_HAS_FILENAME, { "a", "b" }, "a\\b" },
        { "a\\b.c\\\\", PATH_STYLE_DOS | PATH_PARSE_NO_END, PATH_RELATIVE | PATH_EXTRA_SLASHES,
          { "a", "b.c" }, "a\\b.c" },
    };
    for (auto const &c : cases)
    {
        SCOPED_TRACE(c.path);
        alignas(ParsedPath) uint8_t raw[RTPATH_PARSED_SIZE(8)];
        ParsedPath *parsed = (ParsedPath *)raw;
        ASSERT_EQ(RTPathSplitComponents(c.path, parsed, sizeof(raw), c.flags), 0);
        EXPECT_EQ(parsed->props, c.props);
        ASSERT_EQ(parsed->count, c.comps.size());
        for (size_t i = 0; i < c.comps.size(); i++)
            EXPECT_EQ(std::string(c.path + parsed->comps[i].offset, parsed->comps[i].length),
                      c.comps[i]);
        EXPECT_EQ(parsed->normLength, strlen(c.dos));
        char out[64];
        ASSERT_EQ(RTPathReassemble(c.path, parsed, PATH_STYLE_DOS, out, sizeof(out)), 0);
        EXPECT_STREQ(out, c.dos);
        EXPECT_EQ(RTPathReassemble(c.path, parsed, PATH_STYLE_DOS, out, strlen(c.dos)),
                  ERR_BUFFER_OVERFLOW);
        EXPECT_STREQ(out, "");
    }

    // Suffix, and entries that do not fit.
    alignas(ParsedPath) uint8_t raw[RTPATH_PARSED_SIZE(2)];
    ParsedPath *parsed = (ParsedPath *)raw;
    ASSERT_EQ(RTPathSplitComponents("a\\b\\c.tar.gz", parsed, sizeof(raw), 0), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(parsed->count, 3);
    EXPECT_EQ(parsed->suffixOffset, 9);
    EXPECT_EQ(parsed->suffixLength, 3);
    EXPECT_EQ(parsed->normLength, 12);

    EXPECT_EQ(RTPathSplitComponents("", parsed, sizeof(raw), 0), ERR_PATH_EMPTY);
    EXPECT_EQ(RTPathSplitComponents("\\\\", parsed, sizeof(raw), PATH_PARSE_NO_ROOT), ERR_PATH_EMPTY);
    EXPECT_EQ(RTPathSplitComponents("a", parsed, 11, 0), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTPathSplitComponents("a", parsed, sizeof(raw), 3), ERR_INVALID_FLAGS);
    EXPECT_EQ(RTPathSplitComponents("a", parsed, sizeof(raw), 0x40), ERR_INVALID_FLAGS);
    EXPECT_EQ(RTPathSplitComponents((const char *)8, parsed, sizeof(raw), 0), ERR_INVALID_POINTER);

    // Components beyond 64 KiB cannot be described.
    std::string longPath(70000, 'a');
    EXPECT_EQ(RTPathSplitComponents(longPath.c_str(), parsed, sizeof(raw), 0), ERR_FILENAME_TOO_LONG);
    parsed->count = 0;
    char out[8];
    EXPECT_EQ(RTPathReassemble("a", parsed, PATH_STYLE_DOS, out, sizeof(out)), ERR_BAD_ARGUMENT);
}

// Sets or removes variables for one test and puts the old values back.
class PathEnv : public ::testing::Test
{
protected:
    void set(const wchar_t *name, const wchar_t *value)
    {
        if (!saved.count(name))
        {
            wchar_t buf[32768];
            DWORD n = GetEnvironmentVariableW(name, buf, RT_ELEMENTS(buf));
            saved[name] = n || GetLastError() != ERROR_ENVVAR_NOT_FOUND
                        ? std::make_pair(true, std::wstring(buf, n)) : std::make_pair(false, std::wstring());
        }
        ASSERT_TRUE(SetEnvironmentVariableW(name, value));
    }
    void TearDown() override
    {
        for (auto const &kv : saved)
            SetEnvironmentVariableW(kv.first.c_str(), kv.second.first ? kv.second.second.c_str() : nullptr);
    }
    std::map<std::wstring, std::pair<bool, std::wstring>> saved;
};

TEST_F(PathEnv, TempDirVariableOrder)
{
    struct Case
    {
        const wchar_t *kelp, *tmp, *temp, *profile;     // null: unset
        int rc;
        const char *result;
    };
    static const Case cases[] = {
        { L"K:\\kelp", L"T:\\tmp", L"E:\\temp", L"P:\\prof", 0, "K:\\kelp" },
        { nullptr,     L"T:\\tmp", L"E:\\temp", L"P:\\prof", 0, "T:\\tmp" },
        { nullptr,     nullptr,    L"E:\\temp", L"P:\\prof", 0, "E:\\temp" },
        { nullptr,     nullptr,    nullptr,     L"P:\\prof", 0, "P:\\prof" },
        { nullptr,     nullptr,    nullptr,     nullptr,     0, "/tmp" },
        { nullptr,     L"",        L"E:\\temp", nullptr,     0, "" },
        { nullptr,     L"rel/tmp", nullptr,     nullptr,     0, "rel/tmp" },
    };
    for (auto const &c : cases)
    {
        SCOPED_TRACE(c.result);
        set(L"KELP_TMPDIR", c.kelp);
        set(L"TMP", c.tmp);
        set(L"TEMP", c.temp);
        set(L"USERPROFILE", c.profile);
        char buf[RTPATH_MAX];
        memset(buf, 'z', sizeof(buf));
        ASSERT_EQ(RTPathTempDir(buf, sizeof(buf)), c.rc);
        EXPECT_STREQ(buf, c.result);
    }

    // A value that does not fit stops the search.
    set(L"KELP_TMPDIR", nullptr);
    set(L"TMP", L"C:\\a-long-temporary-directory");
    char small[8];
    EXPECT_EQ(RTPathTempDir(small, sizeof(small)), ERR_BUFFER_OVERFLOW);
    set(L"TMP", nullptr);
    set(L"TEMP", nullptr);
    set(L"USERPROFILE", nullptr);
    EXPECT_EQ(RTPathTempDir(small, 4), ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(RTPathTempDir(small, 5), 0);
    EXPECT_STREQ(small, "/tmp");
}

TEST_F(PathEnv, QueryValue)
{
    std::wstring longValue;
    for (int i = 0; i < 700; i++)
        longValue += (wchar_t)(L'a' + i % 26);
    longValue += L"\u00e9";     // two bytes in UTF-8
    set(L"KELP_TEST_LONG", longValue.c_str());
    set(L"KELP_TEST_EMPTY", L"");
    set(L"KELP_TEST_MISSING", nullptr);

    std::vector<char> buf(1024, 'z');
    size_t len = 99;
    ASSERT_EQ(RTEnvQueryValue(RTENV_DEFAULT, "KELP_TEST_LONG", buf.data(), buf.size(), &len), 0);
    EXPECT_EQ(std::string(buf.data()), narrow(longValue));
    EXPECT_EQ(len, 702u);
    len = 99;
    EXPECT_EQ(RTEnvQueryValue(RTENV_DEFAULT, "KELP_TEST_LONG", nullptr, 0, &len), 0);
    EXPECT_EQ(len, 702u);
    EXPECT_EQ(RTEnvQueryValue(RTENV_DEFAULT, "KELP_TEST_LONG", buf.data(), 702, nullptr),
              ERR_BUFFER_OVERFLOW);
    EXPECT_EQ(RTEnvQueryValue(RTENV_DEFAULT, "KELP_TEST_LONG", buf.data(), 703, nullptr), 0);

    len = 99;
    buf[0] = 'z';
    EXPECT_EQ(RTEnvQueryValue(RTENV_DEFAULT, "KELP_TEST_EMPTY", buf.data(), buf.size(), &len), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(len, 0u);

    len = 99;
    EXPECT_EQ(RTEnvQueryValue(RTENV_DEFAULT, "KELP_TEST_MISSING", buf.data(), buf.size(), &len),
              ERR_ENV_VAR_NOT_FOUND);
    EXPECT_EQ(len, 0u);

    EXPECT_EQ(RTEnvQueryValue(RTENV_DEFAULT, "A=B", buf.data(), buf.size(), &len), ERR_ENV_BAD_NAME);
    EXPECT_EQ(RTEnvQueryValue(RTENV_DEFAULT, nullptr, buf.data(), buf.size(), &len), ERR_INVALID_POINTER);
    EXPECT_EQ(RTEnvQueryValue(RTENV_DEFAULT, "X", (char *)16, 4, &len), ERR_INVALID_POINTER);
    EXPECT_EQ(RTEnvQueryValue(RTENV_DEFAULT, "X", nullptr, 4, &len), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTEnvQueryValue(RTENV_DEFAULT, "X", buf.data(), 0, nullptr), ERR_BAD_ARGUMENT);
}

TEST(PathExecutable, DirectoryFromStartupRecord)
{
    RTPROCESSINFO const saved = ProcessInfo;
    char buf[16];
    ProcessInfo.execPath[0] = '\0';
    ProcessInfo.pathLength = 0;
    EXPECT_EQ(RTPathOfExecutableDir(buf, sizeof(buf)), ERR_BAD_SEQUENCE);

    strcpy(ProcessInfo.execPath, "C:\\dir\\prog.exe");
    ProcessInfo.pathLength = 15;
    ProcessInfo.dirLength = 6;
    ProcessInfo.fileNameOffset = 7;
    EXPECT_EQ(RTPathOfExecutableDir(buf, sizeof(buf)), 0);
    EXPECT_STREQ(buf, "C:\\dir");
    EXPECT_EQ(RTPathOfExecutableDir(buf, 7), 0);
    EXPECT_EQ(RTPathOfExecutableDir(buf, 6), ERR_BUFFER_OVERFLOW);
    ProcessInfo = saved;
}

} // namespace
