// Adding the product's certificates to the local machine's certificate stores.
#pragma once

#include <kelp/types.h>

struct StubOptions;

// The store location of the local machine's system stores (needs administrative rights).
enum : uint32_t { CERT_STORE_LOCAL_MACHINE = 0x20000 };

// Whether the timestamp CA goes into "Root": legacy Windows needs it, which is everything
// but a workstation of version 10 or later, unless the user forces it in.
bool TimestampCaNeeded(bool forceTimestampCa, uint64_t winVersion, uint8_t productType);

// The certificate steps of a full run: the timestamp CA (when wanted and needed), then the
// publisher certificates (silent runs only). Returns 0, or 1 after telling the user.
int AddProductCertificates(const StubOptions *options);
