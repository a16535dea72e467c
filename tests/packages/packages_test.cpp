// The test packages do what the installer's tests rely on, checked straight through the
// Windows Installer and crypt32 without the installer in between: each MSI gives its
// result code and leaves its files where expected, the certificates parse and have the
// thumbprints the tests look them up by.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <string>

#include "plom_test_packages.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"

using namespace plomtest;

namespace {

std::wstring ProgramFilesX86()
{
    wchar_t *p = nullptr;
    std::wstring out;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramFilesX86, 0, nullptr, &p)))
        out = p;
    CoTaskMemFree(p);
    return out;
}

bool IsInstalled(const wchar_t *productCode)
{
    return MsiQueryProductStateW(productCode) == INSTALLSTATE_DEFAULT;
}

// props: the properties the installation had, which the removal needs to find the files
// again (nothing records a changed INSTALLDIR).
void Uninstall(const wchar_t *productCode, const wchar_t *props = L"")
{
    if (IsInstalled(productCode))
        MsiConfigureProductExW(productCode, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT, props);
}

class TestPackages : public ::testing::Test {
protected:
    void SetUp() override { MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr); }
};

TEST_F(TestPackages, ResultCodesAndInstalledFiles)
{
    struct Case {
        const wchar_t *msi;
        const wchar_t *productCode;
        const wchar_t *dir;
        UINT result;
        bool installs;
    } cases[] = {
        {PLOM_TEST_MSI_FILES, PLOM_TEST_MSI_FILES_PRODUCT_CODE, PLOM_TEST_MSI_FILES_DIR, ERROR_SUCCESS, true},
        {PLOM_TEST_MSI_SECOND, PLOM_TEST_MSI_SECOND_PRODUCT_CODE, PLOM_TEST_MSI_SECOND_DIR, ERROR_SUCCESS, true},
        {PLOM_TEST_MSI_REBOOT, PLOM_TEST_MSI_REBOOT_PRODUCT_CODE, PLOM_TEST_MSI_REBOOT_DIR,
         ERROR_SUCCESS_REBOOT_REQUIRED, true},
        {PLOM_TEST_MSI_FAIL, PLOM_TEST_MSI_FAIL_PRODUCT_CODE, PLOM_TEST_MSI_FAIL_DIR,
         ERROR_INSTALL_FAILURE, false},
    };
    std::wstring programFiles = ProgramFilesX86();
    ASSERT_FALSE(programFiles.empty());
    for (const Case &c : cases) {
        std::string what = WideToUtf8(c.msi);
        Uninstall(c.productCode); // left over from an interrupted earlier run
        std::wstring dir = programFiles + L"\\" + c.dir;
        EXPECT_EQ(MsiInstallProductW(c.msi, L""), c.result) << what;
        EXPECT_EQ(IsInstalled(c.productCode), c.installs) << what;
        EXPECT_EQ(PathExists(dir + L"\\" PLOM_TEST_PACKAGE_FILE1), c.installs) << what;
        EXPECT_EQ(PathExists(dir + L"\\" PLOM_TEST_PACKAGE_FILE2), c.installs) << what;
        Uninstall(c.productCode);
        EXPECT_FALSE(IsInstalled(c.productCode)) << what;
        EXPECT_FALSE(PathExists(dir + L"\\" PLOM_TEST_PACKAGE_FILE1)) << what;
    }
}

TEST_F(TestPackages, InstallDirPropertyMovesTheFiles)
{
    TempDir target(L"pkg installdir");
    ASSERT_TRUE(target.ok());
    std::wstring where = target.path() + L"\\Chosen place";
    Uninstall(PLOM_TEST_MSI_INSTALLDIR_PRODUCT_CODE);
    std::wstring props = L"INSTALLDIR=\"" + where + L"\"";
    ASSERT_EQ(MsiInstallProductW(PLOM_TEST_MSI_INSTALLDIR, props.c_str()), (UINT)ERROR_SUCCESS);
    EXPECT_TRUE(PathExists(where + L"\\" PLOM_TEST_PACKAGE_FILE1));
    EXPECT_TRUE(PathExists(where + L"\\" PLOM_TEST_PACKAGE_FILE2));
    EXPECT_FALSE(PathExists(ProgramFilesX86() + L"\\" PLOM_TEST_MSI_INSTALLDIR_DIR));
    Uninstall(PLOM_TEST_MSI_INSTALLDIR_PRODUCT_CODE, props.c_str());
    EXPECT_FALSE(IsInstalled(PLOM_TEST_MSI_INSTALLDIR_PRODUCT_CODE));
    EXPECT_FALSE(PathExists(where + L"\\" PLOM_TEST_PACKAGE_FILE1));
}

TEST_F(TestPackages, CorruptPackageIsRejectedAndCabinetIsOne)
{
    UINT r = MsiInstallProductW(PLOM_TEST_MSI_CORRUPT, L"");
    EXPECT_NE(r, (UINT)ERROR_SUCCESS);
    EXPECT_NE(r, (UINT)ERROR_SUCCESS_REBOOT_REQUIRED);

    std::string cab;
    ASSERT_TRUE(ReadWholeFile(PLOM_TEST_CAB, cab));
    ASSERT_GE(cab.size(), 36u);
    EXPECT_EQ(cab.substr(0, 4), "MSCF");
    EXPECT_EQ(*(const uint16_t *)&cab[28], 2u); // two files
}

TEST(TestCertificates, ParseAndMatchTheirThumbprints)
{
    struct Case {
        const wchar_t *path;
        const wchar_t *sha1;
    } cases[] = {
        {PLOM_CERT_PUBLISHER1, PLOM_CERT_PUBLISHER1_SHA1},
        {PLOM_CERT_PUBLISHER2, PLOM_CERT_PUBLISHER2_SHA1},
        {PLOM_CERT_TIMESTAMP_CA, PLOM_CERT_TIMESTAMP_CA_SHA1},
    };
    std::wstring seen;
    for (const Case &c : cases) {
        std::string der;
        ASSERT_TRUE(ReadWholeFile(c.path, der)) << WideToUtf8(c.path);
        PCCERT_CONTEXT ctx = CertCreateCertificateContext(X509_ASN_ENCODING, (const BYTE *)der.data(), (DWORD)der.size());
        ASSERT_NE(ctx, nullptr) << WideToUtf8(c.path);
        BYTE hash[20];
        DWORD size = sizeof hash;
        ASSERT_TRUE(CertGetCertificateContextProperty(ctx, CERT_SHA1_HASH_PROP_ID, hash, &size));
        CertFreeCertificateContext(ctx);
        wchar_t hex[41];
        for (int i = 0; i < 20; i++)
            wsprintfW(hex + 2 * i, L"%02X", hash[i]);
        EXPECT_STREQ(hex, c.sha1) << WideToUtf8(c.path);
        EXPECT_EQ(seen.find(hex), std::wstring::npos) << "two certificates are the same";
        seen += hex;
    }
}

} // namespace
