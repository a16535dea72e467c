// Between the portable loader and its native half.
#pragma once

#include "kelp/ldr.h"

extern const RTLDROPS g_rtldrNativeOps;

// Loads path (absolute) into *hNative; fills errInfo on failure.
int rtldrNativeLoad(const char *path, uintptr_t *hNative, uint32_t flags, RTERRINFO *errInfo);
// Loads name + suffix from the system directory.
int rtldrNativeLoadSystem(const char *name, const char *suffix, uint32_t flags, RTLDRMOD *mod);

void rtErrInfoClear(RTERRINFO *errInfo);
// Stores rc and the formatted message; returns rc.
int rtErrInfoSet(RTERRINFO *errInfo, int rc, const char *format, ...);
