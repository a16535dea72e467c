#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <cstring>
#include <string>

#include "kelp/err.h"
#include "kelp/nativepath.h"
#include "kelp/string.h"

namespace {

std::string narrow(const RTUTF16 *w, size_t units = RTSTR_MAX)
{
    char *utf8 = nullptr;
    if (RTUtf16ToUtf8Ex(w, units, &utf8, 0, nullptr) != 0)
        return "(bad UTF-16)";
    std::string s(utf8);
    RTStrDispose(utf8);
    return s;
}

std::string currentDir()
{
    wchar_t buf[MAX_PATH * 2];
    DWORD n = GetCurrentDirectoryW(RT_ELEMENTS(buf), buf);
    std::string s = n ? narrow((const RTUTF16 *)buf) : std::string();
    if (s.size() > 1 && s[1] == ':' && s[0] >= 'a' && s[0] <= 'z')
        s[0] = (char)(s[0] - 'a' + 'A');
    return s;
}

std::string toWin32(const std::string &path, int *rc)
{
    RTUTF16 *w = (RTUTF16 *)1;
    *rc = RTPathToNativeWin32(&w, path.c_str());
    if (*rc != 0)
        return w ? "(not null)" : "(null)";
    std::string s = narrow(w);
    RTPathFreeNativeWin32(w);
    return s;
}

std::string toNt(const std::string &path, int *rc)
{
    UNICODE_STRING name;
    HANDLE root = (HANDLE)1;
    *rc = RTPathToNtPath(&name, &root, path.c_str());
    if (*rc != 0)
        return name.Buffer ? "(not null)" : "(null)";
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(name.MaximumLength, name.Length + 2);
    EXPECT_EQ(name.Buffer[name.Length / 2], 0);
    std::string s = narrow((const RTUTF16 *)name.Buffer, name.Length / 2);
    RTPathFreeNtPath(&name, root);
    EXPECT_EQ(name.Buffer, nullptr);
    return s;
}

std::string rep(char c, size_t n) { return std::string(n, c); }

// The current directory is one short enough for the relative-path thresholds below.
class NativePath : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t buf[MAX_PATH * 2];
        ASSERT_NE(GetCurrentDirectoryW(RT_ELEMENTS(buf), buf), 0u);
        saved = buf;
        ASSERT_NE(GetTempPathW(RT_ELEMENTS(buf), buf), 0u);
        dir = std::wstring(buf) + L"kelp-np-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
        cwd = currentDir();
        ASSERT_EQ(cwd[1], ':') << "the test needs a drive-letter temporary directory";
        ASSERT_LT(cwd.size(), 200u);
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(saved.c_str());
        RemoveDirectoryW(dir.c_str());
    }
    std::wstring saved, dir;
    std::string cwd;
};

TEST_F(NativePath, Win32FormsAtTheThresholds)
{
    std::string const drive = cwd.substr(0, 2);
    // Relative paths: the current directory's size with its terminator plus the length.
    size_t const relPlain = 242 - (cwd.size() + 1);
    struct Case { std::string path; std::string result; };
    Case const cases[] = {
        { "C:\\short", "C:\\short" },
        { "C:\\" + rep('a', 240), "C:\\" + rep('a', 240) },
        { "C:\\" + rep('a', 241), "\\\\?\\C:\\" + rep('a', 241) },
        { "C:/x/./y/../" + rep('b', 300), "\\\\?\\C:\\x\\" + rep('b', 300) },
        { "\\\\srv\\share\\" + rep('c', 228), "\\\\srv\\share\\" + rep('c', 228) },
        { "\\\\srv\\share\\" + rep('c', 229), "\\\\?\\UNC\\srv\\share\\" + rep('c', 229) },
        { "\\\\srv\\share\\" + rep('c', 250), "\\\\?\\UNC\\srv\\share\\" + rep('c', 250) },
        { "\\\\.\\" + rep('d', 236), "\\\\.\\" + rep('d', 236) },
        { "\\" + rep('e', 240), "\\" + rep('e', 240) },
        { "\\" + rep('e', 241), "\\\\?\\" + drive + "\\" + rep('e', 241) },
        { "\\\\\\" + rep('e', 238), "\\\\\\" + rep('e', 238) },
        { "\\\\\\" + rep('e', 239), "\\\\?\\" + drive + "\\" + rep('e', 239) },
        { rep('f', relPlain), rep('f', relPlain) },
        { rep('f', relPlain + 1), "\\\\?\\" + cwd + "\\" + rep('f', relPlain + 1) },
        { "\\\\?\\C:\\x\\..\\" + rep('g', 300), "\\\\?\\C:\\x\\..\\" + rep('g', 300) },
        { "\\\\:kelpnt:\\Device\\Null", "\\\\:kelpnt:\\Device\\Null" },
    };
    for (auto const &c : cases)
    {
        SCOPED_TRACE(c.path.substr(0, 40) + "... length " + std::to_string(c.path.size()));
        int rc;
        EXPECT_EQ(toWin32(c.path, &rc), c.result);
        EXPECT_EQ(rc, 0);
    }
}

