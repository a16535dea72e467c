// Windows version: what the running system reports, classified once at start-up.
#pragma once

#include "kelp/types.h"

// Windows version codes, ordered by release (the loader hardening compares with
// RTWINOSTYPE_VISTA).
enum RTWINOSTYPE : uint32_t
{
    RTWINOSTYPE_UNKNOWN     = 0,
    RTWINOSTYPE_W95         = 1,
    RTWINOSTYPE_W95SP1      = 2,
    RTWINOSTYPE_W95OSR2     = 3,
    RTWINOSTYPE_W98         = 4,
    RTWINOSTYPE_W98SP1      = 5,
    RTWINOSTYPE_W98SE       = 6,
    RTWINOSTYPE_ME          = 7,
    RTWINOSTYPE_NT310       = 100,
    RTWINOSTYPE_NT350       = 101,
    RTWINOSTYPE_NT351       = 102,
    RTWINOSTYPE_NT4         = 103,
    RTWINOSTYPE_W2K         = 104,
    RTWINOSTYPE_XP          = 105,
    RTWINOSTYPE_2003        = 107,
    RTWINOSTYPE_VISTA       = 108,
    RTWINOSTYPE_2008        = 109,
    RTWINOSTYPE_7           = 110,
    RTWINOSTYPE_2008R2      = 111,
    RTWINOSTYPE_8           = 112,
    RTWINOSTYPE_2012        = 113,
    RTWINOSTYPE_81          = 114,
    RTWINOSTYPE_2012R2      = 115,
    RTWINOSTYPE_10          = 116,
    RTWINOSTYPE_2016        = 117,
    RTWINOSTYPE_2019        = 118,
    RTWINOSTYPE_2022        = 119,
    RTWINOSTYPE_11          = 120,
    RTWINOSTYPE_NT_UNKNOWN  = 199,
};

enum : uint8_t
{
    RTWIN_PRODUCT_WORKSTATION       = 1,
    RTWIN_PRODUCT_DOMAIN_CONTROLLER = 2,
    RTWIN_PRODUCT_SERVER            = 3,
};

// Initialisation flags that concern this area (the runtime initialisation's flag word).
enum : uint32_t
{
    RTWININIT_SYSTEM32_ONLY   = 0x4,  // default DLL search: the system directory alone
    RTWININIT_NO_HARDENING    = 0x8,  // leave the loader configuration for later
};

// First step of the runtime initialisation: module handles, version record, loader
// hardening (unless RTWININIT_NO_HARDENING), optional entry points, sockets pre-load.
// Returns the hardening's status.
int RTWinInitNative(uint32_t flags);
// The loader hardening alone, for an initialisation that skipped it earlier.
int RTWinInitHardening(uint32_t flags);

// Packed version: major << 52 | (minor & 0xFFF) << 40 | build.
uint64_t RTSystemGetWinVersion(void);
uint8_t RTSystemGetWinProductType(void);
RTWINOSTYPE RTSystemGetWinOsType(void);

constexpr uint64_t RTSystemMakeWinVersion(uint32_t major, uint32_t minor, uint32_t build)
{
    return ((uint64_t)major << 52) | ((uint64_t)(minor & 0xFFF) << 40) | build;
}

// The classification behind RTSystemGetWinOsType, from the record's fields.
RTWINOSTYPE RTSystemClassifyWinVersion(uint32_t platform, uint32_t major, uint32_t minor,
                                       uint32_t build, uint8_t productType);

// What GetVersion's packed answer means (platform is always NT).
struct RTWINVERSIONFIELDS
{
    uint32_t major;
    uint32_t minor;
    uint32_t build;
};
RTWINVERSIONFIELDS RTSystemDecodeGetVersion(uint32_t value);
