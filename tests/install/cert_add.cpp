// Adds one of the installer's certificates, or bytes that are none, to a store of the local
// machine through the installer's own function; exit code 0 when it reported success.
//   cert_add STORE publisher1|publisher2|timestamp|garbage
#include <kelp/init.h>
#include <kelp/string.h>

#include "PlomStub.h"
#include "PlomStubCertUtil.h"

extern "C" int main(int argc, char **argv, char **envp)
{
    if (RTR3Init(argc, &argv, 4) < 0 || argc != 3)
        return 2;
    static const uint8_t Garbage[] = { 0x30, 0x03, 0x02, 0x01 };
    StubCertificate cert = { Garbage, sizeof(Garbage) };
    if (RTStrCmp(argv[2], "publisher1") == 0)
        cert = PublisherCertificates[0];
    else if (RTStrCmp(argv[2], "publisher2") == 0)
        cert = PublisherCertificates[1];
    else if (RTStrCmp(argv[2], "timestamp") == 0)
        cert = TimestampCaCertificate;
    else if (RTStrCmp(argv[2], "garbage") != 0)
        return 2;
    return AddCertificateToStore(CERT_STORE_LOCAL_MACHINE, argv[1], cert.data, cert.size) ? 0 : 1;
}
