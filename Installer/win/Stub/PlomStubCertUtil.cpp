// Certificates into the local machine's stores, and when the run adds which.
#include "PlomStub.h"
#include "PlomStubCertUtil.h"

#include <windows.h>
#include <wincrypt.h>

#include <kelp/message.h>
#include <kelp/string.h>
#include <kelp/system.h>

namespace
{

enum : DWORD
{
    CERT_ENCODINGS = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
};

} // namespace

bool AddCertificateToStore(uint32_t storeFlags, const char *storeName, const uint8_t *data, uint32_t size)
{
    PCCERT_CONTEXT context = CertCreateCertificateContext(CERT_ENCODINGS, data, size);
    if (!context)
    {
        RTMsgReportError("Unable to get certificate context: %d", (int)GetLastError());
        return false;
    }

    // Without the open-existing flag a store that is not there yet is created.
    HCERTSTORE store = nullptr;
    RTUTF16 *storeNameW = nullptr;
    if (RTStrToUtf16(storeName, &storeNameW) >= 0)
    {
        store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, CERT_ENCODINGS, 0,
                              storeFlags & ~(DWORD)CERT_STORE_OPEN_EXISTING_FLAG, storeNameW);
        // The open's error must survive the release of the name.
        DWORD const openError = GetLastError();
        RTUtf16Free(storeNameW);
        SetLastError(openError);
    }
    if (!store)
    {
        RTMsgReportError("Unable to open certificates store: %d", (int)GetLastError());
        CertFreeCertificateContext(context);
        return false;
    }

    // Replacing an existing copy keeps one certificate in the store and counts as success.
    bool const added = CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_REPLACE_EXISTING, nullptr)
                    != FALSE;
    if (!added)
        RTMsgReportError("Unable to install certificate: %d", (int)GetLastError());

    CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG);
    CertFreeCertificateContext(context);
    return added;
}

bool TimestampCaNeeded(bool forceTimestampCa, uint64_t winVersion, uint8_t productType)
{
    if (forceTimestampCa)
        return true;
    bool const win10OrLater = winVersion >= RTSystemMakeWinVersion(10, 0, 0);
    return !(win10OrLater && productType == RTWIN_PRODUCT_WORKSTATION);
}

int AddProductCertificates(const StubOptions *options)
{
    if (options->installTimestampCa
        && TimestampCaNeeded(options->forceTimestampCa, RTSystemGetWinVersion(), RTSystemGetWinProductType()))
    {
        if (!AddCertificateToStore(CERT_STORE_LOCAL_MACHINE, "Root", TimestampCaCertificate.data,
                                   TimestampCaCertificate.size))
            return ShowError("Failed add the legacy Windows timestamp CA to the root certificate store.");
    }

    if (options->installCertificates && silent)
    {
        // The first failure ends it; what was added stays.
        for (size_t i = 0; i < RT_ELEMENTS(PublisherCertificates); i++)
            if (!AddCertificateToStore(CERT_STORE_LOCAL_MACHINE, "TrustedPublisher", PublisherCertificates[i].data,
                                       PublisherCertificates[i].size))
                return ShowError("Failed to add our certificate(s) to trusted publisher store.");
    }
    return 0;
}
