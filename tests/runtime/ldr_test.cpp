#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include "kelp/err.h"
#include "kelp/ldr.h"
#include "kelp/system.h"
#include "r3/win/internal-win.h"
#include "support/probes.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "support/wine_only.h"

namespace {

std::wstring systemDir()
{
    wchar_t dir[MAX_PATH];
    UINT const cwc = GetSystemDirectoryW(dir, MAX_PATH);
    return std::wstring(dir, cwc);
}

std::string toUtf8(const std::wstring &s)
{
    return plomtest::WideToUtf8(s);
}

std::wstring moduleFile(HMODULE mod)
{
    wchar_t file[MAX_PATH];
    DWORD const cwc = GetModuleFileNameW(mod, file, MAX_PATH);
    return std::wstring(file, cwc);
}

bool sameTextNoCase(const std::wstring &a, const std::wstring &b)
{
    return CompareStringOrdinal(a.c_str(), (int)a.size(), b.c_str(), (int)b.size(), TRUE) == CSTR_EQUAL;
}

// A 32-bit program on 64-bit Windows may see its system DLLs under either name.
bool isSystemFile(const std::wstring &path, const wchar_t *fileName)
{
    wchar_t wow[MAX_PATH];
    UINT const cwcWow = GetSystemWow64DirectoryW(wow, MAX_PATH);
    return sameTextNoCase(path, systemDir() + L"\\" + fileName)
        || (cwcWow && cwcWow < MAX_PATH && sameTextNoCase(path, std::wstring(wow, cwcWow) + L"\\" + fileName));
}

class Loader : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Leaves this test program's own DLL search order alone.
        ASSERT_EQ(RTWinInitNative(RTWININIT_NO_HARDENING), 0);
    }
};

struct SystemLoadCase
{
    const char *name;
    uint32_t flags;
    int rc;
    const wchar_t *fileName;    // the file that must have been loaded from the system directory
};

TEST_F(Loader, SystemLoadNamesAndSuffixRule)
{
    static const SystemLoadCase cases[] = {
        { "msi", 0, 0, L"msi.dll" },                    // ".DLL" appended
        { "msi.dll", RTLDRLOAD_NO_UNLOAD, 0, L"msi.dll" },
        { "KERNEL32", 0, 0, L"kernel32.dll" },
        { "winspool.drv", 0, 0, L"winspool.drv" },      // a suffix of its own: nothing appended
        { "no_such_dll_plom", 0, ERR_MODULE_NOT_FOUND, nullptr },
        { "no_such_dll_plom.dll", 0, ERR_MODULE_NOT_FOUND, nullptr },
        { "sub\\msi.dll", 0, ERR_BAD_ARGUMENT, nullptr },
        { "sub/msi.dll", 0, ERR_BAD_ARGUMENT, nullptr },
        { "C:msi.dll", 0, ERR_BAD_ARGUMENT, nullptr },
        { "msi", 0x10, ERR_INVALID_FLAGS, nullptr },
        { "msi", 0x800, ERR_INVALID_FLAGS, nullptr },
    };
    for (const SystemLoadCase &c : cases)
    {
        SCOPED_TRACE(c.name);
        RTLDRMOD mod = (RTLDRMOD)(uintptr_t)0x12345678;
        int const rc = RTLdrLoadSystem(c.name, c.flags, &mod);
        EXPECT_EQ(rc, c.rc);
        if (rc != 0)
        {
            EXPECT_EQ(mod, nullptr);
            continue;
        }
        ASSERT_NE(mod, nullptr);
        HMODULE const hMod = (HMODULE)RTLdrGetNativeHandle(mod);
        EXPECT_TRUE(isSystemFile(moduleFile(hMod), c.fileName))
            << toUtf8(moduleFile(hMod));
        EXPECT_EQ(RTLdrClose(mod), 0);
    }
}

TEST_F(Loader, SystemLoadRefusesOverlongNames)
{
    std::string const name(3075, 'a');
    RTLDRMOD mod;
    EXPECT_EQ(RTLdrLoadSystem(name.c_str(), 0, &mod), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTLdrLoadSystem(nullptr, 0, &mod), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTLdrLoadSystem("msi", 0, nullptr), ERR_BAD_ARGUMENT);
}

