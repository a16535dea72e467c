// Heap memory. Every allocation comes from the process heap; the tag names the calling
// source file and is ignored on this platform.
#pragma once

#include "kelp/types.h"

void *RTMemAllocTag(size_t size, const char *tag);
void *RTMemAllocZTag(size_t size, const char *tag);
// Like realloc: a null block allocates, a zero size frees and returns null.
void *RTMemReallocTag(void *block, size_t newSize, const char *tag);
void RTMemFree(void *block);

#define RTMemAlloc(cb)          RTMemAllocTag((cb), RT_SRC_TAG)
#define RTMemAllocZ(cb)         RTMemAllocZTag((cb), RT_SRC_TAG)
#define RTMemRealloc(pv, cb)    RTMemReallocTag((pv), (cb), RT_SRC_TAG)
