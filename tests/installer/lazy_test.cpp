// The lazy binding tables, called in-process: nothing is loaded before the first call, and
// each function is resolved on its own first call.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>

#include <kelp/init.h>

#include "PlomStubLazy.h"

extern "C" void *lazySlotMsiSetInternalUI __asm__(LAZY_IMP_NAME(MsiSetInternalUI, 8));
extern "C" void *lazySlotMsiInstallProductW __asm__(LAZY_IMP_NAME(MsiInstallProductW, 8));

namespace {

TEST(LazyTables, EachFunctionIsResolvedOnItsFirstCall)
{
    ASSERT_EQ(RTR3Init(0, nullptr, 4), 0);
    ASSERT_EQ(GetModuleHandleW(L"msi.dll"), nullptr) << "nothing here should have loaded the library yet";
    void *const setUiStub = lazySlotMsiSetInternalUI;
    void *const installStub = lazySlotMsiInstallProductW;

    // No change of level: the call only reports the current one.
    MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, nullptr);
    HMODULE msi = GetModuleHandleW(L"msi.dll");
    ASSERT_NE(msi, nullptr);
    EXPECT_EQ(lazySlotMsiSetInternalUI, (void *)GetProcAddress(msi, "MsiSetInternalUI"));
    EXPECT_NE(lazySlotMsiSetInternalUI, setUiStub);
    EXPECT_EQ(lazySlotMsiInstallProductW, installStub);

    // A package that does not exist fails without installing anything.
    UINT rc = MsiInstallProductW(L"C:\\no\\such\\package.msi", L"");
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(lazySlotMsiInstallProductW, (void *)GetProcAddress(msi, "MsiInstallProductW"));
    EXPECT_EQ(GetModuleHandleW(L"msi.dll"), msi);
}

} // namespace
