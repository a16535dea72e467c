// Layouts of the package resources (RCDATA, language 1033) written by the bundle builder.
#pragma once

#include <stdint.h>

struct StubManifest
{
    char    magic[15];          // "PlomInstV1", zero-filled; not checked
    uint8_t packageCount;
};
static_assert(sizeof(StubManifest) == 16, "manifest layout");

struct StubPackageHeader
{
    uint32_t arch;
    char     resourceName[28];  // ASCII, zero-terminated
    char     fileName[224];     // UTF-8, zero-terminated, no directory part
};
static_assert(sizeof(StubPackageHeader) == 256, "package header layout");

enum : uint32_t
{
    PKG_ARCH_ANY   = 1,
    PKG_ARCH_X86   = 2,
    PKG_ARCH_AMD64 = 3,
};