struct PathLoadCase
{
    const char *what;
    std::string path;
    uint32_t flags;
    int rc;
};

TEST_F(Loader, LoadByPath)
{
    std::string const sys = toUtf8(systemDir());
    std::string sysSlashes = sys;
    for (char &ch : sysSlashes)
        if (ch == '\\')
            ch = '/';
    PathLoadCase const cases[] = {
        { "absolute", sys + "\\kernel32.dll", 0, 0 },
        { "without suffix", sys + "\\msi", 0, 0 },
        { "forward slashes", sysSlashes + "/msi.dll", 0, 0 },
        { "safe search", sys + "\\msi.dll", RTLDRLOAD_SAFE_SEARCH, 0 },
        { "safe search again", sys + "\\kernel32.dll", RTLDRLOAD_SAFE_SEARCH | RTLDRLOAD_NO_UNLOAD, 0 },
        { "relative", "msi.dll", 0, ERR_INTERNAL_2 },
        { "flag 0x1", sys + "\\msi.dll", RTLDRLOAD_GLOBAL, ERR_INVALID_FLAGS },
        { "flags above 15", sys + "\\msi.dll", 0x10, ERR_BAD_ARGUMENT },
    };
    for (const PathLoadCase &c : cases)
    {
        SCOPED_TRACE(c.what);
        RTLDRMOD mod = (RTLDRMOD)(uintptr_t)0x12345678;
        int const rc = RTLdrLoad(c.path.c_str(), &mod, c.flags, nullptr);
        EXPECT_EQ(rc, c.rc);
        if (rc == 0)
        {
            ASSERT_NE(mod, nullptr);
            EXPECT_NE(RTLdrGetNativeHandle(mod), NIL_RTLDRMOD_NATIVE);
            EXPECT_EQ(RTLdrClose(mod), 0);
        }
        else
            EXPECT_EQ(mod, nullptr);
    }
    RTLDRMOD mod;
    EXPECT_EQ(RTLdrLoad(nullptr, &mod, 0, nullptr), ERR_INVALID_POINTER);
    EXPECT_EQ(RTLdrLoad("C:\\x.dll", nullptr, 0, nullptr), ERR_INVALID_POINTER);
}

TEST_F(Loader, FailedLoadFillsErrorInfo)
{
    char message[64] = "stale";
    RTERRINFO info = { 0, 1, sizeof(message), message };
    RTLDRMOD mod;
    int const rc = RTLdrLoad("C:\\no\\such\\dir\\plom_missing.dll", &mod, 0, &info);
    ASSERT_LT(rc, 0);
    EXPECT_EQ(info.rc, rc);
    EXPECT_TRUE(info.flags & RTERRINFO_F_SET);
    EXPECT_EQ(std::string(message).rfind("GetLastError=", 0), 0u) << message;

    // A later success clears what an earlier failure left.
    std::string const good = toUtf8(systemDir()) + "\\kernel32.dll";
    ASSERT_EQ(RTLdrLoad(good.c_str(), &mod, 0, &info), 0);
    EXPECT_EQ(info.rc, 0);
    EXPECT_FALSE(info.flags & RTERRINFO_F_SET);
    EXPECT_STREQ(message, "");
    RTLdrClose(mod);
}

TEST_F(Loader, PathsThatAreNotTextFail)
{
    char message[64] = "stale";
    RTERRINFO info = { 0, 0, sizeof(message), message };
    RTLDRMOD mod = (RTLDRMOD)(uintptr_t)0x12345678;
    EXPECT_EQ(RTLdrLoad("C:\\bad\xFF.dll", &mod, 0, &info), ERR_INVALID_UTF8);
    EXPECT_EQ(mod, nullptr);
    EXPECT_EQ(info.rc, ERR_INVALID_UTF8);
    EXPECT_STREQ(message, "Error converting UTF-8 to UTF-16 string.");
}