TEST_F(NativePath, DriveRelativePathGetsTheDrivesDirectory)
{
    std::string const drive = cwd.substr(0, 2);
    int rc;
    EXPECT_EQ(toWin32(drive + "rel", &rc), cwd + "\\rel");
    EXPECT_EQ(rc, 0);
    // Too long for the plain form: the long form of the same directory.
    std::string const longRel = rep('r', 243 - 2);
    EXPECT_EQ(toWin32(drive + longRel, &rc), "\\\\?\\" + cwd + "\\" + longRel);
    EXPECT_EQ(rc, 0);
}

TEST_F(NativePath, NoWin32FormAndBadInput)
{
    int rc;
    EXPECT_EQ(toWin32("\\\\:kelpnt:\\Device\\" + rep('h', 300), &rc), "(null)");
    EXPECT_EQ(rc, ERR_FILENAME_TOO_LONG);
    EXPECT_EQ(toWin32("C:\\bad\xC0\x80", &rc), "(null)");
    EXPECT_EQ(rc, ERR_INVALID_UTF8);
    EXPECT_EQ(toNt("C:\\bad\xC0\x80", &rc), "(null)");
    EXPECT_EQ(rc, ERR_INVALID_UTF8);
}

TEST_F(NativePath, NtPaths)
{
    struct Case { std::string path; std::string result; };
    Case const cases[] = {
        { "C:\\dir", "\\??\\C:\\dir" },
        { "c:/dir//x/", "\\??\\C:\\dir\\x\\" },
        { "\\\\srv\\share\\x", "\\??\\UNC\\srv\\share\\x" },
        { "//srv/share/a/../x", "\\??\\UNC\\srv\\share\\x" },
        { "\\\\.\\pipe\\p", "\\??\\pipe\\p" },
        { "\\\\?\\C:\\x", "\\??\\C:\\x" },
        { "//?/C:/x/../y", "\\??\\C:/x/../y" },
        { "\\\\:kelpnt:\\Device\\Null", "\\Device\\Null" },
        { "//:kelpnt:/Device/Null", "/Device/Null" },
        { "rel\\f", "\\??\\" + cwd + "\\rel\\f" },
        { "\\x", "\\??\\" + cwd.substr(0, 2) + "\\x" },
    };
    for (auto const &c : cases)
    {
        SCOPED_TRACE(c.path);
        int rc;
        EXPECT_EQ(toNt(c.path, &rc), c.result);
        EXPECT_EQ(rc, 0);
    }
}

TEST_F(NativePath, NtPathLengthLimit)
{
    // "\??\" + 32,762 characters is the longest NT path; the absolute form outgrows the
    // first buffers on the way.
    int rc;
    std::string const longest = "C:\\" + rep('i', 32762 - 3);
    EXPECT_EQ(toNt(longest, &rc), "\\??\\" + longest);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(toNt(longest + "i", &rc), "(null)");
    EXPECT_EQ(rc, ERR_FILENAME_TOO_LONG);

    std::string const longForm = "\\\\?\\C:\\" + rep('j', 32766 - 7);
    EXPECT_EQ(toNt(longForm, &rc), "\\??\\C:\\" + rep('j', 32766 - 7));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(toNt(longForm + "j", &rc), "(null)");
    EXPECT_EQ(rc, ERR_FILENAME_TOO_LONG);

    EXPECT_EQ(toWin32("C:\\" + rep('k', 33000), &rc), "(null)");
    EXPECT_EQ(rc, ERR_FILENAME_TOO_LONG);
}

TEST_F(NativePath, OpenNt)
{
    HANDLE h = (HANDLE)1;
    bool isObjDir = true;
    std::string const here = cwd;
    ASSERT_EQ(RTPathOpenNt(here.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT,
                           OBJ_CASE_INSENSITIVE, &h, &isObjDir), 0);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(isObjDir);
    EXPECT_EQ(RTNtCloseHandle(h), 0);

    h = (HANDLE)1;
    EXPECT_EQ(RTPathOpenNt("no-such-entry", FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ,
                           FILE_SYNCHRONOUS_IO_NONALERT, OBJ_CASE_INSENSITIVE, &h, nullptr),
              ERR_FILE_NOT_FOUND);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
}

