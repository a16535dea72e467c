#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <windows.h>

#include "kelp/err.h"
#include "kelp/system.h"
#include "support/probes.h"
#include "support/process_runner.h"
#include "support/wine_only.h"

namespace {

struct ClassifyCase
{
    uint32_t platform, major, minor, build;
    uint8_t productType;
    RTWINOSTYPE expected;
};

TEST(WinVersion, Classification)
{
    static const ClassifyCase cases[] = {
        // The 9x family by build.
        { 1, 4, 0, 950, 0, RTWINOSTYPE_W95 },
        { 1, 4, 0, 951, 0, RTWINOSTYPE_W95SP1 },
        { 1, 4, 0, 1080, 0, RTWINOSTYPE_W95SP1 },
        { 1, 4, 0, 1081, 0, RTWINOSTYPE_W95OSR2 },
        { 1, 4, 0, 949, 0, RTWINOSTYPE_UNKNOWN },
        { 1, 4, 10, 1998, 0, RTWINOSTYPE_W98 },
        { 1, 4, 10, 2182, 0, RTWINOSTYPE_W98SP1 },
        { 1, 4, 10, 2183, 0, RTWINOSTYPE_W98SE },
        { 1, 4, 10, 1997, 0, RTWINOSTYPE_UNKNOWN },
        { 1, 4, 90, 3000, 0, RTWINOSTYPE_ME },
        { 1, 5, 0, 0, 0, RTWINOSTYPE_UNKNOWN },
        // NT.
        { 2, 3, 10, 528, 1, RTWINOSTYPE_NT310 },
        { 2, 3, 50, 807, 1, RTWINOSTYPE_NT350 },
        { 2, 3, 51, 1057, 1, RTWINOSTYPE_NT351 },
        { 2, 4, 0, 1381, 1, RTWINOSTYPE_NT4 },
        { 2, 5, 0, 2195, 1, RTWINOSTYPE_W2K },
        { 2, 5, 1, 2600, 1, RTWINOSTYPE_XP },
        { 2, 5, 2, 3790, 3, RTWINOSTYPE_2003 },
        { 2, 6, 0, 6002, 1, RTWINOSTYPE_VISTA },
        { 2, 6, 0, 6002, 3, RTWINOSTYPE_2008 },
        { 2, 6, 1, 7601, 1, RTWINOSTYPE_7 },
        { 2, 6, 1, 7601, 2, RTWINOSTYPE_2008R2 },
        { 2, 6, 2, 9200, 1, RTWINOSTYPE_8 },
        { 2, 6, 2, 9200, 3, RTWINOSTYPE_2012 },
        { 2, 6, 3, 9600, 1, RTWINOSTYPE_81 },
        { 2, 6, 3, 9600, 3, RTWINOSTYPE_2012R2 },
        { 2, 6, 4, 9841, 1, RTWINOSTYPE_10 },
        { 2, 6, 4, 9841, 3, RTWINOSTYPE_2016 },
        { 2, 6, 5, 0, 1, RTWINOSTYPE_NT_UNKNOWN },
        { 2, 10, 0, 0x4A65, 1, RTWINOSTYPE_10 },
        { 2, 10, 0, 21999, 1, RTWINOSTYPE_10 },
        { 2, 10, 0, 22000, 1, RTWINOSTYPE_11 },
        { 2, 10, 0, 17762, 3, RTWINOSTYPE_2016 },
        { 2, 10, 0, 17763, 3, RTWINOSTYPE_2019 },
        { 2, 10, 0, 20347, 2, RTWINOSTYPE_2019 },
        { 2, 10, 0, 20348, 3, RTWINOSTYPE_2022 },
        { 2, 10, 1, 0, 1, RTWINOSTYPE_NT_UNKNOWN },
        { 2, 11, 0, 0, 1, RTWINOSTYPE_NT_UNKNOWN },
        { 2, 2, 0, 0, 1, RTWINOSTYPE_NT_UNKNOWN },
        { 3, 10, 0, 0, 1, RTWINOSTYPE_UNKNOWN },
    };
    for (const ClassifyCase &c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.platform << ":" << c.major << "." << c.minor << "."
                                        << c.build << " type " << (int)c.productType);
        EXPECT_EQ(RTSystemClassifyWinVersion(c.platform, c.major, c.minor, c.build, c.productType),
                  c.expected);
    }
}