// A side-by-side redirection is followed only when it stays under the drive and first
// directory of the system directory.
TEST(LoaderRedirection, SeparatorsSharedWithTheSystemDirectory)
{
    static const struct { const wchar_t *path; size_t length; unsigned matched; } cases[] = {
        { L"C:\\Windows\\WinSxS\\x\\msvcr90.dll", SIZE_MAX, 2 },
        { L"c:/WINDOWS/winsxs/x.dll", SIZE_MAX, 2 },
        { L"C:\\\\Windows\\/\\WinSxS", SIZE_MAX, 2 },     // runs of separators pass together
        { L"C:\\Windows\\System32\\x.dll", SIZE_MAX, 2 },   // the end of the directory is no separator
        { L"C:\\Other\\x.dll", SIZE_MAX, 1 },
        { L"C:\\Windowsx\\x.dll", SIZE_MAX, 1 },
        { L"C:\\Windows", SIZE_MAX, 1 },
        { L"D:\\Windows\\WinSxS\\x.dll", SIZE_MAX, 0 },
        { L"\\\\?\\C:\\Windows\\WinSxS\\x.dll", SIZE_MAX, 0 },
        { L"\\Windows\\WinSxS", SIZE_MAX, 0 },
        { L"C:\\Windows\\WinSxS\\x.dll", 3, 1 },               // only the counted part
        { L"C:\\Wind\u00F6ws\\WinSxS", SIZE_MAX, 1 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(plomtest::WideToUtf8(c.path));
        size_t const length = c.length == SIZE_MAX ? wcslen(c.path) : c.length;
        EXPECT_EQ(rtldrCountMatchingSeparators(c.path, length, L"C:\\Windows\\system32"), c.matched);
    }
}

TEST_F(Loader, Symbols)
{
    RTLDRMOD mod;
    ASSERT_EQ(RTLdrLoadSystem("kernel32.dll", RTLDRLOAD_NO_UNLOAD, &mod), 0);
    HMODULE const k32 = GetModuleHandleW(L"kernel32.dll");
    EXPECT_EQ(RTLdrGetNativeHandle(mod), (uintptr_t)k32);

    void *value = nullptr;
    EXPECT_EQ(RTLdrGetSymbol(mod, "GetCurrentProcessId", &value), 0);
    EXPECT_EQ(value, (void *)GetProcAddress(k32, "GetCurrentProcessId"));

    value = (void *)&value;
    EXPECT_EQ(RTLdrGetSymbol(mod, "PlomNoSuchExport", &value), ERR_SYMBOL_NOT_FOUND);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(RTLdrGetSymbol(mod, nullptr, &value), ERR_BAD_ARGUMENT);
    EXPECT_EQ(RTLdrGetSymbol(mod, "GetCurrentProcessId", nullptr), ERR_INVALID_POINTER);
    EXPECT_EQ(RTLdrClose(mod), 0);

    // Records that are not live modules.
    RTLDRMODINTERNAL fake = {};
    fake.magic = RTLDRMOD_MAGIC_DEAD;
    EXPECT_EQ(RTLdrGetSymbol(&fake, "GetCurrentProcessId", &value), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTLdrGetNativeHandle(&fake), NIL_RTLDRMOD_NATIVE);
    EXPECT_EQ(RTLdrClose(&fake), ERR_INVALID_HANDLE);
    EXPECT_EQ(RTLdrGetNativeHandle(nullptr), NIL_RTLDRMOD_NATIVE);
    EXPECT_EQ(RTLdrClose(nullptr), 0);
}

TEST_F(Loader, SystemSymbol)
{
    HMODULE const k32 = GetModuleHandleW(L"kernel32.dll");
    EXPECT_EQ(RTLdrGetSystemSymbol("kernel32.dll", "GetCurrentProcessId"),
              (void *)GetProcAddress(k32, "GetCurrentProcessId"));
    // Present on some Windows versions only: the answer must agree with the system's.
    EXPECT_EQ(RTLdrGetSystemSymbol("kernel32.dll", "VerifyConsoleIoHandle"),
              (void *)GetProcAddress(k32, "VerifyConsoleIoHandle"));
    EXPECT_EQ(RTLdrGetSystemSymbol("kernel32.dll", "PlomNoSuchExport"), nullptr);
    EXPECT_EQ(RTLdrGetSystemSymbol("no_such_dll_plom.dll", "Anything"), nullptr);
    EXPECT_EQ(RTLdrGetSystemSymbol("sub\\kernel32.dll", "GetCurrentProcessId"), nullptr);
}

TEST_F(Loader, CloseUnloadsUnlessAskedNotTo)
{
    std::wstring const fakeW = plomtest::ProbePath(L"plomfake.dll");
    std::string const fake = plomtest::ProbePathUtf8(L"plomfake.dll");
    ASSERT_NE(GetFileAttributesW(fakeW.c_str()), INVALID_FILE_ATTRIBUTES) << fake;
    ASSERT_EQ(GetModuleHandleW(fakeW.c_str()), nullptr);

    RTLDRMOD mod;
    ASSERT_EQ(RTLdrLoad(fake.c_str(), &mod, 0, nullptr), 0);
    EXPECT_NE(GetModuleHandleW(fakeW.c_str()), nullptr);
    void *probe = nullptr;
    ASSERT_EQ(RTLdrGetSymbol(mod, "PlomFakeProbe", &probe), 0);
    EXPECT_EQ(((int (*)(void))probe)(), 42);
    EXPECT_EQ(RTLdrClose(mod), 0);
    EXPECT_EQ(GetModuleHandleW(fakeW.c_str()), nullptr);

    ASSERT_EQ(RTLdrLoad(fake.c_str(), &mod, RTLDRLOAD_NO_UNLOAD, nullptr), 0);
    EXPECT_EQ(RTLdrClose(mod), 0);
    EXPECT_NE(GetModuleHandleW(fakeW.c_str()), nullptr);
}

// A DLL planted beside the program and in its current directory, once under its own name
// and once under a system DLL's name, is never what the system load loads; after the
// start-up's hardening not even a plain LoadLibrary by name finds it.
TEST(LoaderPlanting, PlantedDllsAreNeverLoaded)
{
    plomtest::TempDir cwd(L"ldrplant");
    ASSERT_TRUE(cwd.ok());
    std::wstring const fake = plomtest::ProbePath(L"plomfake.dll");
    ASSERT_TRUE(CopyFileW(fake.c_str(), cwd.file(L"plomfake.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(fake.c_str(), cwd.file(L"msimg32.dll").c_str(), FALSE));
    ASSERT_NE(GetFileAttributesW(plomtest::ProbePath(L"msimg32.dll").c_str()), INVALID_FILE_ATTRIBUTES);

    plomtest::ProcessOptions options;
    options.workDir = cwd.path();
    options.env.push_back({ L"PLOM_FAKE_DLL_MARKER", L"" });    // set here when this program loaded it
    plomtest::ProcessResult const r =
        plomtest::RunProcessArgs(plomtest::ProbePath(L"ldr_probe.exe"), {}, options);
    ASSERT_TRUE(r.started) << r.startError;
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out,
              "init 0\n"
              "app-only -610\n"
              "app-only-nosuffix -610\n"
              "planted 0 1\n"
              "marker 0\n"
              "plain 0 0\n"
              "control 0 1\n");
}

// Loading before the runtime initialisation is a programming error: a diagnostic on
// standard error and a breakpoint trap that ends the process when no debugger is attached.
TEST(LoaderDiagnostics, LoadBeforeInitialisationStopsTheProcess)
{
    if (plomtest::Wine32BitLoaderIsEmulated())
        GTEST_SKIP() << "each 32-bit child costs a minute under wine here; the 64-bit run covers it";
    plomtest::ProcessOptions options;
    options.env.push_back({ L"PLOM_LDR_PROBE", L"early" });
    plomtest::ProcessResult const r =
        plomtest::RunProcessArgs(plomtest::ProbePath(L"ldr_probe.exe"), {}, options);
    ASSERT_TRUE(r.started) << r.startError;
    EXPECT_EQ(r.out.find("survived"), std::string::npos);
    EXPECT_NE(r.exitCode, 9u);
    EXPECT_NE(r.exitCode, 0u);
    EXPECT_NE(r.err.find("\n!!Assertion Failed!!\nExpression: g_hModKernel32\nLocation  : "
                         "Runtime/r3/win/ldrNative-win("), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("rtldrNativeLoadSystem(msi,,) is called before KELP has configured the "
                         "windows loader!\n"), std::string::npos) << r.err;
}

TEST(LoaderDiagnostics, CrashesAreReportedByTheRuntimeFilter)
{
    if (plomtest::Wine32BitLoaderIsEmulated())
        GTEST_SKIP() << "each 32-bit child costs a minute under wine here; the 64-bit run covers it";
    plomtest::ProcessOptions options;
    options.env.push_back({ L"PLOM_LDR_PROBE", L"crash" });
    plomtest::ProcessResult const r =
        plomtest::RunProcessArgs(plomtest::ProbePath(L"ldr_probe.exe"), {}, options);
    ASSERT_TRUE(r.started) << r.startError;
    EXPECT_EQ(r.out.find("survived"), std::string::npos);
    EXPECT_NE(r.exitCode, 9u);
    EXPECT_NE(r.err.find("Unhandled exception 0x80000003 at "), std::string::npos) << r.err;
}

TEST(LoaderDiagnostics, KeptTextAndLastErrorsSurvive)
{
    ASSERT_EQ(RTWinInitNative(RTWININIT_NO_HARDENING), 0);

    SetLastError(1234);
    RTAssertMsg1("x == y", 77, "some/file", "int f(void)");
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_STREQ(g_szRTAssertMsg1,
                 "\n!!Assertion Failed!!\nExpression: x == y\nLocation  : some/file(77) int f(void)\n");

    SetLastError(4321);
    RTAssertMsg2("value %d, name '%s'\n", -5, "abc");
    EXPECT_EQ(GetLastError(), 4321u);
    EXPECT_STREQ(g_szRTAssertMsg2, "value -5, name 'abc'\n");

    // The kept buffer holds a long diagnostic whole, up to its 4096 bytes.
    std::string const longText(3000, 'L');
    RTAssertMsg2("%s", longText.c_str());
    EXPECT_EQ(std::string(g_szRTAssertMsg2), longText);
}

TEST(LoaderDiagnostics, SaveAndRestoreLastErrors)
{
    ASSERT_EQ(RTWinInitNative(RTWININIT_NO_HARDENING), 0);
    HMODULE const ws2 = GetModuleHandleW(L"ws2_32.dll");
    ASSERT_NE(ws2, nullptr) << "the start-up pre-loads the sockets library";
    auto const wsaGet = (int (WINAPI *)(void))(void *)GetProcAddress(ws2, "WSAGetLastError");
    auto const wsaSet = (void (WINAPI *)(int))(void *)GetProcAddress(ws2, "WSASetLastError");
    ASSERT_TRUE(wsaGet && wsaSet);

    // Windows keeps both values in the same per-thread slot, so they travel together.
    SetLastError(87);
    RTERRVARS saved;
    RTErrSaveLastErrors(&saved);
    EXPECT_EQ(saved.marker, (uint32_t)RTERRVARS_MARKER);
    EXPECT_EQ(saved.winError, 87u);
    EXPECT_EQ(saved.wsaError, (uint32_t)wsaGet());

    wsaSet(10060);
    SetLastError(2);
    RTErrRestoreLastErrors(&saved);
    EXPECT_EQ(GetLastError(), 87u);

    wsaSet(10054);
    RTErrSaveLastErrors(&saved);
    EXPECT_EQ(saved.wsaError, 10054u);
    wsaSet(10060);
    RTErrRestoreLastErrors(&saved);
    EXPECT_EQ(wsaGet(), 10054);

    // A record that was never saved changes nothing.
    RTERRVARS never = { 0, 5, 6 };
    SetLastError(3);
    RTErrRestoreLastErrors(&never);
    EXPECT_EQ(GetLastError(), 3u);
}

} // namespace
