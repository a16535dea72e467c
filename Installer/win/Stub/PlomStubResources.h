// The resources through which PlomStub carries its packages, shared by the stub (which
// reads them) and the bundle builder on the build host (which writes them). Portable:
// no Windows headers, fixed-width fields, little-endian on disk.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Resource type of every package resource (RT_RCDATA) and the language they are stored
// under (English, United States).
#define STUB_RESOURCE_TYPE_RCDATA   10u
#define STUB_RESOURCE_LANGUAGE      1033u

#define STUB_MANIFEST_NAME          "MANIFEST"
#define STUB_MANIFEST_MAGIC         "PlomInstV1"
// Formats taking the package index: at least two digits, so 7 gives "HDR_07".
#define STUB_HEADER_NAME_FORMAT     "HDR_%02d"
#define STUB_PAYLOAD_NAME_FORMAT    "BIN_%02d"

// Architecture values of StubPackageHeader::arch.
#define PKG_ARCH_ANY    1u  // always applies
#define PKG_ARCH_X86    2u  // applies on 32-bit Windows
#define PKG_ARCH_AMD64  3u  // applies on 64-bit Windows (the stub under WoW64)

#define STUB_RESOURCE_NAME_SIZE  28u   // with its terminator: at most 27 characters
#define STUB_FILE_NAME_SIZE      224u  // with its terminator: at most 223 UTF-8 bytes

#pragma pack(push, 1)

struct StubManifest
{
    char    magic[15];      // STUB_MANIFEST_MAGIC, zero-filled; never checked by the stub
    uint8_t packageCount;   // packages are numbered 0 .. packageCount - 1
};

struct StubPackageHeader
{
    uint32_t arch;                                  // PKG_ARCH_*
    char     resourceName[STUB_RESOURCE_NAME_SIZE]; // payload's RCDATA name, ASCII, zero-filled
    char     fileName[STUB_FILE_NAME_SIZE];         // UTF-8 file name without directory, zero-filled
};

#pragma pack(pop)

static_assert(sizeof(StubManifest) == 16, "StubManifest is 16 bytes");
static_assert(offsetof(StubManifest, magic) == 0, "StubManifest layout");
static_assert(offsetof(StubManifest, packageCount) == 15, "StubManifest layout");
static_assert(sizeof(STUB_MANIFEST_MAGIC) <= sizeof(((StubManifest *)0)->magic),
              "magic fits with its terminator");

static_assert(sizeof(StubPackageHeader) == 256, "StubPackageHeader is 256 bytes");
static_assert(offsetof(StubPackageHeader, arch) == 0, "StubPackageHeader layout");
static_assert(offsetof(StubPackageHeader, resourceName) == 4, "StubPackageHeader layout");
static_assert(offsetof(StubPackageHeader, fileName) == 32, "StubPackageHeader layout");