TEST(WinVersion, PackingAndGetVersionDecoding)
{
    EXPECT_EQ(RTSystemMakeWinVersion(10, 0, 0x4A65), 0x00A0000000004A65ull);
    EXPECT_EQ(RTSystemMakeWinVersion(6, 1, 7601), 0x0060010000001DB1ull);
    // Only 12 bits of each version number survive.
    EXPECT_EQ(RTSystemMakeWinVersion(6, 0x1003, 1), 0x0060030000000001ull);
    EXPECT_EQ(RTSystemMakeWinVersion(0x1001, 2, 3), 0x0010020000000003ull);

    struct { uint32_t value, major, minor, build; } const cases[] = {
        { 0x1DB10106, 6, 1, 7601 },
        { 0x4A65000A, 10, 0, 0x4A65 },
        { 0xC0000A04, 4, 10, 511 },     // bit 31 set: the build is not given
        { 0x80000004, 4, 0, 511 },
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.value);
        RTWINVERSIONFIELDS const f = RTSystemDecodeGetVersion(c.value);
        EXPECT_EQ(f.major, c.major);
        EXPECT_EQ(f.minor, c.minor);
        EXPECT_EQ(f.build, c.build);
    }
}

OSVERSIONINFOEXW rtlGetVersion()
{
    typedef LONG (WINAPI *PFNRTLGETVERSION)(OSVERSIONINFOEXW *);
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    auto const pfn = (PFNRTLGETVERSION)(void *)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    if (!pfn || pfn(&info) != 0)
        info.dwOSVersionInfoSize = 0;
    return info;
}

TEST(WinVersion, AgreesWithRtlGetVersion)
{
    ASSERT_EQ(RTWinInitNative(RTWININIT_NO_HARDENING), 0);
    OSVERSIONINFOEXW const info = rtlGetVersion();
    ASSERT_NE(info.dwOSVersionInfoSize, 0u);
    EXPECT_EQ(RTSystemGetWinVersion(),
              ((uint64_t)info.dwMajorVersion << 52) | ((uint64_t)(info.dwMinorVersion & 0xFFF) << 40)
                  | info.dwBuildNumber);
    EXPECT_EQ(RTSystemGetWinProductType(), info.wProductType);
    EXPECT_EQ(RTSystemGetWinOsType(),
              RTSystemClassifyWinVersion(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion,
                                         info.dwBuildNumber, (uint8_t)info.wProductType));
    EXPECT_NE(RTSystemGetWinOsType(), RTWINOSTYPE_UNKNOWN);
}