TEST_F(NativePath, OpenVolumeThroughTrailingSeparatorRetry)
{
    std::wstring const volume = L"\\??\\" + std::wstring(1, (wchar_t)cwd[0]) + L":";
    UNICODE_STRING name;
    name.Buffer = const_cast<PWSTR>(volume.c_str());
    name.Length = (USHORT)(volume.size() * 2);
    name.MaximumLength = name.Length + 2;
    HANDLE h = (HANDLE)1;
    ASSERT_EQ(RTPathOpenNtEx(nullptr, &name, FILE_LIST_DIRECTORY | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT,
                             OBJ_CASE_INSENSITIVE, &h, nullptr), 0);
    EXPECT_EQ(RTNtCloseHandle(h), 0);
}

// A current directory spelled with two leading separators (a share, or a directory in its
// long or device form): a relative path must become the NT path of its absolute form, not
// the drive prefix glued in front of '\\'. Such a directory comes either as the process's
// current directory or as a drive's current directory (the "=X:" variable that
// GetFullPathNameW reads for 'X:rel').
TEST_F(NativePath, RelativePathsUnderShareCurrentDirectory)
{
    HANDLE h = CreateFileW(L"rel.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    char const other = cwd[0] == 'Q' ? 'R' : 'Q';
    std::string const tail = cwd.substr(2);     // '\...\kelp-np-<pid>'
    struct Case { bool driveVariable; std::string dir; bool exists; };
    Case const cases[] = {
        { false, "\\\\localhost\\" + std::string(1, cwd[0]) + "$" + tail, true },
        { false, "\\\\?\\" + cwd, true },
        { false, "\\\\.\\" + cwd, true },
        { true, "\\\\kelpsrv\\share\\dir", false },
        { true, "\\\\?\\" + cwd, true },
    };
    std::wstring const variable = std::wstring(L"=") + (wchar_t)other + L":";
    int tried = 0;
    for (auto const &c : cases)
    {
        SCOPED_TRACE(c.dir);
        std::wstring const wide(c.dir.begin(), c.dir.end());
        std::string rel = "rel.bin";
        if (c.driveVariable)
        {
            ASSERT_TRUE(SetEnvironmentVariableW(variable.c_str(), wide.c_str()));
            rel = std::string(1, other) + ":rel.bin";
        }
        else if (!SetCurrentDirectoryW(wide.c_str()))
            continue;
        // Where Windows itself puts the relative path.
        std::wstring const wideRel(rel.begin(), rel.end());
        wchar_t full[MAX_PATH * 2];
        DWORD const n = GetFullPathNameW(wideRel.c_str(), RT_ELEMENTS(full), full, nullptr);
        if (n && n < RT_ELEMENTS(full) && full[0] == '\\' && full[1] == '\\')
        {
            tried++;
            int rc;
            std::string const expected = toNt(narrow((const RTUTF16 *)full), &rc);
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(expected.substr(0, 4), "\\??\\");
            EXPECT_EQ(toNt(rel, &rc), expected);
            EXPECT_EQ(rc, 0);
            if (c.exists)
            {
                HANDLE hOpen = INVALID_HANDLE_VALUE;
                EXPECT_EQ(RTPathOpenNt(rel.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ,
                                       FILE_SYNCHRONOUS_IO_NONALERT, OBJ_CASE_INSENSITIVE, &hOpen,
                                       nullptr), 0);
                if (hOpen != INVALID_HANDLE_VALUE)
                    RTNtCloseHandle(hOpen);
            }
        }
        if (c.driveVariable)
            SetEnvironmentVariableW(variable.c_str(), nullptr);
        else
            ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    }
    SetEnvironmentVariableW(variable.c_str(), nullptr);
    DeleteFileW(L"rel.bin");
    if (!tried)
        GTEST_SKIP() << "no current directory with two leading separators is accepted here";
}

TEST_F(NativePath, OpenObjectDirectoryOnlyForNativeNames)
{
    HANDLE h = (HANDLE)1;
    bool isObjDir = false;
    ASSERT_EQ(RTPathOpenNt("\\\\:kelpnt:\\BaseNamedObjects\\", GENERIC_READ,
                           FILE_SHARE_READ, 0, OBJ_CASE_INSENSITIVE, &h, &isObjDir), 0);
    EXPECT_TRUE(isObjDir);
    EXPECT_EQ(RTNtCloseHandle(h), 0);

    h = (HANDLE)1;
    EXPECT_LT(RTPathOpenNt("\\\\:kelpnt:\\BaseNamedObjects", GENERIC_READ, FILE_SHARE_READ, 0,
                           OBJ_CASE_INSENSITIVE, &h, nullptr), 0);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
}

} // namespace
