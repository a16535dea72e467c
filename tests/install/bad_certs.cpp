// Certificates that are not certificates, for a stub whose certificate steps must fail.
#include "PlomStub.h"

namespace
{
const uint8_t NotDer[] = { 'n', 'o', 't', ' ', 'a', ' ', 'c', 'e', 'r', 't', 'i', 'f', 'i', 'c', 'a', 't', 'e' };
// A SEQUENCE header that promises more than follows.
const uint8_t Truncated[] = { 0x30, 0x82, 0x05, 0x8b, 0x30, 0x82, 0x04, 0x73, 0xa0, 0x03 };
} // namespace

const StubCertificate TimestampCaCertificate = { NotDer, sizeof(NotDer) };
const StubCertificate PublisherCertificates[2] =
{
    { Truncated, sizeof(Truncated) },
    { NotDer, sizeof(NotDer) },
};