TEST(WinVersion, HardeningConfiguresTheProcess)
{
    ASSERT_EQ(RTWinInitNative(RTWININIT_NO_HARDENING), 0);
    ASSERT_TRUE(SetDllDirectoryW(L"C:\\"));
    UINT const modeBefore = SetErrorMode(0);

    EXPECT_EQ(RTWinInitHardening(0), 0);

    UINT const mode = SetErrorMode(modeBefore);
    EXPECT_EQ(mode & (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX),
              (UINT)(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
    wchar_t dir[MAX_PATH] = L"x";
    EXPECT_EQ(GetDllDirectoryW(MAX_PATH, dir), 0u) << "the DLL directory must be reset";
    EXPECT_EQ(dir[0], L'\0');
    LPTOP_LEVEL_EXCEPTION_FILTER const filter = SetUnhandledExceptionFilter(nullptr);
    EXPECT_NE(filter, nullptr);
    SetUnhandledExceptionFilter(filter);
    SetDllDirectoryW(nullptr);
}

// What the probe says, in its two lines.
struct ProbeReport
{
    unsigned rawMajor = 0, rawMinor = 0, rawBuild = 0, rawType = 0;
    int rc = 1;
    unsigned long long packed = 0;
    unsigned type = 0, code = 0;
};

bool runWinverProbe(ProbeReport &report, std::string &raw)
{
    plomtest::ProcessResult const r = plomtest::RunProcessArgs(plomtest::ProbePath(L"winver_probe.exe"), {});
    raw = r.out + r.err;
    return r.started && r.exitCode == 0
        && sscanf(r.out.c_str(), "raw %u %u %u %u\nours %d %llx %u %u", &report.rawMajor,
                  &report.rawMinor, &report.rawBuild, &report.rawType, &report.rc, &report.packed,
                  &report.type, &report.code) == 8;
}

struct VersionSetting
{
    const wchar_t *name;
    unsigned major, minor;
    RTWINOSTYPE workstationCode, serverCode;
};

// Wine reports what its per-program version setting says; the runtime must follow it
// through the whole chain (record, packing, product type, code).
TEST(WinVersionWine, FollowsTheReportedVersion)
{
    if (!plomtest::IsWine())
        GTEST_SKIP() << "switching the reported Windows version needs wine";
    // Seen on a fresh CI machine: under the emulated 32-bit loader, the first probe started
    // with a version setting never finished, in three runs out of three (on another
    // emulating machine the same shard passed). The 64-bit run and a native 32-bit loader
    // cover it.
    if (plomtest::Wine32BitLoaderIsEmulated())
        GTEST_SKIP() << "probe runs with a version setting stall under the emulated 32-bit loader";
    static const VersionSetting settings[] = {
        { L"win10", 10, 0, RTWINOSTYPE_10, RTWINOSTYPE_NT_UNKNOWN },
        { L"win81", 6, 3, RTWINOSTYPE_81, RTWINOSTYPE_2012R2 },
        { L"win7", 6, 1, RTWINOSTYPE_7, RTWINOSTYPE_2008R2 },
        { L"win2008r2", 6, 1, RTWINOSTYPE_7, RTWINOSTYPE_2008R2 },
    };
    bool sawDesktop10 = false, sawOlder = false;
    for (const VersionSetting &s : settings)
    {
        SCOPED_TRACE(plomtest::WideToUtf8(s.name));
        ProbeReport report;
        std::string raw;
        {
            plomtest::wine::AppVersionOverride version(L"winver_probe.exe", s.name);
            ASSERT_TRUE(version.ok());
            ASSERT_TRUE(runWinverProbe(report, raw)) << raw;
        }

        EXPECT_EQ(report.rc, 0);
        EXPECT_EQ(report.rawMajor, s.major);
        EXPECT_EQ(report.rawMinor, s.minor);
        EXPECT_EQ(report.packed, RTSystemMakeWinVersion(report.rawMajor, report.rawMinor, report.rawBuild));
        EXPECT_EQ(report.type, report.rawType);
        bool const workstation = report.rawType == RTWIN_PRODUCT_WORKSTATION;
        if (s.major == 10 && report.rawBuild >= 22000 && workstation)
            EXPECT_EQ(report.code, (unsigned)RTWINOSTYPE_11);
        else if (s.major != 10 || workstation)
            EXPECT_EQ(report.code, (unsigned)(workstation ? s.workstationCode : s.serverCode));

        // The installer's test for a desktop edition of Windows 10 or later.
        bool const desktop10 = report.packed >= 0x00A0000000000000ull && report.type == RTWIN_PRODUCT_WORKSTATION;
        EXPECT_EQ(desktop10, s.major >= 10 && workstation);
        sawDesktop10 |= desktop10;
        sawOlder |= !desktop10;
    }
    EXPECT_TRUE(sawDesktop10);
    EXPECT_TRUE(sawOlder);
}

} // namespace
